// Certificates and CRLs in the local store, and an independent check of the stand-in's CMS with
// plain OpenSSL (Linux only).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "validata/vldt_fixture.h"

namespace vtest {
namespace {

constexpr int32_t kRevoked = 6, kUntrusted = 4;

class ValidataStore : public ::testing::Test {
 protected:
  void SetUp() override { StandIn::Get().Control("reset"); }
  zk::test::TempDir stores_;
  std::string Stores() const { return stores_.Dir(); }
};

int32_t EncodeFor(zk::TCryptoEngine& engine, const char* uids) {
  Bytes buf(4 + 4096, 1);
  int32_t len = 4;
  return engine.EncodeData(buf.data(), &len, uids);
}

TEST_F(ValidataStore, RevocationTakesEffectAtOnce) {
  const StandIn& s = StandIn::Get();
  auto alice = EngineFor("alice", Stores());
  ASSERT_EQ(alice->IncludePublicKey(Pki::Get().Cert("bob").c_str()), 0);
  ASSERT_EQ(alice->IncludePublicKey(Pki::Get().Cert("carol").c_str()), 0);
  ASSERT_EQ(EncodeFor(*alice, "bob"), 0);
  const std::string crl = Stores() + "/bob.crl", forged = Stores() + "/forged.crl";
  ASSERT_EQ(s.MakeCrl(Pki::Get().CaDir().c_str(), Pki::Get().Cert("bob").c_str(), crl.c_str(), 1), 0);
  ASSERT_EQ(s.MakeCrl(Pki::Get().Other().c_str(), Pki::Get().Cert("carol").c_str(), forged.c_str(), 0), 0);
  EXPECT_EQ(alice->IncludeCRL(forged.c_str()), kUntrusted) << "an authority nobody trusts";
  ASSERT_EQ(alice->IncludeCRL(crl.c_str()), 0) << "PEM armour";
  EXPECT_EQ(EncodeFor(*alice, "bob"), kRevoked);
  EXPECT_EQ(EncodeFor(*alice, "carol"), 0);
  // Bob's signatures are refused too.
  auto bob = EngineFor("bob", Stores());
  Bytes sig(2048);
  int32_t len = 0;
  const uint8_t data[] = {5};
  ASSERT_EQ(bob->SignData(data, 1, sig.data(), &len, ""), 0);
  char result[4096] = {};
  EXPECT_EQ(alice->VerifyData(data, 1, sig.data(), len, result), kRevoked);
  // The store keeps it for the next context.
  alice->ClearCash();
  EXPECT_EQ(EncodeFor(*alice, "bob"), kRevoked);
  EXPECT_EQ(alice->IncludeCRL((Stores() + "/none.crl").c_str()), zk::validata::kErrCrlRead);
  const std::string plain = Stores() + "/plain.crl";
  WriteBytes(plain, Bytes{'n', 'o', ' ', 'a', 'r', 'm', 'o', 'u', 'r'});
  EXPECT_EQ(alice->IncludeCRL(plain.c_str()), zk::validata::kErrCrlFormat);
}

// A store write stopped halfway, or whose move into place fails, leaves the store file and the
// context as they were, and nothing beside the store; the same change then succeeds.
// A recipient's authority is checked on every encryption, whatever was checked before: after
// alice used bob's certificate, a same-named impostor authority neither vouches for it (mallory,
// who trusts only the impostor) nor has its own certificate with bob's name and serial taken.
TEST_F(ValidataStore, ImpostorAuthorityRefusedAfterTheRealOne) {
  const StandIn& s = StandIn::Get();
  const std::string rogue = Stores() + "/rogue";
  ASSERT_EQ(s.MakeCa(rogue.c_str(), "C=RU,O=Bank,CN=Root"), 0);
  for (const char* user : {"bob", "mallory"}) {
    const std::string subject = std::string("C=RU,O=Bank,CN=") + user, path = rogue + "/" + user;
    ASSERT_EQ(s.MakePse(rogue.c_str(), subject.c_str(), "0A02", 0xA0, "", -86400, 86400, (path + ".pse").c_str(),
                        (path + ".cer").c_str(), 0),
              0);
  }
  auto alice = EngineFor("alice", Stores());
  ASSERT_EQ(alice->IncludePublicKey(Pki::Get().Cert("bob").c_str()), 0);
  for (int round = 0; round < 2; ++round) ASSERT_EQ(EncodeFor(*alice, "bob"), 0);

  auto mallory = std::make_unique<zk::TValidataEngine>();
  Configure(*mallory, kPse, rogue + "/mallory.pse");
  Configure(*mallory, kStore, rogue + "/mallory.store");
  ASSERT_EQ(s.AddToStore((rogue + "/mallory.store").c_str(), Pki::Get().Cert("bob").c_str()), 0);
  EXPECT_EQ(EncodeFor(*mallory, "bob"), kUntrusted);

  ASSERT_EQ(s.AddToStore((Stores() + "/alice.store").c_str(), (rogue + "/bob.cer").c_str()), 0);
  alice->ClearCash();  // the store file is read again
  EXPECT_EQ(EncodeFor(*alice, "bob"), kUntrusted);
}

TEST_F(ValidataStore, FailedStoreWriteLeavesTheStoreAsItWas) {
  const StandIn& s = StandIn::Get();
  const std::string crl = Stores() + "/bob.crl";
  ASSERT_EQ(s.MakeCrl(Pki::Get().CaDir().c_str(), Pki::Get().Cert("bob").c_str(), crl.c_str(), 1), 0);
  using Engine = zk::TCryptoEngine;
  struct Change {
    const char* name;
    std::function<int32_t(Engine&)> run;
    std::function<bool(Engine&)> done;
  };
  const Change changes[] = {
      {"cert", [](Engine& e) { return e.IncludePublicKey(Pki::Get().Cert("carol").c_str()); },
       [](Engine& e) { return EncodeFor(e, "carol") == 0; }},
      {"pse", [](Engine& e) { return e.IncludePublicKey(Pki::Get().Pse("carol").c_str()); },
       [](Engine& e) { return EncodeFor(e, "carol") == 0; }},
      {"crl", [&](Engine& e) { return e.IncludeCRL(crl.c_str()); },
       [](Engine& e) { return EncodeFor(e, "bob") == kRevoked; }},
  };
  for (const std::string fault : {"StoreWrite", "StoreMove"}) {
    for (const Change& c : changes) {
      SCOPED_TRACE(fault + " " + c.name);
      const std::string dir = Stores() + "/" + fault + "-" + c.name;
      std::filesystem::create_directories(dir);
      auto alice = EngineFor("alice", dir);
      ASSERT_EQ(alice->IncludePublicKey(Pki::Get().Cert("bob").c_str()), 0);
      // The engine hands paths over upper-cased: the store is created under that name.
      const std::string store = dir + "/ALICE.STORE";
      const Bytes before = ReadBytes(store);
      ASSERT_FALSE(before.empty());
      ASSERT_EQ(s.Control(("fail " + fault + " 1 8").c_str()), 0);
      EXPECT_NE(c.run(*alice), 0);
      EXPECT_EQ(ReadBytes(store), before);
      int files = 0;
      for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        files += entry.path().filename().string() != "ALICE.STORE";
      }
      EXPECT_EQ(files, 0) << "a file left beside the store";
      EXPECT_FALSE(c.done(*alice));
      auto fresh = EngineFor("alice", dir);
      fresh->ClearCash();
      EXPECT_FALSE(c.done(*fresh));
      EXPECT_EQ(EncodeFor(*fresh, "bob"), 0) << "bob stays known";
      ASSERT_EQ(c.run(*fresh), 0);
      EXPECT_TRUE(c.done(*fresh));
    }
  }
}

TEST_F(ValidataStore, CertificateFiles) {
  auto alice = EngineFor("alice", Stores());
  const std::string dir = Stores();
  WriteBytes(dir + "/text.cer", Bytes{'h', 'e', 'l', 'l', 'o'});
  EXPECT_EQ(alice->IncludePublicKey((dir + "/text.cer").c_str()), zk::validata::kErrCertFormat);
  // Larger than 4096 bytes: refused, never cut to a prefix.
  Bytes big = ReadBytes(Pki::Get().Cert("bob"));
  big.resize(5000, '\n');
  WriteBytes(dir + "/big.cer", big);
  EXPECT_EQ(alice->IncludePublicKey((dir + "/big.cer").c_str()), zk::validata::kErrCertLoad);
  EXPECT_EQ(alice->IncludePublicKey((dir + "/missing.cer").c_str()), zk::validata::kErrCertLoad);
  // Another authority's certificate is not stored.
  ASSERT_EQ(StandIn::Get().MakePse(Pki::Get().Other().c_str(), "CN=mallory", "01", 0x80, "", -60, 3600,
                                   (dir + "/m.pse").c_str(), (dir + "/m.cer").c_str(), 0),
            0);
  EXPECT_EQ(alice->IncludePublicKey((dir + "/m.cer").c_str()), kUntrusted);
  EXPECT_NE(EncodeFor(*alice, "mallory"), 0);
  // A PSE (any case of the extension) is imported: its certificates, never its key.
  std::rename(Pki::Get().Pse("dave").c_str(), (dir + "/dave.PSE").c_str());
  const int32_t imported = alice->IncludePublicKey((dir + "/dave.PSE").c_str());
  std::rename((dir + "/dave.PSE").c_str(), Pki::Get().Pse("dave").c_str());
  ASSERT_EQ(imported, 0);
  EXPECT_EQ(StandIn::Get().Calls("VCERT_ImportFile"), 1);
  EXPECT_EQ(EncodeFor(*alice, "dave"), 0);
}

// A store of many correspondents read from its file: each found by its own name or serial (the
// stand-in's indexes), none by a name it lacks, and a certificate added twice kept once.
TEST_F(ValidataStore, ManyCorrespondentsInTheStoreFile) {
  const std::string store = Stores() + "/alice.store";
  ASSERT_EQ(StandIn::Get().FillStore(Pki::Get().CaDir().c_str(), store.c_str(), Pki::Get().Cert("bob").c_str(),
                                     "C=RU,O=Bank,CN=corr", 40),
            0);
  auto alice = EngineFor("alice", Stores());
  for (const char* uid : {"corr0", "corr17", "corr39"}) EXPECT_EQ(EncodeFor(*alice, uid), 0) << uid;
  EXPECT_EQ(EncodeFor(*alice, "corr40"), zk::validata::kErrCertChoice);
  EXPECT_EQ(EncodeFor(*alice, "corr1;corr2;corr3"), 0);
  const auto size = std::filesystem::file_size(store);
  ASSERT_EQ(alice->IncludePublicKey(Pki::Get().Cert("bob").c_str()), 0);
  ASSERT_EQ(alice->IncludePublicKey(Pki::Get().Cert("bob").c_str()), 0);
  EXPECT_EQ(std::filesystem::file_size(store), size + std::filesystem::file_size(Pki::Get().Cert("bob")) + 5);
  EXPECT_EQ(EncodeFor(*alice, "bob"), 0);
}

#if !defined(_WIN32)
// OpenSSL on the command line, when present.
bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }
#endif

