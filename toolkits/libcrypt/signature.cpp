// GOST R 34.10-94 and 34.10-2001 signatures, the 2001 key agreement (VKO) and the 1024-bit
// Diffie-Hellman agreement. Each context holds at most one secret and one public key; a key is
// set once (status 4 when the slot is filled) and emptied by the clear calls.
#include <cstring>
#include <memory>
#include <new>

#include "context.h"
#include "gost.h"
#include "keys.h"
#include "standin.h"

namespace libcrypt {

// FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF 6C611070 995AD100 45841B09 B761B893, little-endian.
const uint8_t kOrder2001[32] = {0x93, 0xB8, 0x61, 0xB7, 0x09, 0x1B, 0x84, 0x45, 0x00, 0xD1, 0x5A,
                                0x99, 0x70, 0x10, 0x61, 0x6C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

void EncodePublic2001(const gost::r3410_2001::Point& q, uint8_t out[100]) {
  std::memset(out, 0, 100);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(kParamSet2001 >> (8 * i));
  std::memcpy(out + 4, q.x, 32);
  std::memcpy(out + 36, q.y, 32);
}

int DecodePublic2001(const uint8_t in[100], gost::r3410_2001::Point& q) {
  const uint32_t id = in[0] | (in[1] << 8) | (in[2] << 16) | (static_cast<uint32_t>(in[3]) << 24);
  if (id != kParamSet2001 || !IsZero(in + 68, 32)) return kBadKey;
  std::memcpy(q.x, in + 4, 32);
  std::memcpy(q.y, in + 36, 32);
  // 1 * Q: refused unless Q lies on the curve.
  uint8_t one[32] = {1};
  gost::r3410_2001::Point same;
  if (gost::r3410_2001::Multiply(kCurve2001, one, q, same) != gost::kSignOk) return kBadKey;
  return kOk;
}

bool ValidSecret2001(const uint8_t d[32]) { return !IsZero(d, 32) && LessThan(d, kOrder2001, 32); }

void Parameters(uint8_t out[kParametersSize]) { gost::r3410_94::Parameters(out, out + 128, out + 160); }

bool ValidSecret1994(const uint8_t x[32]) {
  uint8_t params[kParametersSize];
  Parameters(params);
  return !IsZero(x, 32) && LessThan(x, params + 128, 32);
}

namespace {

// 2 <= y < p.
bool ValidPublic1994(const uint8_t y[128]) {
  uint8_t params[kParametersSize];
  Parameters(params);
  uint8_t two[128] = {2};
  return !LessThan(y, two, 128) && LessThan(y, params, 128);
}

struct Sign1994Context : Context {
  Sign1994Context() : Context(Kind::kSign1994) {}
  ~Sign1994Context() override { gost::Wipe(x, sizeof x); }
  bool hasSecret = false, hasPublic = false;
  uint8_t x[32] = {};
  uint8_t y[128] = {};
};

struct Sign2001Context : Context {
  Sign2001Context() : Context(Kind::kSign2001) {}
  ~Sign2001Context() override { gost::Wipe(d, sizeof d); }
  bool hasSecret = false, hasPublic = false;
  uint8_t d[32] = {};
  gost::r3410_2001::Point q = {};
};

struct AgreementContext : Context {
  AgreementContext() : Context(Kind::kAgreement) {}
  ~AgreementContext() override { gost::Wipe(x, sizeof x); }
  bool hasSecret = false, hasPublic = false;
  uint8_t x[128] = {};
  uint8_t y[128] = {};
};

template <class T>
int Create(void* work) {
  std::unique_ptr<T> c(new (std::nothrow) T);
  if (!c) return kBadRequest;
  return Install(work, std::unique_ptr<Context>(c.release()));
}

// Parameter sets are not negotiable: null selects the one this toolkit has.
int GetParameters(void* work, Kind kind, void* out, uint32_t* size) {
  if (work == nullptr || size == nullptr) return kNullPointer;
  Context* c = nullptr;
  if (int s = Find(work, kind, c)) return s;
  const uint32_t room = *size;
  *size = kParametersSize;
  if (out == nullptr) return kOk;  // asks for the size only
  if (room < kParametersSize) return kBadRequest;
  Parameters(static_cast<uint8_t*>(out));
  return kOk;
}

// Signature of 1..64 bytes, missing bytes counting as zero.
int PadSignature(const uint8_t* signature, uint32_t len, uint8_t out[64]) {
  if (len < 1 || len > 64) return kBadRequest;
  std::memset(out, 0, 64);
  std::memcpy(out, signature, len);
  return kOk;
}

}  // namespace
}  // namespace libcrypt

using namespace libcrypt;

// ---- GOST R 34.10-94 ----

STANDIN_EXPORT int CrypC_LR34_10_1994_set_parms(void* work, const void* params, uint32_t secretSize, uint32_t modulusSize) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  if (params != nullptr || secretSize != 32 || modulusSize != 128) return kBadRequest;
  return Create<Sign1994Context>(work);
}

