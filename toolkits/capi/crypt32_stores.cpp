// Certificate stores of the stand-in "crypt32.dll": memory stores, and the system stores ("MY",
// "ROOT", any name) kept under "<home>/stores/<NAME>/" as "<sha1>.cer" with a "<sha1>.prov" side
// file for the link to the key container, so that what a test or the demo provisions, and what
// an engine adds or deletes, persists.
#include <dirent.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "crypt32_internal.h"

namespace capistandin {
namespace {

constexpr DWORD kAddNew = 1, kAddUseExisting = 2, kAddReplaceInherit = 5, kAddNewerInherit = 7;
constexpr DWORD kFindAny = 0, kFindSha1 = 0x10000, kFindSubjectStrA = 0x70007, kFindExisting = 0xD0000;

std::string HexSha1(const std::vector<BYTE>& der) {
  BYTE hash[SHA_DIGEST_LENGTH];
  SHA1(der.data(), der.size(), hash);
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (BYTE b : hash) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

std::string SystemStoreDirectory(const char* name) {
  std::string home = ZkCapiHome();
  if (home.empty() || name == nullptr) return "";
  std::string upper = name;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c == '/' || c == '\\' || c == '.') c = '_';
  }
  return home + "stores/" + upper + "/";
}

void MakeDirectories(const std::string& dir) {
  for (size_t pos = 1; (pos = dir.find('/', pos)) != std::string::npos; ++pos)
    ::mkdir(dir.substr(0, pos).c_str(), 0700);
}

std::u16string Widen(const std::string& text) {
  std::u16string wide;
  for (unsigned char c : text) wide += static_cast<char16_t>(c);
  return wide;
}

void LoadProvInfo(TCertElem* cert, const std::string& file) {
  std::ifstream in(file);
  DWORD type = 0, flags = 0, spec = 0;
  std::string container, provider;
  if (!(in >> type >> flags >> spec)) return;
  in.ignore(1);
  std::getline(in, container);
  std::getline(in, provider);
  std::u16string c = Widen(container), p = Widen(provider);
  CRYPT_KEY_PROV_INFO info{c.data(), p.data(), type, flags, 0, nullptr, spec};
  CertSetCertificateContextProperty(&cert->ctx, kKeyProvInfoProp, 0, &info);
}

// Every "*.cer" of a system store's directory.
void LoadSystemStore(TStore* store) {
  DIR* dir = ::opendir(store->directory.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".cer") == 0) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    std::ifstream in(store->directory + name, std::ios::binary);
    std::vector<BYTE> der((std::istreambuf_iterator<char>(in)), {});
    TCertElem* cert = NewCert(der.data(), static_cast<DWORD>(der.size()), store);
    if (cert == nullptr) continue;
    const std::string saved = store->directory;
    store->directory.clear();  // loading is not a change to persist
    LoadProvInfo(cert, saved + name.substr(0, name.size() - 4) + ".prov");
    store->directory = saved;
    std::lock_guard<std::recursive_mutex> hold(GraphLock());
    AddMember(store, cert);
  }
}

// Members "matching" a certificate: the same issuer and serial number, as the CryptoAPI has it.
TCertElem* Matching(TStore* store, const CERT_INFO& info) {
  auto range = store->byIssuerAndSerial.equal_range(IssuerSerialKey(info));
  if (range.first == range.second) return nullptr;
  // Several (added with ALWAYS): the one added first, as a search in order finds it.
  TCertElem* first = range.first->second;
  for (auto it = std::next(range.first); it != range.second; ++it)
    if (it->second->order < first->order) first = it->second;
  return first;
}

void RemoveMember(TStore* store, TCertElem* cert) {
  DropMember(store, cert);
  PersistRemove(store, cert);
  ReleaseCert(cert);
}