TEST_F(ValidataStore, OpenSslAgrees) {
#if defined(_WIN32)
  GTEST_SKIP() << "the independent check runs on Linux";
#else
  if (!Shell("openssl version")) GTEST_SKIP() << "no openssl";
  const std::string d = Stores();
  const Pki& pki = Pki::Get();
  ASSERT_TRUE(Shell("openssl x509 -inform DER -in " + pki.CaDir() + "/ca.cer -out " + d + "/ca.pem"));
  for (const char* user : {"alice", "bob"}) {
    ASSERT_TRUE(Shell("openssl x509 -inform DER -in " + pki.Cert(user) + " -out " + d + "/" + user + ".pem"));
    ASSERT_EQ(StandIn::Get().ExportKey(pki.Pse(user).c_str(), (d + "/" + user + ".key").c_str()), 0);
  }
  auto alice = EngineFor("alice", d);
  auto bob = EngineFor("bob", d);
  ASSERT_EQ(alice->IncludePublicKey(pki.Cert("bob").c_str()), 0);
  const Bytes data = {'o', 'r', 'd', 'e', 'r', ' ', '4', '2'};
  WriteBytes(d + "/data", data);
  // The engine's signature, checked by OpenSSL; one flipped bit is refused.
  Bytes sig(2048);
  int32_t len = 0;
  ASSERT_EQ(alice->SignData(data.data(), 8, sig.data(), &len, ""), 0);
  sig.resize(static_cast<size_t>(len));
  WriteBytes(d + "/sig", sig);
  const std::string verify = "openssl cms -verify -binary -inform DER -in " + d + "/sig -content " + d + "/data -CAfile " +
                             d + "/ca.pem -purpose any -out /dev/null";
  EXPECT_TRUE(Shell(verify));
  sig[sig.size() - 1] ^= 1;
  WriteBytes(d + "/sig", sig);
  EXPECT_FALSE(Shell(verify));
  // The certificate report and PEM against OpenSSL's reading of alice's certificate.
  sig[sig.size() - 1] ^= 1;
  char report[4096] = "GetCertificateProperties_OnSuccess";
  ASSERT_EQ(bob->VerifyData(data.data(), 8, sig.data(), static_cast<int32_t>(sig.size()), report), 0);
  ASSERT_TRUE(Shell("openssl x509 -in " + d + "/alice.pem -noout -issuer -serial -subject -nameopt RFC2253 -out " + d +
                    "/names"));
  const Bytes names = ReadBytes(d + "/names");
  std::string expected, line;
  for (char c : std::string(names.begin(), names.end())) {
    if (c != '\n') {
      line += c;
      continue;
    }
    const std::string key = line.substr(0, line.find('=')), value = line.substr(line.find('=') + 1);
    for (size_t start = 0; key != "serial";) {
      const size_t comma = value.find(',', start);
      expected += (key == "issuer" ? "I" : "") + value.substr(start, comma - start) + "\r\n";
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    if (key == "serial") expected += "SN=" + value + "\r\n";
    line.clear();
  }
  EXPECT_EQ(std::string(report).substr(0, expected.size()), expected);
  std::strcpy(report, "GetCertificate_OnSuccess");
  ASSERT_EQ(bob->VerifyData(data.data(), 8, sig.data(), static_cast<int32_t>(sig.size()), report), 0);
  const Bytes pem = ReadBytes(d + "/alice.pem");
  std::string joined;
  for (uint8_t c : pem) {
    if (c != '\n') joined += static_cast<char>(c);
  }
  joined.insert(joined.find("-----", 5) + 5, "\r\n");
  joined.insert(joined.rfind("-----END"), "\r\n");
  EXPECT_EQ(report, joined);
  // The engine's envelope, opened by OpenSSL with bob's key.
  Bytes buf(8 + 4096);
  std::copy(data.begin(), data.end(), buf.begin());
  len = 8;
  ASSERT_EQ(alice->EncodeData(buf.data(), &len, "bob"), 0);
  WriteBytes(d + "/env", Bytes(buf.begin(), buf.begin() + len));
  ASSERT_TRUE(Shell("openssl cms -decrypt -binary -inform DER -in " + d + "/env -recip " + d + "/bob.pem -inkey " + d +
                  "/bob.key -out " + d + "/opened"));
  EXPECT_EQ(ReadBytes(d + "/opened"), data);
  // OpenSSL's signature and envelope, taken by the engine.
  ASSERT_TRUE(Shell("openssl cms -sign -binary -outform DER -in " + d + "/data -signer " + d + "/alice.pem -inkey " + d +
                  "/alice.key -md sha256 -out " + d + "/osig"));
  const Bytes osig = ReadBytes(d + "/osig");
  char who[4096] = {};
  EXPECT_EQ(bob->VerifyData(data.data(), 8, osig.data(), static_cast<int32_t>(osig.size()), who), 0);
  EXPECT_STREQ(who, "alice");
  ASSERT_TRUE(Shell("openssl cms -encrypt -binary -outform DER -aes256 -in " + d + "/data -out " + d + "/oenv " + d +
                  "/bob.pem"));
  Bytes oenv = ReadBytes(d + "/oenv");
  int32_t n = static_cast<int32_t>(oenv.size());
  char sender[4];
  ASSERT_EQ(bob->DecodeData(oenv.data(), &n, sender), 0);
  EXPECT_EQ(Bytes(oenv.begin(), oenv.begin() + n), data);
#endif
}

}  // namespace
}  // namespace vtest
