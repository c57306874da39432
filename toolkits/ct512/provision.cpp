// Exports for tests and the demo only: users with key files, public files and touch-memory images,
// the encryption vault (which the adapter never fills), the control entry, and the key
// management calls of the toolkit's own programs, which the adapter resolves but never calls.
#include <cstring>

#include "ct512_internal.h"
#include "standin.h"

namespace ct512 {
namespace {

constexpr uint32_t kSignMask = kMethodSign2001;
constexpr uint32_t kVestaMask = kMethodGamma | kMethodFeedback;

bool FieldOk(const char* text, size_t maxChars) {
  return text != nullptr && text[0] != '\0' && std::strlen(text) <= maxChars;
}

// A new key pair of one family, its private key wrapped under the password.
int MakeKey(const char* uid, const char* shortName, const char* password, uint32_t mask, int32_t expiryDay,
            KeySlot& key) {
  std::memset(&key, 0, sizeof(key));
  CopyUID(key.uid, sizeof(key.uid), uid);
  std::strncpy(key.shortName, shortName, sizeof(key.shortName) - 1);
  key.mask = mask;
  key.expiryDay = expiryDay;
  uint8_t d[32];
  gost::r3410_2001::Point q;
  if (gost::r3410_2001::GenerateSecret(gost::r3410_2001::Curve::CryptoProA, d) != 0 ||
      gost::r3410_2001::PublicFromSecret(gost::r3410_2001::Curve::CryptoProA, d, q) != 0) {
    return -201;  // cannot create the key
  }
  std::memcpy(key.pub, q.x, 32);
  std::memcpy(key.pub + 32, q.y, 32);
  WrapSecret(key, d, password);
  gost::Wipe(d, sizeof(d));
  return 0;
}

PublicEntry EntryOf(const KeySlot& key) {
  PublicEntry e{};
  CopyUID(e.uid, sizeof(e.uid), key.uid);
  std::memcpy(e.shortName, key.shortName, sizeof(e.shortName));
  e.mask = key.mask;
  std::memcpy(e.pub, key.pub, 64);
  return e;
}

// The key slot of a key file of either family.
int ReadAnyKey(const char* keyFile, KeySlot& key) {
  int16_t code = LoadKeyFile(Family::Notary, keyFile, key);
  if (code == kCtSignKeyDamaged) code = LoadKeyFile(Family::Vesta, keyFile, key);
  return code;
}

}  // namespace
}  // namespace ct512

using namespace ct512;

STANDIN_EXPORT int StandIn_Control(const char* command) { return standin::Control(command); }

// Writes a user's signature and encryption key files, the signature public file and the full public
// file (both public keys). expiryDays: 0 never expires, otherwise the keys expire that many days from
// today (negative: already expired). 0 or a negative toolkit code.
STANDIN_EXPORT int CT_StandIn_MakeUser(const char* uid, const char* shortName, const char* password,
                                       const char* signKeyFile, const char* encKeyFile, const char* signPubFile,
                                       const char* fullPubFile, int expiryDays) {
  if (!FieldOk(uid, kUIDChars) || !FieldOk(shortName, kShortNameChars - 1) || password == nullptr ||
      signKeyFile == nullptr || encKeyFile == nullptr) {
    return kCtBadParameter;
  }
  const int32_t expiry = expiryDays == 0 ? 0 : Today() + expiryDays;
  KeySlot sign, vesta;
  int code = MakeKey(uid, shortName, password, kSignMask, expiry, sign);
  if (code == 0) code = MakeKey(uid, shortName, password, kVestaMask, expiry, vesta);
  if (code != 0) return code;
  bool ok = WriteFileReplacing(signKeyFile, EncodeKeyFile(Family::Notary, sign)) &&
            WriteFileReplacing(encKeyFile, EncodeKeyFile(Family::Vesta, vesta));
  if (ok && signPubFile != nullptr) ok = WriteFileReplacing(signPubFile, EncodePublicFile(EntryOf(sign)));
  if (ok && fullPubFile != nullptr) {
    ok = WriteFileReplacing(fullPubFile, EncodeFullPublicFile(EntryOf(sign), EntryOf(vesta)));
  }
  return ok ? 0 : -14;  // cannot create a key file
}

// Puts the encryption key of a full public file into an encryption vault (created when missing).
STANDIN_EXPORT int CT_StandIn_AddToEncryptVault(const char* fullPubFile, const char* vault) {
  std::vector<uint8_t> bytes;
  if (fullPubFile == nullptr || vault == nullptr || !ReadFile(fullPubFile, bytes)) return -1;
  PublicEntry sign{}, vesta{};
  int code = DecodeFullPublicFile(bytes, sign, vesta);
  if (code != 0) return code;
  std::vector<PublicEntry> entries;
  if (ReadVault(Family::Vesta, vault, entries) == kCtNoVault && (code = WriteVault(Family::Vesta, vault, {})) != 0) {
    return code;
  }
  return PutVaultEntry(Family::Vesta, vault, vesta);
}

