// Result codes of the Verba-OW adapter: the binding's own (-1 to -11, -115, -116), the engine's
// (-100 to -116), and their texts together with the toolkit's (positive codes).
#pragma once

#include <cstdint>
#include <string>

namespace zk::verbaow {

constexpr int32_t kOk = 0;
// Binding.
constexpr int32_t kErrNotLoaded = -1;
constexpr int32_t kErrBadArgs = -2;
constexpr int32_t kErrCallException = -3;
constexpr int32_t kErrSignatureCount = -4;
constexpr int32_t kErrKeyFileOpen = -5;
constexpr int32_t kErrDriver = -6;
constexpr int32_t kErrNoMemory = -7;
constexpr int32_t kErrNoKeyFile = -8;
constexpr int32_t kErrNoDirectory = -9;
constexpr int32_t kErrIdentifier = -10;
constexpr int32_t kErrRecipients = -11;
// Engine.
constexpr int32_t kErrNullOrSize = -2;
constexpr int32_t kErrException = -102;
constexpr int32_t kErrCopy = -103;
constexpr int32_t kErrSignUIDLength = -105;
constexpr int32_t kErrTimeouts = -108;
constexpr int32_t kErrEncodeUID = -109;
constexpr int32_t kErrRemoveSelf = -111;
constexpr int32_t kErrLibraryMissing = -113;
constexpr int32_t kErrFunctionsMissing = -114;
constexpr int32_t kErrKeyFileSize = -115;
constexpr int32_t kErrKeyFileRead = -116;
// Toolkit codes the adapter acts on.
constexpr int32_t kToolkitKeyMissing = 6;
constexpr int32_t kBadSignatureBase = 1000;

// The binding's text of a code (binding or toolkit), Windows-1251; "Verba-OW error code: <n>"
// for a code without one.
std::string BindingText(int32_t code);
// The engine's own text (UTF-8), or null when the code is not one of its 17.
const char* EngineText(int32_t code);

}  // namespace zk::verbaow
