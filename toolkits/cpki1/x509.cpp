// X.509 v3 certificates and v2 CRLs: written by hand in DER (libksba has no writer for either),
// certificates read through libksba (names as RFC 4514 text, extended key usages), signatures
// checked over the signed part.
#include <ksba.h>

#include <cctype>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <string_view>

#include "cpki1_internal.h"
#include "standin.h"
#include "standin_memo.h"

namespace cpki1 {

namespace {

const char kSha256WithRsa[] = "1.2.840.113549.1.1.11";
const char kRsaEncryption[] = "1.2.840.113549.1.1.1";

Bytes SignatureAlgorithm() { return der::Seq({der::Oid(kSha256WithRsa), der::Null()}); }

struct Attribute {
  const char* name;
  const char* oid;
};
const Attribute kAttributes[] = {{"CN", "2.5.4.3"},  {"O", "2.5.4.10"}, {"OU", "2.5.4.11"},
                                 {"C", "2.5.4.6"},   {"L", "2.5.4.7"},  {"ST", "2.5.4.8"},
                                 {"SERIALNUMBER", "2.5.4.5"}, {"E", "1.2.840.113549.1.9.1"}};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The bytes to sign, signed: SEQUENCE { tbs, algorithm, BIT STRING signature }.
bool SignStructure(const Bytes& tbs, const Bytes& key, Bytes& out) {
  Bytes signature;
  if (!RsaSign(key, Sha256(tbs), signature)) return false;
  out = der::Seq({tbs, SignatureAlgorithm(), der::Bits(signature)});
  return true;
}

// Splits SEQUENCE { tbs, algorithm, signature } of a certificate or CRL.
bool SplitSigned(const Bytes& data, Bytes& tbs, Bytes& signature, std::vector<der::Node>& tbsFields) {
  der::Node top;
  std::vector<der::Node> parts;
  if (!der::Parse(data, top) || top.tag != 0x30 || !der::Children(top, parts) || parts.size() != 3 ||
      parts[0].tag != 0x30 || parts[2].tag != 0x03 || parts[2].length < 2 || parts[2].content[0] != 0)
    return false;
  // The outer algorithm is not signed: it must be ours, exactly.
  if (parts[1].Raw() != SignatureAlgorithm()) return false;
  tbs = parts[0].Raw();
  signature.assign(parts[2].content + 1, parts[2].content + parts[2].length);
  return der::Children(parts[0], tbsFields);
}

void CollectCommonNames(const der::Node& name, Certificate& cert) {
  std::vector<der::Node> rdns, atvs, pair;
  der::Children(name, rdns);
  for (const der::Node& rdn : rdns) {
    if (!der::Children(rdn, atvs)) continue;
    for (const der::Node& atv : atvs) {
      if (der::Children(atv, pair) && pair.size() == 2 && der::OidText(pair[0]) == "2.5.4.3") {
        cert.commonName.assign(reinterpret_cast<const char*>(pair[1].content), pair[1].length);
        ++cert.commonNames;
      }
    }
  }
}

bool ReadPublicKey(const der::Node& spki, Certificate& cert) {
  std::vector<der::Node> parts, rsa;
  if (!der::Children(spki, parts) || parts.size() != 2 || parts[1].tag != 0x03 || parts[1].length < 2) return false;
  der::Node key;
  if (!der::Read(parts[1].content + 1, parts[1].content + parts[1].length, key) || !der::Children(key, rsa) ||
      rsa.size() != 2)
    return false;
  cert.n = rsa[0].Content();
  cert.e = rsa[1].Content();
  while (cert.n.size() > 1 && cert.n[0] == 0) cert.n.erase(cert.n.begin());
  return true;
}

// Names, key usages and the CA flag through libksba.
bool ReadWithKsba(Certificate& cert) {
  ksba_cert_t kc = nullptr;
  if (ksba_cert_new(&kc) != 0) return false;
  bool ok = ksba_cert_init_from_mem(kc, cert.der.data(), cert.der.size()) == 0;
  if (ok) {
    char* subject = ksba_cert_get_subject(kc, 0);
    char* issuer = ksba_cert_get_issuer(kc, 0);
    ok = subject != nullptr && issuer != nullptr;
    if (ok) {
      cert.subject = subject;
      cert.issuer = issuer;
    }
    ksba_free(subject);
    ksba_free(issuer);
    unsigned int usage = 0;
    if (ksba_cert_get_key_usage(kc, &usage) == 0) {
      const unsigned kBits[8] = {KSBA_KEYUSAGE_DIGITAL_SIGNATURE, KSBA_KEYUSAGE_NON_REPUDIATION,
                                 KSBA_KEYUSAGE_KEY_ENCIPHERMENT,  KSBA_KEYUSAGE_DATA_ENCIPHERMENT,
                                 KSBA_KEYUSAGE_KEY_AGREEMENT,     KSBA_KEYUSAGE_KEY_CERT_SIGN,
                                 KSBA_KEYUSAGE_CRL_SIGN,          KSBA_KEYUSAGE_ENCIPHER_ONLY};
      for (int i = 0; i < 8; ++i) {
        if (usage & kBits[i]) cert.keyUsage |= 0x80u >> i;
      }
    }
    char* ekus = nullptr;
    if (ksba_cert_get_ext_key_usages(kc, &ekus) == 0 && ekus != nullptr) {
      // Lines "<oid>:<flags>\n".
      for (const char* p = ekus; *p != 0;) {
        const char* colon = std::strchr(p, ':');
        const char* eol = std::strchr(p, '\n');
        if (colon == nullptr) break;
        if (!cert.ekus.empty()) cert.ekus += ";";
        cert.ekus.append(p, colon);
        if (eol == nullptr) break;
        p = eol + 1;
      }
      ksba_free(ekus);
    }
    int isCa = 0;
    if (ksba_cert_is_ca(kc, &isCa, nullptr) == 0) cert.isCa = isCa != 0;
  }
  ksba_cert_release(kc);
  return ok;
}

}  // namespace

std::string SerialText(const Bytes& serial) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < serial.size(); ++i) {
    if (i == 0 && serial[i] == 0 && serial.size() > 1) continue;  // the sign byte
    if (!text.empty()) text += ':';
    text += kHex[serial[i] >> 4];
    text += kHex[serial[i] & 15];
  }
  return text;
}

