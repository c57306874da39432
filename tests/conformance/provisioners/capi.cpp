// The CryptoAPI engines ("Ms Crypto API 2.0" and "CryptoPro CSP/1.1") over the system's
// CryptoAPI: Wine's own in the Win32 build, the stand-in advapi32.dll/crypt32.dll on Linux.
// Certificates and keys come from the material tests/capi/make_fixture.sh makes with OpenSSL (one
// CA; alice, bob and carol in the correspondents' directory; "dave" as the stranger). The keys go
// into real key containers and the CA into the system ROOT store, so these engines join only
// when ZK_CAPI_MATERIAL names that material: the run of tests/capi/CMakeLists.txt sets it, with
// a Wine prefix of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "engines/capi/capi_api.h"
#include "frame/zexroot.h"
#include "platform/platform.h"
#include "support/bytes.h"
#include "support/calls.h"
#include "support/provisioner.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
namespace capi = zk::capi;
using zk::suite::Capabilities;

const char kCryptoPro[] = "Crypto-Pro Cryptographic Service Provider";
const char kMsBase[] = "Microsoft Base Cryptographic Provider v1.0";

std::string Material() {
  const char* dir = std::getenv("ZK_CAPI_MATERIAL");
  return dir != nullptr ? dir : "";
}

// The few CryptoAPI calls that put the material into the system, resolved the way the binding
// resolves them.
struct TSystem {
  capi::PFN_CryptAcquireContextA Acquire = nullptr;
  capi::PFN_CryptImportKey Import = nullptr;
  capi::PFN_CryptDestroyKey DestroyKey = nullptr;
  capi::PFN_CryptReleaseContext Release = nullptr;
  capi::PFN_CertOpenSystemStoreA OpenSystemStore = nullptr;
  capi::PFN_CertCreateCertificateContext CreateCert = nullptr;
  capi::PFN_CertAddCertificateContextToStore AddCert = nullptr;
  capi::PFN_CertFreeCertificateContext FreeCert = nullptr;
  capi::PFN_CertCloseStore CloseStore = nullptr;

  bool Load() {
    auto advapi = zk::LoadToolkitLibrary("advapi32.dll");
    auto crypt32 = zk::LoadToolkitLibrary("crypt32.dll");
    if (advapi == nullptr || crypt32 == nullptr) return false;
    const auto find = [](zk::platform::ModuleHandle m, const char* name, auto& fn) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(zk::platform::FindSymbol(m, name));
      return fn != nullptr;
    };
    return find(advapi, "CryptAcquireContextA", Acquire) && find(advapi, "CryptImportKey", Import) &&
           find(advapi, "CryptDestroyKey", DestroyKey) && find(advapi, "CryptReleaseContext", Release) &&
           find(crypt32, "CertOpenSystemStoreA", OpenSystemStore) &&
           find(crypt32, "CertCreateCertificateContext", CreateCert) &&
           find(crypt32, "CertAddCertificateContextToStore", AddCert) &&
           find(crypt32, "CertFreeCertificateContext", FreeCert) && find(crypt32, "CertCloseStore", CloseStore);
  }

  // A container holding the key of a PRIVATEKEYBLOB, made afresh.
  void PutKey(const std::string& container, const std::string& blobFile, const char* provider, capi::DWORD type) {
    capi::HCRYPTPROV prov = 0;
    Acquire(&prov, container.c_str(), provider, type, 0x10);  // CRYPT_DELETEKEYSET
    ASSERT_TRUE(Acquire(&prov, container.c_str(), provider, type, capi::kNewKeySet)) << container;
    const zk::suite::Bytes blob = zk::suite::ReadFileBytes(blobFile);
    capi::HCRYPTKEY key = 0;
    ASSERT_TRUE(Import(prov, blob.data(), static_cast<capi::DWORD>(blob.size()), 0, 1, &key)) << blobFile;
    DestroyKey(key);
    Release(prov, 0);  // some providers keep a key only once its context is released
  }

  void TrustRoot(const std::string& certFile) {
    const zk::suite::Bytes der = zk::suite::ReadFileBytes(certFile);
    capi::HCERTSTORE root = OpenSystemStore(0, "ROOT");
    ASSERT_NE(root, nullptr);
    capi::PCCERT_CONTEXT ca = CreateCert(capi::kEncoding, der.data(), static_cast<capi::DWORD>(der.size()));
    ASSERT_NE(ca, nullptr);
    EXPECT_TRUE(AddCert(root, ca, capi::kAddReplaceExisting, nullptr));
    FreeCert(ca);
    CloseStore(root, 0);
  }
};

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
    caps.methods = {"DESCBC"};
    return caps;
  }

  void Provision(const std::string& root) override {
    root_ = root;
    const std::string material = Material();
    ASSERT_FALSE(material.empty());
    static bool installed = false;
    if (!installed) {
      TSystem system;
      ASSERT_TRUE(system.Load());
      system.TrustRoot(material + "/ca/ca.cer");
      RegisterCryptoProAlias();
      for (const auto& user : kUids) {
        const std::string blob = material + "/" + user.second + ".blob";
        ASSERT_NO_FATAL_FAILURE(system.PutKey(Container(user.first), blob, kMsBase, 1));
#if defined(_WIN32)
        ASSERT_NO_FATAL_FAILURE(system.PutKey(Container(user.first), blob, kCryptoPro, 71));
#endif
      }
      installed = true;
    }
    for (const char* dir : {"ca", "abonents", "public", "own", "nobody", "crl"}) fs::create_directories(Dir(dir));
    fs::copy_file(material + "/ca/ca.cer", Dir("ca") + "/ca.cer");
    fs::copy_file(material + "/revoke_carol.crl", Dir("crl") + "/incoming.crl");
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
    ConfigureByName(engine, "Hash Algorithm", "SHA1");
    ConfigureByName(engine, "Encrypt Algorithm", "DESCBC");
    ConfigureByName(engine, "Container Name Location", "FIXED_NAME:" + Container(user));
  }

  std::string Uid(const std::string& user) const override { return kUids.at(user); }

  // Four correspondents of the CA with 64-character common names (the longest OpenSSL writes).
  std::vector<std::string> AddLargestCorrespondents(int count) override {
    std::vector<std::string> uids;
    const std::string long_name(62, 'L');
    for (int i = 1; i <= count && i <= 4; ++i) {
      const std::string name = "largest" + std::to_string(i);
      fs::copy_file(Material() + "/largest/" + name + ".cer", Dir("abonents") + "/" + name + ".cer",
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
  static std::string Container(const std::string& user) { return "zk_suite_" + user; }

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

// Linux: the material is named only where the stand-in CryptoAPI is built, and the stand-in's
// Crypto-Pro names are GOST providers, which these RSA keys do not fit: only the "Ms Crypto API
// 2.0" engine joins there.
bool Joins(bool pro) {
#if defined(_WIN32)
  (void)pro;
  return !Material().empty();
#else
  return !pro && !Material().empty();
#endif
}

const bool kMs = Joins(false) && zk::suite::RegisterProvisioner(
                                     "CapiMs", [] { return std::unique_ptr<zk::suite::Provisioner>(new CapiMsProvisioner()); });
const bool kPro = Joins(true) && zk::suite::RegisterProvisioner(
                                     "CapiPro", [] { return std::unique_ptr<zk::suite::Provisioner>(new CapiProProvisioner()); });

}  // namespace
