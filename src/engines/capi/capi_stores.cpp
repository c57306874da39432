// The certificate model: correspondents, trusted CAs and CRLs, from directories or the system
// stores "MY" and "ROOT"; lookup by UID or serial; the chain check.
#include <cstring>

#include "engines/capi/capi_dll.h"
#include "frame/fileutils.h"
#include "platform/platform.h"

namespace zk::capi {

namespace {

bool SameSettings(const TVerificationSettings& a, const TVerificationSettings& b) {
  return a.UIDLocationOID == b.UIDLocationOID && a.ContainerLocation == b.ContainerLocation && a.CADir == b.CADir &&
         a.UserCertFile == b.UserCertFile && a.AbonentDir == b.AbonentDir && a.CRLDir == b.CRLDir;
}

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    if (up(a[i]) != up(b[i])) return false;
  }
  return true;
}

std::u16string Widen(const std::string& text) {
  std::u16string wide;
  for (unsigned char c : text) wide += static_cast<char16_t>(c);  // lookup only preselects
  return wide;
}

// Chain status bits in the order they are tested; the last one set decides the code.
const std::pair<DWORD, int32_t> kChainCodes[] = {{0x1, 49},  {0x2, 50},  {0x4, 51},  {0x8, 52},
                                                 {0x10, 53}, {0x20, 54}, {0x80, 56}, {0x10000, 65}};

}  // namespace

int32_t ChainStatusCode(DWORD status) {
  status &= ~0x01000000u;  // offline revocation server
  if (status == 0 || status == 0x40) return 0;
  int32_t code = kErrCertificate;
  for (const auto& bit : kChainCodes)
    if (status & bit.first) code = bit.second;
  return code;
}

void TCryptoAPI20_DLL::FreeStores() {
  if (chainEngine_ != nullptr) api_.CertFreeCertificateChainEngine(chainEngine_);
  chainEngine_ = nullptr;
  cas_.clear();
  serialIndex_.clear();
  userCert_.Reset();
  for (HCERTSTORE* store : {&abonentStore_, &caStoreDir_, &caStore_}) {
    if (*store != nullptr) api_.CertCloseStore(*store, 0);
    *store = nullptr;
  }
  storesBuilt_ = false;
}

int32_t TCryptoAPI20_DLL::AddNewer(HCERTSTORE Store, PCCERT_CONTEXT Cert, PCCRL_CONTEXT Crl) {
  const BOOL added = Cert != nullptr ? api_.CertAddCertificateContextToStore(Store, Cert, kAddNewer, nullptr)
                                     : api_.CertAddCRLContextToStore(Store, Crl, kAddNewer, nullptr);
  // "Already there, as new or newer" is no failure.
  return added || platform::LastError() == kCryptExists ? 0 : LastErrorCode();
}

int32_t TCryptoAPI20_DLL::RegisterCA(const std::string& Name, PCCERT_CONTEXT Cert) {
  BYTE usage = 0;
  if (!api_.CertGetIntendedKeyUsage(kEncoding, Cert->pCertInfo, &usage, 1)) {
    // FALSE answers a certificate without key usage, or with one that cannot be decoded; any
    // other failure would leave a CA out of the model.
    const uint32_t error = platform::LastError();
    if (FindExtension(*Cert->pCertInfo, "2.5.29.15") == nullptr || RefusedAsMalformed(error)) return 0;
    return LastErrorCode();
  }
  if ((usage & 0x06) == 0) return 0;
  if (int32_t status = AddNewer(caStore_, Cert, nullptr)) return status;
  TCertRef copy(&api_, api_.CertDuplicateCertificateContext(Cert));
  if (!copy) return LastErrorCode();
  cas_.emplace_back(Name, std::move(copy));
  if (chainEngine_ == nullptr) return 0;
  api_.CertFreeCertificateChainEngine(chainEngine_);
  chainEngine_ = nullptr;
  return CreateChainEngine();
}

int32_t TCryptoAPI20_DLL::CreateChainEngine() {
  CERT_CHAIN_ENGINE_CONFIG config{};
  config.cbSize = sizeof config;
  config.hRestrictedRoot = caStoreDir_;
  config.cAdditionalStore = 1;
  config.rghAdditionalStore = &caStore_;
  return api_.CertCreateCertificateChainEngine(&config, &chainEngine_) ? 0 : LastErrorCode();
}

