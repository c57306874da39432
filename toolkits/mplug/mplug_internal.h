// Inner parts of the Message-PRO plug-in stand-in: RSA keys through libgcrypt, and the stand-in's
// own certificate, key-file, CRL, signature and envelope formats (README.md).
#pragma once

#include <gcrypt.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "standin_random.h"

namespace mplug {

using Bytes = std::vector<uint8_t>;

// Codes: -1..-6 are the plug-in codes the binding names itself; ours are -200 and below.
constexpr int32_t kOk = 0;
constexpr int32_t kBadParameters = -3;
constexpr int32_t kNoSignContext = -4;
constexpr int32_t kNoSignature = -5;
constexpr int32_t kNoPrivateKey = -6;
constexpr int32_t kBadFormat = -200;
constexpr int32_t kBadSignature = -201;
constexpr int32_t kUntrusted = -202;
constexpr int32_t kNotRecipient = -203;
constexpr int32_t kFileNotFound = -204;
constexpr int32_t kTooLong = -205;
constexpr int32_t kNotSupported = -206;
constexpr int32_t kExpired = -207;
constexpr int32_t kRevoked = -208;
constexpr int32_t kCryptoFailure = -209;
constexpr int32_t kUnknownContext = -210;

// An owned gcrypt S-expression.
class Sexp {
 public:
  Sexp() = default;
  explicit Sexp(gcry_sexp_t s) : s_(s) {}
  ~Sexp() { gcry_sexp_release(s_); }
  Sexp(Sexp&& o) noexcept : s_(o.s_) { o.s_ = nullptr; }
  Sexp& operator=(Sexp&& o) noexcept {
    if (this != &o) { gcry_sexp_release(s_); s_ = o.s_; o.s_ = nullptr; }
    return *this;
  }
  Sexp(const Sexp&) = delete;
  Sexp& operator=(const Sexp&) = delete;
  gcry_sexp_t get() const { return s_; }
  gcry_sexp_t* out() { gcry_sexp_release(s_); s_ = nullptr; return &s_; }
  explicit operator bool() const { return s_ != nullptr; }

 private:
  gcry_sexp_t s_ = nullptr;
};

void InitLibrary();
std::string Hex(const Bytes& b);
bool Unhex(const std::string& text, Bytes& out);
Bytes Sha256(const uint8_t* data, size_t len);
bool ReadWholeFile(const std::string& path, Bytes& out, size_t limit);
bool WriteWhole(const std::string& path, const std::string& text);
// The CRL files of a CRL directory ("crl*.pem").
std::vector<std::string> CrlFiles(const std::string& dir);
#ifndef _WIN32
// What tells one state of a file or directory from another: its identity, size and change times.
// `settled` when the modification time was some seconds old already: a file system that keeps
// times only to the second or two then still gives any later change a time of its own.
struct FileState {
  uint64_t device = 0, inode = 0;
  int64_t size = 0;
  struct timespec mtime {}, ctime {};
  bool settled = false;
  bool operator==(const FileState& o) const;
};
bool StateOf(const std::string& path, FileState& state);
// What was made from a file or directory, by path, kept while its state is as it was. Only a
// settled state is kept: a change made after the state was taken then gives a state of its own.
template <typename T>
class KeptByState {
 public:
  explicit KeptByState(size_t limit) : limit_(limit) {}
  bool Find(const std::string& path, const FileState& state, T& out) {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = byPath_.find(path);
    if (it == byPath_.end() || !(it->second.first == state)) return false;
    out = it->second.second;
    return true;
  }
  void Keep(const std::string& path, const FileState& state, const T& value) {
    if (!state.settled) return;
    std::lock_guard<std::mutex> hold(lock_);
    if (byPath_.size() >= limit_) byPath_.clear();
    byPath_[path] = {state, value};
  }

