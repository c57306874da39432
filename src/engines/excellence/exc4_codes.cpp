#include "engines/excellence/exc4_codes.h"

namespace zk::excellence {

namespace {

struct CodeEntry {
  int32_t code;
  const char* text;
};

// The system's own texts, byte for byte (the typos included). For -100 and -102 the engine
// appends its stored exception text.
const CodeEntry kTexts[] = {
    {-100, "Library not initialized\r\n"},
    {-101, "Null pointer or incorrect data size (buffer) passed to the function!"},
    {-102, "An exception in the function "},
    {-103, "String length check error"},
    {-104, "Bad settings for crypto engine"},
    {-106, "File Operation Error"},
    {-107, "List of abonents for encoding contain encorrect UID or empty."},
    {-108, "Incorrect parameter: \"Use previous keys for decrypt\", or can't find specific key."},
    {-109, "Incorrect data format of transfer buffer"},
    {-110, "Incorrect settings for \"Key length\" parameters"},
    {-111, "\"Device type\" and \"Port number\" parameters must contain numeric value"},
    {-112, "Specific public key file can't found."},
    {-113, "Remote Generate Path isn't set or set incorrect or I/O error detected."},
    {-114, "Can't find new keys or report in specified Remote Generate Path."},
    {-115, "Unable to load cryst.dll library."},
    {-116, "Unable to retrieve procedures from crypto toolkit library cryst.dll"},
};

}  // namespace

const char* EngineCodeText(int32_t code) {
  for (const CodeEntry& entry : kTexts) {
    if (entry.code == code) return entry.text;
  }
  return nullptr;
}

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

bool ParseInteger(const std::string& text, int32_t& value) {
  const std::string s = Trim(text);
  size_t at = !s.empty() && (s[0] == '-' || s[0] == '+') ? 1 : 0;
  if (at == s.size()) return false;
  int64_t number = 0;
  for (; at < s.size(); ++at) {
    if (s[at] < '0' || s[at] > '9') return false;
    number = number * 10 + (s[at] - '0');
    if (number > INT32_MAX) return false;
  }
  value = static_cast<int32_t>(s[0] == '-' ? -number : number);
  return true;
}

bool ParseNumberOr(const std::string& text, int32_t Default, int32_t& value) {
  if (Trim(text).empty()) {
    value = Default;
    return true;
  }
  return ParseInteger(text, value);
}

bool ParseKeyLength(const std::string& text, int32_t& value) {
  return ParseNumberOr(text, 512, value) && value >= 0 && value <= 0xFFFF;
}

int32_t ParseTimeout(const std::string& text, int32_t Default, int32_t Negative) {
  int32_t value = 0;
  if (!ParseInteger(text, value)) return Default;
  return value < 0 ? Negative : value;
}

}  // namespace zk::excellence
