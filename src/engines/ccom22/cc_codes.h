// Result codes of the Crypto COM 2.2 engine and the texts of the whole adapter: the binding's
// and engine's codes (1..9, 103..136) and the toolkit's statuses (-86..-1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zk::ccom22 {

// Codes of the engine (the binding's own are in cc_dll.h).
constexpr int32_t kErrBadParams = 2;
constexpr int32_t kErrNoCertPath = 103;
constexpr int32_t kErrTooManyRecipients = 104;  // a buffer length that cannot hold the result
constexpr int32_t kErrKeySlot = 105;
constexpr int32_t kErrNoSignature = 106;
constexpr int32_t kErrFiles = 107;
constexpr int32_t kErrTimeout = 115;
constexpr int32_t kErrNoOwnerUID = 116;
constexpr int32_t kErrNoCertFile = 118;
constexpr int32_t kErrOwnCertificate = 132;
constexpr int32_t kErrLibraryMissing = 134;
constexpr int32_t kErrFunctionsMissing = 135;
constexpr int32_t kErrEngineException = 136;
constexpr int32_t kErrCannotDecrypt = -35;
constexpr int32_t kErrDeleteFile = -32;

size_t CodeTextCount();
// The text of a code (UTF-8), or null for a code the table does not hold.
const char* CodeText(int32_t code);
// The text hosts receive (Windows-1251): empty for 0, the table's, or the generic toolkit text
// with the code.
std::string ErrorTextOf(int32_t code);

}  // namespace zk::ccom22
