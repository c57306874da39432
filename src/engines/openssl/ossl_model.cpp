#include "engines/openssl/ossl_model.h"

#include <atomic>

#include "engines/openssl/ossl_codes.h"
#include "frame/bindingregistry.h"
#include "frame/fileutils.h"
#include "frame/textrules.h"
#include "platform/platform.h"

namespace zk::ossl {

namespace {

// X509_STORE_CTX_set_flags / set_purpose arguments the engine has always used: the issuer-check
// flag and the "any purpose" purpose.
constexpr unsigned long kVerifyFlags = 1;
constexpr int kPurposeAny = 7;

std::atomic<TOSSLCertModel::Clock> g_clock{&platform::MonotonicMilliseconds};
std::atomic<uint64_t> g_chainVerifications{0};

std::vector<std::string> FilesWithExtension(const std::string& Dir, const char* Ext) {
  std::vector<std::string> files;
  if (!Dir.empty()) FindFilesByExtension(Dir, Ext, files, false);
  return files;
}

}  // namespace

uint64_t TOSSLCertModel::ChainVerificationCount() { return g_chainVerifications.load(); }

void TOSSLCertModel::SetClockForTesting(Clock clock) {
  g_clock.store(clock != nullptr ? clock : &platform::MonotonicMilliseconds);
}

const char kSelfUserUID[] = "SELF_USER_UID";

std::string OSSLSettings::CacheKey() const {
  return BindingKey({SecretKeyFile, CertFile, AbonentsDir, CADir, CRLDir});
}

std::string UpperUID(const std::string& UID) { return UpperCase(UID); }

int32_t TOSSLCertModel::InitPublicKeyObjects(const OSSLSettings& Settings) {
  if (!settingsCached_ || !(cachedSettings_ == Settings) || !own_.cert) LoadOwnCert(Settings);
  if (!abonentsLoaded_) LoadAbonents(Settings.AbonentsDir);
  // CA certificates come before CRLs: a CRL counts only when a CA vouches for it.
  if (!caLoaded_) LoadCaCerts(Settings.CADir);
  if (!crlsLoaded_) LoadCrls(Settings.CRLDir);
  return ownCertError_;
}

void TOSSLCertModel::LoadOwnCert(const OSSLSettings& Settings) {
  const bool settingsChanged = !settingsCached_ || !(cachedSettings_ == Settings);
  cachedSettings_ = Settings;
  settingsCached_ = true;
  X509Ptr cert;
  std::string uid;
  int32_t code = LoadCertFile(Settings.CertFile, cert);
  if (code == kOk) {
    uid = CertUID(cert.get());
    if (uid.empty()) {
      cert.reset();
      code = kErrNoSerial;
    }
  }
  // The correspondents list holds the own certificate under its UID: rebuild it when that changes.
  // A file that is still missing changes nothing, so a verify-only setup does not reload it each time.
  if (settingsChanged || own_.cert || cert) DropAbonents();
  if (settingsChanged) {
    // Other directories: what was trusted under the old ones proves nothing now.
    caLoaded_ = crlsLoaded_ = false;
    TrustChanged();
  }
  own_ = CertEntry{std::move(cert), nullptr, VerifiedChain()};
  ownUID_ = uid;
  ownCertError_ = code;
}

void TOSSLCertModel::LoadAbonents(const std::string& Dir) {
  abonents_.clear();
  abonentsLoaded_ = true;
  if (X509Ptr own = ShareCert(own_.cert.get())) abonents_.emplace(UpperUID(ownUID_), CertEntry{std::move(own), nullptr, VerifiedChain()});
  for (const std::string& file : FilesWithExtension(Dir, "cer")) {
    X509Ptr cert;
    if (LoadCertFile(file, cert) != kOk) continue;  // one unreadable file does not hide the others
    const std::string uid = CertUID(cert.get());
    if (!uid.empty()) abonents_.emplace(UpperUID(uid), CertEntry{std::move(cert), nullptr, VerifiedChain()});  // the first wins
  }
}

void TOSSLCertModel::LoadCaCerts(const std::string& Dir) {
  caCerts_.clear();
  TrustChanged();
  caLoaded_ = true;
  for (const std::string& file : FilesWithExtension(Dir, "cer")) {
    X509Ptr cert;
    if (LoadCertFile(file, cert) == kOk) caCerts_.push_back(std::move(cert));
  }
}

void TOSSLCertModel::LoadCrls(const std::string& Dir) {
  crls_.clear();
  TrustChanged();
  crlsLoaded_ = true;
  for (const std::string& file : FilesWithExtension(Dir, "crl")) {
    CrlPtr crl;
    if (LoadCrlFile(file, crl) != kOk) continue;
    const bool trusted = CrlSignedByCa(crl.get());
    crls_.push_back(LoadedCrl{std::move(crl), trusted});
  }
}

bool TOSSLCertModel::CrlSignedByCa(X509Crl* Crl) const {
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  const X509Name* issuer = api.X509_CRL_get_issuer(Crl);
  for (const X509Ptr& ca : caCerts_) {
    if (issuer == nullptr || api.X509_NAME_cmp(api.X509_get_subject_name(ca.get()), issuer) != 0) continue;
    PkeyPtr key(api.X509_get_pubkey(ca.get()));
    if (key && api.X509_CRL_verify(Crl, key.get()) > 0) return true;
  }
  api.ERR_clear_error();
  return false;
}

int32_t TOSSLCertModel::OwnUID(const OSSLSettings& Settings, std::string& UID) {
  const int32_t code = InitPublicKeyObjects(Settings);
  if (code != kOk) return code;
  UID = ownUID_;
  return kOk;
}

TOSSLCertModel::CertEntry* TOSSLCertModel::FindEntry(const std::string& UID) {
  if (UID == kSelfUserUID) return &own_;
  const auto found = abonents_.find(UpperUID(UID));
  return found == abonents_.end() ? nullptr : &found->second;
}

int32_t TOSSLCertModel::LeaseKey(const OSSLSettings& Settings, const std::string& UID, KeyLease& Lease) {
  if (UID.empty()) return kErrBadUid;
  const int32_t ownCode = InitPublicKeyObjects(Settings);
  if (UID == kSelfUserUID && ownCode != kOk) return ownCode;
  CertEntry* entry = FindEntry(UID);
  if (entry == nullptr) return kErrUnknownUid;
  Lease.UID = UID;
  Lease.cert = ShareCert(entry->cert.get());
  if (!Lease.cert) return kErrNoMemory;
  Lease.generation = trustGeneration_;
  Lease.takenAtMs = g_clock.load()();
  if (!entry->verified.Holds(trustGeneration_, Lease.takenAtMs, UnixNow())) {
    entry->verified = VerifiedChain();
    Lease.store = Store();
    if (!Lease.store) return OpenSSLFailure(TOpenSSLLibrary::Api().ERR_get_error(), kErrNoMemory);
  }
  // Cheap next to the chain check, and revocation must never wait for a remembered result to lapse.
  Lease.revoked = IsRevoked(entry->cert.get());
  if (!entry->key) entry->key = Shared(CertRsaKey(entry->cert.get()));
  Lease.key = entry->key;
  return kOk;
}

int32_t TOSSLCertModel::VerifyLease(const KeyLease& Lease, VerifiedChain& Verified) {
  return VerifyChain(Lease.store.get(), Lease.cert.get(), &Verified);
}

void TOSSLCertModel::RememberVerified(const KeyLease& Lease, const VerifiedChain& Verified) {
  CertEntry* entry = FindEntry(Lease.UID);
  if (entry == nullptr || entry->cert.get() != Lease.cert.get() || Lease.generation != trustGeneration_) return;
  entry->verified = Verified;
  entry->verified.generation = Lease.generation;
  entry->verified.checkedAtMs = Lease.takenAtMs;
}

const SharedStore& TOSSLCertModel::Store() {
  if (store_) return store_;
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  StorePtr store(api.X509_STORE_new());
  if (!store) return store_;
  // Duplicates are refused by some releases; that changes nothing for verification.
  for (const X509Ptr& ca : caCerts_) api.X509_STORE_add_cert(store.get(), ca.get());
  for (const LoadedCrl& entry : crls_) api.X509_STORE_add_crl(store.get(), entry.crl.get());
  api.ERR_clear_error();
  store_ = Shared(std::move(store));
  return store_;
}

void TOSSLCertModel::TrustChanged() {
  store_.reset();
  ++trustGeneration_;
}

int32_t TOSSLCertModel::VerifyCertificate(X509Cert* Cert) {
  const SharedStore& store = Store();
  if (!store) return OpenSSLFailure(TOpenSSLLibrary::Api().ERR_get_error(), kErrNoMemory);
  const int32_t code = VerifyChain(store.get(), Cert, nullptr);
  if (code != kOk) return code;
  return IsRevoked(Cert) ? kErrRevoked : kOk;
}

int32_t TOSSLCertModel::VerifyChain(X509Store* Store, X509Cert* Cert, VerifiedChain* Verified) {
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  ++g_chainVerifications;
  StoreCtxPtr ctx(api.X509_STORE_CTX_new());
  if (!ctx) return OpenSSLFailure(api.ERR_get_error(), kErrNoMemory);
  if (api.X509_STORE_CTX_init(ctx.get(), Store, Cert, nullptr) != 1) {
    return OpenSSLFailure(api.ERR_get_error(), kErrCertUnverifiable);
  }
  api.X509_STORE_CTX_set_flags(ctx.get(), kVerifyFlags);
  api.X509_STORE_CTX_set_purpose(ctx.get(), kPurposeAny);
  if (api.X509_verify_cert(ctx.get()) != 1) {
    const int error = api.X509_STORE_CTX_get_error(ctx.get());
    api.ERR_clear_error();
    return error > 0 ? VerifyErrorCode(error) : kErrCertUnverifiable;
  }
  if (Verified != nullptr) {
    Verified->known = ChainValidity(ctx.get(), Verified->validFrom, Verified->validUntil);
  }
  return kOk;
}

bool TOSSLCertModel::IsRevoked(X509Cert* Cert) const {
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  const X509Name* issuer = api.X509_get_issuer_name(Cert);
  const Asn1Integer* serial = api.X509_get_serialNumber(Cert);
  for (const LoadedCrl& entry : crls_) {
    if (!entry.signedByCa || api.X509_NAME_cmp(api.X509_CRL_get_issuer(entry.crl.get()), issuer) != 0) continue;
    X509Revoked* revoked = nullptr;
    if (api.X509_CRL_get0_by_serial(entry.crl.get(), &revoked, serial) > 0) return true;
  }
  return false;
}

void TOSSLCertModel::PutAbonent(const std::string& UID, X509Ptr Cert) {
  abonents_[UpperUID(UID)] = CertEntry{std::move(Cert), nullptr, VerifiedChain()};
}

void TOSSLCertModel::DropAbonents() {
  abonents_.clear();
  abonentsLoaded_ = false;
}

void TOSSLCertModel::DropCrls() {
  crls_.clear();
  TrustChanged();
  crlsLoaded_ = false;
}

void TOSSLCertModel::Clear() {
  TrustChanged();
  crls_.clear();
  caCerts_.clear();
  abonents_.clear();
  own_ = CertEntry();
  ownUID_.clear();
  ownCertError_ = kOk;
  abonentsLoaded_ = caLoaded_ = crlsLoaded_ = settingsCached_ = false;
  cachedSettings_ = OSSLSettings();
}

}  // namespace zk::ossl
