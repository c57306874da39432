// A small DER writer and reader: what the stand-in builds by hand (certificates, CRLs and CMS,
// which libksba cannot write) and reads back.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cpki1_internal.h"
#include "standin.h"

namespace cpki1::der {

namespace {

void AppendLength(Bytes& out, size_t n) {
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
    return;
  }
  uint8_t buf[8];
  int k = 0;
  for (size_t v = n; v != 0; v >>= 8) buf[k++] = static_cast<uint8_t>(v);
  out.push_back(static_cast<uint8_t>(0x80 | k));
  while (k > 0) out.push_back(buf[--k]);
}

int Digits(const uint8_t* p, int n) {
  int v = 0;
  for (int i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return -1;
    v = v * 10 + (p[i] - '0');
  }
  return v;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

Bytes Header(uint8_t tag, size_t length) {
  Bytes out{tag};
  AppendLength(out, length);
  return out;
}

Bytes Tlv(uint8_t tag, const Bytes& content) {
  Bytes out{tag};
  AppendLength(out, content.size());
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

Bytes SmallInt(long value) {
  Bytes v;
  for (long x = value; x != 0; x >>= 8) v.insert(v.begin(), static_cast<uint8_t>(x & 0xFF));
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
Bytes Octets(const Bytes& value) { return Tlv(0x04, value); }
Bytes Utf8(const std::string& text) { return Tlv(0x0C, Bytes(text.begin(), text.end())); }
Bytes Bool(bool value) { return Bytes{0x01, 0x01, static_cast<uint8_t>(value ? 0xFF : 0)}; }

Bytes Bits(const Bytes& value, int unusedBits) {
  Bytes v{static_cast<uint8_t>(unusedBits)};
  v.insert(v.end(), value.begin(), value.end());
  return Tlv(0x03, v);
}

Bytes Time(std::time_t t) {
  const std::tm tm = standin::UtcCalendar(t);
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

bool Read(const uint8_t* p, const uint8_t* end, Node& node) {
  if (p == nullptr || end - p < 2) return false;
  node.raw = p;
  node.tag = p[0];
  if ((node.tag & 0x1F) == 0x1F) return false;  // multi-byte tags are not used here
  size_t len = p[1];
  const uint8_t* q = p + 2;
  if (len & 0x80) {
    const int k = static_cast<int>(len & 0x7F);
    if (k == 0 || k > 4 || end - q < k) return false;  // no indefinite lengths
    len = 0;
    for (int i = 0; i < k; ++i) len = (len << 8) | *q++;
  }
  if (static_cast<size_t>(end - q) < len) return false;
  node.content = q;
  node.length = len;
  node.rawLength = static_cast<size_t>(q - p) + len;
  return true;
}

bool Parse(const uint8_t* data, size_t len, Node& node) {
  return data != nullptr && len != 0 && Read(data, data + len, node) && node.rawLength == len;
}

bool Children(const Node& node, std::vector<Node>& out) {
  out.clear();
  const uint8_t* p = node.content;
  const uint8_t* end = node.content + node.length;
  while (p < end) {
    Node child;
    if (!Read(p, end, child)) return false;
    out.push_back(child);
    p += child.rawLength;
  }
  return true;
}

std::string OidText(const Node& node) {
  if (node.tag != 0x06 || node.length == 0) return "";
  std::string text = std::to_string(node.content[0] / 40) + "." + std::to_string(node.content[0] % 40);
  unsigned long arc = 0;
  for (size_t i = 1; i < node.length; ++i) {
    arc = (arc << 7) | (node.content[i] & 0x7F);
    if ((node.content[i] & 0x80) == 0) {
      text += "." + std::to_string(arc);
      arc = 0;
    }
  }
  return text;
}

bool ParseTime(const Node& node, std::time_t& t) {
  const uint8_t* p = node.content;
  int year;
  if (node.tag == 0x17 && node.length == 13) {
    year = Digits(p, 2);
    if (year < 0) return false;
    year += year < 50 ? 2000 : 1900;
    p += 2;
  } else if (node.tag == 0x18 && node.length == 15) {
    year = Digits(p, 4);
    p += 4;
  } else {
    return false;
  }
  const int mon = Digits(p, 2), day = Digits(p + 2, 2), h = Digits(p + 4, 2), mi = Digits(p + 6, 2),
            s = Digits(p + 8, 2);
  if (year < 0 || mon < 1 || mon > 12 || day < 1 || day > 31 || h < 0 || mi < 0 || s < 0 || p[10] != 'Z') return false;
  t = static_cast<std::time_t>((DaysFromCivil(year, mon, day) * 24 + h) * 3600L + mi * 60L + s);
  return true;
}

}  // namespace cpki1::der