int64_t Ticks(const FILETIME_& t) { return (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

std::string SubjectText(TCertElem* c) {
  BIO* out = BIO_new(BIO_s_mem());
  X509_NAME_print_ex(out, X509_get_subject_name(c->x509), 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long len = BIO_get_mem_data(out, &data);
  std::string text(data, static_cast<size_t>(len > 0 ? len : 0));
  BIO_free(out);
  return text;
}

std::string FoldCase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return text;
}

std::string Utf8(const char16_t* wide) {
  std::string text;
  for (; wide != nullptr && *wide != 0; ++wide) {
    const unsigned c = *wide;
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else if (c < 0x800) {
      text += static_cast<char>(0xC0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      text += static_cast<char>(0xE0 | (c >> 12));
      text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return text;
}

bool Matches(TCertElem* c, DWORD type, const void* para) {
  switch (type) {
    case kFindAny:
      return true;
    case kFindSubjectCert:
      return para != nullptr && SameIssuerAndSerial(c->info, *static_cast<const CERT_INFO*>(para));
    case kFindSubjectStrW:
    case kFindSubjectStrA: {
      if (para == nullptr) return false;
      const std::string needle = type == kFindSubjectStrW ? Utf8(static_cast<const char16_t*>(para))
                                                          : std::string(static_cast<const char*>(para));
      if (c->foldedSubject.empty()) c->foldedSubject = FoldCase(SubjectText(c));
      return c->foldedSubject.find(FoldCase(needle)) != std::string::npos;
    }
    case kFindSha1: {
      const auto* blob = static_cast<const CRYPT_BLOB*>(para);
      BYTE hash[SHA_DIGEST_LENGTH];
      SHA1(c->der.data(), c->der.size(), hash);
      return blob != nullptr && blob->cbData == SHA_DIGEST_LENGTH && std::memcmp(blob->pbData, hash, SHA_DIGEST_LENGTH) == 0;
    }
    case kFindExisting: {
      const TCertElem* other = CertOf(static_cast<PCCERT_CONTEXT>(para));
      return other != nullptr && SameIssuerAndSerial(c->info, other->info);
    }
  }
  return false;
}

}  // namespace

void PersistAdd(TStore* store, TCertElem* cert) {
  if (store->directory.empty()) return;
  MakeDirectories(store->directory);
  const std::string base = store->directory + HexSha1(cert->der);
  std::ofstream out(base + ".cer.tmp", std::ios::binary);
  out.write(reinterpret_cast<const char*>(cert->der.data()), static_cast<std::streamsize>(cert->der.size()));
  out.close();
  if (!out || std::rename((base + ".cer.tmp").c_str(), (base + ".cer").c_str()) != 0) std::remove((base + ".cer.tmp").c_str());
  PersistProvInfo(cert);
}

void PersistRemove(TStore* store, TCertElem* cert) {
  if (store->directory.empty()) return;
  const std::string base = store->directory + HexSha1(cert->der);
  std::remove((base + ".cer").c_str());
  std::remove((base + ".prov").c_str());
}

void PersistProvInfo(TCertElem* cert) {
  std::vector<BYTE> flat;
  std::string directory;
  {
    std::lock_guard<std::recursive_mutex> hold(GraphLock());
    if (cert->store == nullptr || cert->store->directory.empty()) return;
    directory = cert->store->directory;
    auto it = cert->props.find(kKeyProvInfoProp);
    if (it != cert->props.end()) flat = it->second;
  }
  const std::string file = directory + HexSha1(cert->der) + ".prov";
  if (flat.empty()) {
    std::remove(file.c_str());
    return;
  }
  DWORD size = static_cast<DWORD>(flat.size());
  std::vector<BYTE> copy(flat);
  CertGetCertificateContextProperty(&cert->ctx, kKeyProvInfoProp, copy.data(), &size);
  const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(copy.data());
  auto narrow = [](const char16_t* w) {
    std::string t;
    for (; w != nullptr && *w != 0; ++w) t += static_cast<char>(*w);
    return t;
  };
  std::ofstream out(file + ".tmp");
  out << info->dwProvType << ' ' << info->dwFlags << ' ' << info->dwKeySpec << '\n'
      << narrow(info->pwszContainerName) << '\n' << narrow(info->pwszProvName) << '\n';
  out.close();
  if (!out || std::rename((file + ".tmp").c_str(), file.c_str()) != 0) std::remove((file + ".tmp").c_str());
}

}  // namespace capistandin

using namespace capistandin;

extern "C" {

STANDIN_EXPORT HCERTSTORE CertOpenStore(const char* StoreProvider, DWORD, HCRYPTPROV, DWORD, const void* Para) {
  if (Scripted("CertOpenStore")) return nullptr;
  const auto kind = reinterpret_cast<uintptr_t>(StoreProvider);
  if (kind == kStoreProvMemory) return NewStore("");
  if (kind == 9 || kind == 10) {  // CERT_STORE_PROV_SYSTEM_A / _W
    std::string name = kind == 9 ? static_cast<const char*>(Para) : Utf8(static_cast<const char16_t*>(Para));
    TStore* store = NewStore(SystemStoreDirectory(name.c_str()));
    LoadSystemStore(store);
    return store;
  }
  SetLastError(kErrorCallNotImplemented);
  return nullptr;
}

STANDIN_EXPORT HCERTSTORE CertOpenSystemStoreA(HCRYPTPROV, const char* Name) {
  if (Scripted("CertOpenSystemStoreA")) return nullptr;
  if (Name == nullptr || *Name == 0) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  TStore* store = NewStore(SystemStoreDirectory(Name));
  LoadSystemStore(store);
  return store;
}

STANDIN_EXPORT BOOL CertCloseStore(HCERTSTORE Store, DWORD) {
  if (Store == nullptr) return 1;
  TStore* store = StoreOf(Store);
  if (store == nullptr) return Fail(kErrorInvalidHandle);
  CloseStore(store);
  return 1;
}

STANDIN_EXPORT HCERTSTORE CertDuplicateStore(HCERTSTORE Store) {
  TStore* store = StoreOf(Store);
  if (store == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  ++store->handles;
  return Store;
}

STANDIN_EXPORT BOOL CertAddCertificateContextToStore(HCERTSTORE Store, PCCERT_CONTEXT Cert, DWORD Disposition,
                                                     PCCERT_CONTEXT* Added) {
  if (Scripted("CertAddCertificateContextToStore")) return 0;
  if (Added != nullptr) *Added = nullptr;
  TStore* store = StoreOf(Store);
  TCertElem* cert = CertOf(Cert);
  if (store == nullptr || cert == nullptr || Disposition < kAddNew || Disposition > kAddNewerInherit)
    return Fail(kErrorInvalidParameter);
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  TCertElem* existing = Matching(store, cert->info);
  std::map<DWORD, std::vector<BYTE>> inherited;
  if (existing != nullptr && Disposition != kAddAlways) {
    if (Disposition == kAddNew) return Fail(kCryptEExists);
    if (Disposition == kAddUseExisting) {
      ++existing->refs;
      if (Added != nullptr) *Added = &existing->ctx;
      else ReleaseCert(existing);
      return 1;
    }
    if ((Disposition == kAddNewer || Disposition == kAddNewerInherit) &&
        Ticks(cert->info.NotBefore) <= Ticks(existing->info.NotBefore))
      return Fail(kCryptEExists);
    if (Disposition == kAddReplaceInherit || Disposition == kAddNewerInherit) inherited = existing->props;
    RemoveMember(store, existing);
  }
  TCertElem* copy = AddCopy(store, cert);
  if (copy == nullptr) return Fail(kCryptEBadEncode);
  for (auto& p : inherited) copy->props.insert(p);
  PersistAdd(store, copy);
  if (Added != nullptr) *Added = &copy->ctx;
  else ReleaseCert(copy);
  return 1;
}

STANDIN_EXPORT BOOL CertAddCRLContextToStore(HCERTSTORE Store, PCCRL_CONTEXT Crl, DWORD Disposition,
                                             PCCRL_CONTEXT* Added) {
  if (Scripted("CertAddCRLContextToStore")) return 0;
  if (Added != nullptr) *Added = nullptr;
  TStore* store = StoreOf(Store);
  TCrlElem* crl = CrlOf(Crl);
  if (store == nullptr || crl == nullptr || Disposition < kAddNew || Disposition > kAddNewerInherit)
    return Fail(kErrorInvalidParameter);
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  // A CRL "matches" another of the same issuer; NEWER keeps the one issued last.
  auto& crls = store->crls;
  auto it = std::find_if(crls.begin(), crls.end(), [&](TCrlElem* c) { return c->issuer == crl->issuer; });
  if (it != crls.end() && Disposition != kAddAlways) {
    if (Disposition == kAddNew) return Fail(kCryptEExists);
    if (Disposition == kAddUseExisting) return 1;
    if ((Disposition == kAddNewer || Disposition == kAddNewerInherit) &&
        Ticks(crl->info.ThisUpdate) <= Ticks((*it)->info.ThisUpdate))
      return Fail(kCryptEExists);
    TCrlElem* old = *it;
    crls.erase(it);
    ReleaseCrl(old);
  }
  TCrlElem* copy = NewCrl(crl->der.data(), static_cast<DWORD>(crl->der.size()), store);
  if (copy == nullptr) return Fail(kCryptEBadEncode);
  crls.push_back(copy);
  if (Added != nullptr) {
    ++copy->refs;
    *Added = &copy->ctx;
  }
  return 1;
}

STANDIN_EXPORT BOOL CertDeleteCertificateFromStore(PCCERT_CONTEXT Cert) {
  if (Scripted("CertDeleteCertificateFromStore")) return 0;
  TCertElem* cert = CertOf(Cert);
  if (cert == nullptr) return Fail(kErrorInvalidParameter);
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  TStore* store = cert->store;
  const bool member = store != nullptr && std::find(store->certs.begin(), store->certs.end(), cert) != store->certs.end();
  if (member) RemoveMember(store, cert);
  ReleaseCert(cert);  // the caller's context goes in every case
  return member ? 1 : Fail(kCryptENotFound);
}

STANDIN_EXPORT PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE Store, DWORD, DWORD, DWORD Type,
                                                         const void* Para, PCCERT_CONTEXT Previous) {
  if (Scripted("CertFindCertificateInStore")) return nullptr;
  TStore* store = StoreOf(Store);
  if (store == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  if (Type == kFindSubjectCert && Previous == nullptr && Para != nullptr) {
    // The first member of that issuer and serial, found through the index.
    if (TCertElem* c = Matching(store, *static_cast<const CERT_INFO*>(Para))) {
      ++c->refs;
      return &c->ctx;
    }
    SetLastError(kCryptENotFound);
    return nullptr;
  }
  size_t start = 0;
  if (Previous != nullptr) {
    TCertElem* prev = CertOf(Previous);
    if (prev == nullptr) {
      SetLastError(kErrorInvalidParameter);
      return nullptr;
    }
    auto it = std::find(store->certs.begin(), store->certs.end(), prev);
    start = it == store->certs.end() ? store->certs.size() : static_cast<size_t>(it - store->certs.begin()) + 1;
    ReleaseCert(prev);
  }
  for (size_t i = start; i < store->certs.size(); ++i) {
    TCertElem* c = store->certs[i];
    if (Matches(c, Type, Para)) {
      ++c->refs;
      return &c->ctx;
    }
  }
  SetLastError(kCryptENotFound);
  return nullptr;
}

STANDIN_EXPORT PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE Store, PCCERT_CONTEXT Previous) {
  if (Scripted("CertEnumCertificatesInStore")) return nullptr;
  return CertFindCertificateInStore(Store, kEncoding, 0, kFindAny, nullptr, Previous);
}

STANDIN_EXPORT PCCRL_CONTEXT CertEnumCRLsInStore(HCERTSTORE Store, PCCRL_CONTEXT Previous) {
  if (Scripted("CertEnumCRLsInStore")) return nullptr;
  TStore* store = StoreOf(Store);
  if (store == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> hold(GraphLock());
  size_t start = 0;
  if (Previous != nullptr) {
    TCrlElem* prev = CrlOf(Previous);
    if (prev == nullptr) {
      SetLastError(kErrorInvalidParameter);
      return nullptr;
    }
    auto it = std::find(store->crls.begin(), store->crls.end(), prev);
    start = it == store->crls.end() ? store->crls.size() : static_cast<size_t>(it - store->crls.begin()) + 1;
    ReleaseCrl(prev);
  }
  if (start >= store->crls.size()) {
    SetLastError(kCryptENotFound);
    return nullptr;
  }
  ++store->crls[start]->refs;
  return &store->crls[start]->ctx;
}

}  // extern "C"