std::string SerialDigits(const std::string& text) {
  std::string d;
  for (char c : text) {
    if (c != ':') d += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  const size_t first = d.find_first_not_of('0');
  return first == std::string::npos ? std::string("0") : d.substr(first);
}

bool SerialMatches(const Bytes& serial, const std::string& text) {
  return !text.empty() && SerialDigits(SerialText(serial)) == SerialDigits(text);
}

bool ParseCertificate(const Bytes& data, Certificate& cert) {
  cert = Certificate();
  cert.der = data;
  std::vector<der::Node> f;
  if (!SplitSigned(data, cert.tbs, cert.signature, f)) return false;
  const size_t at = !f.empty() && f[0].tag == 0xA0 ? 1 : 0;  // optional version
  if (f.size() < at + 6 || f[at].tag != 0x02) return false;
  cert.serial = f[at].Content();
  cert.issuerDer = f[at + 2].Raw();
  cert.subjectDer = f[at + 4].Raw();
  std::vector<der::Node> validity;
  if (!der::Children(f[at + 3], validity) || validity.size() != 2 || !der::ParseTime(validity[0], cert.notBefore) ||
      !der::ParseTime(validity[1], cert.notAfter) || !ReadPublicKey(f[at + 5], cert))
    return false;
  CollectCommonNames(f[at + 4], cert);
  cert.serialText = SerialText(cert.serial);
  cert.publicKey = PublicKey(cert.n, cert.e);
  return cert.publicKey != nullptr && ReadWithKsba(cert);
}

namespace {

// Certificates parsed in this process, by their exact bytes: a context made again (after its
// time-out, or for every operation with a time-out of 0) finds its PSE's and store's certificates
// here. Bounded: when full it starts over.
constexpr size_t kParsedLimit = 1024;

struct ParsedCertificates {
  std::shared_mutex lock;
  CertIndex index;
};

ParsedCertificates& Parsed() {
  static standin::Immortal<ParsedCertificates> parsed;
  return parsed.get();
}

// Certificates refused, by their exact bytes: refused again without being parsed, since
// libksba 1.6.3 keeps part of its parse tree when it refuses some malformed ones. Bounded by
// count and by size.
constexpr size_t kRefusedKept = 256;
constexpr size_t kRefusedLargest = 64 * 1024;

standin::Memo& Refused() {
  static standin::Immortal<standin::Memo> refused(kRefusedKept);
  return refused.get();
}

}  // namespace

CertPtr ParseCertificate(const uint8_t* der, size_t len) {
  if (der == nullptr) return nullptr;
  ParsedCertificates& parsed = Parsed();
  {
    std::shared_lock<std::shared_mutex> hold(parsed.lock);
    if (CertPtr known = parsed.index.Find(der, len)) return known;
  }
  const bool rememberable = len <= kRefusedLargest;
  const standin::MemoKey refusal = standin::MemoKey("certificate").Add(der, rememberable ? len : 0);
  int status = 0;
  standin::Memo::Result none;
  if (rememberable && Refused().Find(refusal, status, none)) return nullptr;
  auto cert = std::make_shared<Certificate>();
  if (!ParseCertificate(Bytes(der, der + len), *cert)) {
    if (rememberable) Refused().Add(refusal, 0, none);
    return nullptr;
  }
  std::unique_lock<std::shared_mutex> hold(parsed.lock);
  if (CertPtr known = parsed.index.Find(der, len)) return known;  // parsed meanwhile by another thread
  if (parsed.index.Size() >= kParsedLimit) parsed.index.Clear();
  parsed.index.Add(cert);
  return cert;
}

bool SignedBy(const Bytes& tbs, const Bytes& signature, const Certificate& issuer) {
  return issuer.publicKey != nullptr && RsaVerify(*issuer.publicKey, Sha256(tbs), signature);
}

bool VerifiedIssuer::Is(const Bytes& authorityDer) const {
  std::lock_guard<std::mutex> hold(lock_);
  return !der_.empty() && der_ == authorityDer;
}

void VerifiedIssuer::Set(const Bytes& authorityDer) const {
  std::lock_guard<std::mutex> hold(lock_);
  der_ = authorityDer;
}

bool IssuedBy(const Certificate& cert, const Certificate& authority) {
  if (cert.verifiedIssuer.Is(authority.der)) return true;
  if (!SignedBy(cert.tbs, cert.signature, authority)) return false;
  cert.verifiedIssuer.Set(authority.der);
  return true;
}

namespace {
size_t HashOf(const uint8_t* der, size_t len) {
  return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(der), len));
}
}  // namespace

