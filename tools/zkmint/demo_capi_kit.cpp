#include "demo_capi_kit.h"

#include <chrono>

#include "engines/capi/capi_api.h"

#include <fstream>
#include <iterator>

namespace zkmint {

namespace capi = zk::capi;
using capi::BOOL;
using capi::BYTE;
using capi::DWORD;

namespace {

constexpr DWORD kDeleteKeySet = 0x10;
constexpr DWORD kExportable = 0x1;
constexpr DWORD kKeyBits = 1024;
const char* const kCertToBeSigned = reinterpret_cast<const char*>(2);  // X509_CERT_TO_BE_SIGNED

typedef BOOL(ZK_CAPI_CALL* PFN_CryptGenKey)(capi::HCRYPTPROV, DWORD, DWORD, capi::HCRYPTKEY*);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptExportPublicKeyInfo)(capi::HCRYPTPROV, DWORD, DWORD, capi::CERT_PUBLIC_KEY_INFO*,
                                                        DWORD*);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptSignAndEncodeCertificate)(capi::HCRYPTPROV, DWORD, DWORD, const char*,
                                                             const void*, capi::CRYPT_ALGORITHM_IDENTIFIER*,
                                                             const void*, BYTE*, DWORD*);

void Append(Bytes& out, uint8_t tag, const Bytes& content) {
  out.push_back(tag);
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
  } else {
    out.push_back(0x82);
    out.push_back(static_cast<uint8_t>(n >> 8));
    out.push_back(static_cast<uint8_t>(n));
  }
  out.insert(out.end(), content.begin(), content.end());
}

Bytes Attribute(const Bytes& oid, const std::string& value) {
  Bytes pair, set;
  Append(pair, 0x06, oid);
  Append(pair, 0x0C, Bytes(value.begin(), value.end()));
  Bytes sequence;
  Append(sequence, 0x30, pair);
  Append(set, 0x31, sequence);
  return set;
}

capi::FILETIME_ FileTimeIn(int64_t days) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(now).count() + days * 86400;
  const uint64_t ticks = static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL;
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace

Bytes DemoName(const std::string& commonName) {
  Bytes rdns = Attribute({0x55, 0x04, 0x03}, commonName);
  const Bytes org = Attribute({0x55, 0x04, 0x0A}, "zkmint demo");
  rdns.insert(rdns.end(), org.begin(), org.end());
  Bytes name;
  Append(name, 0x30, rdns);
  return name;
}

// The stand-in CryptoAPI of Linux makes the keys and certificates itself.
struct CapiKit::Kit {
  using MakeCertificateFn = uint32_t (*)(const char*, const char*, const char*, const char*, const char*, uint32_t,
                                         int, int, const char*);
  MakeCertificateFn MakeCertificate = nullptr;
};

struct CapiKit::Api {
  capi::PFN_CryptAcquireContextA Acquire = nullptr;
  capi::PFN_CryptReleaseContext Release = nullptr;
  capi::PFN_CryptDestroyKey DestroyKey = nullptr;
  PFN_CryptGenKey GenKey = nullptr;
  PFN_CryptExportPublicKeyInfo ExportPublicKeyInfo = nullptr;
  PFN_CryptSignAndEncodeCertificate SignAndEncode = nullptr;
  capi::PFN_CertOpenSystemStoreA OpenSystemStore = nullptr;
  capi::PFN_CertCreateCertificateContext CreateCert = nullptr;
  capi::PFN_CertAddCertificateContextToStore AddCert = nullptr;
  capi::PFN_CertFindCertificateInStore FindCert = nullptr;
  capi::PFN_CertDeleteCertificateFromStore DeleteCert = nullptr;
  capi::PFN_CertFreeCertificateContext FreeCert = nullptr;
  capi::PFN_CertCloseStore CloseStore = nullptr;
};

CapiKit::CapiKit() : api_(std::make_unique<Api>()) {}

CapiKit::~CapiKit() {
  if (!api_->Acquire) return;
  for (const auto& container : containers_) {
    capi::HCRYPTPROV prov = 0;
    api_->Acquire(&prov, container.c_str(), provider_.c_str(), type_, kDeleteKeySet);
  }
  if (trusted_.empty()) return;
  capi::HCERTSTORE root = api_->OpenSystemStore(0, "ROOT");
  if (root == nullptr) return;
  capi::PCCERT_CONTEXT ca = api_->CreateCert(capi::kEncoding, trusted_.data(), static_cast<DWORD>(trusted_.size()));
  if (ca != nullptr) {
    capi::CERT_INFO query{};
    query.Issuer = ca->pCertInfo->Issuer;
    query.SerialNumber = ca->pCertInfo->SerialNumber;
    if (auto stored = api_->FindCert(root, capi::kEncoding, 0, capi::kFindSubjectCert, &query, nullptr))
      api_->DeleteCert(stored);
    api_->FreeCert(ca);
  }
  api_->CloseStore(root, 0);
}

