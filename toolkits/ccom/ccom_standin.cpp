// The CryptoCom 3.x stand-in: last error, loader calls, random generator, GOST 28147-89 cipher and
// MAC, GOST R 34.11-94 hash, and GOST R 34.10-2001 signatures and key agreement on the CryptoPro-A
// curve. The PSE and provisioning are in ccom_pse.cpp.
#include "ccom_standin.h"

#include <cstring>
#include <mutex>
#include <new>

#include "ccom_internal.h"

namespace ccom {
namespace {

thread_local int t_lastError = 0;

// The curve's field prime p and group order q, big-endian.
const uint8_t kP[32] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFD, 0x97};
const uint8_t kQ[32] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                        0x6C, 0x61, 0x10, 0x70, 0x99, 0x5A, 0xD1, 0x00, 0x45, 0x84, 0x1B, 0x09, 0xB7, 0x61, 0xB8, 0x93};

// a < b for 32-byte big-endian numbers.
bool LessThan(const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, 32) < 0; }

struct Generator {
  std::mutex lock;
  uint8_t state[gost::kRandomStateSize] = {};
  bool seeded = false;
  uint64_t generation = 0;  // raised by every seeding
};

// Each thread draws from its own stream, forked from the process generator on its first draw and
// again after every seeding: a draw costs microseconds, and threads must not take turns for it.
struct Stream {
  uint64_t generation = 0;
  uint8_t state[gost::kRandomStateSize];
};
thread_local Stream t_stream;

Generator& TheGenerator() {
  static standin::Immortal<Generator> generator;  // never destroyed: exports may run during unload
  return generator.get();
}

}  // namespace

void SetLastError(int code) { t_lastError = code; }

const CCOM_PSE* ValidKey(const CCOM_PSE* pse) { return (pse != nullptr && pse->tag == kTagPse) ? pse : nullptr; }

void Reverse32(const uint8_t* in, uint8_t* out) {
  uint8_t copy[32];
  std::memcpy(copy, in, 32);
  for (int i = 0; i < 32; ++i) out[i] = copy[31 - i];
  gost::Wipe(copy, sizeof copy);
}

bool DecodePublic(const unsigned char* in, int len, gost::r3410_2001::Point& point) {
  if (in == nullptr || len != zk::ccom3x::kPublicValueSize || in[0] != 0x04) return false;
  if (!LessThan(in + 1, kP) || !LessThan(in + 33, kP)) return false;
  Reverse32(in + 1, point.x);
  Reverse32(in + 33, point.y);
  // 1 * P is refused exactly when P is not on the curve (the cofactor is 1).
  uint8_t one[32] = {1};
  gost::r3410_2001::Point same;
  return gost::r3410_2001::Multiply(kCurve, one, point, same) == gost::kSignOk;
}

void EncodePublic(const gost::r3410_2001::Point& point, unsigned char out[65]) {
  out[0] = 0x04;
  Reverse32(point.x, out + 1);
  Reverse32(point.y, out + 33);
}

bool ValidScalar(const uint8_t d[32]) {
  uint8_t be[32];
  Reverse32(d, be);
  static const uint8_t zero[32] = {};
  const bool ok = std::memcmp(be, zero, 32) != 0 && LessThan(be, kQ);
  gost::Wipe(be, sizeof be);
  return ok;
}

bool SignDigest(const uint8_t d[32], const uint8_t digest[32], uint8_t signature[64]) {
  uint8_t le[64];
  if (gost::r3410_2001::Sign(kCurve, d, digest, le) != gost::kSignOk) return false;
  Reverse32(le, signature);
  Reverse32(le + 32, signature + 32);
  return true;
}

void HashCryptoPro(const void* data, size_t len, uint8_t digest[32]) {
  gost::R3411Hash hash;
  hash.InitCryptoPro();
  hash.Update(static_cast<const uint8_t*>(data), len);
  hash.Final(digest);
}

