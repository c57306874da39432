// Putting test material into the system's CryptoAPI (Wine's, or the stand-in on Linux) the way
// the binding reaches it: keys from PRIVATEKEYBLOBs into fresh key containers, a CA into the
// system ROOT store. Shared by the conformance provisioner and the benchmark.
#pragma once

#include <string>
#include <type_traits>
#include <vector>

#include "engines/capi/capi_api.h"
#include "frame/zexroot.h"
#include "platform/platform.h"

namespace zk::capitest {

class TSystemCryptoAPI {
 public:
  // False when advapi32.dll/crypt32.dll or one of the calls is missing.
  bool Load() {
    auto advapi = LoadToolkitLibrary("advapi32.dll");
    auto crypt32 = LoadToolkitLibrary("crypt32.dll");
    if (advapi == nullptr || crypt32 == nullptr) return false;
    advapi_ = advapi;
    return Find(advapi, "CryptAcquireContextA", acquire_) && Find(advapi, "CryptImportKey", import_) &&
           Find(advapi, "CryptDestroyKey", destroyKey_) && Find(advapi, "CryptReleaseContext", release_) &&
           Find(crypt32, "CertOpenSystemStoreA", openSystemStore_) &&
           Find(crypt32, "CertCreateCertificateContext", createCert_) &&
           Find(crypt32, "CertAddCertificateContextToStore", addCert_) &&
           Find(crypt32, "CertFreeCertificateContext", freeCert_) && Find(crypt32, "CertCloseStore", closeStore_);
  }

  // The key of a PRIVATEKEYBLOB in a container made afresh.
  bool PutKey(const std::string& container, const std::vector<uint8_t>& blob, const char* provider, capi::DWORD type) {
    capi::HCRYPTPROV prov = 0;
    acquire_(&prov, container.c_str(), provider, type, kDeleteKeySet);
    if (!acquire_(&prov, container.c_str(), provider, type, capi::kNewKeySet)) return false;
    capi::HCRYPTKEY key = 0;
    const bool imported = import_(prov, blob.data(), static_cast<capi::DWORD>(blob.size()), 0, kExportable, &key);
    if (imported) destroyKey_(key);
    release_(prov, 0);  // some providers keep a key only once its context is released
    return imported;
  }

  // The stand-in's own provisioning call: a key file (PEM) into a container of its provider.
  bool PutStandInKey(const char* provider, const std::string& container, const std::string& keyFile) {
    using PutFn = uint32_t (*)(const char*, const char*, const char*);
    auto put = reinterpret_cast<PutFn>(platform::FindSymbol(advapi_, "CapiStandIn_PutKey"));
    return put != nullptr && put(provider, container.c_str(), keyFile.c_str()) == 0;
  }

  bool TrustRoot(const std::vector<uint8_t>& der) {
    capi::HCERTSTORE root = openSystemStore_(0, "ROOT");
    if (root == nullptr) return false;
    capi::PCCERT_CONTEXT ca = createCert_(capi::kEncoding, der.data(), static_cast<capi::DWORD>(der.size()));
    const bool added = ca != nullptr && addCert_(root, ca, capi::kAddReplaceExisting, nullptr);
    if (ca != nullptr) freeCert_(ca);
    closeStore_(root, 0);
    return added;
  }

 private:
  static constexpr capi::DWORD kDeleteKeySet = 0x10;
  static constexpr capi::DWORD kExportable = 0x1;

  template <class Fn>
  static bool Find(platform::ModuleHandle module, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(platform::FindSymbol(module, name));
    return fn != nullptr;
  }

  platform::ModuleHandle advapi_ = nullptr;
  capi::PFN_CryptAcquireContextA acquire_ = nullptr;
  capi::PFN_CryptImportKey import_ = nullptr;
  capi::PFN_CryptDestroyKey destroyKey_ = nullptr;
  capi::PFN_CryptReleaseContext release_ = nullptr;
  capi::PFN_CertOpenSystemStoreA openSystemStore_ = nullptr;
  capi::PFN_CertCreateCertificateContext createCert_ = nullptr;
  capi::PFN_CertAddCertificateContextToStore addCert_ = nullptr;
  capi::PFN_CertFreeCertificateContext freeCert_ = nullptr;
  capi::PFN_CertCloseStore closeStore_ = nullptr;
};

}  // namespace zk::capitest
