// The exported interface: the engine-type table, the factory, the barriers and the exports that
// do more than forward.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engines/emulation/ce_emul1.h"
#include "frame/crypto_engine.h"
#include "frame/zexroot.h"
#include "zk_mint.h"

namespace {

std::string TypeAt(int32_t index) {
  char buffer[100];
  std::memset(buffer, 'x', sizeof buffer);
  GetCryptoEngineTypes(index, buffer);
  return buffer;
}

TEST(EngineTypes, EighteenRowsInListingOrder) {
  EXPECT_EQ(TypeAt(1), "Emulation/1.0");
  EXPECT_EQ(TypeAt(13), "OpenSSL");
  EXPECT_EQ(TypeAt(17), "Tumar CSP");
  EXPECT_EQ(TypeAt(18), "CryptoCom 32x");
  EXPECT_EQ(TypeAt(0), "");
  EXPECT_EQ(TypeAt(19), "");
  EXPECT_EQ(TypeAt(-5), "");
  GetCryptoEngineTypes(1, nullptr);  // ignored, no fault
  for (int32_t i = 1; i <= 18; ++i) EXPECT_LT(TypeAt(i).size(), 100u) << i;
  EXPECT_EQ(GetMaxCryptoEngineTypeLength(), 100);
}

TEST(EngineFactory, ExactNamesOnly) {
  EXPECT_EQ(InitCryptoEngine(nullptr), nullptr);
  EXPECT_EQ(InitCryptoEngine(""), nullptr);
  EXPECT_EQ(InitCryptoEngine("emulation/1.0"), nullptr);
  EXPECT_EQ(InitCryptoEngine("Emulation/1.0 "), nullptr);
  EXPECT_EQ(InitCryptoEngine("Tumar CSP"), nullptr);
  for (const char* name : {"Emulation/1.0", "Emulation/2.0", "Vove Darav", "Domain-K (c) Infotecs JSC."}) {
    ZkEngine engine = InitCryptoEngine(name);
    ASSERT_NE(engine, nullptr) << name;
    char type[100] = {};
    GetCryptoEngineType(engine, type);
    EXPECT_STREQ(type, "Emulation/1.0") << name;
    DoneCryptoEngine(engine);
  }
}

TEST(ExportBarrier, NullHandleGivesMinusOneOrNothing) {
  char buffer[256] = "keep";
  int32_t len = 0;
  uint8_t data[4] = {};
  EXPECT_EQ(GetMaxEncodeAddition(nullptr), -1);
  EXPECT_EQ(GetMaxSignatureLength(nullptr), -1);
  EXPECT_EQ(GetMaxUIDLength(nullptr), -1);
  EXPECT_EQ(GetMaxCryptoParamNameLength(nullptr), -1);
  EXPECT_EQ(GetMaxCryptoParamValueLength(nullptr), -1);
  EXPECT_EQ(GetMaxErrorStringLength(nullptr), -1);
  EXPECT_EQ(GetCryptoParamNumber(nullptr), -1);
  EXPECT_EQ(SetCryptoParamValue(nullptr, 1, "x"), -1);
  EXPECT_EQ(GetEncodeUIDBySignUID(nullptr, "a", buffer), -1);
  EXPECT_EQ(EncodeData(nullptr, data, &len, nullptr), -1);
  EXPECT_EQ(DecodeData(nullptr, data, &len, buffer), -1);
  EXPECT_EQ(SignData(nullptr, data, 1, data, &len, nullptr), -1);
  EXPECT_EQ(VerifyData(nullptr, data, 1, data, 1, buffer), -1);
  EXPECT_EQ(GetCurrentUserUID(nullptr, buffer), -1);
  EXPECT_EQ(IncludePublicKey(nullptr, "x"), -1);
  EXPECT_EQ(UpdateCertificateCash(nullptr, "x"), -1);
  EXPECT_EQ(RemoveCertificate(nullptr, "x"), -1);
  EXPECT_EQ(IncludeCRL(nullptr, "x"), -1);
  DoneCryptoEngine(nullptr);
  GetCryptoEngineType(nullptr, buffer);
  GetCryptoParamName(nullptr, 1, buffer);
  GetCryptoParamValue(nullptr, 1, buffer);
  GetCryptoErrorString(nullptr, -1, buffer);
  SetPasswordRequestFunc(nullptr, nullptr);
  SetRootPath(nullptr, "C:\\x");
  SetTMRequestFunc(nullptr, nullptr);
  ClearCash(nullptr);
  EXPECT_STREQ(buffer, "keep");
}

TEST(ExportBarrier, NullOutputsThatWouldFaultGiveMinusOne) {
  ZkEngine engine = InitCryptoEngine("Emulation/1.0");
  ASSERT_NE(engine, nullptr);
  uint8_t data[4] = {1, 2, 3, 4};
  int32_t len = 4;
  EXPECT_EQ(DecodeData(engine, data, &len, nullptr), -1);
  EXPECT_EQ(VerifyData(engine, data, 4, data, 0, nullptr), -1);
  EXPECT_EQ(SignData(engine, data, 4, data, nullptr, nullptr), -1);
  GetCryptoParamName(engine, 1, nullptr);
  GetCryptoParamValue(engine, 1, nullptr);
  GetCryptoErrorString(engine, 5, nullptr);
  DoneCryptoEngine(engine);
}

TEST(ExportUpdateCertificateCash, UnsupportedUpdateClearsTheCacheAndSucceeds) {
  ZkEngine engine = InitCryptoEngine("Emulation/2.0");
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(UpdateCertificateCash(engine, "anyone"), 0);
  EXPECT_EQ(UpdateCertificateCash(engine, nullptr), 0);
  EXPECT_EQ(IncludePublicKey(engine, "x.pub"), -1);
  EXPECT_EQ(RemoveCertificate(engine, "x"), -1);
  EXPECT_EQ(IncludeCRL(engine, "x.crl"), -1);
  DoneCryptoEngine(engine);
}

// An engine that reports what the export asked of its cache.
class CacheProbeEngine : public zk::TEmu1CryptoEngine {
 public:
  explicit CacheProbeEngine(int32_t updateResult) : updateResult_(updateResult) {}
  void ClearCash() override { ++clears; }
  int32_t UpdateCertificateCash(const char*) override { return updateResult_; }
  int clears = 0;

