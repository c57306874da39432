// The signature ("notary") family: private keys from files and touch memory, the digest, the
// signature, its check against a vault, and the vault upkeep.
#include <cstdlib>
#include <cstring>
#include <new>

#include "ct512_internal.h"
#include "standin.h"

namespace ct512 {

namespace {

SignContext* AsSign(void* ctx) { return static_cast<SignContext*>(ctx); }

HashState* AsHash(void* hash) { return static_cast<HashState*>(hash); }

PublicEntry EntryOf(const KeySlot& key) {
  PublicEntry e{};
  CopyUID(e.uid, sizeof(e.uid), key.uid);
  std::memcpy(e.shortName, key.shortName, sizeof(e.shortName));
  e.mask = key.mask;
  std::memcpy(e.pub, key.pub, 64);
  return e;
}

// The public key of an entry takes the place of whatever key the context held.
void HoldPublic(KeySlot& key, const PublicEntry& e) {
  gost::Wipe(&key, sizeof(key));
  CopyUID(key.uid, sizeof(key.uid), e.uid);
  std::memcpy(key.shortName, e.shortName, sizeof(key.shortName));
  key.mask = e.mask;
  std::memcpy(key.pub, e.pub, 64);
  key.flags = kPublicRead;
}

int16_t StoreVaultName(char (&field)[260], const char* vault) {
  if (vault == nullptr) return kCtBadParameter;
  if (std::strlen(vault) >= sizeof(field)) return -28;  // name too long for the vault
  std::memset(field, 0, sizeof(field));
  std::strcpy(field, vault);
  return kCtOk;
}

int16_t ReadPublicFile(void* ctx, const char* file, bool full) {
  if (ctx == nullptr || file == nullptr) return kCtBadParameter;
  std::vector<uint8_t> bytes;
  if (!ReadFile(file, bytes)) return -1;
  PublicEntry sign{}, vesta{};
  const int16_t code = full ? DecodeFullPublicFile(bytes, sign, vesta) : DecodePublicFile(bytes, sign);
  if (code == kCtOk) HoldPublic(AsSign(ctx)->key, sign);
  return code;
}

int16_t EnumerateNotary(void* ctx, bool first) {
  if (ctx == nullptr) return kCtBadParameter;
  SignContext& c = *AsSign(ctx);
  std::vector<PublicEntry> entries;
  const int16_t code = ReadVault(Family::Notary, c.vault, entries);
  if (code != kCtOk) return code;
  if (first) c.enumIndex = 0;
  if (c.enumIndex >= entries.size()) return kCtUnknownUser;
  HoldPublic(c.key, entries[c.enumIndex++]);
  return kCtOk;
}

}  // namespace

}  // namespace ct512

using namespace ct512;

STANDIN_EXPORT void* CTN_SignConstructor(void) {
  if (standin::Hook("CTN_SignConstructor") != 0) return nullptr;
  return std::calloc(1, sizeof(SignContext));
}

STANDIN_EXPORT int16_t CTN_SignDestructor(void* ctx) {
  // A scripted failure is answered, but the context is released all the same: the caller has
  // nothing left to retry with, so memory kept here would only be lost.
  const int16_t code = Run("CTN_SignDestructor", []() -> int16_t { return kCtOk; });
  if (ctx == nullptr) return kCtBadParameter;
  gost::Wipe(ctx, sizeof(SignContext));
  std::free(ctx);
  return code;
}

STANDIN_EXPORT int16_t CTN_GetPrivateKeyFile(void* ctx, const char* file) {
  return Run("CTN_GetPrivateKeyFile", [&]() -> int16_t {
    return ctx == nullptr ? kCtBadParameter : LoadKeyFile(Family::Notary, file, AsSign(ctx)->key);
  });
}

STANDIN_EXPORT int16_t CTN_GetPrivateKeyFromTM(void* ctx, int32_t port) {
  return Run("CTN_GetPrivateKeyFromTM", [&]() -> int16_t {
    return ctx == nullptr ? kCtBadParameter : LoadTouchMemory(Family::Notary, port, AsSign(ctx)->key);
  });
}

