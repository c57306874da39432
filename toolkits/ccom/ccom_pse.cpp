// The PSE of the CryptoCom 3.x stand-in (formats in README.md): the directory with the master key,
// masks, key-encryption key and random seed; the 36-byte opaque keys under its KEYS directory; the
// PSE context calls; and the provisioning of a user (PSE, key and self-signed public-key file).
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "ccom_internal.h"
#include "ccom_standin.h"
#include "standin_files.h"

namespace ccom {
namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

constexpr size_t kKeySize = 32;
constexpr size_t kSeedSize = 64;
constexpr size_t kTagSize = 4;
constexpr size_t kCheckSize = 32;  // GOST R 34.11-94 digest
constexpr size_t kMacSize = 4;
constexpr size_t kOpaqueSize = 36;

const char kMasterKeyFile[] = "mkey.pse";
const char kMasksFile[] = "masks.pse";
const char kKekFile[] = "kek.pse";
const char kSeedFile[] = "rand.pse";
const char* const kPseFiles[] = {kMasterKeyFile, kMasksFile, kKekFile, kSeedFile};

// What protects the keys of one PSE.
struct Secrets {
  uint8_t mkey[kKeySize] = {};
  uint8_t masks[kKeySize] = {};
  uint8_t kek[kKeySize] = {};
  uint8_t seed[kSeedSize] = {};
  ~Secrets() { gost::Wipe(this, sizeof *this); }
};

// A byte buffer that forgets its contents when it goes.
struct Bytes {
  std::vector<uint8_t> data;
  ~Bytes() {
    if (!data.empty()) gost::Wipe(data.data(), data.size());
  }
};

// Native path without trailing separators (a drive root such as "C:\" keeps its own).
std::string Trimmed(const char* path) {
  std::string p(path);
  while (p.size() > 1 && (p.back() == '/' || p.back() == '\\') && !(p.size() == 3 && p[1] == ':')) p.pop_back();
  return p;
}

std::string Join(const std::string& dir, const std::string& name) {
  if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\')) return dir + name;
  return dir + kSeparator + name;
}

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(fs::path(path), ec);
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::path(path), ec);
}

// Reads at most maxSize + 1 bytes, so that a longer file shows as longer. 0 or an error code.
int ReadFile(const std::string& path, size_t maxSize, Bytes& out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return Exists(path) ? kErrFileRead : kErrFileNotFound;
  out.data.assign(maxSize + 1, 0);
  const size_t got = std::fread(out.data.data(), 1, out.data.size(), f);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return kErrFileRead;
  out.data.resize(got);
  return 0;
}

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  return standin::WriteWholeFile(path.c_str(), data, size) == standin::WriteResult::kOk;
}

void Mac4(const uint8_t key[kKeySize], const uint8_t* data, size_t len, uint8_t out[kMacSize]) {
  gost::Gost28147 cipher;
  cipher.SetKey(key, gost::kSboxR3411TestParams);
  gost::MacMode mac;
  mac.Init(&cipher);
  mac.Update(data, len);
  uint8_t full[8];
  mac.Final(full);
  std::memcpy(out, full, kMacSize);
  gost::Wipe(full, sizeof full);
  mac.Wipe();
}

bool SameBytes(const uint8_t* a, const uint8_t* b, size_t n) {
  uint8_t diff = 0;
  for (size_t i = 0; i < n; ++i) diff |= static_cast<uint8_t>(a[i] ^ b[i]);
  return diff == 0;
}

// 32 bytes through GOST 28147-89 simple substitution, block by block.
void Substitute(const uint8_t key[kKeySize], bool encrypt, const uint8_t in[32], uint8_t out[32]) {
  gost::Gost28147 cipher;
  cipher.SetKey(key, gost::kSboxR3411TestParams);
  for (size_t i = 0; i < 32; i += 8) {
    if (encrypt)
      cipher.EncryptBlock(in + i, out + i);
    else
      cipher.DecryptBlock(in + i, out + i);
  }
}

// ---- the PSE files ----

