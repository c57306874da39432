// Remembered certificate checks: a successful chain verification is reused, but never past a
// change of what it depended on: the CRLs, the CA certificates, the certificate itself, the
// validity dates of every certificate of the chain, or a minute of age.
#include <openssl/x509.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engines/openssl/ossl_model.h"
#include "openssl/ossl_fixture.h"

namespace ossltest {
namespace {

namespace fs = std::filesystem;
using zk::ossl::TOSSLCertModel;

std::atomic<uint64_t> g_now_ms{5000000};
uint64_t FakeClock() { return g_now_ms.load(); }

class OsslVerified : public OsslTest {
 protected:
  void SetUp() override {
    OsslTest::SetUp();
    TOSSLCertModel::SetClockForTesting(&FakeClock);
    alice_ = EngineFor(*box_, "alice");
  }
  void TearDown() override {
    TOSSLCertModel::SetClockForTesting(nullptr);
    OsslTest::TearDown();
  }

  int32_t EncodeTo(const std::string& uid) { return Encode(*alice_, Bytes{1, 2, 3}, uid.c_str()).code; }
  // How many chain verifications op ran.
  template <typename Op>
  uint64_t ChecksBy(Op op) {
    const uint64_t before = TOSSLCertModel::ChainVerificationCount();
    op();
    return TOSSLCertModel::ChainVerificationCount() - before;
  }
  kit::CertSpec Spec(Bytes serial, long not_before, long not_after) {
    kit::CertSpec spec;
    spec.serial = std::move(serial);
    spec.not_before_offset = not_before;
    spec.not_after_offset = not_after;
    return spec;
  }

  std::unique_ptr<zk::TOSSLEngine> alice_;
};

TEST_F(OsslVerified, ReusedForAMinuteAtMost) {
  const std::string bob = User("bob").uid;
  EXPECT_EQ(ChecksBy([&] { ASSERT_EQ(EncodeTo(bob), 0); }), 1u);
  auto bob_engine = EngineFor(*box_, "bob");
  const SignResult by_bob = Sign(*bob_engine, Bytes{7});
  ASSERT_EQ(by_bob.code, 0);
  EXPECT_EQ(ChecksBy([&] {
              EXPECT_EQ(EncodeTo(bob), 0);
              EXPECT_EQ(Verify(*alice_, Bytes{7}, by_bob.signature).code, 0);
            }),
            0u)
      << "signatures and envelopes share the remembered check";
  g_now_ms += 59 * 1000;
  EXPECT_EQ(ChecksBy([&] { EXPECT_EQ(EncodeTo(bob), 0); }), 0u);
  g_now_ms += 2 * 1000;
  EXPECT_EQ(ChecksBy([&] { EXPECT_EQ(EncodeTo(bob), 0); }), 1u) << "older than a minute";
  alice_->ClearCash();
  EXPECT_EQ(ChecksBy([&] { EXPECT_EQ(EncodeTo(bob), 0); }), 1u);
  EXPECT_EQ(ChecksBy([&] { EXPECT_EQ(EncodeTo("DEADBEEF"), -32); }), 0u);
}

TEST_F(OsslVerified, RevocationCountsAtOnceInEveryConfiguration) {
  const std::string carol = User("carol").uid;
  auto carol_engine = EngineFor(*box_, "carol");
  const SignResult by_carol = Sign(*carol_engine, Bytes{3});
  auto bob = EngineFor(*box_, "bob");
  Configure(*bob, kCRLDir, box_->crl_dir() + "//");  // other settings, the same directory
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(EncodeTo(carol), 0);
    ASSERT_EQ(Verify(*alice_, Bytes{3}, by_carol.signature).code, 0);
    ASSERT_EQ(Verify(*bob, Bytes{3}, by_carol.signature).code, 0);
  }