void SeedGenerator(const uint8_t seed[64]) {
  Generator& g = TheGenerator();
  std::lock_guard<std::mutex> guard(g.lock);
  // Mixed in rather than copied: a second PSE must not set the generator back.
  for (size_t i = 0; i < 64; ++i) g.state[i] ^= seed[i];
  g.seeded = true;
  ++g.generation;
}

}  // namespace ccom

using namespace ccom;

// ---- last error, loader, control ----

STANDIN_EXPORT void ERR_set_last_error(int code) {
  int scripted = standin::Hook(__func__);
  SetLastError(scripted != 0 ? scripted : code);
}

STANDIN_EXPORT int ERR_get_last_error(void) {
  int scripted = standin::Hook(__func__);
  return scripted != 0 ? scripted : t_lastError;
}

STANDIN_EXPORT int CADB_init(void) {
  CCOM_HOOK(0);
  return 1;
}

STANDIN_EXPORT void CADB_close(void) { CCOM_HOOK_VOID(); }

STANDIN_EXPORT int StandIn_Control(const char* command) { return standin::Control(command); }

// ---- random generator ----

STANDIN_EXPORT int PSE_rand_inited(void) {
  CCOM_HOOK(0);
  Generator& g = TheGenerator();
  std::lock_guard<std::mutex> guard(g.lock);
  return g.seeded ? 1 : 0;
}

STANDIN_EXPORT int RAND_bytes(unsigned char* out, int len) {
  CCOM_HOOK(0);
  if (len < 0 || (out == nullptr && len > 0)) CCOM_FAIL(kErrParams, 0);
  Generator& g = TheGenerator();
  {
    std::lock_guard<std::mutex> guard(g.lock);
    if (!g.seeded) CCOM_FAIL(kErrRandNotInited, 0);
    if (t_stream.generation != g.generation) {
      gost::RandomFill(g.state, t_stream.state, sizeof(t_stream.state));
      t_stream.generation = g.generation;
    }
  }
  if (len > 0) gost::RandomFill(t_stream.state, out, static_cast<size_t>(len));
  return 1;
}

// ---- GOST 28147-89 ----

struct CCOM_GOSTE_CTX {
  uint32_t tag = kTagCipher;
  int mode = -1;  // -1 until GOSTE_init
  bool encrypt = true;
  bool macFinished = false;
  gost::Gost28147 cipher;
  gost::GammaMode gamma;
  gost::GammaFeedbackMode feedback;
  gost::MacMode mac;
  ~CCOM_GOSTE_CTX() {
    gamma.Wipe();
    feedback.Wipe();
    mac.Wipe();
    cipher.Wipe();
    tag = kTagDead;
  }
};

namespace {
CCOM_GOSTE_CTX* Cipher(CCOM_GOSTE_CTX* ctx) { return (ctx != nullptr && ctx->tag == kTagCipher) ? ctx : nullptr; }
}  // namespace

STANDIN_EXPORT CCOM_GOSTE_CTX* GOSTE_new(void) {
  CCOM_HOOK(nullptr);
  auto* ctx = new (std::nothrow) CCOM_GOSTE_CTX;
  if (ctx == nullptr) CCOM_FAIL(kErrMemory, nullptr);
  return ctx;
}

STANDIN_EXPORT void GOSTE_free(CCOM_GOSTE_CTX* ctx) {
  CCOM_HOOK_VOID();
  if (Cipher(ctx) != nullptr) delete ctx;
}

