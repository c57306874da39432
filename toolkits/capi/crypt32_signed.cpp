#include "crypt32_signed.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>
#include <map>
#include <shared_mutex>

#include "crypt32_cms.h"

namespace capistandin {
namespace {

constexpr BYTE kInteger = 0x02, kOctetString = 0x04, kOid = 0x06, kSequence = 0x30, kSet = 0x31;
constexpr BYTE kContext0 = 0xA0, kContext1 = 0xA1, kKeyIdentifier = 0x80;
const char kMessageDigestOid[] = "1.2.840.113549.1.9.4";

struct TItem {
  BYTE tag = 0;
  TSpan content, whole;
};

// Takes one DER element off the front of `in`: single-byte tag, definite and shortest length.
bool Next(TSpan& in, TItem& item) {
  if (in.size < 2 || (in.data[0] & 0x1F) == 0x1F) return false;
  size_t length = in.data[1], head = 2;
  if (length & 0x80) {
    const size_t bytes = length & 0x7F;
    if (bytes == 0 || bytes > 4 || in.size < 2 + bytes || in.data[2] == 0) return false;
    length = 0;
    for (size_t i = 0; i < bytes; ++i) length = (length << 8) | in.data[2 + i];
    if (length < 0x80) return false;
    head += bytes;
  }
  if (length > in.size - head) return false;
  item.tag = in.data[0];
  item.content = {in.data + head, length};
  item.whole = {in.data, head + length};
  in.data += head + length;
  in.size -= head + length;
  return true;
}

bool NextTagged(TSpan& in, BYTE tag, TItem& item) { return Next(in, item) && item.tag == tag; }

// The dotted text of an OBJECT IDENTIFIER's content ("" when malformed).
std::string DottedOid(const TSpan& oid) {
  std::string text;
  uint64_t arc = 0;
  for (size_t i = 0; i < oid.size; ++i) {
    if (arc >> 56) return "";
    arc = (arc << 7) | (oid.data[i] & 0x7F);
    if (oid.data[i] & 0x80) continue;
    if (text.empty()) {
      const uint64_t first = arc < 80 ? arc / 40 : 2;
      text = std::to_string(first) + "." + std::to_string(arc - first * 40);
    } else {
      text += "." + std::to_string(arc);
    }
    arc = 0;
  }
  return oid.size > 0 && (oid.data[oid.size - 1] & 0x80) == 0 ? text : "";
}

bool ReadOid(TSpan& in, std::string& oid) {
  TItem item;
  if (!NextTagged(in, kOid, item)) return false;
  oid = DottedOid(item.content);
  return !oid.empty();
}

// AlgorithmIdentifier: the OID, parameters (any one element) allowed.
bool ReadAlgorithm(TSpan& in, std::string& oid) {
  TItem alg, params;
  if (!NextTagged(in, kSequence, alg)) return false;
  TSpan body = alg.content;
  return ReadOid(body, oid) && (body.size == 0 || (Next(body, params) && body.size == 0));
}

bool ReadEncapsulated(const TItem& encap, TSignedMessage& out) {
  TSpan body = encap.content;
  std::string type;
  if (!ReadOid(body, type)) return false;
  if (body.size == 0) return true;
  TItem wrapped, octets;
  if (!NextTagged(body, kContext0, wrapped) || body.size != 0) return false;
  TSpan inside = wrapped.content;
  if (!NextTagged(inside, kOctetString, octets) || inside.size != 0) return false;
  out.hasContent = true;
  out.content = octets.content;
  return true;
}

bool ReadAttributes(const TItem& set, std::vector<TAttribute>& out) {
  TSpan members = set.content;
  while (members.size > 0) {
    TItem attr, values, value;
    if (!NextTagged(members, kSequence, attr)) return false;
    TSpan body = attr.content;
    TAttribute a;
    if (!ReadOid(body, a.oid) || !NextTagged(body, kSet, values) || body.size != 0) return false;
    for (TSpan v = values.content; v.size > 0;) {
      if (!Next(v, value)) return false;
      a.values.push_back(value.whole);
    }
    out.push_back(std::move(a));
  }
  return true;
}

// IssuerAndSerialNumber, or a subject key identifier (kept as "not by issuer and serial").
bool ReadSignerId(TSpan& in, TSigner& s) {
  TItem sid, name, serial;
  if (!Next(in, sid)) return false;
  if (sid.tag == kKeyIdentifier) return true;
  TSpan body = sid.content;
  if (sid.tag != kSequence || !NextTagged(body, kSequence, name) || !NextTagged(body, kInteger, serial) ||
      body.size != 0 || serial.content.size == 0)
    return false;
  s.byIssuerAndSerial = true;
  s.issuer.assign(name.whole.data, name.whole.data + name.whole.size);
  s.serial.assign(serial.content.data, serial.content.data + serial.content.size);
  std::reverse(s.serial.begin(), s.serial.end());
  return true;
}

bool ReadSigner(const TItem& info, TSigner& s) {
  TSpan body = info.content;
  TItem version, item;
  std::string signatureOid;
  if (!NextTagged(body, kInteger, version) || !ReadSignerId(body, s) || !ReadAlgorithm(body, s.digestOid) ||
      !Next(body, item))
    return false;
  if (item.tag == kContext0) {
    if (!ReadAttributes(item, s.attributes)) return false;
    s.signedAttributes = item.whole;
    if (!Next(body, item)) return false;
  }
  TSpan algorithm = item.whole;
  if (!ReadAlgorithm(algorithm, signatureOid) || !NextTagged(body, kOctetString, item)) return false;
  s.signature = item.content;
  return body.size == 0 || (NextTagged(body, kContext1, item) && body.size == 0);
}

// CRLs are few and carry no key to decode: each must be one.
bool CrlsDecode(TSpan crls) {
  while (crls.size > 0) {
    TItem item;
    if (!NextTagged(crls, kSequence, item)) return false;
    const unsigned char* p = item.whole.data;
    X509_CRL* crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(item.whole.size));
    X509_CRL_free(crl);
    ERR_clear_error();
    if (crl == nullptr || p != item.whole.data + item.whole.size) return false;
  }
  return true;
}

// SignedData: version, digest algorithms, the content, [0] certificates, [1] CRLs, signer infos.
bool ReadSignedData(const TItem& signedData, TSignedMessage& out) {
  TSpan body = signedData.content;
  TItem version, digests, encap, item;
  if (!NextTagged(body, kInteger, version) || !NextTagged(body, kSet, digests) ||
      !NextTagged(body, kSequence, encap) || !ReadEncapsulated(encap, out) || !Next(body, item))
    return false;
  if (item.tag == kContext0) {
    for (TSpan certs = item.content; certs.size > 0;) {
      TItem cert;
      if (!NextTagged(certs, kSequence, cert)) return false;  // attribute certificates are not offered
      out.certificates.push_back(cert.whole);
    }
    if (!Next(body, item)) return false;
  }
  if (item.tag == kContext1) {
    if (!CrlsDecode(item.content) || !Next(body, item)) return false;
  }
  if (item.tag != kSet || body.size != 0) return false;
  for (TSpan infos = item.content; infos.size > 0;) {
    TItem info;
    TSigner signer;
    if (!NextTagged(infos, kSequence, info) || !ReadSigner(info, signer)) return false;
    out.signers.push_back(std::move(signer));
  }
  return true;
}

// The content of the OCTET STRING that is all of `value`.
bool OctetStringOf(const TSpan& value, TSpan& octets) {
  TSpan in = value;
  TItem item;
  if (!NextTagged(in, kOctetString, item) || in.size != 0) return false;
  octets = item.content;
  return true;
}

const TSpan* MessageDigestValue(const TSigner& s) {
  for (const TAttribute& a : s.attributes)
    if (a.oid == kMessageDigestOid) return a.values.size() == 1 ? &a.values[0] : nullptr;
  return nullptr;
}

}  // namespace

