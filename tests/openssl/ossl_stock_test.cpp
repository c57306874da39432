// The certificate stock: what IncludePublicKey, RemoveCertificate, UpdateCertificateCash and
// IncludeCRL do to the directories on disk and to the model that mirrors them.
#include <functional>
#include <set>

#include "openssl/ossl_fixture.h"
#include "platform/platform.h"

namespace ossltest {
namespace {

namespace fs = std::filesystem;

class OsslStock : public OsslTest {
 protected:
  std::set<std::string> Files(const std::string& dir) const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
  }

  kit::X509Ptr NewCert(const std::string& label, Bytes serial = {}) {
    kit::CertSpec spec;
    spec.serial = serial.empty() ? box_->NextSerial() : serial;
    key_ = kit::PooledRsaKey(1024, label);
    return box_->Issue(spec, key_.get());
  }

  int32_t EncodeFor(zk::TCryptoEngine& engine, const std::string& uid) {
    return Encode(engine, Bytes{1, 2, 3}, uid.c_str()).code;
  }

  kit::PkeyPtr key_;
};

TEST_F(OsslStock, IncludePublicKeyWritesTheNextNumberedFileAndReplacesTheSameUid) {
  auto alice = EngineFor(*box_, "alice");
  kit::X509Ptr dave = NewCert("dave");
  const std::string uid = kit::SerialUid(dave.get());
  kit::WriteCert(dir_ + "/dave.pem", dave.get(), kit::CertFormat::kPemCrLf);
  EXPECT_EQ(EncodeFor(*alice, uid), -32) << "the model is loaded before dave arrives";

  alice->SetEngineRootPath(dir_);
  ASSERT_EQ(alice->IncludePublicKey("%ZEXRoot%\\dave.pem"), 0);
  EXPECT_EQ(Files(box_->abonents_dir()), (std::set<std::string>{"alice.cer", "bob.cer", "carol.cer", "c1.cer"}));
  EXPECT_EQ(ReadFileBytes(box_->abonents_dir() + "/c1.cer"), kit::CertToDer(dave.get()));
  EXPECT_EQ(EncodeFor(*alice, uid), 0) << "the list was reloaded";

  // A re-issued certificate of bob (PEM with "\n") takes the place of bob.cer.
  kit::X509Ptr bob2 = NewCert("bob again", User("bob").serial);
  kit::WriteCert(dir_ + "/bob2.pem", bob2.get(), kit::CertFormat::kPemLf);
  ASSERT_EQ(alice->IncludePublicKey((dir_ + "/bob2.pem").c_str()), 0);
  EXPECT_EQ(Files(box_->abonents_dir()), (std::set<std::string>{"alice.cer", "carol.cer", "c1.cer", "c2.cer"}));
  EXPECT_EQ(ReadFileBytes(box_->abonents_dir() + "/c2.cer"), kit::CertToDer(bob2.get()));
  const CodecResult to_bob = Encode(*alice, Bytes{9}, User("bob").uid.c_str());
  ASSERT_EQ(to_bob.code, 0);
  EXPECT_EQ(RsaDecryptKeyBlock(key_.get(), SplitEnvelope(to_bob.data).entries.at(0).key_block).size(), 32u)
      << "encrypted under the new key";
}

TEST_F(OsslStock, IncludePublicKeyRefusals) {
  auto alice = EngineFor(*box_, "alice");
  const std::set<std::string> before = Files(box_->abonents_dir());
  EXPECT_EQ(alice->IncludePublicKey(User("alice").cert_path.c_str()), -41);
  EXPECT_EQ(alice->IncludePublicKey((dir_ + "/missing.cer").c_str()), -15);
  kit::WriteFile(dir_ + "/text.cer", std::string("not a certificate"));
  EXPECT_EQ(alice->IncludePublicKey((dir_ + "/text.cer").c_str()), -40);
  EXPECT_EQ(alice->IncludePublicKey(nullptr), -25);
  EXPECT_EQ(Files(box_->abonents_dir()), before);

  Configure(*alice, kAbonentsDir, dir_ + "/no such dir");
  kit::WriteCert(dir_ + "/dave.cer", NewCert("dave").get());
  EXPECT_EQ(alice->IncludePublicKey((dir_ + "/dave.cer").c_str()), -42);
}

TEST_F(OsslStock, RemoveCertificateDeletesFilesAndEveryCachedCopy) {
  auto alice = EngineFor(*box_, "alice");
  auto carol = EngineFor(*box_, "carol");  // other settings, same directory spelled otherwise
  Configure(*carol, kAbonentsDir, box_->abonents_dir() + "//");
  ASSERT_EQ(EncodeFor(*alice, User("bob").uid), 0);
  ASSERT_EQ(EncodeFor(*carol, User("bob").uid), 0);

  EXPECT_EQ(alice->RemoveCertificate(User("bob").uid.c_str()), 0);
  EXPECT_EQ(Files(box_->abonents_dir()), (std::set<std::string>{"alice.cer", "carol.cer"}));
  EXPECT_EQ(EncodeFor(*alice, User("bob").uid), -32);
  EXPECT_EQ(EncodeFor(*carol, User("bob").uid), -32) << "no stale copy in another configuration";

  EXPECT_EQ(alice->RemoveCertificate(User("alice").uid.c_str()), -44);
  EXPECT_EQ(alice->RemoveCertificate(""), -31);
  EXPECT_EQ(alice->RemoveCertificate("77"), 0) << "nothing to remove is no failure";
  EXPECT_EQ(Files(box_->abonents_dir()), (std::set<std::string>{"alice.cer", "carol.cer"}));
}

TEST_F(OsslStock, UpdateCertificateCashLoadsOneFileOrRebuildsTheOwnModel) {
  auto alice = EngineFor(*box_, "alice");
  ASSERT_EQ(EncodeFor(*alice, User("bob").uid), 0);
  kit::X509Ptr dave = NewCert("dave");
  const std::string uid = kit::SerialUid(dave.get());
  kit::WriteCert(box_->abonents_dir() + "/dropped-in.cer", dave.get());
  EXPECT_EQ(EncodeFor(*alice, uid), -32);
  EXPECT_EQ(alice->UpdateCertificateCash(uid.c_str()), 0);
  EXPECT_EQ(EncodeFor(*alice, uid), 0);
  EXPECT_EQ(EncodeFor(*alice, User("bob").uid), 0) << "the rest of the list is kept";
  EXPECT_EQ(alice->UpdateCertificateCash("ABCDEF"), -43);

  // The own certificate replaced on disk: seen after an update for the own UID.
  kit::X509Ptr renewed = NewCert("alice renewed");
  kit::WriteCert(User("alice").cert_path, renewed.get());
  char uid_text[64];
  ASSERT_EQ(alice->GetCurrentUID(uid_text), 0);
  EXPECT_EQ(uid_text, User("alice").uid);
  EXPECT_EQ(alice->UpdateCertificateCash(User("alice").uid.c_str()), 0);
  ASSERT_EQ(alice->GetCurrentUID(uid_text), 0);
  EXPECT_EQ(uid_text, kit::SerialUid(renewed.get()));
}

TEST_F(OsslStock, IncludeCrlRetiresTheIssuersOldCrlAndMovesTheNewOneIn) {
  auto alice = EngineFor(*box_, "alice");
  ASSERT_EQ(EncodeFor(*alice, User("carol").uid), 0);
  const std::string first = dir_ + "/first.crl";
  kit::WriteCrl(first, kit::MakeCrl(kit::CrlSpec{{{0x2A}}}, box_->ca_cert(), box_->ca_key()).get(),
                kit::CertFormat::kPemCrLf);
  ASSERT_EQ(alice->IncludeCRL(first.c_str()), 0);
  EXPECT_FALSE(fs::exists(first)) << "moved, not copied";
  EXPECT_EQ(Files(box_->crl_dir()), (std::set<std::string>{"ca.old", "c1.crl"}));
  EXPECT_EQ(EncodeFor(*alice, User("carol").uid), -56);

  const std::string second = dir_ + "/second.crl";
  kit::WriteCrl(second, kit::MakeCrl(kit::CrlSpec{{User("bob").serial}}, box_->ca_cert(), box_->ca_key()).get());
  ASSERT_EQ(alice->IncludeCRL(second.c_str()), 0);
  // The new list takes the next free number: the old one is retired only once the new one serves.
  EXPECT_EQ(Files(box_->crl_dir()), (std::set<std::string>{"ca.old", "c1.old", "c2.crl"}));
  EXPECT_EQ(EncodeFor(*alice, User("carol").uid), 0) << "the first CRL is retired";
  EXPECT_EQ(EncodeFor(*alice, User("bob").uid), -56);
}

using Change = zk::platform::FileChange;
Change g_failing;
bool FailOneKindOfChange(Change change, const std::string&) { return change == g_failing; }

// Each way an include can fail, run with the way clear afterwards.
struct Obstacle {
  const char* what;
  std::function<void()> set, clear;
};

// Whatever stops an include of bob's re-issued certificate, bob's old one is still on disk and
// still the one messages are sealed for.
TEST_F(OsslStock, FailedIncludePublicKeyLeavesTheOldCertificateServing) {
  auto alice = EngineFor(*box_, "alice");
  kit::X509Ptr bob2 = NewCert("bob again", User("bob").serial);
  kit::WriteCert(dir_ + "/bob2.cer", bob2.get());
  const std::set<std::string> before = Files(box_->abonents_dir());
  const Bytes old = ReadFileBytes(box_->abonents_dir() + "/bob.cer");
  const std::string inTheWay = box_->abonents_dir() + "/c1.cer";
  const std::vector<Obstacle> obstacles = {
      {"write", [] { g_failing = Change::Create; zk::platform::SetFileFaultHookForTesting(&FailOneKindOfChange); },
       [] { zk::platform::SetFileFaultHookForTesting(nullptr); }},
      {"move", [] { g_failing = Change::Move; zk::platform::SetFileFaultHookForTesting(&FailOneKindOfChange); },
       [] { zk::platform::SetFileFaultHookForTesting(nullptr); }},
      {"directory", [&] { fs::create_directory(inTheWay); }, [&] { fs::remove(inTheWay); }},
  };
  for (const Obstacle& obstacle : obstacles) {
    obstacle.set();
    EXPECT_EQ(alice->IncludePublicKey((dir_ + "/bob2.cer").c_str()), -20) << obstacle.what;
    obstacle.clear();
    EXPECT_EQ(Files(box_->abonents_dir()), before) << obstacle.what;
    EXPECT_EQ(ReadFileBytes(box_->abonents_dir() + "/bob.cer"), old);
    alice->ClearCash();
    const CodecResult sealed = Encode(*alice, Bytes{7}, User("bob").uid.c_str());
    ASSERT_EQ(sealed.code, 0);
    EXPECT_EQ(Decode(*EngineFor(*box_, "bob"), sealed.data).code, 0) << obstacle.what;
  }
}

// Whatever stops an include of a newer CRL, the issuer's current list still revokes carol.
TEST_F(OsslStock, FailedIncludeCrlLeavesTheOldListServing) {
  auto alice = EngineFor(*box_, "alice");
  const std::string first = dir_ + "/first.crl";
  kit::WriteCrl(first, kit::MakeCrl(kit::CrlSpec{{User("carol").serial}}, box_->ca_cert(), box_->ca_key()).get());
  ASSERT_EQ(alice->IncludeCRL(first.c_str()), 0);  // ca.crl -> ca.old, c1.crl
  const std::string second = dir_ + "/second.crl";
  kit::WriteCrl(second, kit::MakeCrl(kit::CrlSpec{}, box_->ca_cert(), box_->ca_key()).get());
  const std::set<std::string> before = Files(box_->crl_dir());
  const std::string nextList = box_->crl_dir() + "/c2.crl", archive = box_->crl_dir() + "/c1.old";
  const std::vector<Obstacle> obstacles = {
      {"write", [] { g_failing = Change::Create; zk::platform::SetFileFaultHookForTesting(&FailOneKindOfChange); },
       [] { zk::platform::SetFileFaultHookForTesting(nullptr); }},
      {"directory at the new name", [&] { fs::create_directory(nextList); }, [&] { fs::remove(nextList); }},
      {"directory at the archive name", [&] { fs::create_directory(archive); }, [&] { fs::remove(archive); }},
  };
  for (const Obstacle& obstacle : obstacles) {
    obstacle.set();
    EXPECT_EQ(alice->IncludeCRL(second.c_str()), -20) << obstacle.what;
    obstacle.clear();
    EXPECT_EQ(Files(box_->crl_dir()), before) << obstacle.what;
    EXPECT_TRUE(fs::exists(second)) << obstacle.what;
    alice->ClearCash();
    EXPECT_EQ(EncodeFor(*alice, User("carol").uid), -56) << obstacle.what;
  }
  ASSERT_EQ(alice->IncludeCRL(second.c_str()), 0);
  EXPECT_EQ(EncodeFor(*alice, User("carol").uid), 0);
}

TEST_F(OsslStock, IncludeCrlRefusals) {
  auto alice = EngineFor(*box_, "alice");
  const std::set<std::string> before = Files(box_->crl_dir());
  kit::PkeyPtr wrong = kit::PooledRsaKey(1024, "crl forger");
  const std::string forged = dir_ + "/forged.crl";
  kit::WriteCrl(forged, kit::MakeCrl(kit::CrlSpec{{{0x2A}}}, box_->ca_cert(), wrong.get()).get());
  EXPECT_EQ(alice->IncludeCRL(forged.c_str()), -57);
  EXPECT_TRUE(fs::exists(forged));
  kit::X509Ptr foreign_ca = kit::MakeCaCert(wrong.get(), "Foreign CA");
  const std::string foreign = dir_ + "/foreign.crl";
  kit::WriteCrl(foreign, kit::MakeCrl(kit::CrlSpec{}, foreign_ca.get(), wrong.get()).get());
  EXPECT_EQ(alice->IncludeCRL(foreign.c_str()), -57);
  kit::WriteFile(dir_ + "/text.crl", std::string("-----BEGIN X509 CRL-----\nAAAA\n-----END X509 CRL-----\n"));
  EXPECT_EQ(alice->IncludeCRL((dir_ + "/text.crl").c_str()), -52);
  EXPECT_EQ(alice->IncludeCRL((dir_ + "/missing.crl").c_str()), -53);
  EXPECT_EQ(Files(box_->crl_dir()), before);

  const std::string good = dir_ + "/good.crl";
  kit::WriteCrl(good, kit::MakeCrl(kit::CrlSpec{}, box_->ca_cert(), box_->ca_key()).get());
  Configure(*alice, kCADir, dir_ + "/no ca");
  EXPECT_EQ(alice->IncludeCRL(good.c_str()), -54);
  // The directory is there but holds no issuer for the CRL: that is the CRL's fault, not the setting's.
  fs::create_directories(dir_ + "/empty ca");
  Configure(*alice, kCADir, dir_ + "/empty ca");
  EXPECT_EQ(alice->IncludeCRL(good.c_str()), -57);
  Configure(*alice, kCADir, box_->ca_dir());
  Configure(*alice, kCRLDir, dir_ + "/no crl");
  EXPECT_EQ(alice->IncludeCRL(good.c_str()), -55);
  EXPECT_TRUE(fs::exists(good));
}

TEST_F(OsslStock, ClearCashRereadsTheDirectories) {
  auto alice = EngineFor(*box_, "alice");
  ASSERT_EQ(EncodeFor(*alice, User("carol").uid), 0);
  box_->WriteCrlFile(kit::CrlSpec{{{0x2A}}});
  EXPECT_EQ(EncodeFor(*alice, User("carol").uid), 0) << "CRLs are cached";
  alice->ClearCash();
  EXPECT_EQ(EncodeFor(*alice, User("carol").uid), -56);
}

}  // namespace
}  // namespace ossltest
