// Beside one other build of "cpki1.dll": its file version sets the extended-toolkit flag
// (3.1 from build 150 on), a build lacking a function gives -22, no library -21.
#include <gtest/gtest.h>

#include <cstring>

#include "engines/validata/vldt_dll.h"
#include "engines/validata/vldt_engine.h"

namespace {

TEST(ValidataVariant, Toolkit) {
  zk::validata::TValidata binding;
  const int expected = ZK_VLDT_EXPECTED;
  if (expected >= 0) {
    ASSERT_TRUE(binding.LibLoaded && binding.FunctionsPresent);
    EXPECT_EQ(binding.Extended(), expected == 1);
    return;
  }
  zk::TValidataEngine engine;
  char uid[4096] = {};
  EXPECT_EQ(engine.GetCurrentUID(uid), expected);
  uint8_t data[16 + 4096] = {1, 2, 3};
  int32_t len = 16;
  EXPECT_EQ(engine.EncodeData(data, &len, "bob"), expected);
  EXPECT_EQ(len, 16);
  EXPECT_EQ(engine.GetCurrentUID(uid), expected) << "asked again, still refused";
  char text[300] = {};
  engine.GetCryptoErrorString(expected, text);
  EXPECT_NE(std::string(text).find("cpki1.dll"), std::string::npos);
  engine.GetCryptoErrorString(3, text);  // a toolkit code, with no toolkit to ask
  EXPECT_GT(std::strlen(text), 10u);
  engine.ClearCash();
}

TEST(ValidataVariant, VersionSwitch) {
  using zk::validata::IsExtendedVersion;
  EXPECT_FALSE(IsExtendedVersion(0x30001, 149));
  EXPECT_TRUE(IsExtendedVersion(0x30001, 150));
  EXPECT_TRUE(IsExtendedVersion(0x30002, 0));
  EXPECT_FALSE(IsExtendedVersion(0x30000, 999));
  EXPECT_FALSE(IsExtendedVersion(0x20009, 0xFFFF));
  EXPECT_TRUE(IsExtendedVersion(0x40000, 0));
}

}  // namespace
