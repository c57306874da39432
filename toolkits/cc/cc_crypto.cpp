// The cryptography of the Crypto COM 2.2 stand-in: GOST R 34.10-2001 signatures over
// GOST R 34.11-94, session keys wrapped under a VKO key, and GOST 28147-89 in 64-bit cipher
// feedback with a MAC ("28147") or in simple replacement ("28147-ECB"). Formats: README.md.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "cc_internal.h"

namespace cc {

// VKO GOST R 34.10-2001 with the CryptoPro digest, shared by the GOST stand-ins.
bool AgreeKey(const uint8_t d[32], const gost::r3410_2001::Point& peer, const uint8_t ukm[8], uint8_t kek[32]) {
  return gost::vko2001::Agree(kCurve, d, peer, ukm, true, kek) == gost::kSignOk;
}

}  // namespace cc

using namespace cc;

namespace {

void PutLe(uint8_t* p, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t GetLe(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// The first 4 bytes of the MAC of the UKM and the session key under the key-encryption key.
void WrapMac(const gost::Gost28147& kek, const uint8_t ukm[8], const uint8_t key[32], uint8_t out[kMacSize]) {
  gost::MacMode mac;
  mac.Init(&kek);
  mac.Update(ukm, 8);
  mac.Update(key, 32);
  uint8_t full[8];
  mac.Final(full);
  std::memcpy(out, full, kMacSize);
  mac.Wipe();
}

void EcbBlocks(const gost::Gost28147& cipher, bool decrypt, const uint8_t* in, uint8_t* out, size_t len) {
  for (size_t at = 0; at + 8 <= len; at += 8) {
    if (decrypt) {
      cipher.DecryptBlock(in + at, out + at);
    } else {
      cipher.EncryptBlock(in + at, out + at);
    }
  }
}

int32_t CipherUpdateEcb(Context& ctx, const uint8_t* in, size_t len, uint8_t* out, int32_t& outLen) {
  size_t written = 0;
  for (size_t i = 0; i < len; ++i) {
    ctx.pending[ctx.pendingLen++] = in[i];
    if (ctx.pendingLen == 8) {
      EcbBlocks(ctx.block, ctx.decrypting, ctx.pending, out + written, 8);
      written += 8;
      ctx.pendingLen = 0;
    }
  }
  outLen = static_cast<int32_t>(written);
  return kOk;
}

// Decryption passes on all but the last 4 bytes seen, which may be the MAC.
int32_t CipherUpdateDecrypt(Context& ctx, const uint8_t* in, size_t len, uint8_t* out, int32_t& outLen) {
  const size_t total = ctx.heldLen + len;
  if (total <= kMacSize) {
    std::memcpy(ctx.held + ctx.heldLen, in, len);
    ctx.heldLen = total;
    outLen = 0;
    return kOk;
  }
  const size_t emit = total - kMacSize;
  const size_t fromHeld = std::min(ctx.heldLen, emit);
  const size_t fromIn = emit - fromHeld;
  // The new tail is taken first: in and out may be the same buffer.
  uint8_t previous[kMacSize], tail[kMacSize];
  std::memcpy(previous, ctx.held, ctx.heldLen);
  size_t k = 0;
  for (size_t i = fromHeld; i < ctx.heldLen; ++i) tail[k++] = previous[i];
  for (size_t i = fromIn; i < len; ++i) tail[k++] = in[i];
  if (fromIn > 0) std::memmove(out + fromHeld, in, fromIn);
  std::memcpy(out, previous, fromHeld);
  ctx.feedback.Decrypt(out, out, emit);
  ctx.mac.Update(out, emit);
  std::memcpy(ctx.held, tail, kMacSize);
  ctx.heldLen = kMacSize;
  outLen = static_cast<int32_t>(emit);
  return kOk;
}

}  // namespace

extern "C" {

int32_t CC_CALL BufferSignInit(HCCCTX Ctx, const char* SecretImage) {
  CC_HOOK(BufferSignInit, 8, CC_STATUS);
  Context* ctx = ContextOf(Ctx);
  if (ctx == nullptr) return kNoContext;
  ctx->digesting = Context::Digesting::kNone;
  if (int32_t s = ParseSecret(SecretImage, ctx->signer)) return s;
  ctx->hasher.InitCryptoPro();
  ctx->digesting = Context::Digesting::kSign;
  return kOk;
}

int32_t CC_CALL BufferSignUpdate(HCCCTX Ctx, const uint8_t* Data, uint16_t Len) {
  CC_HOOK(BufferSignUpdate, 12, CC_STATUS);
  Context* ctx = ContextOf(Ctx);
  if (ctx == nullptr) return kNoContext;
  if (ctx->digesting == Context::Digesting::kNone || (Data == nullptr && Len > 0)) return kBadCommand;
  ctx->hasher.Update(Data, Len);
  return kOk;
}

int32_t CC_CALL BufferSignFinal(HCCCTX Ctx, uint8_t** Signature, int32_t* SignatureLen) {
  CC_HOOK(BufferSignFinal, 12, CC_STATUS);
  Context* ctx = ContextOf(Ctx);
  if (ctx == nullptr) return kNoContext;
  if (ctx->digesting != Context::Digesting::kSign || Signature == nullptr || SignatureLen == nullptr)
    return kBadCommand;
  ctx->digesting = Context::Digesting::kNone;
  uint8_t digest[32], rs[64];
  ctx->hasher.Final(digest);
  const int status = gost::r3410_2001::Sign(kCurve, ctx->signer.d, digest, rs);
  gost::Wipe(ctx->signer.d, sizeof ctx->signer.d);
  if (status != gost::kSignOk) return kSecretIntegrity;
  const size_t len = SignatureLength();
  uint8_t* out = NewBuffer(len);
  if (out == nullptr) return kNoMemory;
  out[0] = 'Z';
  out[1] = 'S';
  PutLe(out + 2, static_cast<uint32_t>(len), 2);
  PutLe(out + 4, static_cast<uint32_t>(ctx->signer.number), 4);
  std::memcpy(out + 8, rs, sizeof rs);
  *Signature = out;
  *SignatureLen = static_cast<int32_t>(len);
  return kOk;
}

int32_t CC_CALL BufferVerifyInit(HCCCTX Ctx, const char* CertImage) {
  CC_HOOK(BufferVerifyInit, 8, CC_STATUS);
  Context* ctx = ContextOf(Ctx);
  if (ctx == nullptr) return kNoContext;
  ctx->digesting = Context::Digesting::kNone;
  if (int32_t s = ParseCertificate(CertImage, ctx->verifier)) return s;
  ctx->hasher.InitCryptoPro();
  ctx->digesting = Context::Digesting::kVerify;
  return kOk;
}

int32_t CC_CALL BufferVerifyFinal(HCCCTX Ctx, const uint8_t* Signature) {
  CC_HOOK(BufferVerifyFinal, 8, CC_STATUS);
  Context* ctx = ContextOf(Ctx);
  if (ctx == nullptr) return kNoContext;
  if (ctx->digesting != Context::Digesting::kVerify) return kBadCommand;
  ctx->digesting = Context::Digesting::kNone;
  uint8_t digest[32];
  ctx->hasher.Final(digest);
  if (Signature == nullptr || Signature[0] != 'Z' || Signature[1] != 'S') return kBadSignatureBlock;
  // Without a length argument the block's own length field is all there is: it must be the one
  // this toolkit writes, so that a changed field cannot pass.
  const size_t len = GetLe(Signature + 2, 2);
  if (len != SignatureLength() || len > kMaxSignatureSize) return kBadSignatureBlock;
  for (size_t i = kSignatureSize; i < len; ++i) {
    if (Signature[i] != 0) return kBadSignatureBlock;
  }
  if (static_cast<int32_t>(GetLe(Signature + 4, 4)) != ctx->verifier.number) return kSignatureBad;
  return gost::r3410_2001::Verify(kCurve, ctx->verifier.key, digest, Signature + 8) == gost::kSignOk
             ? kOk
             : kSignatureBad;
}

int32_t CC_CALL SessionKeyEncrypt(HCCCTX Ctx, const char* CertImage, uint8_t** SessionKey, uint8_t** Aux,
                                  uint8_t** EncryptedKey, int32_t* EncryptedKeyLen) {
  CC_HOOK(SessionKeyEncrypt, 24, CC_STATUS);
  if (ContextOf(Ctx) == nullptr) return kNoContext;
  if (SessionKey == nullptr || Aux == nullptr || EncryptedKey == nullptr || EncryptedKeyLen == nullptr)
    return kBadCommand;
  Certificate cert;
  if (int32_t s = ParseCertificate(CertImage, cert)) return s;
  if (!GeneratorReady()) return kInitRandom;
  uint8_t eph[32], ukm[8], kek[32];
  gost::r3410_2001::Point ephPublic{};
  RandomBytes(ukm, sizeof ukm);
  if (gost::r3410_2001::GenerateSecret(kCurve, eph) != gost::kSignOk ||
      gost::r3410_2001::PublicFromSecret(kCurve, eph, ephPublic) != gost::kSignOk ||
      !AgreeKey(eph, cert.key, ukm, kek)) {
    gost::Wipe(eph, sizeof eph);
    return kBadCipherBlock;
  }
  gost::Wipe(eph, sizeof eph);
  uint8_t* key = NewBuffer(32);
  uint8_t* aux = NewBuffer(64);
  uint8_t* wrapped = NewBuffer(kWrappedKeySize);
  if (key == nullptr || aux == nullptr || wrapped == nullptr) {
    std::free(key), std::free(aux), std::free(wrapped);
    return kNoMemory;
  }
  RandomBytes(key, 32);
  gost::Gost28147 cipher;
  cipher.SetKey(kek, gost::kSboxR3411TestParams);
  gost::Wipe(kek, sizeof kek);
  wrapped[0] = 'Z';
  wrapped[1] = 'K';
  PutLe(wrapped + 2, kWrappedKeySize, 2);
  std::memcpy(wrapped + 4, ephPublic.x, 32);
  std::memcpy(wrapped + 36, ephPublic.y, 32);
  std::memcpy(wrapped + 68, ukm, 8);
  EcbBlocks(cipher, false, key, wrapped + 76, 32);
  WrapMac(cipher, ukm, key, wrapped + 108);
  std::memcpy(aux, wrapped + 4, 64);
  *SessionKey = key;
  *Aux = aux;
  *EncryptedKey = wrapped;
  *EncryptedKeyLen = static_cast<int32_t>(kWrappedKeySize);
  return kOk;
}

int32_t CC_CALL SessionKeyDecrypt(HCCCTX Ctx, const char* SecretImage, const uint8_t* EncryptedKey,
                                  int32_t EncryptedKeyLen, uint8_t** SessionKey) {
  CC_HOOK(SessionKeyDecrypt, 20, CC_STATUS);
  if (ContextOf(Ctx) == nullptr) return kNoContext;
  if (SessionKey == nullptr) return kBadCommand;
  *SessionKey = nullptr;
  SecretKey secret;
  if (int32_t s = ParseSecret(SecretImage, secret)) return s;
  if (EncryptedKey == nullptr || EncryptedKeyLen != static_cast<int32_t>(kWrappedKeySize) ||
      EncryptedKey[0] != 'Z' || EncryptedKey[1] != 'K' || GetLe(EncryptedKey + 2, 2) != kWrappedKeySize)
    return kBadCipherBlock;
  gost::r3410_2001::Point ephPublic{};
  std::memcpy(ephPublic.x, EncryptedKey + 4, 32);
  std::memcpy(ephPublic.y, EncryptedKey + 36, 32);
  uint8_t kek[32], key[32], mac[kMacSize];
  if (!AgreeKey(secret.d, ephPublic, EncryptedKey + 68, kek)) return kCannotDecrypt;
  gost::Gost28147 cipher;
  cipher.SetKey(kek, gost::kSboxR3411TestParams);
  gost::Wipe(kek, sizeof kek);
  EcbBlocks(cipher, true, EncryptedKey + 76, key, 32);
  WrapMac(cipher, EncryptedKey + 68, key, mac);
  int32_t status = kCannotDecrypt;
  if (std::memcmp(mac, EncryptedKey + 108, kMacSize) == 0) {
    uint8_t* out = NewBuffer(32);
    status = out == nullptr ? kNoMemory : kOk;
    if (out != nullptr) std::memcpy(out, key, 32);
    *SessionKey = out;
  }
  gost::Wipe(key, sizeof key);
  return status;
}

int32_t CC_CALL BufferCipherInit(HCCCTX Ctx, const uint8_t* SessionKey, int32_t Direction, uint8_t* Vector) {
  CC_HOOK(BufferCipherInit, 16, CC_STATUS);
  Context* ctx = ContextOf(Ctx);
  if (ctx == nullptr) return kNoContext;
  ctx->ciphering = false;
  if (SessionKey == nullptr || Vector == nullptr || (Direction != 0 && Direction != 1)) return kBadCommand;
  if (Direction == 0) {
    if (!GeneratorReady()) return kInitRandom;
    RandomBytes(Vector, 8);
  }
  ctx->ecb = ctx->cipher == "28147-ECB";
  ctx->decrypting = Direction == 1;
  ctx->block.SetKey(SessionKey, gost::kSboxR3411TestParams);
  ctx->feedback.Init(&ctx->block, Vector);
  ctx->mac.Init(&ctx->block);
  ctx->heldLen = ctx->pendingLen = 0;
  ctx->ciphering = true;
  return kOk;
}

int32_t CC_CALL BufferCipherUpdate(HCCCTX Ctx, const uint8_t* In, uint16_t Len, uint8_t* Out, int32_t* OutLen) {
  CC_HOOK(BufferCipherUpdate, 20, CC_STATUS);
  Context* ctx = ContextOf(Ctx);
  if (ctx == nullptr) return kNoContext;
  if (!ctx->ciphering || OutLen == nullptr || ((In == nullptr || Out == nullptr) && Len > 0)) return kBadCommand;
  if (ctx->ecb) return CipherUpdateEcb(*ctx, In, Len, Out, *OutLen);
  if (ctx->decrypting) return CipherUpdateDecrypt(*ctx, In, Len, Out, *OutLen);
  ctx->mac.Update(In, Len);
  ctx->feedback.Encrypt(In, Out, Len);
  *OutLen = Len;
  return kOk;
}

int32_t CC_CALL BufferCipherFinal(HCCCTX Ctx, uint8_t* Out, int32_t* OutLen) {
  CC_HOOK(BufferCipherFinal, 12, CC_STATUS);
  Context* ctx = ContextOf(Ctx);
  if (ctx == nullptr) return kNoContext;
  if (!ctx->ciphering || Out == nullptr || OutLen == nullptr) return kBadCommand;
  ctx->ciphering = false;
  *OutLen = 0;
  if (ctx->ecb) return ctx->pendingLen == 0 ? kOk : kBadCipherBlock;
  uint8_t mac[8];
  ctx->mac.Final(mac);
  if (!ctx->decrypting) {
    std::memcpy(Out, mac, kMacSize);
    *OutLen = kMacSize;
    return kOk;
  }
  if (ctx->heldLen != kMacSize) return kBadCipherBlock;
  return std::memcmp(mac, ctx->held, kMacSize) == 0 ? kOk : kCannotDecrypt;
}

}  // extern "C"
