// Text rules every engine applies the same way: upper-casing, blanks, decimal parameters and
// time-outs, and the UIDs in formats and caller buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zk {

// ASCII letters upper-cased; other bytes (Windows-1251 letters among them) unchanged.
std::string UpperCase(std::string s);
// Without leading and trailing blanks, tabs and line ends.
std::string Trim(const std::string& s);

// A decimal integer with an optional sign, blanks around it allowed, within 32 bits.
bool ParseInteger32(const std::string& text, int32_t& value);
// A time-out parameter in seconds: a blank value gives Default; otherwise ParseInteger32.
bool ParseTimeout(const std::string& text, int32_t Default, int32_t& value);

// A zero-terminated string at the start of Data[0, Size): true with its length when it has at
// most MaxChars characters and its zero lies inside the data (SIZE_MAX: any length).
bool ScanZeroTerminated(const uint8_t* Data, size_t Size, size_t MaxChars, size_t& Length);
// The same for a UID, which is never empty.
bool ScanUID(const uint8_t* Data, size_t Size, size_t MaxChars, size_t& Length);
// Copies a UID with its zero into a caller buffer of MaxUIDLength bytes. A UID that would not
// fit is refused (false, nothing written), never cut: a cut UID names somebody else.
bool WriteUID(const std::string& UID, char* Dst, int32_t MaxUIDLength);

}  // namespace zk