int32_t TCryptoAPI20_DLL::RegisterAllCAs(HCERTSTORE Store, const std::string& Name) {
  for (PCCERT_CONTEXT c = api_.CertEnumCertificatesInStore(Store, nullptr); c != nullptr;
       c = api_.CertEnumCertificatesInStore(Store, c)) {
    if (int32_t status = RegisterCA(Name, c)) {
      api_.CertFreeCertificateContext(c);  // the enumeration stops here
      return status;
    }
  }
  // An enumeration cut short would leave certificates out.
  return NothingMoreFound(platform::LastError()) ? 0 : LastErrorCode();
}

// Every *.crl of the CRL directory into the CA store; unreadable files are skipped.
int32_t TCryptoAPI20_DLL::LoadCRLs(const TVerificationSettings& S) {
  if (S.CRLDir.empty()) return 0;
  std::vector<std::string> files;
  FindFilesByExtension(S.CRLDir, "crl", files, true);
  for (const auto& file : files) {
    PCCRL_CONTEXT crl = nullptr;
    if (int32_t status = ReadCRLFile(file, crl)) {
      if (status == kErrCRLFile) continue;  // unreadable: skipped
      return status;
    }
    const int32_t status = AddNewer(caStore_, nullptr, crl);
    api_.CertFreeCRLContext(crl);
    if (status != 0) return status;
  }
  return 0;
}

// The trusted CAs: the system ROOT store, or every *.cer of the CA directory.
int32_t TCryptoAPI20_DLL::LoadCAs(const TVerificationSettings& S) {
  if (S.CADir == "ROOT") {
    // System stores get no provider: closing them would release it.
    HCERTSTORE root = api_.CertOpenSystemStoreA(0, "ROOT");
    if (root == nullptr) return LastErrorCode();
    const int32_t status = RegisterAllCAs(root, "ROOT");
    api_.CertCloseStore(root, 0);
    return status;
  }
  std::vector<std::string> files;
  FindFilesByExtension(S.CADir, "cer", files, true);
  for (const auto& file : files) {
    TCertRef cert;
    if (int32_t status = ReadCertificateFile(file, cert)) {
      if (status == kErrReadCertificate) continue;  // unreadable: skipped
      return status;
    }
    if (!api_.CertAddCertificateContextToStore(caStoreDir_, cert.Get(), kAddAlways, nullptr)) return LastErrorCode();
    if (int32_t status = RegisterCA(file, cert.Get())) return status;
  }
  return 0;
}

// The correspondents: the system MY store, or every *.cer of the abonents directory.
int32_t TCryptoAPI20_DLL::LoadAbonents(const TVerificationSettings& S) {
  if (abonentStoreIsSystemMY_) return RegisterAllCAs(abonentStore_, "MY");
  std::vector<std::string> files;
  FindFilesByExtension(S.AbonentDir, "cer", files, true);
  for (const auto& file : files) {
    TCertRef cert;
    if (int32_t status = ReadCertificateFile(file, cert)) {
      if (status == kErrReadCertificate) continue;  // unreadable: skipped
      return status;
    }
    if (useSerialIndex_)
      serialIndex_.emplace_back(GetUIDFromCertContext(cert.Get(), S.UIDLocationOID), GetUIDFromCertContext(cert.Get(), "SN"));
    if (!api_.CertAddCertificateContextToStore(abonentStore_, cert.Get(), kAddAlways, nullptr)) return LastErrorCode();
    if (int32_t status = RegisterCA(file, cert.Get())) return status;
  }
  return 0;
}

