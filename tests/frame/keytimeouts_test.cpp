#include <gtest/gtest.h>

#include "frame/keytimeouts.h"

namespace {

using zk::TKeyTimeouts;

constexpr uint64_t kSecond = 1000;
constexpr uint64_t kStart = 1000000 * kSecond;

TKeyTimeouts ReadAndUsed(int32_t keyTimeout, int32_t lastOpTimeout) {
  TKeyTimeouts t;
  t.Loaded(keyTimeout, kStart);
  t.Used(lastOpTimeout, kStart);
  return t;
}

TEST(KeyTimeouts, AKeyIsKeptOnlyWhileBothTimeOutsAllowIt) {
  const TKeyTimeouts t = ReadAndUsed(60, 5);
  EXPECT_FALSE(t.Expired(60, 5, kStart));
  EXPECT_FALSE(t.Expired(60, 5, kStart + 5 * kSecond));  // the limits themselves still count
  EXPECT_TRUE(t.Expired(60, 5, kStart + 5 * kSecond + 1));
  TKeyTimeouts used = t;
  used.Used(5, kStart + 58 * kSecond);
  EXPECT_FALSE(used.Expired(60, 5, kStart + 60 * kSecond));
  EXPECT_TRUE(used.Expired(60, 5, kStart + 60 * kSecond + 1));  // read too long ago, though used lately
}

TEST(KeyTimeouts, ZeroOrNegativeMeansReadForEveryOperation) {
  for (int32_t zero : {0, -1}) {
    EXPECT_TRUE(ReadAndUsed(60, 5).Expired(zero, 5, kStart)) << zero;
    EXPECT_TRUE(ReadAndUsed(60, 5).Expired(60, zero, kStart)) << zero;
    EXPECT_TRUE(ReadAndUsed(zero, 5).Expired(60, 5, kStart)) << zero;
    EXPECT_TRUE(ReadAndUsed(60, zero).Expired(60, 5, kStart)) << zero;
  }
}

TEST(KeyTimeouts, TimeOutsInForceWhenTheKeyWasReadStillApply) {
  // Read under a 10-second limit, asked later with a generous one: the stricter stored one wins.
  const TKeyTimeouts t = ReadAndUsed(10, 10);
  EXPECT_TRUE(t.Expired(3600, 3600, kStart + 11 * kSecond));
  EXPECT_FALSE(t.Expired(3600, 3600, kStart + 10 * kSecond));
}

TEST(KeyTimeouts, AClockBehindTheStoredTimesOrAResetKeyCountsAsExpired) {
  EXPECT_TRUE(ReadAndUsed(60, 5).Expired(60, 5, kStart - 1));
  TKeyTimeouts t = ReadAndUsed(60, 5);
  t.Reset();
  EXPECT_TRUE(t.Expired(60, 5, kStart));
}

uint64_t FixedClock() { return 42; }

TEST(KeyTimeouts, TheClockCanBeReplacedAndRestored) {
  TKeyTimeouts::SetClockForTesting(&FixedClock);
  EXPECT_EQ(TKeyTimeouts::Now(), 42u);
  TKeyTimeouts::SetClockForTesting(nullptr);
  const uint64_t a = TKeyTimeouts::Now(), b = TKeyTimeouts::Now();
  EXPECT_LE(a, b);
  EXPECT_NE(a, 42u);
}

}  // namespace