// tag || body || GOST R 34.11-94 (CryptoPro) of tag || body
void SealHashed(const char* tag, const uint8_t* body, size_t len, Bytes& out) {
  out.data.assign(tag, tag + kTagSize);
  out.data.insert(out.data.end(), body, body + len);
  uint8_t check[kCheckSize];
  HashCryptoPro(out.data.data(), out.data.size(), check);
  out.data.insert(out.data.end(), check, check + kCheckSize);
}

bool OpenHashed(const char* tag, const Bytes& file, uint8_t* body, size_t len) {
  if (file.data.size() != kTagSize + len + kCheckSize || std::memcmp(file.data.data(), tag, kTagSize) != 0)
    return false;
  uint8_t check[kCheckSize];
  HashCryptoPro(file.data.data(), kTagSize + len, check);
  if (!SameBytes(check, file.data.data() + kTagSize + len, kCheckSize)) return false;
  std::memcpy(body, file.data.data() + kTagSize, len);
  return true;
}

// "ZKKE" || KEK under the master key || MAC of the KEK under the master key
void SealKek(const Secrets& s, Bytes& out) {
  uint8_t wrapped[kKeySize];
  uint8_t mac[kMacSize];
  Substitute(s.mkey, true, s.kek, wrapped);
  Mac4(s.mkey, s.kek, kKeySize, mac);
  out.data.assign("ZKKE", "ZKKE" + kTagSize);
  out.data.insert(out.data.end(), wrapped, wrapped + kKeySize);
  out.data.insert(out.data.end(), mac, mac + kMacSize);
}

bool OpenKek(const Bytes& file, Secrets& s) {
  if (file.data.size() != kTagSize + kKeySize + kMacSize || std::memcmp(file.data.data(), "ZKKE", kTagSize) != 0)
    return false;
  Substitute(s.mkey, false, file.data.data() + kTagSize, s.kek);
  uint8_t mac[kMacSize];
  Mac4(s.mkey, s.kek, kKeySize, mac);
  return SameBytes(mac, file.data.data() + kTagSize + kKeySize, kMacSize);
}

// 0 or kErrContainer.
int LoadPse(const std::string& dir, Secrets& s) {
  Bytes file;
  if (ReadFile(Join(dir, kMasterKeyFile), 256, file) != 0 || !OpenHashed("ZKMK", file, s.mkey, kKeySize) ||
      ReadFile(Join(dir, kMasksFile), 256, file) != 0 || !OpenHashed("ZKMS", file, s.masks, kKeySize) ||
      ReadFile(Join(dir, kKekFile), 256, file) != 0 || !OpenKek(file, s) ||
      ReadFile(Join(dir, kSeedFile), 256, file) != 0 || !OpenHashed("ZKRS", file, s.seed, kSeedSize))
    return kErrContainer;
  return 0;
}

// 0 or kErrFileWrite; on failure no PSE file is left behind.
int StorePse(const std::string& dir, const Secrets& s) {
  Bytes files[4];
  SealHashed("ZKMK", s.mkey, kKeySize, files[0]);
  SealHashed("ZKMS", s.masks, kKeySize, files[1]);
  SealKek(s, files[2]);
  SealHashed("ZKRS", s.seed, kSeedSize, files[3]);
  for (int i = 0; i < 4; ++i) {
    if (!WriteFile(Join(dir, kPseFiles[i]), files[i].data.data(), files[i].data.size())) {
      for (int j = 0; j < i; ++j) std::remove(Join(dir, kPseFiles[j]).c_str());
      return kErrFileWrite;
    }
  }
  return 0;
}

// ---- opaque keys ----

// (d XOR masks) under the KEK || MAC of d under the master key
void WrapKey(const Secrets& s, const uint8_t d[kKeySize], uint8_t out[kOpaqueSize]) {
  uint8_t masked[kKeySize];
  for (size_t i = 0; i < kKeySize; ++i) masked[i] = static_cast<uint8_t>(d[i] ^ s.masks[i]);
  Substitute(s.kek, true, masked, out);
  gost::Wipe(masked, sizeof masked);
  Mac4(s.mkey, d, kKeySize, out + kKeySize);
}

