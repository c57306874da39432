#include "frame/devicewait.h"

#include <atomic>

#include "frame/keytimeouts.h"
#include "platform/platform.h"

namespace zk {

namespace {

std::atomic<TDeviceWait::Sleep> g_sleep{&platform::SleepMilliseconds};

// Closes the host's prompt on every way out once it was opened.
class TPrompt {
 public:
  explicit TPrompt(ZkTMRequestFunc func) : func_(func) {}
  ~TPrompt() {
    if (shown_) func_(1);
  }
  TPrompt(const TPrompt&) = delete;
  TPrompt& operator=(const TPrompt&) = delete;

  bool Available() const { return func_ != nullptr; }
  // Opens the prompt the first time; true when it opened now.
  bool Show() {
    if (shown_ || func_ == nullptr) return false;
    func_(0);
    shown_ = true;
    return true;
  }

 private:
  ZkTMRequestFunc func_;
  bool shown_ = false;
};

}  // namespace

void TDeviceWait::SetSleepForTesting(Sleep sleep) {
  g_sleep.store(sleep != nullptr ? sleep : &platform::SleepMilliseconds);
}

int32_t TDeviceWait::Run(const TDeviceWaitOptions& Options, const std::function<int32_t()>& Call,
                         const std::function<bool(int32_t)>& DeviceAbsent) {
  TPrompt prompt(Options.TMRequestFunc);
  // A negative time-out would wrap into an endless wait.
  const uint64_t window = static_cast<uint64_t>(Options.WindowTimeout > 0 ? Options.WindowTimeout : 0) * 1000u;
  uint64_t start = TKeyTimeouts::Now();
  for (;;) {
    const int32_t result = Call();
    if (!DeviceAbsent(result)) return result;
    if (!prompt.Available() && !Options.PollWithoutCallback) return result;
    if (prompt.Show()) start = TKeyTimeouts::Now();
    if (TKeyTimeouts::Now() - start > window) return result;
    g_sleep.load()(kPollMilliseconds);
  }
}

}  // namespace zk
