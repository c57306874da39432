#include "frame/keytimeouts.h"

#include <atomic>

#include "platform/platform.h"

namespace zk {

namespace {

std::atomic<TKeyTimeouts::Clock> g_clock{&platform::MonotonicMilliseconds};

bool Elapsed(uint64_t since, int32_t seconds, uint64_t now) {
  return now - since > static_cast<uint64_t>(seconds) * 1000u;
}

}  // namespace

void TKeyTimeouts::SetClockForTesting(Clock clock) {
  g_clock.store(clock != nullptr ? clock : &platform::MonotonicMilliseconds);
}

uint64_t TKeyTimeouts::Now() { return g_clock.load()(); }

bool TKeyTimeouts::Expired(int32_t KeyTimeout, int32_t LastOpTimeout, uint64_t Now) const {
  for (int32_t timeout : {KeyTimeout, keyTimeout_}) {
    if (timeout <= 0 || Elapsed(loadTime_, timeout, Now)) return true;
  }
  for (int32_t timeout : {LastOpTimeout, lastOpTimeout_}) {
    if (timeout <= 0 || Elapsed(lastUse_, timeout, Now)) return true;
  }
  return false;
}

void TKeyTimeouts::Loaded(int32_t KeyTimeout, uint64_t Now) {
  keyTimeout_ = KeyTimeout;
  loadTime_ = Now;
}

void TKeyTimeouts::Used(int32_t LastOpTimeout, uint64_t Now) {
  lastOpTimeout_ = LastOpTimeout;
  lastUse_ = Now;
}

}  // namespace zk
