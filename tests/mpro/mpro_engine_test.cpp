// The three Message-PRO engines against their plug-in stand-ins: operations end to end, the UID
// rules, the context cache, and the certificate and CRL directories on disk.
#include <algorithm>
#include <cstring>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engines/mpro/mpro_dll.h"
#include "mpro_fixture.h"
#include "platform/platform.h"
#include "support/bytes.h"

namespace fs = std::filesystem;
using namespace mprotest;

namespace {

const char* const kFiles[3] = {"mplug.dll", "mplugf.dll", "mplug2.dll"};

class MProTypes : public ::testing::TestWithParam<int> {
 protected:
  static Sandbox& Box() {
    static Sandbox* box = [] {
      auto* b = new Sandbox();
      b->AddUser("alice");
      b->AddUser("bob");
      return b;
    }();
    return *box;
  }
  std::string Type() const {
    const char* types[3] = {"Message-PRO 1.1", "M-Pro v1.34 (GOST PSE)", "M-Pro v2.x"};
    return types[GetParam()];
  }
  const StandIn& Plugin() const { return StandIn::Get(kFiles[GetParam()]); }
};

TEST_P(MProTypes, SignVerifyEncodeDecode) {
  auto alice = EngineFor(Type(), Box(), "alice");
  auto bob = EngineFor(Type(), Box(), "bob");
  char type[64] = {}, uid[64] = {};
  alice->GetCryptoEngineType(type);
  EXPECT_EQ(Type(), type);
  EXPECT_EQ(alice->GetCryptoParamNumber(), 25 + GetParam());
  ASSERT_EQ(alice->GetCurrentUID(uid), 0);
  EXPECT_STREQ(uid, "alice");

  const Bytes data = {'p', 'a', 'y', 0, 1, 2};
  Signed s = Sign(*alice, data, "alice");
  ASSERT_EQ(s.code, 0);
  std::string signer;
  EXPECT_EQ(Verify(*bob, data, s.signature, signer), 0);
  EXPECT_EQ(signer, "alice");
  Bytes other = data;
  other[0] ^= 1;
  EXPECT_NE(Verify(*bob, other, s.signature, signer), 0);
  EXPECT_EQ(Sign(*alice, data, "bob").code, -4) << "bob's certificate is not alice's key";

  Bytes box = data;
  ASSERT_EQ(Encode(*alice, box, "bob; alice"), 0);
  EXPECT_NE(box, data);
  Bytes forBob = box, forAlice = box;
  ASSERT_EQ(Decode(*bob, forBob), 0);
  EXPECT_EQ(forBob, data);
  ASSERT_EQ(Decode(*alice, forAlice), 0);
  EXPECT_EQ(forAlice, data);
  Bytes bobOnly = data;
  ASSERT_EQ(Encode(*bob, bobOnly, "bob"), 0);
  EXPECT_NE(Decode(*alice, bobOnly), 0) << "not a recipient";
  // Without a MAC a changed last block can still unpad cleanly, about once in 256 tries: a cut
  // envelope is refused every time.
  box.pop_back();
  const Bytes damaged = box;
  EXPECT_NE(Decode(*bob, box), 0) << "a cut envelope is refused";
  EXPECT_EQ(box, damaged) << "and left as it was";
  // Envelopes are written in place in chunks: lengths around a chunk's end.
  for (size_t length : {32751, 32767, 32768, 32769, 98305}) {
    const Bytes content = zk::suite::RandomBytes(length, uint32_t(length));
    Bytes sealed = content;
    ASSERT_EQ(Encode(*alice, sealed, "bob"), 0) << length;
    ASSERT_EQ(Decode(*bob, sealed), 0) << length;
    EXPECT_EQ(sealed, content) << length;
  }
}

TEST_P(MProTypes, RecipientsAndArgumentsRefused) {
  auto alice = EngineFor(Type(), Box(), "alice");
  const Bytes data = {1, 2, 3};
  Bytes d = data;
  EXPECT_EQ(Encode(*alice, d, ""), -108) << "no recipients anywhere";
  alice->SetCryptoParamValue(kRecipients, " bob ");
  EXPECT_EQ(Encode(*alice, d, ""), 0) << "the default recipients";
  const std::pair<const char*, int32_t> cases[] = {{"../certs/bob", -110}, {"certs\\bob", -110}, {"carol", -113}};
  for (const auto& [uid, code] : cases) {
    Bytes e = data;
    EXPECT_EQ(Encode(*alice, e, uid), code) << uid;
    EXPECT_EQ(e, data) << "nothing written for " << uid;
  }
  int32_t len = 0;
  uint8_t sig[8];
  EXPECT_EQ(alice->SignData(data.data(), 0, sig, &len, ""), -101);
  EXPECT_EQ(alice->SignData(data.data(), 3, sig, nullptr, ""), -101);
  EXPECT_EQ(alice->DecodeData(d.data(), nullptr, nullptr), -101);
  EXPECT_EQ(alice->SetCryptoParamValue(0, "x"), -101);
  EXPECT_EQ(alice->SetCryptoParamValue(kCipher, "AES"), 0);
  EXPECT_EQ(Sign(*alice, data).code, -3) << "the algorithm values are checked exactly";
  char text[1024];
  alice->GetCryptoErrorString(-3, text);
  EXPECT_STREQ(text, "Bad parameters passed");
  alice->GetCryptoErrorString(-128, text);
  EXPECT_STREQ(text, "Unable to retrive all necessary functionns from mplug*.dll");
}

TEST_P(MProTypes, ContextsCachedPerSettingsAndKind) {
  auto alice = EngineFor(Type(), Box(), "alice", "60");
  auto alice2 = EngineFor(Type(), Box(), "alice", "60");
  const Bytes data = {9, 9};
  // Subjects of certificate files are read through contexts of their own; count signing alone.
  ASSERT_EQ(Sign(*alice, data).code, 0);
  for (const char* file : kFiles) StandIn::Get(file).Control("reset");
  ASSERT_EQ(Sign(*alice, data).code, 0);
  ASSERT_EQ(Sign(*alice2, data).code, 0);
  EXPECT_EQ(Plugin().Calls("InitCrypto"), 0) << "same settings share the context";
  alice2->SetCryptoParamValue(25, "/elsewhere");
  ASSERT_EQ(Sign(*alice2, data).code, 0);
  EXPECT_EQ(Plugin().Calls("InitCrypto"), 1) << "every value is part of the settings";
  for (int other = 0; other < 3; ++other) {
    if (other == GetParam()) continue;
    EXPECT_EQ(StandIn::Get(kFiles[other]).Calls("InitCrypto"), 0);
  }

  auto once = EngineFor(Type(), Box(), "alice", "0");
  Plugin().Control("reset");
  ASSERT_EQ(Sign(*once, data).code, 0);
  ASSERT_EQ(Sign(*once, data).code, 0);
  EXPECT_EQ(Plugin().Calls("InitCrypto"), 2) << "a time-out of 0 makes a context per call";
  EXPECT_EQ(Plugin().Calls("DoneCrypto"), 2) << "and finishes it";

  Plugin().Control("reset");
  Plugin().Control("answer InitCrypto 1 1");
  EXPECT_EQ(Sign(*alice2, Bytes{1}).code, 0) << "cached context still serves";
  auto fresh = EngineFor(Type(), Box(), "bob", "61");
  EXPECT_EQ(Sign(*fresh, data).code, -6) << "no context could be made";
  EXPECT_EQ(Sign(*fresh, data).code, 0) << "a dead context is not kept";
  alice->ClearCash();
  EXPECT_EQ(zk::mpro::CachedContexts(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, MProTypes, ::testing::Values(0, 1, 2));

TEST(MProUids, SubjectAttributesAreWholeAndUnique) {
  std::string v;
  EXPECT_TRUE(zk::TMPro1CryptoEngine::SubjectAttribute("/C=RU/O=x\\/CN=alice/CN=mallory", "CN", v));
  EXPECT_EQ(v, "mallory");
  EXPECT_FALSE(zk::TMPro1CryptoEngine::SubjectAttribute("/CN=a/CN=b", "CN", v));
  EXPECT_FALSE(zk::TMPro1CryptoEngine::SubjectAttribute("/XCN=a", "CN", v));
  EXPECT_TRUE(zk::TMPro1CryptoEngine::SubjectAttribute("/SN=1/CNX=2/CN=a\\\\b", "CN", v));
  EXPECT_EQ(v, "a\\b");
}

TEST(MProUids, ImpostorCertificateRefused) {
  Sandbox box;
  box.AddUser("alice");
  box.AddUser("bob");
  // A certificate stored under bob's name that names someone else.
  box.AddUser("eve", "/C=RU/O=Bank/CN=eve", 0, box.CertDir() + "bob.pem");
  auto alice = EngineFor("Message-PRO 1.1", box, "alice");
  Bytes d = {1};
  EXPECT_EQ(Encode(*alice, d, "bob"), -106);
  char text[1024];
  alice->GetCryptoErrorString(-106, text);
  EXPECT_STRNE(text, "") << "the plug-in names it";
  alice->SetCryptoParamValue(kLocation, "SN");
  EXPECT_EQ(Encode(*alice, d, "bob"), 0) << "with SN a UID is a file name, no subject is read";
}

TEST(MProFiles, IncludePublicKeyKeepsBackupsAndLosesNothing) {
  Sandbox box;
  box.AddUser("alice");
  box.AddUser("bob");
  const std::string oldBob = ReadText(box.CertDir() + "bob.pem");
  fs::copy_file(box.CertDir() + "bob.pem", box.CertDir() + "bob.cer");
  box.AddUser("bob", "", 0, box.Dir() + "/newbob.pem");
  auto alice = EngineFor("Message-PRO 1.1", box, "alice");

  // Every single file change failing in turn leaves the directory as it was.
  for (int k = 1; k <= 4; ++k) {
    static int failAt;
    static int seen;
    failAt = k;
    seen = 0;
    zk::platform::SetFileFaultHookForTesting([](zk::platform::FileChange, const std::string&) { return ++seen == failAt; });
    const int32_t r = alice->IncludePublicKey((box.Dir() + "/newbob.pem").c_str());
    zk::platform::SetFileFaultHookForTesting(nullptr);
    if (r == 0) break;
    EXPECT_EQ(r, -107);
    EXPECT_EQ(ReadText(box.CertDir() + "bob.pem"), oldBob) << "step " << k;
    EXPECT_TRUE(fs::exists(box.CertDir() + "bob.cer"));
    EXPECT_FALSE(fs::exists(box.CertDir() + "bob.001"));
  }
  ASSERT_EQ(alice->IncludePublicKey((box.Dir() + "/newbob.pem").c_str()), 0);
  EXPECT_EQ(ReadText(box.CertDir() + "bob.pem"), ReadText(box.Dir() + "/newbob.pem"));
  EXPECT_FALSE(fs::exists(box.CertDir() + "bob.cer"));
  int backups = 0;
  for (const auto& entry : fs::directory_iterator(box.CertDir()))
    if (entry.path().stem() == "bob" && entry.path().extension() != ".pem") ++backups;
  EXPECT_EQ(backups, 2) << "the old .pem and .cer each kept under a number of its own";

  // A certificate of another authority is refused before anything changes.
  Sandbox other;
  other.AddUser("bob");
  EXPECT_NE(alice->IncludePublicKey((other.CertDir() + "bob.pem").c_str()), 0);
  EXPECT_EQ(ReadText(box.CertDir() + "bob.pem"), ReadText(box.Dir() + "/newbob.pem"));

  char own[] = "ALICE";
  EXPECT_EQ(alice->RemoveCertificate(own), -120) << "own UID, any case";
  EXPECT_EQ(alice->RemoveCertificate("bob"), 0);
  EXPECT_FALSE(fs::exists(box.CertDir() + "bob.pem"));
}

TEST(MProFiles, KeptFilesGiveWayToChanges) {
  // Files long unchanged are read once and kept; a file rewritten in place is read again.
  Sandbox box, other;
  box.AddUser("alice");
  box.AddUser("bob");
  other.AddUser("bob");
  auto alice = EngineFor("M-Pro v2.x", box, "alice");
  auto bob = EngineFor("M-Pro v2.x", box, "bob");
  const auto rewrite = [](const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  };
  const std::string ownCa = ReadText(box.CaCert()), ownBob = ReadText(box.CertDir() + "bob.pem");
  std::error_code ec;
  for (const std::string& path : {box.CaCert(), box.CertDir() + "bob.pem"})
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(30), ec);
  const Bytes data = {1, 2, 3};
  const Signed s = Sign(*alice, data);
  ASSERT_EQ(s.code, 0);
  std::string signer;
  Bytes d = data;
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(Verify(*bob, data, s.signature, signer), 0);
    d = data;
    ASSERT_EQ(Encode(*alice, d, "bob"), 0);
  }
  rewrite(box.CaCert(), ReadText(other.CaCert()));
  EXPECT_EQ(Verify(*bob, data, s.signature, signer), -202) << "another authority now";
  rewrite(box.CaCert(), ownCa);
  EXPECT_EQ(Verify(*bob, data, s.signature, signer), 0);
  rewrite(box.CertDir() + "bob.pem", ReadText(other.CertDir() + "bob.pem"));
  d = data;
  EXPECT_EQ(Encode(*alice, d, "bob"), -202) << "bob's certificate of another authority now";
  rewrite(box.CertDir() + "bob.pem", ownBob);
  d = data;
  EXPECT_EQ(Encode(*alice, d, "bob"), 0);
}

TEST(MProFiles, CrlRevokesAndReplacesItsIssuersCrl) {
  Sandbox box;
  box.AddUser("alice");
  box.AddUser("bob");
  auto alice = EngineFor("Message-PRO 1.1", box, "alice", "0");
  const std::string empty = box.Dir() + "/empty.crl", revoking = box.Dir() + "/bob.crl";
  ASSERT_EQ(StandIn::Get().MakeCrl(box.CaKey().c_str(), box.CaCert().c_str(), "", empty.c_str()), 0);
  ASSERT_EQ(StandIn::Get().MakeCrl(box.CaKey().c_str(), box.CaCert().c_str(), (box.CertDir() + "bob.pem").c_str(),
                                   revoking.c_str()),
            0);
  EXPECT_EQ(alice->IncludeCRL((box.Dir() + "/none.crl").c_str()), -124);
  ASSERT_EQ(alice->IncludeCRL(empty.c_str()), 0);
  const std::string crlDir = box.Dir() + "/CRL/";
  // Listed when its last change is long past, as a listing kept from call to call would be (where
  // listings are kept: Windows lists every time and may refuse to set a directory's time).
  const fs::path crlPath = fs::path(box.Dir()) / "CRL";
  std::error_code ec;
  fs::last_write_time(crlPath, fs::last_write_time(crlPath, ec) - std::chrono::seconds(30), ec);
#ifndef _WIN32
  ASSERT_FALSE(ec) << ec.message();
#endif
  std::vector<fs::path> before;
  for (const auto& entry : fs::directory_iterator(crlDir)) before.push_back(entry.path());
  Bytes d = {1, 2};
  EXPECT_EQ(Encode(*alice, d, "bob"), 0);
  ASSERT_EQ(alice->IncludeCRL(revoking.c_str()), 0);
  std::vector<fs::path> kept;
  for (const auto& entry : fs::directory_iterator(crlDir)) kept.push_back(entry.path());
  ASSERT_EQ(kept.size(), 1u) << "the issuer's older CRL is gone";
  EXPECT_EQ(ReadText(kept[0].string()), ReadText(revoking));
  EXPECT_NE(kept, before) << "the new CRL has a name of its own";
  d = {1, 2};
  EXPECT_EQ(Encode(*alice, d, "bob"), -208) << "revoked on the next operation";

  // A CRL of another authority cannot evict this one's.
  Sandbox other;
  const std::string forged = other.Dir() + "/forged.crl";
  ASSERT_EQ(StandIn::Get().MakeCrl(other.CaKey().c_str(), other.CaCert().c_str(), "", forged.c_str()), 0);
  EXPECT_EQ(alice->IncludeCRL(forged.c_str()), -125);
  EXPECT_TRUE(fs::exists(kept[0]));
}

TEST(MProBinding, NewerFlagFromEachFileVersion) {
  EXPECT_TRUE(zk::mpro::TMProDLL(0).Serialised()) << "the old plug-in always";
  EXPECT_FALSE(zk::mpro::TMProDLL(1).Serialised()) << "mplugf.dll 1.0.0.1";
  EXPECT_FALSE(zk::mpro::TMProDLL(2).Serialised()) << "mplug2.dll 1.0.0.1";
}

}  // namespace

namespace {

// Contexts of a newer plug-in are used by several threads at once while another clears the
// cache: every call still finds a live context.
TEST(MProConcurrency, ClearCashWhileSigning) {
  Sandbox box;
  box.AddUser("alice");
  constexpr int kThreads = 4, kRounds = 15;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      auto engine = EngineFor("M-Pro v2.x", box, "alice", "60");
      for (int i = 0; i < kRounds; ++i)
        if (Sign(*engine, Bytes{uint8_t(i)}).code != 0) ++failures;
    });
  }
  auto clearer = EngineFor("M-Pro v2.x", box, "alice", "60");
  for (int i = 0; i < kRounds; ++i) clearer->ClearCash();
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace

namespace {

#if !defined(_WIN32)
std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
    if (pclose(p) != 0) out += "[exit status not 0]";
  }
  return out;
}
#endif

// The certificates are plain X.509: OpenSSL checks their signatures and reads the same names.
TEST(MProX509, CertificatesCheckedByOpenSsl) {
#if defined(_WIN32)
  GTEST_SKIP() << "OpenSSL's command line is checked on Linux";
#else
  if (std::system("openssl version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl";
  Sandbox box;
  box.AddUser("alice", "/C=RU/O=Bank\\/Branch, Inc./CN=alice");
  box.AddUser("old", "", -10);
  const std::string ca = box.Dir() + "/ca.crt", alice = box.Dir() + "/alice.crt";
  ASSERT_EQ(Shell("openssl x509 -inform DER -in " + box.CaCert() + " -out " + ca + " && openssl x509 -inform DER -in " +
                box.CertDir() + "alice.pem -out " + alice),
            "");
  EXPECT_EQ(Shell("openssl verify -check_ss_sig -CAfile " + ca + " " + alice), alice + ": OK\n");
  EXPECT_EQ(Shell("openssl x509 -in " + alice + " -noout -subject -nameopt RFC2253"),
            "subject=CN=alice,O=Bank/Branch\\, Inc.,C=RU\n");
  EXPECT_EQ(Shell("openssl x509 -in " + alice + " -noout -text | grep -c sha256WithRSAEncryption"), "2\n");

  auto engine = EngineFor("Message-PRO 1.1", box, "alice");
  char uid[64];
  ASSERT_EQ(engine->GetCurrentUID(uid), 0);
  EXPECT_STREQ(uid, "alice");

  // Signatures are detached CMS: OpenSSL accepts them, and refuses them for changed data.
  const Bytes data = {'o', 'r', 'd', 'e', 'r', 0, 1};
  const Signed s = Sign(*engine, data);
  ASSERT_EQ(s.code, 0);
  const std::string sig = box.Dir() + "/sig.p7s", in = box.Dir() + "/data", changed = box.Dir() + "/changed";
  std::ofstream(sig, std::ios::binary).write(reinterpret_cast<const char*>(s.signature.data()), long(s.signature.size()));
  std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), long(data.size()));
  std::ofstream(changed, std::ios::binary).write("order\0\2", 7);
  const std::string verify = "openssl cms -verify -binary -inform DER -in " + sig + " -CAfile " + ca + " -out /dev/null -content ";
  EXPECT_EQ(Shell(verify + in + " 2>&1"), "CMS Verification successful\n");
  EXPECT_NE(Shell(verify + changed + " 2>&1").find("Verification failure"), std::string::npos);
  Bytes d = {1};
  EXPECT_EQ(Encode(*engine, d, "old"), -207) << "an expired certificate";
#endif
}

// The CRLs are X.509 v2 in DER: OpenSSL checks their signature against the authority and reads the
// revoked serial; a CRL with any bit changed is refused.
TEST(MProX509, CrlIsX509AndRefusedWhenChanged) {
  Sandbox box;
  box.AddUser("alice");
  box.AddUser("bob");
  const std::string crl = box.Dir() + "/bob.crl";
  ASSERT_EQ(StandIn::Get().MakeCrl(box.CaKey().c_str(), box.CaCert().c_str(), (box.CertDir() + "bob.pem").c_str(),
                                   crl.c_str()),
            0);
#if !defined(_WIN32)
  if (std::system("openssl version > /dev/null 2>&1") == 0) {
    const std::string ca = box.Dir() + "/ca.crt";
    ASSERT_EQ(Shell("openssl x509 -inform DER -in " + box.CaCert() + " -out " + ca), "");
    EXPECT_EQ(Shell("openssl crl -inform DER -in " + crl + " -CAfile " + ca + " -noout 2>&1"), "verify OK\n");
    const std::string text = Shell("openssl crl -inform DER -in " + crl + " -noout -text");
    const std::string serial = Shell("openssl x509 -inform DER -in " + box.CertDir() + "bob.pem -noout -serial");
    EXPECT_NE(text.find("Version 2 (0x1)"), std::string::npos) << text;
    EXPECT_NE(text.find("Signature Algorithm: sha256WithRSAEncryption"), std::string::npos);
    EXPECT_NE(text.find("Serial Number: " + serial.substr(serial.find('=') + 1, serial.size() - 8)), std::string::npos)
        << text << serial;
  }
#endif
  auto alice = EngineFor("Message-PRO 1.1", box, "alice");
  const std::string image = ReadText(crl), changed = box.Dir() + "/changed.crl";
  // One bit of every byte, its position turning with the byte.
  for (size_t at = 0; at < image.size(); ++at) {
    const size_t bit = at * 8 + at % 8;
    std::string bad = image;
    bad[at] = char(bad[at] ^ (1 << (bit % 8)));
    std::ofstream(changed, std::ios::binary | std::ios::trunc) << bad;
    ASSERT_EQ(alice->IncludeCRL(changed.c_str()), -125) << "bit " << bit;
  }
  EXPECT_FALSE(fs::exists(box.Dir() + "/CRL/") && !fs::is_empty(box.Dir() + "/CRL/"));
  EXPECT_EQ(alice->IncludeCRL(crl.c_str()), 0);
}

#if !defined(_WIN32)
void WriteBytes(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), long(b.size()));
}

Bytes ReadBytes(const std::string& path) {
  const std::string text = ReadText(path);
  return Bytes(text.begin(), text.end());
}
#endif

// Each engine's signatures and envelopes are plain CMS, and OpenSSL's CMS with the same keys is
// accepted by each engine.
// libksba reads a name whose attribute value is not a string (here a NULL with content) but
// aborts when it writes that name into a signature: such a certificate is refused when read.
TEST(MProX509, NameValuesThatAreNoStringsRefused) {
  Sandbox box;
  box.AddUser("alice");
  const std::string file = box.CertDir() + "alice.pem";
  Bytes cert = zk::suite::ReadFileBytes(file);
  const uint8_t country[] = {0x06, 0x03, 0x55, 0x04, 0x06, 0x13};  // countryName, PrintableString
  const auto at = std::search(cert.begin(), cert.end(), std::begin(country), std::end(country));
  ASSERT_NE(at, cert.end());
  at[4] = 0x7d;
  at[5] = 0x05;
  zk::suite::WriteFileBytes(file, cert);
  for (const char* type : {"Message-PRO 1.1", "M-Pro v2.x"}) {
    auto alice = EngineFor(type, box, "alice");
    EXPECT_NE(Sign(*alice, {1, 2, 3}).code, 0) << type;
  }
}

TEST(MProX509, CmsInteroperatesWithOpenSsl) {
#if defined(_WIN32)
  GTEST_SKIP() << "OpenSSL's command line is checked on Linux";
#else
  if (std::system("openssl version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl";
  Sandbox box;
  box.AddUser("alice");
  box.AddUser("bob");
  const std::string d = box.Dir() + "/", ca = d + "ca.crt";
  ASSERT_EQ(Shell("openssl x509 -inform DER -in " + box.CaCert() + " -out " + ca), "");
  for (const char* user : {"alice", "bob"}) {
    const std::string name = user;
    ASSERT_EQ(Shell("openssl x509 -inform DER -in " + box.CertDir() + name + ".pem -out " + d + name + ".crt"), "");
    ASSERT_EQ(StandIn::Get().ExportKey(box.Pse(name).c_str(), (d + name + ".key").c_str()), 0);
  }
  const Bytes data = {'o', 'r', 'd', 'e', 'r', 0, 1, 2, 3, 0xff};
  WriteBytes(d + "data", data);
  const std::string cms = "openssl cms -binary -inform DER ";
  for (const char* type : {"Message-PRO 1.1", "M-Pro v1.34 (GOST PSE)", "M-Pro v2.x"}) {
    SCOPED_TRACE(type);
    auto alice = EngineFor(type, box, "alice");
    auto bob = EngineFor(type, box, "bob");
    const Signed s = Sign(*alice, data);
    ASSERT_EQ(s.code, 0);
    Bytes flipped = s.signature;
    flipped[flipped.size() - 40] ^= 0x10;  // inside the RSA signature value
    WriteBytes(d + "sig", s.signature);
    WriteBytes(d + "flipped", flipped);
    const std::string verify = cms + "-verify -CAfile " + ca + " -content " + d + "data -out /dev/null -in " + d;
    EXPECT_EQ(Shell(verify + "sig 2>&1"), "CMS Verification successful\n");
    EXPECT_NE(Shell(verify + "flipped 2>&1").find("failure"), std::string::npos);

    Bytes sealed = data;
    ASSERT_EQ(Encode(*alice, sealed, "alice;bob"), 0);
    WriteBytes(d + "env", sealed);
    // DER throughout: OpenSSL writing the envelope back in DER changes nothing (set order included).
    ASSERT_EQ(Shell(cms + "-cmsout -outform DER -in " + d + "env -out " + d + "env.der"), "");
    EXPECT_EQ(ReadBytes(d + "env.der"), sealed);
    for (const char* user : {"alice", "bob"}) {
      const std::string name = user;
      EXPECT_EQ(Shell(cms + "-decrypt -in " + d + "env -recip " + d + name + ".crt -inkey " + d + name + ".key -out " +
                      d + "plain"),
                "")
          << name;
      EXPECT_EQ(ReadBytes(d + "plain"), data) << name;
    }

    ASSERT_EQ(Shell("openssl cms -sign -binary -outform DER -md sha256 -in " + d + "data -signer " + d +
                    "alice.crt -inkey " + d + "alice.key -out " + d + "osig"),
              "");
    std::string signer;
    EXPECT_EQ(Verify(*bob, data, ReadBytes(d + "osig"), signer), 0);
    EXPECT_EQ(signer, "alice");
    // Streamed, the envelope is BER with indefinite lengths: read by libksba, not in place.
    for (const char* cipher : {"-aes256", "-aes128", "-aes192 -stream"}) {
      ASSERT_EQ(Shell("openssl cms -encrypt -binary -outform DER " + std::string(cipher) + " -in " + d + "data -out " +
                      d + "oenv " + d + "bob.crt"),
                "");
      Bytes opened = ReadBytes(d + "oenv");
      EXPECT_EQ(Decode(*bob, opened), 0) << cipher;
      EXPECT_EQ(opened, data) << cipher;
    }
  }
#endif
}

}  // namespace
