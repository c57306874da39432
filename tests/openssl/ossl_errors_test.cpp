// Every failure reached for a real reason: certificates that do not verify, envelopes and
// signatures that are damaged or meant for someone else, bad parameters, missing files.
#include <cstring>

#include "engines/openssl/ossl_api.h"
#include "openssl/ossl_fixture.h"

namespace ossltest {
namespace {

class OsslErrors : public OsslTest {
 protected:
  // A certificate of the sandbox CA (or of `issuer` with `signer`) for `key`, as an abonent file.
  std::string AddAbonent(const std::string& name, kit::CertSpec spec, EVP_PKEY* key, const X509* issuer = nullptr,
                         EVP_PKEY* signer = nullptr) {
    kit::X509Ptr cert = issuer ? kit::MakeCert(spec, key, issuer, signer) : box_->Issue(spec, key);
    kit::WriteCert(box_->abonents_dir() + "/" + name + ".cer", cert.get());
    return kit::SerialUid(cert.get());
  }

  // An engine working as a user whose key and certificate are written here.
  std::unique_ptr<zk::TOSSLEngine> EngineAs(const std::string& name, EVP_PKEY* key, X509* cert) {
    const std::string key_path = dir_ + "/" + name + ".key", cert_path = dir_ + "/" + name + ".cer";
    kit::WriteKeyFile(key_path, key);
    kit::WriteCert(cert_path, cert);
    auto engine = EngineFor(*box_, "alice");
    Configure(*engine, kSecretKey, key_path);
    Configure(*engine, kCertificate, cert_path);
    return engine;
  }

  kit::CertSpec Spec(long not_before, long not_after) {
    kit::CertSpec spec;
    spec.serial = box_->NextSerial();
    spec.not_before_offset = not_before;
    spec.not_after_offset = not_after;
    return spec;
  }