bool UnwrapKey(const Secrets& s, const uint8_t in[kOpaqueSize], uint8_t d[kKeySize]) {
  Substitute(s.kek, false, in, d);
  for (size_t i = 0; i < kKeySize; ++i) d[i] = static_cast<uint8_t>(d[i] ^ s.masks[i]);
  uint8_t mac[kMacSize];
  Mac4(s.mkey, d, kKeySize, mac);
  if (SameBytes(mac, in + kKeySize, kMacSize) && ValidScalar(d)) return true;
  gost::Wipe(d, kKeySize);
  return false;
}

void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace
}  // namespace ccom

using namespace ccom;

struct CCOM_PSE_CTX {
  uint32_t tag = kTagPseCtx;
  std::string path;
  bool hasMkey = false, hasMasks = false, hasKek = false, hasSeed = false;
  Secrets secrets;
  CCOM_PSE key;  // handed out by PSE_CTX_get_pse; its tag tells whether it holds a key
  CCOM_PSE_CTX() { DropKey(); }
  ~CCOM_PSE_CTX() { tag = kTagDead; }
  void DropKey() {
    gost::Wipe(key.d, sizeof key.d);
    key.tag = kTagDead;
  }
};

namespace {
CCOM_PSE_CTX* Context(CCOM_PSE_CTX* ctx) { return (ctx != nullptr && ctx->tag == kTagPseCtx) ? ctx : nullptr; }
}  // namespace

STANDIN_EXPORT CCOM_PSE_CTX* PSE_CTX_new(void) {
  CCOM_HOOK(nullptr);
  auto* ctx = new (std::nothrow) CCOM_PSE_CTX;
  if (ctx == nullptr) CCOM_FAIL(kErrMemory, nullptr);
  return ctx;
}

STANDIN_EXPORT void PSE_CTX_free(CCOM_PSE_CTX* ctx) {
  CCOM_HOOK_VOID();
  if (Context(ctx) != nullptr) delete ctx;
}

STANDIN_EXPORT int PSE_CTX_set_path(CCOM_PSE_CTX* ctx, const char* path) {
  CCOM_HOOK(0);
  if (Context(ctx) == nullptr || path == nullptr || *path == '\0') CCOM_FAIL(kErrParams, 0);
  ctx->path = Trimmed(path);
  return 1;
}

STANDIN_EXPORT int PSE_CTX_read(CCOM_PSE_CTX* ctx) {
  CCOM_HOOK(0);
  if (Context(ctx) == nullptr || ctx->path.empty()) CCOM_FAIL(kErrParams, 0);
  ctx->DropKey();
  if (IsDirectory(ctx->path)) {
    Secrets s;
    if (LoadPse(ctx->path, s) != 0) CCOM_FAIL(kErrContainer, 0);
    ctx->secrets = s;
    ctx->hasMkey = ctx->hasMasks = ctx->hasKek = ctx->hasSeed = true;
    SeedGenerator(s.seed);
    return 1;
  }
  if (!Exists(ctx->path)) CCOM_FAIL(kErrFileNotFound, 0);
  if (!ctx->hasMkey || !ctx->hasMasks || !ctx->hasKek || !ctx->hasSeed) CCOM_FAIL(kErrParams, 0);
  Bytes file;
  if (int error = ReadFile(ctx->path, kOpaqueSize, file)) CCOM_FAIL(error, 0);
  if (file.data.size() != kOpaqueSize) CCOM_FAIL(kErrPrivateKey, 0);
  if (!UnwrapKey(ctx->secrets, file.data.data(), ctx->key.d)) CCOM_FAIL(kErrPrivateKey, 0);
  ctx->key.tag = kTagPse;
  return 1;
}

STANDIN_EXPORT CCOM_PSE* PSE_CTX_get_pse(CCOM_PSE_CTX* ctx) {
  CCOM_HOOK(nullptr);
  if (Context(ctx) == nullptr) CCOM_FAIL(kErrParams, nullptr);
  if (ctx->key.tag != kTagPse) CCOM_FAIL(kErrPrivateKey, nullptr);
  return &ctx->key;
}

