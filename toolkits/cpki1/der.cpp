// A small DER reader for what the stand-in builds by hand (certificates, CRLs and CMS, which
// libksba cannot write; the writer is the stand-ins' shared one) and reads back.
#include "cpki1_internal.h"

namespace cpki1::der {

namespace {

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
