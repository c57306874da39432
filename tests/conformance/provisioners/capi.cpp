// The CryptoAPI engines ("Ms Crypto API 2.0" and "CryptoPro CSP/1.1") over the system's
// CryptoAPI: Wine's own in the Win32 build, the stand-in advapi32.dll/crypt32.dll on Linux.
// Certificates and keys come from the material tests/capi/make_fixture.sh makes with OpenSSL (one
// CA; alice, bob and carol in the correspondents' directory; "dave" as the stranger). The keys go
// into real key containers and the CA into the system ROOT store, so these engines join only
// when ZK_CAPI_MATERIAL names that material: the run of tests/capi/CMakeLists.txt sets it, with
// a Wine prefix of its own. On Linux the Crypto-Pro engine works with GOST R 34.10-2001 keys
// (the material's gost/ folder) in the stand-in's GOST provider; under Wine with RSA keys through
// a provider alias.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "capi/capi_system.h"
#include "support/bytes.h"
#include "support/calls.h"
#include "support/provisioner.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
using zk::suite::Capabilities;

const char kCryptoPro[] = "Crypto-Pro Cryptographic Service Provider";
const char kMsBase[] = "Microsoft Base Cryptographic Provider v1.0";

std::string Material() {
  const char* dir = std::getenv("ZK_CAPI_MATERIAL");
  return dir != nullptr ? dir : "";
}

