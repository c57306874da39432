// The CryptoAPI engines against Wine's real CryptoAPI. The prefix is the test's own: the test CA
// is put into ROOT, the users' keys (made by OpenSSL on the build host) into real containers of
// the Microsoft base provider, and a registry alias lets the Crypto-Pro engine run over RSA.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "capi/capi_helpers.h"

namespace zk {
namespace {

using capitest::Get;
using capitest::MakeEngine;
using capitest::Set;

const std::string kDir = ZK_CAPI_FIXTURE;
const char kAlias[] = "Crypto-Pro Cryptographic Service Provider";

std::vector<BYTE> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

// A container holding the key of a PRIVATEKEYBLOB, made afresh.
void PutKey(const char* container, const std::string& blobFile, const char* provider, DWORD type) {
  HCRYPTPROV prov = 0;
  CryptAcquireContextA(&prov, container, provider, type, CRYPT_DELETEKEYSET);
  ASSERT_TRUE(CryptAcquireContextA(&prov, container, provider, type, CRYPT_NEWKEYSET)) << GetLastError();
  const auto blob = ReadAll(blobFile);
  ASSERT_FALSE(blob.empty()) << blobFile;
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptImportKey(prov, blob.data(), static_cast<DWORD>(blob.size()), 0, CRYPT_EXPORTABLE, &key))
      << std::hex << GetLastError();
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);  // the provider keeps the key only once its context is released
}