bool CapiKit::Open(std::string& error) {
#if defined(_WIN32)
  const std::string dir;  // the system's own
#else
  const std::string dir = zkhost::DemoToolkitDirectory();  // the stand-in
#endif
  if (!advapi32_.Open(dir + "advapi32.dll", error) || !crypt32_.Open(dir + "crypt32.dll", error)) return false;
  Api a;
  const auto need = [&](const zkhost::HostModule& m, const char* name, auto& fn) {
    fn = m.Function<std::remove_reference_t<decltype(fn)>>(name);
    if (fn == nullptr && error.empty()) error = std::string("the CryptoAPI lacks ") + name;
  };
  error.clear();
  need(advapi32_, "CryptAcquireContextA", a.Acquire);
  need(advapi32_, "CryptReleaseContext", a.Release);
  need(advapi32_, "CryptDestroyKey", a.DestroyKey);
  need(advapi32_, "CryptGenKey", a.GenKey);
  need(crypt32_, "CryptExportPublicKeyInfo", a.ExportPublicKeyInfo);
  need(crypt32_, "CryptSignAndEncodeCertificate", a.SignAndEncode);
  need(crypt32_, "CertOpenSystemStoreA", a.OpenSystemStore);
  need(crypt32_, "CertCreateCertificateContext", a.CreateCert);
  need(crypt32_, "CertAddCertificateContextToStore", a.AddCert);
  need(crypt32_, "CertFindCertificateInStore", a.FindCert);
  need(crypt32_, "CertDeleteCertificateFromStore", a.DeleteCert);
  need(crypt32_, "CertFreeCertificateContext", a.FreeCert);
  need(crypt32_, "CertCloseStore", a.CloseStore);
  if (!error.empty()) return false;
  *api_ = a;
#if !defined(_WIN32)
  kit_ = std::make_unique<Kit>();
  kit_->MakeCertificate = crypt32_.Function<Kit::MakeCertificateFn>("CapiStandIn_MakeCertificate");
  if (kit_->MakeCertificate == nullptr) {
    error = "the CryptoAPI lacks CapiStandIn_MakeCertificate";
    return false;
  }
#endif
  return true;
}

void CapiKit::SetScratchDirectory(const std::string& dir) {
  scratch_ = dir;
  using ControlFn = int (*)(const char*);
  if (auto control = advapi32_.Function<ControlFn>("StandIn_Control")) control(("home " + dir).c_str());
}

bool CapiKit::UseProvider(const std::string& name, const std::vector<uint32_t>& types, const std::string& signatureOid,
                          std::string& error) {
  provider_ = name;
  signatureOid_ = signatureOid;
  for (uint32_t type : types) {
    capi::HCRYPTPROV prov = 0;
    if (api_->Acquire(&prov, nullptr, name.c_str(), type, capi::kVerifyContext)) {
      api_->Release(prov, 0);
      type_ = type;
      return true;
    }
  }
  error = "the system has no provider \"" + name + "\"";
  return false;
}

bool CapiKit::MakeKey(const std::string& container, std::string& error) {
  if (kit_) return MakeKitKey(container, error);
  capi::HCRYPTPROV prov = 0;
  api_->Acquire(&prov, container.c_str(), provider_.c_str(), type_, kDeleteKeySet);
  if (!api_->Acquire(&prov, container.c_str(), provider_.c_str(), type_, capi::kNewKeySet)) {
    error = "no new key container " + container;
    return false;
  }
  containers_.push_back(container);
  capi::HCRYPTKEY key = 0;
  const bool made = api_->GenKey(prov, capi::kAtKeyExchange, (kKeyBits << 16) | kExportable, &key);
  if (made) api_->DestroyKey(key);
  api_->Release(prov, 0);  // some providers keep a key only once its context is released
  if (!made) error = "no key in " + container;
  return made;
}

