// Windows-1251 to UTF-8, for showing the library's texts on a UTF-8 terminal. The host may use
// only the public header, so it carries its own converter.
#pragma once

#include <string>
#include <string_view>

namespace zkmint {

// Every byte maps to one character; the one unassigned byte (0x98) becomes U+FFFD.
std::string Cp1251ToUtf8(std::string_view cp1251);

// The first `maxChars` characters of a UTF-8 text, "..." appended when it was cut.
std::string Utf8Prefix(const std::string& utf8, size_t maxChars);

}  // namespace zkmint
