// The CryptoPro CSP 1.1 engine with its GOST defaults (R 34.11-94, 28147-89) over the stand-in's
// GOST provider (OpenSSL's GOST engine, R 34.10-2001 keys), checked with `openssl cms -engine gost`;
// and the provider fall-back when "Crypto-Pro Cryptographic Service Provider" is missing.
#include "capi/capi_helpers.h"
#include "capi_standin/capi_standin_fixture.h"

namespace zk::capistandin_test {
namespace {

const std::string kGost = "openssl cms -engine gost ";

class CapiGost : public CapiStandInTest {
 protected:
  static void SetUpTestSuite() {
    CapiStandInTest::SetUpTestSuite();
    dir_ = Root() + "/gost";
    const std::string key = "openssl genpkey -engine gost -algorithm gost2001 -pkeyopt paramset:A -out ";
    ok_ = Shell("mkdir -p " + dir_ + "/ca " + dir_ + "/abonents") && Shell(key + dir_ + "/ca.key") &&
          Shell("openssl req -engine gost -x509 -new -key " + dir_ + "/ca.key -subj /CN=GOST_CA -days 30 "
                "-addext basicConstraints=critical,CA:true -addext keyUsage=critical,keyCertSign,cRLSign -outform DER "
                "-out " + dir_ + "/ca/ca.cer") &&
          Shell("openssl x509 -inform DER -in " + dir_ + "/ca/ca.cer -out " + dir_ + "/ca.pem") &&
          Shell("printf 'keyUsage=digitalSignature,keyEncipherment\\n' > " + dir_ + "/ext");
    int serial = 10;
    for (const char* user : {"galice", "gbob"}) {
      const std::string base = dir_ + "/" + user;
      ok_ = ok_ && Shell(key + base + ".key") &&
            Shell("openssl req -engine gost -new -key " + base + ".key -subj /CN=" + user + " -out " + base + ".csr") &&
            Shell("openssl x509 -engine gost -req -in " + base + ".csr -CA " + dir_ + "/ca.pem -CAkey " + dir_ +
                  "/ca.key -set_serial " + std::to_string(++serial) + " -days 30 -extfile " + dir_ + "/ext -out " +
                  base + ".pem") &&
            Shell("openssl x509 -in " + base + ".pem -outform DER -out " + dir_ + "/abonents/" + user + ".cer");
      if (ok_) Toolkit().PutKey(kCryptoPro, user, base + ".key");
    }
    if (ok_) Toolkit().AddCertificate("ROOT", dir_ + "/ca/ca.cer");
  }

  void SetUp() override { ASSERT_TRUE(ok_) << "GOST material (openssl with the gost engine)"; }

  static std::unique_ptr<TCryptoEngine> GostEngine(const std::string& user) {
    auto e = capitest::MakeEngine("CryptoPro CSP/1.1");
    capitest::Set(*e, "User certificate file", dir_ + "/abonents/" + user + ".cer");
    capitest::Set(*e, "CA certificates dir", dir_ + "/ca");
    capitest::Set(*e, "Abonents cerificates dir", dir_ + "/abonents");
    return e;
  }
  std::string File(const std::string& name, const Bytes& bytes) {
    suite::WriteFileBytes(dir_ + "/" + name, bytes);
    return dir_ + "/" + name;
  }