bool CapiKit::Issue(const std::string& issuerContainer, const std::string& issuer, const std::string& container,
                    const std::string& subject, uint8_t serial, bool ca, Bytes& der, std::string& error) {
  if (kit_) return IssueWithKit(issuerContainer, issuer, container, subject, serial, ca, der, error);
  capi::HCRYPTPROV subjectProv = 0, issuerProv = 0;
  if (!api_->Acquire(&subjectProv, container.c_str(), provider_.c_str(), type_, 0) ||
      !api_->Acquire(&issuerProv, issuerContainer.c_str(), provider_.c_str(), type_, 0)) {
    if (subjectProv) api_->Release(subjectProv, 0);
    error = "the key containers cannot be opened";
    return false;
  }
  DWORD size = 0;
  api_->ExportPublicKeyInfo(subjectProv, capi::kAtKeyExchange, capi::kEncoding, nullptr, &size);
  std::vector<uint64_t> keyInfo(size / 8 + 1);  // aligned for the structure
  auto* publicKey = reinterpret_cast<capi::CERT_PUBLIC_KEY_INFO*>(keyInfo.data());
  bool ok = size > 0 && api_->ExportPublicKeyInfo(subjectProv, capi::kAtKeyExchange, capi::kEncoding, publicKey, &size);
  Bytes issuerName = DemoName(issuer), subjectName = DemoName(subject);
  // keyUsage: keyCertSign and cRLSign for the CA, digitalSignature and keyEncipherment for users.
  Bytes usage = ca ? Bytes{0x03, 0x02, 0x01, 0x06} : Bytes{0x03, 0x02, 0x05, 0xA0};
  Bytes basic = ca ? Bytes{0x30, 0x03, 0x01, 0x01, 0xFF} : Bytes{0x30, 0x00};
  char usageOid[] = "2.5.29.15", basicOid[] = "2.5.29.19";
  capi::CERT_EXTENSION extensions[] = {{usageOid, 1, {static_cast<DWORD>(usage.size()), usage.data()}},
                                       {basicOid, 1, {static_cast<DWORD>(basic.size()), basic.data()}}};
  std::string signatureOid = signatureOid_;
  BYTE serialBytes[] = {serial};
  capi::CERT_INFO info{};
  info.dwVersion = 2;
  info.SerialNumber = {1, serialBytes};
  info.SignatureAlgorithm.pszObjId = signatureOid.data();
  info.Issuer = {static_cast<DWORD>(issuerName.size()), issuerName.data()};
  info.NotBefore = FileTimeIn(-1);
  info.NotAfter = FileTimeIn(365);
  info.Subject = {static_cast<DWORD>(subjectName.size()), subjectName.data()};
  if (ok) info.SubjectPublicKeyInfo = *publicKey;
  info.cExtension = 2;
  info.rgExtension = extensions;
  DWORD encoded = 0;
  ok = ok && api_->SignAndEncode(issuerProv, capi::kAtKeyExchange, capi::kEncoding, kCertToBeSigned, &info,
                                 &info.SignatureAlgorithm, nullptr, nullptr, &encoded);
  der.assign(encoded, 0);
  ok = ok && api_->SignAndEncode(issuerProv, capi::kAtKeyExchange, capi::kEncoding, kCertToBeSigned, &info,
                                 &info.SignatureAlgorithm, nullptr, der.data(), &encoded);
  der.resize(ok ? encoded : 0);
  api_->Release(subjectProv, 0);
  api_->Release(issuerProv, 0);
  if (!ok) error = "the certificate of " + subject + " could not be signed";
  return ok;
}

bool CapiKit::MakeKitKey(const std::string& container, std::string& error) {
  capi::HCRYPTPROV prov = 0;
  api_->Acquire(&prov, container.c_str(), provider_.c_str(), type_, kDeleteKeySet);
  (void)error;  // the key is made with its certificate
  containers_.push_back(container);
  return true;
}

bool CapiKit::IssueWithKit(const std::string& issuerContainer, const std::string& issuer, const std::string& container,
                           const std::string& subject, uint8_t serial, bool ca, Bytes& der, std::string& error) {
  (void)issuer;  // the issuing certificate names it
  const std::string out = scratch_ + "/" + container + ".cer";
  const std::string issuerFile = scratch_ + "/" + issuerContainer + ".cer";
  const bool self = issuerContainer == container;
  if (kit_->MakeCertificate(provider_.c_str(), container.c_str(), subject.c_str(), self ? nullptr : issuerContainer.c_str(),
                            self ? nullptr : issuerFile.c_str(), serial, 365, ca ? 1 : 0, out.c_str()) != 0) {
    error = "the certificate of " + subject + " could not be made";
    return false;
  }
  std::ifstream in(out, std::ios::binary);
  der.assign(std::istreambuf_iterator<char>(in), {});
  return !der.empty();
}

bool CapiKit::TrustRoot(const Bytes& der, std::string& error) {
  capi::HCERTSTORE root = api_->OpenSystemStore(0, "ROOT");
  capi::PCCERT_CONTEXT ca =
      root ? api_->CreateCert(capi::kEncoding, der.data(), static_cast<DWORD>(der.size())) : nullptr;
  const bool added = ca != nullptr && api_->AddCert(root, ca, capi::kAddReplaceExisting, nullptr);
  if (ca != nullptr) api_->FreeCert(ca);
  if (root != nullptr) api_->CloseStore(root, 0);
  if (added) trusted_ = der;
  else error = "the CA cannot be added to the ROOT store";
  return added;
}

}  // namespace zkmint