CertPtr CertIndex::Find(const uint8_t* der, size_t len) const {
  const auto range = byHash_.equal_range(HashOf(der, len));
  for (auto it = range.first; it != range.second; ++it) {
    const Bytes& known = it->second->der;
    if (known.size() == len && std::memcmp(known.data(), der, len) == 0) return it->second;
  }
  return nullptr;
}

void CertIndex::Add(const CertPtr& cert) {
  if (Find(cert->der.data(), cert->der.size()) == nullptr) byHash_.emplace(HashOf(cert->der.data(), cert->der.size()), cert);
}

Bytes EncodeName(const std::string& attrs) {
  std::vector<Bytes> rdns;
  size_t start = 0;
  while (start <= attrs.size()) {
    size_t end = attrs.find(',', start);
    if (end == std::string::npos) end = attrs.size();
    const std::string part = attrs.substr(start, end - start);
    const size_t eq = part.find('=');
    if (eq != std::string::npos) {
      const std::string name = Upper(part.substr(0, eq));
      const std::string value = part.substr(eq + 1);
      for (const Attribute& a : kAttributes) {
        if (name == a.name) {
          const Bytes v = name == "C" ? der::Tlv(0x13, Bytes(value.begin(), value.end())) : der::Utf8(value);
          rdns.push_back(der::Set({der::Seq({der::Oid(a.oid), v})}));
        }
      }
    }
    start = end + 1;
  }
  return der::Seq(rdns);
}

