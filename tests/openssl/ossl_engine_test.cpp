// The engine as a host sees it: the exports, parameters, texts, file forms, the private-key cache
// with its time-outs and the process-wide random generator with its seed file.
#include <atomic>

#include "engines/openssl/ossl_api.h"
#include "engines/openssl/ossl_keycache.h"
#include "openssl/ossl_fixture.h"
#include "zk_mint.h"

namespace ossltest {
namespace {

namespace fs = std::filesystem;

TEST_F(OsslTest, DrivenThroughTheExports) {
  ZkEngine engine = InitCryptoEngine("OpenSSL");
  ASSERT_NE(engine, nullptr);
  char type[100];
  GetCryptoEngineType(engine, type);
  EXPECT_STREQ(type, "OpenSSL");
  EXPECT_EQ(GetCryptoParamNumber(engine), 21);
  const char* const names[] = {"User Secret key", "User Certificate", "Abonents dir", "CA dir", "CRL dir",
                               "RND file", "Hash Method", "Encrypt Method", "Encrypt for UID", "Key request time out",
                               "Last operation key time out"};
  for (int32_t i = 0; i < 11; ++i) {
    char name[256];
    GetCryptoParamName(engine, i + 1, name);
    EXPECT_STREQ(name, names[i]);
  }
  char value[1024];
  GetCryptoParamValue(engine, kKeyTimeout, value);
  EXPECT_STREQ(value, "60");
  GetCryptoParamValue(engine, 21, value);
  EXPECT_STREQ(value, "A:\\new.key");
  EXPECT_EQ(GetMaxSignatureLength(engine), 1293);
  EXPECT_EQ(GetMaxUIDLength(engine), 32);

  const kit::SandboxUser& bob = User("bob");
  const std::pair<int32_t, std::string> params[] = {
      {kSecretKey, bob.key_path},      {kCertificate, bob.cert_path}, {kAbonentsDir, box_->abonents_dir()},
      {kCADir, box_->ca_dir()},        {kCRLDir, box_->crl_dir()},    {kRandFile, dir_ + "/seed"},
      {kEncryptMethod, "RC5_CBC"}};
  for (const auto& [index, text] : params) ASSERT_EQ(SetCryptoParamValue(engine, index, text.c_str()), 0);
  EXPECT_EQ(GetMaxEncodeAddition(engine), 1085);

  char uid[32];
  ASSERT_EQ(GetCurrentUserUID(engine, uid), 0);
  EXPECT_EQ(uid, bob.uid);
  const Bytes data = RandomBytes(500, 1);
  uint8_t signature[1293];
  int32_t signature_len = 0;
  ASSERT_EQ(SignData(engine, data.data(), 500, signature, &signature_len, nullptr), 0);
  ASSERT_EQ(VerifyData(engine, data.data(), 500, signature, signature_len, uid), 0);
  EXPECT_EQ(uid, bob.uid);
  Bytes buffer(500 + 1085);
  std::copy(data.begin(), data.end(), buffer.begin());
  int32_t length = 500;
  ASSERT_EQ(EncodeData(engine, buffer.data(), &length, bob.uid.c_str()), 0);
  ASSERT_EQ(DecodeData(engine, buffer.data(), &length, uid), 0);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + length), data);
  EXPECT_EQ(UpdateCertificateCash(engine, "ABCDEF"), -43) << "the engine's own answer, not the fallback";
  char text[255];
  GetCryptoErrorString(engine, -43, text);
  EXPECT_EQ(std::string(text), Cp1251("В заданном каталоге абонентов отсутствует сертификат, соответствующий заданному UID'у"));
  DoneCryptoEngine(engine);
}

