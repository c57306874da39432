// GOST primitives shared by the GOST stand-in toolkits. libgcrypt does the digest and the
// elliptic-curve work; the rest (GOST 28147-89 with a caller's substitution table and its modes,
// GOST R 34.10-94, the 1024-bit key agreement, the state-driven generator) is written here.
//
// Byte order: GOST 28147-89 keys are eight little-endian 32-bit words, blocks two little-endian
// words (N1 first). Numbers of the GOST R 34.10 schemes are little-endian byte strings unless a
// function says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gost {

// Substitution tables in the toolkit's layout: K8 first, down to K1; 16 entries of one 4-bit
// value per byte each.
constexpr size_t kSboxSize = 128;
extern const uint8_t kSboxR3411TestParams[kSboxSize];  // id-GostR3411-94-TestParamSet

class Gost28147 {
 public:
  Gost28147() = default;
  ~Gost28147() { Wipe(); }
  void SetKey(const uint8_t key[32], const uint8_t sbox[kSboxSize]);
  // A new key under the table already set: for callers that change keys often (a hash step
  // changes it four times), the table is not built again.
  void ChangeKey(const uint8_t key[32]);
  void EncryptBlock(const uint8_t in[8], uint8_t out[8]) const;
  void DecryptBlock(const uint8_t in[8], uint8_t out[8]) const;
  // The 16-round transformation of the MAC, applied to an 8-byte state in place.
  void MacRounds(uint8_t block[8]) const;
  void Wipe();

 private:
  uint32_t key_[8] = {};
  uint32_t table_[4][256] = {};  // substitution and rotation by 11 folded together
};

// The modes below keep a pointer to a keyed cipher: it must outlive their use. Their state may be
// copied byte for byte (a toolkit context that lives in flat memory); Rebind gives a copy the
// cipher to go on with.

// Counter ("gamma") mode: the gamma is E(S) stepped by C2 = 0x1010101 (mod 2^32) and
// C1 = 0x1010104 (mod 2^32 - 1, with the end-around carry of the standard's adder). Data may be
// fed in pieces of any length; in and out may be the same buffer.
class GammaMode {
 public:
  void Init(const Gost28147* cipher, const uint8_t iv[8]);
  void Crypt(const uint8_t* in, uint8_t* out, size_t len);
  void Rebind(const Gost28147* cipher) { cipher_ = cipher; }
  void Wipe();

 private:
  const Gost28147* cipher_ = nullptr;
  uint32_t n3_ = 0, n4_ = 0;
  uint8_t gamma_[8] = {};
  size_t used_ = 8;
};

// Gamma with feedback (64-bit cipher feedback). Data may be fed in pieces of any length; in and
// out may be the same buffer.
class GammaFeedbackMode {
 public:
  void Init(const Gost28147* cipher, const uint8_t iv[8]);
  void Encrypt(const uint8_t* in, uint8_t* out, size_t len);
  void Decrypt(const uint8_t* in, uint8_t* out, size_t len);
  void Rebind(const Gost28147* cipher) { cipher_ = cipher; }
  void Wipe();

 private:
  const Gost28147* cipher_ = nullptr;
  uint8_t register_[8] = {};
  uint8_t gamma_[8] = {};
  size_t used_ = 8;
};

// MAC (imitovstavka): Final gives the whole 64-bit result; callers keep its leading bytes.
// Data shorter than 16 bytes is still run through two blocks (zero padding) -- the empty message
// too, so that its MAC depends on the key (libgcrypt answers zero bytes there; for 1 byte and
// more the two agree).
class MacMode {
 public:
  void Init(const Gost28147* cipher);
  // Starts from iv instead of zeros (gost28147IMIT with an IV, as RFC 4357's key wrap uses it).
  void Init(const Gost28147* cipher, const uint8_t iv[8]);
  void Update(const uint8_t* data, size_t len);
  void Final(uint8_t out[8]);
  void Wipe();

 private:
  const Gost28147* cipher_ = nullptr;
  uint8_t state_[8] = {};
  uint8_t pending_[8] = {};
  size_t pendingLen_ = 0;
  uint64_t blocks_ = 0;
};

// GOST R 34.11-94 through libgcrypt. The substitution table picks the parameter set; only the
// test parameter set (kSboxR3411TestParams) and CryptoPro's (Init(cryptoPro = true)) exist.
class R3411Hash {
 public:
  R3411Hash() = default;
  ~R3411Hash();
  R3411Hash(const R3411Hash&) = delete;
  R3411Hash& operator=(const R3411Hash&) = delete;
  bool Init(const uint8_t sbox[kSboxSize]);  // false for any other table
  bool InitCryptoPro();
  void Update(const uint8_t* data, size_t len);
  // The digest as libgcrypt and RFC 5831 print it; ends the computation (Init starts anew).
  // All zero bytes when no Init succeeded.
  void Final(uint8_t out[32]);
  void Clear();

 private:
  void* handle_ = nullptr;
};

// Status codes of the signature schemes (the Crypto-C toolkit's numbering).
enum SignStatus : int {
  kSignOk = 0,
  kSignBadKey = 3,
  kSignBad = 5,
  kSignZeroR = 6,
  kSignZeroS = 7,
  kSignBadR = 8,
  kSignBadS = 9,
};