STANDIN_EXPORT int GOSTE_init(CCOM_GOSTE_CTX* ctx, int mode, int encrypt, const unsigned char* key32,
                              const unsigned char* iv8) {
  CCOM_HOOK(0);
  if (Cipher(ctx) == nullptr) CCOM_FAIL(kErrParams, 0);
  ctx->mode = -1;  // a refused init must not leave an earlier key usable
  ctx->gamma.Wipe();
  ctx->feedback.Wipe();
  ctx->mac.Wipe();
  ctx->cipher.Wipe();
  if (key32 == nullptr || (encrypt != 0 && encrypt != 1)) CCOM_FAIL(kErrParams, 0);
  if (mode != zk::ccom3x::kGosteModeMac && mode != zk::ccom3x::kGosteModeGamma &&
      mode != zk::ccom3x::kGosteModeGammaFeedback)
    CCOM_FAIL(kErrMode, 0);
  if (mode != zk::ccom3x::kGosteModeMac && iv8 == nullptr) CCOM_FAIL(kErrParams, 0);
  ctx->cipher.SetKey(key32, gost::kSboxR3411TestParams);
  ctx->mode = mode;
  ctx->encrypt = encrypt == zk::ccom3x::kGosteEncrypt;
  ctx->macFinished = false;
  if (mode == zk::ccom3x::kGosteModeGamma) ctx->gamma.Init(&ctx->cipher, iv8);
  if (mode == zk::ccom3x::kGosteModeGammaFeedback) ctx->feedback.Init(&ctx->cipher, iv8);
  if (mode == zk::ccom3x::kGosteModeMac) ctx->mac.Init(&ctx->cipher);
  return 1;
}

STANDIN_EXPORT int GOSTE_update(CCOM_GOSTE_CTX* ctx, unsigned char* out, const unsigned char* in, size_t len) {
  CCOM_HOOK(0);
  if (Cipher(ctx) == nullptr || ((out == nullptr || in == nullptr) && len > 0)) CCOM_FAIL(kErrParams, 0);
  if (ctx->mode != zk::ccom3x::kGosteModeGamma && ctx->mode != zk::ccom3x::kGosteModeGammaFeedback)
    CCOM_FAIL(ctx->mode < 0 ? kErrParams : kErrMode, 0);
  // Through a buffer of our own, so that the caller may encrypt in place (or with overlap).
  uint8_t chunk[1024];
  for (size_t done = 0; done < len;) {
    const size_t n = (len - done < sizeof chunk) ? len - done : sizeof chunk;
    std::memcpy(chunk, in + done, n);
    if (ctx->mode == zk::ccom3x::kGosteModeGamma)
      ctx->gamma.Crypt(chunk, out + done, n);
    else if (ctx->encrypt)
      ctx->feedback.Encrypt(chunk, out + done, n);
    else
      ctx->feedback.Decrypt(chunk, out + done, n);
    done += n;
  }
  gost::Wipe(chunk, sizeof chunk);
  return 1;
}

STANDIN_EXPORT int GOSTE_mac_update(CCOM_GOSTE_CTX* ctx, const unsigned char* data, size_t len) {
  CCOM_HOOK(0);
  if (Cipher(ctx) == nullptr || (data == nullptr && len > 0)) CCOM_FAIL(kErrParams, 0);
  if (ctx->mode != zk::ccom3x::kGosteModeMac) CCOM_FAIL(ctx->mode < 0 ? kErrParams : kErrMode, 0);
  if (ctx->macFinished) CCOM_FAIL(kErrParams, 0);
  ctx->mac.Update(data, len);
  return 1;
}

STANDIN_EXPORT int GOSTE_mac_final(CCOM_GOSTE_CTX* ctx, unsigned char* mac4) {
  CCOM_HOOK(0);
  if (Cipher(ctx) == nullptr || mac4 == nullptr) CCOM_FAIL(kErrParams, 0);
  if (ctx->mode != zk::ccom3x::kGosteModeMac) CCOM_FAIL(ctx->mode < 0 ? kErrParams : kErrMode, 0);
  if (ctx->macFinished) CCOM_FAIL(kErrParams, 0);
  uint8_t full[8];
  ctx->mac.Final(full);
  std::memcpy(mac4, full, zk::ccom3x::kMacSize);
  gost::Wipe(full, sizeof full);
  ctx->macFinished = true;  // a new GOSTE_init starts the next MAC
  return 1;
}

STANDIN_EXPORT int GOSTE_mac(const unsigned char* key32, const void* data, size_t len, unsigned char* mac4) {
  CCOM_HOOK(0);
  if (key32 == nullptr || mac4 == nullptr || (data == nullptr && len > 0)) CCOM_FAIL(kErrParams, 0);
  gost::Gost28147 cipher;
  cipher.SetKey(key32, gost::kSboxR3411TestParams);
  gost::MacMode mac;
  mac.Init(&cipher);
  mac.Update(static_cast<const uint8_t*>(data), len);
  uint8_t full[8];
  mac.Final(full);
  std::memcpy(mac4, full, zk::ccom3x::kMacSize);
  gost::Wipe(full, sizeof full);
  mac.Wipe();
  return 1;
}

