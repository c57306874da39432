// Drives the built library through all 30 exports, resolved by name from the file, with the
// emulation engine: the path every real host takes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "zk_loader.h"

namespace {

int32_t ZK_STDCALL RefusePassword(char*, int32_t) { return 0; }
void ZK_STDCALL IgnoreTouchMemory(int32_t) {}

class LoadedLibrary : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    library_ = new zkhost::ZkLibrary();
    std::string error;
    ASSERT_TRUE(library_->Open(zkhost::LocateLibrary(""), error)) << error;
  }
  static void TearDownTestSuite() {
    delete library_;
    library_ = nullptr;
  }
  const zkhost::ZkApi& api() { return library_->Api(); }
  static zkhost::ZkLibrary* library_;
};

zkhost::ZkLibrary* LoadedLibrary::library_ = nullptr;

TEST_F(LoadedLibrary, ListsEighteenTypesAndBuildsOnlyKnownOnes) {
  std::vector<std::string> types;
  for (int32_t i = 1; i <= 18; ++i) {
    char name[100] = "x";
    api().GetCryptoEngineTypes(i, name);
    types.push_back(name);
  }
  EXPECT_EQ(types[0], "Emulation/1.0");
  EXPECT_EQ(types[16], "Tumar CSP");
  char name[100] = "x";
  api().GetCryptoEngineTypes(19, name);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(api().GetMaxCryptoEngineTypeLength(), 100);
  EXPECT_EQ(api().InitCryptoEngine("Tumar CSP"), nullptr);
  EXPECT_EQ(api().InitCryptoEngine("EMULATION/1.0"), nullptr);
}

TEST_F(LoadedLibrary, EveryExportOnTheEmulationEngine) {
  ZkEngine engine = api().InitCryptoEngine("Domain-K (c) Infotecs JSC.");
  ASSERT_NE(engine, nullptr);
  char text[256];
  api().GetCryptoEngineType(engine, text);
  EXPECT_STREQ(text, "Emulation/1.0");
  EXPECT_EQ(api().GetMaxEncodeAddition(engine), 100);
  EXPECT_EQ(api().GetMaxSignatureLength(engine), 255);
  EXPECT_EQ(api().GetMaxUIDLength(engine), 255);
  EXPECT_EQ(api().GetMaxCryptoParamNameLength(engine), 255);
  EXPECT_EQ(api().GetMaxCryptoParamValueLength(engine), 255);
  EXPECT_EQ(api().GetMaxErrorStringLength(engine), 255);
  EXPECT_EQ(api().GetCryptoParamNumber(engine), 2);
  api().GetCryptoParamName(engine, 1, text);
  EXPECT_STREQ(text, "Parameter 1");
  EXPECT_EQ(api().SetCryptoParamValue(engine, 1, "changed"), 0);
  api().GetCryptoParamValue(engine, 1, text);
  EXPECT_STREQ(text, "changed");
  EXPECT_EQ(api().SetCryptoParamValue(engine, 3, "x"), 10);
  EXPECT_EQ(api().GetEncodeUIDBySignUID(engine, "ABCD", text), 0);
  EXPECT_STREQ(text, "ABCD");
  api().GetCryptoErrorString(engine, -3, text);
  EXPECT_STREQ(text, "CRYPTO ENGINE ERROR : -3");

  uint8_t data[5 + 100] = {'h', 'e', 'l', 'l', 'o'};
  int32_t len = 5;
  EXPECT_EQ(api().EncodeData(engine, data, &len, nullptr), 0);
  EXPECT_EQ(api().DecodeData(engine, data, &len, text), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), static_cast<size_t>(len)), "hello");
  uint8_t signature[255];
  int32_t signatureLen = -1;
  EXPECT_EQ(api().SignData(engine, data, len, signature, &signatureLen, ""), 0);
  EXPECT_EQ(signatureLen, 0);
  EXPECT_EQ(api().VerifyData(engine, data, len, signature, signatureLen, text), 0);
  EXPECT_EQ(api().GetCurrentUserUID(engine, text), 0);
  EXPECT_STREQ(text, "");

  api().SetPasswordRequestFunc(engine, RefusePassword);
  api().SetTMRequestFunc(engine, IgnoreTouchMemory);
  api().SetRootPath(engine, "C:\\ZkHostRoot");
  EXPECT_EQ(api().IncludePublicKey(engine, "a.cer"), -1);
  api().ClearCash(engine);
  EXPECT_EQ(api().UpdateCertificateCash(engine, "ABCD"), 0);
  EXPECT_EQ(api().RemoveCertificate(engine, "ABCD"), -1);
  EXPECT_EQ(api().IncludeCRL(engine, "a.crl"), -1);
  // Nulls that the engine would have dereferenced come back as -1, not as a crash.
  EXPECT_EQ(api().DecodeData(engine, data, &len, nullptr), -1);
  EXPECT_EQ(api().SignData(engine, data, len, signature, nullptr, nullptr), -1);
  api().DoneCryptoEngine(engine);
}

TEST_F(LoadedLibrary, NullHandlesAreHarmless) {
  EXPECT_EQ(api().GetMaxUIDLength(nullptr), -1);
  EXPECT_EQ(api().EncodeData(nullptr, nullptr, nullptr, nullptr), -1);
  api().DoneCryptoEngine(nullptr);
  api().ClearCash(nullptr);
}

}  // namespace