STANDIN_EXPORT int CrypC_LR34_10_1994_get_parms(void* work, void* out, uint32_t* size) {
  LIBCRYPT_HOOK();
  return GetParameters(work, Kind::kSign1994, out, size);
}

STANDIN_EXPORT int CrypC_LR34_10_1994_gen_secret_key(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  Sign1994Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign1994, c)) return s;
  if (c->hasSecret) return kKeyPresent;
  if (int s = gost::r3410_94::GenerateSecret(c->x)) return s;
  c->hasSecret = true;
  return kOk;
}

STANDIN_EXPORT int CrypC_LR34_10_1994_gen_public_key(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  Sign1994Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign1994, c)) return s;
  if (!c->hasSecret) return kBadKey;
  if (c->hasPublic) return kKeyPresent;
  if (int s = gost::r3410_94::PublicFromSecret(c->x, c->y)) return s;
  c->hasPublic = true;
  return kOk;
}

STANDIN_EXPORT int CrypC_LR34_10_1994_get_secret_key(void* work, uint8_t* out32) {
  LIBCRYPT_HOOK();
  if (work == nullptr || out32 == nullptr) return kNullPointer;
  Sign1994Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign1994, c)) return s;
  if (!c->hasSecret) return kBadKey;
  std::memcpy(out32, c->x, 32);
  return kOk;
}

STANDIN_EXPORT int CrypC_LR34_10_1994_get_public_key(void* work, uint8_t* out128) {
  LIBCRYPT_HOOK();
  if (work == nullptr || out128 == nullptr) return kNullPointer;
  Sign1994Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign1994, c)) return s;
  if (!c->hasPublic) return kBadKey;
  std::memcpy(out128, c->y, 128);
  return kOk;
}

STANDIN_EXPORT int CrypC_LR34_10_1994_set_secret_key(void* work, const uint8_t* key32) {
  LIBCRYPT_HOOK();
  if (work == nullptr || key32 == nullptr) return kNullPointer;
  Sign1994Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign1994, c)) return s;
  if (c->hasSecret) return kKeyPresent;
  if (!ValidSecret1994(key32)) return kBadKey;
  std::memcpy(c->x, key32, 32);
  c->hasSecret = true;
  return kOk;
}

STANDIN_EXPORT int CrypC_LR34_10_1994_set_public_key(void* work, const uint8_t* key128) {
  LIBCRYPT_HOOK();
  if (work == nullptr || key128 == nullptr) return kNullPointer;
  Sign1994Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign1994, c)) return s;
  if (c->hasPublic) return kKeyPresent;
  if (!ValidPublic1994(key128)) return kBadKey;
  std::memcpy(c->y, key128, 128);
  c->hasPublic = true;
  return kOk;
}

STANDIN_EXPORT int CrypC_LR34_10_1994_sign(void* work, const uint8_t* digest32, uint8_t* signature64) {
  LIBCRYPT_HOOK();
  if (work == nullptr || digest32 == nullptr || signature64 == nullptr) return kNullPointer;
  Sign1994Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign1994, c)) return s;
  if (!c->hasSecret) return kBadKey;
  return gost::r3410_94::Sign(c->x, digest32, signature64);
}

STANDIN_EXPORT int CrypC_LR34_10_1994_verify(void* work, const uint8_t* digest32, const uint8_t* signature, uint32_t signatureLen) {
  LIBCRYPT_HOOK();
  if (work == nullptr || digest32 == nullptr || signature == nullptr) return kNullPointer;
  Sign1994Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign1994, c)) return s;
  if (!c->hasPublic) return kBadKey;
  uint8_t padded[64];
  if (int s = PadSignature(signature, signatureLen, padded)) return s;
  return gost::r3410_94::Verify(c->y, digest32, padded);
}

STANDIN_EXPORT int CrypC_LR34_10_1994_clear_secret_key(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  Sign1994Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign1994, c)) return s;
  gost::Wipe(c->x, sizeof c->x);
  c->hasSecret = false;
  return kOk;
}

STANDIN_EXPORT int CrypC_LR34_10_1994_clear_public_key(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  Sign1994Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign1994, c)) return s;
  std::memset(c->y, 0, sizeof c->y);
  c->hasPublic = false;
  return kOk;
}

STANDIN_EXPORT int CrypC_LR34_10_1994_clear(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  return Release(work, Kind::kSign1994);
}

// ---- GOST R 34.10-2001 ----

