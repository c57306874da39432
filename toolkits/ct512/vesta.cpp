// The encryption ("Vesta") family: private keys, the correspondents' vault, and the envelope
// cipher: a fresh content key per message, wrapped for the recipient under a key agreed by VKO
// GOST R 34.10-2001 (the RFC 4357 key wrap), the data in gamma or gamma-with-feedback mode.
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "ct512_internal.h"
#include "standin.h"

namespace ct512 {
namespace {

using gost::r3410_2001::Curve;
using gost::r3410_2001::Point;

// Header fields (60 bytes): method, recipient key check, content-key MAC, sender short name,
// UKM (also the data's initial vector), wrapped content key.
constexpr int kHMethod = 0, kHCheck = 4, kHMac = 8, kHShort = kHeaderShortName, kHUkm = 20, kHWrapped = 28;
static_assert(kHWrapped + 32 == kHeaderSize, "header layout");

static_assert(std::is_trivially_copyable<gost::GammaMode>::value && sizeof(gost::GammaMode) <= 64, "gamma state");
static_assert(std::is_trivially_copyable<gost::GammaFeedbackMode>::value && sizeof(gost::GammaFeedbackMode) <= 64,
              "feedback state");

VestaContext* AsVesta(void* ctx) { return static_cast<VestaContext*>(ctx); }

bool KnownMethod(int32_t method) { return method == kMethodGamma || method == kMethodFeedback; }

void KeyCheck(const uint8_t pub[64], uint8_t out[4]) {
  uint8_t digest[32];
  Digest(pub, 64, digest);
  std::memcpy(out, digest, 4);
}

// VKO GOST R 34.10-2001: the CryptoPro digest of UKM * d * Q.
bool AgreeKey(const uint8_t secret[32], const uint8_t peerPub[64], const uint8_t ukm[8], uint8_t kek[32]) {
  Point peer;
  std::memcpy(peer.x, peerPub, 32);
  std::memcpy(peer.y, peerPub + 32, 32);
  return gost::vko2001::Agree(Curve::CryptoProA, secret, peer, ukm, true, kek) == gost::kSignOk;
}

// The MAC of the content key with the UKM as initial value.
void KeyMac(const gost::Gost28147& kek, const uint8_t ukm[8], const uint8_t cek[32], uint8_t out[4]) {
  uint8_t data[32];
  std::memcpy(data, cek, 32);
  for (int i = 0; i < 8; ++i) data[i] ^= ukm[i];
  gost::MacMode mac;
  mac.Init(&kek);
  mac.Update(data, 32);
  uint8_t full[8];
  mac.Final(full);
  std::memcpy(out, full, 4);
  gost::Wipe(data, sizeof(data));
}

void StartMode(VestaContext& c, const uint8_t iv[8]) {
  gost::Gost28147 cipher;
  cipher.SetKey(c.cek, gost::kSboxR3411TestParams);
  std::memset(c.mode, 0, sizeof(c.mode));
  if (c.cipherMethod == kMethodGamma) {
    gost::GammaMode m;
    m.Init(&cipher, iv);
    m.Rebind(nullptr);
    std::memcpy(c.mode, &m, sizeof(m));
  } else {
    gost::GammaFeedbackMode m;
    m.Init(&cipher, iv);
    m.Rebind(nullptr);
    std::memcpy(c.mode, &m, sizeof(m));
  }
}

void RunMode(VestaContext& c, uint8_t* data, size_t len, bool encrypt) {
  gost::Gost28147 cipher;
  cipher.SetKey(c.cek, gost::kSboxR3411TestParams);
  if (c.cipherMethod == kMethodGamma) {
    gost::GammaMode m;
    std::memcpy(&m, c.mode, sizeof(m));
    m.Rebind(&cipher);
    m.Crypt(data, data, len);
    m.Rebind(nullptr);
    std::memcpy(c.mode, &m, sizeof(m));
  } else {
    gost::GammaFeedbackMode m;
    std::memcpy(&m, c.mode, sizeof(m));
    m.Rebind(&cipher);
    encrypt ? m.Encrypt(data, data, len) : m.Decrypt(data, data, len);
    m.Rebind(nullptr);
    std::memcpy(c.mode, &m, sizeof(m));
  }
}

int16_t ReadyForCipher(const VestaContext& c, int32_t method) {
  if (!KnownMethod(method)) return kCtBadParameter;
  if ((c.key.flags & kKeyFilled) == 0) return kCtUseBeforeFill;
  if (!c.peerRead) return -309;  // initialisation before reading
  if ((c.key.mask & static_cast<uint32_t>(method)) == 0 || (c.entryMask & static_cast<uint32_t>(method)) == 0) {
    return -214;  // different methods
  }
  return kCtOk;
}

int16_t Encrypt(VestaContext& c, int32_t method) {
  int16_t code = ReadyForCipher(c, method);
  if (code != kCtOk) return code;
  uint8_t* h = c.header;
  std::memset(h, 0, kHeaderSize);
  for (int i = 0; i < 4; ++i) h[kHMethod + i] = static_cast<uint8_t>(method >> (8 * i));
  KeyCheck(c.peerPub, h + kHCheck);
  std::memcpy(h + kHShort, c.key.shortName, kShortNameChars);
  gost::SystemRandom(h + kHUkm, 8);
  gost::SystemRandom(c.cek, sizeof(c.cek));
  uint8_t kek[32];
  if (!AgreeKey(c.key.secret, c.peerPub, h + kHUkm, kek)) return kCtNotForYou;
  gost::Gost28147 wrap;
  wrap.SetKey(kek, gost::kSboxR3411TestParams);
  gost::Wipe(kek, sizeof(kek));
  for (int i = 0; i < 32; i += 8) wrap.EncryptBlock(c.cek + i, h + kHWrapped + i);
  KeyMac(wrap, h + kHUkm, c.cek, h + kHMac);
  c.cipherMethod = method;
  StartMode(c, h + kHUkm);
  c.cipherState = kCipherEncrypt;
  return kCtOk;
}

int16_t Decrypt(VestaContext& c, int32_t method) {
  const uint8_t* h = c.header;
  const int32_t headerMethod = int32_t(h[0]) | int32_t(h[1]) << 8 | int32_t(h[2]) << 16 | int32_t(h[3]) << 24;
  int16_t code = ReadyForCipher(c, method);
  if (code != kCtOk) return code;
  if (headerMethod != method) return -214;
  // The sender's short name fills its field with zeros; any other byte there is damage.
  if (std::memcmp(h + kHShort, c.entryShort, kShortNameChars) != 0) return -208;
  uint8_t check[4];
  KeyCheck(c.key.pub, check);
  if (std::memcmp(check, h + kHCheck, 4) != 0) return kCtNotForYou;
  uint8_t kek[32], mac[4];
  if (!AgreeKey(c.key.secret, c.peerPub, h + kHUkm, kek)) return kCtChecksum;
  gost::Gost28147 wrap;
  wrap.SetKey(kek, gost::kSboxR3411TestParams);
  gost::Wipe(kek, sizeof(kek));
  for (int i = 0; i < 32; i += 8) wrap.DecryptBlock(h + kHWrapped + i, c.cek + i);
  KeyMac(wrap, h + kHUkm, c.cek, mac);
  if (std::memcmp(mac, h + kHMac, 4) != 0) {
    gost::Wipe(c.cek, sizeof(c.cek));
    return kCtChecksum;
  }
  c.cipherMethod = method;
  StartMode(c, h + kHUkm);
  c.cipherState = kCipherDecrypt;
  return kCtOk;
}

int16_t Transform(void* ctx, void* data, int32_t count, uint32_t state) {
  if (ctx == nullptr || count < 0 || (data == nullptr && count > 0)) return kCtBadParameter;
  VestaContext& c = *AsVesta(ctx);
  if (c.cipherState != state) return -310;  // encryption before initialisation
  const uint64_t bytes = c.cipherMethod == kMethodGamma ? uint64_t(count) : uint64_t(count) * 8;
  RunMode(c, static_cast<uint8_t*>(data), static_cast<size_t>(bytes), state == kCipherEncrypt);
  return kCtOk;
}

void HoldEntry(VestaContext& c, const PublicEntry& e) {
  std::memcpy(c.peerPub, e.pub, 64);
  c.peerRead = 1;
  CopyUID(c.entryUID, sizeof(c.entryUID), e.uid);
  std::memset(c.entryShort, 0, sizeof(c.entryShort));
  std::memcpy(c.entryShort, e.shortName, sizeof(c.entryShort));
  c.entryMask = e.mask;
}

template <typename Match>
int16_t ReadEntry(void* ctx, Match match) {
  if (ctx == nullptr) return kCtBadParameter;
  VestaContext& c = *AsVesta(ctx);
  std::vector<PublicEntry> entries;
  const int16_t code = ReadVault(Family::Vesta, c.vault, entries);
  if (code != kCtOk) return code;
  for (const PublicEntry& e : entries) {
    if (match(e)) {
      HoldEntry(c, e);
      return kCtOk;
    }
  }
  return kCtUnknownUser;
}

int16_t EnumerateVesta(void* ctx, bool first) {
  if (ctx == nullptr) return kCtBadParameter;
  VestaContext& c = *AsVesta(ctx);
  std::vector<PublicEntry> entries;
  const int16_t code = ReadVault(Family::Vesta, c.vault, entries);
  if (code != kCtOk) return code;
  if (first) c.enumIndex = 0;
  if (c.enumIndex >= entries.size()) return kCtUnknownUser;
  HoldEntry(c, entries[c.enumIndex++]);
  return kCtOk;
}

// Until a vault entry is read, the entry UID shows the owner of the key just read.
int16_t ShowOwner(VestaContext& c, int16_t code) {
  if (code == kCtOk) CopyUID(c.entryUID, sizeof(c.entryUID), c.key.uid);
  return code;
}

}  // namespace
}  // namespace ct512

