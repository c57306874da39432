// Internals of the Validata stand-in "cpki1.dll": DER, RSA through libgcrypt, certificates and
// CRLs (parsed with libksba), CMS SignedData and EnvelopedData, and the PSE and store files.
#pragma once

#include <gcrypt.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "standin_der.h"
#include "standin_random.h"

namespace cpki1 {

using Bytes = std::vector<uint8_t>;

// The stand-in's own result codes (positive; the engine's are negative).
enum Code : int32_t {
  kOk = 0,
  kBadArgs = 1,
  kNotFound = 2,
  kBadSignature = 3,
  kUntrusted = 4,
  kExpired = 5,
  kRevoked = 6,
  kBadFormat = 7,
  kFileError = 8,
  kNotRecipient = 9,
  kNotSupported = 10,
  kCryptoError = 11,
  kBadContext = 12,
  kNoSigner = 13,
};
const char* CodeText(int32_t code);

// ---- DER ----
namespace der {
// The writer (Tlv, Seq, Int, Time, ...) is the stand-ins' shared one.
using namespace standin::der;

struct Node {
  uint8_t tag = 0;
  const uint8_t* content = nullptr;
  size_t length = 0;
  const uint8_t* raw = nullptr;  // tag, length and content
  size_t rawLength = 0;
  Bytes Raw() const { return Bytes(raw, raw + rawLength); }
  Bytes Content() const { return Bytes(content, content + length); }
};
// One element at p (definite lengths only); false when it does not fit before end.
bool Read(const uint8_t* p, const uint8_t* end, Node& node);
bool Parse(const uint8_t* data, size_t len, Node& node);  // exactly one element filling data
inline bool Parse(const Bytes& data, Node& node) { return Parse(data.data(), data.size(), node); }
bool Children(const Node& node, std::vector<Node>& out);
std::string OidText(const Node& node);
bool ParseTime(const Node& node, std::time_t& t);
}  // namespace der

// ---- cryptography (libgcrypt) ----
struct Sexp {
  gcry_sexp_t s = nullptr;
  Sexp() = default;
  explicit Sexp(gcry_sexp_t v) : s(v) {}
  ~Sexp() { if (s) gcry_sexp_release(s); }
  Sexp(const Sexp&) = delete;
  Sexp& operator=(const Sexp&) = delete;
  Sexp(Sexp&& o) noexcept : s(o.s) { o.s = nullptr; }
};
void InitGcrypt();
Bytes Sha256(const uint8_t* data, size_t len);
inline Bytes Sha256(const Bytes& b) { return Sha256(b.data(), b.size()); }
Bytes RandomBytes(size_t n);
bool GenerateRsa(unsigned bits, Bytes& privateKey);  // canonical S-expression
bool PublicFromPrivate(const Bytes& privateKey, Bytes& n, Bytes& e);
bool RsaSign(const Bytes& privateKey, const Bytes& digest, Bytes& signature);
// The public key (n, e) as libgcrypt takes it; null when it cannot be built.
std::shared_ptr<const Sexp> PublicKey(const Bytes& n, const Bytes& e);
bool RsaVerify(const Sexp& publicKey, const Bytes& digest, const Bytes& signature);
bool RsaDecrypt(const Bytes& privateKey, const Bytes& in, Bytes& plain);
// An AES-256-CBC handle kept for reuse: opening one per message takes libgcrypt's random-pool
// lock (for a fast entropy poll), which threads working side by side then queue for.
class AesCbcHandle {
 public:
  AesCbcHandle() = default;
  ~AesCbcHandle();
  AesCbcHandle(const AesCbcHandle&) = delete;
  AesCbcHandle& operator=(const AesCbcHandle&) = delete;
  // The handle keyed for one message; null when libgcrypt refuses.
  gcry_cipher_hd_t Start(const Bytes& key, const Bytes& iv);

 private:
  gcry_cipher_hd_t h_ = nullptr;
};
// AES-256-CBC with PKCS#7 padding of in[0, len) into out, which holds (len / 16 + 1) * 16 bytes.
bool AesCbcEncryptInto(AesCbcHandle& aes, const Bytes& key, const Bytes& iv, const uint8_t* in, size_t len, uint8_t* out);
// AES-256-CBC decryption of in[0, len) into out, which holds len bytes, and the length without the
// PKCS#7 padding; false when len is not a positive number of blocks or the padding is wrong.
bool AesCbcDecryptInto(AesCbcHandle& aes, const Bytes& key, const Bytes& iv, const uint8_t* in, size_t len, uint8_t* out,
                       size_t& plainLen);

// ---- certificates and CRLs ----
// The exact bytes of the authority whose signature on one certificate has been verified. A copy
// (a certificate parsed afresh) has verified nothing.
class VerifiedIssuer {
 public:
  VerifiedIssuer() = default;
  VerifiedIssuer(const VerifiedIssuer&) {}
  VerifiedIssuer& operator=(const VerifiedIssuer&) { return *this; }
  bool Is(const Bytes& authorityDer) const;
  void Set(const Bytes& authorityDer) const;