  const std::string crl = dir_ + "/revokes-carol.crl";
  kit::WriteCrl(crl, kit::MakeCrl(kit::CrlSpec{{{0x2A}}}, box_->ca_cert(), box_->ca_key()).get());
  ASSERT_EQ(alice_->IncludeCRL(crl.c_str()), 0);
  EXPECT_EQ(EncodeTo(carol), -56);
  EXPECT_EQ(Verify(*alice_, Bytes{3}, by_carol.signature).code, -56);
  EXPECT_EQ(Verify(*bob, Bytes{3}, by_carol.signature).code, -56);
  EXPECT_EQ(EncodeTo(User("bob").uid), 0);
}

TEST_F(OsslVerified, ChangedCaCertificatesAreCheckedAgain) {
  const std::string bob = User("bob").uid;
  ASSERT_EQ(EncodeTo(bob), 0);
  const Bytes ca_file = ReadFileBytes(box_->ca_cert_path());
  kit::PkeyPtr other_key = kit::PooledRsaKey(1024, "other ca");
  kit::X509Ptr other_ca = kit::MakeCaCert(other_key.get(), "Other CA");
  kit::WriteCert(box_->ca_cert_path(), other_ca.get());
  alice_->ClearCash();
  EXPECT_EQ(EncodeTo(bob), -220) << "the CA that issued bob is gone";

  kit::WriteFile(box_->ca_cert_path(), ca_file);
  ASSERT_EQ(alice_->UpdateCertificateCash(User("alice").uid.c_str()), 0);
  EXPECT_EQ(EncodeTo(bob), 0);

  // Another CA directory is another configuration, with nothing of this one's results.
  const std::string other_dir = dir_ + "/other-ca";
  fs::create_directory(other_dir);
  kit::WriteCert(other_dir + "/other.cer", other_ca.get());
  Configure(*alice_, kCADir, other_dir);
  EXPECT_EQ(EncodeTo(bob), -220);
  Configure(*alice_, kCADir, box_->ca_dir());
  EXPECT_EQ(EncodeTo(bob), 0);
}

TEST_F(OsslVerified, AReplacedCertificateIsCheckedAgain) {
  const kit::SandboxUser& bob = User("bob");
  ASSERT_EQ(EncodeTo(bob.uid), 0);
  kit::X509Ptr expired = box_->Issue(Spec(bob.serial, -7200, -3600), bob.key.get());
  kit::WriteCert(bob.abonent_cert_path, expired.get());
  ASSERT_EQ(alice_->UpdateCertificateCash(bob.uid.c_str()), 0);
  EXPECT_EQ(EncodeTo(bob.uid), -210);

  kit::X509Ptr renewed = box_->Issue(Spec(bob.serial, -60, 86400), bob.key.get());
  kit::WriteCert(dir_ + "/renewed.cer", renewed.get());
  ASSERT_EQ(alice_->IncludePublicKey((dir_ + "/renewed.cer").c_str()), 0);
  EXPECT_EQ(EncodeTo(bob.uid), 0);
  kit::WriteCert(dir_ + "/expired.cer", expired.get());
  ASSERT_EQ(alice_->IncludePublicKey((dir_ + "/expired.cer").c_str()), 0);
  EXPECT_EQ(EncodeTo(bob.uid), -210);
}

// Waits (briefly) until libcrypto itself counts the certificate as expired.
void WaitUntilExpired(const X509* cert) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (X509_cmp_time(X509_get0_notAfter(cert), nullptr) > 0 && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

TEST_F(OsslVerified, ExpiryOfTheCertificateOrItsCaEndsARememberedCheck) {
  // frank's certificate has two seconds left; erin's has a year, under a CA with two seconds left.
  kit::PkeyPtr user_key = kit::PooledRsaKey(1024, "short-lived user");
  kit::PkeyPtr ca_key = kit::PooledRsaKey(1024, "short-lived ca");
  kit::CertSpec ca_spec = Spec(box_->NextSerial(), -60, 2);
  ca_spec.is_ca = true;
  ca_spec.common_name = "Short-lived CA";
  kit::X509Ptr short_ca = kit::MakeCert(ca_spec, ca_key.get(), nullptr, ca_key.get());
  kit::X509Ptr frank = box_->Issue(Spec(box_->NextSerial(), -60, 2), user_key.get());
  kit::X509Ptr erin = kit::MakeCert(Spec(box_->NextSerial(), -60, 365L * 86400), user_key.get(), short_ca.get(),
                                    ca_key.get());
  kit::WriteCert(box_->ca_dir() + "/short.cer", short_ca.get());
  kit::WriteCert(box_->abonents_dir() + "/frank.cer", frank.get());
  kit::WriteCert(box_->abonents_dir() + "/erin.cer", erin.get());
  const std::string uids[] = {kit::SerialUid(frank.get()), kit::SerialUid(erin.get())};

  for (const std::string& uid : uids) ASSERT_EQ(EncodeTo(uid), 0) << uid;
  EXPECT_EQ(ChecksBy([&] {
              for (const std::string& uid : uids) EXPECT_EQ(EncodeTo(uid), 0) << uid;
            }),
            0u)
      << "remembered";
  WaitUntilExpired(frank.get());
  WaitUntilExpired(short_ca.get());
  for (const std::string& uid : uids) EXPECT_EQ(EncodeTo(uid), -210) << uid;
}

}  // namespace
}  // namespace ossltest