using namespace ct512;

STANDIN_EXPORT void* CTV_VestaConstructor(void) {
  if (standin::Hook("CTV_VestaConstructor") != 0) return nullptr;
  return std::calloc(1, sizeof(VestaContext));
}

STANDIN_EXPORT int16_t CTV_VestaDestructor(void* ctx) {
  // A scripted failure is answered, but the context is released all the same: the caller has
  // nothing left to retry with, so memory kept here would only be lost.
  const int16_t code = Run("CTV_VestaDestructor", []() -> int16_t { return kCtOk; });
  if (ctx == nullptr) return kCtBadParameter;
  gost::Wipe(ctx, sizeof(VestaContext));
  std::free(ctx);
  return code;
}

STANDIN_EXPORT int16_t CTV_GetPrivateKeyFile(void* ctx, const char* file) {
  return Run("CTV_GetPrivateKeyFile", [&]() -> int16_t {
    return ctx == nullptr ? kCtBadParameter : ShowOwner(*AsVesta(ctx), LoadKeyFile(Family::Vesta, file, AsVesta(ctx)->key));
  });
}

STANDIN_EXPORT int16_t CTV_GetPrivateKeyFromTM(void* ctx, int32_t port) {
  return Run("CTV_GetPrivateKeyFromTM", [&]() -> int16_t {
    return ctx == nullptr ? kCtBadParameter : ShowOwner(*AsVesta(ctx), LoadTouchMemory(Family::Vesta, port, AsVesta(ctx)->key));
  });
}

