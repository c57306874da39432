// A small BER reader for what libksba leaves unchecked: that every byte of a signature or an
// envelope belongs to one well-formed element, and that every field of a signature outside the
// signed attributes and the certificate's signed part has exactly the value it must have. A
// change anywhere in a signature then makes it fail.
#include <algorithm>
#include <cstring>

#include "mplug_internal.h"
#include "standin_der.h"

namespace mplug {
namespace {

constexpr int kMaxDepth = 64;

// One element: its first (and only) tag byte, its content, and all of its bytes.
struct Node {
  uint8_t tag = 0;
  const uint8_t* content = nullptr;
  size_t length = 0;
  const uint8_t* raw = nullptr;
  size_t rawLength = 0;
  bool Is(uint8_t t) const { return tag == t; }
  bool RawEquals(const uint8_t* p, size_t n) const { return rawLength == n && std::memcmp(raw, p, n) == 0; }
  Bytes Raw() const { return Bytes(raw, raw + rawLength); }
};

// deep: check the whole element, down to its innermost parts; else only as far as needed to find
// its end (for the parts of an element checked before).
bool Read(const uint8_t* p, size_t len, size_t& at, Node& node, int depth, bool deep);

// The children of constructed content up to `end` (indefinite: up to the end-of-contents).
bool ReadChildren(const uint8_t* p, size_t len, size_t& at, bool indefinite, std::vector<Node>* out, int depth,
                  bool deep) {
  while (true) {
    if (indefinite && at + 2 <= len && p[at] == 0 && p[at + 1] == 0) {
      at += 2;
      return true;
    }
    if (!indefinite && at == len) return true;
    Node child;
    if (!Read(p, len, at, child, depth + 1, deep)) return false;
    if (out != nullptr) out->push_back(child);
  }
}

bool Read(const uint8_t* p, size_t len, size_t& at, Node& node, int depth, bool deep) {
  if (depth > kMaxDepth || at + 2 > len || (p[at] & 0x1f) == 0x1f || p[at] == 0) return false;
  const size_t start = at;
  node.tag = p[at++];
  const bool constructed = (node.tag & 0x20) != 0;
  const uint8_t first = p[at++];
  if (first == 0x80) {
    if (!constructed) return false;
    const size_t contentStart = at;
    if (!ReadChildren(p, len, at, true, nullptr, depth, deep)) return false;
    node.content = p + contentStart;
    node.length = at - 2 - contentStart;
  } else {
    size_t length = first;
    if (first & 0x80) {
      const size_t n = first & 0x7f;
      if (n == 0 || n > 4 || len - at < n) return false;
      length = 0;
      for (size_t i = 0; i < n; ++i) length = length << 8 | p[at++];
    }
    if (length > len - at) return false;
    node.content = p + at;
    node.length = length;
    at += length;
    size_t inner = 0;
    if (deep && constructed && !ReadChildren(node.content, node.length, inner, false, nullptr, depth, true))
      return false;
  }
  node.raw = p + start;
  node.rawLength = at - start;
  return true;
}

bool Parse(const uint8_t* p, size_t len, Node& node) {
  size_t at = 0;
  return Read(p, len, at, node, 0, true) && at == len;
}

bool Children(const Node& node, std::vector<Node>& out) {
  out.clear();
  out.reserve(8);  // most elements here have fewer children: one allocation, not four
  size_t at = 0;
  // Only elements of a Parse come here, checked whole already.
  return (node.tag & 0x20) != 0 && ReadChildren(node.content, node.length, at, false, &out, 1, false);
}

// An OBJECT IDENTIFIER with exactly these content bytes.
bool IsOid(const Node& n, const uint8_t* oid, size_t len) {
  return n.Is(0x06) && n.length == len && std::memcmp(n.content, oid, len) == 0;
}

bool IsSmallInt(const Node& n, uint8_t v) { return n.Is(0x02) && n.length == 1 && n.content[0] == v; }

// AlgorithmIdentifier { oid, NULL or nothing }.
bool IsAlgorithm(const Node& n, const uint8_t* oid, size_t len) {
  std::vector<Node> f;
  return n.Is(0x30) && Children(n, f) && (f.size() == 1 || (f.size() == 2 && f[1].Is(0x05) && f[1].length == 0)) &&
         IsOid(f[0], oid, len);
}

const uint8_t kSignedData[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x07, 0x02};
const uint8_t kData[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x07, 0x01};
const uint8_t kSha256[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const uint8_t kRsa[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x01};
const uint8_t kSha256WithRsa[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x0b};

// The issuer name and serial number elements of a certificate's signed part.
bool IssuerAndSerialOf(const Node& cert, Node& issuer, Node& serial) {
  std::vector<Node> c, tbs;
  if (!Children(cert, c) || c.size() != 3 || !Children(c[0], tbs)) return false;
  const size_t at = !tbs.empty() && tbs[0].Is(0xa0) ? 1 : 0;
  if (tbs.size() < at + 4) return false;
  serial = tbs[at];
  issuer = tbs[at + 2];
  return true;
}

bool CheckSignerInfo(const Node& info, const Node& cert) {
  std::vector<Node> f, sid;
  Node issuer, serial;
  if (!info.Is(0x30) || !Children(info, f) || f.size() != 6 || !IsSmallInt(f[0], 1) || !f[1].Is(0x30) ||
      !Children(f[1], sid) || sid.size() != 2 ||
      !IssuerAndSerialOf(cert, issuer, serial))
    return false;
  // The signer named is the certificate carried, and nothing follows the signature value.
  return sid[0].RawEquals(issuer.raw, issuer.rawLength) && sid[1].RawEquals(serial.raw, serial.rawLength) &&
         IsAlgorithm(f[2], kSha256, sizeof kSha256) && f[3].Is(0xa0) &&
         (IsAlgorithm(f[4], kRsa, sizeof kRsa) || IsAlgorithm(f[4], kSha256WithRsa, sizeof kSha256WithRsa)) &&
         f[5].Is(0x04);
}

}  // namespace

bool IsOneBerElement(const uint8_t* data, size_t len) {
  Node n;
  return Parse(data, len, n);
}

namespace {

// A Name whose every attribute value is a primitive string, as names in certificates carry them.
// libksba reads other values, a NULL with content say, but then aborts when it writes the name
// into a signature's signer.
bool NameOfStrings(const Node& name) {
  static const uint8_t kStrings[] = {0x0c, 0x12, 0x13, 0x14, 0x16, 0x1a, 0x1c, 0x1e};
  std::vector<Node> rdns, attributes, pair;
  if (!name.Is(0x30) || !Children(name, rdns)) return false;
  for (const Node& rdn : rdns) {
    if (!rdn.Is(0x31) || !Children(rdn, attributes) || attributes.empty()) return false;
    for (const Node& attribute : attributes) {
      if (!attribute.Is(0x30) || !Children(attribute, pair) || pair.size() != 2 || !pair[0].Is(0x06) ||
          std::find(std::begin(kStrings), std::end(kStrings), pair[1].tag) == std::end(kStrings))
        return false;
    }
  }
  return true;
}

}  // namespace

bool CertificateShapeValid(const std::string& der) {
  // DER: the outer algorithm is the signed one and the signature has no unused bits.
  Node cert;
  std::vector<Node> c, tbs;
  const auto* p = reinterpret_cast<const uint8_t*>(der.data());
  if (!Parse(p, der.size(), cert) || !cert.Is(0x30) || !Children(cert, c) || c.size() != 3 || !c[0].Is(0x30) ||
      !Children(c[0], tbs))
    return false;
  const size_t at = !tbs.empty() && tbs[0].Is(0xa0) ? 1 : 0;
  return tbs.size() > at + 4 && NameOfStrings(tbs[at + 2]) && NameOfStrings(tbs[at + 4]) &&
         IsAlgorithm(c[1], kSha256WithRsa, sizeof kSha256WithRsa) &&
         c[1].RawEquals(tbs[at + 1].raw, tbs[at + 1].rawLength) && c[2].Is(0x03) && c[2].length > 1 &&
         c[2].content[0] == 0;
}

namespace {

const uint8_t kContentType[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x09, 0x03};
const uint8_t kMessageDigest[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x09, 0x04};

// Signed attributes: each { oid, SET { value } }; the content type must be id-data and the
// message digest 32 bytes, each present once; DER (definite lengths), since they are hashed as sent.
bool ReadSignedAttributes(const Node& attrs, SignedParts& out) {
  std::vector<Node> list, f, values;
  if (!attrs.Is(0xa0) || attrs.raw[1] == 0x80 || !Children(attrs, list)) return false;
  int contentTypes = 0, digests = 0;
  for (const Node& a : list) {
    if (!a.Is(0x30) || !Children(a, f) || f.size() != 2 || !f[0].Is(0x06) || !f[1].Is(0x31) ||
        !Children(f[1], values) || values.empty())
      return false;
    if (IsOid(f[0], kContentType, sizeof kContentType)) {
      if (values.size() != 1 || !IsOid(values[0], kData, sizeof kData)) return false;
      ++contentTypes;
    } else if (IsOid(f[0], kMessageDigest, sizeof kMessageDigest)) {
      if (values.size() != 1 || !values[0].Is(0x04) || values[0].length != 32) return false;
      out.messageDigest.assign(values[0].content, values[0].content + 32);
      ++digests;
    }
  }
  out.signedAttributes.assign(attrs.raw, attrs.raw + attrs.rawLength);
  out.signedAttributes[0] = 0x31;  // hashed as the SET they are
  return contentTypes == 1 && digests == 1;
}

}  // namespace

int32_t ReadSignedData(const uint8_t* sig, size_t len, SignedParts& out) {
  Node top, certs;
  std::vector<Node> ci, wrapped, sd, algs, encap, certList, infos, info;
  if (!Parse(sig, len, top) || !top.Is(0x30) || !Children(top, ci) || ci.empty() || !ci[0].Is(0x06)) return kBadFormat;
  if (!IsOid(ci[0], kSignedData, sizeof kSignedData)) return kNoSignature;
  if (ci.size() != 2 || !ci[1].Is(0xa0) || !Children(ci[1], wrapped) || wrapped.size() != 1 || !wrapped[0].Is(0x30) ||
      !Children(wrapped[0], sd))
    return kBadFormat;
  // version 1, one digest algorithm (SHA-256), no content, one certificate, no CRLs, one signer.
  if (sd.size() != 5 || !IsSmallInt(sd[0], 1) || !sd[1].Is(0x31) || !Children(sd[1], algs) || algs.size() != 1 ||
      !IsAlgorithm(algs[0], kSha256, sizeof kSha256) || !sd[2].Is(0x30) || !Children(sd[2], encap) ||
      encap.size() != 1 || !IsOid(encap[0], kData, sizeof kData) || !sd[3].Is(0xa0) || !Children(sd[3], certList) ||
      certList.size() != 1 || !sd[4].Is(0x31) || !Children(sd[4], infos) || infos.size() != 1)
    return kBadFormat;
  const Node& cert = certList[0];
  out.certificate.assign(reinterpret_cast<const char*>(cert.raw), cert.rawLength);
  // The certificate's own fields are checked where it is parsed (ParseCert).
  if (!CheckSignerInfo(infos[0], cert) || !Children(infos[0], info) ||
      !ReadSignedAttributes(info[3], out))
    return kBadFormat;
  out.signature.assign(info[5].content, info[5].content + info[5].length);
  return kOk;
}

}  // namespace mplug

namespace mplug {
namespace {

const uint8_t kCrlNumber[] = {0x55, 0x1d, 0x14};
const uint8_t kAuthorityKeyId[] = {0x55, 0x1d, 0x23};

bool IsTime(const Node& n) { return n.Is(0x17) || n.Is(0x18); }

// Extensions: each { oid, critical?, OCTET STRING }; a critical one we do not know refuses the CRL.
bool ExtensionsUnderstood(const Node& list) {
  std::vector<Node> exts, f;
  if (!list.Is(0x30) || !Children(list, exts)) return false;
  for (const Node& ext : exts) {
    if (!ext.Is(0x30) || !Children(ext, f) || f.size() < 2 || f.size() > 3 || !f[0].Is(0x06) || !f.back().Is(0x04))
      return false;
    const bool critical = f.size() == 3 && f[1].Is(0x01) && f[1].length == 1 && f[1].content[0] != 0;
    if (f.size() == 3 && !f[1].Is(0x01)) return false;
    if (critical && !IsOid(f[0], kCrlNumber, sizeof kCrlNumber) &&
        !IsOid(f[0], kAuthorityKeyId, sizeof kAuthorityKeyId))
      return false;
  }
  return true;
}

bool ReadRevoked(const Node& list, std::vector<std::string>& serials) {
  std::vector<Node> entries, f;
  if (!list.Is(0x30) || !Children(list, entries) || entries.empty()) return false;
  for (const Node& entry : entries) {
    if (!entry.Is(0x30) || !Children(entry, f) || f.size() < 2 || f.size() > 3 || !f[0].Is(0x02) ||
        f[0].length == 0 || !IsTime(f[1]) || (f.size() == 3 && !ExtensionsUnderstood(f[2])))
      return false;
    serials.emplace_back(reinterpret_cast<const char*>(f[0].content), f[0].length);
  }
  return true;
}

}  // namespace

bool CertNameAndSerial(const std::string& der, std::string& subject, std::string& serial) {
  Node cert, issuer, number;
  std::vector<Node> c, tbs;
  if (!Parse(reinterpret_cast<const uint8_t*>(der.data()), der.size(), cert) || !IssuerAndSerialOf(cert, issuer, number) ||
      !Children(cert, c) || !Children(c[0], tbs))
    return false;
  const size_t at = tbs[0].Is(0xa0) ? 1 : 0;
  if (tbs.size() < at + 5 || !number.Is(0x02) || !tbs[at + 4].Is(0x30)) return false;
  subject.assign(reinterpret_cast<const char*>(tbs[at + 4].raw), tbs[at + 4].rawLength);
  serial.assign(reinterpret_cast<const char*>(number.content), number.length);
  return true;
}

bool IssuerAndSerialDer(const std::string& der, Bytes& out) {
  Node cert, issuer, number;
  if (!Parse(reinterpret_cast<const uint8_t*>(der.data()), der.size(), cert) || !IssuerAndSerialOf(cert, issuer, number) ||
      !issuer.Is(0x30) || !number.Is(0x02))
    return false;
  out = standin::der::Seq({issuer.Raw(), number.Raw()});
  return true;
}

bool EnvelopeContentAtEnd(const uint8_t* p, size_t len, size_t& offset, size_t& length) {
  Node info;
  std::vector<Node> f, wrapped, enveloped, content;
  if (!Parse(p, len, info) || !Children(info, f) || f.size() != 2 || !f[1].Is(0xa0) || !Children(f[1], wrapped) ||
      wrapped.size() != 1 || !Children(wrapped[0], enveloped) || enveloped.empty() || !enveloped.back().Is(0x30) ||
      !Children(enveloped.back(), content) || content.size() != 3 || !content[2].Is(0x80))
    return false;
  offset = size_t(content[2].content - p);
  length = content[2].length;
  return offset + length == len;
}

bool ReadUsualEnvelope(const uint8_t* p, size_t len, UsualEnvelope& out) {
  static const uint8_t kEnveloped[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x07, 0x03};
  Node info;
  std::vector<Node> f, wrapped, enveloped, infos, content, algorithm;
  if (!Parse(p, len, info) || !info.Is(0x30) || !Children(info, f) || f.size() != 2 ||
      !IsOid(f[0], kEnveloped, sizeof kEnveloped) || !f[1].Is(0xa0) || !Children(f[1], wrapped) ||
      wrapped.size() != 1 || !wrapped[0].Is(0x30) || !Children(wrapped[0], enveloped) || enveloped.size() != 3 ||
      !IsSmallInt(enveloped[0], 0) || !enveloped[1].Is(0x31) || !Children(enveloped[1], infos) || infos.empty() ||
      !enveloped[2].Is(0x30) || !Children(enveloped[2], content) || content.size() != 3 ||
      !IsOid(content[0], kData, sizeof kData) || !content[1].Is(0x30) || !Children(content[1], algorithm) ||
      algorithm.size() != 2 || !algorithm[0].Is(0x06) || !algorithm[1].Is(0x04) || algorithm[1].length != 16 ||
      !content[2].Is(0x80))
    return false;
  out.recipients.clear();
  std::vector<Node> r;
  for (const Node& recipient : infos) {
    if (!recipient.Is(0x30) || !Children(recipient, r) || r.size() != 4 || !IsSmallInt(r[0], 0) || !r[1].Is(0x30) ||
        !IsAlgorithm(r[2], kRsa, sizeof kRsa) || !r[3].Is(0x04) || r[3].length == 0)
      return false;
    out.recipients.push_back({r[1].raw, r[1].rawLength, r[3].content, r[3].length});
  }
  out.cipherOid = algorithm[0].content;
  out.cipherOidLength = algorithm[0].length;
  out.iv = algorithm[1].content;
  out.contentOffset = size_t(content[2].content - p);
  out.contentLength = content[2].length;
  return out.contentOffset + out.contentLength == len;
}

bool ParseCrlDer(const uint8_t* p, size_t len, CrlParts& out) {
  Node crl;
  std::vector<Node> c, tbs;
  // DER only: the outer algorithm is the signed one (sha256WithRSAEncryption), no unused bits.
  if (!Parse(p, len, crl) || !crl.Is(0x30) || !Children(crl, c) || c.size() != 3 || !c[0].Is(0x30) ||
      !Children(c[0], tbs) || tbs.size() < 4 || !IsAlgorithm(c[1], kSha256WithRsa, sizeof kSha256WithRsa) ||
      !c[2].Is(0x03) || c[2].length < 2 || c[2].content[0] != 0)
    return false;
  // tbsCertList: version v2, signature, issuer, thisUpdate, [nextUpdate], [revoked], [[0] extensions].
  if (!IsSmallInt(tbs[0], 1) || !c[1].RawEquals(tbs[1].raw, tbs[1].rawLength) || !tbs[2].Is(0x30) || !IsTime(tbs[3]))
    return false;
  size_t at = 4;
  if (at < tbs.size() && IsTime(tbs[at])) ++at;
  out.revoked.clear();
  if (at < tbs.size() && tbs[at].Is(0x30) && !ReadRevoked(tbs[at++], out.revoked)) return false;
  if (at < tbs.size()) {
    std::vector<Node> wrapped;
    if (!tbs[at].Is(0xa0) || !Children(tbs[at], wrapped) || wrapped.size() != 1 || !ExtensionsUnderstood(wrapped[0]))
      return false;
    ++at;
  }
  if (at != tbs.size()) return false;
  out.tbs = c[0].raw;
  out.tbsLength = c[0].rawLength;
  out.issuer.assign(reinterpret_cast<const char*>(tbs[2].raw), tbs[2].rawLength);
  out.signature.assign(c[2].content + 1, c[2].content + c[2].length);
  return true;
}

}  // namespace mplug
