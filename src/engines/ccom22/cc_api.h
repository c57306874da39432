// The calls of the Crypto COM 2.2 toolkit "cc.dll", shared by the binding and the stand-in: the
// functions with their argument lists (stdcall on Win32, exported under decorated "_Name@N"
// names), the records the toolkit hands back and the head of its context block. Win32 offsets of
// the fields the binding relies on are pinned below.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define CC_CALL __stdcall
#define CC_VISIBLE
#else
#define CC_CALL
#define CC_VISIBLE __attribute__((visibility("default")))
#endif

extern "C" {

typedef void* HCCCTX;

// The authority-key lookup the binding plants in a context: the directory the toolkit searches
// and the authority's key number; answers the zero-terminated image of the ".aut" file, or null.
typedef const char*(CC_CALL* CC_AUTHORITY_LOOKUP)(const char* Dir, int32_t KeyNumber);

// The start of every context block: the toolkit reads the lookup from byte 120.
struct CC_CTX_HEAD {
  uint8_t Private[120];
  CC_AUTHORITY_LOOKUP AuthorityLookup;
};

// What __CertInfo@12 reports about a certificate image.
struct CC_CERT_INFO {
  int32_t KeyNumber;        // the owner's key number
  int32_t AuthorityNumber;  // the key number of the issuing authority
  int32_t Version;
  char* Owner;  // the owner's UID
  char* Issuer;
  uint32_t NotBefore;  // seconds since 1970 (UTC)
  uint32_t NotAfter;
  int32_t Reserved[4];
  int32_t Status;  // 0 when the certificate is valid, else a toolkit code
};

// What __SecInfo@12 reports about a secret-key image.
struct CC_SEC_INFO {
  int32_t KeyNumber;
  uint32_t NotBefore;
  uint32_t NotAfter;
  int32_t Version;
  int32_t Status;  // 0 when the key is valid, else a toolkit code
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(CC_CTX_HEAD, AuthorityLookup) == 120, "lookup at byte 120");
static_assert(offsetof(CC_CERT_INFO, KeyNumber) == 0, "key number first");
static_assert(offsetof(CC_CERT_INFO, Owner) == 12, "owner is the fourth field");
static_assert(offsetof(CC_CERT_INFO, Status) == 44, "certificate status at byte 44");
static_assert(offsetof(CC_SEC_INFO, Status) == 16, "secret-key status at byte 16");
#endif

// Random generator.
CC_VISIBLE int32_t CC_CALL InitRand(void);
CC_VISIBLE int32_t CC_CALL FreeRand(void);
CC_VISIBLE int32_t CC_CALL RandSeed(const void* Seed, int32_t Len);
CC_VISIBLE int32_t CC_CALL RandReadFile(const char* Path);
// 0, or a negative code when the file could not be written.
CC_VISIBLE int32_t CC_CALL RandWriteFile(const char* Path);
// Zero or positive on success, negative on failure.
CC_VISIBLE int32_t CC_CALL GetRandom(void* Buffer, int32_t Len);

// Contexts.
CC_VISIBLE HCCCTX CC_CALL InitCryptCtx(void);
CC_VISIBLE int32_t CC_CALL FreeCryptCtx(HCCCTX Ctx);
CC_VISIBLE int32_t CC_CALL SetIdentifier(HCCCTX Ctx, const char* UID);
CC_VISIBLE int32_t CC_CALL SetCipherAlgorithm(HCCCTX Ctx, const char* Name);
CC_VISIBLE int32_t CC_CALL SetPKSAlgorithm(HCCCTX Ctx, const char* Name);
CC_VISIBLE int32_t CC_CALL SetHashAlgorithm(HCCCTX Ctx, const char* Name);
CC_VISIBLE int32_t CC_CALL SetCurrentDir(HCCCTX Ctx, const char* Dir);
CC_VISIBLE int32_t CC_CALL SetSecretPath(HCCCTX Ctx, const char* Dir);
CC_VISIBLE int32_t CC_CALL SetPublicPath(HCCCTX Ctx, const char* Dir);
CC_VISIBLE int32_t CC_CALL SetArchivePath(HCCCTX Ctx, const char* Dir);
CC_VISIBLE int32_t CC_CALL SetPKSParameters(HCCCTX Ctx, int32_t A, int32_t B);
CC_VISIBLE int32_t CC_CALL SetPeriod(HCCCTX Ctx, int32_t Days);
CC_VISIBLE int32_t CC_CALL SetSignFlags(HCCCTX Ctx, int32_t Flags);
CC_VISIBLE int32_t CC_CALL SetVerifyFlags(HCCCTX Ctx, int32_t Flags);
CC_VISIBLE int32_t CC_CALL SetCipherFlags(HCCCTX Ctx, int32_t Flags);
CC_VISIBLE int32_t CC_CALL SetDebug(HCCCTX Ctx, int32_t Level, const char* File);

// File operations of the toolkit (present, never called by the adapter).
CC_VISIBLE int32_t CC_CALL KeysGeneration(HCCCTX Ctx, const char* A, const char* B, int32_t C);
CC_VISIBLE int32_t CC_CALL FileSign(HCCCTX Ctx, const char* In, const char* Out, int32_t Flags);
CC_VISIBLE int32_t CC_CALL FileVerify(HCCCTX Ctx, const char* In, const char* Out, int32_t Flags);
CC_VISIBLE void* CC_CALL InitSubjectList(void);
CC_VISIBLE int32_t CC_CALL FreeSubjectList(void* List);
CC_VISIBLE int32_t CC_CALL AddSubject(void* List, const char* A, const char* B, const char* C, int32_t D, int32_t E);
CC_VISIBLE int32_t CC_CALL FileEncipher(HCCCTX Ctx, const char* In, const char* Out, void* List, int32_t Flags);
CC_VISIBLE int32_t CC_CALL FileDecipher(HCCCTX Ctx, const char* In, const char* Out, int32_t Flags);
CC_VISIBLE int32_t CC_CALL FileDeleteSignatures(HCCCTX Ctx, const char* File);

// Paths (texts owned by the context, valid until its next call).
CC_VISIBLE const char* CC_CALL GetCertPath(HCCCTX Ctx, const char* UID);
CC_VISIBLE const char* CC_CALL GetArchCertPath(HCCCTX Ctx, const char* UID, int32_t N);
CC_VISIBLE const char* CC_CALL GetInfoPath(HCCCTX Ctx, const char* UID);
CC_VISIBLE const char* CC_CALL GetCAPath(HCCCTX Ctx, const char* UID, int32_t N);
CC_VISIBLE const char* CC_CALL GetSecPath(HCCCTX Ctx, int32_t KeyNumber);

// Records: the plain names take a file name, the "_" ones a file image.
CC_VISIBLE int32_t CC_CALL CertInfo(HCCCTX Ctx, const char* File, CC_CERT_INFO** Info);
CC_VISIBLE int32_t CC_CALL _CertInfo(HCCCTX Ctx, const char* Image, CC_CERT_INFO** Info);
CC_VISIBLE int32_t CC_CALL InfoInfo(HCCCTX Ctx, const char* File, void** Info);
CC_VISIBLE int32_t CC_CALL _InfoInfo(HCCCTX Ctx, const char* Image, void** Info);
CC_VISIBLE int32_t CC_CALL SecInfo(HCCCTX Ctx, const char* File, CC_SEC_INFO** Info);
CC_VISIBLE int32_t CC_CALL _SecInfo(HCCCTX Ctx, const char* Image, CC_SEC_INFO** Info);
CC_VISIBLE int32_t CC_CALL FreeCertInfo(CC_CERT_INFO* Info);
CC_VISIBLE int32_t CC_CALL FreeInfoInfo(void* Info);
CC_VISIBLE int32_t CC_CALL FreeSecInfo(CC_SEC_INFO* Info);
CC_VISIBLE int32_t CC_CALL GetLibraryVersion(void);

// Buffer signing and verification; data arrives in pieces of at most 65535 bytes.
CC_VISIBLE int32_t CC_CALL BufferSignInit(HCCCTX Ctx, const char* SecretImage);
CC_VISIBLE int32_t CC_CALL BufferSignUpdate(HCCCTX Ctx, const uint8_t* Data, uint16_t Len);
CC_VISIBLE int32_t CC_CALL BufferSignFinal(HCCCTX Ctx, uint8_t** Signature, int32_t* SignatureLen);
CC_VISIBLE int32_t CC_CALL BufferVerifyInit(HCCCTX Ctx, const char* CertImage);
CC_VISIBLE int32_t CC_CALL BufferVerifyFinal(HCCCTX Ctx, const uint8_t* Signature);

// Bulk cipher under a 32-byte session key; Direction 0 encrypts, 1 decrypts.
CC_VISIBLE int32_t CC_CALL BufferCipherInit(HCCCTX Ctx, const uint8_t* SessionKey, int32_t Direction, uint8_t* Vector);
CC_VISIBLE int32_t CC_CALL BufferCipherUpdate(HCCCTX Ctx, const uint8_t* In, uint16_t Len, uint8_t* Out, int32_t* OutLen);
CC_VISIBLE int32_t CC_CALL BufferCipherFinal(HCCCTX Ctx, uint8_t* Out, int32_t* OutLen);

// Session keys for one recipient's certificate, and back with the own secret key.
CC_VISIBLE int32_t CC_CALL SessionKeyEncrypt(HCCCTX Ctx, const char* CertImage, uint8_t** SessionKey, uint8_t** Aux,
                                  uint8_t** EncryptedKey, int32_t* EncryptedKeyLen);
CC_VISIBLE int32_t CC_CALL SessionKeyDecrypt(HCCCTX Ctx, const char* SecretImage, const uint8_t* EncryptedKey,
                                  int32_t EncryptedKeyLen, uint8_t** SessionKey);

CC_VISIBLE int32_t CC_CALL BufferFree(void* Buffer);
CC_VISIBLE int32_t CC_CALL BufferCleanFree(void* Buffer, int32_t Len);
CC_VISIBLE int32_t CC_CALL _BufferCleanFree(void* Buffer);

// Key and certificate issuing (present, never called by the adapter).
CC_VISIBLE int32_t CC_CALL NewKeys(HCCCTX Ctx, const char* A, const char* B, int32_t C, int32_t D, int32_t E, int32_t F);
CC_VISIBLE int32_t CC_CALL NewCertificate(HCCCTX Ctx, const char* A, const char* B, const char* C, int32_t D, int32_t E,
                               int32_t F, int32_t G, int32_t H);
CC_VISIBLE int32_t CC_CALL NewUserInfo(HCCCTX Ctx, const char* A, const char* B, const char* C, int32_t D, int32_t E,
                            int32_t F, int32_t G);

}  // extern "C"