STANDIN_EXPORT int16_t CTN_FillPrivateKeyStructure(void* ctx) {
  return Run(
      "CTN_FillPrivateKeyStructure",
      [&]() -> int16_t {
        return ctx == nullptr ? kCtBadParameter : FillKey(AsSign(ctx)->key, ContextPassword(ctx, kSignPassword));
      },
      {kCtExpiresSoon});
}

STANDIN_EXPORT int16_t CTN_HashInit(void* hash, int32_t method) {
  return Run("CTN_HashInit", [&]() -> int16_t {
    if (hash == nullptr) return kCtBadParameter;
    if (method != kMethodSign2001) return kCtUnknownSignMethod;
    HashStart(*AsHash(hash), method);
    return kCtOk;
  });
}

STANDIN_EXPORT int16_t CTN_HashBuffer(void* hash, const void* data, int32_t count) {
  return Run("CTN_HashBuffer", [&]() -> int16_t {
    if (hash == nullptr || count < 0 || (data == nullptr && count > 0)) return kCtBadParameter;
    HashState& s = *AsHash(hash);
    if (s.magic != kHashMagic || s.ended) return kCtHashBeforeInit;
    HashFeed(s, static_cast<const uint8_t*>(data), static_cast<size_t>(count));
    return kCtOk;
  });
}

STANDIN_EXPORT int16_t CTN_HashEnd(void* hash) {
  return Run("CTN_HashEnd", [&]() -> int16_t {
    if (hash == nullptr) return kCtBadParameter;
    HashState& s = *AsHash(hash);
    if (s.magic != kHashMagic || s.ended) return kCtHashBeforeInit;
    HashFinish(s);
    return kCtOk;
  });
}

STANDIN_EXPORT int16_t CTN_Sign(void* ctx, int32_t method) {
  return Run("CTN_Sign", [&]() -> int16_t {
    if (ctx == nullptr) return kCtBadParameter;
    SignContext& c = *AsSign(ctx);
    if (method != kMethodSign2001) return kCtUnknownSignMethod;
    if ((c.key.flags & kKeyFilled) == 0 || c.hash.magic != kHashMagic || !c.hash.ended) return kCtSignBeforeHash;
    if ((c.key.mask & static_cast<uint32_t>(method)) == 0) return kCtWrongSignMethod;
    uint8_t rs[64];
    if (gost::r3410_2001::Sign(gost::r3410_2001::Curve::CryptoProA, c.key.secret, c.hash.digest, rs) != 0) {
      return kCtSignBeforeHash;
    }
    std::memset(c.signature, 0, sizeof(c.signature));
    std::memcpy(c.signature, c.key.uid, strnlen(c.key.uid, kUIDChars));
    std::memcpy(c.signature + kUIDChars, rs, 64);
    for (int i = 0; i < 4; ++i) c.signature[kSignatureMethod + i] = static_cast<uint8_t>(method >> (8 * i));
    return kCtOk;
  });
}

STANDIN_EXPORT int16_t CTN_Not(void* ctx) {
  return Run("CTN_Not", [&]() -> int16_t {
    if (ctx == nullptr) return kCtBadParameter;
    SignContext& c = *AsSign(ctx);
    if ((c.key.flags & kPublicRead) == 0 || c.hash.magic != kHashMagic || !c.hash.ended) return kCtVerifyBeforeHash;
    // The whole field, its zero padding included, must name the key's owner.
    if (std::memcmp(c.signature, c.key.uid, kUIDChars) != 0) return kCtOtherSigner;
    const uint32_t method = uint32_t(c.signature[88]) | uint32_t(c.signature[89]) << 8 |
                            uint32_t(c.signature[90]) << 16 | uint32_t(c.signature[91]) << 24;
    if (method != kMethodSign2001 || (c.key.mask & method) == 0) return kCtWrongSignMethod;
    if (c.signature[86] != 0 || c.signature[87] != 0) return kCtBadSignature;  // spare bytes are zero
    gost::r3410_2001::Point q;
    std::memcpy(q.x, c.key.pub, 32);
    std::memcpy(q.y, c.key.pub + 32, 32);
    return gost::r3410_2001::Verify(gost::r3410_2001::Curve::CryptoProA, q, c.hash.digest,
                                    c.signature + kUIDChars) == 0
               ? kCtOk
               : kCtBadSignature;
  });
}