namespace {
int GetPart(CCOM_PSE_CTX* ctx, unsigned char* out, bool CCOM_PSE_CTX::*has, uint8_t* (*part)(Secrets&), size_t size) {
  if (Context(ctx) == nullptr || out == nullptr) CCOM_FAIL(kErrParams, 0);
  if (!(ctx->*has)) CCOM_FAIL(kErrContainer, 0);
  std::memcpy(out, part(ctx->secrets), size);
  return 1;
}

int SetPart(CCOM_PSE_CTX* ctx, const unsigned char* in, bool CCOM_PSE_CTX::*has, uint8_t* (*part)(Secrets&),
            size_t size) {
  if (Context(ctx) == nullptr || in == nullptr) CCOM_FAIL(kErrParams, 0);
  std::memcpy(part(ctx->secrets), in, size);
  ctx->*has = true;
  return 1;
}

uint8_t* MasterKey(Secrets& s) { return s.mkey; }
uint8_t* Masks(Secrets& s) { return s.masks; }
uint8_t* Kek(Secrets& s) { return s.kek; }
uint8_t* Seed(Secrets& s) { return s.seed; }
}  // namespace

STANDIN_EXPORT int PSE_CTX_get_mkey(CCOM_PSE_CTX* ctx, unsigned char* out32) {
  CCOM_HOOK(0);
  return GetPart(ctx, out32, &CCOM_PSE_CTX::hasMkey, MasterKey, kKeySize);
}
STANDIN_EXPORT int PSE_CTX_get_masks(CCOM_PSE_CTX* ctx, unsigned char* out32) {
  CCOM_HOOK(0);
  return GetPart(ctx, out32, &CCOM_PSE_CTX::hasMasks, Masks, kKeySize);
}
STANDIN_EXPORT int PSE_CTX_get_kek(CCOM_PSE_CTX* ctx, unsigned char* out32) {
  CCOM_HOOK(0);
  return GetPart(ctx, out32, &CCOM_PSE_CTX::hasKek, Kek, kKeySize);
}
STANDIN_EXPORT int PSE_CTX_get_rand(CCOM_PSE_CTX* ctx, unsigned char* out64) {
  CCOM_HOOK(0);
  return GetPart(ctx, out64, &CCOM_PSE_CTX::hasSeed, Seed, kSeedSize);
}
STANDIN_EXPORT int PSE_CTX_set_mkey(CCOM_PSE_CTX* ctx, const unsigned char* in32) {
  CCOM_HOOK(0);
  return SetPart(ctx, in32, &CCOM_PSE_CTX::hasMkey, MasterKey, kKeySize);
}
STANDIN_EXPORT int PSE_CTX_set_masks(CCOM_PSE_CTX* ctx, const unsigned char* in32) {
  CCOM_HOOK(0);
  return SetPart(ctx, in32, &CCOM_PSE_CTX::hasMasks, Masks, kKeySize);
}
STANDIN_EXPORT int PSE_CTX_set_kek(CCOM_PSE_CTX* ctx, const unsigned char* in32) {
  CCOM_HOOK(0);
  return SetPart(ctx, in32, &CCOM_PSE_CTX::hasKek, Kek, kKeySize);
}
STANDIN_EXPORT int PSE_CTX_set_rand(CCOM_PSE_CTX* ctx, const unsigned char* in64) {
  CCOM_HOOK(0);
  return SetPart(ctx, in64, &CCOM_PSE_CTX::hasSeed, Seed, kSeedSize);
}

// ---- provisioning ----

