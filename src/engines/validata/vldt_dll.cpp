#include "engines/validata/vldt_dll.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "frame/processlifetime.h"
#include "frame/bindingregistry.h"
#include "frame/fileutils.h"
#include "frame/mimecode.h"
#include "frame/rwsyncs.h"
#include "platform/platform.h"

namespace zk::validata {

namespace {

const char kToolkitFile[] = "cpki1.dll";

struct TToolkit {
  platform::ModuleHandle Module = nullptr;
  VcertApi Api;
  bool Missing = false;
  bool Extended = false;
};

// The locks live as long as the process: the binding registry, destroyed at unload, may
// release bindings (and take these locks) after this unit's own statics are gone.
TCriticalSection& LoaderLock() {
  static TCriticalSection* lock = KeepForProcess(new TCriticalSection());
  return *lock;
}
TCriticalSection& CheckSection() {
  static TCriticalSection* lock = KeepForProcess(new TCriticalSection());
  return *lock;
}
TRWCriticalSection& ContextLock() {
  static TRWCriticalSection* lock = KeepForProcess(new TRWCriticalSection());
  return *lock;
}
TCriticalSection& OperationLock() {
  static TCriticalSection* lock = KeepForProcess(new TCriticalSection());
  return *lock;
}

// The module stays loaded until the process ends; a failed load is tried again later.
const TToolkit* Toolkit() {
  SectionLock hold(LoaderLock());
  static TToolkit* instance = nullptr;
  if (instance == nullptr) {
    platform::ModuleHandle module = LoadToolkitLibrary(kToolkitFile);
    if (module == nullptr) return nullptr;
    instance = KeepForProcess(new TToolkit());
    instance->Module = module;
    auto resolve = [&](const char* name) {
      void* symbol = platform::FindSymbol(module, name);
      if (symbol == nullptr) instance->Missing = true;
      return symbol;
    };
#define ZK_VCERT_RESOLVE(name, ret, args) \
  instance->Api.name = reinterpret_cast<decltype(instance->Api.name)>(resolve(#name));
    ZK_VCERT_USED(ZK_VCERT_RESOLVE)
#undef ZK_VCERT_RESOLVE
#define ZK_VCERT_REQUIRE(name) resolve(#name);
    ZK_VCERT_UNUSED(ZK_VCERT_REQUIRE)
#undef ZK_VCERT_REQUIRE
    uint32_t ms = 0, ls = 0;
    instance->Extended = platform::FileVersion(platform::ModuleFileName(module), ms, ls) && IsExtendedVersion(ms, ls);
  }
  return instance;
}

// Toolkit blocks released on every way out.
struct FindHolder {
  const VcertApi* api;
  VCERT_FIND_RESULT* r = nullptr;
  ~FindHolder() {
    if (r != nullptr) api->VCERT_FreeFindResult(r);
  }
};

std::string WithoutColons(const char* text) {
  std::string out;
  for (const char* p = text; p != nullptr && *p != 0; ++p) {
    if (*p != ':') out += *p;
  }
  return out;
}

// RFC 4514 components split at the commas that are not escaped.
std::vector<std::string> NameParts(const char* name) {
  std::vector<std::string> parts(1);
  for (const char* p = name; p != nullptr && *p != 0; ++p) {
    if (*p == '\\' && p[1] != 0) {
      parts.back() += *p++;
      parts.back() += *p;
    } else if (*p == ',') {
      parts.emplace_back();
    } else {
      parts.back() += *p;
    }
  }
  return parts;
}

std::string DateText(int64_t seconds) {
  const int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  const int64_t rest = seconds - days * 86400;
  // Civil date from days since 1970 (proleptic Gregorian).
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d-%02d-%02d %02d:%02d:%02d", static_cast<int>(d), static_cast<int>(m),
                static_cast<int>(y % 100), static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return buf;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  for (const std::string& s : list) {
    if (s == item) return true;
  }
  return false;
}

}  // namespace

bool IsExtendedVersion(uint32_t Ms, uint32_t Ls) {
  const uint32_t major = Ms >> 16, minor = Ms & 0xFFFF, build = Ls & 0xFFFF;
  return major > 3 || (major == 3 && (minor >= 2 || (minor == 1 && build >= 150)));
}

std::string SettingsKey(const TValidataSettings& S) {
  return BindingKey({S.Profile, S.Pse, S.Store, S.Ldap, S.ServerEku, S.CashId, std::to_string(S.Flags),
                     S.Server ? "MultiThread" : ""});
}

TValidata::TValidata() {
  const TToolkit* toolkit = Toolkit();
  LibLoaded = toolkit != nullptr;
  FunctionsPresent = LibLoaded && !toolkit->Missing;
  if (FunctionsPresent) {
    api_ = &toolkit->Api;
    extended_ = toolkit->Extended;
  }
}

TValidata::~TValidata() {
  if (ctx_ == 0 || api_ == nullptr) return;
  WriteLock hold(ContextLock());
  api_->VCERT_Uninitialize(ctx_);
  ctx_ = 0;
}

int32_t TValidata::Initialize(const TValidataSettings& S) {
  if (!S.Profile.empty()) return api_->VCERT_Initialize(S.Profile.c_str(), &ctx_);
  const std::string pse = "pse://signed/" + S.Pse, store = "file://" + S.Store, ldap = "ldap://" + S.Ldap;
  VCERT_INIT_PARAMS params{};
  params.Size = sizeof params;
  params.Flags = S.Flags;
  params.Pse = S.Pse.empty() ? nullptr : pse.c_str();
  params.Store = S.Store.empty() ? nullptr : store.c_str();
  params.Ldap = S.Ldap.empty() ? nullptr : ldap.c_str();
  return api_->VCERT_InitializeEx(1, &params, &ctx_);
}

int32_t TValidata::Run(const TValidataSettings& S, const std::function<int32_t()>& Operation) {
  if (api_ == nullptr) return kErrMissing;
  {
    SectionLock check(CheckSection());
    const uint64_t now = TKeyTimeouts::Now();
    if (ctx_ == 0 || timeouts_.Expired(S.RequestTimeout, S.LastOpTimeout, now)) {
      WriteLock hold(ContextLock());
      if (ctx_ != 0) api_->VCERT_Uninitialize(ctx_);
      // A context that failed to come back is never kept (nor uninitialised twice).
      ctx_ = 0;
      timeouts_.Reset();
      const int32_t r = Initialize(S);
      if (r != 0 || ctx_ == 0) {
        ctx_ = 0;
        return r != 0 ? r : kErrNoOwnCert;
      }
      timeouts_.Loaded(S.RequestTimeout, now);
    }
    timeouts_.Used(S.LastOpTimeout, now);
    ContextLock().BeginRead();
  }
  struct EndRead {
    ~EndRead() { ContextLock().EndRead(); }
  } endRead;
  if (S.Server || extended_) return Operation();
  SectionLock serial(OperationLock());
  return Operation();
}

int32_t TValidata::FindOwn(const TValidataSettings& S, VCERT_FIND_RESULT*& Found) {
  VCERT_SEARCH search{};
  search.Flags = VCERT_SEARCH_OWN;
  if (S.Server && !S.ServerEku.empty()) search.EkuOid = S.ServerEku.c_str();
  Found = nullptr;
  const int32_t r = api_->VCERT_FindCert(ctx_, &search, &Found);
  if (r != 0) return r;
  return Found != nullptr && Found->Count == 1 ? 0 : kErrNoOwnCert;
}

int32_t TValidata::FindByUID(const TValidataSettings& S, const std::string& UID, const VCERT_CERT* Own,
                             VCERT_FIND_RESULT*& Found) {
  VCERT_SEARCH search{};
  if (S.UidLocation == "CN") {
    search.CommonName = UID.c_str();
  } else {
    search.Serial = UID.c_str();
    search.Issuer = Own != nullptr ? Own->Issuer : "";
  }
  Found = nullptr;
  return api_->VCERT_FindCert(ctx_, &search, &Found);
}

int32_t TValidata::UidOf(const TValidataSettings& S, const VCERT_CERT& Cert, std::string& UID) const {
  if (S.UidLocation != "CN") {
    UID = WithoutColons(Cert.Serial);
    return UID.empty() ? kErrCertChoice : 0;
  }
  // The parsed common name, never a text search in the subject: a subject with none or with
  // two cannot name a user.
  if (Cert.CommonName == nullptr || *Cert.CommonName == 0) return kErrCertChoice;
  UID = Cert.CommonName;
  return 0;
}

int32_t TValidata::GetOwnUID(const TValidataSettings& S, std::string& UID) {
  return Run(S, [&] {
    FindHolder own{api_};
    const int32_t r = FindOwn(S, own.r);
    return r != 0 ? r : UidOf(S, *own.r->Certs[0], UID);
  });
}

int32_t TValidata::SignBuffer(const TValidataSettings& S, const uint8_t* Data, size_t Len,
                              std::vector<uint8_t>& Signature) {
  return Run(S, [&] {
    FindHolder own{api_};
    VCERT_SIGN_PARAMS params{};
    if (S.Server) {
      const int32_t r = FindOwn(S, own.r);
      if (r != 0) return r;
      params.Cert = own.r->Certs[0];
    }
    uint8_t* sig = nullptr;
    uint32_t sigLen = 0;
    const int32_t r = api_->VCERT_SignMem(ctx_, &params, Data, static_cast<uint32_t>(Len), &sig, &sigLen);
    if (r == 0 && sig != nullptr) Signature.assign(sig, sig + sigLen);
    if (sig != nullptr) api_->VCERT_FreeMem(sig);
    return r;
  });
}

int32_t TValidata::VerifyBuffer(const TValidataSettings& S, VerifyMode Mode, const uint8_t* Data, size_t Len,
                                const uint8_t* Signature, size_t SignatureLen, std::string& Result) {
  return Run(S, [&] {
    const VCERT_BLOB data{Data, static_cast<uint32_t>(Len)}, sig{Signature, static_cast<uint32_t>(SignatureLen)};
    VCERT_VERIFY_RESULT* result = nullptr;
    int32_t r = api_->VCERT_VerifyMem(ctx_, &data, &sig, &result);
    struct Release {
      const VcertApi* api;
      VCERT_VERIFY_RESULT* r;
      ~Release() {
        if (r != nullptr) api->VCERT_FreeVerifyResult(r);
      }
    } release{api_, result};
    if (r != 0) return r;
    if (result == nullptr || result->SignerCount != 1 || result->Cert == nullptr) return kErrSignerCount;
    const VCERT_CERT& cert = *result->Cert;
    std::vector<std::string> allowed, usages;
    ParseSemicolonList(S.SignEku.c_str(), allowed);
    ParseSemicolonList(cert.Ekus, usages);
    if (!allowed.empty() && !usages.empty()) {
      bool any = false;
      for (const std::string& u : usages) any = any || Contains(allowed, u);
      if (!any) return kErrEku;
    }
    switch (Mode) {
      case VerifyMode::Description:
        Result = DescribeCertificate(cert);
        return 0;
      case VerifyMode::Pem:
        Result = CertificatePem(cert);
        return 0;
      case VerifyMode::Show:
        r = api_->VCERT_ShowCertificate(ctx_, &cert);
        if (r != 0) return r;
        [[fallthrough]];
      default:
        return UidOf(S, cert, Result);
    }
  });
}

int32_t TValidata::EncryptForRecipients(const TValidataSettings& S, const std::string& Recipients, uint8_t* Data,
                                        size_t Len, size_t Capacity, size_t& OutLen) {
  return Run(S, [&] {
    FindHolder own{api_};
    if (S.UidLocation != "CN") {
      const int32_t r = FindOwn(S, own.r);
      if (r != 0) return r;
    }
    std::vector<std::string> uids;
    ParseSemicolonList(Recipients.c_str(), uids);
    if (uids.empty()) return kErrNoRecipients;
    std::vector<std::unique_ptr<FindHolder>> found;
    std::vector<const VCERT_CERT*> certs;
    for (const std::string& uid : uids) {
      found.push_back(std::make_unique<FindHolder>(FindHolder{api_}));
      const int32_t r = FindByUID(S, uid, own.r != nullptr ? own.r->Certs[0] : nullptr, found.back()->r);
      if (r != 0) return r;
      // A recipient without a certificate is an error, never silently left out.
      if (found.back()->r == nullptr || found.back()->r->Count == 0) return kErrCertChoice;
      for (uint32_t i = 0; i < found.back()->r->Count; ++i) certs.push_back(found.back()->r->Certs[i]);
    }
    const VCERT_BLOB in{Data, static_cast<uint32_t>(Len)};
    uint8_t* out = nullptr;
    uint32_t outLen = 0;
    int32_t r = api_->VCERT_EncryptMem(ctx_, certs.data(), static_cast<uint32_t>(certs.size()), &in, &out, &outLen);
    if (r == 0 && (out == nullptr || outLen > Capacity)) r = kErrTooLarge;
    // Straight from the toolkit's block into the caller's buffer, once the toolkit is done reading it.
    if (r == 0) std::memcpy(Data, out, outLen), OutLen = outLen;
    if (out != nullptr) api_->VCERT_FreeMem(out);
    return r;
  });
}

int32_t TValidata::DecryptMessage(const TValidataSettings& S, uint8_t* Data, size_t Len, size_t& OutLen) {
  return Run(S, [&] {
    FindHolder own{api_};
    if (S.Server) {
      const int32_t r = FindOwn(S, own.r);
      if (r != 0) return r;
    }
    const VCERT_BLOB in{Data, static_cast<uint32_t>(Len)};
    VCERT_DECRYPT_RESULT* result = nullptr;
    int32_t r = api_->VCERT_DecryptMem(ctx_, &in, own.r != nullptr ? own.r->Certs[0] : nullptr, &result);
    OutLen = 0;
    if (r == 0 && result != nullptr && result->Length > Len) r = kErrTooLarge;
    // Straight from the toolkit's block into the caller's buffer, once the toolkit is done reading it.
    if (r == 0 && result != nullptr && result->Length > 0) std::memcpy(Data, result->Data, result->Length), OutLen = result->Length;
    if (result != nullptr) api_->VCERT_FreeDecryptResult(result);
    return r;
  });
}

int32_t TValidata::StoreArmoured(const TValidataSettings& S, bool Crl, const uint8_t* Bytes, size_t Len) {
  return Run(S, [&] {
    auto add = [&](const uint8_t* p, size_t n) {
      return Crl ? api_->VCERT_AddCRL(ctx_, p, static_cast<uint32_t>(n))
                 : api_->VCERT_AddCertificate(ctx_, p, static_cast<uint32_t>(n));
    };
    const int32_t first = add(Bytes, Len);
    if (first == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(Bytes), Len);
    const std::string begin = Crl ? "-----BEGIN X509 CRL-----" : "-----BEGIN CERTIFICATE-----";
    const std::string end = Crl ? "-----END X509 CRL-----" : "-----END CERTIFICATE-----";
    const size_t b = text.find(begin);
    const size_t e = b == std::string::npos ? b : text.find(end, b + begin.size());
    if (e == std::string::npos) {
      // DER the toolkit refused for a reason of its own (untrusted, revoked) keeps that reason.
      if (Len > 0 && Bytes[0] == 0x30) return first;
      return Crl ? kErrCrlFormat : kErrCertFormat;
    }
    // Only Base64 characters: line breaks and blanks inside the armour are no part of the text.
    std::string body;
    for (size_t i = b + begin.size(); i < e; ++i) {
      const char c = text[i];
      if (std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '=') body += c;
    }
    uint8_t* der = nullptr;
    int32_t derLen = 0;
    MimeDecode(reinterpret_cast<const uint8_t*>(body.data()), static_cast<int32_t>(body.size()), &der, &derLen);
    if (der == nullptr) return derLen == 0 && !body.empty() ? (Crl ? kErrCrlFormat : kErrCertFormat) : kErrNoMemory;
    const int32_t r = add(der, static_cast<size_t>(derLen));
    MimeFree(der);
    return r;
  });
}

int32_t TValidata::StoreCertificate(const TValidataSettings& S, const uint8_t* Bytes, size_t Len) {
  return StoreArmoured(S, false, Bytes, Len);
}

int32_t TValidata::StoreCRL(const TValidataSettings& S, const uint8_t* Bytes, size_t Len) {
  return StoreArmoured(S, true, Bytes, Len);
}

int32_t TValidata::ImportEnvironment(const TValidataSettings& S, const std::string& File) {
  return Run(S, [&] { return api_->VCERT_ImportFile(ctx_, File.c_str()); });
}

void TValidata::GetErrorText(int32_t Code, char* Buffer, uint32_t Size, bool ServerMode) {
  if (api_ == nullptr || Buffer == nullptr || Size == 0) return;
  std::memset(Buffer, 0, Size);
  if (ServerMode || extended_) {
    api_->VCERT_GetErrorText(Code, Buffer, Size);
    return;
  }
  SectionLock serial(OperationLock());
  api_->VCERT_GetErrorText(Code, Buffer, Size);
}

std::string TValidata::CertificatePem(const VCERT_CERT& Cert) {
  uint8_t* text = nullptr;
  int32_t len = 0;
  MimeEncode(Cert.Der, static_cast<int32_t>(Cert.DerLen), &text, &len);
  std::string body;
  if (text != nullptr) body.assign(reinterpret_cast<const char*>(text), static_cast<size_t>(len));
  MimeFree(text);
  std::string oneLine;
  for (char c : body) {
    if (c != '\r' && c != '\n') oneLine += c;
  }
  return "-----BEGIN CERTIFICATE-----\r\n" + oneLine + "\r\n-----END CERTIFICATE-----";
}

std::string TValidata::DescribeCertificate(const VCERT_CERT& Cert) {
  std::string out;
  for (const std::string& part : NameParts(Cert.Issuer)) out += "I" + part + "\r\n";
  out += "SN=" + WithoutColons(Cert.Serial) + "\r\n";
  for (const std::string& part : NameParts(Cert.Subject)) out += part + "\r\n";
  out += std::string("PKeyAlg=") + (Cert.KeyAlgorithm != nullptr ? Cert.KeyAlgorithm : "") + "\r\n";
  out += "NotBefore=" + DateText(Cert.NotBefore) + "\r\n";
  out += "NotAfter=" + DateText(Cert.NotAfter) + "\r\n";
  out += "SecNotBefore=" + DateText(Cert.SecNotBefore) + "\r\n";
  out += "SecNotAfter=" + DateText(Cert.SecNotAfter) + "\r\n";
  if (Cert.KeyUsage != 0) {
    static const struct {
      uint32_t bit;
      const char* names;
    } kUsages[] = {{0x80, "DigitalSignature"}, {0x40, "NonRepudiation"}, {0x20, "KeyEncipherment"},
                   {0x10, "DataEncipherment"}, {0x08, "KeyAgreement"},   {0x04, "KeyCertSign"},
                   {0x02, "OffLineCrlSign;CrlSign"}, {0x01, "EncipherOnly"}};
    std::string names;
    for (const auto& u : kUsages) {
      if (Cert.KeyUsage & u.bit) names += (names.empty() ? "" : ";") + std::string(u.names);
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", Cert.KeyUsage);
    out += "SKU=" + names + "(" + hex + ")\r\n";
  }
  return out;
}

}  // namespace zk::validata