std::string ContentTypeOf(const BYTE* der, size_t len) {
  TSpan all{der, len};
  TItem info;
  std::string type;
  if (der == nullptr || !NextTagged(all, kSequence, info)) return "";
  TSpan body = info.content;
  return ReadOid(body, type) ? type : "";
}

TCipherCheck CheckEnvelopeCipher(const BYTE* der, size_t len) {
  // ContentInfo { type, [0] EnvelopedData { version, [0] originator?, recipients, EncryptedContentInfo } }
  TSpan all{der, len};
  TItem info, wrapped, enveloped, item, content;
  std::string type, cipher;
  if (der == nullptr || !NextTagged(all, kSequence, info)) return TCipherCheck::kUnreadable;
  TSpan body = info.content;
  if (!ReadOid(body, type)) return TCipherCheck::kUnreadable;
  if (type != kEnvelopedDataOid) return TCipherCheck::kSound;
  if (!NextTagged(body, kContext0, wrapped)) return TCipherCheck::kUnreadable;
  TSpan inner = wrapped.content;
  if (!NextTagged(inner, kSequence, enveloped)) return TCipherCheck::kUnreadable;
  TSpan fields = enveloped.content;
  if (!NextTagged(fields, kInteger, item) || !Next(fields, item)) return TCipherCheck::kUnreadable;
  if (item.tag == kContext0 && !Next(fields, item)) return TCipherCheck::kUnreadable;  // originator
  if (item.tag != kSet || !NextTagged(fields, kSequence, content)) return TCipherCheck::kUnreadable;
  TSpan encrypted = content.content;
  TItem algorithm, params, iv;
  if (!ReadOid(encrypted, type) || !NextTagged(encrypted, kSequence, algorithm)) return TCipherCheck::kUnreadable;
  TSpan alg = algorithm.content;
  if (!ReadOid(alg, cipher)) return TCipherCheck::kUnreadable;
  if (cipher != kGost28147Oid) return TCipherCheck::kSound;
  // Gost28147-89-Parameters: SEQUENCE { iv OCTET STRING (8 bytes), encryptionParamSet OID }.
  std::string set;
  if (!NextTagged(alg, kSequence, params) || alg.size != 0) return TCipherCheck::kDamaged;
  TSpan p = params.content;
  if (!NextTagged(p, kOctetString, iv) || iv.content.size != 8 || !ReadOid(p, set) || p.size != 0)
    return TCipherCheck::kDamaged;
  static const char* const kParamSets[] = {"1.2.643.2.2.31.0", "1.2.643.2.2.31.1", "1.2.643.2.2.31.2",
                                           "1.2.643.2.2.31.3", "1.2.643.2.2.31.4", "1.2.643.7.1.2.5.1.1"};
  for (const char* known : kParamSets)
    if (set == known) return TCipherCheck::kSound;
  return TCipherCheck::kDamaged;
}

