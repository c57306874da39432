#include "standin.h"

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace standin {
namespace {

struct Script {
  long calls = 0;
  // Codes of the coming calls in order; 0 means "go on".
  std::deque<int> answers;
};

std::mutex& Lock() {
  static Immortal<std::mutex> lock;
  return lock.get();
}

std::map<std::string, Script>& Scripts() {
  static Immortal<std::map<std::string, Script>> scripts;
  return scripts.get();
}

// At unload the scripts and counts go; the map itself stays usable for a late call.
struct ReleaseAtUnload {
  ~ReleaseAtUnload() {
    std::lock_guard<std::mutex> guard(Lock());
    Scripts().clear();
  }
} releaseAtUnload;

bool ToInt(const std::string& word, long& value) {
  char* end = nullptr;
  value = std::strtol(word.c_str(), &end, 10);
  return !word.empty() && *end == '\0';
}

// Words are checked in full before anything changes, so a malformed command has no effect.
int Apply(const std::vector<std::string>& words) {
  const std::string& verb = words[0];
  if (verb == "reset" && words.size() == 1) {
    Scripts().clear();
    return 0;
  }
  if (verb == "calls" && words.size() == 2) return static_cast<int>(Scripts()[words[1]].calls);
  long a = 0, b = 0;
  if (words.size() != 4 || !ToInt(words[2], a) || !ToInt(words[3], b)) return -1;
  if (verb == "answer" && b >= 0 && b <= 100000) {  // code a, n = b times
    Scripts()[words[1]].answers.assign(static_cast<size_t>(b), static_cast<int>(a));
    return 0;
  }
  if (verb == "fail" && a >= 1 && a <= 100000 && b != 0) {  // the a-th call answers code b
    std::deque<int>& answers = Scripts()[words[1]].answers;
    if (answers.size() < static_cast<size_t>(a)) answers.resize(static_cast<size_t>(a), 0);
    answers[static_cast<size_t>(a - 1)] = static_cast<int>(b);
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
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  if (words.empty()) return -1;
  std::lock_guard<std::mutex> guard(Lock());
  return Apply(words);
}

}  // namespace standin