STANDIN_EXPORT int16_t CTN_RetrieveInfoFromVault(void* ctx, const char* vault) {
  return Run("CTN_RetrieveInfoFromVault", [&]() -> int16_t {
    if (ctx == nullptr || vault == nullptr) return kCtBadParameter;
    std::vector<PublicEntry> entries;
    const int16_t code = ReadVault(Family::Notary, vault, entries);
    return code != kCtOk ? code : StoreVaultName(AsSign(ctx)->vault, vault);
  });
}

STANDIN_EXPORT int16_t CTN_ReadPublicKeyFromVault(void* ctx, const char* uid, int32_t method) {
  return Run("CTN_ReadPublicKeyFromVault", [&]() -> int16_t {
    if (ctx == nullptr || uid == nullptr) return kCtBadParameter;
    SignContext& c = *AsSign(ctx);
    std::vector<PublicEntry> entries;
    const int16_t code = ReadVault(Family::Notary, c.vault, entries);
    if (code != kCtOk) return code;
    for (const PublicEntry& e : entries) {
      if (SameUID(e.uid, uid) && (e.mask & static_cast<uint32_t>(method)) != 0) {
        HoldPublic(c.key, e);
        return kCtOk;
      }
    }
    return kCtUnknownUser;
  });
}

STANDIN_EXPORT int16_t CTN_ReadPublicKeyFile(void* ctx, const char* file) {
  return Run("CTN_ReadPublicKeyFile", [&] { return ReadPublicFile(ctx, file, false); });
}

STANDIN_EXPORT int16_t CTN_ReadFullPublicKeyFile(void* ctx, const char* file) {
  return Run("CTN_ReadFullPublicKeyFile", [&] { return ReadPublicFile(ctx, file, true); });
}

STANDIN_EXPORT int16_t CTN_WritePublicKeyToVault(void* ctx, const char* vault) {
  return Run("CTN_WritePublicKeyToVault", [&]() -> int16_t {
    if (ctx == nullptr || vault == nullptr) return kCtBadParameter;
    const KeySlot& key = AsSign(ctx)->key;
    if ((key.flags & kPublicRead) == 0) return kCtNoPublicKey;
    return PutVaultEntry(Family::Notary, vault, EntryOf(key));
  });
}

STANDIN_EXPORT int16_t CTN_RemovePublicKeyFromVault(void* ctx, const char* shortName, const char* vault) {
  return Run("CTN_RemovePublicKeyFromVault", [&]() -> int16_t {
    if (ctx == nullptr || shortName == nullptr || vault == nullptr) return kCtBadParameter;
    return RemoveVaultEntry(Family::Notary, vault, shortName);
  });
}

STANDIN_EXPORT int16_t CTN_CreateVaultFile(void* ctx, const char* vault) {
  return Run("CTN_CreateVaultFile", [&]() -> int16_t {
    if (ctx == nullptr || vault == nullptr) return kCtBadParameter;
    return WriteVault(Family::Notary, vault, {});
  });
}

STANDIN_EXPORT int16_t CTN_FindFirstPublicKeyInVault(void* ctx) {
  return Run("CTN_FindFirstPublicKeyInVault", [&] { return EnumerateNotary(ctx, true); });
}

STANDIN_EXPORT int16_t CTN_FindNextPublicKeyInVault(void* ctx) {
  return Run("CTN_FindNextPublicKeyInVault", [&] { return EnumerateNotary(ctx, false); });
}
