// The engine over a libcrypto that lacks functions: the binding (-66) or the random generator
// (-64) says so, for every operation that needs them, with the engine's own texts.
#include <gtest/gtest.h>

#include <string>

#include "frame/cp1251.h"
#include "zk_mint.h"

namespace {

class OsslStubbed : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_ = InitCryptoEngine("OpenSSL");
    ASSERT_NE(engine_, nullptr);
  }
  void TearDown() override { DoneCryptoEngine(engine_); }

  std::string Text(int32_t code) {
    char text[255];
    GetCryptoErrorString(engine_, code, text);
    return text;
  }

  ZkEngine engine_ = nullptr;
  uint8_t data_[2048] = {1, 2, 3};
  int32_t length_ = 3;
  char uid_[32] = "untouched";
};

#if defined(ZK_STUB_WITHOUT_RAND)

TEST_F(OsslStubbed, OperationsThatNeedRandomnessReportTheGenerator) {
  EXPECT_EQ(GetMaxEncodeAddition(engine_), 1085) << "the binding itself is complete";
  EXPECT_EQ(SignData(engine_, data_, 3, data_ + 100, &length_, nullptr), -64);
  EXPECT_EQ(VerifyData(engine_, data_, 3, data_ + 100, 50, uid_), -64);
  EXPECT_EQ(EncodeData(engine_, data_, &length_, "01A2"), -64);
  EXPECT_EQ(length_, 3);
  EXPECT_EQ(Text(-64), zk::Utf8ToCp1251("Ошибка генератора случайных чисел. Библиотека libeay32.dll не содержит всех "
                                        "необходимых для корректной работы функций. Проверьте версию libeay32.dll"));
}

#else

TEST_F(OsslStubbed, EveryOperationReportsTheMissingFunction) {
  EXPECT_EQ(GetMaxEncodeAddition(engine_), -1);
  EXPECT_EQ(GetCurrentUserUID(engine_, uid_), -66);
  EXPECT_EQ(SignData(engine_, data_, 3, data_ + 100, &length_, nullptr), -66);
  EXPECT_EQ(VerifyData(engine_, data_, 3, data_ + 100, 50, uid_), -66);
  EXPECT_EQ(EncodeData(engine_, data_, &length_, "01A2"), -66);
  EXPECT_EQ(DecodeData(engine_, data_, &length_, uid_), -66);
  EXPECT_EQ(IncludePublicKey(engine_, "x.cer"), -66);
  EXPECT_EQ(UpdateCertificateCash(engine_, "01A2"), -66);
  EXPECT_EQ(RemoveCertificate(engine_, "01A2"), -66);
  EXPECT_EQ(IncludeCRL(engine_, "x.crl"), -66);
  EXPECT_EQ(length_, 3);
  EXPECT_STREQ(uid_, "untouched");
  EXPECT_EQ(Text(-66), zk::Utf8ToCp1251("Библиотека libeay32.dll не содержит всех необходимых для корректной работы "
                                        "функций. Проверьте версию libeay32.dll"));
  EXPECT_EQ(Text(7), zk::Utf8ToCp1251("Вывод сообщения невозможен: ошибка инициализации криптоядра."));
}

#endif

}  // namespace
