// Built twice: beside no toolkit at all (-29) and beside the toolkit variant that lacks one of the
// 60 functions (-30). Every operation that needs the toolkit gives that code, with its text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engines/cryptoc/crypc_engine.h"
#include "frame/cp1251.h"

namespace {

TEST(CryptoCWithoutToolkit, EveryOperationReportsTheLoadFailure) {
  constexpr int32_t expected = ZK_EXPECTED_LOAD_CODE;
  zk::TCryptoCEngine engine;
  engine.SetCryptoParamValue(1, "self.pub");
  uint8_t data[64] = {1, 2, 3};
  int32_t length = 3;
  char uid[256] = "untouched";
  uint8_t signature[400];
  int32_t signatureLength = 0;
  EXPECT_EQ(engine.GetCurrentUID(uid), expected);
  EXPECT_STREQ(uid, "untouched");
  EXPECT_EQ(engine.EncodeData(data, &length, "Bob"), expected);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(engine.DecodeData(data, &length, uid), expected);
  EXPECT_EQ(engine.SignData(data, 3, signature, &signatureLength, nullptr), expected);
  EXPECT_EQ(engine.VerifyData(data, 3, signature, 70, uid), expected);
  EXPECT_EQ(engine.IncludePublicKey("x.pub"), expected);
  EXPECT_EQ(engine.RemoveCertificate("Bob"), expected);
  EXPECT_EQ(engine.UpdateCertificateCash("Bob"), expected);
  EXPECT_EQ(engine.GetMaxEncodeAddition(), -1);
  EXPECT_EQ(engine.GetMaxSignatureLength(), 319);

  char text[256];
  engine.GetCryptoErrorString(expected, text);
  const std::string utf8 = zk::Cp1251ToUtf8(text);
  if (expected == -29) {
    EXPECT_EQ(utf8, "Невозможно загрузить библиотеку ПБЗИ libcrypt.dll");
  } else {
    EXPECT_EQ(utf8, "Библиотека libcrypt.dll не содержит всех необходимых для корректной работы функций. "
                    "Проверьте версию libcrypt.dll");
  }
  // A failed fetch keeps no binding: the next call tries again and fails the same way.
  EXPECT_EQ(engine.GetCurrentUID(uid), expected);
}

}  // namespace
