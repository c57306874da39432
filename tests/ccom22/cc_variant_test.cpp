// The engine beside a "cc.dll" that lacks a function (135), and with no "cc.dll" at all (134):
// every operation that needs the toolkit answers the code, and the binding is tried again later.
#include <gtest/gtest.h>

#include "engines/ccom22/cc_engine.h"

namespace {

TEST(CcVariant, ToolkitUnusable) {
  zk::TCcom22Engine engine;
  char uid[256] = {};
  EXPECT_EQ(engine.GetCurrentUID(uid), ZK_CC_EXPECTED_CODE);
  uint8_t data[16 + 4104] = {1, 2, 3};
  int32_t len = 16;
  EXPECT_EQ(engine.EncodeData(data, &len, "B.1"), ZK_CC_EXPECTED_CODE);
  EXPECT_EQ(len, 16);
  EXPECT_EQ(engine.IncludePublicKey("x.crt"), ZK_CC_EXPECTED_CODE);
  EXPECT_EQ(engine.GetCurrentUID(uid), ZK_CC_EXPECTED_CODE) << "asked again, still refused";
  char text[256] = {};
  engine.GetCryptoErrorString(ZK_CC_EXPECTED_CODE, text);
  EXPECT_NE(std::string(text).find("cc.dll"), std::string::npos);
  engine.ClearCash();  // must not need the toolkit
}

}  // namespace