STANDIN_EXPORT int CrypC_LR34_10_2001_set_parms(void* work, const void* params, uint32_t secretSize, uint32_t modulusSize) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  if (params != nullptr || secretSize != 32 || modulusSize != 32) return kBadRequest;
  return Create<Sign2001Context>(work);
}

STANDIN_EXPORT int CrypC_LR34_10_2001_gen_secret_key(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  Sign2001Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign2001, c)) return s;
  if (c->hasSecret) return kKeyPresent;
  if (int s = gost::r3410_2001::GenerateSecret(kCurve2001, c->d)) return s;
  c->hasSecret = true;
  return kOk;
}

STANDIN_EXPORT int CrypC_LR34_10_2001_gen_public_key(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  Sign2001Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign2001, c)) return s;
  if (!c->hasSecret) return kBadKey;
  if (c->hasPublic) return kKeyPresent;
  if (int s = gost::r3410_2001::PublicFromSecret(kCurve2001, c->d, c->q)) return s;
  c->hasPublic = true;
  return kOk;
}

STANDIN_EXPORT int CrypC_LR34_10_2001_get_secret_key(void* work, uint8_t* out32) {
  LIBCRYPT_HOOK();
  if (work == nullptr || out32 == nullptr) return kNullPointer;
  Sign2001Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign2001, c)) return s;
  if (!c->hasSecret) return kBadKey;
  std::memcpy(out32, c->d, 32);
  return kOk;
}

STANDIN_EXPORT int CrypC_LR34_10_2001_get_public_key(void* work, uint8_t* out100) {
  LIBCRYPT_HOOK();
  if (work == nullptr || out100 == nullptr) return kNullPointer;
  Sign2001Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign2001, c)) return s;
  if (!c->hasPublic) return kBadKey;
  EncodePublic2001(c->q, out100);
  return kOk;
}

STANDIN_EXPORT int CrypC_LR34_10_2001_set_secret_key(void* work, const uint8_t* key32) {
  LIBCRYPT_HOOK();
  if (work == nullptr || key32 == nullptr) return kNullPointer;
  Sign2001Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign2001, c)) return s;
  if (c->hasSecret) return kKeyPresent;
  if (!ValidSecret2001(key32)) return kBadKey;
  std::memcpy(c->d, key32, 32);
  c->hasSecret = true;
  return kOk;
}

STANDIN_EXPORT int CrypC_LR34_10_2001_set_public_key(void* work, const uint8_t* key100) {
  LIBCRYPT_HOOK();
  if (work == nullptr || key100 == nullptr) return kNullPointer;
  Sign2001Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign2001, c)) return s;
  if (c->hasPublic) return kKeyPresent;
  gost::r3410_2001::Point q;
  if (int s = DecodePublic2001(key100, q)) return s;
  c->q = q;
  c->hasPublic = true;
  return kOk;
}

STANDIN_EXPORT int CrypC_LR34_10_2001_sign(void* work, const uint8_t* digest32, uint8_t* signature64) {
  LIBCRYPT_HOOK();
  if (work == nullptr || digest32 == nullptr || signature64 == nullptr) return kNullPointer;
  Sign2001Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign2001, c)) return s;
  if (!c->hasSecret) return kBadKey;
  return gost::r3410_2001::Sign(kCurve2001, c->d, digest32, signature64);
}

STANDIN_EXPORT int CrypC_LR34_10_2001_verify(void* work, const uint8_t* digest32, const uint8_t* signature, uint32_t signatureLen) {
  LIBCRYPT_HOOK();
  if (work == nullptr || digest32 == nullptr || signature == nullptr) return kNullPointer;
  Sign2001Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign2001, c)) return s;
  if (!c->hasPublic) return kBadKey;
  uint8_t padded[64];
  if (int s = PadSignature(signature, signatureLen, padded)) return s;
  return gost::r3410_2001::Verify(kCurve2001, c->q, digest32, padded);
}

STANDIN_EXPORT int CrypC_LR34_10_2001_clear_secret_key(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  Sign2001Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign2001, c)) return s;
  gost::Wipe(c->d, sizeof c->d);
  c->hasSecret = false;
  return kOk;
}

STANDIN_EXPORT int CrypC_LR34_10_2001_clear_public_key(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  Sign2001Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign2001, c)) return s;
  c->q = {};
  c->hasPublic = false;
  return kOk;
}

STANDIN_EXPORT int CrypC_LR34_10_2001_clear(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  return Release(work, Kind::kSign2001);
}

