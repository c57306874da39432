// The calls of the LAN Crypto toolkit ("ct512.dll") as this adapter makes them, and the members of
// the toolkit's contexts that the adapter reads and writes at fixed offsets.
//
// Every function uses the C calling convention and answers a 16-bit signed result (0 success, a
// negative toolkit code otherwise); the two constructors answer a context or null. The CTN_
// functions are the signature ("notary") family, the CTV_ functions the encryption ("Vesta")
// family. A context is a flat block of memory without pointers into itself, so it may be copied
// byte for byte (the touch-memory key image) and released as plain memory.
//
// The declarations name the stand-in's exports; the adapter only takes their types (decltype) and
// resolves the addresses at run time, so nothing links against them.
#pragma once

#include <cstdint>
#include <cstring>

namespace zk::lancrypto {

// Sizes of the two contexts.
constexpr int kSignContextSize = 3424;
constexpr int kVestaContextSize = 6348;

// Signature context members.
constexpr int kSignOwnerUID = 0;        // UID of the key held, zero-terminated
constexpr int kSignShortName = 24;      // short name of the key held (8 bytes, zero-padded)
constexpr int kSignMethodMask = 32;     // methods the key serves (32 bits)
constexpr int kSignHashContext = 752;   // the hash context of CTN_HashInit/Buffer/End
constexpr int kSignHashContextSize = 208;
constexpr int kSignSignature = 960;     // the 92-byte signature of CTN_Sign
constexpr int kSignPassword = 1056;     // pointer to the password (null: read the UID only)

// Encryption context members.
constexpr int kVestaEntryUID = 844;     // UID of the vault entry read, or of the sender (22 + zero)
constexpr int kVestaShortName = 872;    // short name of that entry (8 bytes, zero-padded)
constexpr int kVestaMethodMask = 1024;  // method mask of that entry (32 bits)
constexpr int kVestaHeader = 3412;      // the 60-byte cipher header
constexpr int kVestaPassword = 3476;    // pointer to the password (not aligned: use the accessors)

// Formats the adapter builds on.
constexpr int kUIDChars = 22;
constexpr int kShortNameChars = 8;
constexpr int kSignatureSize = 92;
constexpr int kHeaderSize = 60;
constexpr int kEnvelopeHeaderSize = 4 + kHeaderSize;
constexpr int kHeaderShortName = 12;   // sender short name inside the cipher header
constexpr int kSignatureMethod = 88;   // the 32-bit value read into the verification state

// Methods: signature 256 (GOST R 34.10-2001); encryption 1 (gamma: counts are bytes) and 16
// (gamma with feedback: counts are 8-byte blocks).
constexpr int32_t kMethodSign2001 = 256;
constexpr int32_t kMethodGamma = 1;
constexpr int32_t kMethodFeedback = 16;

// Toolkit results the adapter acts on.
constexpr int16_t kCtOk = 0;
constexpr int16_t kCtWrongPassword = -2;
constexpr int16_t kCtSignKeyDamaged = -5;
constexpr int16_t kCtUnknownUser = -6;
constexpr int16_t kCtWriteError = -8;
constexpr int16_t kCtReadError = -7;
constexpr int16_t kCtNoVault = -11;
constexpr int16_t kCtTempFile = -13;
constexpr int16_t kCtCreateVault = -16;
constexpr int16_t kCtExtraKey = -21;
constexpr int16_t kCtExtraKeyTM = -22;
constexpr int16_t kCtChecksum = -23;
constexpr int16_t kCtNoPublicKey = -24;
constexpr int16_t kCtExpired = -26;
constexpr int16_t kCtExpiresSoon = -27;
constexpr int16_t kCtTMNotFound = -29;
constexpr int16_t kCtAttachTM = -30;
constexpr int16_t kCtBadTM = -35;
constexpr int16_t kCtBadPort = -36;
constexpr int16_t kCtNoConnection = -37;
constexpr int16_t kCtBadSignature = -100;
constexpr int16_t kCtOtherSigner = -101;
constexpr int16_t kCtOldKey = -200;
constexpr int16_t kCtNotForYou = -202;
constexpr int16_t kCtShortNameExists = -209;
constexpr int16_t kCtTreatBeforeRead = -300;
constexpr int16_t kCtBadParameter = -302;
constexpr int16_t kCtHashBeforeInit = -303;
constexpr int16_t kCtSignBeforeHash = -304;
constexpr int16_t kCtVerifyBeforeHash = -305;
constexpr int16_t kCtUnknownSignMethod = -307;
constexpr int16_t kCtWrongSignMethod = -312;
constexpr int16_t kCtUseBeforeFill = -313;

// The password pointer of a context, read and written without assuming its alignment.
inline void SetContextPassword(void* ctx, int offset, const char* password) {
  std::memcpy(static_cast<uint8_t*>(ctx) + offset, &password, sizeof(password));
}
inline const char* ContextPassword(const void* ctx, int offset) {
  const char* password = nullptr;
  std::memcpy(&password, static_cast<const uint8_t*>(ctx) + offset, sizeof(password));
  return password;
}

static_assert(kSignPassword + sizeof(void*) <= kSignContextSize, "signature context too small");
static_assert(kSignHashContext + kSignHashContextSize <= kSignSignature, "hash context overlaps the signature");
static_assert(kVestaHeader + kHeaderSize <= kVestaPassword, "cipher header overlaps the password pointer");
static_assert(kVestaPassword + sizeof(void*) <= kVestaContextSize, "encryption context too small");

}  // namespace zk::lancrypto

