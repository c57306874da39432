// The calls of the Excellence 4.0 toolkit ("cryst.dll") as this adapter makes them, and the
// records it exchanges with the toolkit. Shared by the binding and the stand-in toolkit, so the
// compiler checks both sides against one declaration.
//
// Every function uses the stdcall convention on Win32. A context is an opaque handle returned by
// OpenCrypto (null on failure). Functions answering int32 return 0 for success or a toolkit code;
// those declared "BOOL" answer non-zero for success and leave their code for CryptoGetLastError.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define CRYST_CALL __stdcall
#else
#define CRYST_CALL
#endif

namespace zk::excellence {

// Filled by CryptoMemoryToNewMemory, zeroed by the caller first; Data goes back through
// CryptoFreeMemory.
struct CryptoResult {
  uint8_t* Data;
  int32_t Length;
  int32_t Reserved;
};

// Returned by GetMemoryCryptoStatus, released by FreeCryptoStatus. Count is the number of
// recipients of an envelope (0 for signed data); SenderKeyId is all zero when the buffer is not an
// envelope; SignerKeyId is null when the buffer is not signed.
struct CryptoStatus {
  int32_t Count;
  int32_t Reserved;
  uint8_t SenderKeyId[8];
  int32_t Reserved2;
  const uint8_t* SignerKeyId;
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(CryptoResult) == 12, "the toolkit's result buffer is three 32-bit fields");
static_assert(offsetof(CryptoStatus, SenderKeyId) == 8, "sender key id at byte 8");
static_assert(offsetof(CryptoStatus, SignerKeyId) == 20, "signer key id pointer at byte 20");
#endif

// User attributes of GetUserAttributes.
enum UserAttribute : int32_t {
  kAttrUserNumber = 1,  // int32; 0 is the owner of the secret keys
  kAttrKeyId = 2,       // 8 bytes
  kAttrUID = 3,         // up to 16 characters and a NUL
  kAttrGeneration = 5,  // int32: the generation of the user's current key
};
constexpr int32_t kKeyIdSize = 8;
constexpr int32_t kToolkitUIDSize = 17;

// Settings of SetUserSettings: (pointer, length) values, strings without their NUL.
enum UserSetting : int32_t {
  kSetSecretKeyDir = 2,
  kSetPublicKeyDir = 3,
  kSetSignatureAlg = 4,
  kSetEncryptionAlg = 5,
  kSetSignatureKeyLen = 7,   // 16-bit
  kSetExchangeKeyLen = 8,    // 16-bit
  kSetLanguage = 13,
  kSetReserved15 = 15,       // int32 0
  kSetReserved17 = 17,       // int32 0
  kSetReserved18 = 18,       // int32 0
  kSetDeviceDll = 20,
  kSetPort = 21,             // int32
  kSetDeviceType = 22,       // int32
  kSetWorkDir = 24,
  kSetMasterKeyFile = 25,
};

// The toolkit's answers the adapter relies on.
constexpr int32_t kToolkitPasswordNeeded = 57;  // no password, or a wrong one
constexpr int32_t kToolkitDeviceAbsent = 92;    // the touch-memory key is not attached

}  // namespace zk::excellence