 private:
  std::mutex lock_;
  size_t limit_;
  std::map<std::string, std::pair<FileState, T>> byPath_;
};
#endif
std::string Canonical(gcry_sexp_t s);
bool ParseCanonical(const std::string& text, Sexp& out);

// An X.509 v3 certificate (DER), read and built through libksba.
struct Cert {
  std::string Subject, Issuer;  // one-line names "/C=RU/O=.../CN=..."
  int64_t NotAfter = 0;         // seconds since 1970
  std::string KeyText;          // canonical S-expression of the public key
  Bytes TbsDigest;              // SHA-256 of the signed part
  Bytes Signature;              // sha256WithRSAEncryption only
  std::string Image;            // the DER image
  std::string SubjectDer;       // the subject Name element, as a CRL's issuer must repeat it
  std::string SerialDer;        // the serial number's content octets, as a CRL lists it
  std::shared_ptr<const Sexp> PublicKey;  // KeyText parsed once (read-only, so shared)
};
// Verifies a signature over a SHA-256 digest with the certificate's key.
bool VerifyWith(const Cert& cert, const Bytes& digest, const Bytes& sig);
int32_t ParseCert(const std::string& der, Cert& cert);
int32_t ReadCert(const std::string& path, Cert& cert);
// The DER image of a new certificate, or "" on failure. notAfter 0: no end. An authority's
// certificate says so (basic constraints, certificate and CRL signing).
std::string MakeCertText(const std::string& subject, const std::string& issuer, int64_t notAfter,
                         const std::string& keyText, gcry_sexp_t issuerKey, bool authority = false);
bool CertSignedBy(const Cert& cert, const Cert& issuer);
// One-line names and RFC 2253 names (as libksba reads and writes them).
std::string OneLineFromRfc2253(const std::string& dn);
std::string Rfc2253FromOneLine(const std::string& line);

// A private key file: "ZKMPPSE 1", Key=<hex>, Check=<SHA-256 hex of the key>.
int32_t ReadPrivateKey(const std::string& path, Sexp& key);
// The key of a PSE file when it pairs with the public key (a certificate's KeyText), else
// kNoPrivateKey. The key is shared between the contexts that read the same file, read-only.
using SharedKey = std::shared_ptr<const Sexp>;
int32_t ReadPairedKey(const std::string& path, const std::string& publicText, SharedKey& key);
bool WritePrivateKey(const std::string& path, gcry_sexp_t key);
bool GenerateKey(Sexp& priv, std::string& publicText);
bool SameKey(gcry_sexp_t priv, const std::string& publicText);

// An X.509 v2 CRL (DER), signed sha256WithRSAEncryption (mplug_crl.cpp).
struct Crl {
  std::string IssuerDer;             // the issuer Name element
  std::vector<std::string> Revoked;  // serial numbers' content octets
  Bytes TbsDigest;                   // SHA-256 of tbsCertList
  Bytes Signature;
};
int32_t ParseCrl(const Bytes& der, Crl& crl);
int32_t ReadCrl(const std::string& path, Crl& crl);
// The DER image of a CRL of the authority listing the certificates, or "" on failure.
std::string MakeCrlDer(const Cert& authority, gcry_sexp_t authorityKey, const std::vector<Cert>& revoked);
bool CrlSignedBy(const Crl& crl, const Cert& issuer);
// kRevoked when a CRL file of `dir` that `authority` signed lists the certificate, else kOk.
int32_t CheckRevocation(const std::string& dir, const Cert& authority, const Cert& cert);

bool RsaSign(gcry_sexp_t priv, const uint8_t* data, size_t len, Bytes& sig);
bool RsaSignDigest(gcry_sexp_t priv, const Bytes& digest, Bytes& sig);
bool RsaVerifyDigest(const std::string& publicText, const Bytes& digest, const Bytes& sig);
bool RsaVerifyDigest(gcry_sexp_t pub, const Bytes& digest, const Bytes& sig);
// True when the bytes are exactly one well-formed BER element (definite or indefinite lengths).
bool IsOneBerElement(const uint8_t* data, size_t len);
// A DER certificate whose unsigned parts are exactly as they must be (mplug_ber.cpp).
bool CertificateShapeValid(const std::string& der);
// The parts of a detached SignedData whose every field outside the signed parts is as it must be:
// one SHA-256 signer named by issuer and serial of the one certificate carried, nothing else.
struct SignedParts {
  std::string certificate;  // the signer's, DER, its own fields not yet checked (ParseCert does)
  Bytes signedAttributes;   // as hashed (a SET)
  Bytes messageDigest;      // the data's SHA-256, as the signed attributes carry it
  Bytes signature;
};
// kOk, kNoSignature (another content type), or kBadFormat.
int32_t ReadSignedData(const uint8_t* sig, size_t len, SignedParts& out);
// The subject Name element and the serial's content octets of a certificate.
bool CertNameAndSerial(const std::string& der, std::string& subject, std::string& serial);
// IssuerAndSerialNumber of a certificate, DER, as a recipient is named in an envelope.
bool IssuerAndSerialDer(const std::string& der, Bytes& out);
// Where an envelope's encrypted content lies when it is one primitive element that ends the
// envelope (definite lengths throughout, nothing after it); false for any other layout.
bool EnvelopeContentAtEnd(const uint8_t* p, size_t len, size_t& offset, size_t& length);
// An envelope in the usual layout, as this stand-in writes it: DER, version 0, no originator or
// unprotected attributes, every recipient { 0, issuerAndSerialNumber, rsaEncryption, a wrapped
// key }, data in a CBC cipher with a 16-byte IV, the content one primitive element at the end.
// Pointers into the envelope read.
struct UsualEnvelope {
  struct Recipient {
    const uint8_t* rid;  // the whole IssuerAndSerialNumber element
    size_t ridLength;
    const uint8_t* wrapped;
    size_t wrappedLength;
  };
  std::vector<Recipient> recipients;
  const uint8_t* cipherOid = nullptr;  // content octets
  size_t cipherOidLength = 0;
  const uint8_t* iv = nullptr;
  size_t contentOffset = 0;
  size_t contentLength = 0;
};
// false for every other layout (which libksba then reads).
bool ReadUsualEnvelope(const uint8_t* p, size_t len, UsualEnvelope& out);
// The parts of a DER CRL whose every field outside tbsCertList is as it must be (mplug_ber.cpp).
struct CrlParts {
  const uint8_t* tbs = nullptr;
  size_t tbsLength = 0;
  std::string issuer;
  std::vector<std::string> revoked;
  Bytes signature;
};
bool ParseCrlDer(const uint8_t* p, size_t len, CrlParts& out);
// Detached CMS SignedData over the data by the certificate's key.
int32_t CmsSign(const Cert& cert, gcry_sexp_t key, const uint8_t* data, size_t len, Bytes& out);
// kOk with the signer's certificate, kNoSignature, kBadFormat or kBadSignature.
int32_t CmsVerify(const uint8_t* sig, size_t sigLen, const uint8_t* data, size_t len, Cert& signer);
// Work buffers of the envelope calls, kept by a context so that their capacity is reused.
// Random bytes for one context's envelopes; not for use by two threads at once.
using KeySource = standin::RandomSource;
// An AES-256-CBC handle kept open for a context's envelopes.
struct CbcHandle {
  gcry_cipher_hd_t h = nullptr;
  CbcHandle() = default;
  CbcHandle(const CbcHandle&) = delete;
  CbcHandle& operator=(const CbcHandle&) = delete;
  ~CbcHandle() { gcry_cipher_close(h); }
};
struct EnvelopeBuffers {
  Bytes body;
  Bytes chunks[2];  // the content's next chunks, saved while the envelope is written in place
  KeySource random;
  CbcHandle cbc;
};
// CMS EnvelopedData (DER) of the data for the certificates (AES-256-CBC, RSA key transport), in
// place of the data: kTooLong (the data untouched) when it would not fit in `capacity` bytes.
int32_t CmsEnvelope(const std::vector<Cert>& recipients, uint8_t* data, size_t len, size_t capacity,
                    EnvelopeBuffers& b, size_t& outLen);
// kOk with the content in place of the envelope (plainLen bytes), kNotRecipient, kBadFormat, or
// kBadSignature when it does not decrypt; on failure the envelope is left as it was.
int32_t CmsOpenEnvelope(const Cert& own, gcry_sexp_t privateKey, uint8_t* data, size_t len, EnvelopeBuffers& b,
                        size_t& plainLen);
// RSA PKCS#1 v1.5 encryption, the padding's random bytes from `random`; `out` as long as the modulus.
bool RsaEncrypt(const std::string& publicText, const Bytes& plain, KeySource& random, Bytes& out);
bool RsaDecrypt(gcry_sexp_t priv, const Bytes& in, Bytes& plain);

}  // namespace mplug