class CapiWine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const auto ca = ReadAll(kDir + "/ca/ca.cer");
    HCERTSTORE root = CertOpenSystemStoreA(0, "ROOT");
    ASSERT_NE(root, nullptr);
    ASSERT_TRUE(CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, ca.data(), static_cast<DWORD>(ca.size()),
                                                 CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    CertCloseStore(root, 0);
    for (const char* user : {"alice", "bob", "carol", "forged"})
      PutKey(user, kDir + "/" + user + ".blob", MS_DEF_PROV_A, PROV_RSA_FULL);
    HKEY key = nullptr;
    const std::string path = std::string("Software\\Microsoft\\Cryptography\\Defaults\\Provider\\") + kAlias;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
    const char image[] = "rsaenh.dll";
    const DWORD type = 71;
    RegSetValueExA(key, "Image Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(image), sizeof image);
    RegSetValueExA(key, "Type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&type), sizeof type);
    RegCloseKey(key);
  }

  static std::unique_ptr<TCryptoEngine> User(const std::string& name, const char* type = "Ms Crypto API 2.0",
                                             const std::string& certFile = "") {
    auto e = MakeEngine(type);
    Set(*e, "User certificate file", certFile.empty() ? kDir + "/abonents/" + name + ".cer" : certFile);
    Set(*e, "CA certificates dir", kDir + "/ca");
    Set(*e, "Abonents cerificates dir", kDir + "/abonents");
    Set(*e, "Hash Algorithm", "SHA1");
    // Wine's own RC2 envelopes do not open again under Wine (its RC2 key length); DES does.
    Set(*e, "Encrypt Algorithm", "DESCBC");
    return e;
  }

  static std::vector<uint8_t> Sign(TCryptoEngine& e, const std::vector<uint8_t>& data, int32_t& code) {
    std::vector<uint8_t> signature(e.GetMaxSignatureLength());
    int32_t len = 0;
    code = e.SignData(data.data(), static_cast<int32_t>(data.size()), signature.data(), &len, "");
    signature.resize(code == 0 ? len : 0);
    return signature;
  }

  static int32_t Verify(TCryptoEngine& e, const std::vector<uint8_t>& data, const std::vector<uint8_t>& sig,
                        std::string& signer, const char* request = "") {
    std::vector<char> text(16384);
    std::strcpy(text.data(), request);
    const int32_t code = e.VerifyData(data.data(), static_cast<int32_t>(data.size()), sig.data(),
                                      static_cast<int32_t>(sig.size()), text.data());
    signer = text.data();
    return code;
  }

  std::vector<uint8_t> data_ = std::vector<uint8_t>(1024, 0x5A);
};

TEST_F(CapiWine, CurrentUIDFromTheCertificate) {
  auto alice = User("alice");
  char uid[256] = {};
  ASSERT_EQ(alice->GetCurrentUID(uid), 0);
  EXPECT_STREQ(uid, "alice");
  char copy[256];
  EXPECT_EQ(alice->GetEncodeUIDBySignUID("alice", copy), 0);
  EXPECT_STREQ(copy, "alice");
}

TEST_F(CapiWine, SignaturesVerifyAndTamperingIsRefused) {
  auto alice = User("alice");
  auto bob = User("bob");
  int32_t code = 0;
  auto signature = Sign(*alice, data_, code);
  ASSERT_EQ(code, 0);
  // Written for the check with OpenSSL on the build host.
  std::ofstream(kDir + "/wine_alice.p7s", std::ios::binary).write(reinterpret_cast<const char*>(signature.data()),
                                                                  static_cast<std::streamsize>(signature.size()));
  std::ofstream(kDir + "/wine_data.bin", std::ios::binary).write(reinterpret_cast<const char*>(data_.data()),
                                                                 static_cast<std::streamsize>(data_.size()));
  std::string signer;
  ASSERT_EQ(Verify(*bob, data_, signature, signer), 0);
  EXPECT_EQ(signer, "alice");
  EXPECT_EQ(Get(*bob, "Include signer cert in sign"), "YES");
  ASSERT_EQ(Verify(*bob, data_, signature, signer, "GetCertificate_OnSuccess"), 0);
  EXPECT_EQ(signer.rfind("-----BEGIN CERTIFICATE-----\r\n", 0), 0u);

  auto tampered = data_;
  tampered[100] ^= 1;
  EXPECT_NE(Verify(*bob, tampered, signature, signer), 0);
  EXPECT_EQ(signer, "");
  auto cut = signature;
  cut.resize(cut.size() / 2);
  EXPECT_NE(Verify(*bob, data_, cut, signer), 0);

}

TEST_F(CapiWine, SignatureWithoutCertificateIsVerifiedThroughTheStore) {
  auto alice = User("alice");
  auto bob = User("bob");
  Set(*alice, "Include signer cert in sign", "no");
  int32_t code = 0;
  auto bare = Sign(*alice, data_, code);
  ASSERT_EQ(code, 0);
  Set(*alice, "Include signer cert in sign", "");
  auto full = Sign(*alice, data_, code);
  EXPECT_LT(bare.size() + 300, full.size());  // the certificate is left out
  std::string signer;
  ASSERT_EQ(Verify(*bob, data_, bare, signer), 0);
  EXPECT_EQ(signer, "alice");
  EXPECT_EQ(Get(*bob, "Include signer cert in sign"), "NO");  // bob now signs the same way
  auto tampered = data_;
  tampered[0] ^= 1;
  EXPECT_NE(Verify(*bob, tampered, bare, signer), 0);
}

// A certificate copying bob's issuer and serial, with another key: issuer and serial are no
// proof of identity.
TEST_F(CapiWine, ForgedCertificateIsRefused) {
  auto forger = User("forged", "Ms Crypto API 2.0", kDir + "/other/forged.cer");
  Set(*forger, "Abonents cerificates dir", kDir + "/other/none");
  Set(*forger, "Container Name Location", "FIXED_NAME:forged");
  int32_t code = 0;
  auto signature = Sign(*forger, data_, code);
  ASSERT_EQ(code, 0);
  auto alice = User("alice");
  std::string signer;
  EXPECT_EQ(Verify(*alice, data_, signature, signer), 7);
  EXPECT_EQ(signer, "");
}

TEST_F(CapiWine, EnvelopesForSeveralRecipients) {
  auto alice = User("alice");
  std::vector<uint8_t> buffer(data_.size() + alice->GetMaxEncodeAddition());
  std::copy(data_.begin(), data_.end(), buffer.begin());
  int32_t len = static_cast<int32_t>(data_.size());
  ASSERT_EQ(alice->EncodeData(buffer.data(), &len, "bob;carol"), 0);
  ASSERT_GT(len, static_cast<int32_t>(data_.size()));
  const std::vector<uint8_t> envelope(buffer.begin(), buffer.begin() + len);
  for (const char* name : {"bob", "carol"}) {
    auto user = User(name);
    std::vector<uint8_t> copy = envelope;
    int32_t n = len;
    char sender[256] = "x";
    ASSERT_EQ(user->DecodeData(copy.data(), &n, sender), 0) << name;
    EXPECT_EQ(std::vector<uint8_t>(copy.begin(), copy.begin() + n), data_) << name;
    EXPECT_STREQ(sender, "");
  }
  std::vector<uint8_t> copy = envelope;
  int32_t n = len;
  EXPECT_EQ(alice->DecodeData(copy.data(), &n, nullptr), 36);  // not a recipient
  n = len;
  EXPECT_EQ(alice->EncodeData(copy.data(), &n, "bob;nobody"), 11);
  EXPECT_EQ(n, len);  // a refused envelope leaves the data alone
}

// A CRL included at run time is used by the next chain check.
TEST_F(CapiWine, IncludedCRLRevokesOnTheNextOperation) {
  auto alice = User("alice");
  Set(*alice, "CRL dir", kDir + "/crl");
  std::vector<uint8_t> buffer(data_.size() + alice->GetMaxEncodeAddition());
  int32_t len = 16;
  ASSERT_EQ(alice->EncodeData(buffer.data(), &len, "carol"), 0);
  EXPECT_EQ(alice->IncludeCRL((kDir + "/missing.crl").c_str()), 38);
  const std::string incoming = kDir + "/incoming.crl";
  ASSERT_TRUE(CopyFileA((kDir + "/revoke_carol.crl").c_str(), incoming.c_str(), FALSE));
  ASSERT_EQ(alice->IncludeCRL(incoming.c_str()), 0);
  EXPECT_EQ(GetFileAttributesA(incoming.c_str()), INVALID_FILE_ATTRIBUTES);  // moved into the CRL directory
  EXPECT_NE(GetFileAttributesA((kDir + "/crl/crl1.crl").c_str()), INVALID_FILE_ATTRIBUTES);
  len = 16;
  EXPECT_EQ(alice->EncodeData(buffer.data(), &len, "carol"), 51);
  len = 16;
  EXPECT_EQ(alice->EncodeData(buffer.data(), &len, "bob"), 0);
}

TEST_F(CapiWine, CryptoProEngineOverTheProviderAlias) {
  auto alice = User("alice", "CryptoPro CSP/1.1");
  auto bob = User("bob", "CryptoPro CSP/1.1");
  PutKey("alice", kDir + "/alice.blob", kAlias, 71);
  int32_t code = 0;
  auto signature = Sign(*alice, data_, code);
  ASSERT_EQ(code, 0);
  std::string signer;
  ASSERT_EQ(Verify(*bob, data_, signature, signer), 0);
  EXPECT_EQ(signer, "alice");
}

// The certificate stock, checked on disk: every file of the directory with its bytes.
std::map<std::string, std::vector<BYTE>> Listing(const std::string& dir) {
  std::map<std::string, std::vector<BYTE>> files;
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((dir + "/*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return files;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files[found.cFileName] = ReadAll(dir + "/" + found.cFileName);
  } while (FindNextFileA(h, &found));
  FindClose(h);
  return files;
}

class CapiWineStock : public CapiWine {
 protected:
  void SetUp() override {
    static int round = 0;
    dir_ = kDir + "/stock" + std::to_string(++round);
    CreateDirectoryA(dir_.c_str(), nullptr);
    for (const char* user : {"alice", "bob", "carol"})
      CopyFileA((kDir + "/abonents/" + user + ".cer").c_str(), (dir_ + "/" + user + ".cer").c_str(), FALSE);
    // Files that are no certificate, which every operation passes over.
    const auto bob = ReadAll(dir_ + "/bob.cer");
    std::ofstream(dir_ + "/cut.cer", std::ios::binary).write(reinterpret_cast<const char*>(bob.data()), bob.size() / 2);
    std::ofstream(dir_ + "/text.cer", std::ios::binary) << "no certificate";
    alice_ = User("alice");
    Set(*alice_, "Abonents cerificates dir", dir_);
  }
  int32_t EncodeFor(const char* uid) {
    std::vector<uint8_t> buffer(16 + alice_->GetMaxEncodeAddition());
    int32_t len = 16;
    return alice_->EncodeData(buffer.data(), &len, uid);
  }
  std::string dir_;
  std::unique_ptr<TCryptoEngine> alice_;
};

TEST_F(CapiWineStock, IncludeKeepsTheDirectoryWholeOnEveryFailure) {
  const auto bobOld = ReadAll(dir_ + "/bob.cer");
  struct Case {
    const char* file;
    bool fails;
    int32_t code;  // when it fails and the code is fixed
  } refused[] = {
      {"/other/stranger.cer", true, 0},  // fails its chain check (a CA nobody trusts)
      {"/other/evil.cer", true, 14},     // its UID would leave the directory
      {"/abonents/alice.cer", true, 21}, // the user's own UID
      {"/missing.cer", true, 15},
  };
  for (const auto& c : refused) {
    const auto before = Listing(dir_);
    const int32_t code = alice_->IncludePublicKey((kDir + c.file).c_str());
    EXPECT_NE(code, 0) << c.file;
    if (c.code != 0) {
      EXPECT_EQ(code, c.code) << c.file;
    }
    EXPECT_EQ(Listing(dir_), before) << c.file;
    EXPECT_EQ(EncodeFor("bob"), 0) << c.file;
  }
  EXPECT_EQ(EncodeFor("dave"), 11);
  ASSERT_EQ(alice_->IncludePublicKey((kDir + "/other/dave.cer").c_str()), 0);
  EXPECT_EQ(ReadAll(dir_ + "/dave.cer"), ReadAll(kDir + "/other/dave.cer"));
  EXPECT_EQ(EncodeFor("dave"), 0);
  // A second certificate of bob: stored beside as bob0.cer, the earlier one kept as bob.old.
  ASSERT_EQ(alice_->IncludePublicKey((kDir + "/other/bob_new.cer").c_str()), 0);
  const auto after = Listing(dir_);
  EXPECT_EQ(after.count("bob.cer"), 0u);
  EXPECT_EQ(after.at("bob.old"), bobOld);
  EXPECT_EQ(after.at("bob0.cer"), ReadAll(kDir + "/other/bob_new.cer"));
  // Envelopes now go to bob's new key, which the old one cannot open.
  auto bob = User("bob");
  std::vector<uint8_t> buffer(16 + alice_->GetMaxEncodeAddition());
  int32_t len = 16;
  ASSERT_EQ(alice_->EncodeData(buffer.data(), &len, "bob"), 0);
  EXPECT_EQ(bob->DecodeData(buffer.data(), &len, nullptr), 36);
}

// The chain check of a certificate offered for the directory, for real reasons.
TEST_F(CapiWineStock, ChainCodesOfCertificatesOffered) {
  struct Case {
    const char* file;
    int32_t code;
  } cases[] = {
      {"/other/old.cer", 49},       // expired
      {"/other/dave_badsig.cer", 52},  // its signature does not verify
      {"/other/stranger.cer", 65},     // the CA's name, another key: no chain to the CA
      {"/other/orphan.cer", 65},       // an issuer nobody has
  };
  const auto before = Listing(dir_);
  for (const auto& c : cases) EXPECT_EQ(alice_->IncludePublicKey((kDir + c.file).c_str()), c.code) << c.file;
  EXPECT_EQ(Listing(dir_), before);
}

TEST_F(CapiWineStock, RemoveAndUpdate) {
  EXPECT_EQ(alice_->RemoveCertificate("ALICE"), 33);  // own UID, any case
  EXPECT_EQ(alice_->RemoveCertificate(""), 23);
  ASSERT_EQ(alice_->RemoveCertificate("bob"), 0);
  EXPECT_EQ(Listing(dir_).count("bob.cer"), 0u);
  EXPECT_EQ(Listing(dir_).count("alice.cer"), 1u);
  EXPECT_EQ(EncodeFor("bob"), 11);

  // A certificate the host put into the directory is taken by an update of its UID.
  ASSERT_TRUE(CopyFileA((kDir + "/other/bob_new.cer").c_str(), (dir_ + "/bob.cer").c_str(), FALSE));
  EXPECT_EQ(EncodeFor("bob"), 11);
  EXPECT_EQ(alice_->UpdateCertificateCash("bob"), 0);
  EXPECT_EQ(EncodeFor("bob"), 0);
  struct Case {
    const char* uid;
    int32_t code;
  } cases[] = {{"nobody", 11}, {"..\\bob", 11}, {"alice", 0}, {"", 20}};
  for (const auto& c : cases) EXPECT_EQ(alice_->UpdateCertificateCash(c.uid), c.code) << c.uid;
  EXPECT_EQ(alice_->UpdateCertificateCash(nullptr), 20);
}

TEST_F(CapiWine, CertificateReportOnRequest) {
  auto alice = User("alice");
  auto bob = User("bob");
  int32_t code = 0;
  auto signature = Sign(*alice, data_, code);
  ASSERT_EQ(code, 0);
  std::string report;
  ASSERT_EQ(Verify(*bob, data_, signature, report, "GetCertificateProperties_OnSuccess"), 0);
  EXPECT_EQ(report.rfind("PKeyAlg=", 0), 0u) << report;
  for (const char* line : {"\r\nCheckRes=0\r\n", "\r\nCN=alice\r\n", "\r\nO=ZK Test\r\n", "\r\nICN=ZK Test CA\r\n",
                           "\r\nSN=65\r\n", "\r\nSKU=DigitalSignature;KeyEncipherment;\r\n", "\r\nSKName=alice\r\n",
                           "\r\nCertSign=\r\n", "\r\nNotAfter="})
    EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
  EXPECT_EQ(report.find("CertVer="), std::string::npos);
  // With the "CCERT" location the block ends the report, every key in its order (empty here).
  Set(*bob, "Container Name Location", "CCERT");
  ASSERT_EQ(Verify(*bob, data_, signature, report, "GetCertificateProperties_OnSuccess"), 0);
  std::string block = "\r\nCertVer=3\r\n";
  for (const char* key : {"AltO", "AltT", "AltE", "AltDNS", "AltURL", "AltSName", "AltRegAdr", "AltBCat", "AltPhone",
                          "AltDescr", "AltPost", "AltAcNum", "AlBic", "AltExchAddr", "AltNotesAddr", "AltPassp", "AltIP",
                          "AltREGID", "SecNotBefore", "SecNotAfter", "PreviousCert"})
    block += std::string(key) + "=\r\n";
  ASSERT_GE(report.size(), block.size());
  EXPECT_EQ(report.substr(report.size() - block.size()), block) << report;
}

// Algorithms named as the system's OID information names them.
TEST_F(CapiWine, AlgorithmsByTheSystemsNames) {
  auto alice = User("alice");
  auto bob = User("bob");
  Set(*alice, "Hash Algorithm", "sha1");
  Set(*alice, "Encrypt Algorithm", "des");
  int32_t code = 0;
  auto signature = Sign(*alice, data_, code);
  ASSERT_EQ(code, 0);
  std::string signer;
  EXPECT_EQ(Verify(*bob, data_, signature, signer), 0);
  std::vector<uint8_t> buffer(16 + alice->GetMaxEncodeAddition());
  int32_t len = 16;
  ASSERT_EQ(alice->EncodeData(buffer.data(), &len, "bob"), 0);
  EXPECT_EQ(bob->DecodeData(buffer.data(), &len, nullptr), 0);
  Set(*alice, "Hash Algorithm", "no such hash");
  Sign(*alice, data_, code);
  EXPECT_NE(code, 0);
}

TEST_F(CapiWine, SettingCodes) {
  auto alice = User("alice");
  Set(*alice, "Key request time out", "abc");
  int32_t code = 0;
  Sign(*alice, data_, code);
  EXPECT_EQ(code, 3);
  char text[256];
  alice->GetCryptoErrorString(3, text);
  EXPECT_NE(std::string(text).find("TCryptoCEngine.SignData: "), std::string::npos);
  Set(*alice, "Key request time out", "");
  Set(*alice, "Crypto Provider", "No Such Provider");
  Sign(*alice, data_, code);
  EXPECT_EQ(code, 9);
  Set(*alice, "Crypto Provider", "");
  Set(*alice, "User UID Location", "");
  Sign(*alice, data_, code);
  EXPECT_EQ(code, 20);
}

}  // namespace
}  // namespace zk
