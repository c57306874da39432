// Result codes of the OpenSSL engine and their texts. 0 is success; a positive result is an
// OpenSSL error code (ERR_get_error); -(200 + n) is OpenSSL certificate verification error n.
#pragma once

#include <cstdint>
#include <string>

namespace zk::ossl {

enum : int32_t {
  kOk = 0,
  kErrCoreInit = -1,
  kErrRsaSign = -5,
  kErrNoMemory = -6,
  kErrRsaEncryptSize = -7,
  kErrRsaDecrypt = -8,
  kErrRsaKeyBroken = -9,
  kErrRandomNotSeeded = -10,
  kErrRc2EcbFormat = -11,
  kErrRc5EcbFormat = -12,
  kErrException = -14,
  kErrCertFileAccess = -15,
  kErrNoRsaPublicKey = -16,
  kErrWriteFile = -20,
  kErrKeyFileFormat = -23,
  kErrNoSerial = -24,
  kErrBadPointer = -25,
  kErrBadTimeout = -26,
  kErrNoKeyFile = -28,
  kErrFileIo = -29,
  kErrBadHashName = -30,
  kErrBadUid = -31,
  kErrUnknownUid = -32,
  kErrCertDup = -33,
  kErrBadRecipient = -34,
  kErrBadCipherName = -35,
  kErrBadEnvelope = -36,
  kErrNotForUs = -37,
  kErrWrongKeySize = -38,
  kErrIntegrity = -39,
  kErrCertFileFormat = -40,
  kErrIncludeOwnCert = -41,
  kErrBadAbonentsDir = -42,
  kErrNoCertForUid = -43,
  kErrRemoveOwnCert = -44,
  kErrCertTooLarge = -48,
  kErrCertUnverifiable = -51,
  kErrUnsupportedCrl = -52,
  kErrCrlIo = -53,
  kErrNoCaDir = -54,
  kErrNoCrlDir = -55,
  kErrRevoked = -56,
  kErrCrlSignature = -57,
  kErrSignatureFailed = -59,
  kErrBadSignature = -60,
  kErrRandomLibraryMissing = -63,
  kErrRandomFunctionsMissing = -64,
  kErrLibraryMissing = -65,
  kErrFunctionsMissing = -66,
};

// The first and last codes of certificate verification failures.
constexpr int32_t kVerifyCodeBase = -200;

inline int32_t VerifyErrorCode(int verifyError) { return kVerifyCodeBase - verifyError; }

// The engine's own text of a code (UTF-8), or null when the engine has none for it. For -14 the
// stored exception text follows; codes -201 and below without a table entry are not covered here.
const char* OwnErrorText(int32_t code);

// Turns a failed OpenSSL call's queued error into a result: the queued code, or `fallback` when
// the queue is empty (a failure must never read as success).
int32_t OpenSSLFailure(unsigned long queued, int32_t fallback);

}  // namespace zk::ossl
