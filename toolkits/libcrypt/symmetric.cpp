// GOST 28147-89 (simple substitution, gamma, gamma with feedback, MAC) and the GOST R 34.11-94
// hash, each keyed with the substitution table at the start of the caller's work block.
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <new>

#include "context.h"
#include "gost.h"
#include "standin.h"

namespace libcrypt {
namespace {

struct BlockContext : Context {
  BlockContext() : Context(Kind::kBlock) {}
  gost::Gost28147 cipher;  // wipes itself
};

struct GammaContext : Context {
  GammaContext() : Context(Kind::kGamma) {}
  ~GammaContext() override { mode.Wipe(); }
  gost::Gost28147 cipher;
  gost::GammaMode mode;
};

struct FeedbackContext : Context {
  FeedbackContext() : Context(Kind::kFeedback) {}
  ~FeedbackContext() override { mode.Wipe(); }
  gost::Gost28147 cipher;
  gost::GammaFeedbackMode mode;
};

struct MacContext : Context {
  MacContext() : Context(Kind::kMac) {}
  ~MacContext() override { mode.Wipe(); }
  gost::Gost28147 cipher;
  gost::MacMode mode;
  uint8_t* out = nullptr;  // remembered by mac_init
  bool finished = false;
};

struct HashContext : Context {
  HashContext() : Context(Kind::kHash) {}
  gost::R3411Hash hash;  // releases itself
  bool finished = false;
};

// Null data is accepted only when there is nothing to read or write.
bool DataOk(const void* p, uint32_t len) { return p != nullptr || len == 0; }

template <class T>
int Put(void* work, std::unique_ptr<T> context) {
  return Install(work, std::unique_ptr<Context>(context.release()));
}

int BlockCrypt(void* work, const uint8_t* in, uint8_t* out, uint32_t len, bool encrypt) {
  if (work == nullptr || !DataOk(in, len) || !DataOk(out, len)) return kNullPointer;
  BlockContext* c = nullptr;
  if (int s = FindAs(work, Kind::kBlock, c)) return s;
  if (len % 8 != 0) return kBadRequest;
  for (uint32_t i = 0; i < len; i += 8) {
    uint8_t block[8];
    for (int j = 0; j < 8; ++j) block[j] = in[i + j];  // in and out may be the same buffer
    if (encrypt) {
      c->cipher.EncryptBlock(block, out + i);
    } else {
      c->cipher.DecryptBlock(block, out + i);
    }
  }
  return kOk;
}

// MAC of everything a stdio stream still holds, in pieces.
int MacStream(std::FILE* f, MacContext& c) {
  uint8_t buffer[16384];
  int status = kOk;
  for (;;) {
    const size_t got = std::fread(buffer, 1, sizeof buffer, f);
    if (got > 0) c.mode.Update(buffer, got);
    if (got < sizeof buffer) {
      if (std::ferror(f)) status = kFileRead;
      break;
    }
  }
  gost::Wipe(buffer, sizeof buffer);
  return status;
}

}  // namespace
}  // namespace libcrypt

using namespace libcrypt;

STANDIN_EXPORT int CrypC_G28147_1989_block_init(void* work, const uint8_t* key32) {
  LIBCRYPT_HOOK();
  if (work == nullptr || key32 == nullptr) return kNullPointer;
  std::unique_ptr<BlockContext> c(new (std::nothrow) BlockContext);
  if (!c) return kBadRequest;
  c->cipher.SetKey(key32, Sbox(work));
  return Put(work, std::move(c));
}

STANDIN_EXPORT int CrypC_G28147_1989_block_encrypt(void* work, const uint8_t* in, uint8_t* out, uint32_t len) {
  LIBCRYPT_HOOK();
  return BlockCrypt(work, in, out, len, true);
}

STANDIN_EXPORT int CrypC_G28147_1989_block_decrypt(void* work, const uint8_t* in, uint8_t* out, uint32_t len) {
  LIBCRYPT_HOOK();
  return BlockCrypt(work, in, out, len, false);
}

STANDIN_EXPORT int CrypC_G28147_1989_block_clear(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  return Release(work, Kind::kBlock);
}

STANDIN_EXPORT int CrypC_G28147_1989_gamma_init(void* work, const uint8_t* key32, const uint8_t* iv8) {
  LIBCRYPT_HOOK();
  if (work == nullptr || key32 == nullptr || iv8 == nullptr) return kNullPointer;
  std::unique_ptr<GammaContext> c(new (std::nothrow) GammaContext);
  if (!c) return kBadRequest;
  c->cipher.SetKey(key32, Sbox(work));
  c->mode.Init(&c->cipher, iv8);
  return Put(work, std::move(c));
}

STANDIN_EXPORT int CrypC_G28147_1989_gamma_clear(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  return Release(work, Kind::kGamma);
}

STANDIN_EXPORT int CrypC_G28147_1989_gamma_crypt(void* work, const uint8_t* in, uint8_t* out, uint32_t len) {
  LIBCRYPT_HOOK();
  if (work == nullptr || !DataOk(in, len) || !DataOk(out, len)) return kNullPointer;
  GammaContext* c = nullptr;
  if (int s = FindAs(work, Kind::kGamma, c)) return s;
  if (len > 0) c->mode.Crypt(in, out, len);
  return kOk;
}

