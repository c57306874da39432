// Upkeep of the correspondents' certificates in the in-memory model: a new certificate replaces
// the others of its UID only after it has passed the chain check; removal by UID.
#include <algorithm>

#include "engines/capi/capi_dll.h"
#include "frame/textrules.h"

namespace zk::capi {

int32_t TCryptoAPI20_DLL::CheckNewCertificate(PCCERT_CONTEXT Cert, const TVerificationSettings& S) {
  std::lock_guard<std::recursive_mutex> lock(storeLock_);
  if (int32_t status = InitPublicKeyObjects(S)) return status;
  return ChainCheck(Cert, ChainFlags(S));
}

namespace {

// Copies of every certificate of the store whose UID satisfies Match (enumeration cannot go on
// from a deleted context, so they are collected first).
template <class Match>
std::vector<PCCERT_CONTEXT> Collect(const TCapiFunctions& Api, HCERTSTORE Store, Match&& match) {
  std::vector<PCCERT_CONTEXT> found;
  for (PCCERT_CONTEXT c = Api.CertEnumCertificatesInStore(Store, nullptr); c != nullptr;
       c = Api.CertEnumCertificatesInStore(Store, c))
    if (match(c)) found.push_back(Api.CertDuplicateCertificateContext(c));
  return found;
}

}  // namespace

int32_t TCryptoAPI20_DLL::IncludeCertificate(PCCERT_CONTEXT Cert, const std::string& Name,
                                             const TVerificationSettings& S) {
  std::lock_guard<std::recursive_mutex> lock(storeLock_);
  if (int32_t status = InitPublicKeyObjects(S)) return status;
  const std::string uid = GetUIDFromCertContext(Cert, S.UIDLocationOID);
  const std::string key = UpperCase(uid);
  const auto same = [&](PCCERT_CONTEXT c) { return UpperCase(GetUIDFromCertContext(c, S.UIDLocationOID)) == key; };
  for (PCCERT_CONTEXT old : Collect(api_, abonentStore_, same)) api_.CertDeleteCertificateFromStore(old);
  if (!api_.CertAddCertificateContextToStore(abonentStore_, Cert, kAddReplaceExisting, nullptr)) {
    const int32_t status = LastErrorCode();
    FreeStores();
    return status;
  }
  if (useSerialIndex_) {
    serialIndex_.erase(std::remove_if(serialIndex_.begin(), serialIndex_.end(),
                                      [&](const auto& e) { return UpperCase(e.first) == key; }),
                       serialIndex_.end());
    serialIndex_.emplace_back(uid, GetUIDFromCertContext(Cert, "SN"));
  }
  if (int32_t status = RegisterCA(Name, Cert)) {
    FreeStores();
    return status;
  }
  return 0;
}

int32_t TCryptoAPI20_DLL::RemoveAbonentFromStore(const std::string& UID, const TVerificationSettings& S) {
  std::lock_guard<std::recursive_mutex> lock(storeLock_);
  if (int32_t status = InitPublicKeyObjects(S)) return status;
  const auto same = [&](PCCERT_CONTEXT c) { return GetUIDFromCertContext(c, S.UIDLocationOID) == UID; };
  int32_t status = 0;
  for (PCCERT_CONTEXT old : Collect(api_, abonentStore_, same))
    if (!api_.CertDeleteCertificateFromStore(old) && status == 0) status = LastErrorCode();
  serialIndex_.erase(std::remove_if(serialIndex_.begin(), serialIndex_.end(),
                                    [&](const auto& e) { return e.first == UID; }),
                     serialIndex_.end());
  return status;
}

}  // namespace zk::capi
