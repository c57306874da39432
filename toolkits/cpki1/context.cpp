// Contexts: loading the PSE and the store, the certificate indexes, and the trust check.
#include "context.h"

#include <algorithm>

namespace cpki1 {

CertPtr Context::Parsed(const uint8_t* der, size_t len) {
  if (der == nullptr) return nullptr;
  if (CertPtr c = known_.Find(der, len)) return c;
  return ParseCertificate(der, len);
}

CertPtr Context::Remember(CertPtr cert) {
  if (CertPtr c = known_.Find(cert->der.data(), cert->der.size())) return c;
  known_.Add(cert);
  return cert;
}

void Context::Index(size_t position) {
  const Certificate& c = *store[position];
  if (c.commonNames == 1) storeByKey_.emplace("CN:" + c.commonName, position);
  storeByKey_.emplace("SN:" + SerialDigits(c.serialText), position);
}

void Context::Reindex() {
  known_.Clear();
  storeByKey_.clear();
  for (const auto* list : {&own, &anchors, &store}) {
    for (const CertPtr& c : *list) known_.Add(c);
  }
  for (size_t i = 0; i < store.size(); ++i) Index(i);
}

void Context::AddToStore(const CertPtr& cert) {
  store.push_back(Remember(cert));
  Index(store.size() - 1);
}

void Context::TruncateStore(size_t size) {
  if (size >= store.size()) return;
  store.resize(size);
  Reindex();
}

bool Context::InStore(const CertPtr& cert) const {
  return std::find(store.begin(), store.end(), cert) != store.end();
}

namespace {

std::vector<size_t> Positions(const std::unordered_multimap<std::string, size_t>& map, const std::string& key) {
  std::vector<size_t> out;
  const auto range = map.equal_range(key);
  for (auto it = range.first; it != range.second; ++it) out.push_back(it->second);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

std::vector<size_t> Context::StoreByName(const std::string& cn) const { return Positions(storeByKey_, "CN:" + cn); }

std::vector<size_t> Context::StoreBySerial(const std::string& serial) const {
  return Positions(storeByKey_, "SN:" + SerialDigits(serial));
}

bool SaveStore(const Context& ctx) {
  if (ctx.storePath.empty()) return false;
  Records records;
  for (const CertPtr& c : ctx.store) records.emplace_back(kStoreCert, c->der);
  for (const Crl& c : ctx.crls) records.emplace_back(kStoreCrl, c.der);
  return WriteRecords(ctx.storePath, kStoreMagic, records);
}

bool LoadPse(const std::string& path, Context& ctx) {
  Records records;
  if (!ReadRecords(path, kPseMagic, records)) return false;
  for (const auto& r : records) {
    if (r.first == kPrivateKey) {
      ctx.key = r.second;
      continue;
    }
    CertPtr cert = r.first == kOwnCert || r.first == kAnchor ? ParseCertificate(r.second.data(), r.second.size()) : nullptr;
    if (cert == nullptr) return false;
    (r.first == kOwnCert ? ctx.own : ctx.anchors).push_back(ctx.Remember(cert));
  }
  Bytes n, e;
  if (!PublicFromPrivate(ctx.key, n, e)) return false;
  for (const CertPtr& c : ctx.own) {
    if (c->n != n || c->e != e) return false;  // every own certificate carries the PSE's key
  }
  return true;
}

bool LoadStore(Context& ctx) {
  Records records;
  if (!ReadRecords(ctx.storePath, kStoreMagic, records)) return false;
  for (const auto& r : records) {
    Crl crl;
    if (r.first == kStoreCert) {
      CertPtr cert = ParseCertificate(r.second.data(), r.second.size());
      if (cert == nullptr) continue;
      const CertPtr known = ctx.Remember(cert);
      // A new certificate is in no list yet; only one known before may already be stored.
      if (known == cert || !ctx.InStore(known)) ctx.AddToStore(known);
    } else if (r.first == kStoreCrl && ParseCrl(r.second, crl)) {
      ctx.crls.push_back(crl);
    }
  }
  return true;
}

bool Current(const Certificate& cert) {
  const std::time_t now = std::time(nullptr);
  return cert.notBefore <= now && now <= cert.notAfter;
}

int32_t Trust(const Context& ctx, const Certificate& cert, IssuerCheck check) {
  const Certificate* issuer = nullptr;
  for (const CertPtr& a : ctx.anchors) {
    if (a->subjectDer != cert.issuerDer) continue;
    if (check == IssuerCheck::kRemembered ? IssuedBy(cert, *a) : SignedBy(cert.tbs, cert.signature, *a)) issuer = a.get();
  }
  if (issuer == nullptr) return kUntrusted;
  if (!Current(cert)) return kExpired;
  for (const Crl& crl : ctx.crls) {
    if (crl.issuerDer != cert.issuerDer) continue;
    for (const Bytes& serial : crl.revoked) {
      if (serial == cert.serial) return kRevoked;
    }
  }
  return kOk;
}

}  // namespace cpki1
