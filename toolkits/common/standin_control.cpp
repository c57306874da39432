#include "standin.h"

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

namespace standin {
namespace {

struct Script {
  long calls = 0;
  // Codes of the coming calls in order; 0 means "go on".
  std::deque<int> answers;
};

std::mutex& Lock() {
  static std::mutex* lock = new std::mutex;  // never destroyed: exports may run during unload
  return *lock;
}

std::map<std::string, Script>& Scripts() {
  static auto* scripts = new std::map<std::string, Script>;
  return *scripts;
}

bool ReadInt(std::istringstream& in, long& value) {
  std::string word;
  if (!(in >> word)) return false;
  char* end = nullptr;
  value = std::strtol(word.c_str(), &end, 10);
  return end != word.c_str() && *end == '\0';
}

int Apply(const std::string& verb, std::istringstream& in) {
  if (verb == "reset") {
    Scripts().clear();
    return 0;
  }
  std::string function;
  if (!(in >> function)) return -1;
  Script& script = Scripts()[function];
  if (verb == "calls") return static_cast<int>(script.calls);
  long a = 0, b = 0;
  if (!ReadInt(in, a) || !ReadInt(in, b)) return -1;
  if (verb == "answer") {  // code a, n = b times
    if (b < 0 || b > 100000) return -1;
    script.answers.assign(static_cast<size_t>(b), static_cast<int>(a));
    return 0;
  }
  if (verb == "fail") {  // the a-th call answers code b
    if (a < 1 || a > 100000 || b == 0) return -1;
    if (script.answers.size() < static_cast<size_t>(a)) script.answers.resize(static_cast<size_t>(a), 0);
    script.answers[static_cast<size_t>(a - 1)] = static_cast<int>(b);
    return 0;
  }
  return -1;
}

}  // namespace

int Hook(const char* function) {
  std::lock_guard<std::mutex> guard(Lock());
  Script& script = Scripts()[function];
  ++script.calls;
  if (script.answers.empty()) return 0;
  int code = script.answers.front();
  script.answers.pop_front();
  return code;
}

int Control(const char* command) {
  if (command == nullptr) return -1;
  std::istringstream in(command);
  std::string verb;
  if (!(in >> verb)) return -1;
  std::lock_guard<std::mutex> guard(Lock());
  int result = Apply(verb, in);
  std::string rest;
  return (result >= 0 && (in >> rest)) ? -1 : result;  // trailing words: not understood
}

}  // namespace standin