int32_t TCryptoAPI20_DLL::InitPublicKeyObjects(const TVerificationSettings& S) {
  if (storesBuilt_ && SameSettings(S, cached_)) return 0;
  FreeStores();
  cached_ = S;
  const int32_t result = [&]() -> int32_t {
    abonentStoreIsSystemMY_ = S.AbonentDir == "MY";
    abonentStore_ = abonentStoreIsSystemMY_ ? api_.CertOpenSystemStoreA(0, "MY") : OpenMemoryStore();
    if (abonentStore_ == nullptr) return LastErrorCode();
    useSerialIndex_ = S.UIDLocationOID != "SN" && S.UIDLocationOID != "ZIZ_SN";
    if (S.CADir != "ROOT" && (caStoreDir_ = OpenMemoryStore()) == nullptr) return LastErrorCode();
    if ((caStore_ = OpenMemoryStore()) == nullptr) return LastErrorCode();
    if (int32_t status = LoadCRLs(S)) return status;
    if (int32_t status = LoadCAs(S)) return status;
    if (int32_t status = LoadAbonents(S)) return status;
    if (int32_t status = ReadCertificateFile(S.UserCertFile, userCert_)) return status;
    const std::string uid = GetUIDFromCertContext(userCert_.Get(), S.UIDLocationOID);
    if (uid.empty()) return kErrNoOwnUID;
    if (abonentStoreIsSystemMY_) {
      if (!FindByIssuerAndSerial(abonentStore_, *userCert_.Get()->pCertInfo)) return kErrNotInMY;
    } else {
      if (!api_.CertAddCertificateContextToStore(abonentStore_, userCert_.Get(), kAddAlways, nullptr))
        return LastErrorCode();
      if (useSerialIndex_) serialIndex_.emplace_back(uid, GetUIDFromCertContext(userCert_.Get(), "SN"));
    }
    return CreateChainEngine();
  }();
  if (result != 0) FreeStores();
  storesBuilt_ = result == 0;
  return result;
}

TCertRef TCryptoAPI20_DLL::FindByIssuerAndSerial(HCERTSTORE Store, const CERT_INFO& Info) {
  CERT_INFO query{};
  query.Issuer = Info.Issuer;
  query.SerialNumber = Info.SerialNumber;
  return TCertRef(&api_, api_.CertFindCertificateInStore(Store, kEncoding, 0, kFindSubjectCert, &query, nullptr));
}

int32_t TCryptoAPI20_DLL::FindBySerial(const std::string& Serial, TCertRef& Cert) {
  std::vector<uint8_t> bytes(Serial.size() / 2 + 1);
  int32_t size = static_cast<int32_t>(bytes.size());
  if (!HexToBytesReversed(Serial, bytes.data(), size)) return kErrUnknownUID;
  CERT_INFO query{};
  query.SerialNumber = {static_cast<DWORD>(size), bytes.data()};
  std::vector<CRYPT_BLOB> issuers;
  if (userCert_) issuers.push_back(userCert_.Get()->pCertInfo->Issuer);
  for (const auto& ca : cas_) issuers.push_back(ca.second.Get()->pCertInfo->Subject);
  for (const auto& issuer : issuers) {
    query.Issuer = issuer;
    if (auto c = api_.CertFindCertificateInStore(abonentStore_, kEncoding, 0, kFindSubjectCert, &query, nullptr)) {
      Cert = TCertRef(&api_, c);
      return 0;
    }
    if (!NothingMoreFound(platform::LastError())) return LastErrorCode();
  }
  return kErrUnknownUID;
}

// The subject-string search only preselects; the attribute decides.
int32_t TCryptoAPI20_DLL::FindBySubjectText(const std::string& UID, const std::string& UIDLocationOID, TCertRef& Cert) {
  const std::u16string wide = Widen(UID);
  PCCERT_CONTEXT c = nullptr;
  while ((c = api_.CertFindCertificateInStore(abonentStore_, kEncoding, 0, kFindSubjectStrW, wide.c_str(), c))) {
    if (SameTextIgnoringCase(GetUIDFromCertContext(c, UIDLocationOID), UID)) {
      Cert = TCertRef(&api_, c);
      return 0;
    }
  }
  return NothingMoreFound(platform::LastError()) ? kErrUnknownUID : LastErrorCode();
}

int32_t TCryptoAPI20_DLL::FindCertificate(const TVerificationSettings& S, const std::string& UID, TCertRef& Cert) {
  if (S.UIDLocationOID.empty()) return kErrNoUIDLocation;
  if (S.ContainerLocation.empty()) return kErrContainerLocation;
  if (S.CADir.empty()) return kErrNoCADir;
  if (S.UserCertFile.empty()) return kErrNoUserCert;
  if (S.AbonentDir.empty()) return kErrNoAbonentDir;
  std::lock_guard<std::recursive_mutex> lock(storeLock_);
  if (int32_t status = InitPublicKeyObjects(S)) return status;
  std::string uid = UID;
  if (uid.empty()) uid = GetUIDFromCertContext(userCert_.Get(), S.UIDLocationOID);
  if (uid.empty()) return kErrNoOwnUID;
  if (!useSerialIndex_) return FindBySerial(uid, Cert);
  for (const auto& entry : serialIndex_) {
    if (!SameTextIgnoringCase(entry.first, uid)) continue;
    TCertRef found;
    const int32_t status = FindBySerial(entry.second, found);
    if (status != 0 && status != kErrUnknownUID) return status;
    if (found && SameTextIgnoringCase(GetUIDFromCertContext(found.Get(), S.UIDLocationOID), uid)) {
      Cert = std::move(found);
      return 0;
    }
  }
  return FindBySubjectText(uid, S.UIDLocationOID, Cert);
}

