// The two GOST engines through the library's exports, with keys made by their stand-in
// toolkits' provisioning exports: what a host sees on Linux and under Windows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "zk_loader.h"

namespace fs = std::filesystem;

namespace {

using WriteKeyFilesFn = int (*)(int, const char*, const char*, const char*);
using MakeUserFn = int (*)(const char*, const char*, const char*, const char*);

class GostEnginesThroughExports : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(library_.Open(zkhost::LocateLibrary(""), error)) << error;
    root_ = fs::temp_directory_path() /
            ("zk_host_gost_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override {
    for (ZkEngine engine : engines_) api().DoneCryptoEngine(engine);
    fs::remove_all(root_);
  }
  const zkhost::ZkApi& api() { return library_.Api(); }
  std::string Path(const std::string& name) { return (root_ / name).string(); }
  std::string Dir(const std::string& name) {
    fs::create_directories(root_ / name);
    return (root_ / name).string() + static_cast<char>(fs::path::preferred_separator);
  }
  ZkEngine NewEngine(const char* type, const std::vector<std::pair<int32_t, std::string>>& params) {
    ZkEngine engine = api().InitCryptoEngine(type);
    EXPECT_NE(engine, nullptr) << type;
    if (!engine) return nullptr;
    engines_.push_back(engine);
    for (const auto& [index, value] : params) EXPECT_EQ(api().SetCryptoParamValue(engine, index, value.c_str()), 0);
    return engine;
  }
  std::string Text(ZkEngine engine, int32_t code) {
    std::vector<char> text(static_cast<size_t>(api().GetMaxErrorStringLength(engine)) + 1, '\0');
    api().GetCryptoErrorString(engine, code, text.data());
    return text.data();
  }
  // Sender encrypts for "B", receiver decrypts; receiver signs, sender verifies; all in place.
  void RoundTrip(ZkEngine sender, ZkEngine receiver, const std::string& receiverUID) {
    const std::string plain = "payment order No. 17: 1000.00";
    std::vector<uint8_t> data(plain.size() + static_cast<size_t>(api().GetMaxEncodeAddition(sender)));
    std::copy(plain.begin(), plain.end(), data.begin());
    int32_t len = static_cast<int32_t>(plain.size());
    int32_t code = api().EncodeData(sender, data.data(), &len, receiverUID.c_str());
    ASSERT_EQ(code, 0) << Text(sender, code);
    ASSERT_GT(len, static_cast<int32_t>(plain.size()));
    EXPECT_EQ(std::string(data.begin(), data.begin() + len).find(plain), std::string::npos);
    std::vector<char> uid(static_cast<size_t>(api().GetMaxUIDLength(receiver)), '\0');
    code = api().DecodeData(receiver, data.data(), &len, uid.data());
    ASSERT_EQ(code, 0) << Text(receiver, code);
    EXPECT_EQ(std::string(data.begin(), data.begin() + len), plain);

    std::vector<uint8_t> signature(static_cast<size_t>(api().GetMaxSignatureLength(receiver)));
    int32_t signatureLen = 0;
    code = api().SignData(receiver, data.data(), len, signature.data(), &signatureLen, nullptr);
    ASSERT_EQ(code, 0) << Text(receiver, code);
    std::vector<char> signer(static_cast<size_t>(api().GetMaxUIDLength(sender)), '\0');
    code = api().VerifyData(sender, data.data(), len, signature.data(), signatureLen, signer.data());
    EXPECT_EQ(code, 0) << Text(sender, code);
    EXPECT_EQ(std::string(signer.data()), receiverUID);
    data[0] ^= 1;
    EXPECT_NE(api().VerifyData(sender, data.data(), len, signature.data(), signatureLen, signer.data()), 0);
  }

  zkhost::ZkLibrary library_;
  std::vector<ZkEngine> engines_;
  fs::path root_;
};

TEST_F(GostEnginesThroughExports, CryptoCWithBothSignatureTypes) {
  zkhost::HostModule toolkit;
  std::string error;
  ASSERT_TRUE(toolkit.Open(zkhost::ExecutableDirectory() + "libcrypt.dll", error)) << error;
  auto writeKeys = toolkit.Function<WriteKeyFilesFn>("CrypC_StandIn_WriteKeyFiles");
  ASSERT_NE(writeKeys, nullptr);
  std::string abonentsA = Dir("abonentsA"), abonentsB = Dir("abonentsB");
  // A signs with GOST R 34.10-94, B with GOST R 34.10-2001.
  ASSERT_EQ(writeKeys(0, "A", Path("a.sec").c_str(), (abonentsB + "a.pub").c_str()), 0);
  ASSERT_EQ(writeKeys(1, "B", Path("b.sec").c_str(), (abonentsA + "b.pub").c_str()), 0);
  ZkEngine a = NewEngine("Crypto-C", {{1, abonentsB + "a.pub"}, {2, Path("a.sec")}, {3, abonentsA}, {4, Dir("ca")}});
  ZkEngine b = NewEngine("Crypto-C", {{1, abonentsA + "b.pub"}, {2, Path("b.sec")}, {3, abonentsB}, {4, Dir("ca")},
                                      {5, "0"}, {13, "GOST"}});
  ASSERT_TRUE(a && b);
  char uid[300] = {};
  ASSERT_EQ(api().GetCurrentUserUID(a, uid), 0);
  EXPECT_STREQ(uid, "A");
  RoundTrip(a, b, "B");
  RoundTrip(b, a, "A");
  EXPECT_EQ(api().IncludePublicKey(a, (abonentsB + "a.pub").c_str()), -20);
  EXPECT_EQ(api().RemoveCertificate(a, "A"), -21);
}

TEST_F(GostEnginesThroughExports, CryptoCom32xWithBothMethods) {
  zkhost::HostModule toolkit;
  std::string error;
  ASSERT_TRUE(toolkit.Open(zkhost::ExecutableDirectory() + "ccom.dll", error)) << error;
  auto makeUser = toolkit.Function<MakeUserFn>("CCOM_StandIn_MakeUser");
  ASSERT_NE(makeUser, nullptr);
  std::string abonentsA = Dir("abonentsA"), abonentsB = Dir("abonentsB");
  std::string secretA = Dir("secretA"), secretB = Dir("secretB");
  ASSERT_EQ(makeUser(secretA.c_str(), (abonentsB + "a.pub").c_str(), "A", "user A"), 1);
  ASSERT_EQ(makeUser(secretB.c_str(), (abonentsA + "b.pub").c_str(), "B", "user B"), 1);
  ZkEngine a = NewEngine("CryptoCom 32x", {{1, abonentsB + "a.pub"}, {2, secretA}, {4, abonentsA}});
  ZkEngine b = NewEngine("CryptoCom 32x", {{1, abonentsA + "b.pub"}, {2, secretB}, {4, abonentsB}, {5, "gfb"}});
  ASSERT_TRUE(a && b);
  char uid[300] = {};
  ASSERT_EQ(api().GetCurrentUserUID(b, uid), 0);
  EXPECT_STREQ(uid, "B");
  RoundTrip(a, b, "B");
  RoundTrip(b, a, "A");
  EXPECT_EQ(api().SetCryptoParamValue(a, 5, "CBC"), 0);
  uint8_t data[64 + 30000] = {'x'};
  int32_t len = 1;
  EXPECT_EQ(api().EncodeData(a, data, &len, "B"), -19);
  EXPECT_EQ(len, 1);
}

}  // namespace
