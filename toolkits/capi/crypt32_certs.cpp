// Certificate and CRL contexts of the stand-in "crypt32.dll", built from X.509 by OpenSSL, with
// the CERT_INFO fields a CryptoAPI caller reads, and their properties.
#include <openssl/sha.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "crypt32_internal.h"
#include "standin.h"

namespace capistandin {
namespace {

// Handed-out addresses (contexts, stores) -> their objects.
std::map<const void*, void*>& Registry() {
  static standin::Immortal<std::map<const void*, void*>> registry;
  return registry.get();
}

// The CERT_INFO of each live certificate context -> its certificate, whose key OpenSSL decoded
// once already.
std::map<const CERT_INFO*, TCertElem*>& InfoRegistry() {
  static standin::Immortal<std::map<const CERT_INFO*, TCertElem*>> registry;
  return registry.get();
}

std::vector<BYTE> TypeBytes(int type, const void* value) {
  std::vector<BYTE> bytes;
  if (type == V_ASN1_UNDEF) return bytes;
  ASN1_TYPE* t = ASN1_TYPE_new();
  if (t != nullptr && ASN1_TYPE_set1(t, type, value)) {
    unsigned char* der = nullptr;
    const int len = i2d_ASN1_TYPE(t, &der);
    if (len > 0) bytes.assign(der, der + len);
    OPENSSL_free(der);
  }
  ASN1_TYPE_free(t);
  return bytes;
}

CRYPT_BLOB Blob(std::vector<BYTE>& bytes) {
  return CRYPT_BLOB{static_cast<DWORD>(bytes.size()), bytes.empty() ? nullptr : bytes.data()};
}

constexpr size_t kProvInfoHead = sizeof(CRYPT_KEY_PROV_INFO);

// KEY_PROV_INFO kept as its flat form: the structure, then both names (UTF-16, with their zero).
std::vector<BYTE> FlatProvInfo(const CRYPT_KEY_PROV_INFO& info) {
  auto length = [](const char16_t* s) {
    size_t n = 0;
    while (s != nullptr && s[n] != 0) ++n;
    return n;
  };
  const size_t container = length(info.pwszContainerName), provider = length(info.pwszProvName);
  std::vector<BYTE> flat(kProvInfoHead + (container + 1 + provider + 1) * sizeof(char16_t), 0);
  CRYPT_KEY_PROV_INFO head = info;
  head.cProvParam = 0;
  head.rgProvParam = nullptr;
  std::memcpy(flat.data(), &head, sizeof head);
  if (container > 0) std::memcpy(flat.data() + kProvInfoHead, info.pwszContainerName, container * 2);
  if (provider > 0) std::memcpy(flat.data() + kProvInfoHead + (container + 1) * 2, info.pwszProvName, provider * 2);
  return flat;
}

// The flat form given out: its string pointers made to point into the caller's copy.
void FixProvInfo(BYTE* out) {
  auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(out);
  auto* container = reinterpret_cast<char16_t*>(out + kProvInfoHead);
  size_t n = 0;
  while (container[n] != 0) ++n;
  info->pwszContainerName = container;
  info->pwszProvName = container + n + 1;
}

std::string Narrow(const char16_t* wide) {
  std::string text;
  for (; wide != nullptr && *wide != 0; ++wide) text += static_cast<char>(*wide < 0x80 ? *wide : '?');
  return text;
}

}  // namespace

std::recursive_mutex& GraphLock() {
  static standin::Immortal<std::recursive_mutex> lock;
  return lock.get();
}

std::string OidText(const ASN1_OBJECT* obj) {
  char text[128];
  const int len = OBJ_obj2txt(text, sizeof text, obj, 1);
  return len > 0 && len < static_cast<int>(sizeof text) ? std::string(text, static_cast<size_t>(len)) : "";
}

FILETIME_ ToFileTime(const ASN1_TIME* time) {
  struct tm tm {};
  if (time == nullptr || !ASN1_TIME_to_tm(time, &tm)) return FILETIME_{0, 0};
  const uint64_t ticks = (static_cast<uint64_t>(timegm(&tm)) + 11644473600ull) * 10000000ull;
  return FILETIME_{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

std::vector<BYTE> SerialBytes(const ASN1_INTEGER* serial) {
  unsigned char* der = nullptr;
  const int len = i2d_ASN1_INTEGER(serial, &der);
  std::vector<BYTE> bytes;
  if (len > 2) {
    // Tag, length (short or long form), then the two's-complement content.
    size_t head = 2;
    if (der[1] & 0x80) head += der[1] & 0x7F;
    bytes.assign(der + head, der + len);
  }
  OPENSSL_free(der);
  return std::vector<BYTE>(bytes.rbegin(), bytes.rend());
}

std::vector<BYTE> NameBytes(const X509_NAME* name) {
  unsigned char* der = nullptr;
  const int len = i2d_X509_NAME(name, &der);
  std::vector<BYTE> bytes;
  if (len > 0) bytes.assign(der, der + len);
  OPENSSL_free(der);
  return bytes;
}

void FillCertInfo(X509* x, CERT_INFO& info, TCertInfoData& d) {
  info.dwVersion = static_cast<DWORD>(X509_get_version(x));
  d.serial = SerialBytes(X509_get0_serialNumber(x));
  info.SerialNumber = Blob(d.serial);
  const X509_ALGOR* sigAlg = nullptr;
  X509_get0_signature(nullptr, &sigAlg, x);
  const ASN1_OBJECT* obj = nullptr;
  int type = V_ASN1_UNDEF;
  const void* value = nullptr;
  X509_ALGOR_get0(&obj, &type, &value, sigAlg);
  d.sigOid = OidText(obj);
  d.sigParams = TypeBytes(type, value);
  info.SignatureAlgorithm = {d.sigOid.data(), Blob(d.sigParams)};
  d.issuer = NameBytes(X509_get_issuer_name(x));
  d.subject = NameBytes(X509_get_subject_name(x));
  info.Issuer = Blob(d.issuer);
  info.Subject = Blob(d.subject);
  info.NotBefore = ToFileTime(X509_get0_notBefore(x));
  info.NotAfter = ToFileTime(X509_get0_notAfter(x));
  ASN1_OBJECT* keyObj = nullptr;
  const unsigned char* key = nullptr;
  int keyLen = 0;
  X509_ALGOR* keyAlg = nullptr;
  X509_PUBKEY_get0_param(&keyObj, &key, &keyLen, &keyAlg, X509_get_X509_PUBKEY(x));
  X509_ALGOR_get0(&obj, &type, &value, keyAlg);
  d.keyOid = OidText(keyObj);
  d.keyParams = TypeBytes(type, value);
  d.publicKey.assign(key, key + (key != nullptr ? keyLen : 0));
  info.SubjectPublicKeyInfo.Algorithm = {d.keyOid.data(), Blob(d.keyParams)};
  info.SubjectPublicKeyInfo.PublicKey = {static_cast<DWORD>(d.publicKey.size()),
                                         d.publicKey.empty() ? nullptr : d.publicKey.data(), 0};
  const int count = X509_get_ext_count(x);
  d.extOids.resize(static_cast<size_t>(count));
  d.extValues.resize(static_cast<size_t>(count));
  d.extensions.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    X509_EXTENSION* ext = X509_get_ext(x, i);
    const ASN1_OCTET_STRING* v = X509_EXTENSION_get_data(ext);
    const auto n = static_cast<size_t>(i);
    d.extOids[n] = OidText(X509_EXTENSION_get_object(ext));
    d.extValues[n].assign(ASN1_STRING_get0_data(v), ASN1_STRING_get0_data(v) + ASN1_STRING_length(v));
    d.extensions[n] = {d.extOids[n].data(), X509_EXTENSION_get_critical(ext) ? 1 : 0, Blob(d.extValues[n])};
  }
  info.cExtension = static_cast<DWORD>(count);
  info.rgExtension = count > 0 ? d.extensions.data() : nullptr;
}

TCertElem* CertOf(PCCERT_CONTEXT cert) {
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  const auto it = Registry().find(cert);
  return it != Registry().end() ? static_cast<TCertElem*>(it->second) : nullptr;
}

TCrlElem* CrlOf(PCCRL_CONTEXT crl) {
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  const auto it = Registry().find(crl);
  return it != Registry().end() ? static_cast<TCrlElem*>(it->second) : nullptr;
}

TStore* StoreOf(HCERTSTORE store) {
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  const auto it = Registry().find(store);
  return it != Registry().end() ? static_cast<TStore*>(it->second) : nullptr;
}

namespace {

// The latest decodings by their exact bytes; bounded, emptied when full.
struct TDecodedCerts {
  std::mutex lock;
  std::map<std::string, std::shared_ptr<const TDecodedCert>> byDer;
};
constexpr size_t kDecodedKept = 64;

std::shared_ptr<const TDecodedCert> Decoded(const BYTE* der, DWORD len) {
  static standin::Immortal<TDecodedCerts> kept;
  TDecodedCerts& certs = kept.get();
  std::string bytes(reinterpret_cast<const char*>(der), len);
  {
    std::lock_guard<std::mutex> hold(certs.lock);
    const auto it = certs.byDer.find(bytes);
    if (it != certs.byDer.end()) return it->second;
  }
  ZkCapiLibContext();  // the GOST engine first, so that a GOST public key is decoded with the certificate
  const unsigned char* p = der;
  X509* x = d2i_X509(nullptr, &p, static_cast<long>(len));
  if (x == nullptr || p != der + len) {
    X509_free(x);
    return nullptr;
  }
  auto d = std::make_shared<TDecodedCert>();
  d->x509 = x;
  d->der.assign(der, der + len);
  FillCertInfo(x, d->info, d->data);
  std::lock_guard<std::mutex> hold(certs.lock);
  if (certs.byDer.size() >= kDecodedKept) certs.byDer.clear();
  certs.byDer.emplace(std::move(bytes), d);
  return d;
}

// A new context (one reference) over a decoding, belonging to `store` (may be null).
TCertElem* NewCertOver(std::shared_ptr<const TDecodedCert> decoded, TStore* store) {
  auto* c = new TCertElem(std::move(decoded));
  // X509_ASN_ENCODING; the encoded bytes are shared, and read-only to callers as on Windows.
  c->ctx = {1, const_cast<BYTE*>(c->der.data()), static_cast<DWORD>(c->der.size()), &c->info, store};
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  c->store = store;
  if (store != nullptr) ++store->live;
  Registry()[&c->ctx] = c;
  InfoRegistry()[&c->info] = c;
  return c;
}

}  // namespace

TCertElem* NewCert(const BYTE* der, DWORD len, TStore* store) {
  if (der == nullptr || len == 0) return nullptr;
  std::shared_ptr<const TDecodedCert> decoded = Decoded(der, len);
  return decoded ? NewCertOver(std::move(decoded), store) : nullptr;
}

EVP_PKEY* KnownPublicKey(const CERT_INFO* info) {
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  const auto it = InfoRegistry().find(info);
  return it != InfoRegistry().end() ? X509_get_pubkey(it->second->x509) : nullptr;
}

TCrlElem* NewCrl(const BYTE* der, DWORD len, TStore* store) {
  if (der == nullptr || len == 0) return nullptr;
  const unsigned char* p = der;
  X509_CRL* crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(len));
  if (crl == nullptr || p != der + len) {
    X509_CRL_free(crl);
    return nullptr;
  }
  auto* c = new TCrlElem;
  c->crl = crl;
  c->der.assign(der, der + len);
  c->issuer = NameBytes(X509_CRL_get_issuer(crl));
  const X509_ALGOR* alg = nullptr;
  X509_CRL_get0_signature(crl, nullptr, &alg);
  const ASN1_OBJECT* obj = nullptr;
  X509_ALGOR_get0(&obj, nullptr, nullptr, alg);
  c->sigOid = OidText(obj);
  c->info.dwVersion = static_cast<DWORD>(X509_CRL_get_version(crl));
  c->info.SignatureAlgorithm = {c->sigOid.data(), {0, nullptr}};
  c->info.Issuer = Blob(c->issuer);
  c->info.ThisUpdate = ToFileTime(X509_CRL_get0_lastUpdate(crl));
  c->info.NextUpdate = ToFileTime(X509_CRL_get0_nextUpdate(crl));
  c->ctx = {1, c->der.data(), len, &c->info, store};
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  c->store = store;
  if (store != nullptr) ++store->live;
  Registry()[&c->ctx] = c;
  return c;
}

static void StoreGone(TStore* store) {
  if (store != nullptr && --store->live == 0 && store->handles == 0) {
    Registry().erase(static_cast<void*>(store));
    delete store;
  }
}

void ReleaseCert(TCertElem* c) {
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  if (--c->refs > 0) return;
  Registry().erase(&c->ctx);
  InfoRegistry().erase(&c->info);
  if (c->hasKeyContext && c->releaseKeyContext) CryptReleaseContext(c->keyContext.hCryptProv, 0);
  TStore* store = c->store;
  delete c;
  StoreGone(store);
}

void ReleaseCrl(TCrlElem* c) {
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  if (--c->refs > 0) return;
  Registry().erase(&c->ctx);
  X509_CRL_free(c->crl);
  TStore* store = c->store;
  delete c;
  StoreGone(store);
}

TStore* NewStore(const std::string& directory) {
  auto* s = new TStore;
  s->directory = directory;
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  Registry()[s] = s;
  return s;
}

void CloseStore(TStore* s) {
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  if (--s->handles > 0) return;
  ++s->live;  // kept while its members go
  const auto certs = std::move(s->certs);
  s->byIssuerAndSerial.clear();
  const auto crls = std::move(s->crls);
  for (TCertElem* c : certs) ReleaseCert(c);
  for (TCrlElem* c : crls) ReleaseCrl(c);
  StoreGone(s);
}

std::string IssuerSerialKey(const CERT_INFO& info) {
  std::string key(reinterpret_cast<const char*>(info.Issuer.pbData), info.Issuer.cbData);
  key += '\0';
  key.append(reinterpret_cast<const char*>(info.SerialNumber.pbData), info.SerialNumber.cbData);
  return std::to_string(info.Issuer.cbData) + ":" + key;
}

void AddMember(TStore* store, TCertElem* cert) {
  cert->order = ++store->added;
  store->certs.push_back(cert);
  store->byIssuerAndSerial.emplace(IssuerSerialKey(cert->info), cert);
}

void DropMember(TStore* store, TCertElem* cert) {
  auto& v = store->certs;
  v.erase(std::remove(v.begin(), v.end(), cert), v.end());
  auto range = store->byIssuerAndSerial.equal_range(IssuerSerialKey(cert->info));
  for (auto it = range.first; it != range.second; ++it)
    if (it->second == cert) {
      store->byIssuerAndSerial.erase(it);
      break;
    }
}

TCertElem* AddCopy(TStore* store, TCertElem* cert) {
  TCertElem* copy = NewCertOver(cert->decoded, store);
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  copy->props = cert->props;
  if (cert->hasKeyContext) {
    copy->hasKeyContext = true;
    copy->keyContext = cert->keyContext;
    if (CryptContextAddRef(copy->keyContext.hCryptProv, nullptr, 0)) copy->releaseKeyContext = true;
  }
  AddMember(store, copy);
  ++copy->refs;
  return copy;
}

std::vector<X509*> StoreCertificates(TStore* store) {
  std::vector<X509*> out;
  if (store == nullptr) return out;
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  for (TCertElem* c : store->certs) {
    X509_up_ref(c->x509);
    out.push_back(c->x509);
  }
  return out;
}

std::vector<X509_CRL*> StoreCrls(TStore* store) {
  std::vector<X509_CRL*> out;
  if (store == nullptr) return out;
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  for (TCrlElem* c : store->crls) {
    X509_CRL_up_ref(c->crl);
    out.push_back(c->crl);
  }
  return out;
}

bool SameIssuerAndSerial(const CERT_INFO& a, const CERT_INFO& b) {
  auto same = [](const CRYPT_BLOB& x, const CRYPT_BLOB& y) {
    return x.cbData == y.cbData && (x.cbData == 0 || std::memcmp(x.pbData, y.pbData, x.cbData) == 0);
  };
  return same(a.Issuer, b.Issuer) && same(a.SerialNumber, b.SerialNumber);
}

EVP_PKEY* CertPrivateKey(TCertElem* cert) {
  HCRYPTPROV prov = 0;
  DWORD spec = 1;
  std::string container, provider;
  DWORD type = 0;
  {
    std::lock_guard<std::recursive_mutex> hold(GraphLock());
    if (cert->hasKeyContext) {
      prov = cert->keyContext.hCryptProv;
      spec = cert->keyContext.dwKeySpec;
    } else if (auto it = cert->props.find(kKeyProvInfoProp); it != cert->props.end()) {
      std::vector<BYTE> copy = it->second;
      FixProvInfo(copy.data());
      const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(copy.data());
      container = Narrow(info->pwszContainerName);
      provider = Narrow(info->pwszProvName);
      type = info->dwProvType;
      spec = info->dwKeySpec;
    } else {
      SetLastError(kCryptENoKeyProperty);
      return nullptr;
    }
  }
  if (prov != 0) return ZkCapiProviderKey(prov, spec);
  if (!ZkCapiAcquire(&prov, container.c_str(), provider.empty() ? nullptr : provider.c_str(), type)) return nullptr;
  EVP_PKEY* key = ZkCapiProviderKey(prov, spec);
  CryptReleaseContext(prov, 0);
  return key;
}

BOOL GiveBytes(const std::vector<BYTE>& bytes, void* out, DWORD* outLen) {
  if (outLen == nullptr) return Fail(kErrorInvalidParameter);
  const DWORD room = *outLen;
  *outLen = static_cast<DWORD>(bytes.size());
  if (out == nullptr) return 1;
  if (room < bytes.size()) return Fail(kErrorMoreData);
  if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
  return 1;
}

}  // namespace capistandin

