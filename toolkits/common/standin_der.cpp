#include "standin_der.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "standin.h"

namespace standin::der {

void AppendHeader(Bytes& out, uint8_t tag, size_t length) {
  out.push_back(tag);
  if (length < 0x80) {
    out.push_back(static_cast<uint8_t>(length));
    return;
  }
  uint8_t buf[sizeof(size_t)];
  int k = 0;
  for (size_t v = length; v != 0; v >>= 8) buf[k++] = static_cast<uint8_t>(v);
  out.push_back(static_cast<uint8_t>(0x80 | k));
  while (k > 0) out.push_back(buf[--k]);
}

Bytes Header(uint8_t tag, size_t length) {
  Bytes out;
  AppendHeader(out, tag, length);
  return out;
}

Bytes Tlv(uint8_t tag, const Bytes& content) {
  Bytes out;
  out.reserve(content.size() + 6);
  AppendHeader(out, tag, content.size());
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Seq(const std::vector<Bytes>& items) { return Tlv(0x30, Concat(items)); }

Bytes Set(std::vector<Bytes> items) {
  std::sort(items.begin(), items.end());
  return Tlv(0x31, Concat(items));
}

Bytes Int(const Bytes& magnitude) {
  size_t i = 0;
  while (i + 1 < magnitude.size() && magnitude[i] == 0) ++i;
  Bytes v(magnitude.begin() + static_cast<long>(i), magnitude.end());
  if (v.empty()) v.push_back(0);
  if (v[0] & 0x80) v.insert(v.begin(), 0);
  return Tlv(0x02, v);
}

Bytes SmallInt(uint64_t value) {
  Bytes v;
  for (uint64_t x = value; x != 0; x >>= 8) v.insert(v.begin(), static_cast<uint8_t>(x & 0xFF));
  return Int(v);
}

Bytes Oid(const char* dotted) {
  std::vector<unsigned long> arcs;
  for (const char* p = dotted; *p != 0;) {
    char* end = nullptr;
    arcs.push_back(std::strtoul(p, &end, 10));
    p = *end == '.' ? end + 1 : end;
  }
  Bytes v;
  v.push_back(static_cast<uint8_t>(arcs[0] * 40 + arcs[1]));
  for (size_t i = 2; i < arcs.size(); ++i) {
    uint8_t buf[10];
    int k = 0;
    unsigned long a = arcs[i];
    do {
      buf[k++] = static_cast<uint8_t>(a & 0x7F);
      a >>= 7;
    } while (a != 0);
    while (k > 0) {
      --k;
      v.push_back(static_cast<uint8_t>(buf[k] | (k > 0 ? 0x80 : 0)));
    }
  }
  return Tlv(0x06, v);
}

Bytes Null() { return Bytes{0x05, 0x00}; }
Bytes Bool(bool value) { return Bytes{0x01, 0x01, static_cast<uint8_t>(value ? 0xFF : 0)}; }
Bytes Octets(const Bytes& value) { return Tlv(0x04, value); }
Bytes Utf8(const std::string& text) { return Tlv(0x0C, Bytes(text.begin(), text.end())); }

Bytes Bits(const Bytes& value, int unusedBits) {
  Bytes v{static_cast<uint8_t>(unusedBits)};
  v.insert(v.end(), value.begin(), value.end());
  return Tlv(0x03, v);
}

Bytes Time(std::time_t t) {
  const std::tm tm = UtcCalendar(t);
  char buf[32];
  const int year = tm.tm_year + 1900;
  if (year >= 1950 && year < 2050) {
    std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%02d%02dZ", year % 100, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                  tm.tm_min, tm.tm_sec);
    return Tlv(0x17, Bytes(buf, buf + std::strlen(buf)));
  }
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02dZ", year, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  return Tlv(0x18, Bytes(buf, buf + std::strlen(buf)));
}

}  // namespace standin::der
