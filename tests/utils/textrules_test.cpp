// The frame's shared rules for fields, texts, UIDs, comparisons and binding keys.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "frame/bindingregistry.h"
#include "frame/lefields.h"
#include "frame/secure.h"
#include "frame/textrules.h"

namespace zk {
namespace {

TEST(LittleEndianFields, RoundTripAtAnyAlignment) {
  uint8_t buffer[7] = {};
  WriteLE32(buffer + 1, 0x80A1B2C3u);
  EXPECT_EQ(std::vector<uint8_t>(buffer + 1, buffer + 5), (std::vector<uint8_t>{0xC3, 0xB2, 0xA1, 0x80}));
  EXPECT_EQ(ReadLE32(buffer + 1), 0x80A1B2C3u);
  WriteLE16(buffer + 5, 0xFE01);
  EXPECT_EQ(ReadLE16(buffer + 5), 0xFE01);
  EXPECT_EQ(buffer[5], 0x01);
  std::vector<uint8_t> out;
  AppendLE32(out, 0xFFFFFFFFu);
  AppendLE16(out, 0x1234);
  EXPECT_EQ(out, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0x34, 0x12}));
}

TEST(TextRules, UpperCaseTouchesOnlyAsciiLetters) {
  EXPECT_EQ(UpperCase("disk a:\\keys\\z"), "DISK A:\\KEYS\\Z");
  EXPECT_EQ(UpperCase("\xE0\xFF{}`~@["), "\xE0\xFF{}`~@[");  // Windows-1251 letters stay as they are
  EXPECT_EQ(Trim(" \t 5 \r\n"), "5");
  EXPECT_EQ(Trim(" \t\r\n"), "");
}

TEST(TextRules, IntegersAndTimeOuts) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  };
  const Case integers[] = {
      {"0", true, 0},          {" +17 ", true, 17},   {"-5", true, -5},          {"2147483647", true, INT32_MAX},
      {"-2147483648", true, INT32_MIN}, {"2147483648", false, 0}, {"-2147483649", false, 0},
      {"99999999999999999999", false, 0}, {"", false, 0}, {"-", false, 0}, {"+", false, 0},
      {"1 2", false, 0},       {"0x10", false, 0},    {"5s", false, 0},
  };
  for (const Case& c : integers) {
    int32_t value = 12345;
    EXPECT_EQ(ParseInteger32(c.text, value), c.ok) << c.text;
    EXPECT_EQ(value, c.ok ? c.value : 12345) << c.text;  // a refused text leaves the value alone
  }
  int32_t seconds = 0;
  EXPECT_TRUE(ParseTimeout(" \t", 60, seconds));
  EXPECT_EQ(seconds, 60);
  EXPECT_TRUE(ParseTimeout(" 0 ", 60, seconds));
  EXPECT_EQ(seconds, 0);
  EXPECT_FALSE(ParseTimeout("five", 60, seconds));
}

TEST(TextRules, UIDsEndInsideTheDataAndWithinTheLimit) {
  struct Case {
    std::string bytes;
    size_t maxChars;
    bool uid;       // ScanUID
    bool anyText;   // ScanZeroTerminated
    size_t length;
  };
  const std::string z(1, '\0');
  const Case cases[] = {
      {"ABC" + z + "tail", 3, true, true, 3},
      {"ABCD" + z, 3, false, false, 0},  // the zero lies past the limit
      {"ABC", 10, false, false, 0},      // no zero inside the data
      {z + "X", 3, false, true, 0},      // empty: no UID, but an empty text
      {"", 3, false, false, 0},
      {std::string(300, 'U') + z, SIZE_MAX, true, true, 300},
  };
  for (const Case& c : cases) {
    const auto* data = reinterpret_cast<const uint8_t*>(c.bytes.data());
    size_t length = 999;
    EXPECT_EQ(ScanUID(data, c.bytes.size(), c.maxChars, length), c.uid) << c.bytes.size();
    if (c.uid) {
      EXPECT_EQ(length, c.length);
    }
    length = 999;
    EXPECT_EQ(ScanZeroTerminated(data, c.bytes.size(), c.maxChars, length), c.anyText) << c.bytes.size();
    if (c.anyText) {
      EXPECT_EQ(length, c.length);
    }
  }
  size_t length = 0;
  EXPECT_FALSE(ScanUID(nullptr, 10, 5, length));
}

TEST(TextRules, AUIDThatDoesNotFitIsRefusedNotCut) {
  char buffer[6];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_FALSE(WriteUID("ABCDE", buffer, 5));  // needs 6 bytes with its zero
  EXPECT_EQ(buffer[0], '#');
  EXPECT_TRUE(WriteUID("ABCD", buffer, 5));
  EXPECT_STREQ(buffer, "ABCD");
  EXPECT_EQ(buffer[5], '#');
  EXPECT_FALSE(WriteUID("A", nullptr, 5));
  EXPECT_FALSE(WriteUID("", buffer, 0));
}

TEST(ConstantTime, EqualOnlyWhenEveryByteIs) {
  const uint8_t a[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (size_t i = 0; i < sizeof a; ++i) {
    uint8_t b[8];
    std::memcpy(b, a, sizeof a);
    EXPECT_TRUE(ConstantTimeEqual(a, b, sizeof a));
    b[i] ^= 0x80;
    EXPECT_FALSE(ConstantTimeEqual(a, b, sizeof a)) << i;
    EXPECT_TRUE(ConstantTimeEqual(a, b, i));  // only the first i bytes compared
  }
}

TEST(BindingRegistry, DifferentSettingsNeverShareAKey) {
  // Each pair concatenates to the same text.
  EXPECT_NE(BindingKey({"C:\\K\\", "DISK", "C:\\AB\\"}), BindingKey({"C:\\K\\", "", "DISKC:\\AB\\"}));
  EXPECT_NE(BindingKey({"A", "BC"}), BindingKey({"AB", "C"}));
  EXPECT_NE(BindingKey({"1:A", ""}), BindingKey({"", "1:A"}));
  EXPECT_NE(BindingKey({std::string("A\0B", 3)}), BindingKey({"A", "B"}));
  EXPECT_EQ(BindingKey({"A", "B"}), BindingKey({"A", "B"}));
}

TEST(BindingRegistry, OneBindingPerKeyAndNoneWhenCreationFails) {
  TBindingRegistry<int> registry;
  int creations = 0;
  auto make = [&](int32_t code) {
    return [&creations, code](std::shared_ptr<int>& created) {
      ++creations;
      created = std::make_shared<int>(creations);
      return code;
    };
  };
  std::shared_ptr<int> first, again, failed;
  EXPECT_EQ(registry.Fetch("k", make(0), first), 0);
  EXPECT_EQ(registry.Fetch("k", make(0), again), 0);
  EXPECT_EQ(first, again);
  EXPECT_EQ(registry.Fetch("other", make(-30), failed), -30);
  EXPECT_EQ(failed, nullptr);
  EXPECT_EQ(registry.All().size(), 1u);  // the failed one was not kept
  EXPECT_EQ(registry.Fetch("other", make(0), failed), 0);
  EXPECT_EQ(creations, 3);
  registry.Release();
  EXPECT_TRUE(registry.All().empty());
  EXPECT_EQ(*first, 1);  // a binding in use outlives its release from the registry
}

}  // namespace
}  // namespace zk
