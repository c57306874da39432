// Texts of the LAN Crypto adapter's codes, UTF-8 (null when a table has no text for the code).
#pragma once

#include <cstdint>

namespace zk::lancrypto {

// The toolkit's codes and the binding's own (1 to 8).
const char* ToolkitText(int32_t code);
// The engine's 39 codes; for 102 the engine appends its stored exception text.
const char* EngineText(int32_t code);

constexpr const char* kToolkitTextPrefix = "Ошибка криптографической библиотеки LAN Crypto : ";
constexpr const char* kNoBindingText = "Невозможно получить информацию об ошибке. Криптоядро не проинициализировано.";

}  // namespace zk::lancrypto