  const Bytes data_ = RandomBytes(300, 42);
};

TEST_F(OsslErrors, CertificatesThatDoNotVerifyAreRefusedForEncryptionAndSignatures) {
  kit::PkeyPtr foreign_ca_key = kit::PooledRsaKey(1024, "foreign ca");
  kit::X509Ptr foreign_ca = kit::MakeCaCert(foreign_ca_key.get(), "Foreign CA");
  kit::PkeyPtr key = kit::PooledRsaKey(1024, "dave");
  const std::string foreign = AddAbonent("foreign", Spec(-3600, 86400), key.get(), foreign_ca.get(), foreign_ca_key.get());
  const std::string expired = AddAbonent("expired", Spec(-7200, -3600), key.get());
  const std::string future = AddAbonent("future", Spec(3600, 7200), key.get());
  // Signed with the right issuer name but the wrong key.
  const std::string forged = AddAbonent("forged", Spec(-3600, 86400), key.get(), box_->ca_cert(), foreign_ca_key.get());

  auto alice = EngineFor(*box_, "alice");
  const std::pair<std::string, int32_t> cases[] = {{foreign, -220}, {expired, -210}, {future, -209}, {forged, -207}};
  for (const auto& [uid, code] : cases) {
    EXPECT_EQ(Encode(*alice, data_, uid.c_str()).code, code) << uid;
  }
  EXPECT_EQ(Encode(*alice, data_, "DEADBEEF").code, -32);

  // The same certificates as signers: their signatures do not verify either.
  kit::X509Ptr expired_cert = box_->Issue(Spec(-7200, -3600), key.get());
  auto signer = EngineAs("dave", key.get(), expired_cert.get());
  const SignResult signed_ = Sign(*signer, data_);
  ASSERT_EQ(signed_.code, 0) << "an expired own certificate still names the UID";
  kit::WriteCert(box_->abonents_dir() + "/expired.cer", expired_cert.get());
  alice->ClearCash();
  EXPECT_EQ(Verify(*alice, data_, signed_.signature).code, -210);
  EXPECT_EQ(ErrorString(*alice, -210),
            "Open SSL certificate verification error. The certificate has expired: that is the notAfter date is before "
            "the current time.");
}

TEST_F(OsslErrors, RevokedCertificatesFailOnlyThroughACrlTheCaSigned) {
  auto alice = EngineFor(*box_, "alice");
  const std::string carol = User("carol").uid;
  ASSERT_EQ(Encode(*alice, data_, carol.c_str()).code, 0);
  auto carol_engine = EngineFor(*box_, "carol");
  const SignResult by_carol = Sign(*carol_engine, data_);
  ASSERT_EQ(by_carol.code, 0);

  // A CRL that revokes carol but is signed by someone else's key changes nothing.
  kit::PkeyPtr wrong = kit::PooledRsaKey(1024, "crl forger");
  kit::CrlPtr forged = kit::MakeCrl(kit::CrlSpec{{{0x2A}}}, box_->ca_cert(), wrong.get());
  kit::WriteCrl(box_->crl_dir() + "/forged.crl", forged.get());
  alice->ClearCash();
  EXPECT_EQ(Encode(*alice, data_, carol.c_str()).code, 0);
  EXPECT_EQ(Verify(*alice, data_, by_carol.signature).code, 0);

  box_->WriteCrlFile(kit::CrlSpec{{{0x2A}}});
  alice->ClearCash();
  EXPECT_EQ(Encode(*alice, data_, carol.c_str()).code, -56);
  EXPECT_EQ(Verify(*alice, data_, by_carol.signature).code, -56);
  EXPECT_EQ(ErrorString(*alice, -56), Cp1251("Сертификат отозван (найден в CRL)."));
  EXPECT_EQ(Encode(*alice, data_, User("bob").uid.c_str()).code, 0) << "others stay valid";
}

TEST_F(OsslErrors, EnvelopesForSomeoneElseOrUnderAnotherKey) {
  auto alice = EngineFor(*box_, "alice");
  const CodecResult for_bob = Encode(*alice, data_, User("bob").uid.c_str());
  ASSERT_EQ(for_bob.code, 0);
  EXPECT_EQ(Decode(*alice, for_bob.data).code, -37);

  // The sender's directory holds a certificate with alice's serial but bob's 2048-bit key.
  const std::string other_dir = dir_ + "/other";
  std::filesystem::create_directories(other_dir);
  kit::CertSpec same_serial;
  same_serial.serial = User("alice").serial;
  kit::WriteCert(other_dir + "/a.cer", box_->Issue(same_serial, User("bob").key.get()).get());
  auto sender = EngineFor(*box_, "carol");
  Configure(*sender, kAbonentsDir, other_dir);
  const CodecResult wrong_size = Encode(*sender, data_, User("alice").uid.c_str());
  ASSERT_EQ(wrong_size.code, 0);
  EXPECT_EQ(Decode(*alice, wrong_size.data).code, -38);

  // Same size, another key: the key block does not decrypt (or, where the library hides padding
  // failures, decrypts to a session key whose digest check fails).
  kit::WriteCert(other_dir + "/a.cer", box_->Issue(same_serial, User("carol").key.get()).get());
  sender->ClearCash();
  const CodecResult wrong_key = Encode(*sender, data_, User("alice").uid.c_str());
  ASSERT_EQ(wrong_key.code, 0);
  const int32_t code = Decode(*alice, wrong_key.data).code;
  EXPECT_TRUE(code == -36 || code == -39) << code;
}

TEST_F(OsslErrors, TamperedCiphertextFailsTheIntegrityCheck) {
  auto alice = EngineFor(*box_, "alice");
  for (const char* cipher : {"RC4", "RC2_ECB", "RC2_CBC", "RC5_ECB", "RC5_CBC"}) {
    Configure(*alice, kEncryptMethod, cipher);
    const CodecResult encoded = Encode(*alice, data_, User("alice").uid.c_str());
    ASSERT_EQ(encoded.code, 0);
    const EnvelopeFields fields = SplitEnvelope(encoded.data);
    // A byte in the middle (every mode then decrypts to other data) and one in the first block
    // (block modes: the length prefix no longer fits).
    for (size_t at : {fields.header_len + fields.ciphertext.size() / 2, size_t{fields.header_len + 1}}) {
      Bytes tampered = encoded.data;
      tampered[at] ^= 0x40;
      EXPECT_EQ(Decode(*alice, tampered).code, -39) << cipher << " at " << at;
    }
  }
}

TEST_F(OsslErrors, DamagedEnvelopeStructure) {
  auto alice = EngineFor(*box_, "alice");
  Configure(*alice, kEncryptMethod, "RC2_ECB");
  const CodecResult encoded = Encode(*alice, data_, User("alice").uid.c_str());
  ASSERT_EQ(encoded.code, 0);
  const size_t n = encoded.data.size();
  auto with = [&](size_t at, uint32_t value) {
    Bytes copy = encoded.data;
    for (int i = 0; i < 4; ++i) copy[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return copy;
  };
  EXPECT_EQ(Decode(*alice, with(0, 0)).code, -36) << "no recipients";
  EXPECT_EQ(Decode(*alice, with(0, 2)).code, -36) << "count does not match the entries";
  EXPECT_EQ(Decode(*alice, with(n - 4, static_cast<uint32_t>(n))).code, -36) << "header beyond the data";
  EXPECT_EQ(Decode(*alice, with(n - 4, 9)).code, -36) << "header ends inside the first UID";
  const size_t key_len_at = 8 + User("alice").uid.size() + 1;
  EXPECT_EQ(Decode(*alice, with(key_len_at, 0)).code, -36) << "empty key block";
  EXPECT_EQ(Decode(*alice, with(key_len_at, 0x7FFFFFFF)).code, -36) << "key block beyond the header";
  EXPECT_EQ(Decode(*alice, with(4, 9)).code, -35) << "unknown algorithm";
  Bytes cut = encoded.data;
  cut.erase(cut.end() - 8, cut.end() - 4);  // half a block of ciphertext gone, HeaderLen kept
  EXPECT_EQ(Decode(*alice, cut).code, -11);
  Bytes rc4_block = with(4, 1);  // read as RC4 the block ciphertext is garbage
  EXPECT_EQ(Decode(*alice, rc4_block).code, -39);
}

TEST_F(OsslErrors, DamagedSignatures) {
  auto alice = EngineFor(*box_, "alice");
  const SignResult signed_ = Sign(*alice, data_);
  ASSERT_EQ(signed_.code, 0);
  const Bytes& s = signed_.signature;
  const size_t uid_len = User("alice").uid.size();

  Bytes changed_data = data_;
  changed_data[0] ^= 1;
  EXPECT_EQ(Verify(*alice, changed_data, s).code, -59);
  Bytes garbled = s;
  garbled[uid_len + 2 + 5] ^= 0x10;
  const int32_t garbled_code = Verify(*alice, data_, garbled).code;
  EXPECT_TRUE(garbled_code > 0 || garbled_code == -59) << garbled_code;
  EXPECT_EQ(Verify(*alice, data_, Bytes(s.begin(), s.end() - 1)).code, -60) << "RSA part one byte short";
  EXPECT_EQ(Verify(*alice, data_, Bytes(s.begin(), s.begin() + static_cast<long>(uid_len) + 2)).code, -60);
  Bytes no_uid(s.begin() + static_cast<long>(uid_len), s.end());
  EXPECT_EQ(Verify(*alice, data_, no_uid).code, -60) << "empty UID";
  Bytes no_nul(s.size(), 'A');
  EXPECT_EQ(Verify(*alice, data_, no_nul).code, -60) << "UID never ends";
  Bytes bad_hash = s;
  bad_hash[uid_len + 1] = 3;
  EXPECT_EQ(Verify(*alice, data_, bad_hash).code, -30);
  Bytes md5_claimed = s;
  md5_claimed[uid_len + 1] = 2;
  EXPECT_EQ(Verify(*alice, data_, md5_claimed).code, -59) << "the DigestInfo names SHA-0";
  Bytes unknown = s;
  unknown[0] = 'Z';
  EXPECT_EQ(Verify(*alice, data_, unknown).code, -32);
}

TEST_F(OsslErrors, ParametersAreCheckedWhenUsed) {
  auto alice = EngineFor(*box_, "alice");
  const CodecResult envelope = Encode(*alice, data_, User("alice").uid.c_str());
  ASSERT_EQ(envelope.code, 0);
  for (const char* bad : {"abc", "-1", "5x"}) {
    for (int32_t param : {kKeyTimeout, kLastOpTimeout}) {
      auto engine = EngineFor(*box_, "alice");
      Configure(*engine, param, bad);
      EXPECT_EQ(Sign(*engine, data_).code, -26) << bad;
      EXPECT_EQ(Decode(*engine, envelope.data).code, -26) << bad;
    }
  }
  Configure(*alice, kKeyTimeout, "");
  Configure(*alice, kLastOpTimeout, " 0 ");
  EXPECT_EQ(Sign(*alice, data_).code, 0) << "empty and blank-padded time-outs are fine";

  Configure(*alice, kHashMethod, "SHA1");
  EXPECT_EQ(Sign(*alice, data_).code, -30);
  Configure(*alice, kEncryptMethod, "AES");
  EXPECT_EQ(Encode(*alice, data_, User("bob").uid.c_str()).code, -34);
  EXPECT_EQ(ErrorString(*alice, -35),
            Cp1251("Задан неверный алгоритм шифрования. Допустимые значения: RC4,RC2_ECB,RC2_CBC,RC5_ECB,RC5_CBC."));
  Configure(*alice, kEncryptMethod, "RC4");
  Configure(*alice, kEncryptForUID, "  ");
  EXPECT_EQ(Encode(*alice, data_, nullptr).code, -34);
  EXPECT_EQ(Encode(*alice, data_, (User("bob").uid + ";;" + User("carol").uid).c_str()).code, -31);
}

TEST_F(OsslErrors, KeyAndCertificateFiles) {
  auto engine = EngineFor(*box_, "alice");
  Configure(*engine, kSecretKey, "");
  Configure(*engine, kRandFile, dir_ + "/rand.seed");  // seeds from a file, not from the key
  Bytes seed(1024, 7);
  kit::WriteFile(dir_ + "/rand.seed", seed);
  EXPECT_EQ(Sign(*engine, data_).code, -28);
  Configure(*engine, kSecretKey, dir_ + "/missing.key");
  EXPECT_EQ(Sign(*engine, data_).code, -29);
  kit::WriteFile(dir_ + "/garbage.key", std::string("bm90IGEga2V5"));  // Base64 of "not a key"
  Configure(*engine, kSecretKey, dir_ + "/garbage.key");
  EXPECT_EQ(Sign(*engine, data_).code, -23);
  kit::WriteFile(dir_ + "/bad64.key", std::string("abc"));
  Configure(*engine, kSecretKey, dir_ + "/bad64.key");
  EXPECT_EQ(Sign(*engine, data_).code, -23);
  kit::WriteFile(dir_ + "/big.key", std::string(3000, 'A'));
  Configure(*engine, kSecretKey, dir_ + "/big.key");
  EXPECT_EQ(Sign(*engine, data_).code, -23) << "only the first 2048 bytes are read, and they are no key";

  char uid[64];
  Configure(*engine, kCertificate, dir_ + "/missing.cer");
  EXPECT_EQ(engine->GetCurrentUID(uid), -15);
  kit::WriteFile(dir_ + "/garbage.cer", std::string("-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n"));
  Configure(*engine, kCertificate, dir_ + "/garbage.cer");
  EXPECT_EQ(engine->GetCurrentUID(uid), -40);
}

TEST_F(OsslErrors, OnlyTheFirst2048BytesOfAKeyFileCount) {
  // A key file with a long tail after the Base64 text: the key itself lies in the first 2048 bytes.
  const std::string padded = dir_ + "/padded.key";
  kit::WriteKeyFile(padded, User("alice").key.get());
  const Bytes key_text = ReadFileBytes(padded);
  std::string text(key_text.begin(), key_text.end());
  text += std::string(3000, '\n');
  kit::WriteFile(padded, text);
  zk::ossl::FinalizeOpenSSLAdapter();  // a process whose generator is not seeded yet
  auto alice = EngineFor(*box_, "alice");
  Configure(*alice, kSecretKey, padded);
  Configure(*alice, kRandFile, dir_ + "/no seed yet");  // seeded from the key file's bytes
  const SignResult signed_ = Sign(*alice, data_);
  ASSERT_EQ(signed_.code, 0);
  EXPECT_EQ(Verify(*alice, data_, signed_.signature).code, 0);
  const CodecResult encoded = Encode(*alice, data_, User("alice").uid.c_str());
  ASSERT_EQ(encoded.code, 0);
  EXPECT_EQ(Decode(*alice, encoded.data).data, data_);
}

TEST_F(OsslErrors, NullPointersAndLimits) {
  auto alice = EngineFor(*box_, "alice");
  int32_t length = 3;
  uint8_t buffer[2048] = {1, 2, 3};
  EXPECT_EQ(alice->SignData(buffer, 3, nullptr, &length, nullptr), -25);
  EXPECT_EQ(alice->SignData(buffer, 3, buffer, nullptr, nullptr), -25);
  EXPECT_EQ(alice->SignData(nullptr, 3, buffer, &length, nullptr), -25);
  EXPECT_EQ(alice->VerifyData(buffer, 3, buffer, 3, nullptr), -25);
  EXPECT_EQ(alice->EncodeData(buffer, nullptr, nullptr), -25);
  EXPECT_EQ(alice->EncodeData(nullptr, &length, nullptr), -25);
  length = -1;
  EXPECT_EQ(alice->DecodeData(buffer, &length, nullptr), -25);
  EXPECT_EQ(alice->GetCurrentUID(nullptr), -25);
  char uid[64] = "x";
  EXPECT_EQ(alice->GetEncodeUIDBySignUID(nullptr, uid), -25);
  EXPECT_EQ(alice->GetEncodeUIDBySignUID("01A2", nullptr), -25);
  EXPECT_EQ(alice->GetEncodeUIDBySignUID("01A2", uid), 0);
  EXPECT_STREQ(uid, "01A2");
  EXPECT_EQ(alice->GetEncodeUIDBySignUID(std::string(32, 'F').c_str(), uid), -31) << "would not fit";
  EXPECT_STREQ(uid, "01A2");

  // Five 2048-bit recipients need more room than GetMaxEncodeAddition promises.
  std::string five = User("bob").uid;
  for (int i = 0; i < 4; ++i) five += ";" + User("bob").uid;
  EXPECT_EQ(Encode(*alice, data_, five.c_str()).code, -25);
  std::string four = User("alice").uid;
  for (int i = 0; i < 3; ++i) four += ";" + User("carol").uid;
  EXPECT_EQ(Encode(*alice, data_, four.c_str()).code, 0);
}

TEST_F(OsslErrors, UidsLongerThanTheLimitAreRefusedNotCut) {
  kit::CertSpec spec;
  spec.serial = Bytes(20, 0x11);  // 40 hex digits
  kit::PkeyPtr key = kit::PooledRsaKey(1024, "long serial");
  kit::X509Ptr cert = box_->Issue(spec, key.get());
  kit::WriteCert(box_->abonents_dir() + "/long.cer", cert.get());
  auto longer = EngineAs("long", key.get(), cert.get());
  char uid[64];
  std::memset(uid, 0x7F, sizeof(uid));
  EXPECT_EQ(longer->GetCurrentUID(uid), -24);
  EXPECT_EQ(uid[0], 0x7F);
  const SignResult own = Sign(*longer, data_);
  EXPECT_EQ(own.code, 0) << "SignData writes the UID into the signature only";

  // Encryption for such a recipient works: nothing is returned to a UID buffer.
  auto alice = EngineFor(*box_, "alice");
  const CodecResult encoded = Encode(*alice, data_, std::string(40, '1').c_str());
  ASSERT_EQ(encoded.code, 0);
  EXPECT_EQ(Decode(*longer, encoded.data).data, data_);

  // A good signature of such a signer cannot report it.
  EXPECT_EQ(Verify(*alice, data_, own.signature).code, -24);
}

}  // namespace
}  // namespace ossltest