TEST_F(OsslTest, ErrorTexts) {
  auto engine = EngineFor(*box_, "alice");
  EXPECT_EQ(ErrorString(*engine, -1), Cp1251("Невозможно проинициализировать криптографическое ядро Open SSL."));
  EXPECT_EQ(ErrorString(*engine, -14), Cp1251("Исключительная ситуация при выполнении библиотечной функции. "));
  EXPECT_EQ(ErrorString(*engine, -204),
            "Open SSL certificate verification error. The certificate signature could not be decrypted. This means "
            "that the actual signature value could not be determined rather than it not matching the expected value, "
            "this is only meaningful for RSA keys.");
  // Verification errors newer than the table are worded by the library.
  EXPECT_EQ(ErrorString(*engine, -262).rfind("Open SSL certificate verification error. ", 0), 0u);
  EXPECT_GT(ErrorString(*engine, -262).size(), 45u);
  const std::string library = ErrorString(*engine, 0x02000068);
  EXPECT_EQ(library.rfind("OpenSSL internal error: error:02000068", 0), 0u) << library;
  engine->GetCryptoErrorString(-1, nullptr);
}

TEST_F(OsslTest, CertificatesInPemAndKeysOnOneLineOrWithCrLf) {
  kit::SandboxOptions options;
  options.users = {{"pem_user", 1024}, {"peer", 2048}};
  options.cert_format = kit::CertFormat::kPemCrLf;
  options.key_eol = kit::Eol::kCrLf;
  kit::Sandbox pem(dir_ + "/pem", options);
  kit::WriteKeyFile(pem.user("peer").key_path, pem.user("peer").key.get(), 0);
  for (const char* who : {"pem_user", "peer"}) {
    auto engine = EngineFor(pem, who);
    const Bytes data = RandomBytes(99, 2);
    const SignResult signed_ = Sign(*engine, data);
    ASSERT_EQ(signed_.code, 0) << who;
    EXPECT_EQ(Verify(*engine, data, signed_.signature).signer, pem.user(who).uid);
    const CodecResult encoded = Encode(*engine, data, pem.user(who).uid.c_str());
    ASSERT_EQ(encoded.code, 0);
    EXPECT_EQ(Decode(*engine, encoded.data).data, data);
  }
}

std::atomic<uint64_t> g_fake_ms{1000000};
uint64_t FakeClock() { return g_fake_ms.load(); }

class OsslKeyCache : public OsslTest {
 protected:
  void SetUp() override {
    OsslTest::SetUp();
    zk::TKeyTimeouts::SetClockForTesting(&FakeClock);
    engine_ = EngineFor(*box_, "alice");
    // The generator is seeded from a seed file, so the key file is read only by the key cache.
    kit::WriteFile(box_->root() + "/rand.seed", RandomBytes(1024, 8));
  }
  void TearDown() override {
    zk::TKeyTimeouts::SetClockForTesting(nullptr);
    OsslTest::TearDown();
  }
  void Advance(uint64_t seconds) { g_fake_ms += seconds * 1000; }
  int32_t SignNow() { return Sign(*engine_, Bytes{1}).code; }
  void RemoveKeyFile() { fs::remove(User("alice").key_path); }

  std::unique_ptr<zk::TOSSLEngine> engine_;
};

TEST_F(OsslKeyCache, KeptWhileBothTimeOutsAllow) {
  ASSERT_EQ(SignNow(), 0);
  RemoveKeyFile();
  for (int i = 0; i < 14; ++i) {
    Advance(4);  // each use restarts the 5-second idle time-out
    EXPECT_EQ(SignNow(), 0) << i;
  }
  Advance(4);  // 60 seconds since the file was read
  EXPECT_EQ(SignNow(), 0);
  Advance(4);
  EXPECT_EQ(SignNow(), -29) << "read again after the key time-out";
}

TEST_F(OsslKeyCache, IdleTimeOutAndDayLongGaps) {
  ASSERT_EQ(SignNow(), 0);
  RemoveKeyFile();
  Advance(6);
  EXPECT_EQ(SignNow(), -29);
  kit::WriteKeyFile(User("alice").key_path, User("alice").key.get());
  Configure(*engine_, kLastOpTimeout, "100");
  ASSERT_EQ(SignNow(), 0);
  RemoveKeyFile();
  Advance(24 * 3600);  // the same time of day, one day later
  EXPECT_EQ(SignNow(), -29);
}

