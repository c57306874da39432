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

namespace mplug {
namespace {

constexpr int64_t kCrlLifetime = 30 * 86400;
// sha256WithRSAEncryption with its NULL parameters; crlNumber.
const char kSha256WithRsa[] = "\x30\x0d\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x01\x0b\x05\x00";
const char kCrlNumberOid[] = "\x06\x03\x55\x1d\x14";

// A positive INTEGER, minimal.
std::string Integer(uint64_t v) {
  std::string digits;
  do {
    digits.insert(digits.begin(), char(v & 0xff));
    v >>= 8;
  } while (v != 0);
  if (uint8_t(digits[0]) & 0x80) digits.insert(digits.begin(), '\0');
  return Tlv(0x02, digits);
}

// UTCTime through 2049, GeneralizedTime after, as RFC 5280 requires.
std::string Time(int64_t seconds) {
  const std::time_t t = std::time_t(seconds);
  const std::tm tm = standin::UtcCalendar(t);
  char buf[20];
  const bool utc = tm.tm_year + 1900 < 2050;
  std::strftime(buf, sizeof buf, utc ? "%y%m%d%H%M%SZ" : "%Y%m%d%H%M%SZ", &tm);
  return Tlv(utc ? 0x17 : 0x18, buf);
}

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
  if (authority.SubjectDer.empty()) return "";
  const int64_t now = int64_t(std::time(nullptr));
  std::string entries;
  for (const Cert& cert : revoked) {
    if (cert.SerialDer.empty()) return "";
    entries += Tlv(0x30, Tlv(0x02, cert.SerialDer) + Time(now));
  }
  // crlNumber: the issue time, so that a later CRL of the authority has a larger number.
  const std::string number = Tlv(0x30, kCrlNumberOid + Tlv(0x04, Integer(uint64_t(now))));
  std::string tbs = Integer(1) + std::string(kSha256WithRsa, sizeof kSha256WithRsa - 1) + authority.SubjectDer +
                    Time(now) + Time(now + kCrlLifetime);
  if (!entries.empty()) tbs += Tlv(0x30, entries);  // an empty list is left out
  tbs = Tlv(0x30, tbs + Tlv(0xa0, Tlv(0x30, number)));
  Bytes sig;
  if (!RsaSign(authorityKey, reinterpret_cast<const uint8_t*>(tbs.data()), tbs.size(), sig)) return "";
  return Tlv(0x30, tbs + std::string(kSha256WithRsa, sizeof kSha256WithRsa - 1) +
                       Tlv(0x03, '\0' + std::string(sig.begin(), sig.end())));
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