// ---- GOST R 34.11-94 ----

struct CCOM_GOSTH_CTX {
  uint32_t tag = kTagHash;
  bool open = false;
  gost::R3411Hash hash;
  ~CCOM_GOSTH_CTX() { tag = kTagDead; }
};

namespace {
CCOM_GOSTH_CTX* Hash(CCOM_GOSTH_CTX* ctx) { return (ctx != nullptr && ctx->tag == kTagHash) ? ctx : nullptr; }
}  // namespace

STANDIN_EXPORT CCOM_GOSTH_CTX* GOSTH_new(void) {
  CCOM_HOOK(nullptr);
  auto* ctx = new (std::nothrow) CCOM_GOSTH_CTX;
  if (ctx == nullptr) CCOM_FAIL(kErrMemory, nullptr);
  return ctx;
}

STANDIN_EXPORT void GOSTH_free(CCOM_GOSTH_CTX* ctx) {
  CCOM_HOOK_VOID();
  if (Hash(ctx) != nullptr) delete ctx;
}

STANDIN_EXPORT int GOSTH_hash_init(CCOM_GOSTH_CTX* ctx, int paramId) {
  CCOM_HOOK(0);
  if (Hash(ctx) == nullptr) CCOM_FAIL(kErrParams, 0);
  if (paramId != zk::ccom3x::kHashParamCryptoPro) CCOM_FAIL(kErrParamId, 0);
  ctx->hash.Clear();
  if (!ctx->hash.InitCryptoPro()) CCOM_FAIL(kErrMemory, 0);
  ctx->open = true;
  return 1;
}

STANDIN_EXPORT int GOSTH_update(CCOM_GOSTH_CTX* ctx, const void* data, size_t len) {
  CCOM_HOOK(0);
  if (Hash(ctx) == nullptr || !ctx->open || (data == nullptr && len > 0)) CCOM_FAIL(kErrParams, 0);
  ctx->hash.Update(static_cast<const uint8_t*>(data), len);
  return 1;
}

STANDIN_EXPORT int GOSTH_final(CCOM_GOSTH_CTX* ctx, unsigned char* digest32) {
  CCOM_HOOK(0);
  if (Hash(ctx) == nullptr || !ctx->open || digest32 == nullptr) CCOM_FAIL(kErrParams, 0);
  ctx->hash.Final(digest32);
  ctx->hash.Clear();
  ctx->open = false;  // GOSTH_hash_init starts the next digest
  return 1;
}

STANDIN_EXPORT int GOSTH(int paramId, const void* data, size_t len, unsigned char* digest32) {
  CCOM_HOOK(0);
  if (digest32 == nullptr || (data == nullptr && len > 0)) CCOM_FAIL(kErrParams, 0);
  if (paramId != zk::ccom3x::kHashParamCryptoPro) CCOM_FAIL(kErrParamId, 0);
  HashCryptoPro(data, len, digest32);
  return 1;
}

// ---- GOST R 34.10-2001 signatures ----

struct CCOM_ECGOST_SIGN {
  enum class State { kIdle, kSigning, kVerifying };
  uint32_t tag = kTagSign;
  State state = State::kIdle;
  uint8_t d[32] = {};
  gost::r3410_2001::Point q = {};
  gost::R3411Hash hash;
  void Reset() {
    gost::Wipe(d, sizeof d);
    hash.Clear();
    state = State::kIdle;
  }
  ~CCOM_ECGOST_SIGN() {
    Reset();
    tag = kTagDead;
  }
};

namespace {
CCOM_ECGOST_SIGN* Signer(CCOM_ECGOST_SIGN* ctx) { return (ctx != nullptr && ctx->tag == kTagSign) ? ctx : nullptr; }
}  // namespace

