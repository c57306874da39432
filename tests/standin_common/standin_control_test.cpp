#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "standin.h"

namespace {

class StandInControl : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(standin::Control("reset"), 0); }
};

TEST_F(StandInControl, UnscriptedCallsGoOnAndAreCounted) {
  EXPECT_EQ(standin::Hook("Sign"), 0);
  EXPECT_EQ(standin::Hook("Sign"), 0);
  EXPECT_EQ(standin::Hook("Verify"), 0);
  EXPECT_EQ(standin::Control("calls Sign"), 2);
  EXPECT_EQ(standin::Control("calls Verify"), 1);
  EXPECT_EQ(standin::Control("calls Never"), 0);
  ASSERT_EQ(standin::Control("reset"), 0);
  EXPECT_EQ(standin::Control("calls Sign"), 0);
}

TEST_F(StandInControl, AnswerRepeatsACodeForExactlyNCalls) {
  ASSERT_EQ(standin::Control("answer Read 57 2"), 0);
  EXPECT_EQ(standin::Hook("Read"), 57);
  EXPECT_EQ(standin::Hook("Other"), 0);  // scripts are per function
  EXPECT_EQ(standin::Hook("Read"), 57);
  EXPECT_EQ(standin::Hook("Read"), 0);
  EXPECT_EQ(standin::Control("calls Read"), 3);
}

TEST_F(StandInControl, FailHitsOnlyTheKthCallFromNow) {
  EXPECT_EQ(standin::Hook("Open"), 0);  // calls before the script do not count towards k
  ASSERT_EQ(standin::Control("fail Open 3 -8"), 0);
  EXPECT_EQ(standin::Hook("Open"), 0);
  EXPECT_EQ(standin::Hook("Open"), 0);
  EXPECT_EQ(standin::Hook("Open"), -8);
  EXPECT_EQ(standin::Hook("Open"), 0);
}

TEST_F(StandInControl, FailInsideAnAnswerRunReplacesThatOneCall) {
  ASSERT_EQ(standin::Control("answer Busy 29 3"), 0);
  ASSERT_EQ(standin::Control("fail Busy 2 4"), 0);
  EXPECT_EQ(standin::Hook("Busy"), 29);
  EXPECT_EQ(standin::Hook("Busy"), 4);
  EXPECT_EQ(standin::Hook("Busy"), 29);
  EXPECT_EQ(standin::Hook("Busy"), 0);
}

TEST_F(StandInControl, MalformedCommandsAreRefusedAndChangeNothing) {
  for (const char* bad : {"", "   ", "jump", "answer", "answer F", "answer F 5", "answer F x 1", "answer F 5 -1",
                          "answer F 5 1x", "fail F 0 5", "fail F 2 0", "fail F -1 5", "calls", "reset now",
                          "answer F 5 1 extra"}) {
    EXPECT_EQ(standin::Control(bad), -1) << "'" << bad << "'";
  }
  EXPECT_EQ(standin::Control(nullptr), -1);
  EXPECT_EQ(standin::Hook("F"), 0);
}

TEST_F(StandInControl, ConcurrentCallsAreAllCountedAndEachScriptedCodeIsAnsweredOnce) {
  ASSERT_EQ(standin::Control("answer Rand 63 1000"), 0);
  std::atomic<int> scripted{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) scripted += standin::Hook("Rand") == 63;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(scripted.load(), 1000);
  EXPECT_EQ(standin::Control("calls Rand"), 2000);
}

}  // namespace
