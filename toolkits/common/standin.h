// What every stand-in toolkit shares: the scripted behaviour that tests drive through the control
// entry, and the bookkeeping of calls.
//
// Control commands (one per call of the stand-in's StandIn_Control export; answers -1 when a
// command is not understood):
//   "reset"                       forget every script and every call count; answers 0
//   "answer <function> <code> <n>" the next n calls of <function> answer <code>; answers 0
//   "fail <function> <k> <code>"  the k-th call of <function> from now answers <code>; answers 0
//   "calls <function>"            answers how often <function> was called since the last reset
//   "detach <device>"             the key device (touch memory, smart card) counts as absent until
//                                 attached again; answers 0
//   "detach <device> <n>"         absent for the next n presence queries, then attached; answers 0
//   "attach <device>"             the device is present again (every device is, until detached)
// Device names ignore case ("TM:COM1" is "tm:com1").
// How a code is answered is the toolkit's own: a status return, or a failure value with the
// toolkit's last error set.
#pragma once

#include <cstddef>
#include <ctime>
#include <new>
#include <utility>

namespace standin {

// Process-lifetime state of a stand-in, kept in the module's own storage and never destroyed: a
// host's finalisation may still call exports while the process unloads, and once the module is
// unloaded nothing of it is left on the heap (what T owns is released at unload by its owner).
template <typename T>
class Immortal {
 public:
  template <typename... Args>
  explicit Immortal(Args&&... args) {
    new (storage_) T(std::forward<Args>(args)...);
  }
  T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

// Called first by every export. Counts the call and answers 0 to go on, or the scripted code.
int Hook(const char* function);
int Control(const char* command);
// True when the key device is attached; counts as one presence query (see "detach <device> <n>").
bool DeviceAttached(const char* device);

// The UTC calendar fields of a time, on either system (gmtime is not thread-safe).
inline std::tm UtcCalendar(std::time_t t) {
  std::tm tm{};
#if defined(_WIN32)
  gmtime_s(&tm, &t);
#else
  gmtime_r(&t, &tm);
#endif
  return tm;
}

}  // namespace standin

#if defined(_WIN32)
#define STANDIN_EXPORT extern "C"
#else
#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif
