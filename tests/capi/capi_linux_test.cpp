// The "Ms Crypto API 2.0" engine over the stand-in CryptoAPI on Linux, checked by an independent
// tool: `openssl cms` verifies the engine's signatures and opens its envelopes, and the engine
// verifies and opens what `openssl cms` made. Skipped where no stand-in CryptoAPI is built.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "capi/capi_helpers.h"
#include "capi/capi_system.h"
#include "support/bytes.h"
#include "support/standin.h"

namespace zk {
namespace {

namespace fs = std::filesystem;
using capitest::MakeEngine;
using capitest::Set;
using suite::Bytes;

std::string Material() {
  const char* dir = std::getenv("ZK_CAPI_MATERIAL");
  return dir != nullptr ? dir : "";
}

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

class CapiLinux : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (Material().empty() || !system_.Load()) return;
    ready_ = system_.TrustRoot(suite::ReadFileBytes(Material() + "/ca/ca.cer"));
    for (const char* user : {"alice", "bob", "carol"})
      ready_ = ready_ && system_.PutKey(user, suite::ReadFileBytes(Material() + "/" + user + ".blob"),
                                        "Microsoft Base Cryptographic Provider v1.0", 1);
  }
  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "no stand-in CryptoAPI with the material installed";
    dir_ = std::make_unique<suite::TempDir>("zk_capi_linux");
    suite::WriteFileBytes(File("data.bin"), data_);
  }

  static std::unique_ptr<TCryptoEngine> User(const std::string& name) {
    auto e = MakeEngine("Ms Crypto API 2.0");
    Set(*e, "User certificate file", Material() + "/abonents/" + name + ".cer");
    Set(*e, "CA certificates dir", Material() + "/ca");
    Set(*e, "Abonents cerificates dir", Material() + "/abonents");
    Set(*e, "Hash Algorithm", "SHA1");
    Set(*e, "Encrypt Algorithm", "DESCBC");
    return e;
  }
  std::string File(const std::string& name) const { return dir_->Dir() + "/" + name; }
  std::string Pem(const std::string& user) const { return Material() + "/" + user + ".pem"; }
  std::string Key(const std::string& user) const { return Material() + "/" + user + ".key"; }

  int32_t Verify(TCryptoEngine& e, const Bytes& data, const Bytes& signature, std::string& signer) {
    char text[256] = {};
    const int32_t code = e.VerifyData(data.data(), static_cast<int32_t>(data.size()), signature.data(),
                                      static_cast<int32_t>(signature.size()), text);
    signer = text;
    return code;
  }

  static inline capitest::TSystemCryptoAPI system_;
  static inline bool ready_ = false;
  std::unique_ptr<suite::TempDir> dir_;
  const Bytes data_ = suite::RandomBytes(1000, 7);
};

const char kLegacy[] = " -provider legacy -provider default";

TEST_F(CapiLinux, EngineSignaturesVerifyWithOpenSSL) {
  auto alice = User("alice");
  for (const char* include : {"", "NO"}) {
    Set(*alice, "Include signer cert in sign", include);
    Bytes signature(4096);
    int32_t len = 0;
    ASSERT_EQ(alice->SignData(data_.data(), static_cast<int32_t>(data_.size()), signature.data(), &len, ""), 0);
    signature.resize(static_cast<size_t>(len));
    suite::WriteFileBytes(File("alice.p7s"), signature);
    const std::string certfile = *include ? " -certfile " + Pem("alice") : "";
    EXPECT_EQ(Shell("openssl cms -verify -inform DER -in " + File("alice.p7s") + " -content " + File("data.bin") +
                  " -binary -purpose any -CAfile " + Material() + "/ca.pem" + certfile + " -out /dev/null"),
              0)
        << "certificate included: " << (*include ? "no" : "yes");
  }
}

