// Waiting for a key device (touch memory, smart card) while the user attaches it: the toolkit
// call is repeated every 500 ms until it no longer reports the device absent or the window
// time-out passes. The host's touch-memory callback is told State 0 once, when the wait starts,
// and State 1 once on every way out (an exception from the call included).
#pragma once

#include <cstdint>
#include <functional>

#include "zk_mint.h"

namespace zk {

struct TDeviceWaitOptions {
  // The host's touch-memory callback; may be null.
  ZkTMRequestFunc TMRequestFunc = nullptr;
  // Seconds, counted from the State 0 prompt (from the start when no prompt is shown); a
  // time-out of 0 or less still retries once after one pause.
  int32_t WindowTimeout = 5;
  // Without a callback: false answers the first "absent" result at once, true keeps polling
  // silently until the time-out.
  bool PollWithoutCallback = false;
};

class TDeviceWait {
 public:
  static constexpr uint32_t kPollMilliseconds = 500;
  using Sleep = void (*)(uint32_t Milliseconds);
  // Replaces the pause between two calls (null restores the real one); the clock is that of
  // TKeyTimeouts, replaceable with TKeyTimeouts::SetClockForTesting.
  static void SetSleepForTesting(Sleep sleep);

  // Runs Call until DeviceAbsent(result) is false or the wait ends; returns the last result.
  static int32_t Run(const TDeviceWaitOptions& Options, const std::function<int32_t()>& Call,
                     const std::function<bool(int32_t)>& DeviceAbsent);
};

}  // namespace zk