int32_t TCryptoAPI20_DLL::GetCurrentUserUID(const TVerificationSettings& S, std::string& UID) {
  TCertRef own;
  if (FindCertificate(S, "", own) == 0) {
    UID = GetUIDFromCertContext(own.Get(), S.UIDLocationOID);
  } else {
    TCertRef file;
    if (int32_t status = ReadCertificateFile(S.UserCertFile, file)) return status;
    UID = GetUIDFromCertContext(file.Get(), S.UIDLocationOID);
  }
  return UID.empty() ? kErrNoOwnUID : 0;
}

int32_t TCryptoAPI20_DLL::VerifySingleCertInLocalStore(PCCERT_CONTEXT Cert, const TVerificationSettings& S) {
  std::lock_guard<std::recursive_mutex> lock(storeLock_);
  TCertRef found = FindByIssuerAndSerial(abonentStore_, *Cert->pCertInfo);
  if (!found) return kErrCertificate;
  return ChainCheck(found.Get(), ChainFlags(S));
}

DWORD TCryptoAPI20_DLL::ChainFlags(const TVerificationSettings& S) {
  return S.ChainRevocationCheck ? 0xA0000001 : S.CRLDirRevocationCheck ? 0x90000001 : 0x1;
}

int32_t TCryptoAPI20_DLL::ChainCheck(PCCERT_CONTEXT Cert, DWORD Flags) {
  std::lock_guard<std::recursive_mutex> lock(storeLock_);
  if (api_.CertGetCertificateChain == nullptr) return kErrFunctionsMissing;
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  const CERT_CHAIN_CONTEXT* chain = nullptr;
  if (!api_.CertGetCertificateChain(chainEngine_, Cert, nullptr, caStore_, &para, Flags, nullptr, &chain))
    return LastErrorCode();
  const int32_t code = ChainStatusCode(chain->TrustStatus.dwErrorStatus);
  api_.CertFreeCertificateChain(chain);
  return code;
}

int32_t TCryptoAPI20_DLL::FindSigner(const TVerificationSettings& S, const CERT_INFO& Info, TCertRef& Signer) {
  if (S.UIDLocationOID.empty()) return kErrNoUIDLocation;
  if (S.ContainerLocation.empty()) return kErrContainerLocation;
  if (S.CADir.empty()) return kErrNoCADir;
  if (S.UserCertFile.empty()) return kErrNoUserCert;
  if (S.AbonentDir.empty()) return kErrNoAbonentDir;
  std::lock_guard<std::recursive_mutex> lock(storeLock_);
  if (int32_t status = InitPublicKeyObjects(S)) return status;
  Signer = FindByIssuerAndSerial(abonentStore_, Info);
  if (!Signer) return LastErrorCode(kErrSignerUnknown);
  const int32_t status = VerifySingleCertInLocalStore(Signer.Get(), S);
  if (status != 0) Signer.Reset();
  return status;
}

int32_t TCryptoAPI20_DLL::AddCRLFile(const std::string& FileName, const TVerificationSettings& S) {
  std::lock_guard<std::recursive_mutex> lock(storeLock_);
  if (int32_t status = InitPublicKeyObjects(S)) return status;
  PCCRL_CONTEXT crl = nullptr;
  if (int32_t status = ReadCRLFile(FileName, crl)) return status;
  const int32_t status = AddNewer(caStore_, nullptr, crl);
  api_.CertFreeCRLContext(crl);
  if (status != 0) return status;
  if (chainEngine_ != nullptr) api_.CertFreeCertificateChainEngine(chainEngine_);
  chainEngine_ = nullptr;
  return CreateChainEngine();
}

void TCryptoAPI20_DLL::DropStores() {
  std::lock_guard<std::recursive_mutex> store(storeLock_);
  FreeStores();
}

void TCryptoAPI20_DLL::ClearCache() {
  std::lock_guard<std::recursive_mutex> key(keyLock_);
  std::lock_guard<std::recursive_mutex> store(storeLock_);
  FreeStores();
  DropKey();
}

}  // namespace zk::capi
