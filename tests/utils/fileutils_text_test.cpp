// Text, list, hexadecimal, date and time helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "frame/fileutils.h"
#include "platform/platform.h"

namespace zk {
namespace {

TEST(IncludeDirDelimiter, DriveLettersAndDirectories) {
  EXPECT_EQ(IncludeDirDelimiter(""), "");
  EXPECT_EQ(IncludeDirDelimiter("C"), "C:\\");
  EXPECT_EQ(IncludeDirDelimiter("z"), "z:\\");
  EXPECT_EQ(IncludeDirDelimiter("C:"), "C:\\");
  EXPECT_EQ(IncludeDirDelimiter("C:\\x"), "C:\\x\\");
  EXPECT_EQ(IncludeDirDelimiter("C:\\x\\"), "C:\\x\\");
  EXPECT_EQ(IncludeDirDelimiter("1"), "1\\");
  EXPECT_EQ(IncludeDirDelimiter("CD"), "CD\\");
}

TEST(IntToStr3, AlwaysThreeCharacters) {
  EXPECT_EQ(IntToStr3(7), "007");
  EXPECT_EQ(IntToStr3(12), "012");
  EXPECT_EQ(IntToStr3(0), "000");
  EXPECT_EQ(IntToStr3(1234), "123");
  EXPECT_EQ(IntToStr3(-5), "0-5");
  EXPECT_EQ(IntToStr3(std::numeric_limits<int32_t>::min()), "-21");
}

TEST(ParseSemicolonList, KeepsEmptyPiecesAndAppends) {
  std::vector<std::string> list{"old"};
  EXPECT_EQ(ParseSemicolonList("a;;b", list), 3);
  EXPECT_EQ(list, (std::vector<std::string>{"old", "a", "", "b"}));
  list.clear();
  EXPECT_EQ(ParseSemicolonList("a;", list), 2);
  EXPECT_EQ(list, (std::vector<std::string>{"a", ""}));
  list.clear();
  EXPECT_EQ(ParseSemicolonList(" x ;", list), 2);
  EXPECT_EQ(list.front(), " x ");
  list.clear();
  EXPECT_EQ(ParseSemicolonList("", list), 0);
  EXPECT_EQ(ParseSemicolonList(nullptr, list), 0);
  EXPECT_TRUE(list.empty());
}

TEST(BytesToHex, GroupsThenLineBreaks) {
  const uint8_t data[] = {0x0A, 0xFF, 0x10, 0x00, 0x7B};
  EXPECT_EQ(BytesToHex(data, 5, 2, 4), "0AFF 1000 \r\n7B");
  EXPECT_EQ(BytesToHex(data, 5, 0, 0), "0AFF10007B");
  EXPECT_EQ(BytesToHex(data, 2, 255, 255), "0AFF");
  EXPECT_EQ(BytesToHex(nullptr, 5, 2, 4), "");
  EXPECT_EQ(BytesToHex(data, -1, 2, 4), "");
  EXPECT_EQ(BytesToHexReversed(data, 3), "10FF0A");
}

TEST(HexToBytes, ConvertsEitherCase) {
  uint8_t buffer[4] = {};
  int32_t size = 4;
  ASSERT_TRUE(HexToBytes("0aFf7B", buffer, size));
  EXPECT_EQ(size, 3);
  EXPECT_EQ(buffer[0], 0x0A);
  EXPECT_EQ(buffer[1], 0xFF);
  EXPECT_EQ(buffer[2], 0x7B);
  size = 4;
  ASSERT_TRUE(HexToBytesReversed("010203", buffer, size));
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 3), (std::vector<uint8_t>{3, 2, 1}));
}

TEST(HexToBytes, RefusalsWriteNothing) {
  uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  const std::vector<uint8_t> untouched(4, 0xEE);
  int32_t size = 4;
  EXPECT_FALSE(HexToBytes("abc", buffer, size));
  EXPECT_EQ(size, 4);
  size = 1;
  EXPECT_FALSE(HexToBytes("0102", buffer, size));
  EXPECT_FALSE(HexToBytesReversed("0102", buffer, size));
  size = -1;
  EXPECT_FALSE(HexToBytes("01", buffer, size));
  size = 4;
  EXPECT_FALSE(HexToBytes("01zz", buffer, size));
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), untouched);

  size = 0;
  EXPECT_FALSE(HexToBytes("010203", nullptr, size));
  EXPECT_EQ(size, 3);  // the size a caller must provide
}

