// The key-device wait on a scripted clock: the pause advances time, so no test sleeps.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "frame/devicewait.h"
#include "frame/keytimeouts.h"

namespace {

using zk::TDeviceWait;
using zk::TDeviceWaitOptions;
using zk::TKeyTimeouts;

constexpr int32_t kAbsent = 92;
uint64_t g_now = 0;
std::vector<int32_t> g_states;
std::vector<uint64_t> g_callTimes;

uint64_t FakeClock() { return g_now; }
void FakeSleep(uint32_t ms) { g_now += ms; }
void ZK_STDCALL RecordState(int32_t state) { g_states.push_back(state); }

class DeviceWaitTest : public testing::Test {
 protected:
  void SetUp() override {
    g_now = 1000000;
    g_states.clear();
    g_callTimes.clear();
    TKeyTimeouts::SetClockForTesting(&FakeClock);
    TDeviceWait::SetSleepForTesting(&FakeSleep);
  }
  void TearDown() override {
    TKeyTimeouts::SetClockForTesting(nullptr);
    TDeviceWait::SetSleepForTesting(nullptr);
  }
};

struct Case {
  const char* name;
  std::vector<int32_t> answers;  // the last one repeats
  bool callback;
  bool pollWithoutCallback;
  int32_t timeout;
  uint64_t firstCallTakes;  // ms the first call itself lasts
  int32_t result;
  size_t calls;
  std::vector<int32_t> states;
};

TEST_F(DeviceWaitTest, PromptsOnceAndPollsEveryHalfSecondUntilTheDeviceOrTheTimeOut) {
  const Case cases[] = {
      {"present at once", {0}, true, false, 5, 0, 0, 1, {}},
      {"attached on the third poll", {kAbsent, kAbsent, 0}, true, false, 5, 0, 0, 3, {0, 1}},
      {"another failure ends the wait", {kAbsent, -7}, true, false, 5, 0, -7, 2, {0, 1}},
      // Calls at 0, 500, 1000 and 1500 ms; the last one is past the 1 s window.
      {"never attached", {kAbsent}, true, false, 1, 0, kAbsent, 4, {0, 1}},
      {"zero time-out retries once", {kAbsent}, true, false, 0, 0, kAbsent, 2, {0, 1}},
      {"negative time-out does not wait for ever", {kAbsent}, true, false, -1, 0, kAbsent, 2, {0, 1}},
      {"no callback answers at once", {kAbsent}, false, false, 5, 0, kAbsent, 1, {}},
      {"no callback polls silently", {kAbsent}, false, true, 2, 0, kAbsent, 6, {}},
      {"no callback, attached later", {kAbsent, 0}, false, true, 2, 0, 0, 2, {}},
      // The window counts from the prompt, not from the start of a slow first call.
      {"window starts at the prompt", {kAbsent}, true, false, 1, 3000, kAbsent, 4, {0, 1}},
  };
  for (const Case& c : cases) {
    SetUp();
    size_t calls = 0;
    TDeviceWaitOptions options;
    options.TMRequestFunc = c.callback ? &RecordState : nullptr;
    options.WindowTimeout = c.timeout;
    options.PollWithoutCallback = c.pollWithoutCallback;
    const int32_t result = TDeviceWait::Run(
        options,
        [&] {
          g_callTimes.push_back(g_now);
          if (calls == 0) g_now += c.firstCallTakes;
          const int32_t answer = c.answers[std::min(calls, c.answers.size() - 1)];
          ++calls;
          return answer;
        },
        [](int32_t r) { return r == kAbsent; });
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(calls, c.calls) << c.name;
    EXPECT_EQ(g_states, c.states) << c.name;
    for (size_t i = 1; i < g_callTimes.size(); ++i) {
      EXPECT_EQ(g_callTimes[i] - g_callTimes[i - 1], (i == 1 ? c.firstCallTakes : 0) + 500) << c.name;
    }
  }
}

TEST_F(DeviceWaitTest, AnExceptionFromTheCallStillClosesThePrompt) {
  TDeviceWaitOptions options;
  options.TMRequestFunc = &RecordState;
  int calls = 0;
  EXPECT_THROW(TDeviceWait::Run(
                   options,
                   [&]() -> int32_t {
                     if (++calls == 2) throw std::runtime_error("toolkit fault");
                     return kAbsent;
                   },
                   [](int32_t r) { return r == kAbsent; }),
               std::runtime_error);
  EXPECT_EQ(g_states, (std::vector<int32_t>{0, 1}));
}

}  // namespace