// The toolkit's 62 functions in the order the binding resolves them: X(C name, argument bytes).
// The exported name is "_" C name "@" bytes.
#define ZK_CC_FUNCTIONS(X)                                                                                      \
  X(InitRand, 0) X(FreeRand, 0) X(RandSeed, 8) X(RandReadFile, 4) X(RandWriteFile, 4) X(GetRandom, 8)           \
  X(InitCryptCtx, 0) X(FreeCryptCtx, 4) X(SetIdentifier, 8) X(SetCipherAlgorithm, 8) X(SetPKSAlgorithm, 8)      \
  X(SetHashAlgorithm, 8) X(SetCurrentDir, 8) X(SetSecretPath, 8) X(SetPublicPath, 8) X(SetArchivePath, 8)       \
  X(SetPKSParameters, 12) X(SetPeriod, 8) X(SetSignFlags, 8) X(SetVerifyFlags, 8) X(SetCipherFlags, 8)          \
  X(SetDebug, 12) X(KeysGeneration, 16) X(FileSign, 16) X(FileVerify, 16) X(InitSubjectList, 0)                 \
  X(FreeSubjectList, 4) X(AddSubject, 24) X(FileEncipher, 20) X(FileDecipher, 16) X(FileDeleteSignatures, 8)    \
  X(GetCertPath, 8) X(GetArchCertPath, 12) X(GetInfoPath, 8) X(GetCAPath, 12) X(GetSecPath, 8)                  \
  X(CertInfo, 12) X(_CertInfo, 12) X(InfoInfo, 12) X(_InfoInfo, 12) X(SecInfo, 12) X(_SecInfo, 12)              \
  X(FreeCertInfo, 4) X(FreeInfoInfo, 4) X(FreeSecInfo, 4) X(GetLibraryVersion, 0) X(BufferSignInit, 8)          \
  X(BufferSignUpdate, 12) X(BufferSignFinal, 12) X(BufferVerifyInit, 8) X(BufferVerifyFinal, 8)                 \
  X(BufferCipherInit, 16) X(BufferCipherUpdate, 20) X(BufferCipherFinal, 12) X(SessionKeyEncrypt, 24)           \
  X(SessionKeyDecrypt, 20) X(BufferFree, 4) X(BufferCleanFree, 8) X(_BufferCleanFree, 4) X(NewKeys, 28)         \
  X(NewCertificate, 36) X(NewUserInfo, 32)
