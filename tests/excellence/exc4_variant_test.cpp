// Built twice: beside no toolkit at all (-115) and beside the toolkit variant that lacks one of the
// 30 functions (-116). Every operation that needs the toolkit gives that code, with its text.
#include <gtest/gtest.h>

#include <string>

#include "engines/excellence/ce_exc4.h"

namespace {

TEST(ExcellenceWithoutToolkit, EveryOperationReportsTheLoadFailure) {
  constexpr int32_t expected = ZK_EXPECTED_LOAD_CODE;
  zk::TExc4CryptoEngine engine;
  uint8_t data[512] = {1, 2, 3};
  int32_t length = 3;
  char uid[256] = "untouched";
  uint8_t signature[1024];
  int32_t signatureLength = 0;
  EXPECT_EQ(engine.GetCurrentUID(uid), expected);
  EXPECT_STREQ(uid, "untouched");
  EXPECT_EQ(engine.EncodeData(data, &length, "BOB"), expected);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(engine.DecodeData(data, &length, uid), expected);
  EXPECT_EQ(engine.SignData(data, 3, signature, &signatureLength, nullptr), expected);
  EXPECT_EQ(engine.VerifyData(data, 3, signature, 70, uid), expected);
  EXPECT_EQ(engine.IncludePublicKey("x.pub"), expected);
  EXPECT_EQ(engine.RemoveCertificate("BOB"), expected);

  char text[1024];
  engine.GetCryptoErrorString(expected, text);
  EXPECT_STREQ(text, expected == -115 ? "Unable to load cryst.dll library."
                                      : "Unable to retrieve procedures from crypto toolkit library cryst.dll");
  // A failed load keeps no binding: the next call tries again and fails the same way.
  EXPECT_EQ(engine.GetCurrentUID(uid), expected);
}

}  // namespace