STANDIN_EXPORT int16_t CTV_FillPrivateKeyStructure(void* ctx) {
  return Run(
      "CTV_FillPrivateKeyStructure",
      [&]() -> int16_t {
        return ctx == nullptr ? kCtBadParameter : FillKey(AsVesta(ctx)->key, ContextPassword(ctx, kVestaPassword));
      },
      {kCtExpiresSoon});
}

STANDIN_EXPORT int16_t CTV_RetrieveInfoFromVault(void* ctx, const char* vault) {
  return Run("CTV_RetrieveInfoFromVault", [&]() -> int16_t {
    if (ctx == nullptr || vault == nullptr) return kCtBadParameter;
    std::vector<PublicEntry> entries;
    const int16_t code = ReadVault(Family::Vesta, vault, entries);
    if (code != kCtOk) return code;
    char(&field)[260] = AsVesta(ctx)->vault;
    if (std::strlen(vault) >= sizeof(field)) return -28;
    std::memset(field, 0, sizeof(field));
    std::strcpy(field, vault);
    return kCtOk;
  });
}

STANDIN_EXPORT int16_t CTV_ReadPublicKeyFromVault(void* ctx, const char* uid, int32_t method) {
  return Run("CTV_ReadPublicKeyFromVault", [&]() -> int16_t {
    if (uid == nullptr) return kCtBadParameter;
    return ReadEntry(ctx, [&](const PublicEntry& e) {
      return SameUID(e.uid, uid) && (e.mask & static_cast<uint32_t>(method)) != 0;
    });
  });
}

