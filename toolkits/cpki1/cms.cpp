// CMS (RFC 5652) in DER: detached SignedData (SHA-256, RSA PKCS#1 v1.5, signed attributes) and
// EnvelopedData (RSA key transport, AES-256-CBC content).
#include <cstring>

#include "cpki1_internal.h"

namespace cpki1 {

namespace {

const char kData[] = "1.2.840.113549.1.7.1";
const char kSignedData[] = "1.2.840.113549.1.7.2";
const char kEnvelopedData[] = "1.2.840.113549.1.7.3";
const char kContentType[] = "1.2.840.113549.1.9.3";
const char kMessageDigest[] = "1.2.840.113549.1.9.4";
const char kSha256[] = "2.16.840.1.101.3.4.2.1";
const char kRsaEncryption[] = "1.2.840.113549.1.1.1";
const char kSha256WithRsa[] = "1.2.840.113549.1.1.11";
const char kAes256Cbc[] = "2.16.840.1.101.3.4.1.42";

// An AlgorithmIdentifier naming `oid`, with NULL or absent parameters.
bool IsAlgorithm(const der::Node& node, const char* oid) {
  std::vector<der::Node> f;
  return node.tag == 0x30 && der::Children(node, f) && (f.size() == 1 || (f.size() == 2 && f[1].tag == 0x05 &&
         f[1].length == 0)) && der::OidText(f[0]) == oid;
}

Bytes IssuerAndSerial(const Certificate& cert) { return der::Seq({cert.issuerDer, der::Tlv(0x02, cert.serial)}); }

Bytes ContentInfo(const char* type, const Bytes& content) {
  return der::Seq({der::Oid(type), der::Tlv(0xA0, content)});
}

// The content of ContentInfo { type, [0] content } as its fields.
bool OpenContentInfo(const uint8_t* cms, size_t len, const char* type, std::vector<der::Node>& fields) {
  der::Node top;
  std::vector<der::Node> parts, wrapped;
  if (!der::Parse(cms, len, top) || top.tag != 0x30 || !der::Children(top, parts) || parts.size() != 2 ||
      der::OidText(parts[0]) != type || parts[1].tag != 0xA0 || !der::Children(parts[1], wrapped) ||
      wrapped.size() != 1 || wrapped[0].tag != 0x30)
    return false;
  return der::Children(wrapped[0], fields);
}

bool ReadIssuerAndSerial(const der::Node& node, Bytes& issuer, Bytes& serial) {
  std::vector<der::Node> f;
  if (node.tag != 0x30 || !der::Children(node, f) || f.size() != 2 || f[0].tag != 0x30 || f[1].tag != 0x02)
    return false;
  issuer = f[0].Raw();
  serial = f[1].Content();
  return true;
}

bool ReadSignerInfo(const der::Node& node, SignerFound& s) {
  std::vector<der::Node> f;
  // Every field is checked: nothing in a signature may change unnoticed.
  if (!der::Children(node, f) || f.size() < 5 || f[0].Raw() != der::SmallInt(1) ||
      !ReadIssuerAndSerial(f[1], s.issuerDer, s.serial) || !IsAlgorithm(f[2], kSha256))
    return false;
  size_t i = 3;
  if (f[i].tag == 0xA0) {
    s.hasAttributes = true;
    // The signature covers the attributes as a SET OF.
    s.signedPart = f[i].Raw();
    s.signedPart[0] = 0x31;
    std::vector<der::Node> attrs, attr, values;
    if (!der::Children(f[i], attrs)) return false;
    for (const der::Node& a : attrs) {
      if (!der::Children(a, attr) || attr.size() != 2 || !der::Children(attr[1], values) || values.size() != 1)
        return false;
      const std::string type = der::OidText(attr[0]);
      if (type == kMessageDigest && values[0].tag == 0x04) s.messageDigest = values[0].Content();
      if (type == kContentType && der::OidText(values[0]) != kData) return false;
    }
    ++i;
  }
  if (i + 1 >= f.size() || f[i + 1].tag != 0x04) return false;
  if (!IsAlgorithm(f[i], kRsaEncryption) && !IsAlgorithm(f[i], kSha256WithRsa)) return false;
  s.signature = f[i + 1].Content();
  return i + 2 == f.size();  // no unsigned attributes
}

}  // namespace

bool SignDetached(const Certificate& cert, const Bytes& key, const uint8_t* data, size_t len, Bytes& out) {
  const Bytes digestAlg = der::Seq({der::Oid(kSha256), der::Null()});
  const Bytes attrs = der::Set({der::Seq({der::Oid(kContentType), der::Set({der::Oid(kData)})}),
                                der::Seq({der::Oid(kMessageDigest), der::Set({der::Octets(Sha256(data, len))})})});
  Bytes signature;
  if (!RsaSign(key, Sha256(attrs), signature)) return false;
  Bytes implicitAttrs = attrs;
  implicitAttrs[0] = 0xA0;
  const Bytes signerInfo = der::Seq({der::SmallInt(1), IssuerAndSerial(cert), digestAlg, implicitAttrs,
                                     der::Seq({der::Oid(kRsaEncryption), der::Null()}), der::Octets(signature)});
  const Bytes signedData = der::Seq({der::SmallInt(1), der::Set({digestAlg}), der::Seq({der::Oid(kData)}),
                                     der::Tlv(0xA0, cert.der), der::Set({signerInfo})});
  out = ContentInfo(kSignedData, signedData);
  return true;
}

bool ParseSignedData(const uint8_t* cms, size_t len, std::vector<der::Node>& certs, std::vector<SignerFound>& signers) {
  std::vector<der::Node> f, items;
  std::vector<der::Node> algs, encap;
  if (!OpenContentInfo(cms, len, kSignedData, f) || f.size() < 4 || f.back().tag != 0x31 ||
      f[0].Raw() != der::SmallInt(1) || f[1].tag != 0x31 || !der::Children(f[1], algs) || algs.size() != 1 ||
      !IsAlgorithm(algs[0], kSha256) || !der::Children(f[2], encap) || encap.size() != 1 ||
      der::OidText(encap[0]) != kData)
    return false;
  for (size_t i = 3; i + 1 < f.size(); ++i) {
    if (f[i].tag == 0xA1) continue;  // CRLs are not used
    if (f[i].tag != 0xA0) return false;
    if (!der::Children(f[i], items)) return false;
    certs.insert(certs.end(), items.begin(), items.end());
  }
  if (!der::Children(f.back(), items)) return false;
  for (const der::Node& node : items) {
    SignerFound s;
    if (!ReadSignerInfo(node, s)) return false;
    signers.push_back(s);
  }
  return true;
}

bool CheckSigner(const SignerFound& signer, const Certificate& cert, const uint8_t* data, size_t len) {
  const Bytes digest = Sha256(data, len);
  if (cert.publicKey == nullptr) return false;
  if (!signer.hasAttributes) return RsaVerify(*cert.publicKey, digest, signer.signature);
  return signer.messageDigest == digest && RsaVerify(*cert.publicKey, Sha256(signer.signedPart), signer.signature);
}

bool EnvelopeHead(const std::vector<const Certificate*>& recipients, size_t len, const Bytes& key, const Bytes& iv,
                  standin::RandomSource& random, Bytes& head, size_t& bodyLen) {
  std::vector<Bytes> infos;
  for (const Certificate* cert : recipients) {
    Bytes wrapped;
    if (cert->publicKey == nullptr || !standin::RsaEncryptPkcs1(cert->publicKey->s, key.data(), key.size(), random, wrapped))
      return false;
    infos.push_back(der::Seq({der::SmallInt(0), IssuerAndSerial(*cert), der::Seq({der::Oid(kRsaEncryption), der::Null()}),
                              der::Octets(wrapped)}));
  }
  // Every header carries the length of what follows, the content included.
  bodyLen = (len / 16 + 1) * 16;
  const Bytes bodyHeader = der::Header(0x80, bodyLen);
  const Bytes eciStart = der::Concat({der::Oid(kData), der::Seq({der::Oid(kAes256Cbc), der::Octets(iv)})});
  const size_t eciLen = eciStart.size() + bodyHeader.size() + bodyLen;
  const Bytes envStart = der::Concat({der::SmallInt(0), der::Set(infos), der::Header(0x30, eciLen), eciStart});
  const size_t envLen = envStart.size() + bodyHeader.size() + bodyLen;
  const Bytes envHeader = der::Header(0x30, envLen);
  const Bytes wrapHeader = der::Header(0xA0, envHeader.size() + envLen);
  const Bytes type = der::Oid(kEnvelopedData);
  const size_t topLen = type.size() + wrapHeader.size() + envHeader.size() + envLen;
  head = der::Concat({der::Header(0x30, topLen), type, wrapHeader, envHeader, envStart, bodyHeader});
  return true;
}

int32_t OpenEnvelope(const uint8_t* cms, size_t len, const Certificate& own, const Bytes& key, EnvelopeContent& out) {
  std::vector<der::Node> f, infos, ri, eci, alg;
  if (!OpenContentInfo(cms, len, kEnvelopedData, f) || f.size() < 3) return kBadFormat;
  const size_t at = f[1].tag == 0xA0 ? 2 : 1;  // optional originatorInfo
  if (f.size() < at + 2 || !der::Children(f[at], infos) || !der::Children(f[at + 1], eci) || eci.size() < 3 ||
      !der::Children(eci[1], alg) || alg.size() != 2 || der::OidText(alg[0]) != kAes256Cbc || alg[1].tag != 0x04)
    return kBadFormat;
  bool mine = false;
  for (const der::Node& info : infos) {
    Bytes issuer, serial;
    if (info.tag != 0x30 || !der::Children(info, ri) || ri.size() != 4 || !ReadIssuerAndSerial(ri[1], issuer, serial))
      continue;
    if (issuer != own.issuerDer || serial != own.serial) continue;
    mine = true;
    if (!RsaDecrypt(key, ri[3].Content(), out.contentKey)) return kCryptoError;
    break;
  }
  if (!mine) return kNotRecipient;
  out.iv = alg[1].Content();
  if (eci[2].tag == 0x80) {
    out.data = eci[2].content;
    out.length = eci[2].length;
    return kOk;
  }
  if (eci[2].tag != 0xA0) return kBadFormat;
  std::vector<der::Node> chunks;  // constructed: a run of OCTET STRINGs
  if (!der::Children(eci[2], chunks)) return kBadFormat;
  for (const der::Node& c : chunks) out.gathered.insert(out.gathered.end(), c.content, c.content + c.length);
  out.data = out.gathered.data();
  out.length = out.gathered.size();
  return kOk;
}

}  // namespace cpki1
