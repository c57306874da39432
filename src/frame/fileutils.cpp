#include "frame/fileutils.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "frame/cp1251.h"
#include "platform/platform.h"

namespace zk {

namespace {

// Names are compared as Windows compares them: ASCII letters without regard to case.
char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldCase(x) == FoldCase(y); });
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && EqualIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// "*" matches any run of characters, "?" exactly one; everything else literally, ignoring case.
// Greedy with one back-tracking point, so it stays linear for the masks the adapters use.
bool MatchesMask(const std::string& name, const std::string& mask) {
  size_t n = 0, m = 0;
  size_t starMask = std::string::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || FoldCase(mask[m]) == FoldCase(name[n]))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (starMask != std::string::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

// Digits only, at least one, and the value must fit in int32.
bool ParseDecimal(const std::string& text, int32_t& value) {
  if (text.empty()) return false;
  int64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
    if (result > std::numeric_limits<int32_t>::max()) return false;
  }
  value = static_cast<int32_t>(result);
  return true;
}

// Plain files of Dir, without names starting with "."; false when Dir cannot be listed.
bool ListPlainFiles(const std::string& Dir, std::vector<std::string>& names) {
  std::vector<platform::DirEntry> entries;
  if (Dir.empty() || !platform::ListDirectory(Dir, entries)) return false;
  for (const platform::DirEntry& entry : entries) {
    if (!entry.isDirectory && !entry.name.empty() && entry.name[0] != '.') names.push_back(entry.name);
  }
  return true;
}

// The largest number found + 1; 0 when the largest cannot be followed in int32.
int32_t NextAfter(int32_t largest) {
  return largest == std::numeric_limits<int32_t>::max() ? 0 : largest + 1;
}

// Symbolic links can make a tree endless; no real key or certificate tree is this deep.
constexpr int kMaxSearchDepth = 32;

void CollectByExtension(const std::string& Dir, const std::string& Ext, std::vector<std::string>& List,
                        bool Recursive, int depth) {
  std::vector<platform::DirEntry> entries;
  if (Dir.empty() || !platform::ListDirectory(Dir, entries)) return;
  const std::string prefix = IncludeDirDelimiter(Dir);
  for (const platform::DirEntry& entry : entries) {
    const std::string& name = entry.name;
    if (name.empty() || name[0] == '.') continue;
    if (entry.isDirectory) {
      if (Recursive && depth < kMaxSearchDepth) CollectByExtension(prefix + name, Ext, List, true, depth + 1);
    } else if (name.size() >= Ext.size() && EqualIgnoringCase(name.substr(name.size() - Ext.size()), Ext)) {
      List.push_back(prefix + name);
    }
  }
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16 units to UTF-8; a lone surrogate becomes "?", as the code-page conversion would show it.
std::string Utf16ToUtf8(const std::vector<uint16_t>& units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    const uint32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      AppendUtf8(0x10000 + ((u - 0xD800) << 10) + (units[++i] - 0xDC00u), out);
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      out += '?';
    } else {
      AppendUtf8(u, out);
    }
  }
  return out;
}

// Characters [first, first + count) of Text with 1-based first, cut at the end of Text.
std::string Chars(const std::string& Text, size_t first, size_t count) {
  return first - 1 < Text.size() ? Text.substr(first - 1, count) : std::string();
}

std::string TwoDigits(int value) {
  return std::string(1, static_cast<char>('0' + value / 10)) + static_cast<char>('0' + value % 10);
}

std::string CertMonth(const std::string& abbreviation) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int i = 0; i < 12; ++i) {
    if (EqualIgnoringCase(abbreviation, kMonths[i])) return TwoDigits(i + 1);
  }
  return "01";
}

std::string CertDay(std::string text) {
  // Certificate printers pad a one-digit day with a blank.
  text.erase(0, text.find_first_not_of(' '));
  int32_t day = 0;
  return ParseDecimal(text, day) && day >= 1 && day <= 31 ? TwoDigits(day) : "01";
}

}  // namespace

bool DirectoryExists(const std::string& Dir) { return !Dir.empty() && platform::IsDirectory(Dir); }