STANDIN_EXPORT int16_t CTV_ReadPublicKeyFromVaultByShortName(void* ctx, const char* shortName, int32_t method) {
  return Run("CTV_ReadPublicKeyFromVaultByShortName", [&]() -> int16_t {
    if (shortName == nullptr) return kCtBadParameter;
    return ReadEntry(ctx, [&](const PublicEntry& e) {
      return std::strncmp(e.shortName, shortName, kShortNameChars) == 0 &&
             (e.mask & static_cast<uint32_t>(method)) != 0;
    });
  });
}

STANDIN_EXPORT int16_t CTV_CryptoInit(void* ctx, int32_t method, int32_t reserved) {
  (void)reserved;
  return Run("CTV_CryptoInit", [&]() -> int16_t { return ctx == nullptr ? kCtBadParameter : Encrypt(*AsVesta(ctx), method); });
}

STANDIN_EXPORT int16_t CTV_CryptoBuffer(void* ctx, void* data, int32_t count) {
  return Run("CTV_CryptoBuffer", [&] { return Transform(ctx, data, count, kCipherEncrypt); });
}

STANDIN_EXPORT int16_t CTV_DecryptoInit(void* ctx, int32_t method, int32_t reserved) {
  (void)reserved;
  return Run(
      "CTV_DecryptoInit", [&]() -> int16_t { return ctx == nullptr ? kCtBadParameter : Decrypt(*AsVesta(ctx), method); },
      {kCtOldKey});
}

STANDIN_EXPORT int16_t CTV_DecryptoBuffer(void* ctx, void* data, int32_t count) {
  return Run("CTV_DecryptoBuffer", [&] { return Transform(ctx, data, count, kCipherDecrypt); }, {kCtOldKey});
}

STANDIN_EXPORT int16_t CTV_FindFirstPublicKeyInVault(void* ctx) {
  return Run("CTV_FindFirstPublicKeyInVault", [&] { return EnumerateVesta(ctx, true); });
}

STANDIN_EXPORT int16_t CTV_FindNextPublicKeyInVault(void* ctx) {
  return Run("CTV_FindNextPublicKeyInVault", [&] { return EnumerateVesta(ctx, false); });
}

STANDIN_EXPORT int16_t CTV_RemovePublicKeyFromVault(void* ctx, const char* shortName, const char* vault) {
  return Run("CTV_RemovePublicKeyFromVault", [&]() -> int16_t {
    if (ctx == nullptr || shortName == nullptr || vault == nullptr) return kCtBadParameter;
    return RemoveVaultEntry(Family::Vesta, vault, shortName);
  });
}

STANDIN_EXPORT int16_t CTV_CreateVaultFile(void* ctx, const char* vault) {
  return Run("CTV_CreateVaultFile", [&]() -> int16_t {
    if (ctx == nullptr || vault == nullptr) return kCtBadParameter;
    return WriteVault(Family::Vesta, vault, {});
  });
}
