// Result codes of the Crypto-C engine. 0 is success; 1 to 15 are the toolkit's statuses, passed
// up unchanged; the negative codes are the engine's own.
#pragma once

#include <cstdint>

namespace zk::cryptoc {

constexpr int32_t kOk = 0;
constexpr int32_t kToolkitBadSignature = 5;
constexpr int32_t kErrException = -3;
constexpr int32_t kErrBadData = -4;
constexpr int32_t kErrEmptyUID = -7;
constexpr int32_t kErrNoMemory = -8;
constexpr int32_t kErrSecretKey = -10;
constexpr int32_t kErrPublicKey = -11;
constexpr int32_t kErrKeyMismatch = -12;
constexpr int32_t kErrBadNumber = -13;
constexpr int32_t kErrSignatureFormat = -14;
constexpr int32_t kErrIntegrity = -15;
constexpr int32_t kErrBadMode = -16;
constexpr int32_t kErrNotForUs = -17;
constexpr int32_t kErrIncludeOwnKey = -20;
constexpr int32_t kErrRemoveOwnKey = -21;
constexpr int32_t kErrLibraryMissing = -29;
constexpr int32_t kErrFunctionsMissing = -30;
constexpr int32_t kErrWriteKeyFile = -31;
constexpr int32_t kErrDirectoryAccess = -32;
// A signature over the compatibility digest of data longer than one digest piece: it covers only
// the first 65535 bytes and the length, so it does not vouch for the whole data.
constexpr int32_t kErrPartialSignature = -33;

// The text of a toolkit status (0 to 15) or of an engine code (-1 to -33), UTF-8; null when there
// is none. For -3 the engine appends its stored exception text.
const char* CodeText(int32_t code);

}  // namespace zk::cryptoc