bool ReadSignedMessage(const BYTE* der, size_t len, TSignedMessage& out) {
  out = TSignedMessage{};
  TSpan all{der, len};
  TItem info, wrapped, signedData;
  std::string type;
  if (der == nullptr || !NextTagged(all, kSequence, info) || all.size != 0) return false;
  TSpan body = info.content;
  if (!ReadOid(body, type) || type != kSignedDataOid || !NextTagged(body, kContext0, wrapped) || body.size != 0)
    return false;
  TSpan inside = wrapped.content;
  return NextTagged(inside, kSequence, signedData) && inside.size == 0 && ReadSignedData(signedData, out);
}

// Fetching takes the provider store's lock: each digest is fetched once, and kept for the process.
const EVP_MD* DigestByOid(const std::string& oid) {
  static standin::Immortal<std::shared_mutex> lock;
  static standin::Immortal<std::map<std::string, const EVP_MD*>> known;
  {
    std::shared_lock<std::shared_mutex> reading(lock.get());
    const auto it = known.get().find(oid);
    if (it != known.get().end()) return it->second;
  }
  TDigest fetched(oid.c_str());
  if (fetched.md == nullptr) return nullptr;
  std::unique_lock<std::shared_mutex> writing(lock.get());
  const auto it = known.get().find(oid);
  if (it != known.get().end()) return it->second;
  if (fetched.fetched != nullptr) EVP_MD_up_ref(fetched.fetched);  // the process keeps this reference
  known.get()[oid] = fetched.md;
  return fetched.md;
}

bool DigestOf(const std::string& oid, const BYTE* data, size_t len, std::vector<BYTE>& digest) {
  const EVP_MD* md = DigestByOid(oid);
  static const BYTE kNothing = 0;
  unsigned int size = 0;
  digest.resize(EVP_MAX_MD_SIZE);
  if (md == nullptr || !EVP_Digest(len > 0 ? data : &kNothing, len, digest.data(), &size, md, nullptr)) return false;
  digest.resize(size);
  return true;
}

DWORD VerifySigner(const TSigner& s, EVP_PKEY* key, const BYTE* content, size_t contentLen) {
  const EVP_MD* md = DigestByOid(s.digestOid);
  if (md == nullptr) return kCryptEUnknownAlgo;
  // The signature covers the content itself, or the signed attributes when there are any: their
  // encoding as sent, tagged as the SET OF they are.
  std::vector<BYTE> attributes;
  const BYTE* signedPart = content;
  size_t signedLen = contentLen;
  if (s.signedAttributes.size > 0) {
    const TSpan* value = MessageDigestValue(s);
    TSpan given;
    std::vector<BYTE> digest;
    if (value == nullptr || !OctetStringOf(*value, given) || !DigestOf(s.digestOid, content, contentLen, digest) ||
        given.size != digest.size() || CRYPTO_memcmp(given.data, digest.data(), digest.size()) != 0)
      return kNteBadSignature;
    attributes.assign(s.signedAttributes.data, s.signedAttributes.data + s.signedAttributes.size);
    attributes[0] = kSet;
    signedPart = attributes.data();
    signedLen = attributes.size();
  }
  static const BYTE kNothing = 0;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  const bool ok = ctx != nullptr && EVP_DigestVerifyInit(ctx, nullptr, md, nullptr, key) == 1 &&
                  EVP_DigestVerify(ctx, s.signature.data, s.signature.size, signedLen > 0 ? signedPart : &kNothing,
                                   signedLen) == 1;
  EVP_MD_CTX_free(ctx);
  ERR_clear_error();
  return ok ? 0 : kNteBadSignature;
}

}  // namespace capistandin
