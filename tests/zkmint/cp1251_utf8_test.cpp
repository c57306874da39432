// The host's own Windows-1251 decoder, checked byte for byte against the C library's iconv where
// there is one, and the cutting of UTF-8 texts for the demo table.
#include <gtest/gtest.h>

#include <string>

#include "cp1251_utf8.h"

#if !defined(_WIN32)
#include <iconv.h>
#endif

namespace {

using zkmint::Cp1251ToUtf8;
using zkmint::Utf8Prefix;

#if !defined(_WIN32)
// iconv's view of one byte; empty when iconv has no character for it.
std::string IconvUtf8(unsigned char byte) {
  iconv_t cd = iconv_open("UTF-8", "CP1251");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "unavailable";
  char in[1] = {static_cast<char>(byte)};
  char out[8] = {};
  char* inPtr = in;
  char* outPtr = out;
  size_t inLeft = 1, outLeft = sizeof out;
  size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  return done == static_cast<size_t>(-1) ? "" : std::string(out, sizeof out - outLeft);
}

TEST(Cp1251ToUtf8, AgreesWithIconvOnEveryAssignedByte) {
  ASSERT_NE(IconvUtf8('A'), "unavailable");
  for (int byte = 0; byte < 256; ++byte) {
    std::string expected = IconvUtf8(static_cast<unsigned char>(byte));
    if (expected.empty()) continue;  // the unassigned byte, below
    EXPECT_EQ(Cp1251ToUtf8(std::string(1, static_cast<char>(byte))), expected) << "byte 0x" << std::hex << byte;
  }
}
#endif

TEST(Cp1251ToUtf8, UnassignedByteBecomesReplacementCharacterAndNulIsKept) {
  EXPECT_EQ(Cp1251ToUtf8(std::string("\x98", 1)), "\xEF\xBF\xBD");
  EXPECT_EQ(Cp1251ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Cp1251ToUtf8, ConvertsARussianMessage) {
  // "Ошибка" in Windows-1251.
  EXPECT_EQ(Cp1251ToUtf8("\xCE\xF8\xE8\xE1\xEA\xE0"), "Ошибка");
}

TEST(Utf8Prefix, CountsCharactersNotBytesAndMarksOnlyACut) {
  EXPECT_EQ(Utf8Prefix("Ошибка", 3), "Оши...");
  EXPECT_EQ(Utf8Prefix("Ошибка", 6), "Ошибка");
  EXPECT_EQ(Utf8Prefix("abc", 0), "...");
  EXPECT_EQ(Utf8Prefix("", 0), "");
  EXPECT_EQ(Utf8Prefix("a€b", 2), "a€...");
}

}  // namespace
