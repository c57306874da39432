// Upkeep of the correspondents' certificates in the in-memory model: a new certificate replaces
// the others of its UID only after it has passed the chain check; removal by UID.
#include <algorithm>

#include "engines/capi/capi_dll.h"
#include "frame/textrules.h"
#include "platform/platform.h"

namespace zk::capi {

int32_t TCryptoAPI20_DLL::CheckNewCertificate(PCCERT_CONTEXT Cert, const TVerificationSettings& S) {
  std::lock_guard<std::recursive_mutex> lock(storeLock_);
  if (int32_t status = InitPublicKeyObjects(S)) return status;
  return ChainCheck(Cert, ChainFlags(S));
}

namespace {

// Copies of every certificate of the store whose UID satisfies Match (enumeration cannot go on
// from a deleted context, so they are collected first). Any failure but the end of the store
// gives the toolkit's code: a partial list would leave certificates behind.
class TCollected {
 public:
  explicit TCollected(const TCapiFunctions& Api) : api_(Api) {}
  ~TCollected() {
    for (PCCERT_CONTEXT c : certs) api_.CertFreeCertificateContext(c);
  }
  TCollected(const TCollected&) = delete;
  TCollected& operator=(const TCollected&) = delete;
  std::vector<PCCERT_CONTEXT> certs;

 private:
  const TCapiFunctions& api_;
};

template <class Match>
uint32_t Collect(const TCapiFunctions& Api, HCERTSTORE Store, Match&& match, TCollected& Found) {
  for (PCCERT_CONTEXT c = Api.CertEnumCertificatesInStore(Store, nullptr); c != nullptr;
       c = Api.CertEnumCertificatesInStore(Store, c)) {
    if (!match(c)) continue;
    PCCERT_CONTEXT copy = Api.CertDuplicateCertificateContext(c);
    if (copy == nullptr) {
      const uint32_t error = platform::LastError();
      Api.CertFreeCertificateContext(c);
      return error != 0 ? error : kNteFail;
    }
    Found.certs.push_back(copy);
  }
  const uint32_t error = platform::LastError();
  return NothingMoreFound(error) ? 0 : error != 0 ? error : kNteFail;
}

// Deletes the collected certificates from their store (a deletion frees its context, also when it
// fails); the first failure stops it.
uint32_t DeleteAll(const TCapiFunctions& Api, TCollected& Collected) {
  while (!Collected.certs.empty()) {
    PCCERT_CONTEXT c = Collected.certs.back();
    Collected.certs.pop_back();
    if (!Api.CertDeleteCertificateFromStore(c)) {
      const uint32_t error = platform::LastError();
      return error != 0 ? error : kNteFail;
    }
  }
  return 0;
}

}  // namespace

int32_t TCryptoAPI20_DLL::IncludeCertificate(PCCERT_CONTEXT Cert, const std::string& Name,
                                             const TVerificationSettings& S) {
  std::lock_guard<std::recursive_mutex> lock(storeLock_);
  if (int32_t status = InitPublicKeyObjects(S)) return status;
  const std::string uid = GetUIDFromCertContext(Cert, S.UIDLocationOID);
  const std::string key = UpperCase(uid);
  const auto same = [&](PCCERT_CONTEXT c) { return UpperCase(GetUIDFromCertContext(c, S.UIDLocationOID)) == key; };
  // Any failure from here on drops the model: the next operation builds it from the directory.
  const auto failed = [&](uint32_t error) {
    FreeStores();
    return error != 0 ? static_cast<int32_t>(error) : static_cast<int32_t>(kNteFail);
  };
  TCollected old(api_);
  if (uint32_t error = Collect(api_, abonentStore_, same, old)) return failed(error);
  if (uint32_t error = DeleteAll(api_, old)) return failed(error);
  if (!api_.CertAddCertificateContextToStore(abonentStore_, Cert, kAddReplaceExisting, nullptr))
    return failed(platform::LastError());
  if (useSerialIndex_) {
    serialIndex_.erase(std::remove_if(serialIndex_.begin(), serialIndex_.end(),
                                      [&](const auto& e) { return UpperCase(e.first) == key; }),
                       serialIndex_.end());
    serialIndex_.emplace_back(uid, GetUIDFromCertContext(Cert, "SN"));
  }
  if (int32_t status = RegisterCA(Name, Cert)) return failed(static_cast<uint32_t>(status));
  return 0;
}

int32_t TCryptoAPI20_DLL::RemoveAbonentFromStore(const std::string& UID, const TVerificationSettings& S) {
  std::lock_guard<std::recursive_mutex> lock(storeLock_);
  if (int32_t status = InitPublicKeyObjects(S)) return status;
  const auto same = [&](PCCERT_CONTEXT c) { return GetUIDFromCertContext(c, S.UIDLocationOID) == UID; };
  TCollected old(api_);
  uint32_t error = Collect(api_, abonentStore_, same, old);
  if (error == 0) error = DeleteAll(api_, old);
  serialIndex_.erase(std::remove_if(serialIndex_.begin(), serialIndex_.end(),
                                    [&](const auto& e) { return e.first == UID; }),
                     serialIndex_.end());
  // A removal left half done: the model is built again from what the directory now holds.
  if (error != 0) FreeStores();
  return static_cast<int32_t>(error);
}

}  // namespace zk::capi