STANDIN_EXPORT int ECGOST_generate_public_key(CCOM_PSE* pse, unsigned char* public65) {
  CCOM_HOOK(0);
  if (public65 == nullptr) CCOM_FAIL(kErrParams, 0);
  const CCOM_PSE* key = ValidKey(pse);
  if (key == nullptr) CCOM_FAIL(kErrPrivateKey, 0);
  gost::r3410_2001::Point q;
  if (gost::r3410_2001::PublicFromSecret(kCurve, key->d, q) != gost::kSignOk) CCOM_FAIL(kErrPrivateKey, 0);
  EncodePublic(q, public65);
  return 1;
}

STANDIN_EXPORT CCOM_ECGOST_SIGN* ECGOST_SIGN_new(void) {
  CCOM_HOOK(nullptr);
  auto* ctx = new (std::nothrow) CCOM_ECGOST_SIGN;
  if (ctx == nullptr) CCOM_FAIL(kErrMemory, nullptr);
  return ctx;
}

STANDIN_EXPORT void ECGOST_SIGN_free(CCOM_ECGOST_SIGN* ctx) {
  CCOM_HOOK_VOID();
  if (Signer(ctx) != nullptr) delete ctx;
}

STANDIN_EXPORT int ECGOST_sign_init(CCOM_ECGOST_SIGN* ctx, CCOM_PSE* pse) {
  CCOM_HOOK(0);
  if (Signer(ctx) == nullptr) CCOM_FAIL(kErrParams, 0);
  ctx->Reset();  // a refused init must not leave an earlier operation usable
  const CCOM_PSE* key = ValidKey(pse);
  if (key == nullptr) CCOM_FAIL(kErrPrivateKey, 0);
  if (!ctx->hash.InitCryptoPro()) CCOM_FAIL(kErrMemory, 0);
  std::memcpy(ctx->d, key->d, sizeof ctx->d);  // the signer outlives nothing it borrowed
  ctx->state = CCOM_ECGOST_SIGN::State::kSigning;
  return 1;
}

STANDIN_EXPORT int ECGOST_verify_init(CCOM_ECGOST_SIGN* ctx, const unsigned char* public65, int publicLen) {
  CCOM_HOOK(0);
  if (Signer(ctx) == nullptr) CCOM_FAIL(kErrParams, 0);
  ctx->Reset();  // a refused init must not leave an earlier operation usable
  gost::r3410_2001::Point q;
  if (!DecodePublic(public65, publicLen, q)) CCOM_FAIL(kErrPublicKey, 0);
  if (!ctx->hash.InitCryptoPro()) CCOM_FAIL(kErrMemory, 0);
  ctx->q = q;
  ctx->state = CCOM_ECGOST_SIGN::State::kVerifying;
  return 1;
}

STANDIN_EXPORT int ECGOST_update(CCOM_ECGOST_SIGN* ctx, const void* data, size_t len) {
  CCOM_HOOK(0);
  if (Signer(ctx) == nullptr || ctx->state == CCOM_ECGOST_SIGN::State::kIdle || (data == nullptr && len > 0))
    CCOM_FAIL(kErrParams, 0);
  ctx->hash.Update(static_cast<const uint8_t*>(data), len);
  return 1;
}

STANDIN_EXPORT int ECGOST_sign_final(CCOM_ECGOST_SIGN* ctx, unsigned char* signature64) {
  CCOM_HOOK(0);
  if (Signer(ctx) == nullptr || ctx->state != CCOM_ECGOST_SIGN::State::kSigning || signature64 == nullptr)
    CCOM_FAIL(kErrParams, 0);
  uint8_t digest[32];
  ctx->hash.Final(digest);
  const bool ok = SignDigest(ctx->d, digest, signature64);
  ctx->Reset();  // a new ECGOST_sign_init starts the next signature
  if (!ok) CCOM_FAIL(kErrSign, 0);
  return 1;
}