namespace {

constexpr size_t kMaxUid = 254;
constexpr size_t kMaxDescription = 734;
constexpr uint32_t kAlgorithmId = 1;

bool PlainText(const char* text) { return std::strpbrk(text, "\r\n") == nullptr; }

// The PSE of dir, made when the directory has none. 0 or an error code.
int OpenOrCreatePse(const std::string& dir, Secrets& s) {
  int present = 0;
  for (const char* name : kPseFiles) present += Exists(Join(dir, name)) ? 1 : 0;
  if (present == 4) return LoadPse(dir, s);
  if (present != 0) return kErrContainer;  // a damaged PSE is never overwritten
  gost::SystemRandom(s.mkey, kKeySize);
  gost::SystemRandom(s.masks, kKeySize);
  gost::SystemRandom(s.kek, kKeySize);
  gost::SystemRandom(s.seed, kSeedSize);
  return StorePse(dir, s);
}

int MakeUser(const char* secretKeyDir, const char* publicKeyFile, const char* uid, const char* description) {
  if (secretKeyDir == nullptr || *secretKeyDir == '\0' || publicKeyFile == nullptr || *publicKeyFile == '\0' ||
      uid == nullptr || description == nullptr)
    return kErrParams;
  const size_t uidLen = std::strlen(uid);
  const size_t descriptionLen = std::strlen(description);
  // The public-key file's text block is split at its line breaks.
  if (uidLen == 0 || uidLen > kMaxUid || descriptionLen > kMaxDescription || !PlainText(uid) || !PlainText(description))
    return kErrParams;

  const std::string dir = Trimmed(secretKeyDir);
  const std::string keysDir = Join(dir, "KEYS");
  std::error_code ec;
  fs::create_directories(fs::path(keysDir), ec);
  if (!IsDirectory(keysDir)) return kErrIo;
  Secrets s;
  if (int error = OpenOrCreatePse(dir, s)) return error;

  std::string keyFile;
  for (int n = 1;; ++n) {
    if (n > 100000) return kErrFileExists;
    keyFile = Join(keysDir, std::to_string(n) + ".sec");
    if (!Exists(keyFile)) break;
  }
  uint8_t d[kKeySize];
  gost::r3410_2001::Point q;
  if (gost::r3410_2001::GenerateSecret(kCurve, d) != gost::kSignOk ||
      gost::r3410_2001::PublicFromSecret(kCurve, d, q) != gost::kSignOk) {
    gost::Wipe(d, sizeof d);
    return kErrKeyGen;
  }
  uint8_t opaque[kOpaqueSize];
  WrapKey(s, d, opaque);
  const bool keyWritten = WriteFile(keyFile, opaque, sizeof opaque);
  gost::Wipe(opaque, sizeof opaque);
  if (!keyWritten) {
    gost::Wipe(d, sizeof d);
    return kErrFileWrite;
  }

  const std::string text = "\r\n" + std::string(uid) + "\r\n" + description + "\r\n";
  uint8_t publicKey[zk::ccom3x::kPublicValueSize];
  EncodePublic(q, publicKey);
  const uint32_t total =
      static_cast<uint32_t>(8 + text.size() + 4 + 4 + sizeof publicKey + 4 + zk::ccom3x::kSignatureSize);
  std::vector<uint8_t> file;
  PutLe32(file, total);
  PutLe32(file, static_cast<uint32_t>(text.size()));
  file.insert(file.end(), text.begin(), text.end());
  PutLe32(file, kAlgorithmId);
  PutLe32(file, sizeof publicKey);
  file.insert(file.end(), publicKey, publicKey + sizeof publicKey);
  PutLe32(file, zk::ccom3x::kSignatureSize);
  // Self-signed as the adapter checks it: the GOST R 34.11-94 digest of everything before.
  uint8_t digest[32];
  HashCryptoPro(file.data(), file.size(), digest);
  uint8_t signature[zk::ccom3x::kSignatureSize];
  const bool signedOk = SignDigest(d, digest, signature);
  gost::Wipe(d, sizeof d);
  if (!signedOk) {
    std::remove(keyFile.c_str());
    return kErrSign;
  }
  file.insert(file.end(), signature, signature + sizeof signature);

  const fs::path parent = fs::path(publicKeyFile).parent_path();
  if (!parent.empty()) fs::create_directories(parent, ec);
  if (!WriteFile(publicKeyFile, file.data(), file.size())) {
    std::remove(keyFile.c_str());  // no key without its public half
    return kErrFileWrite;
  }
  return 0;
}

}  // namespace

STANDIN_EXPORT int CCOM_StandIn_MakeUser(const char* secretKeyDir, const char* publicKeyFile, const char* uid,
                                         const char* description) {
  CCOM_HOOK(0);
  if (int error = MakeUser(secretKeyDir, publicKeyFile, uid, description)) CCOM_FAIL(error, 0);
  return 1;
}
