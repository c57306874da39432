#include "frame/textrules.h"

#include <cstring>

namespace zk {

namespace {
constexpr char kBlanks[] = " \t\r\n";
}

std::string UpperCase(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

bool ParseInteger32(const std::string& text, int32_t& value) {
  const std::string s = Trim(text);
  const bool negative = !s.empty() && s[0] == '-';
  size_t at = !s.empty() && (s[0] == '-' || s[0] == '+') ? 1 : 0;
  if (at == s.size()) return false;
  int64_t number = 0;
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  for (; at < s.size(); ++at) {
    if (s[at] < '0' || s[at] > '9') return false;
    number = number * 10 + (s[at] - '0');
    if (number > limit) return false;
  }
  value = static_cast<int32_t>(negative ? -number : number);
  return true;
}

bool ParseTimeout(const std::string& text, int32_t Default, int32_t& value) {
  if (Trim(text).empty()) {
    value = Default;
    return true;
  }
  return ParseInteger32(text, value);
}

bool ScanZeroTerminated(const uint8_t* Data, size_t Size, size_t MaxChars, size_t& Length) {
  if (Data == nullptr) return false;
  const size_t window = MaxChars < Size ? MaxChars + 1 : Size;
  const void* zero = std::memchr(Data, 0, window);
  if (zero == nullptr) return false;
  Length = static_cast<size_t>(static_cast<const uint8_t*>(zero) - Data);
  return true;
}

bool ScanUID(const uint8_t* Data, size_t Size, size_t MaxChars, size_t& Length) {
  size_t length = 0;
  if (!ScanZeroTerminated(Data, Size, MaxChars, length) || length == 0) return false;
  Length = length;
  return true;
}

bool WriteUID(const std::string& UID, char* Dst, int32_t MaxUIDLength) {
  if (Dst == nullptr || MaxUIDLength <= 0 || UID.size() >= static_cast<size_t>(MaxUIDLength)) return false;
  std::memcpy(Dst, UID.c_str(), UID.size() + 1);
  return true;
}

}  // namespace zk