STANDIN_EXPORT int ECGOST_verify_final(CCOM_ECGOST_SIGN* ctx, const unsigned char* signature, int signatureLen) {
  CCOM_HOOK(0);
  if (Signer(ctx) == nullptr || ctx->state != CCOM_ECGOST_SIGN::State::kVerifying || signature == nullptr)
    CCOM_FAIL(kErrParams, 0);
  uint8_t digest[32];
  ctx->hash.Final(digest);
  ctx->Reset();
  if (signatureLen != zk::ccom3x::kSignatureSize) CCOM_FAIL(kErrBadSignature, 0);
  uint8_t le[64];
  Reverse32(signature, le);
  Reverse32(signature + 32, le + 32);
  if (gost::r3410_2001::Verify(kCurve, ctx->q, digest, le) != gost::kSignOk) CCOM_FAIL(kErrBadSignature, 0);
  return 1;
}

// ---- GOST R 34.10-2001 key agreement ----

struct CCOM_ECGOST_DH {
  uint32_t tag = kTagDh;
  bool hasKey = false;
  uint8_t d[32] = {};
  ~CCOM_ECGOST_DH() {
    gost::Wipe(d, sizeof d);
    tag = kTagDead;
  }
};

namespace {
CCOM_ECGOST_DH* Agreement(CCOM_ECGOST_DH* dh) { return (dh != nullptr && dh->tag == kTagDh) ? dh : nullptr; }
}  // namespace

STANDIN_EXPORT CCOM_ECGOST_DH* ECGOST_DH_new(void) {
  CCOM_HOOK(nullptr);
  auto* dh = new (std::nothrow) CCOM_ECGOST_DH;
  if (dh == nullptr) CCOM_FAIL(kErrMemory, nullptr);
  return dh;
}

STANDIN_EXPORT void ECGOST_DH_free(CCOM_ECGOST_DH* dh) {
  CCOM_HOOK_VOID();
  if (Agreement(dh) != nullptr) delete dh;
}

STANDIN_EXPORT int ECGOST_DH_generate_key(CCOM_ECGOST_DH* dh, CCOM_PSE* pse, unsigned char* public65) {
  CCOM_HOOK(0);
  if (Agreement(dh) == nullptr || public65 == nullptr) CCOM_FAIL(kErrParams, 0);
  uint8_t d[32];
  if (pse == nullptr) {
    if (gost::r3410_2001::GenerateSecret(kCurve, d) != gost::kSignOk) CCOM_FAIL(kErrKeyGen, 0);
  } else {
    const CCOM_PSE* key = ValidKey(pse);
    if (key == nullptr) CCOM_FAIL(kErrPrivateKey, 0);
    std::memcpy(d, key->d, sizeof d);
  }
  gost::r3410_2001::Point q;
  if (gost::r3410_2001::PublicFromSecret(kCurve, d, q) != gost::kSignOk) {
    gost::Wipe(d, sizeof d);
    CCOM_FAIL(pse == nullptr ? kErrKeyGen : kErrPrivateKey, 0);
  }
  std::memcpy(dh->d, d, sizeof d);
  gost::Wipe(d, sizeof d);
  dh->hasKey = true;
  EncodePublic(q, public65);
  return 1;
}

STANDIN_EXPORT int ECGOST_DH_compute_key(CCOM_ECGOST_DH* dh, const unsigned char* peerPublic65,
                                         unsigned char* agreed64) {
  CCOM_HOOK(0);
  if (Agreement(dh) == nullptr || !dh->hasKey || agreed64 == nullptr) CCOM_FAIL(kErrParams, 0);
  gost::r3410_2001::Point peer;
  if (!DecodePublic(peerPublic65, zk::ccom3x::kPublicValueSize, peer)) CCOM_FAIL(kErrPublicKey, 0);
  gost::r3410_2001::Point shared;
  if (gost::r3410_2001::Multiply(kCurve, dh->d, peer, shared) != gost::kSignOk) CCOM_FAIL(kErrPublicKey, 0);
  Reverse32(shared.x, agreed64);
  Reverse32(shared.y, agreed64 + 32);
  gost::Wipe(&shared, sizeof shared);
  return 1;
}