extern "C" {
using zk::excellence::CryptoResult;
using zk::excellence::CryptoStatus;
typedef void* CrystContext;

CrystContext CRYST_CALL OpenCrypto(int32_t Mode);
int32_t CRYST_CALL BeginCrypto(CrystContext Context, const char* Password, const char* Reserved);
int32_t CRYST_CALL EndCrypto(CrystContext Context);
int32_t CRYST_CALL CloseCrypto(CrystContext Context);
int32_t CRYST_CALL IsPasswordSet(CrystContext Context);  // BOOL
int32_t CRYST_CALL ChangePassword(CrystContext Context, const char* OldPassword, const char* NewPassword);
int32_t CRYST_CALL CryptoGetLastError(CrystContext Context);
int32_t CRYST_CALL SecretKeyDirectory(CrystContext Context, char* Buffer, int32_t Size);  // BOOL
int32_t CRYST_CALL InitUser(CrystContext Context, const char* UID, const char* Password);
// The text of the last failed command; owned by the context, valid until its next call.
const char* CRYST_CALL GetCryptoMessage(CrystContext Context);
// The text of Code into Buffer (at most MaxLen bytes with the NUL); answers the text's length.
int32_t CRYST_CALL MakeCryptoMessage(CrystContext Context, int32_t Reserved, int32_t Code, char* Buffer,
                                     int32_t MaxLen, const char* Reserved2);
int32_t CRYST_CALL Crypto(CrystContext Context, const char* Options);
int32_t CRYST_CALL CryptoFile(CrystContext Context, const char* FileName, const char* Options);
int32_t CRYST_CALL CryptoFileToFile(CrystContext Context, const char* Source, const char* Target, const char* Options);
int32_t CRYST_CALL CryptoMemoryToFile(CrystContext Context, const uint8_t* Data, int32_t Length, const char* Target,
                                      const char* Options);
int32_t CRYST_CALL CryptoFileToNewMemory(CrystContext Context, const char* Source, CryptoResult* Result,
                                         const char* Options);
int32_t CRYST_CALL CryptoMemoryToNewMemory(CrystContext Context, const uint8_t* Data, int32_t Length,
                                           CryptoResult* Result, const char* Options);
int32_t CRYST_CALL CryptoMemoryGetSize(CrystContext Context, int32_t Length, const char* Options);
void CRYST_CALL CryptoFreeMemory(uint8_t* Data);
CryptoStatus* CRYST_CALL GetMemoryCryptoStatus(CrystContext Context, const uint8_t* Data, int32_t Length);
CryptoStatus* CRYST_CALL GetFileCryptoStatus(CrystContext Context, const char* FileName);
void CRYST_CALL FreeCryptoStatus(CryptoStatus* Status);
// BOOL: finds the user whose attribute KeyAttr equals KeyValue (KeyLen bytes) and writes its
// attribute WantAttr to Out; *OutSize holds Out's size and receives the length written.
int32_t CRYST_CALL GetUserAttributes(CrystContext Context, int32_t KeyAttr, const void* KeyValue, int32_t KeyLen,
                                     int32_t WantAttr, void* Out, int32_t* OutSize);
int32_t CRYST_CALL StringIdentFromName(CrystContext Context, const char* Name, char* Buffer, int32_t Size);
int32_t CRYST_CALL SetCryptoSettings(CrystContext Context, const char* Settings);
int32_t CRYST_CALL CryptoControl(CrystContext Context, int32_t Command, void* Argument);
int32_t CRYST_CALL GetSystemFileName(CrystContext Context, int32_t Which, char* Buffer, int32_t Size);
// Source -1: every setting back to its default.
int32_t CRYST_CALL ReadSettingsFrom(CrystContext Context, int32_t Source);
int32_t CRYST_CALL SetUserSettings(CrystContext Context, int32_t Number, const void* Value, int32_t Length);  // BOOL
int32_t CRYST_CALL GetUserSettings(CrystContext Context, int32_t Number, void* Value, int32_t* Length);       // BOOL
}

// The 30 functions in the order the binding resolves them.
#define ZK_CRYST_FUNCTIONS \
  X(OpenCrypto)            \
  X(BeginCrypto)           \
  X(EndCrypto)             \
  X(CloseCrypto)           \
  X(IsPasswordSet)         \
  X(ChangePassword)        \
  X(CryptoGetLastError)    \
  X(SecretKeyDirectory)    \
  X(InitUser)              \
  X(GetCryptoMessage)      \
  X(MakeCryptoMessage)     \
  X(Crypto)                \
  X(CryptoFile)            \
  X(CryptoFileToFile)      \
  X(CryptoMemoryToFile)    \
  X(CryptoFileToNewMemory) \
  X(CryptoMemoryToNewMemory) \
  X(CryptoMemoryGetSize)   \
  X(CryptoFreeMemory)      \
  X(GetMemoryCryptoStatus) \
  X(GetFileCryptoStatus)   \
  X(FreeCryptoStatus)      \
  X(GetUserAttributes)     \
  X(StringIdentFromName)   \
  X(SetCryptoSettings)     \
  X(CryptoControl)         \
  X(GetSystemFileName)     \
  X(ReadSettingsFrom)      \
  X(SetUserSettings)       \
  X(GetUserSettings)

namespace zk::excellence {

struct CrystApi {
#define X(name) decltype(&::name) name = nullptr;
  ZK_CRYST_FUNCTIONS
#undef X
};

}  // namespace zk::excellence