std::string IncludeDirDelimiter(const std::string& Dir) {
  if (Dir.empty() || Dir.back() == '\\') return Dir;
  const char c = Dir[0];
  if (Dir.size() == 1 && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return Dir + ":\\";
  return Dir + "\\";
}

bool CopyFileByStreams(const std::string& Src, const std::string& Dst) {
  try {
    std::vector<uint8_t> data;
    if (!platform::ReadWholeFile(Src, data)) return false;
    return platform::WriteWholeFile(Dst, data.data(), data.size());
  } catch (...) {  // a file too large for memory is a failure like any other
    return false;
  }
}

std::string IntToStr3(int32_t N) {
  std::string text = std::to_string(N).substr(0, 3);
  return std::string(3 - text.size(), '0') + text;
}

bool ReadFileToBuffer(const std::string& FileName, void* Buffer, int32_t& Size) {
  if (Buffer == nullptr || Size < 0) return false;
  try {
    std::vector<uint8_t> data;
    // The bound makes the read refuse a larger file instead of overrunning Buffer.
    if (!platform::ReadWholeFile(FileName, data, static_cast<size_t>(Size))) return false;
    if (data.size() > static_cast<size_t>(Size)) return false;
    if (!data.empty()) std::memcpy(Buffer, data.data(), data.size());
    Size = static_cast<int32_t>(data.size());
    return true;
  } catch (...) {
    return false;
  }
}

bool WriteBufferToFile(const std::string& FileName, const void* Buffer, int32_t Size) {
  if (Size < 0 || (Buffer == nullptr && Size > 0)) return false;
  return platform::WriteWholeFile(FileName, Buffer, static_cast<size_t>(Size));
}

int32_t NextNumberInMask(const std::string& Dir, const std::string& Mask) {
  const size_t star = Mask.find('*');
  std::vector<std::string> names;
  if (star == std::string::npos || !ListPlainFiles(Dir, names)) return 0;
  int32_t largest = 0;
  for (const std::string& name : names) {
    if (!MatchesMask(name, Mask) || name.size() < star) continue;
    const size_t dot = name.find('.', star);
    int32_t number = 0;
    const std::string digits = name.substr(star, dot == std::string::npos ? std::string::npos : dot - star);
    if (ParseDecimal(digits, number)) largest = std::max(largest, number);
  }
  return NextAfter(largest);
}

int32_t ParseSemicolonList(const char* Text, std::vector<std::string>& List) {
  if (Text == nullptr || *Text == '\0') return 0;
  int32_t count = 0;
  for (const char* start = Text;; ++count) {
    const char* end = std::strchr(start, ';');
    if (end == nullptr) {
      List.emplace_back(start);
      return count + 1;
    }
    List.emplace_back(start, end);
    start = end + 1;
  }
}

void FindFilesByExtension(const std::string& Dir, const std::string& Ext, std::vector<std::string>& List,
                          bool Recursive) {
  if (Ext.empty()) return;
  CollectByExtension(Dir, Ext, List, Recursive, 0);
}

int32_t NextNumberByExtension(const std::string& Dir, const std::string& BaseName) {
  std::vector<std::string> names;
  if (!ListPlainFiles(Dir, names)) return 0;
  // BaseName is taken literally: a name with "*" or "?" must not widen the search.
  const std::string prefix = BaseName + ".";
  int32_t largest = 0;
  for (const std::string& name : names) {
    int32_t number = 0;
    if (name.size() < 3 || !StartsWithIgnoringCase(name, prefix)) continue;
    if (ParseDecimal(name.substr(name.size() - 3), number)) largest = std::max(largest, number);
  }
  return NextAfter(largest);
}

bool TimeoutElapsed(int32_t Seconds, double Start) {
  // Whole date-times: a start from yesterday at this hour is a day old, not zero seconds old.
  const double elapsed = std::fabs(platform::Now() - Start);
  const double limit = static_cast<double>(Seconds) * kOneSecond;
  // Written so that a NaN start counts as elapsed and a waiting loop cannot run for ever.
  return !(elapsed <= limit);
}

std::string BytesToHex(const uint8_t* Data, int32_t Len, int32_t GroupLen, int32_t LineLen) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  if (Data == nullptr || Len <= 0) return text;
  for (int32_t i = 1; i <= Len; ++i) {
    text += kDigits[Data[i - 1] >> 4];
    text += kDigits[Data[i - 1] & 0x0F];
    if (GroupLen > 0 && i % GroupLen == 0) text += ' ';
    if (LineLen > 0 && i % LineLen == 0) text += "\r\n";
  }
  return text;
}

