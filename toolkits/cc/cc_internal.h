// What the parts of the Crypto COM 2.2 stand-in share: the context behind a handle, the key-file
// texts, the status codes it answers and the GOST helpers of its formats.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "engines/ccom22/cc_api.h"
#include "gost.h"
#include "standin.h"

namespace cc {

// Toolkit statuses this stand-in answers (the toolkit's own numbering).
enum : int32_t {
  kOk = 0,
  kCertRead = -2,
  kCertFormat = -4,
  kAuthFormat = -10,
  kSecretFormat = -16,
  kUnknownVersion = -33,
  kUnknownKeyword = -34,
  kCannotDecrypt = -35,
  kBadCipherBlock = -41,
  kBadSignatureBlock = -42,
  kInitRandom = -54,
  kNoMemory = -57,
  kWriteError = -59,
  kBadCommand = -64,
  kSignatureBad = -65,
  kUnknownHash = -66,
  kUnknownCipher = -67,
  kSecretIntegrity = -73,
  kNoContext = -75,
  kCertNotYetValid = -77,
  kNoAuthorityKey = -78,
  kCertExpired = -79,
  kSecretNotYetValid = -80,
  kSecretExpired = -81,
  kBadAuthoritySignature = -82,
};

constexpr gost::r3410_2001::Curve kCurve = gost::r3410_2001::Curve::CryptoProA;
constexpr size_t kSignatureSize = 72;  // "ZS", length, key number, r, s
constexpr size_t kMaxSignatureSize = 512;
constexpr size_t kWrappedKeySize = 112;  // "ZK", length, ephemeral key, UKM, wrapped key, MAC
constexpr size_t kMacSize = 4;

// A certificate: the owner's public key under the authority's signature.
struct Certificate {
  int32_t number = 0, authority = 0;
  std::string owner, issuer;
  int64_t notBefore = 0, notAfter = 0;
  gost::r3410_2001::Point key{};
  uint8_t signature[64] = {};
  std::string signedPart;  // the bytes the authority signed
};

// An authority's public key.
struct AuthorityKey {
  int32_t number = 0;
  gost::r3410_2001::Point key{};
};

// A user's secret key.
struct SecretKey {
  int32_t number = 0;
  std::string owner;
  int64_t notBefore = 0, notAfter = 0;
  uint8_t d[32] = {};
  ~SecretKey() { gost::Wipe(d, sizeof d); }
};

// Parsers of the key-file texts: kOk or the toolkit status of the fault.
int32_t ParseCertificate(const char* image, Certificate& cert);
int32_t ParseAuthority(const char* image, AuthorityKey& key);
int32_t ParseSecret(const char* image, SecretKey& key);
// Writers, for provisioning.
std::string CertificateText(const Certificate& cert, const uint8_t authoritySecret[32]);
std::string AuthorityText(const AuthorityKey& key);
std::string SecretText(const SecretKey& key);
// The file of a UID's certificate in a directory (see README.md); "" when the UID has none.
std::string CertPathOf(const std::string& uid, const std::string& dir);
std::string WithDelimiter(const std::string& dir);

// GOST R 34.11-94 with the CryptoPro parameters.
void Digest(const void* data, size_t len, uint8_t out[32]);
// VKO GOST R 34.10-2001: (ukm * d) * Peer, hashed; false for a refused peer key.
bool AgreeKey(const uint8_t d[32], const gost::r3410_2001::Point& peer, const uint8_t ukm[8], uint8_t kek[32]);

// The toolkit's generator: system entropy, the seeds it was given, and the state it keeps.
bool GeneratorReady();
void RandomBytes(uint8_t* out, size_t len);

// The context behind a handle. Its head is what the binding may write into.
struct Context {
  CC_CTX_HEAD head = {};
  uint32_t tag = kTag;
  std::string uid, secretPath, publicPath;
  std::string cipher = "28147", hash = "34.11";
  std::string pathText;  // the last path handed out

  // Signing or verification in progress.
  enum class Digesting { kNone, kSign, kVerify } digesting = Digesting::kNone;
  gost::R3411Hash hasher;
  SecretKey signer;
  Certificate verifier;

  // Bulk cipher in progress.
  bool ciphering = false, ecb = false, decrypting = false;
  gost::Gost28147 block;
  gost::GammaFeedbackMode feedback;
  gost::MacMode mac;
  uint8_t held[kMacSize] = {};  // decryption holds back what may be the MAC
  size_t heldLen = 0;
  uint8_t pending[8] = {};  // ECB: an incomplete block
  size_t pendingLen = 0;

  static constexpr uint32_t kTag = 0x32324343u;  // "CC22"
  static constexpr uint32_t kDead = 0xdeadc0deu;
  ~Context();
};

// The context of a handle, or null for a null or foreign one.
Context* ContextOf(HCCCTX handle);
// The authority key a certificate names, through the lookup the binding planted; false when
// there is none.
bool LookUpAuthority(const Context& ctx, int32_t number, AuthorityKey& key);
// The validity status of a certificate at this moment (0, -77, -78, -79, -82).
int32_t CertificateStatus(const Context& ctx, const Certificate& cert);

// Toolkit buffers: allocated here, released by BufferFree/BufferCleanFree.
uint8_t* NewBuffer(size_t len);

// The signature length of the next signatures (padding with zero bytes), set by provisioning.
size_t SignatureLength();
void SetSignatureLength(size_t len);

int64_t Now();

}  // namespace cc

// Every export asks the control hook first, under its C name (the decorated name without "_"
// and "@N", as the suites name it); a scripted code is answered. `bytes` documents the
// decoration.
#define CC_HOOK(name, bytes, failure)              \
  do {                                             \
    int scripted_ = standin::Hook(#name);          \
    if (scripted_ != 0) return failure(scripted_); \
  } while (0)

// Release calls still release: a scripted code is only counted.
#define CC_COUNT(name, bytes) standin::Hook(#name)

#define CC_STATUS(code) (code)
#define CC_NULL(code) nullptr
