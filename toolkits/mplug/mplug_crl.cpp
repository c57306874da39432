// X.509 v2 CRLs (RFC 5280) in DER. libksba reads CRLs but cannot write them, so the stand-in
// writes the DER itself and signs tbsCertList with the authority's key (PKCS#1 v1.5 over
// SHA-256); reading goes through the stand-in's BER reader, which also requires every field
// outside tbsCertList to be exactly as written.
#include <algorithm>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>

#include "mplug_internal.h"
#include "standin.h"
#include "standin_der.h"

namespace mplug {
namespace {

constexpr int64_t kCrlLifetime = 30 * 86400;

// CRLs checked before, by the authority and the CRL's image: every operation lists the CRL
// directory again, and the signature check of each CRL would cost more than the operation.
struct Checked {
  bool signedByAuthority = false;
  std::vector<std::string> revoked;  // sorted
};

struct CheckedCrls {
  std::mutex lock;
  std::map<std::string, std::shared_ptr<const Checked>> byImage;
};

CheckedCrls& Cache() {
  static standin::Immortal<CheckedCrls> cache;
  return cache.get();
}

std::shared_ptr<const Checked> Check(const Cert& authority, const Bytes& image) {
  constexpr size_t kKept = 256;
  const std::string key = std::to_string(authority.KeyText.size()) + ":" + authority.KeyText + authority.SubjectDer +
                          "|" + std::string(image.begin(), image.end());
  CheckedCrls& cache = Cache();
  {
    std::lock_guard<std::mutex> hold(cache.lock);
    auto it = cache.byImage.find(key);
    if (it != cache.byImage.end()) return it->second;
  }
  auto checked = std::make_shared<Checked>();
  Crl crl;
  if (ParseCrl(image, crl) == kOk && CrlSignedBy(crl, authority)) {
    checked->signedByAuthority = true;
    checked->revoked = std::move(crl.Revoked);
    std::sort(checked->revoked.begin(), checked->revoked.end());
  }
  std::lock_guard<std::mutex> hold(cache.lock);
  if (cache.byImage.size() >= kKept) cache.byImage.clear();
  cache.byImage.emplace(key, checked);
  return checked;
}

}  // namespace

int32_t ParseCrl(const Bytes& der, Crl& crl) {
  CrlParts parts;
  if (!ParseCrlDer(der.data(), der.size(), parts)) return kBadFormat;
  crl.IssuerDer = std::move(parts.issuer);
  crl.Revoked = std::move(parts.revoked);
  crl.TbsDigest = Sha256(parts.tbs, parts.tbsLength);
  crl.Signature = std::move(parts.signature);
  return kOk;
}

int32_t ReadCrl(const std::string& path, Crl& crl) {
  Bytes bytes;
  if (!ReadWholeFile(path, bytes, 16 * 1024 * 1024)) return kFileNotFound;
  return ParseCrl(bytes, crl);
}

bool CrlSignedBy(const Crl& crl, const Cert& issuer) {
  return !issuer.SubjectDer.empty() && crl.IssuerDer == issuer.SubjectDer &&
         VerifyWith(issuer, crl.TbsDigest, crl.Signature);
}

std::string MakeCrlDer(const Cert& authority, gcry_sexp_t authorityKey, const std::vector<Cert>& revoked) {
  namespace der = standin::der;
  if (authority.SubjectDer.empty()) return "";
  const std::time_t now = std::time(nullptr);
  std::vector<Bytes> entries;
  for (const Cert& cert : revoked) {
    if (cert.SerialDer.empty()) return "";
    entries.push_back(der::Seq({der::Tlv(0x02, Bytes(cert.SerialDer.begin(), cert.SerialDer.end())), der::Time(now)}));
  }
  const Bytes algorithm = der::Seq({der::Oid("1.2.840.113549.1.1.11"), der::Null()});  // sha256WithRSAEncryption
  // crlNumber: the issue time, so that a later CRL of the authority has a larger number.
  const Bytes number = der::Seq({der::Oid("2.5.29.20"), der::Octets(der::SmallInt(uint64_t(now)))});
  std::vector<Bytes> tbs = {der::SmallInt(1), algorithm, Bytes(authority.SubjectDer.begin(), authority.SubjectDer.end()),
                            der::Time(now), der::Time(now + kCrlLifetime)};
  if (!entries.empty()) tbs.push_back(der::Seq(entries));  // an empty list is left out
  tbs.push_back(der::Tlv(0xa0, der::Seq({number})));
  const Bytes signedPart = der::Seq(tbs);
  Bytes sig;
  if (!RsaSign(authorityKey, signedPart.data(), signedPart.size(), sig)) return "";
  const Bytes crl = der::Seq({signedPart, algorithm, der::Bits(sig)});
  return std::string(crl.begin(), crl.end());
}

int32_t CheckRevocation(const std::string& dir, const Cert& authority, const Cert& cert) {
  for (const std::string& file : CrlFiles(dir)) {
    Bytes image;
    if (!ReadWholeFile(file, image, 16 * 1024 * 1024)) continue;
    const std::shared_ptr<const Checked> crl = Check(authority, image);
    // A CRL the authority did not sign says nothing about its certificates.
    if (crl->signedByAuthority && std::binary_search(crl->revoked.begin(), crl->revoked.end(), cert.SerialDer))
      return kRevoked;
  }
  return kOk;
}

}  // namespace mplug