using namespace capistandin;

extern "C" {

STANDIN_EXPORT PCCERT_CONTEXT CertCreateCertificateContext(DWORD, const BYTE* Encoded, DWORD Len) {
  if (Scripted("CertCreateCertificateContext")) return nullptr;
  TCertElem* c = NewCert(Encoded, Len, nullptr);
  if (c == nullptr) SetLastError(kCryptEAsn1BadTag);
  return c != nullptr ? &c->ctx : nullptr;
}

STANDIN_EXPORT BOOL CertFreeCertificateContext(PCCERT_CONTEXT Cert) {
  if (Cert == nullptr) return 1;
  TCertElem* c = CertOf(Cert);
  if (c == nullptr) return Fail(kErrorInvalidParameter);
  ReleaseCert(c);
  return 1;
}

STANDIN_EXPORT PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT Cert) {
  TCertElem* c = CertOf(Cert);
  if (c == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  ++c->refs;
  return Cert;
}

STANDIN_EXPORT PCCRL_CONTEXT CertCreateCRLContext(DWORD, const BYTE* Encoded, DWORD Len) {
  if (Scripted("CertCreateCRLContext")) return nullptr;
  TCrlElem* c = NewCrl(Encoded, Len, nullptr);
  if (c == nullptr) SetLastError(kCryptEAsn1BadTag);
  return c != nullptr ? &c->ctx : nullptr;
}

STANDIN_EXPORT BOOL CertFreeCRLContext(PCCRL_CONTEXT Crl) {
  if (Crl == nullptr) return 1;
  TCrlElem* c = CrlOf(Crl);
  if (c == nullptr) return Fail(kErrorInvalidParameter);
  ReleaseCrl(c);
  return 1;
}

// Issuer and serial only, as the CryptoAPI documents it (not an identity check).
STANDIN_EXPORT BOOL CertCompareCertificate(DWORD, CERT_INFO* A, CERT_INFO* B) {
  if (A == nullptr || B == nullptr) return Fail(kErrorInvalidParameter);
  return SameIssuerAndSerial(*A, *B) ? 1 : 0;
}

// The first bytes of the key-usage extension; FALSE with last error 0 when it has none.
STANDIN_EXPORT BOOL CertGetIntendedKeyUsage(DWORD, CERT_INFO* Info, BYTE* Usage, DWORD UsageLen) {
  if (Scripted("CertGetIntendedKeyUsage")) return 0;
  if (Info == nullptr || (Usage == nullptr && UsageLen > 0)) return Fail(kErrorInvalidParameter);
  for (DWORD i = 0; i < Info->cExtension; ++i) {
    const CERT_EXTENSION& ext = Info->rgExtension[i];
    if (ext.pszObjId == nullptr || std::strcmp(ext.pszObjId, "2.5.29.15") != 0) continue;
    const unsigned char* p = ext.Value.pbData;
    ASN1_BIT_STRING* bits = d2i_ASN1_BIT_STRING(nullptr, &p, static_cast<long>(ext.Value.cbData));
    if (bits == nullptr) return Fail(kCryptEAsn1BadTag);
    std::memset(Usage, 0, UsageLen);
    const int len = ASN1_STRING_length(bits);
    std::memcpy(Usage, ASN1_STRING_get0_data(bits), std::min<size_t>(UsageLen, static_cast<size_t>(len)));
    ASN1_BIT_STRING_free(bits);
    return 1;
  }
  SetLastError(0);
  return 0;
}

STANDIN_EXPORT BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT Cert, DWORD PropId, DWORD Flags,
                                                      const void* Data) {
  if (Scripted("CertSetCertificateContextProperty")) return 0;
  TCertElem* c = CertOf(Cert);
  if (c == nullptr) return Fail(kErrorInvalidParameter);
  std::unique_lock<std::recursive_mutex> hold(GraphLock());
  if (PropId == kKeyContextProp) {
    if (c->hasKeyContext && c->releaseKeyContext) CryptReleaseContext(c->keyContext.hCryptProv, 0);
    c->hasKeyContext = Data != nullptr;
    if (Data != nullptr) {
      const auto* key = static_cast<const CERT_KEY_CONTEXT*>(Data);
      if (key->cbSize < sizeof(CERT_KEY_CONTEXT)) {
        c->hasKeyContext = false;
        return Fail(kErrorInvalidParameter);
      }
      c->keyContext = *key;
      // Without CERT_STORE_NO_CRYPT_RELEASE_FLAG the property owns the provider handle.
      c->releaseKeyContext = (Flags & kNoCryptRelease) == 0;
    }
    return 1;
  }
  if (PropId == kKeyProvInfoProp) {
    if (Data == nullptr) c->props.erase(PropId);
    else c->props[PropId] = FlatProvInfo(*static_cast<const CRYPT_KEY_PROV_INFO*>(Data));
    hold.unlock();
    PersistProvInfo(c);
    return 1;
  }
  if (PropId == 3 || PropId == 20) return Fail(kErrorInvalidParameter);  // computed hashes
  // Any other property is a CRYPT_DATA_BLOB kept as given.
  if (Data == nullptr) {
    c->props.erase(PropId);
    return 1;
  }
  const auto* blob = static_cast<const CRYPT_BLOB*>(Data);
  c->props[PropId].assign(blob->pbData, blob->pbData + blob->cbData);
  return 1;
}