extern "C" {
void* CTN_SignConstructor(void);
int16_t CTN_SignDestructor(void* ctx);
int16_t CTN_GetPrivateKeyFile(void* ctx, const char* file);
int16_t CTN_FillPrivateKeyStructure(void* ctx);
int16_t CTN_GetPrivateKeyFromTM(void* ctx, int32_t port);
int16_t CTN_HashInit(void* hash, int32_t method);
int16_t CTN_HashBuffer(void* hash, const void* data, int32_t count);
int16_t CTN_HashEnd(void* hash);
int16_t CTN_Sign(void* ctx, int32_t method);
int16_t CTN_Not(void* ctx);
int16_t CTN_RetrieveInfoFromVault(void* ctx, const char* vault);
int16_t CTN_ReadPublicKeyFromVault(void* ctx, const char* uid, int32_t method);
int16_t CTN_ReadPublicKeyFile(void* ctx, const char* file);
int16_t CTN_ReadFullPublicKeyFile(void* ctx, const char* file);
int16_t CTN_WritePublicKeyToVault(void* ctx, const char* vault);
int16_t CTN_RemovePublicKeyFromVault(void* ctx, const char* shortName, const char* vault);
int16_t CTN_CreateVaultFile(void* ctx, const char* vault);
int16_t CTN_FindFirstPublicKeyInVault(void* ctx);
int16_t CTN_FindNextPublicKeyInVault(void* ctx);

void* CTV_VestaConstructor(void);
int16_t CTV_VestaDestructor(void* ctx);
int16_t CTV_GetPrivateKeyFile(void* ctx, const char* file);
int16_t CTV_FillPrivateKeyStructure(void* ctx);
int16_t CTV_GetPrivateKeyFromTM(void* ctx, int32_t port);
int16_t CTV_RetrieveInfoFromVault(void* ctx, const char* vault);
int16_t CTV_ReadPublicKeyFromVault(void* ctx, const char* uid, int32_t method);
int16_t CTV_ReadPublicKeyFromVaultByShortName(void* ctx, const char* shortName, int32_t method);
int16_t CTV_CryptoInit(void* ctx, int32_t method, int32_t reserved);
int16_t CTV_CryptoBuffer(void* ctx, void* data, int32_t count);
int16_t CTV_DecryptoInit(void* ctx, int32_t method, int32_t reserved);
int16_t CTV_DecryptoBuffer(void* ctx, void* data, int32_t count);
int16_t CTV_FindFirstPublicKeyInVault(void* ctx);
int16_t CTV_FindNextPublicKeyInVault(void* ctx);
int16_t CTV_RemovePublicKeyFromVault(void* ctx, const char* shortName, const char* vault);
int16_t CTV_CreateVaultFile(void* ctx, const char* vault);

// Key management of the toolkit's own programs: resolved by the adapter, never called.
int16_t CTN_CreateNewPrivateKey(void* ctx);
int16_t CTN_SavePrivateKeyStructureToFile(void* ctx);
int16_t CTN_CreatePublicKeyFile(void* ctx);
int16_t CTN_SavePrivateKeyStructureToTM(void* ctx);
int16_t CTN_ErasePrivateKeyTM(void* ctx);
int16_t CTN_CreateFullPublicKeyFile(void* ctx);
int16_t CTV_WCryptoInit(void* ctx);
int16_t CTV_WDecryptoInit(void* ctx);
int16_t CTV_CreateNewKeys(void* ctx);
int16_t CTV_SavePrivateKeyStructureToFile(void* ctx);
int16_t CTV_CreatePublicKeyFile(void* ctx);
int16_t CTV_ReadPublicKeyFile(void* ctx);
int16_t CTV_WritePublicKeyToVault(void* ctx);
int16_t CTV_SavePrivateKeyStructureToTM(void* ctx);
int16_t CTV_ErasePrivateKeyTM(void* ctx);
int16_t CTV_SavePublicKeyToPublicKeyFile(void* ctx);
}

