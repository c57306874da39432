// Without libcrypto the OpenSSL engine still answers every call, with "library not loaded" (-65)
// and its text, and never claims success.
#include <gtest/gtest.h>

#include <string>

#include "frame/cp1251.h"
#include "platform/platform.h"
#include "zk_mint.h"

namespace {

class OsslAbsent : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"libcrypto-3.dll", "libeay32.dll"}) {
      if (zk::platform::ModuleHandle module = zk::platform::LoadModule(name)) {
        zk::platform::FreeModule(module);
        GTEST_SKIP() << name << " is installed on this system";
      }
    }
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
};

TEST_F(OsslAbsent, EveryOperationReportsTheMissingLibrary) {
  uint8_t data[2048] = {1, 2, 3};
  int32_t length = 3;
  char uid[32] = "untouched";
  EXPECT_EQ(GetMaxEncodeAddition(engine_), -1);
  EXPECT_EQ(GetCurrentUserUID(engine_, uid), -65);
  EXPECT_EQ(SignData(engine_, data, 3, data + 100, &length, nullptr), -65);
  EXPECT_EQ(VerifyData(engine_, data, 3, data + 100, 50, uid), -65);
  EXPECT_EQ(EncodeData(engine_, data, &length, "01A2"), -65);
  EXPECT_EQ(DecodeData(engine_, data, &length, uid), -65);
  EXPECT_EQ(IncludePublicKey(engine_, "C:\\x.cer"), -65);
  EXPECT_EQ(RemoveCertificate(engine_, "01A2"), -65);
  EXPECT_EQ(IncludeCRL(engine_, "C:\\x.crl"), -65);
  EXPECT_EQ(UpdateCertificateCash(engine_, "01A2"), -65) << "not turned into success by the export";
  ClearCash(engine_);
  EXPECT_EQ(length, 3);
  EXPECT_STREQ(uid, "untouched");
  EXPECT_EQ(data[0], 1);
}

TEST_F(OsslAbsent, TextsNeedNoLibrary) {
  EXPECT_EQ(Text(-65), zk::Utf8ToCp1251("Невозможно загрузить библиотеку ПБЗИ libeay32.dll"));
  EXPECT_EQ(Text(12345), zk::Utf8ToCp1251("Вывод сообщения невозможен: ошибка инициализации криптоядра."));
  EXPECT_EQ(Text(-262), zk::Utf8ToCp1251("Вывод сообщения невозможен: ошибка инициализации криптоядра."));
}

}  // namespace