// Puts the signature key of a public file (signature-only or full) into a signature vault
// (created when missing): what IncludePublicKey does, for provisioning without an engine.
STANDIN_EXPORT int CT_StandIn_AddToSignVault(const char* pubFile, const char* vault) {
  std::vector<uint8_t> bytes;
  if (pubFile == nullptr || vault == nullptr || !ReadFile(pubFile, bytes)) return -1;
  PublicEntry sign{}, vesta{};
  int code = DecodePublicFile(bytes, sign);
  if (code != 0) code = DecodeFullPublicFile(bytes, sign, vesta);
  if (code != 0) return code;
  std::vector<PublicEntry> entries;
  if (ReadVault(Family::Notary, vault, entries) == kCtNoVault && (code = WriteVault(Family::Notary, vault, {})) != 0) {
    return code;
  }
  return PutVaultEntry(Family::Notary, vault, sign);
}

// A touch-memory image holding both key files.
STANDIN_EXPORT int CT_StandIn_WriteTouchMemory(const char* signKeyFile, const char* encKeyFile, const char* image) {
  std::vector<uint8_t> sign, vesta;
  if (signKeyFile == nullptr || encKeyFile == nullptr || image == nullptr || !ReadFile(signKeyFile, sign) ||
      !ReadFile(encKeyFile, vesta)) {
    return -1;
  }
  KeySlot probe;
  if (DecodeKeyFile(Family::Notary, sign.data(), sign.size(), probe) != 0 ||
      DecodeKeyFile(Family::Vesta, vesta.data(), vesta.size(), probe) != 0) {
    return kCtSignKeyDamaged;
  }
  gost::Wipe(&probe, sizeof(probe));
  return WriteFileReplacing(image, EncodeTouchMemory(sign, vesta)) ? 0 : kCtWriteError;
}

// Attaches an image to port 1 or 2; null detaches it. 0, or -36 for another port.
STANDIN_EXPORT int CT_StandIn_SetTouchMemory(int port, const char* image) {
  return AttachTouchMemory(port, image) ? 0 : kCtBadPort;
}

// The public key (x then y, little-endian) of a key file of either family.
STANDIN_EXPORT int CT_StandIn_PublicKey(const char* keyFile, uint8_t* out64) {
  KeySlot key;
  const int code = ReadAnyKey(keyFile, key);
  if (code != 0 || out64 == nullptr) return code != 0 ? code : kCtBadParameter;
  std::memcpy(out64, key.pub, 64);
  return 0;
}

// The private key of a key file, unwrapped with the password: for tests that open an envelope by hand.
STANDIN_EXPORT int CT_StandIn_SecretKey(const char* keyFile, const char* password, uint8_t* out32) {
  KeySlot key;
  int code = ReadAnyKey(keyFile, key);
  if (code == 0 && (password == nullptr || out32 == nullptr)) code = kCtBadParameter;
  if (code == 0) code = UnwrapSecret(key, password);
  if (code == 0) std::memcpy(out32, key.secret, 32);
  gost::Wipe(&key, sizeof(key));
  return code;
}

// Key management of the toolkit's own programs: keys here come from CT_StandIn_MakeUser.
#define CT512_NOT_HERE(name) \
  STANDIN_EXPORT int16_t name(void*) {     \
    const int scripted = standin::Hook(#name); \
    return static_cast<int16_t>(scripted != 0 ? scripted : -19); \
  }
CT512_NOT_HERE(CTN_CreateNewPrivateKey)
CT512_NOT_HERE(CTN_SavePrivateKeyStructureToFile)
CT512_NOT_HERE(CTN_CreatePublicKeyFile)
CT512_NOT_HERE(CTN_SavePrivateKeyStructureToTM)
CT512_NOT_HERE(CTN_ErasePrivateKeyTM)
CT512_NOT_HERE(CTN_CreateFullPublicKeyFile)
CT512_NOT_HERE(CTV_WCryptoInit)
CT512_NOT_HERE(CTV_WDecryptoInit)
CT512_NOT_HERE(CTV_CreateNewKeys)
CT512_NOT_HERE(CTV_SavePrivateKeyStructureToFile)
CT512_NOT_HERE(CTV_CreatePublicKeyFile)
CT512_NOT_HERE(CTV_ReadPublicKeyFile)
CT512_NOT_HERE(CTV_WritePublicKeyToVault)
CT512_NOT_HERE(CTV_SavePrivateKeyStructureToTM)
CT512_NOT_HERE(CTV_ErasePrivateKeyTM)
CT512_NOT_HERE(CTV_SavePublicKeyToPublicKeyFile)