TEST_F(OsslKeyCache, ZeroTimeOutsReadTheFileEveryTime) {
  for (int32_t param : {kKeyTimeout, kLastOpTimeout}) {
    kit::WriteKeyFile(User("alice").key_path, User("alice").key.get());
    auto engine = EngineFor(*box_, "alice");
    Configure(*engine, param, "0");
    ASSERT_EQ(Sign(*engine, Bytes{1}).code, 0);
    RemoveKeyFile();
    EXPECT_EQ(Sign(*engine, Bytes{1}).code, -29) << param;
  }
}

TEST_F(OsslKeyCache, ATimeOutStoredWithTheKeyStillCounts) {
  Configure(*engine_, kKeyTimeout, "10");
  ASSERT_EQ(SignNow(), 0);
  RemoveKeyFile();
  auto patient = EngineFor(*box_, "alice");  // same settings, same cache, longer time-out
  Advance(4);
  EXPECT_EQ(Sign(*patient, Bytes{1}).code, 0);
  Advance(4);
  EXPECT_EQ(Sign(*patient, Bytes{1}).code, 0);
  Advance(4);
  EXPECT_EQ(Sign(*patient, Bytes{1}).code, -29) << "the key was read under a 10-second time-out";
}

class OsslRandom : public OsslTest {
 protected:
  void SetUp() override {
    OsslTest::SetUp();
    zk::ossl::FinalizeOpenSSLAdapter();  // a process that has not seeded its generator yet
  }
};

TEST_F(OsslRandom, ShortSeedFileFallsBackToTheKeyAndIsWrittenAtUnload) {
  const std::string seed = dir_ + "/seed";
  kit::WriteFile(seed, RandomBytes(100, 1));
  auto engine = EngineFor(*box_, "alice");
  Configure(*engine, kRandFile, seed);
  ASSERT_EQ(Sign(*engine, Bytes{1}).code, 0);
  EXPECT_EQ(ReadFileBytes(seed).size(), 100u);
  zk::ossl::FinalizeOpenSSLAdapter();
  const Bytes written = ReadFileBytes(seed);
  ASSERT_EQ(written.size(), 1024u);

  // The next "process" seeds from that file and replaces it again at its end.
  auto next = EngineFor(*box_, "alice");
  Configure(*next, kRandFile, seed);
  ASSERT_EQ(Encode(*next, Bytes{1}, User("bob").uid.c_str()).code, 0);
  zk::ossl::FinalizeOpenSSLAdapter();
  const Bytes rewritten = ReadFileBytes(seed);
  EXPECT_EQ(rewritten.size(), 1024u);
  EXPECT_NE(rewritten, written);
}

TEST_F(OsslRandom, NoSeedFileAndNoKeyFileCannotSeed) {
  auto engine = EngineFor(*box_, "alice");
  Configure(*engine, kRandFile, dir_ + "/absent");
  Configure(*engine, kSecretKey, dir_ + "/absent.key");
  auto signer = EngineFor(*box_, "bob");
  Configure(*signer, kRandFile, dir_ + "/other");
  kit::WriteFile(dir_ + "/other", RandomBytes(1024, 3));
  const SignResult by_bob = Sign(*signer, Bytes{5});
  zk::ossl::FinalizeOpenSSLAdapter();

  EXPECT_EQ(Verify(*engine, Bytes{5}, by_bob.signature).code, -10);
  EXPECT_EQ(Encode(*engine, Bytes{5}, User("bob").uid.c_str()).code, -10);
  EXPECT_EQ(ErrorString(*engine, -10), Cp1251("Невозможно проинициализировать генератор случайных чисел."));
  EXPECT_FALSE(fs::exists(dir_ + "/absent")) << "nothing to write back for an unseeded generator";
  Configure(*engine, kRandFile, dir_ + "/other");
  EXPECT_EQ(Verify(*engine, Bytes{5}, by_bob.signature).code, 0);
}

}  // namespace
}  // namespace ossltest