// The 51 names in the order the binding resolves them, each with whether it is required.
#define ZK_CT512_FUNCTIONS \
  X(CTN_RetrieveInfoFromVault, true) \
  X(CTN_ReadPublicKeyFromVault, true) \
  X(CTN_HashInit, true) \
  X(CTN_HashBuffer, true) \
  X(CTN_HashEnd, true) \
  X(CTN_Sign, true) \
  X(CTN_Not, true) \
  X(CTN_GetPrivateKeyFile, true) \
  X(CTN_FillPrivateKeyStructure, true) \
  X(CTN_SignConstructor, true) \
  X(CTN_SignDestructor, true) \
  X(CTN_ReadPublicKeyFile, true) \
  X(CTN_ReadFullPublicKeyFile, false) \
  X(CTN_WritePublicKeyToVault, true) \
  X(CTN_RemovePublicKeyFromVault, true) \
  X(CTN_CreateVaultFile, false) \
  X(CTN_GetPrivateKeyFromTM, true) \
  X(CTN_FindFirstPublicKeyInVault, true) \
  X(CTN_FindNextPublicKeyInVault, true) \
  X(CTV_VestaConstructor, true) \
  X(CTV_VestaDestructor, true) \
  X(CTV_GetPrivateKeyFile, true) \
  X(CTV_FillPrivateKeyStructure, true) \
  X(CTV_RetrieveInfoFromVault, true) \
  X(CTV_ReadPublicKeyFromVault, true) \
  X(CTV_ReadPublicKeyFromVaultByShortName, true) \
  X(CTV_CryptoInit, true) \
  X(CTV_CryptoBuffer, true) \
  X(CTV_DecryptoInit, true) \
  X(CTV_DecryptoBuffer, true) \
  X(CTV_GetPrivateKeyFromTM, true) \
  X(CTV_FindFirstPublicKeyInVault, true) \
  X(CTV_FindNextPublicKeyInVault, true) \
  X(CTV_RemovePublicKeyFromVault, true) \
  X(CTV_CreateVaultFile, false) \
  X(CTN_CreateNewPrivateKey, true) \
  X(CTN_SavePrivateKeyStructureToFile, true) \
  X(CTN_CreatePublicKeyFile, true) \
  X(CTN_SavePrivateKeyStructureToTM, true) \
  X(CTN_ErasePrivateKeyTM, true) \
  X(CTN_CreateFullPublicKeyFile, true) \
  X(CTV_WCryptoInit, true) \
  X(CTV_WDecryptoInit, true) \
  X(CTV_CreateNewKeys, true) \
  X(CTV_SavePrivateKeyStructureToFile, true) \
  X(CTV_CreatePublicKeyFile, true) \
  X(CTV_ReadPublicKeyFile, false) \
  X(CTV_WritePublicKeyToVault, true) \
  X(CTV_SavePrivateKeyStructureToTM, true) \
  X(CTV_ErasePrivateKeyTM, true) \
  X(CTV_SavePublicKeyToPublicKeyFile, true)