STANDIN_EXPORT int CrypC_G28147_1989_gamma_ofb_init(void* work, const uint8_t* key32, const uint8_t* iv8) {
  LIBCRYPT_HOOK();
  if (work == nullptr || key32 == nullptr || iv8 == nullptr) return kNullPointer;
  std::unique_ptr<FeedbackContext> c(new (std::nothrow) FeedbackContext);
  if (!c) return kBadRequest;
  c->cipher.SetKey(key32, Sbox(work));
  c->mode.Init(&c->cipher, iv8);
  return Put(work, std::move(c));
}

STANDIN_EXPORT int CrypC_G28147_1989_gamma_ofb_clear(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  return Release(work, Kind::kFeedback);
}

STANDIN_EXPORT int CrypC_G28147_1989_gamma_ofb_encrypt(void* work, const uint8_t* in, uint8_t* out, uint32_t len) {
  LIBCRYPT_HOOK();
  if (work == nullptr || !DataOk(in, len) || !DataOk(out, len)) return kNullPointer;
  FeedbackContext* c = nullptr;
  if (int s = FindAs(work, Kind::kFeedback, c)) return s;
  if (len > 0) c->mode.Encrypt(in, out, len);
  return kOk;
}

STANDIN_EXPORT int CrypC_G28147_1989_gamma_ofb_decrypt(void* work, const uint8_t* in, uint8_t* out, uint32_t len) {
  LIBCRYPT_HOOK();
  if (work == nullptr || !DataOk(in, len) || !DataOk(out, len)) return kNullPointer;
  FeedbackContext* c = nullptr;
  if (int s = FindAs(work, Kind::kFeedback, c)) return s;
  if (len > 0) c->mode.Decrypt(in, out, len);
  return kOk;
}

STANDIN_EXPORT int CrypC_G28147_1989_mac_init(void* work, const uint8_t* key32, uint8_t* out8) {
  LIBCRYPT_HOOK();
  if (work == nullptr || key32 == nullptr) return kNullPointer;
  std::unique_ptr<MacContext> c(new (std::nothrow) MacContext);
  if (!c) return kBadRequest;
  c->cipher.SetKey(key32, Sbox(work));
  c->mode.Init(&c->cipher);
  c->out = out8;
  return Put(work, std::move(c));
}

STANDIN_EXPORT int CrypC_G28147_1989_mac_update(void* work, const uint8_t* data, uint32_t len) {
  LIBCRYPT_HOOK();
  if (work == nullptr || !DataOk(data, len)) return kNullPointer;
  MacContext* c = nullptr;
  if (int s = FindAs(work, Kind::kMac, c)) return s;
  if (c->finished) return kBadRequest;
  if (len > 0) c->mode.Update(data, len);
  return kOk;
}

STANDIN_EXPORT int CrypC_G28147_1989_mac_final(void* work, uint8_t* mac8) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  MacContext* c = nullptr;
  if (int s = FindAs(work, Kind::kMac, c)) return s;
  if (mac8 == nullptr && c->out == nullptr) return kNullPointer;
  if (c->finished) return kBadRequest;
  uint8_t mac[8];
  c->mode.Final(mac);
  c->finished = true;
  for (uint8_t* dest : {c->out, mac8}) {
    if (dest == nullptr) continue;
    for (int i = 0; i < 8; ++i) dest[i] = mac[i];
  }
  gost::Wipe(mac, sizeof mac);
  return kOk;
}

STANDIN_EXPORT int CrypC_G28147_1989_mac_clear(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  return Release(work, Kind::kMac);
}

STANDIN_EXPORT int CrypC_G28147_1989_mac_file_const(void* work, const uint8_t* key32, const char* path, uint8_t* mac8) {
  LIBCRYPT_HOOK();
  if (work == nullptr || key32 == nullptr || path == nullptr || mac8 == nullptr) return kNullPointer;
  // One-shot: the block's context area is left alone, only its table is used.
  std::unique_ptr<MacContext> c(new (std::nothrow) MacContext);
  if (!c) return kBadRequest;
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return kFileOpen;
  c->cipher.SetKey(key32, Sbox(work));
  c->mode.Init(&c->cipher);
  int status = MacStream(f, *c);
  if (std::fclose(f) != 0 && status == kOk) status = kFileClose;
  if (status != kOk) return status;
  c->mode.Final(mac8);
  return kOk;
}

STANDIN_EXPORT int CrypC_R34_11_1994_init(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  std::unique_ptr<HashContext> c(new (std::nothrow) HashContext);
  if (!c) return kBadRequest;
  if (!c->hash.Init(Sbox(work))) return kBadKey;  // a table the hash has no parameter set for
  return Put(work, std::move(c));
}

STANDIN_EXPORT int CrypC_R34_11_1994_update(void* work, const uint8_t* data, uint32_t len) {
  LIBCRYPT_HOOK();
  if (work == nullptr || !DataOk(data, len)) return kNullPointer;
  HashContext* c = nullptr;
  if (int s = FindAs(work, Kind::kHash, c)) return s;
  if (c->finished) return kBadRequest;
  if (len > 0) c->hash.Update(data, len);
  return kOk;
}

STANDIN_EXPORT int CrypC_R34_11_1994_final(void* work, uint8_t* digest32) {
  LIBCRYPT_HOOK();
  if (work == nullptr || digest32 == nullptr) return kNullPointer;
  HashContext* c = nullptr;
  if (int s = FindAs(work, Kind::kHash, c)) return s;
  if (c->finished) return kBadRequest;
  c->hash.Final(digest32);
  c->finished = true;
  return kOk;
}

STANDIN_EXPORT int CrypC_R34_11_1994_clear(void* work) {
  LIBCRYPT_HOOK();
  if (work == nullptr) return kNullPointer;
  return Release(work, Kind::kHash);
}
