// The calls of the Verba-OW toolkit ("wbotho.dll") as this adapter makes them: stdcall, each
// answers a 16-bit result (0 success, positive a toolkit code). Shared by the binding, which takes
// only the types (decltype) and resolves the addresses at run time, and by the stand-in, whose
// definitions the compiler checks against these declarations.
//
// Identifiers are zero-terminated: an encryption key identifier has 10 characters, a signature key
// identifier 12; the first four are the decimal key (correspondent) number.
#pragma once

#include <cstdint>

#include "zk_mint.h"

namespace zk::verbaow {

constexpr int kDriverSlots = 16;
constexpr int kSlotRecordSize = 32;
// A driver record of generation 4: encryption identifier (10 characters and a zero) at 0, signature
// identifier (12 and a zero) at 11, slot number (32 bits, little-endian) at 28. Generation 5 and
// later keep the identifiers, put a 16-bit value at 24 and the slot number at 28.
constexpr int kRecordEncodeId = 0;
constexpr int kRecordSignId = 11;
constexpr int kRecordValue16 = 24;
constexpr int kRecordSlot = 28;
constexpr int kEncodeIdChars = 10;
constexpr int kSignIdChars = 12;
// The result block of CheckMemSeparate: signer identifier in the first 12 bytes, status at 135.
constexpr int kCheckBlockSize = 136;
constexpr int kCheckStatusAt = 135;
// Encryption adds a header and one item per recipient.
constexpr int kEncryptHeaderSize = 37;
constexpr int kEncryptItemSize = 48;

}  // namespace zk::verbaow

#define WB_CALL ZK_STDCALL

extern "C" {
// Loads the key sets found on the device (a directory, or a touch-memory / smart-card name).
int16_t WB_CALL InitKey(const char* device, const char* password);
// Removes the key set holding this identifier (either of its two) from the driver.
int16_t WB_CALL ResetKeyEx(const char* keyId, int32_t mode);
// At most 16 records of 32 bytes, and their number.
int16_t WB_CALL GetDrvInfo(uint8_t* records, int32_t* count);
int16_t WB_CALL FreeMemory(void* block);
int16_t WB_CALL SignInit(const char* secretPath, const char* publicPath);
int16_t WB_CALL SignDone(void);
int16_t WB_CALL SignLogIn(void);
int16_t WB_CALL SignLogOut(void);
int16_t WB_CALL DelSign(void);
int16_t WB_CALL SignFile(void);
int16_t WB_CALL check_file_sign(void);
int16_t WB_CALL SignMem(void);
int16_t WB_CALL SignMemEx(void);
int16_t WB_CALL check_mem_sign(void);
int16_t WB_CALL Del_Mem_Sign(void);
int16_t WB_CALL SignMemSeparate(void);
// A detached signature of the data by the loaded key set whose signature identifier is signerId.
int16_t WB_CALL SignMemSeparateEx(const uint8_t* data, uint32_t length, uint8_t* signature, const char* signerId,
                                  uint32_t* signatureLength);
// *count: the signatures found; *block: a toolkit block (kCheckBlockSize bytes, FreeMemory).
int16_t WB_CALL CheckMemSeparate(const uint8_t* data, uint32_t length, const uint8_t* signature, uint8_t* count,
                                 uint8_t** block, uint32_t signatureLength);
int16_t WB_CALL CryptoInit(const char* secretPath, const char* publicPath);
int16_t WB_CALL CryptoDone(void);
int16_t WB_CALL EnCryptFile(void);
int16_t WB_CALL DeCryptFile(void);
int16_t WB_CALL GetCryptKeysF(void);
int16_t WB_CALL GetCryptKeysM(void);
// Decrypts in place for the own key number; *length becomes the plain length.
int16_t WB_CALL DeCryptMem(uint8_t* data, uint32_t* length, uint16_t ownKeyNumber);
// out receives length + 37 + 48 * N bytes; recipients: N key numbers and a 0.
int16_t WB_CALL EnCryptMem(const uint8_t* data, uint32_t length, uint8_t* out, uint16_t ownKeyNumber,
                           const uint16_t* recipients, const char* keySerial);
int16_t WB_CALL GetFileSenderID(void);
// The sender's signature key identifier (12 characters and a zero).
int16_t WB_CALL GetMemSenderID(const uint8_t* data, uint32_t length, char* senderId);
// Stores a correspondent's public key (a public-key file's bytes) in the directory.
int16_t WB_CALL AddOpenKey(const char* publicDir, const uint8_t* keyBytes, const char* ownKeyId, const char* kind);
int16_t WB_CALL GetAlias(void);
int16_t WB_CALL ExtractKey(void);
int16_t WB_CALL DelOpenKey(const char* publicDir, const char* keyId, const char* ownKeyId, const char* kind);
}

// Every name the binding resolves, in its order.
#define ZK_VERBAOW_FUNCTIONS \
  X(InitKey)                 \
  X(ResetKeyEx)              \
  X(GetDrvInfo)              \
  X(FreeMemory)              \
  X(SignInit)                \
  X(SignDone)                \
  X(SignLogIn)               \
  X(SignLogOut)              \
  X(DelSign)                 \
  X(SignFile)                \
  X(check_file_sign)         \
  X(SignMem)                 \
  X(SignMemEx)               \
  X(check_mem_sign)          \
  X(Del_Mem_Sign)            \
  X(SignMemSeparate)         \
  X(SignMemSeparateEx)       \
  X(CheckMemSeparate)        \
  X(CryptoInit)              \
  X(CryptoDone)              \
  X(EnCryptFile)             \
  X(DeCryptFile)             \
  X(GetCryptKeysF)           \
  X(GetCryptKeysM)           \
  X(DeCryptMem)              \
  X(EnCryptMem)              \
  X(GetFileSenderID)         \
  X(GetMemSenderID)          \
  X(AddOpenKey)              \
  X(GetAlias)                \
  X(ExtractKey)              \
  X(DelOpenKey)

namespace zk::verbaow {
struct WbothoApi {
#define X(name) decltype(&::name) name = nullptr;
  ZK_VERBAOW_FUNCTIONS
#undef X
};
}  // namespace zk::verbaow
