#include "engines/capi/capi_dll.h"

#include <cstring>
#include <map>
#include <mutex>

#include "engines/capi/capi_der.h"
#include "frame/processlifetime.h"
#include "frame/fileutils.h"
#include "frame/mimecode.h"
#include "platform/platform.h"

namespace zk::capi {

namespace {

const char* const kCryptoPro = "Crypto-Pro Cryptographic Service Provider";
const char* const kCryptoPro94 = "Crypto-Pro GOST R 34.10-94 Cryptographic Service Provider";
const char* const kMsBase = "Microsoft Base Cryptographic Provider v1.0";

// Used when the provider list cannot be enumerated.
const std::pair<const char*, uint32_t> kKnownProviders[] = {
    {kCryptoPro, 2},
    {kCryptoPro94, 71},
    {"Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider", 75},
    {"Crypto-Pro GOST R 34.10-94 KC1 CSP", 71},
    {"Crypto-Pro GOST R 34.10-2001 KC1 CSP", 75},
    {kMsBase, 1},
    {"Microsoft Enhanced Cryptographic Provider v1.0", 1},
    {"Microsoft Strong Cryptographic Provider", 1},
    {"Dekart RSA Cryptographic Provider v1.0", 1},
    {"Avest CSP Base", 24},
    {"Avest CSP Base Demo", 24},
    {"Crypto Soft Gost3410-94 and ElGamal Cryptographic Provider", 72},
};

// Resolved so that a system lacking them is told apart, never called.
const char* const kPresenceOnlyAdvapi[] = {"CryptSignHashA", "CryptGetProvParam", "CryptSetProvParam", "CryptGenKey",
                                           "CryptGenRandom", "CryptGetKeyParam", "CryptSetKeyParam", "CryptDecrypt",
                                           "CryptEncrypt", "CryptCreateHash", "CryptDestroyHash", "CryptHashData"};
const char* const kPresenceOnlyCrypt32[] = {
    "CryptDecodeObject", "CryptEncodeObject", "CryptVerifyCertificateSignature", "CertEnumCRLsInStore",
    "CryptVerifyMessageSignature", "CryptDecryptMessage", "CertGetStoreProperty", "CryptExportPublicKeyInfo",
    "CryptSignAndEncodeCertificate", "CertDuplicateStore", "CertSetStoreProperty", "CertSaveStore",
    "CertCompareCertificate", "CertFindCertificateInCRL", "CertRemoveEnhancedKeyUsageIdentifier",
    "CertVerifyCRLRevocation", "CryptHashMessage", "CryptRegisterOIDInfo"};

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// The Base64 between the armour lines (the whole text without them), line ends removed.
std::vector<uint8_t> FromPem(const std::vector<uint8_t>& File, const std::string& Begin, const std::string& End) {
  std::string text(File.begin(), File.end());
  const size_t b = text.find(Begin);
  if (b != std::string::npos) text.erase(0, b + Begin.size());
  const size_t e = text.find(End);
  if (e != std::string::npos) text.erase(e);
  std::string clean;
  for (char c : text)
    if (c != '\r' && c != '\n') clean += c;
  uint8_t* out = nullptr;
  int32_t outLen = 0;
  MimeDecode(reinterpret_cast<const uint8_t*>(clean.data()), static_cast<int32_t>(clean.size()), &out, &outLen);
  std::vector<uint8_t> der(out, out + (out ? outLen : 0));
  MimeFree(out);
  return der;
}

BOOL ZK_CAPI_CALL CollectOidInfo(const CRYPT_OID_INFO* Info, void* List) {
  if (Info->pszOID == nullptr) return 1;
  TStringPair& pair = static_cast<TStringPairList*>(List)->Add();
  pair.First = Info->pszOID;
  for (const char16_t* c = Info->pwszName; c != nullptr && *c != 0; ++c)
    pair.Second += *c < 0x80 ? static_cast<char>(*c) : '?';
  return 1;
}

}  // namespace

std::string NamedOID(const TStringPairList& Info, const std::string& Name) {
  if (!Name.empty() && Name.back() == ')') {
    const size_t open = Name.rfind('(');
    if (open != std::string::npos) return Name.substr(open + 1, Name.size() - open - 2);
  }
  const int index = Info.IndexOf(Name);
  return index < 0 ? Name : Info.Items(index).First;
}

std::string TCryptoAPI20_DLL::NamedOID(DWORD Group, const std::string& Name) {
  static std::mutex lock;
  static std::map<DWORD, TStringPairList>* lists = KeepForProcess(new std::map<DWORD, TStringPairList>);
  std::lock_guard<std::mutex> hold(lock);
  TStringPairList& info = (*lists)[Group];
  if (info.Count() == 0 && api_.CryptEnumOIDInfo != nullptr) api_.CryptEnumOIDInfo(Group, 0, &info, CollectOidInfo);
  return capi::NamedOID(info, Name);
}

TCertRef& TCertRef::operator=(TCertRef&& other) noexcept {
  if (this != &other) {
    Reset();
    api_ = other.api_;
    cert_ = other.cert_;
    other.cert_ = nullptr;
  }
  return *this;
}

void TCertRef::Reset() {
  if (cert_ != nullptr && api_ != nullptr) api_->CertFreeCertificateContext(cert_);
  cert_ = nullptr;
}

TCryptoAPI20_DLL::TCryptoAPI20_DLL(const std::string& ProviderName) {
  LoadModules();
  if (!FunctionsPresent) return;
  if (!ProviderName.empty()) {
    providerName_ = ProviderName;
    providerType_ = GetProviderType();
    if (!api_.CryptAcquireContextA(&verifyProv_, nullptr, providerName_.c_str(), providerType_, kVerifyContext) &&
        providerName_ == kCryptoPro) {
      providerName_ = kCryptoPro94;
      providerType_ = GetProviderType();
      if (!api_.CryptAcquireContextA(&verifyProv_, nullptr, providerName_.c_str(), providerType_, kVerifyContext))
        verifyProv_ = 0;
    }
  } else {
    providerName_ = kMsBase;
    providerType_ = 1;
    if (!api_.CryptAcquireContextA(&verifyProv_, nullptr, nullptr, 1, kVerifyContext)) verifyProv_ = 0;
  }
}

TCryptoAPI20_DLL::~TCryptoAPI20_DLL() {
  if (FunctionsPresent) {
    ClearCache();
    if (verifyProv_ != 0) api_.CryptReleaseContext(verifyProv_, 0);
  }
  userCert_ = TCertRef();
  if (crypt32_ != nullptr) platform::FreeModule(crypt32_);
  if (advapi32_ != nullptr) platform::FreeModule(advapi32_);
}

void TCryptoAPI20_DLL::LoadModules() {
  advapi32_ = LoadToolkitLibrary("advapi32.dll");
  LibLoaded = advapi32_ != nullptr;
  if (!LibLoaded) return;
  FunctionsPresent = true;
  auto& a = api_;
  Resolve(advapi32_, "CryptAcquireContextA", a.CryptAcquireContextA);
  a.CryptEnumProvidersA = reinterpret_cast<PFN_CryptEnumProvidersA>(platform::FindSymbol(advapi32_, "CryptEnumProvidersA"));
  a.CryptContextAddRef = reinterpret_cast<PFN_CryptContextAddRef>(platform::FindSymbol(advapi32_, "CryptContextAddRef"));
  Resolve(advapi32_, "CryptReleaseContext", a.CryptReleaseContext);
  Resolve(advapi32_, "CryptGetUserKey", a.CryptGetUserKey);
  Resolve(advapi32_, "CryptExportKey", a.CryptExportKey);
  Resolve(advapi32_, "CryptImportKey", a.CryptImportKey);
  Resolve(advapi32_, "CryptDestroyKey", a.CryptDestroyKey);
  PFN_Presence present = nullptr;
  for (const char* name : kPresenceOnlyAdvapi) Resolve(advapi32_, name, present);

  crypt32_ = LoadToolkitLibrary("crypt32.dll");
  Crypt32Loaded = crypt32_ != nullptr;
  if (!Crypt32Loaded) {
    FunctionsPresent = false;
    return;
  }
  const auto c = crypt32_;
  Resolve(c, "CertOpenStore", a.CertOpenStore);
  Resolve(c, "CertOpenSystemStoreA", a.CertOpenSystemStoreA);
  Resolve(c, "CertCloseStore", a.CertCloseStore);
  Resolve(c, "CertCreateCertificateContext", a.CertCreateCertificateContext);
  Resolve(c, "CertFreeCertificateContext", a.CertFreeCertificateContext);
  Resolve(c, "CertDuplicateCertificateContext", a.CertDuplicateCertificateContext);
  Resolve(c, "CertCreateCRLContext", a.CertCreateCRLContext);
  Resolve(c, "CertFreeCRLContext", a.CertFreeCRLContext);
  Resolve(c, "CertAddCertificateContextToStore", a.CertAddCertificateContextToStore);
  Resolve(c, "CertAddCRLContextToStore", a.CertAddCRLContextToStore);
  Resolve(c, "CertDeleteCertificateFromStore", a.CertDeleteCertificateFromStore);
  Resolve(c, "CertEnumCertificatesInStore", a.CertEnumCertificatesInStore);
  Resolve(c, "CertFindCertificateInStore", a.CertFindCertificateInStore);
  Resolve(c, "CertGetIntendedKeyUsage", a.CertGetIntendedKeyUsage);
  Resolve(c, "CertSetCertificateContextProperty", a.CertSetCertificateContextProperty);
  Resolve(c, "CertGetCertificateContextProperty", a.CertGetCertificateContextProperty);
  Resolve(c, "CertCreateCertificateChainEngine", a.CertCreateCertificateChainEngine);
  a.CertGetCertificateChain = reinterpret_cast<PFN_CertGetCertificateChain>(platform::FindSymbol(c, "CertGetCertificateChain"));
  Resolve(c, "CertFreeCertificateChain", a.CertFreeCertificateChain);
  Resolve(c, "CertFreeCertificateChainEngine", a.CertFreeCertificateChainEngine);
  Resolve(c, "CryptSignMessage", a.CryptSignMessage);
  Resolve(c, "CryptVerifyDetachedMessageSignature", a.CryptVerifyDetachedMessageSignature);
  Resolve(c, "CryptGetMessageCertificates", a.CryptGetMessageCertificates);
  Resolve(c, "CryptEncryptMessage", a.CryptEncryptMessage);
  Resolve(c, "CryptMsgOpenToDecode", a.CryptMsgOpenToDecode);
  Resolve(c, "CryptMsgUpdate", a.CryptMsgUpdate);
  Resolve(c, "CryptMsgGetParam", a.CryptMsgGetParam);
  Resolve(c, "CryptMsgControl", a.CryptMsgControl);
  Resolve(c, "CryptMsgClose", a.CryptMsgClose);
  Resolve(c, "CryptFindOIDInfo", a.CryptFindOIDInfo);
  a.CryptEnumOIDInfo = reinterpret_cast<PFN_CryptEnumOIDInfo>(platform::FindSymbol(c, "CryptEnumOIDInfo"));
  for (const char* name : kPresenceOnlyCrypt32)
    if (std::strcmp(name, "CertEnumCRLsInStore") != 0) Resolve(c, name, present);
}

uint32_t TCryptoAPI20_DLL::GetProviderType() {
  if (api_.CryptEnumProvidersA == nullptr) {
    for (const auto& known : kKnownProviders)
      if (SameText(known.first, providerName_)) return known.second;
    return 0;
  }
  for (DWORD index = 0;; ++index) {
    DWORD type = 0, size = 0;
    if (!api_.CryptEnumProvidersA(index, nullptr, 0, &type, nullptr, &size) || size == 0) return 0;
    std::string name(size, '\0');
    if (!api_.CryptEnumProvidersA(index, nullptr, 0, &type, name.data(), &size)) return 0;
    name.resize(std::strlen(name.c_str()));
    if (SameText(name, providerName_)) return type;
  }
}

int32_t TCryptoAPI20_DLL::LastErrorCode(int32_t fallback) const {
  // A failing call that leaves no error must still fail.
  const uint32_t error = platform::LastError();
  return error != 0 ? static_cast<int32_t>(error) : fallback;
}

HCERTSTORE TCryptoAPI20_DLL::OpenMemoryStore() {
  return api_.CertOpenStore(reinterpret_cast<const char*>(static_cast<uintptr_t>(kStoreProvMemory)), kEncoding,
                            StoreProvider(), kStoreFlags, nullptr);
}

bool RefusedAsMalformed(uint32_t error) {
  // CRYPT_E_OSS_* and CRYPT_E_ASN1_*, or CRYPT_E_BAD_ENCODE.
  return (error & 0xFFFFFE00u) == 0x80093000u || error == 0x80092002u;
}

bool NothingMoreFound(uint32_t error) { return error == kCryptNotFound || error == 18; /* ERROR_NO_MORE_FILES */ }

const CERT_EXTENSION* FindExtension(const CERT_INFO& Info, const char* Oid) {
  for (DWORD i = 0; i < Info.cExtension; ++i)
    if (std::strcmp(Info.rgExtension[i].pszObjId, Oid) == 0) return &Info.rgExtension[i];
  return nullptr;
}

namespace {

// The context from the bytes as DER, else from their PEM text. A refusal of the bytes makes them
// `unreadable`; any other failure is the toolkit's and is kept, unless a later attempt succeeds.
template <class Context, class Create>
int32_t FromDerOrPem(const std::vector<uint8_t>& File, const std::string& Begin, const std::string& End,
                     int32_t Unreadable, Create&& create, Context& Out) {
  uint32_t failure = 0;
  const auto attempt = [&](const std::vector<uint8_t>& bytes) {
    Out = create(bytes);
    if (Out != nullptr) return true;
    const uint32_t error = platform::LastError();
    if (failure == 0 && !RefusedAsMalformed(error)) failure = error != 0 ? error : kNteFail;
    return false;
  };
  if (File.empty()) return Unreadable;
  if (attempt(File)) return 0;
  const auto der = FromPem(File, Begin, End);
  if (!der.empty() && attempt(der)) return 0;
  return failure != 0 ? static_cast<int32_t>(failure) : Unreadable;
}

}  // namespace

int32_t TCryptoAPI20_DLL::ReadCertificateFile(const std::string& FileName, TCertRef& Cert) {
  std::vector<uint8_t> file;
  if (!platform::ReadWholeFile(FileName, file, kMaxCertificateFile)) return kErrReadCertificate;
  return ReadCertificate(file, Cert);
}

int32_t TCryptoAPI20_DLL::ReadCertificate(const std::vector<uint8_t>& File, TCertRef& Cert) {
  PCCERT_CONTEXT cert = nullptr;
  const int32_t status = FromDerOrPem(
      File, "-----BEGIN CERTIFICATE-----", "-----END CERTIFICATE-----", kErrReadCertificate,
      [&](const std::vector<uint8_t>& b) {
        return api_.CertCreateCertificateContext(kEncoding, b.data(), static_cast<DWORD>(b.size()));
      },
      cert);
  Cert = TCertRef(&api_, cert);
  return status;
}

int32_t TCryptoAPI20_DLL::ReadCRLFile(const std::string& FileName, PCCRL_CONTEXT& Crl) {
  std::vector<uint8_t> file;
  Crl = nullptr;
  if (!platform::ReadWholeFile(FileName, file, SIZE_MAX)) return kErrCRLFile;
  return FromDerOrPem(
      file, "-----BEGIN X509 CRL-----", "-----END X509 CRL-----", kErrCRLFile,
      [&](const std::vector<uint8_t>& b) {
        return api_.CertCreateCRLContext(kEncoding, b.data(), static_cast<DWORD>(b.size()));
      },
      Crl);
}

TCertRef TCryptoAPI20_DLL::LoadCertificateFile(const std::string& FileName) {
  TCertRef cert;
  ReadCertificateFile(FileName, cert);
  return cert;
}

TCertRef TCryptoAPI20_DLL::CertificateFromBytes(const std::vector<uint8_t>& File) {
  TCertRef cert;
  ReadCertificate(File, cert);
  return cert;
}

std::string TCryptoAPI20_DLL::GetUIDFromCertContext(PCCERT_CONTEXT Cert, const std::string& UIDLocationOID) const {
  if (Cert == nullptr) return "";
  const CERT_INFO* info = Cert->pCertInfo;
  if (UIDLocationOID == "SN" || UIDLocationOID == "ZIZ_SN")
    return BytesToHexReversed(info->SerialNumber.pbData, static_cast<int32_t>(info->SerialNumber.cbData));
  std::string uid;
  NameAttribute(info->Subject.pbData, info->Subject.cbData, UIDLocationOID, uid);
  return uid;
}

std::string TCryptoAPI20_DLL::CertToPEM(PCCERT_CONTEXT Cert) {
  uint8_t* text = nullptr;
  int32_t len = 0;
  MimeEncode(Cert->pbCertEncoded, static_cast<int32_t>(Cert->cbCertEncoded), &text, &len);
  std::string pem = "-----BEGIN CERTIFICATE-----\r\n";
  pem.append(reinterpret_cast<const char*>(text), text ? len : 0);
  pem += "\r\n-----END CERTIFICATE-----";
  MimeFree(text);
  return pem;
}

}  // namespace zk::capi
