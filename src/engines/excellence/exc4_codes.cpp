#include "engines/excellence/exc4_codes.h"

#include "frame/textrules.h"

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

bool ParseNumberOr(const std::string& text, int32_t Default, int32_t& value) {
  if (Trim(text).empty()) {
    value = Default;
    return true;
  }
  return ParseInteger32(text, value);
}

bool ParseKeyLength(const std::string& text, int32_t& value) {
  return ParseNumberOr(text, 512, value) && value >= 0 && value <= 0xFFFF;
}

int32_t TimeoutSeconds(const std::string& text, int32_t Default, int32_t Negative) {
  int32_t value = 0;
  if (!ParseInteger32(text, value)) return Default;
  return value < 0 ? Negative : value;
}

}  // namespace zk::excellence
