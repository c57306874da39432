// A toolkit context: a PSE (its key, own certificates and trust anchors) and a local store of
// certificates and CRLs, with the indexes that keep lookups steady however large the store grows.
#pragma once

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "cpki1_internal.h"

namespace cpki1 {

struct Context {
  std::mutex lock;
  uint32_t flags = 0;
  Bytes key;
  std::vector<CertPtr> own, anchors, store;
  std::vector<Crl> crls;
  std::string storePath;
  AesCbcHandle aes;
  standin::RandomSource random;  // content keys, IVs and key-transport padding

  // A certificate by its exact bytes: the context's own, an anchor or the store's when known
  // (the same object whichever list holds it), else as parsed for the process; null when
  // malformed.
  CertPtr Parsed(const uint8_t* der, size_t len);
  // Store positions, in order, of certificates whose only common name is cn / whose serial
  // matches serial by value.
  std::vector<size_t> StoreByName(const std::string& cn) const;
  std::vector<size_t> StoreBySerial(const std::string& serial) const;
  // Appends to the store, or takes the store back to its first `size` entries.
  void AddToStore(const CertPtr& cert);
  void TruncateStore(size_t size);
  bool InStore(const CertPtr& cert) const;

  // Known: own, anchors and store; adds to it (the object already known for the same bytes
  // when there is one).
  CertPtr Remember(CertPtr cert);

 private:
  void Index(size_t position);
  void Reindex();

  CertIndex known_;
  std::unordered_multimap<std::string, size_t> storeByKey_;  // "CN:<name>", "SN:<digits>"
};

bool LoadPse(const std::string& path, Context& ctx);
bool LoadStore(Context& ctx);
bool SaveStore(const Context& ctx);
bool Current(const Certificate& cert);
// How Trust checks an authority's signature on the certificate: with RSA on every call (the
// signers of a message), or remembered by exact bytes (IssuedBy; an envelope's recipients).
// Validity dates and CRLs are checked on every call either way.
enum class IssuerCheck { kEveryCall, kRemembered };
// 0, kUntrusted, kExpired or kRevoked.
int32_t Trust(const Context& ctx, const Certificate& cert, IssuerCheck check = IssuerCheck::kEveryCall);

}  // namespace cpki1