TEST(CertCachePath, OneDirectoryLevelPerCharacterAfterTheDot) {
  EXPECT_EQ(CertCachePath("1A2B.345", "C:\\Certs\\"), "C:\\Certs\\1A2B\\@\\3\\4\\5.crt");
  EXPECT_EQ(CertCachePath("H.0", "A:\\crt\\"), "A:\\crt\\H\\@\\0.crt");
  EXPECT_EQ(CertCachePath("AB.1.2", "D\\"), "D\\AB\\@\\1\\.\\2.crt");
}

TEST(CertCachePath, EmptyWhenNoSoundPathExists) {
  for (const char* name : {"", "AB", "AB.", ".12", "a\\b.1", "c:x.1", "x.1/2"}) {
    EXPECT_EQ(CertCachePath(name, "C:\\Certs\\"), "") << name;
  }
  EXPECT_EQ(CertCachePath("AB.1", ""), "");
}

TEST(ConvertCertDate, DayMonthShortYearAndTime) {
  EXPECT_EQ(ConvertCertDate("Jan  5 12:34:56 2024 GMT"), "05-01-24 12:34:56");
  EXPECT_EQ(ConvertCertDate("Dec 31 23:59:59 1999 GMT"), "31-12-99 23:59:59");
  EXPECT_EQ(ConvertCertDate("Oct 10 01:02:03 2010"), "10-10-10 01:02:03");
}

TEST(ConvertCertDate, UnreadablePartsFallBackToFirst) {
  EXPECT_EQ(ConvertCertDate("Xyz 99 12:34:56 2024"), "01-01-24 12:34:56");
  EXPECT_EQ(ConvertCertDate("anF 07 12:34:56 2024"), "07-01-24 12:34:56");  // not a month at a month boundary
  EXPECT_EQ(ConvertCertDate("Mar"), "01-03- ");
  EXPECT_EQ(ConvertCertDate(""), "01-01- ");
}

TEST(SwappedWideToString, SwapsInPlaceAndConvertsWholeUnits) {
  uint8_t data[] = {0x00, 'A', 0x04, 0x10, 0x00, 'b', 0x7F};
  EXPECT_EQ(SwappedWideToString(data, 7), "A\xC0" "b");  // U+0410 is 0xC0 in Windows-1251
  EXPECT_EQ(std::vector<uint8_t>(data, data + 7), (std::vector<uint8_t>{'A', 0x00, 0x10, 0x04, 'b', 0x00, 0x7F}));
  EXPECT_EQ(SwappedWideToString(nullptr, 4), "");
  EXPECT_EQ(SwappedWideToString(data, -2), "");
}

TEST(UnixTimeToFileTime, ScalesAndSaturates) {
  EXPECT_EQ(UnixTimeToFileTime(0), 116444736000000000ULL);
  EXPECT_EQ(UnixTimeToFileTime(1), 116444736010000000ULL);
  EXPECT_EQ(UnixTimeToFileTime(-11644473600LL), 0u);
  EXPECT_EQ(UnixTimeToFileTime(std::numeric_limits<int64_t>::min()), 0u);
  const auto largest = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  EXPECT_EQ(UnixTimeToFileTime(std::numeric_limits<int64_t>::max()), largest);
}

TEST(TimeoutElapsed, ComparesWholeDateTimes) {
  const double now = platform::Now();
  EXPECT_FALSE(TimeoutElapsed(60, now));
  EXPECT_FALSE(TimeoutElapsed(60, now - 30 * kOneSecond));
  EXPECT_TRUE(TimeoutElapsed(60, now - 120 * kOneSecond));
  // Same time of day, one day apart: a day has passed, not nothing.
  EXPECT_TRUE(TimeoutElapsed(60, now - 1.0));
  EXPECT_TRUE(TimeoutElapsed(60, now + 1.0));  // the clock was set back
  EXPECT_TRUE(TimeoutElapsed(60, std::nan("")));
  EXPECT_TRUE(TimeoutElapsed(-1, now - 10 * kOneSecond));
}

}  // namespace
}  // namespace zk

// UIDs become file names of correspondents' keys; none may leave the directory or name a device.
TEST(IsPlainFileName, RefusesEverythingThatIsNotOneNameInTheDirectory) {
  EXPECT_TRUE(zk::IsPlainFileName("Bank client A"));
  EXPECT_TRUE(zk::IsPlainFileName("a.b"));
  EXPECT_TRUE(zk::IsPlainFileName("\xCF\xF0\xE8\xEC\xE5\xF0"));  // Windows-1251 letters
  for (const char* bad : {"", ".", "..", "..\\x", "../x", "a/b", "a\\b", "C:x", "a*", "a?", "a\"", "a<", "a>", "a|",
                          "trailing.", "trailing ", "tab\there"}) {
    EXPECT_FALSE(zk::IsPlainFileName(bad)) << bad;
  }
}