 private:
  int32_t updateResult_;
};

TEST(ExportUpdateCertificateCash, OnlyTheNotSupportedAnswerClearsTheCache) {
  CacheProbeEngine unsupported(-1);
  EXPECT_EQ(UpdateCertificateCash(&unsupported, "anyone"), 0);
  EXPECT_EQ(unsupported.clears, 1);
  CacheProbeEngine updated(0);
  EXPECT_EQ(UpdateCertificateCash(&updated, "anyone"), 0);
  EXPECT_EQ(updated.clears, 0);
  CacheProbeEngine failed(-7);
  EXPECT_EQ(UpdateCertificateCash(&failed, "anyone"), -7);
  EXPECT_EQ(failed.clears, 0);
}

class ExportSetRootPath : public ::testing::Test {
 protected:
  void SetUp() override { zk::ResetZEXRootForTesting(); }
  void TearDown() override { zk::ResetZEXRootForTesting(); }
};

TEST_F(ExportSetRootPath, SecondDifferentRootChangesNeitherProcessNorEngine) {
  ZkEngine first = InitCryptoEngine("Emulation/1.0");
  ZkEngine second = InitCryptoEngine("Emulation/1.0");
  SetRootPath(first, "C:\\Bank");
  EXPECT_EQ(zk::GetZEXRoot(), "C:\\Bank\\");
  SetRootPath(second, "D:\\Other");  // swallowed by the barrier
  EXPECT_EQ(zk::GetZEXRoot(), "C:\\Bank\\");
  auto* engine = static_cast<zk::TCryptoEngine*>(second);
  EXPECT_EQ(engine->RootPath(), "");
  SetRootPath(second, "C:\\Bank\\");
  EXPECT_EQ(engine->RootPath(), "C:\\Bank\\");
  DoneCryptoEngine(first);
  DoneCryptoEngine(second);
}

TEST_F(ExportSetRootPath, NullOrEmptyPathDoesNotTakeTheProcessRoot) {
  ZkEngine engine = InitCryptoEngine("Emulation/1.0");
  SetRootPath(engine, nullptr);
  SetRootPath(engine, "");
  EXPECT_EQ(zk::GetZEXRoot(), "");
  SetRootPath(engine, "C:\\Bank");
  EXPECT_EQ(zk::GetZEXRoot(), "C:\\Bank\\");
  EXPECT_EQ(static_cast<zk::TCryptoEngine*>(engine)->RootPath(), "C:\\Bank\\");
  DoneCryptoEngine(engine);
}

}  // namespace