 private:
  mutable std::mutex lock_;
  mutable Bytes der_;
};

struct Certificate {
  Bytes der;
  Bytes tbs, signature;  // signed part and signature value
  Bytes issuerDer, subjectDer, serial;  // serial: INTEGER content
  Bytes n, e;
  std::time_t notBefore = 0, notAfter = 0;
  std::string subject, issuer, commonName, serialText, ekus;
  int commonNames = 0;
  uint32_t keyUsage = 0;
  bool isCa = false;
  std::shared_ptr<const Sexp> publicKey;  // n and e, built once
  VerifiedIssuer verifiedIssuer;          // see IssuedBy
};
using CertPtr = std::shared_ptr<const Certificate>;
// Parses DER (structure through libksba, fields through the DER reader); false when malformed.
bool ParseCertificate(const Bytes& der, Certificate& cert);
// The same, parsed once per process for the same bytes; null when malformed.
CertPtr ParseCertificate(const uint8_t* der, size_t len);

// Parsed certificates by their exact bytes: one seen again is not parsed again, and one that
// differs in any bit is another certificate.
class CertIndex {
 public:
  CertPtr Find(const uint8_t* der, size_t len) const;
  void Add(const CertPtr& cert);
  size_t Size() const { return byHash_.size(); }
  void Clear() { byHash_.clear(); }

 private:
  std::unordered_multimap<size_t, CertPtr> byHash_;
};
bool SignedBy(const Bytes& tbs, const Bytes& signature, const Certificate& issuer);
// SignedBy for a certificate, remembered with it by the authority's exact bytes: a certificate
// that differs in any bit is another object, an authority that differs in any bit is checked
// afresh, and only a signature found good is remembered.
bool IssuedBy(const Certificate& cert, const Certificate& authority);
// Serial text "01:A2" of an INTEGER content.
std::string SerialText(const Bytes& serial);
// Serial compared by value: ":" and leading zeros ignored, any case.
bool SerialMatches(const Bytes& serial, const std::string& text);
std::string SerialDigits(const std::string& text);  // the value SerialMatches compares

struct CertRequest {
  std::string subject;  // "C=RU,O=Bank,CN=alice" (the order of the DER)
  Bytes serial;
  std::time_t notBefore = 0, notAfter = 0;
  uint32_t keyUsage = 0;  // first byte of the key-usage bits; 0: no extension
  std::string ekus;       // ";"-joined OIDs
  bool isCa = false;
};
Bytes EncodeName(const std::string& attrs);
bool IssueCertificate(const CertRequest& req, const Bytes& subjectN, const Bytes& subjectE,
                      const Bytes& issuerName, const Bytes& issuerKey, Bytes& der);

struct Crl {
  Bytes der, tbs, signature, issuerDer;
  std::vector<Bytes> revoked;  // serials (INTEGER contents)
};
bool ParseCrl(const Bytes& der, Crl& crl);
bool IssueCrl(const Certificate& ca, const Bytes& caKey, const std::vector<Bytes>& revoked, Bytes& der);

// ---- CMS ----
bool SignDetached(const Certificate& cert, const Bytes& key, const uint8_t* data, size_t len, Bytes& out);
struct SignerFound {
  Bytes issuerDer, serial;
  Bytes signedPart, signature, messageDigest;
  bool hasAttributes = false;
};
// The certificates (elements of cms) and signers of a detached SignedData filling cms[0, len).
bool ParseSignedData(const uint8_t* cms, size_t len, std::vector<der::Node>& certs, std::vector<SignerFound>& signers);
bool CheckSigner(const SignerFound& signer, const Certificate& cert, const uint8_t* data, size_t len);
// The bytes of an envelope before its encrypted content (AES-256-CBC under key and iv), and the
// content's length: the caller encrypts the content in place after them (AesCbcEncryptInto). The
// key-transport padding comes from `random`.
bool EnvelopeHead(const std::vector<const Certificate*>& recipients, size_t len, const Bytes& key, const Bytes& iv,
                  standin::RandomSource& random, Bytes& head, size_t& bodyLen);
// An opened envelope: the content key, IV and encrypted content, which lies in the envelope itself
// (`data`) or, written in pieces, gathered into `gathered` (and `data` points there).
struct EnvelopeContent {
  Bytes contentKey, iv, gathered;
  const uint8_t* data = nullptr;
  size_t length = 0;
};
// kOk, kNotRecipient (no RecipientInfo for own), kBadFormat or kCryptoError (the key does not
// unwrap); the content stays encrypted (AesCbcDecryptInto).
int32_t OpenEnvelope(const uint8_t* cms, size_t len, const Certificate& own, const Bytes& key, EnvelopeContent& out);

// ---- files ----
// Records of a PSE or store file: magic, {type, length, bytes}*, SHA-256 of what precedes.
enum RecordType : uint8_t { kPrivateKey = 1, kOwnCert = 2, kAnchor = 3, kStoreCert = 4, kStoreCrl = 5 };
using Records = std::vector<std::pair<uint8_t, Bytes>>;
bool ReadRecords(const std::string& path, const char magic[4], Records& records);
bool WriteRecords(const std::string& path, const char magic[4], const Records& records);
// A path as the engine hands it over (either separator, possibly upper-cased) on this system.
std::string ResolvePath(const std::string& path);
bool ReadFileBytes(const std::string& path, Bytes& out);
extern const char kPseMagic[4];
extern const char kStoreMagic[4];

}  // namespace cpki1
