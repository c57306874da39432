// Date-time values, clocks, thread ids and the process environment.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <thread>

#include "platform/calendar.h"
#include "platform/platform.h"

namespace zk::platform {
namespace {

TEST(CalendarTest, KnownDatesCountFrom1899December30) {
  EXPECT_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0, 0), 0.0);
  EXPECT_EQ(EncodeDateTime(1900, 1, 1, 0, 0, 0, 0), 2.0);
  EXPECT_EQ(EncodeDateTime(1970, 1, 1, 0, 0, 0, 0), 25569.0);
  EXPECT_EQ(EncodeDateTime(2000, 1, 1, 0, 0, 0, 0), 36526.0);
  EXPECT_EQ(EncodeDateTime(2024, 3, 1, 0, 0, 0, 0) - EncodeDateTime(2024, 2, 28, 0, 0, 0, 0), 2.0);
  EXPECT_EQ(EncodeDateTime(2100, 3, 1, 0, 0, 0, 0) - EncodeDateTime(2100, 2, 28, 0, 0, 0, 0), 1.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1, 18, 0, 0, 0), 36526.75);
}

int CompareDates(const std::tm& a, const std::tm& b) {
  if (a.tm_year != b.tm_year) return a.tm_year < b.tm_year ? -1 : 1;
  if (a.tm_yday != b.tm_yday) return a.tm_yday < b.tm_yday ? -1 : 1;
  return 0;
}

// Now against the C library's clock: the local date is the UTC day count from 1970 shifted by
// at most one day, and the fraction is the local time of day.
TEST(NowTest, MatchesTheLocalCalendarDateAndTime) {
  std::time_t before;
  double now;
  std::time_t after;
  do {
    before = std::time(nullptr);
    now = Now();
    after = std::time(nullptr);
  } while (before != after);
  const std::tm local = *std::localtime(&before);
  const std::tm utc = *std::gmtime(&before);
  const double utcDays = std::floor(static_cast<double>(before) / 86400.0) + 25569.0;
  EXPECT_EQ(std::floor(now), utcDays + CompareDates(local, utc));
  const double seconds = (now - std::floor(now)) * 86400.0;
  const double expected = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
  EXPECT_GE(seconds, expected - 0.01);
  EXPECT_LT(seconds, expected + 1.01);
}

TEST(ClockTest, MonotonicClockAdvancesAcrossSleep) {
  const uint64_t start = MonotonicMilliseconds();
  SleepMilliseconds(60);
  const uint64_t end = MonotonicMilliseconds();
  EXPECT_GE(end, start + 40);  // coarse tick granularity on Windows
  EXPECT_GE(MonotonicMilliseconds(), end);
}

TEST(ThreadIdTest, DistinctPerThreadAndStable) {
  const uint32_t own = CurrentThreadId();
  EXPECT_NE(own, 0u);
  EXPECT_EQ(CurrentThreadId(), own);
  uint32_t other = 0;
  std::thread([&] { other = CurrentThreadId(); }).join();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, own);
}

TEST(EnvTest, SetGetAndAbsence) {
  const std::string name = "ZK_PLATFORM_TEST_VAR";
  std::string value = "untouched";
  EXPECT_FALSE(GetEnv(name + "_ABSENT", value));
  EXPECT_EQ(value, "untouched");

  ASSERT_TRUE(SetEnv(name, "C:\\Bank\\USER\\;C:\\Bank\\EXE\\"));
  ASSERT_TRUE(GetEnv(name, value));
  EXPECT_EQ(value, "C:\\Bank\\USER\\;C:\\Bank\\EXE\\");

  const std::string longValue(5000, 'p');  // beyond any first guess of a buffer size
  ASSERT_TRUE(SetEnv(name, longValue));
  ASSERT_TRUE(GetEnv(name, value));
  EXPECT_EQ(value, longValue);

  ASSERT_TRUE(SetEnv(name, ""));
  value = "stale";
  EXPECT_TRUE(GetEnv(name, value));
  EXPECT_EQ(value, "");

  EXPECT_FALSE(SetEnv("", "x"));
  EXPECT_FALSE(SetEnv("A=B", "x"));
}

}  // namespace
}  // namespace zk::platform