TEST_F(CapiLinux, OpenSSLSignaturesVerifyThroughTheEngine) {
  auto alice = User("alice");
  Bytes tampered = data_;
  tampered[10] ^= 1;
  struct Case {
    const char* what;
    const char* user;
    const char* cert;  // PEM of the signer's certificate
    const char* flags;
    bool valid;
  } cases[] = {
      {"without signed attributes", "bob", nullptr, " -noattr", true},
      {"with signed attributes", "bob", nullptr, "", true},
      {"with a forged certificate of bob", "forged", "forged_cert.pem", " -noattr", false},
  };
  ASSERT_EQ(Shell("openssl x509 -inform DER -in " + Material() + "/other/forged.cer -out " + File("forged_cert.pem")), 0);
  for (const auto& c : cases) {
    const std::string cert = c.cert ? File(c.cert) : Pem(c.user);
    ASSERT_EQ(Shell("openssl cms -sign -binary -md sha1 -outform DER -in " + File("data.bin") + " -signer " + cert +
                  " -inkey " + Key(c.user) + c.flags + " -out " + File("theirs.p7s")),
              0)
        << c.what;
    const Bytes signature = suite::ReadFileBytes(File("theirs.p7s"));
    std::string signer;
    if (c.valid) {
      EXPECT_EQ(Verify(*alice, data_, signature, signer), 0) << c.what;
      EXPECT_EQ(signer, "bob") << c.what;
      EXPECT_NE(Verify(*alice, tampered, signature, signer), 0) << c.what << ", tampered";
    } else {
      EXPECT_EQ(Verify(*alice, data_, signature, signer), 7) << c.what;
    }
  }
}

TEST_F(CapiLinux, EnvelopesBothWays) {
  auto alice = User("alice");
  Bytes buffer(data_.size() + static_cast<size_t>(alice->GetMaxEncodeAddition()));
  std::copy(data_.begin(), data_.end(), buffer.begin());
  int32_t len = static_cast<int32_t>(data_.size());
  ASSERT_EQ(alice->EncodeData(buffer.data(), &len, "bob;carol"), 0);
  suite::WriteFileBytes(File("ours.p7m"), Bytes(buffer.begin(), buffer.begin() + len));
  for (const char* user : {"bob", "carol"}) {
    ASSERT_EQ(Shell(std::string("openssl cms -decrypt -binary -inform DER") + kLegacy + " -in " + File("ours.p7m") +
                  " -recip " + Pem(user) + " -inkey " + Key(user) + " -out " + File("opened.bin")),
              0)
        << user;
    EXPECT_EQ(suite::ReadFileBytes(File("opened.bin")), data_) << user;
  }
  ASSERT_EQ(Shell(std::string("openssl cms -encrypt -binary -des -outform DER") + kLegacy + " -in " + File("data.bin") +
                " -out " + File("theirs.p7m") + " " + Pem("bob")),
            0);
  Bytes envelope = suite::ReadFileBytes(File("theirs.p7m"));
  auto bob = User("bob");
  int32_t n = static_cast<int32_t>(envelope.size());
  ASSERT_EQ(bob->DecodeData(envelope.data(), &n, nullptr), 0);
  EXPECT_EQ(Bytes(envelope.begin(), envelope.begin() + n), data_);
}

// When the certificate model is built, files that are no certificate or CRL are passed over, but a
// failing toolkit is not taken for such a file: the operation fails, the files stay as they were,
// and the next operation builds the whole model again.
TEST_F(CapiLinux, ModelSkipsBadFilesButNotToolkitFailures) {
  const std::string abonents = File("abonents"), crls = File("crl");
  fs::copy(Material() + "/abonents", abonents);
  fs::create_directories(crls);
  fs::copy_file(Material() + "/revoke_carol.crl", crls + "/carol.crl");
  const Bytes bob = suite::ReadFileBytes(abonents + "/bob.cer");
  suite::WriteFileBytes(abonents + "/cut.cer", Bytes(bob.begin(), bob.begin() + static_cast<std::ptrdiff_t>(bob.size() / 2)));
  suite::WriteFileBytes(abonents + "/text.cer", suite::Text("no certificate"));
  suite::WriteFileBytes(crls + "/text.crl", suite::Text("-----BEGIN X509 CRL-----\nbm8gQ1JM\n-----END X509 CRL-----\n"));
  auto alice = User("alice");
  Set(*alice, "Abonents cerificates dir", abonents);
  Set(*alice, "CRL dir", crls);
  const auto encodeFor = [&](const char* recipients) {
    Bytes buffer(data_.size() + static_cast<size_t>(alice->GetMaxEncodeAddition()));
    std::copy(data_.begin(), data_.end(), buffer.begin());
    int32_t len = static_cast<int32_t>(data_.size());
    return alice->EncodeData(buffer.data(), &len, recipients);
  };
  const auto encode = [&] { return encodeFor("bob"); };
  const auto carolRevoked = [&] { return encodeFor("carol") == 51; };  // the CRL was read
  ASSERT_EQ(encode(), 0);
  EXPECT_TRUE(carolRevoked());
  const suite::StandInControl crypt32("crypt32.dll");
  const std::string code = " 1 " + std::to_string(static_cast<int32_t>(0x80090020u));  // NTE_FAIL
  for (const char* function : {"CertCreateCertificateContext", "CertCreateCRLContext"}) {
    alice->ClearCash();
    ASSERT_EQ(crypt32.Send(std::string("fail ") + function + code), 0);
    EXPECT_NE(encode(), 0) << function;
    crypt32.Reset();
    EXPECT_EQ(encode(), 0) << function;
    EXPECT_TRUE(carolRevoked()) << function;
  }
  // A scan of the directory cut short removes no file.
  ASSERT_EQ(crypt32.Send("fail CertCreateCertificateContext" + code), 0);
  EXPECT_NE(alice->RemoveCertificate("bob"), 0);
  crypt32.Reset();
  EXPECT_TRUE(fs::exists(abonents + "/bob.cer"));
  EXPECT_EQ(encode(), 0);
  EXPECT_EQ(alice->RemoveCertificate("bob"), 0);
  EXPECT_FALSE(fs::exists(abonents + "/bob.cer"));
}


// The report's block for the "CCERT" key location, line by line against what `openssl x509 -text`
// says of the same certificate: every key in its order, values from both alternative-name
// extensions, keys the certificate has nothing for left empty.
TEST_F(CapiLinux, CertificateReportCcertBlockAgreesWithOpenSSL) {
  const std::string abonents = File("abonents");
  fs::copy(Material() + "/abonents", abonents);
  fs::copy_file(Material() + "/report/rich.cer", abonents + "/rich.cer");
  ASSERT_EQ(Shell("openssl cms -sign -binary -md sha1 -noattr -outform DER -in " + File("data.bin") + " -signer " +
                  Pem("rich") + " -inkey " + Key("rich") + " -out " + File("rich.p7s")),
            0);
  ASSERT_EQ(Shell("openssl x509 -in " + Pem("rich") + " -noout -text -out " + File("rich.txt")), 0);
  const Bytes textBytes = suite::ReadFileBytes(File("rich.txt"));
  const std::string text(textBytes.begin(), textBytes.end());
  // openssl's "kind:value, ..." line after a heading; other-names as "othername: type::value".
  const auto listAfter = [&](const std::string& heading) {
    std::vector<std::pair<std::string, std::string>> items;
    const size_t at = text.find(heading);
    if (at == std::string::npos) return items;
    const size_t start = text.find_first_not_of(" \n", text.find('\n', at));
    std::string line = text.substr(start, text.find('\n', start) - start);
    for (size_t from = 0; from < line.size();) {
      size_t end = line.find(", ", from);
      const std::string item = line.substr(from, end == std::string::npos ? std::string::npos : end - from);
      const size_t other = item.find("::"), cut = other != std::string::npos ? other : item.find(':');
      items.emplace_back(item.substr(0, cut), item.substr(cut + (other != std::string::npos ? 2 : 1)));
      from = end == std::string::npos ? line.size() : end + 2;
    }
    return items;
  };
  auto names = listAfter("X509v3 Subject Alternative Name:");
  for (const auto& item : listAfter("X509v3 Issuer Alternative Name:")) names.push_back(item);
  const auto valuesOf = [&](const std::string& kind) {
    std::string joined;
    for (const auto& n : names)
      if (n.first == kind) joined += (joined.empty() ? "" : ";") + n.second;
    return joined;
  };
  // "Not Before: Jan  2 03:04:05 2025 GMT" as the report writes dates, "02-01-25 03:04:05".
  const auto period = [&](const std::string& label) {
    const size_t at = text.find(label, text.find("Private Key Usage Period:"));
    if (at == std::string::npos) return std::string("?");
    char month[4] = {};
    int day = 0, year = 0;
    char clock[9] = {};
    std::sscanf(text.c_str() + at + label.size(), "%3s %d %8s %d", month, &day, clock, &year);
    const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    char date[32];
    std::snprintf(date, sizeof date, "%02d-%02d-%02d %s", day, static_cast<int>(months.find(month) / 3 + 1), year % 100, clock);
    return std::string(date);
  };
  const std::string version = text.substr(text.find("Version: ") + 9, 1);
  const std::pair<const char*, std::string> expected[] = {
      {"CertVer", version},
      {"AltO", valuesOf("othername: organizationName")},
      {"AltT", valuesOf("othername: title")},
      {"AltE", valuesOf("email")},
      {"AltDNS", valuesOf("DNS")},
      {"AltURL", valuesOf("URI")},
      {"AltSName", valuesOf("othername: surname")},
      {"AltRegAdr", ""},
      {"AltBCat", ""},
      {"AltPhone", valuesOf("othername: telephoneNumber")},
      {"AltDescr", valuesOf("othername: description")},
      {"AltPost", ""},
      {"AltAcNum", ""},
      {"AlBic", ""},
      {"AltExchAddr", ""},
      {"AltNotesAddr", ""},
      {"AltPassp", ""},
      {"AltIP", valuesOf("IP Address")},
      {"AltREGID", valuesOf("Registered ID")},
      {"SecNotBefore", period("Not Before: ")},
      {"SecNotAfter", period("Not After: ")},
      {"PreviousCert", "A1B2C3D4"},  // the hash the fixture put into the extension
  };
  auto bob = User("bob");
  Set(*bob, "Abonents cerificates dir", abonents);
  Set(*bob, "Container Name Location", "CCERT");
  const Bytes signature = suite::ReadFileBytes(File("rich.p7s"));
  std::vector<char> report(16384);
  std::strcpy(report.data(), "GetCertificateProperties_OnSuccess");
  ASSERT_EQ(bob->VerifyData(data_.data(), static_cast<int32_t>(data_.size()), signature.data(),
                            static_cast<int32_t>(signature.size()), report.data()),
            0);
  const std::string r = report.data();
  size_t at = r.find("\r\nCertVer=");
  ASSERT_NE(at, std::string::npos) << r;
  at += 2;
  for (const auto& e : expected) {
    const std::string line = std::string(e.first) + "=" + e.second + "\r\n";
    EXPECT_EQ(r.compare(at, line.size(), line), 0) << "expected " << line << "at: " << r.substr(at, 60);
    at = r.find("\r\n", at);
    if (at == std::string::npos) break;
    at += 2;
  }
  EXPECT_EQ(at, r.size()) << "the block ends the report";
  EXPECT_FALSE(valuesOf("email").empty());  // the facts were read
  // Without the "CCERT" location the block is not written.
  Set(*bob, "Container Name Location", "");
  std::strcpy(report.data(), "GetCertificateProperties_OnSuccess");
  ASSERT_EQ(bob->VerifyData(data_.data(), static_cast<int32_t>(data_.size()), signature.data(),
                            static_cast<int32_t>(signature.size()), report.data()),
            0);
  EXPECT_EQ(std::string(report.data()).find("CertVer="), std::string::npos);
}


// advapi32's key calls, scripted through crypt32's control entry, on the longest key path (the
// key copied into a verify context): each call SignData and DecodeData make fails once at each
// position. The operation answers a code with a text, or (a failed release, or a failed copy,
// which leaves the key where it was) the right result; the next operation succeeds.
TEST_F(CapiLinux, AdvapiKeyCallsFailedOnceAtEachPosition) {
  const suite::StandInControl crypt32("crypt32.dll");
  auto alice = User("alice");
  auto bob = User("bob");
  for (TCryptoEngine* e : {alice.get(), bob.get()}) Set(*e, "Secret key cash method", "VERIFY_CONTEXT");
  Bytes envelope(data_.size() + static_cast<size_t>(alice->GetMaxEncodeAddition()));
  std::copy(data_.begin(), data_.end(), envelope.begin());
  int32_t envelopeLen = static_cast<int32_t>(data_.size());
  ASSERT_EQ(alice->EncodeData(envelope.data(), &envelopeLen, "bob"), 0);
  Bytes signature;
  struct Op {
    const char* name;
    TCryptoEngine* engine;
    std::function<int32_t()> run;
    std::function<bool()> right;
  };
  const Op ops[] = {
      {"SignData", alice.get(),
       [&] {
         signature.assign(4096, 0);
         int32_t len = 0;
         const int32_t code = alice->SignData(data_.data(), static_cast<int32_t>(data_.size()), signature.data(), &len, "");
         signature.resize(code == 0 ? static_cast<size_t>(len) : 0);
         return code;
       },
       [&] { std::string signer; return Verify(*bob, data_, signature, signer) == 0 && signer == "alice"; }},
      {"DecodeData", bob.get(),
       [&] {
         signature.assign(envelope.begin(), envelope.begin() + envelopeLen);
         int32_t len = envelopeLen;
         const int32_t code = bob->DecodeData(signature.data(), &len, nullptr);
         signature.resize(code == 0 ? static_cast<size_t>(len) : 0);
         return code;
       },
       [&] { return signature == data_; }},
  };
  const char* const functions[] = {"CryptAcquireContextA", "CryptContextAddRef", "CryptReleaseContext",
                                   "CryptGetUserKey", "CryptExportKey", "CryptImportKey", "CryptDestroyKey"};
  const std::string fault = " " + std::to_string(static_cast<int32_t>(0x80090020u));  // NTE_FAIL
  int trials = 0;
  for (const Op& op : ops) {
    op.engine->ClearCash();
    crypt32.Reset();
    ASSERT_EQ(op.run(), 0) << op.name;
    std::map<std::string, int> calls;
    for (const char* f : functions) calls[f] = crypt32.Calls(f);
    for (const auto& [function, count] : calls) {
      for (int k = 1; k <= count; ++k, ++trials) {
        const std::string what = std::string(op.name) + " with " + function + " failing at call " + std::to_string(k);
        op.engine->ClearCash();
        crypt32.Reset();
        ASSERT_EQ(crypt32.Send("fail " + function + " " + std::to_string(k) + fault), 0);
        const int32_t code = op.run();
        crypt32.Reset();
        if (code != 0) {
          char text[1024] = {};
          op.engine->GetCryptoErrorString(code, text);
          EXPECT_NE(text[0], 0) << what << ": code " << code << " without a text";
        } else {
          EXPECT_TRUE(op.right()) << what << ": success with a wrong result";
        }
        EXPECT_EQ(op.run(), 0) << what << ", the next operation";
        EXPECT_TRUE(op.right()) << what << ", the next operation";
      }
    }
    EXPECT_GE(calls["CryptImportKey"], 1) << op.name << ": the key was not copied";
  }
  std::printf("[ faults   ] advapi32: %d key-call faults injected\n", trials);
}

}  // namespace
}  // namespace zk