// GOST R 34.10-94 over our own 1024-bit parameter set (p 1024 bits, q 256 bits, a of order q).
// Secret key 32 bytes, public key 128 bytes, signature r (32) then s (32).
namespace r3410_94 {
int PublicFromSecret(const uint8_t x[32], uint8_t y[128]);
int GenerateSecret(uint8_t x[32]);
int Sign(const uint8_t x[32], const uint8_t digest[32], uint8_t signature[64]);
int Verify(const uint8_t y[128], const uint8_t digest[32], const uint8_t signature[64]);
// The parameter set as p (128), q (32), a (128), little-endian.
void Parameters(uint8_t p[128], uint8_t q[32], uint8_t a[128]);
// The same scheme over another parameter set (big-endian hex; q of 256 bits, y of yLen bytes),
// with a caller's nonce k when given: what known-answer tests with published examples need.
struct ParameterSet {
  const char* p;
  const char* q;
  const char* a;
};
int PublicFromSecret(const ParameterSet& Set, const uint8_t x[32], uint8_t* y, size_t yLen);
int Sign(const ParameterSet& Set, const uint8_t x[32], const uint8_t digest[32], const uint8_t k[32],
         uint8_t signature[64]);
int Verify(const ParameterSet& Set, const uint8_t* y, size_t yLen, const uint8_t digest[32],
           const uint8_t signature[64]);
}  // namespace r3410_94

// Diffie-Hellman in the same group: secret and public values and the agreed value are 128 bytes.
namespace dh1024 {
int GenerateSecret(uint8_t x[128]);
int PublicFromSecret(const uint8_t x[128], uint8_t y[128]);
// Refuses (kSignBadKey) a peer value outside 2..p-2 or not in the subgroup of order q.
int Agree(const uint8_t x[128], const uint8_t peerY[128], uint8_t out[128]);
}  // namespace dh1024

// GOST R 34.10-2001 through libgcrypt's GOST curves. Coordinates and scalars are 32-byte
// little-endian; the digest is read as a little-endian integer e (e = 1 when e mod q is 0).
namespace r3410_2001 {
enum class Curve { Test /* RFC 5832 example curve */, CryptoProA };
struct Point {
  uint8_t x[32];
  uint8_t y[32];
};
int GenerateSecret(Curve curve, uint8_t d[32]);
int PublicFromSecret(Curve curve, const uint8_t d[32], Point& q);
int Sign(Curve curve, const uint8_t d[32], const uint8_t digest[32], uint8_t signature[64]);
// As Sign with the caller's nonce k (for known-answer tests).
int SignWithNonce(Curve curve, const uint8_t d[32], const uint8_t digest[32], const uint8_t k[32],
                  uint8_t signature[64]);
int Verify(Curve curve, const Point& q, const uint8_t digest[32], const uint8_t signature[64]);
// k * P; kSignBadKey when P is not on the curve or the result is the point at infinity.
int Multiply(Curve curve, const uint8_t k[32], const Point& p, Point& out);
}  // namespace r3410_2001

// Key agreement and key wrap on GOST R 34.10-2001 keys (VKO, in the manner of RFC 4357).
namespace vko2001 {
// KEK = R 34.11-94 digest of X || Y (32-byte little-endian each) of (ukm * d mod q) * Peer; a zero
// UKM counts as 1. cryptoPro picks the hash's CryptoPro parameters, else the test parameters.
// kSignBadKey when Peer is not on the curve or d is not usable.
int Agree(r3410_2001::Curve curve, const uint8_t d[32], const r3410_2001::Point& peer, const uint8_t ukm[8],
          bool cryptoPro, uint8_t kek[32]);
// Wrapped key: the key encrypted block by block under the KEK (32), then the first 4 bytes of the
// MAC under the KEK of UKM || key (4). Both with the substitution table given.
void Wrap(const uint8_t kek[32], const uint8_t ukm[8], const uint8_t key[32], const uint8_t sbox[kSboxSize],
          uint8_t wrapped[36]);
// false (key zeroed) when the MAC does not match.
bool Unwrap(const uint8_t kek[32], const uint8_t ukm[8], const uint8_t wrapped[36], const uint8_t sbox[kSboxSize],
            uint8_t key[32]);
}  // namespace vko2001

// Initialises libgcrypt once per process (thread-safe; leaves a set-up made by the host program
// alone). Every function here calls it; code that calls libgcrypt directly calls it first too.
void InitLibgcrypt();

// Strong random bytes from the system (libgcrypt).
void SystemRandom(uint8_t* out, size_t len);

// The toolkits' random generator over a caller-held 76-byte state. An all-zero state is seeded
// from the system first; every call mixes fresh system randomness in and advances the state, so
// two calls never repeat output even when a caller restores an old state.
constexpr size_t kRandomStateSize = 76;
void RandomFill(uint8_t state[kRandomStateSize], uint8_t* out, size_t len);

// Overwrites memory in a way the compiler keeps.
void Wipe(void* p, size_t len);

}  // namespace gost