  static std::string dir_;
  static bool ok_;
};

std::string CapiGost::dir_;
bool CapiGost::ok_ = false;

TEST_F(CapiGost, SignaturesRoundTripWithOpenSSL) {
  auto alice = GostEngine("galice");
  int32_t code = 0;
  const Bytes signature = Sign(*alice, data_, code);
  ASSERT_EQ(code, 0);
  const std::string verify = kGost + "-verify -binary -inform DER -purpose any -CAfile " + dir_ + "/ca.pem -in " +
                             File("s.p7s", signature) + " -content ";
  EXPECT_TRUE(Shell(verify + File("d.bin", data_)));
  Bytes flipped = data_;
  flipped[3] ^= 0x80;
  EXPECT_FALSE(Shell(verify + File("f.bin", flipped)));

  auto bob = GostEngine("gbob");
  std::string signer;
  EXPECT_EQ(Verify(*bob, data_, signature, signer), 0);
  EXPECT_EQ(signer, "galice");
  for (const char* attributes : {"", "-noattr"}) {
    ASSERT_TRUE(Shell(kGost + "-sign -binary -outform DER -md md_gost94 " + attributes + " -signer " + dir_ +
                      "/gbob.pem -inkey " + dir_ + "/gbob.key -in " + dir_ + "/d.bin -out " + dir_ + "/b.p7s"));
    const Bytes theirs = suite::ReadFileBytes(dir_ + "/b.p7s");
    EXPECT_EQ(Verify(*alice, data_, theirs, signer), 0) << attributes;
    EXPECT_EQ(signer, "gbob");
    EXPECT_NE(Verify(*alice, flipped, theirs, signer), 0) << attributes;
  }
}

TEST_F(CapiGost, EnvelopesRoundTripWithOpenSSL) {
  auto alice = GostEngine("galice");
  Bytes envelope = data_;
  ASSERT_EQ(Encode(*alice, envelope, "gbob"), 0);
  const std::string out = dir_ + "/opened.bin";
  ASSERT_TRUE(Shell(kGost + "-decrypt -binary -inform DER -in " + File("e.der", envelope) + " -recip " + dir_ +
                    "/gbob.pem -inkey " + dir_ + "/gbob.key -out " + out));
  EXPECT_EQ(suite::ReadFileBytes(out), data_);

  ASSERT_TRUE(Shell(kGost + "-encrypt -binary -gost89 -outform DER -in " + File("d.bin", data_) + " -out " + dir_ +
                    "/theirs.der " + dir_ + "/galice.pem"));
  Bytes theirs = suite::ReadFileBytes(dir_ + "/theirs.der");
  ASSERT_EQ(Decode(*alice, theirs), 0);
  EXPECT_EQ(theirs, data_);
}

// Keys and certificates made by the stand-in itself (what the demo uses), for both provider
// families: the engine signs with them and openssl verifies against the CA made with them.
TEST_F(CapiGost, ProvisionedCertificatesServeTheEngines) {
  auto make = reinterpret_cast<uint32_t (*)(const char*, const char*, const char*, const char*, const char*, uint32_t,
                                            int, int, const char*)>(Toolkit().crypt32.Symbol("CapiStandIn_MakeCertificate"));
  ASSERT_NE(make, nullptr);
  struct Case {
    const char* provider;
    const char* type;
    std::string openssl;
  } cases[] = {{kCryptoPro, "CryptoPro CSP/1.1", kGost}, {kMsBase, "Ms Crypto API 2.0", "openssl cms "}};
  int n = 0;
  for (const auto& c : cases) {
    const std::string dir = dir_ + "/made" + std::to_string(++n);
    ASSERT_TRUE(Shell("mkdir -p " + dir + "/ca " + dir + "/abonents"));
    const std::string ca = dir + "/ca/ca.cer", user = "made" + std::to_string(n);
    ASSERT_EQ(make(c.provider, "made ca", "Made CA", nullptr, nullptr, 1, 30, 1, ca.c_str()), 0u) << c.provider;
    ASSERT_EQ(make(c.provider, user.c_str(), user.c_str(), "made ca", ca.c_str(), 2, 30, 0,
                   (dir + "/abonents/" + user + ".cer").c_str()), 0u) << c.provider;
    Toolkit().AddCertificate("ROOT", ca);
    auto e = capitest::MakeEngine(c.type);
    capitest::Set(*e, "Crypto Provider", c.provider);
    capitest::Set(*e, "User certificate file", dir + "/abonents/" + user + ".cer");
    capitest::Set(*e, "CA certificates dir", dir + "/ca");
    capitest::Set(*e, "Abonents cerificates dir", dir + "/abonents");
    if (std::string(c.type) == "Ms Crypto API 2.0") capitest::Set(*e, "Hash Algorithm", "SHA1");
    int32_t code = 0;
    const Bytes signature = Sign(*e, data_, code);
    ASSERT_EQ(code, 0) << c.provider;
    ASSERT_TRUE(Shell("openssl x509 -inform DER -in " + ca + " -out " + dir + "/ca.pem"));
    EXPECT_TRUE(Shell(c.openssl + "-verify -binary -inform DER -purpose any -CAfile " + dir + "/ca.pem -in " +
                      File("made.p7s", signature) + " -content " + File("d.bin", data_)))
        << c.provider;
  }
}

// The GOST key copied into a verify context (this stand-in's GOST PRIVATEKEYBLOB) signs as well.
TEST_F(CapiGost, KeyCopiedIntoAVerifyContextSigns) {
  auto alice = GostEngine("galice");
  capitest::Set(*alice, "Secret key cash method", "VERIFY_CONTEXT");
  capitest::Set(*alice, "CRL dir", dir_ + "/copy");  // a binding of its own
  const int imports = Toolkit().advapi32.Calls("CryptImportKey");
  int32_t code = 0;
  const Bytes signature = Sign(*alice, data_, code);
  ASSERT_EQ(code, 0);
  EXPECT_EQ(Toolkit().advapi32.Calls("CryptImportKey"), imports + 1);
  std::string signer;
  EXPECT_EQ(Verify(*GostEngine("gbob"), data_, signature, signer), 0);
}

// Without "Crypto-Pro Cryptographic Service Provider" the binding falls back to the R 34.10-94
// name, which reaches the same GOST containers.
TEST_F(CapiGost, FallBackWhenTheProviderIsHidden) {
  const std::string kGost94 = "Crypto-Pro GOST R 34.10-94 Cryptographic Service Provider";
  struct Case {
    std::vector<std::string> hidden;
    bool signs;
  } cases[] = {{{kCryptoPro}, true}, {{kCryptoPro, kGost94}, false}};
  int n = 0;
  for (const auto& c : cases) {
    for (const auto& p : c.hidden) Toolkit().HideProvider(p, true);
    auto alice = GostEngine("galice");
    // A binding of its own (the CRL directory is part of its key), made while the names are hidden.
    capitest::Set(*alice, "CRL dir", dir_ + "/no_crl" + std::to_string(++n));
    int32_t code = 0;
    const Bytes signature = Sign(*alice, data_, code);
    for (const auto& p : c.hidden) Toolkit().HideProvider(p, false);
    EXPECT_EQ(code == 0, c.signs) << code;
    std::string signer;
    if (c.signs) {
      EXPECT_EQ(Verify(*GostEngine("gbob"), data_, signature, signer), 0);
    }
  }
}

}  // namespace
}  // namespace zk::capistandin_test
