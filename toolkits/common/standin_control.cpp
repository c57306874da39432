#include "standin.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <sstream>
#include <string>
#include <vector>

namespace standin {
namespace {

struct Script {
  std::atomic<long> calls{0};  // counted under the shared lock
  // Codes of the coming calls in order; 0 means "go on". Changed under the exclusive lock only.
  std::deque<int> answers;
};

// Shared by the hooks of calls that find their function's entry with nothing scripted (almost
// every call), so that engines on several threads do not take turns in every toolkit call;
// exclusive for everything that changes the maps.
std::shared_mutex& Lock() {
  static Immortal<std::shared_mutex> lock;
  return lock.get();
}

// Looked up by the hook's plain function name, without building a string.
using ScriptMap = std::map<std::string, Script, std::less<>>;

ScriptMap& Scripts() {
  static Immortal<ScriptMap> scripts;
  return scripts.get();
}

// Detached devices by upper-cased name: how many presence queries still find the device absent,
// or -1 for "until attached".
std::map<std::string, long>& Detached() {
  static Immortal<std::map<std::string, long>> detached;
  return detached.get();
}

std::string DeviceKey(std::string device) {
  for (char& c : device) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return device;
}

// At unload the scripts and counts go; the map itself stays usable for a late call.
struct ReleaseAtUnload {
  ~ReleaseAtUnload() {
    std::lock_guard<std::shared_mutex> guard(Lock());
    Scripts().clear();
    Detached().clear();
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
    Detached().clear();
    return 0;
  }
  if (verb == "calls" && words.size() == 2) return static_cast<int>(Scripts()[words[1]].calls.load());
  if (verb == "attach" && words.size() == 2) {
    Detached().erase(DeviceKey(words[1]));
    return 0;
  }
  long n = -1;
  if (verb == "detach" && (words.size() == 2 || (words.size() == 3 && ToInt(words[2], n) && n >= 1))) {
    Detached()[DeviceKey(words[1])] = n;
    return 0;
  }
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
  bool counted = false;
  {
    std::shared_lock<std::shared_mutex> reading(Lock());
    const auto found = Scripts().find(function);
    if (found != Scripts().end()) {
      ++found->second.calls;
      if (found->second.answers.empty()) return 0;
      counted = true;
    }
  }
  // The function's first call, or a scripted answer to take: both change the map.
  std::lock_guard<std::shared_mutex> writing(Lock());
  Script& script = Scripts()[function];
  if (!counted) ++script.calls;
  if (script.answers.empty()) return 0;
  int code = script.answers.front();
  script.answers.pop_front();
  return code;
}

bool DeviceAttached(const char* device) {
  if (device == nullptr) return false;
  std::lock_guard<std::shared_mutex> guard(Lock());
  const auto it = Detached().find(DeviceKey(device));
  if (it == Detached().end()) return true;
  if (it->second > 0 && --it->second == 0) Detached().erase(it);
  return false;
}

int Control(const char* command) {
  if (command == nullptr) return -1;
  std::istringstream in(command);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  if (words.empty()) return -1;
  std::lock_guard<std::shared_mutex> guard(Lock());
  return Apply(words);
}

}  // namespace standin