// The Crypto-Pro name, where the system has no such provider, as an alias of the RSA provider:
// the engine's plumbing (fixed provider, fall-back, names) runs with RSA keys.
void RegisterCryptoProAlias() {
#if defined(_WIN32)
  HKEY key = nullptr;
  const std::string path = std::string("Software\\Microsoft\\Cryptography\\Defaults\\Provider\\") + kCryptoPro;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
  const char image[] = "rsaenh.dll";
  const DWORD type = 71;
  RegSetValueExA(key, "Image Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(image), sizeof image);
  RegSetValueExA(key, "Type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&type), sizeof type);
  RegCloseKey(key);
#endif
}

const std::map<std::string, std::string> kUids = {
    {"alice", "alice"}, {"bob", "bob"}, {"carol", "carol"}, {"stranger", "dave"}};

class CapiProvisioner : public zk::suite::Provisioner {
 public:
  explicit CapiProvisioner(bool pro) : pro_(pro) {}
  std::string EngineType() const override { return pro_ ? "CryptoPro CSP/1.1" : "Ms Crypto API 2.0"; }
  Capabilities Caps() const override {
    Capabilities caps;
    caps.maxRecipients = 8;
    // CBC envelopes without a MAC: changed cipher text decrypts to other data.
    caps.authenticatedEnvelope = false;
    caps.sender = zk::suite::SenderReport::kEmpty;
    caps.signsEmptyData = false;
    caps.keyManagement = true;
    caps.crls = true;
    caps.methodParam = "Encrypt Algorithm";
    caps.methods = {Gost() ? "GOST_28147" : "DESCBC"};
#if !defined(_WIN32)
    // crypt32's and advapi32's calls failed through crypt32's control entry, with NTE_FAIL as the
    // last error.
    caps.toolkit = "crypt32.dll";
    caps.toolkitFolder = "capi";
    caps.faultCode = static_cast<int>(0x80090020u);
    // Signing and the user's own UID read the user's certificate straight from its file when the
    // certificate model cannot be built (the next operation builds it again); a failure of
    // these calls while it is built may therefore end in success.
    // A release that fails leaves a handle open, nothing else.
    caps.survivable = {"CertOpenStore", "CertOpenSystemStoreA", "CertCreateCertificateContext",
                       "CertAddCertificateContextToStore", "CertGetIntendedKeyUsage", "CertFindCertificateInStore",
                       "CertCreateCertificateChainEngine", "CryptReleaseContext", "CryptDestroyKey"};
#endif
    return caps;
  }

  void Provision(const std::string& root) override {
    root_ = root;
    ASSERT_FALSE(Material().empty());
    const std::string material = FlavourMaterial();
    static bool installed[2] = {false, false};
    if (!installed[pro_]) {
      ASSERT_NO_FATAL_FAILURE(Install(material));
      installed[pro_] = true;
    }
    for (const char* dir : {"ca", "abonents", "public", "own", "nobody", "crl"}) fs::create_directories(Dir(dir));
    fs::copy_file(material + "/ca/ca.cer", Dir("ca") + "/ca.cer");
    fs::copy_file(Material() + "/revoke_carol.crl", Dir("crl") + "/incoming.crl");
    for (const auto& user : kUids) {
      const std::string source = material + (user.first == "stranger" ? "/other/" : "/abonents/") + user.second + ".cer";
      fs::copy_file(source, PublicKeyFile(user.first));
      fs::copy_file(source, OwnCertificate(user.first));
      if (user.first != "stranger") fs::copy_file(source, Dir("abonents") + "/" + user.second + ".cer");
    }
  }

  void Configure(ZkEngine engine, const std::string& user) const override {
    using zk::suite::ConfigureByName;
    ConfigureByName(engine, "User certificate file", OwnCertificate(user));
    ConfigureByName(engine, "CA certificates dir", Dir("ca"));
    ConfigureByName(engine, "Abonents cerificates dir", Dir(user == "stranger" ? "nobody" : "abonents"));
    if (!Gost()) {  // GOST: the engine's own defaults
      ConfigureByName(engine, "Hash Algorithm", "SHA1");
      ConfigureByName(engine, "Encrypt Algorithm", "DESCBC");
    }
    ConfigureByName(engine, "Container Name Location", "FIXED_NAME:" + Container(user));
  }

  std::string Uid(const std::string& user) const override { return kUids.at(user); }

  // Four correspondents of the CA with 64-character common names (the longest OpenSSL writes).
  std::vector<std::string> AddLargestCorrespondents(int count) override {
    std::vector<std::string> uids;
    const std::string long_name(62, 'L');
    for (int i = 1; i <= count && i <= 4; ++i) {
      const std::string name = "largest" + std::to_string(i);
      fs::copy_file(FlavourMaterial() + "/largest/" + name + ".cer", Dir("abonents") + "/" + name + ".cer",
                    fs::copy_options::overwrite_existing);
      uids.push_back(long_name + std::to_string(i) + std::to_string(i));
    }
    return uids;
  }

  std::string PublicKeyFile(const std::string& user) const override { return Dir("public") + "/" + user + ".cer"; }
  std::string CrlFile() const override { return Dir("crl") + "/incoming.crl"; }
  std::vector<std::string> UserFiles(const std::string& user) const override { return {OwnCertificate(user)}; }

 private:
  std::string Dir(const std::string& name) const { return root_ + "/" + name; }
  std::string OwnCertificate(const std::string& user) const { return Dir("own") + "/" + user + ".cer"; }
  // Upper case: the Crypto-Pro engine upper-cases its container location.
  static std::string Container(const std::string& user) {
    std::string name = "ZK_SUITE_" + user;
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
  }
  bool Gost() const {
#if defined(_WIN32)
    return false;
#else
    return pro_;
#endif
  }
  std::string FlavourMaterial() const { return Material() + (Gost() ? "/gost" : ""); }

  // The CA into ROOT and each user's key into its container: from PRIVATEKEYBLOBs into the RSA
  // providers (and the Crypto-Pro alias under Wine), or GOST keys through the stand-in's own call.
  void Install(const std::string& material) const {
    zk::capitest::TSystemCryptoAPI system;
    ASSERT_TRUE(system.Load());
    ASSERT_TRUE(system.TrustRoot(zk::suite::ReadFileBytes(material + "/ca/ca.cer")));
    RegisterCryptoProAlias();
    for (const auto& user : kUids) {
      if (Gost()) {
        ASSERT_TRUE(system.PutStandInKey(kCryptoPro, Container(user.first), material + "/" + user.second + ".key"));
        continue;
      }
      const auto blob = zk::suite::ReadFileBytes(material + "/" + user.second + ".blob");
      ASSERT_TRUE(system.PutKey(Container(user.first), blob, pro_ ? kCryptoPro : kMsBase, pro_ ? 71 : 1)) << user.first;
    }
  }

  bool pro_;
};

class CapiMsProvisioner : public CapiProvisioner {
 public:
  CapiMsProvisioner() : CapiProvisioner(false) {}
};
class CapiProProvisioner : public CapiProvisioner {
 public:
  CapiProProvisioner() : CapiProvisioner(true) {}
};

// Linux: the material is named only where the stand-in CryptoAPI is built; the Crypto-Pro engine
// joins where the material has its GOST part.
bool Joins(bool pro) {
  if (Material().empty()) return false;
#if defined(_WIN32)
  (void)pro;
  return true;
#else
  return !pro || fs::exists(Material() + "/gost/ca/ca.cer");
#endif
}

const bool kMs = Joins(false) && zk::suite::RegisterProvisioner(
                                     "CapiMs", [] { return std::unique_ptr<zk::suite::Provisioner>(new CapiMsProvisioner()); });
const bool kPro = Joins(true) && zk::suite::RegisterProvisioner(
                                     "CapiPro", [] { return std::unique_ptr<zk::suite::Provisioner>(new CapiProProvisioner()); });

}  // namespace