// VKO: the R 34.11-94 digest (test table) of (ukm * d mod q) * Peer.
STANDIN_EXPORT int CrypC_LR34_10_2001_gen_mutual_key(void* work, const uint8_t* peerPublic100, const uint8_t* ukm8, uint8_t* out32) {
  LIBCRYPT_HOOK();
  if (work == nullptr || peerPublic100 == nullptr || ukm8 == nullptr || out32 == nullptr) return kNullPointer;
  Sign2001Context* c = nullptr;
  if (int s = FindAs(work, Kind::kSign2001, c)) return s;
  if (!c->hasSecret) return kBadKey;
  gost::r3410_2001::Point peer;
  if (int s = DecodePublic2001(peerPublic100, peer)) return s;
  return gost::vko2001::Agree(kCurve2001, c->d, peer, ukm8, false, out32);
}

// ---- Diffie-Hellman over the 1024-bit group ----

STANDIN_EXPORT int CrypC_LDH_PKA_set_parms(void* work, const void* params, uint32_t keySize) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  if (params != nullptr || keySize != 128) return kBadRequest;
  return Create<AgreementContext>(work);
}

STANDIN_EXPORT int CrypC_LDH_PKA_get_parms(void* work, void* out, uint32_t* size) {
  LIBCRYPT_HOOK();
  return GetParameters(work, Kind::kAgreement, out, size);
}

STANDIN_EXPORT int CrypC_LDH_PKA_gen_secret_key(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  AgreementContext* c = nullptr;
  if (int s = FindAs(work, Kind::kAgreement, c)) return s;
  if (c->hasSecret) return kKeyPresent;
  if (int s = gost::dh1024::GenerateSecret(c->x)) return s;
  c->hasSecret = true;
  return kOk;
}

STANDIN_EXPORT int CrypC_LDH_PKA_gen_public_key(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  AgreementContext* c = nullptr;
  if (int s = FindAs(work, Kind::kAgreement, c)) return s;
  if (!c->hasSecret) return kBadKey;
  if (c->hasPublic) return kKeyPresent;
  if (int s = gost::dh1024::PublicFromSecret(c->x, c->y)) return s;
  c->hasPublic = true;
  return kOk;
}

STANDIN_EXPORT int CrypC_LDH_PKA_gen_mutual_key(void* work, const uint8_t* peerPublic128, uint8_t* out128) {
  LIBCRYPT_HOOK();
  if (work == nullptr || peerPublic128 == nullptr || out128 == nullptr) return kNullPointer;
  AgreementContext* c = nullptr;
  if (int s = FindAs(work, Kind::kAgreement, c)) return s;
  if (!c->hasSecret) return kBadKey;
  return gost::dh1024::Agree(c->x, peerPublic128, out128);
}

STANDIN_EXPORT int CrypC_LDH_PKA_get_secret_key(void* work, uint8_t* out128) {
  LIBCRYPT_HOOK();
  if (work == nullptr || out128 == nullptr) return kNullPointer;
  AgreementContext* c = nullptr;
  if (int s = FindAs(work, Kind::kAgreement, c)) return s;
  if (!c->hasSecret) return kBadKey;
  std::memcpy(out128, c->x, 128);
  return kOk;
}

STANDIN_EXPORT int CrypC_LDH_PKA_get_public_key(void* work, uint8_t* out128) {
  LIBCRYPT_HOOK();
  if (work == nullptr || out128 == nullptr) return kNullPointer;
  AgreementContext* c = nullptr;
  if (int s = FindAs(work, Kind::kAgreement, c)) return s;
  if (!c->hasPublic) return kBadKey;
  std::memcpy(out128, c->y, 128);
  return kOk;
}

STANDIN_EXPORT int CrypC_LDH_PKA_set_secret_key(void* work, const uint8_t* key128) {
  LIBCRYPT_HOOK();
  if (work == nullptr || key128 == nullptr) return kNullPointer;
  AgreementContext* c = nullptr;
  if (int s = FindAs(work, Kind::kAgreement, c)) return s;
  if (c->hasSecret) return kKeyPresent;
  if (IsZero(key128, 128)) return kBadKey;
  std::memcpy(c->x, key128, 128);
  c->hasSecret = true;
  return kOk;
}

STANDIN_EXPORT int CrypC_LDH_PKA_clear_secret_key(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  AgreementContext* c = nullptr;
  if (int s = FindAs(work, Kind::kAgreement, c)) return s;
  gost::Wipe(c->x, sizeof c->x);
  c->hasSecret = false;
  return kOk;
}

STANDIN_EXPORT int CrypC_LDH_PKA_clear_public_key(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  AgreementContext* c = nullptr;
  if (int s = FindAs(work, Kind::kAgreement, c)) return s;
  std::memset(c->y, 0, sizeof c->y);
  c->hasPublic = false;
  return kOk;
}

STANDIN_EXPORT int CrypC_LDH_PKA_clear(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  return Release(work, Kind::kAgreement);
}