bool IssueCertificate(const CertRequest& req, const Bytes& subjectN, const Bytes& subjectE, const Bytes& issuerName,
                      const Bytes& issuerKey, Bytes& out) {
  const Bytes spki = der::Seq({der::Seq({der::Oid(kRsaEncryption), der::Null()}),
                               der::Bits(der::Seq({der::Int(subjectN), der::Int(subjectE)}))});
  std::vector<Bytes> extensions;
  if (req.isCa) {
    extensions.push_back(der::Seq({der::Oid("2.5.29.19"), der::Bool(true), der::Octets(der::Seq({der::Bool(true)}))}));
  }
  if (req.keyUsage != 0) {
    int unused = 0;
    while (unused < 7 && ((req.keyUsage >> unused) & 1) == 0) ++unused;
    extensions.push_back(der::Seq({der::Oid("2.5.29.15"), der::Bool(true),
                                   der::Octets(der::Bits({static_cast<uint8_t>(req.keyUsage)}, unused))}));
  }
  if (!req.ekus.empty()) {
    std::vector<Bytes> oids;
    size_t start = 0;
    while (start < req.ekus.size()) {
      size_t end = req.ekus.find(';', start);
      if (end == std::string::npos) end = req.ekus.size();
      if (end > start) oids.push_back(der::Oid(req.ekus.substr(start, end - start).c_str()));
      start = end + 1;
    }
    extensions.push_back(der::Seq({der::Oid("2.5.29.37"), der::Octets(der::Seq(oids))}));
  }
  std::vector<Bytes> tbs = {der::Tlv(0xA0, der::SmallInt(2)), der::Int(req.serial), SignatureAlgorithm(), issuerName,
                            der::Seq({der::Time(req.notBefore), der::Time(req.notAfter)}), EncodeName(req.subject),
                            spki};
  if (!extensions.empty()) tbs.push_back(der::Tlv(0xA3, der::Seq(extensions)));
  return SignStructure(der::Seq(tbs), issuerKey, out);
}

bool ParseCrl(const Bytes& data, Crl& crl) {
  crl = Crl();
  crl.der = data;
  std::vector<der::Node> f;
  if (!SplitSigned(data, crl.tbs, crl.signature, f)) return false;
  const size_t at = !f.empty() && f[0].tag == 0x02 ? 1 : 0;  // optional version
  if (f.size() < at + 3 || f[at + 1].tag != 0x30) return false;
  crl.issuerDer = f[at + 1].Raw();
  for (size_t i = at + 3; i < f.size(); ++i) {
    if (f[i].tag != 0x30) continue;  // nextUpdate, extensions
    std::vector<der::Node> entries, entry;
    if (!der::Children(f[i], entries)) return false;
    for (const der::Node& e : entries) {
      if (!der::Children(e, entry) || entry.empty() || entry[0].tag != 0x02) return false;
      crl.revoked.push_back(entry[0].Content());
    }
  }
  return true;
}

bool IssueCrl(const Certificate& ca, const Bytes& caKey, const std::vector<Bytes>& revoked, Bytes& out) {
  const std::time_t now = std::time(nullptr);
  std::vector<Bytes> tbs = {der::SmallInt(1), SignatureAlgorithm(), ca.subjectDer, der::Time(now),
                            der::Time(now + 30L * 86400)};
  if (!revoked.empty()) {
    std::vector<Bytes> entries;
    for (const Bytes& serial : revoked) entries.push_back(der::Seq({der::Int(serial), der::Time(now)}));
    tbs.push_back(der::Seq(entries));
  }
  return SignStructure(der::Seq(tbs), caKey, out);
}

}  // namespace cpki1