STANDIN_EXPORT BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT Cert, DWORD PropId, void* Data,
                                                      DWORD* DataLen) {
  if (Scripted("CertGetCertificateContextProperty")) return 0;
  TCertElem* c = CertOf(Cert);
  if (c == nullptr || DataLen == nullptr) return Fail(kErrorInvalidParameter);
  std::vector<BYTE> bytes;
  {
    std::lock_guard<std::recursive_mutex> hold(GraphLock());
    if (PropId == kKeyContextProp) {
      if (!c->hasKeyContext) return Fail(kCryptENotFound);
      const auto* p = reinterpret_cast<const BYTE*>(&c->keyContext);
      bytes.assign(p, p + sizeof c->keyContext);
    } else if (PropId == 3) {  // SHA-1 hash of the encoding
      bytes.resize(SHA_DIGEST_LENGTH);
      SHA1(c->der.data(), c->der.size(), bytes.data());
    } else {
      auto it = c->props.find(PropId);
      if (it == c->props.end()) return Fail(kCryptENotFound);
      bytes = it->second;
    }
  }
  if (!GiveBytes(bytes, Data, DataLen)) return 0;
  if (PropId == kKeyProvInfoProp && Data != nullptr) FixProvInfo(static_cast<BYTE*>(Data));
  return 1;
}

}  // extern "C"
