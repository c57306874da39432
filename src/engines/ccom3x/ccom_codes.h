// Result codes of the CryptoCom 3.x engine and their texts. 0 is success; 1..90 are the toolkit's
// own codes (its last error after a failed call); negative codes are the engine's.
#pragma once

#include <cstdint>
#include <string>

namespace zk::ccom3x {

enum : int32_t {
  kOk = 0,
  kErrInit = -1,
  kErrException = -2,
  kErrNoMemory = -3,
  kErrBadPublicKeyFile = -9,
  kErrNoMatchingKey = -10,
  kErrBadPointer = -11,
  kErrBadSignatureFormat = -12,
  kErrPublicKeyIntegrity = -13,
  kErrBadRecipients = -14,
  kErrBadEnvelope = -15,
  kErrNotForUs = -16,
  kErrHeaderIntegrity = -17,
  kErrDataIntegrity = -18,
  kErrBadMethod = -19,
  kErrIncludeOwnKey = -20,
  kErrWritePublicKey = -21,
  kErrLibraryMissing = -22,
  kErrFunctionsMissing = -23,
  kErrAbonentsDir = -24,
  kErrOwnKey = -25,
};

// Toolkit code of a failure whose last error reads as success.
constexpr int32_t kToolkitInternalError = 12;

// The engine's text of a code (UTF-8), or null for a code it does not know.
const char* CodeText(int32_t code);
// The text hosts receive (Windows-1251): the table's, or the "unknown or reserved" text.
std::string ErrorTextOf(int32_t code);

}  // namespace zk::ccom3x
