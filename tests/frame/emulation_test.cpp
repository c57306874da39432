// The emulation engine through the exports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "zk_mint.h"

namespace {

class Emulation : public ::testing::Test {
 protected:
  void SetUp() override { engine_ = InitCryptoEngine("Vove Darav"); ASSERT_NE(engine_, nullptr); }
  void TearDown() override { DoneCryptoEngine(engine_); }
  std::string Value(int32_t index) {
    char buffer[300];
    std::memset(buffer, 'x', sizeof buffer);
    GetCryptoParamValue(engine_, index, buffer);
    return buffer;
  }
  ZkEngine engine_ = nullptr;
};

TEST_F(Emulation, LimitsAndParameters) {
  EXPECT_EQ(GetMaxEncodeAddition(engine_), 100);
  for (auto limit : {GetMaxSignatureLength(engine_), GetMaxUIDLength(engine_), GetMaxCryptoParamNameLength(engine_),
                     GetMaxCryptoParamValueLength(engine_), GetMaxErrorStringLength(engine_)}) {
    EXPECT_EQ(limit, 255);
  }
  EXPECT_EQ(GetCryptoParamNumber(engine_), 2);
  char name[256];
  GetCryptoParamName(engine_, 2, name);
  EXPECT_STREQ(name, "Parameter 2");
  EXPECT_EQ(Value(1), "value 1");
  EXPECT_EQ(SetCryptoParamValue(engine_, 3, "abc"), 10);
  EXPECT_EQ(SetCryptoParamValue(engine_, 0, "abc"), 10);
  EXPECT_EQ(Value(1), "value 1");
  EXPECT_EQ(Value(2), "value 2");
  EXPECT_EQ(SetCryptoParamValue(engine_, 2, "abc"), 0);
  EXPECT_EQ(Value(2), "abc");
  char text[256];
  GetCryptoErrorString(engine_, 10, text);
  EXPECT_STREQ(text, "CRYPTO ENGINE ERROR : 10");
}

TEST_F(Emulation, OverlongValueStaysInsideTheCallersBuffer) {
  std::string longValue(400, 'v');
  ASSERT_EQ(SetCryptoParamValue(engine_, 1, longValue.c_str()), 0);
  char buffer[300];
  std::memset(buffer, 'x', sizeof buffer);
  GetCryptoParamValue(engine_, 1, buffer);
  EXPECT_EQ(std::strlen(buffer), 254u);
  EXPECT_EQ(buffer[255], 'x');
}

TEST_F(Emulation, DataPassesThroughUnchanged) {
  uint8_t data[8 + 100] = {1, 2, 3, 4, 5, 6, 7, 8};
  int32_t len = 8;
  EXPECT_EQ(EncodeData(engine_, data, &len, "someone"), 0);
  char sender[256] = "stale";
  EXPECT_EQ(DecodeData(engine_, data, &len, sender), 0);
  EXPECT_EQ(len, 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(data[i], i + 1);
  EXPECT_STREQ(sender, "");
}

TEST_F(Emulation, EmptySignaturesAlwaysVerify) {
  const uint8_t data[3] = {9, 9, 9};
  uint8_t signature[255] = {0xAA};
  int32_t signatureLen = 77;
  EXPECT_EQ(SignData(engine_, data, 3, signature, &signatureLen, nullptr), 0);
  EXPECT_EQ(signatureLen, 0);
  EXPECT_EQ(signature[0], 0xAA);
  char signer[256] = "stale";
  const uint8_t garbage[5] = {1, 2, 3, 4, 5};
  EXPECT_EQ(VerifyData(engine_, data, 3, garbage, 5, signer), 0);
  EXPECT_STREQ(signer, "");
}

TEST_F(Emulation, UidsAreEchoedOrEmpty) {
  char uid[256] = "stale";
  EXPECT_EQ(GetCurrentUserUID(engine_, uid), 0);
  EXPECT_STREQ(uid, "");
  EXPECT_EQ(GetCurrentUserUID(engine_, nullptr), 0);
  EXPECT_EQ(GetEncodeUIDBySignUID(engine_, "A1B2", uid), 0);
  EXPECT_STREQ(uid, "A1B2");
  EXPECT_EQ(GetEncodeUIDBySignUID(engine_, nullptr, uid), 0);
  EXPECT_EQ(GetEncodeUIDBySignUID(engine_, "A1B2", nullptr), 0);
}

}  // namespace