std::string BytesToHexReversed(const uint8_t* Data, int32_t Len) {
  if (Data == nullptr || Len <= 0) return std::string();
  std::vector<uint8_t> reversed(Data, Data + Len);
  std::reverse(reversed.begin(), reversed.end());
  return BytesToHex(reversed.data(), Len, 255, 255);
}

bool HexToBytes(const std::string& Hex, uint8_t* Buffer, int32_t& Size) {
  if (Hex.size() % 2 != 0 || Hex.size() / 2 > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    return false;
  }
  const int32_t needed = static_cast<int32_t>(Hex.size() / 2);
  if (Buffer == nullptr) {
    Size = needed;
    return false;
  }
  if (Size < needed) return false;
  // Validate everything first so that a bad digit leaves Buffer untouched.
  if (!std::all_of(Hex.begin(), Hex.end(), [](char c) { return HexDigitValue(c) >= 0; })) return false;
  for (int32_t i = 0; i < needed; ++i) {
    Buffer[i] = static_cast<uint8_t>(HexDigitValue(Hex[2 * i]) * 16 + HexDigitValue(Hex[2 * i + 1]));
  }
  Size = needed;
  return true;
}

bool HexToBytesReversed(const std::string& Hex, uint8_t* Buffer, int32_t& Size) {
  if (!HexToBytes(Hex, Buffer, Size)) return false;
  std::reverse(Buffer, Buffer + Size);
  return true;
}

bool IsPlainFileName(const std::string& Name) {
  if (Name.empty() || Name == "." || Name == ".." || Name.back() == '.' || Name.back() == ' ') return false;
  for (unsigned char c : Name) {
    if (c < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr) return false;
  }
  return true;
}

std::string CertCachePath(const std::string& Name, const std::string& Dir) {
  const size_t dot = Name.find('.');
  if (Name.empty() || Dir.empty() || dot == std::string::npos) return std::string();
  const std::string head = Name.substr(0, dot);
  const std::string tail = Name.substr(dot + 1);
  // Every part becomes one path component: without a separator or drive in the name the path
  // stays inside Dir, and empty parts would give no file or an empty directory name.
  if (head.empty() || tail.empty() || Name.find_first_of("\\/:") != std::string::npos) return std::string();
  std::string path = Dir + head + "\\@";
  for (char c : tail) {
    path += '\\';
    path += c;
  }
  return path + ".crt";
}

std::string ConvertCertDate(const std::string& Text) {
  return CertDay(Chars(Text, 5, 2)) + "-" + CertMonth(Chars(Text, 1, 3)) + "-" + Chars(Text, 19, 2) + " " +
         Chars(Text, 8, 8);
}

std::string SwappedWideToString(uint8_t* Data, int32_t Len) {
  if (Data == nullptr || Len < 2) return std::string();
  std::vector<uint16_t> units(static_cast<size_t>(Len / 2));
  for (size_t i = 0; i < units.size(); ++i) {
    std::swap(Data[2 * i], Data[2 * i + 1]);
    units[i] = static_cast<uint16_t>(Data[2 * i] | (Data[2 * i + 1] << 8));
  }
  return Utf8ToCp1251(Utf16ToUtf8(units));
}

uint64_t UnixTimeToFileTime(int64_t Seconds) {
  constexpr int64_t kTicksPerSecond = 10000000;
  constexpr int64_t kEpochOffset = 116444736000000000;  // 1601-01-01 to 1970-01-01
  constexpr int64_t kLargest = std::numeric_limits<int64_t>::max();
  // Saturate instead of wrapping: the result stays within what Windows accepts as a file time.
  if (Seconds < -kEpochOffset / kTicksPerSecond) return 0;
  if (Seconds > (kLargest - kEpochOffset) / kTicksPerSecond) return static_cast<uint64_t>(kLargest);
  return static_cast<uint64_t>(Seconds * kTicksPerSecond + kEpochOffset);
}

int64_t FileSizePlusOne(const std::string& FileName) {
  const int64_t size = platform::FileSize(FileName);
  return size < 0 ? 0 : size + 1;
}

}  // namespace zk
