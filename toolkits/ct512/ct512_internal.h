// The stand-in's contexts, files and helpers. Contexts are flat: every member lives inside the
// caller's block, so the adapter may copy a context and release the copy as plain memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <string>
#include <vector>

#include "engines/lancrypto/ct512_api.h"
#include "gost.h"

namespace ct512 {

using namespace zk::lancrypto;

// One key as the context holds it. The private key stays wrapped until a fill with the right
// password unwraps it into `secret`.
struct KeySlot {
  char uid[24];          // 22 characters and a zero
  char shortName[8];
  uint32_t mask;         // methods the key serves
  uint32_t flags;        // kKeyRead, kKeyFilled, kPublicRead
  int32_t expiryDay;     // days since 1970-01-01; 0: never expires
  uint32_t reserved;
  uint8_t pub[64];       // x then y, little-endian (CryptoPro-A curve)
  uint8_t secret[32];
  uint8_t salt[8];
  uint8_t wrapped[32];
  uint8_t mac[4];
};
constexpr uint32_t kKeyRead = 1, kKeyFilled = 2, kPublicRead = 4;

// GOST R 34.11-94 (test parameters) as flat state.
struct HashState {
  uint32_t magic;        // kHashMagic while a computation runs or after it ended
  int32_t method;
  uint32_t ended;
  uint32_t pendingLen;
  uint64_t bits;
  uint8_t h[32];
  uint8_t sigma[32];
  uint8_t pending[32];
  uint8_t digest[32];
};
constexpr uint32_t kHashMagic = 0x48354354;

struct SignContext {
  KeySlot key;                 // 0: the private key, or the public key read for verification
  char vault[260];             // 188: the vault named by CTN_RetrieveInfoFromVault
  uint32_t enumIndex;          // 448
  uint8_t free1[kSignHashContext - 452];
  HashState hash;              // 752
  uint8_t free2[kSignSignature - kSignHashContext - sizeof(HashState)];
  uint8_t signature[kSignatureSize];  // 960
  uint8_t free3[kSignPassword - kSignSignature - kSignatureSize];
  uint8_t password[sizeof(void*)];    // 1056
  uint8_t rest[kSignContextSize - kSignPassword - sizeof(void*)];
};

struct VestaContext {
  KeySlot key;                 // 0: the own key
  char vault[260];             // 188
  uint32_t enumIndex;          // 448
  uint8_t peerPub[64];         // 452: the recipient's or sender's key
  uint32_t peerRead;           // 516
  int32_t cipherMethod;        // 520
  uint32_t cipherState;        // 524: kCipherNone, kCipherEncrypt, kCipherDecrypt
  uint8_t cek[32];             // 528
  uint8_t mode[64];            // 560: the gamma or feedback mode's state
  uint8_t free1[kVestaEntryUID - 624];
  char entryUID[28];           // 844
  char entryShort[8];          // 872
  uint8_t free2[kVestaMethodMask - kVestaShortName - 8];
  uint32_t entryMask;          // 1024
  uint8_t free3[kVestaHeader - kVestaMethodMask - 4];
  uint8_t header[kHeaderSize]; // 3412
  uint8_t free4[kVestaPassword - kVestaHeader - kHeaderSize];
  uint8_t password[sizeof(void*)];  // 3476
  uint8_t rest[kVestaContextSize - kVestaPassword - sizeof(void*)];
};
constexpr uint32_t kCipherNone = 0, kCipherEncrypt = 1, kCipherDecrypt = 2;

static_assert(sizeof(SignContext) == kSignContextSize, "signature context size");
static_assert(sizeof(VestaContext) == kVestaContextSize, "encryption context size");
static_assert(offsetof(SignContext, key) + offsetof(KeySlot, uid) == kSignOwnerUID, "owner UID");
static_assert(offsetof(KeySlot, shortName) == kSignShortName && offsetof(KeySlot, mask) == kSignMethodMask,
              "signature entry members");
static_assert(offsetof(SignContext, hash) == kSignHashContext && sizeof(HashState) <= kSignHashContextSize,
              "hash context");
static_assert(offsetof(SignContext, signature) == kSignSignature, "signature");
static_assert(offsetof(SignContext, password) == kSignPassword, "signature password pointer");
static_assert(offsetof(VestaContext, entryUID) == kVestaEntryUID, "entry UID");
static_assert(offsetof(VestaContext, entryShort) == kVestaShortName, "entry short name");
static_assert(offsetof(VestaContext, entryMask) == kVestaMethodMask, "entry mask");
static_assert(offsetof(VestaContext, header) == kVestaHeader, "cipher header");
static_assert(offsetof(VestaContext, password) == kVestaPassword, "encryption password pointer");

// --- the digest (hash.cpp) ---
void HashStart(HashState& s, int32_t method);
void HashFeed(HashState& s, const uint8_t* data, size_t len);
void HashFinish(HashState& s);
void Digest(const uint8_t* data, size_t len, uint8_t out[32]);

// --- files (files.cpp) ---
enum class Family : uint8_t { Notary = 'N', Vesta = 'V' };

struct PublicEntry {
  char uid[24];
  char shortName[8];
  uint32_t mask;
  uint8_t pub[64];
};

constexpr size_t kKeyFileSize = 158;
constexpr size_t kPublicFileSize = 110;
constexpr size_t kFullPublicFileSize = 208;

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes);
bool WriteFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes);
// The check value that closes every file: the first four bytes of the digest of what precedes.
void AppendCheck(std::vector<uint8_t>& bytes);
bool CheckOk(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeKeyFile(Family family, const KeySlot& key);
// 0, or -5 for a damaged image.
int16_t DecodeKeyFile(Family family, const uint8_t* image, size_t size, KeySlot& key);
std::vector<uint8_t> EncodePublicFile(const PublicEntry& sign);
std::vector<uint8_t> EncodeFullPublicFile(const PublicEntry& sign, const PublicEntry& vesta);
int16_t DecodePublicFile(const std::vector<uint8_t>& bytes, PublicEntry& sign);
int16_t DecodeFullPublicFile(const std::vector<uint8_t>& bytes, PublicEntry& sign, PublicEntry& vesta);

// Vaults: 0, -11 (missing), -23 (damaged).
int16_t ReadVault(Family family, const std::string& path, std::vector<PublicEntry>& entries);
int16_t WriteVault(Family family, const std::string& path, const std::vector<PublicEntry>& entries);
// Adds or replaces (same UID, a method in common) an entry; -209 when another UID holds the short name.
int16_t PutVaultEntry(Family family, const std::string& path, const PublicEntry& entry);
int16_t RemoveVaultEntry(Family family, const std::string& path, const char* shortName);

// --- keys (keys.cpp) ---
// The private key wrapped under the password, and unwrapped again: -2 for a wrong password.
void WrapSecret(KeySlot& key, const uint8_t secret[32], const char* password);
int16_t UnwrapSecret(KeySlot& key, const char* password);
// The fill both families share: UID only for a null password, -26 expired, -27 expires soon.
int16_t FillKey(KeySlot& key, const char* password);
int16_t LoadKeyFile(Family family, const char* file, KeySlot& key);
int16_t LoadTouchMemory(Family family, int32_t port, KeySlot& key);
bool SameUID(const char* a, const char* b);
void CopyUID(char* dst, size_t dstSize, const char* src);
int32_t Today();

// Touch-memory image files attached per port (1 and 2); an image holds both key files.
bool AttachTouchMemory(int32_t port, const char* imagePath);
std::vector<uint8_t> EncodeTouchMemory(const std::vector<uint8_t>& signKey, const std::vector<uint8_t>& vestaKey);

// A scripted answer for `function` (0: go on). Answers that the toolkit gives after doing the work
// (-27 from a fill, -200 from a decryption) are handed back in `after` instead.
int16_t Scripted(const char* function, int16_t& after, std::initializer_list<int16_t> answeredAfterWork = {});

// Every export goes through here: the scripted answer first, then the work; nothing escapes.
template <typename Work>
int16_t Run(const char* function, Work work, std::initializer_list<int16_t> late = {}) {
  int16_t after = 0;
  const int16_t scripted = Scripted(function, after, late);
  if (scripted != 0) return scripted;
  try {
    const int16_t code = work();
    return after != 0 && (code == kCtOk || code == kCtExpiresSoon) ? after : code;
  } catch (const std::bad_alloc&) {
    return -12;  // not enough memory
  } catch (...) {
    return kCtBadParameter;  // nothing may unwind into the caller
  }
}

}  // namespace ct512
