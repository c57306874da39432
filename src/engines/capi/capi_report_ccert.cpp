// The certificate report's extra block for a "CCERT" key location: the version, every kind of
// alternative name under its own key, the private-key usage period and the previous certificate.
// Every key is written, in its fixed order, empty when the certificate has no such value; several
// values of one key are joined by ";".
#include <cstdio>

#include "engines/capi/capi_der.h"
#include "engines/capi/capi_dll.h"
#include "frame/fileutils.h"

namespace zk::capi {

namespace {

const char* const kEol = "\r\n";
constexpr uint8_t kOtherName = 0xA0, kEmail = 0x81, kDns = 0x82, kX400 = 0xA3, kUri = 0x86, kIp = 0x87, kRegId = 0x88;

// Where each key takes its value from: an other-name of that attribute type, or a GeneralName
// kind. Account number, BIC, Notes address and passport have no source these certificates carry.
struct TAltKey {
  const char* key;
  const char* otherNameOid;
  uint8_t tag;
};
const TAltKey kAltKeys[] = {
    {"AltO", "2.5.4.10", 0},     {"AltT", "2.5.4.12", 0},      {"AltE", nullptr, kEmail},
    {"AltDNS", nullptr, kDns},   {"AltURL", nullptr, kUri},    {"AltSName", "2.5.4.4", 0},
    {"AltRegAdr", "2.5.4.26", 0}, {"AltBCat", "2.5.4.15", 0},  {"AltPhone", "2.5.4.20", 0},
    {"AltDescr", "2.5.4.13", 0}, {"AltPost", "2.5.4.16", 0},   {"AltAcNum", nullptr, 0},
    {"AlBic", nullptr, 0},       {"AltExchAddr", nullptr, kX400}, {"AltNotesAddr", nullptr, 0},
    {"AltPassp", nullptr, 0},    {"AltIP", nullptr, kIp},      {"AltREGID", nullptr, kRegId}};

// A string value's text; the strings of a constructed value (a postal address) joined by ", ".
std::string ValueText(const TDerItem& value) {
  if ((value.Tag & 0x20) == 0) return DirectoryStringText(value);
  std::string text;
  const uint8_t* p = value.Content;
  size_t left = value.Length;
  TDerItem part;
  while (left > 0 && ReadDerItem(p, left, part)) text += (text.empty() ? "" : ", ") + DirectoryStringText(part);
  return text;
}

std::string IpText(const TDerItem& ip) {
  if (ip.Length != 4) return BytesToHex(ip.Content, static_cast<int32_t>(ip.Length), 0, 0);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip.Content[0], ip.Content[1], ip.Content[2], ip.Content[3]);
  return text;
}

// The text of one GeneralName when it belongs to `key`; false when it does not.
bool NameFor(const TAltKey& key, const TDerItem& name, std::string& text) {
  if (key.otherNameOid != nullptr) {
    const uint8_t* p = name.Content;
    size_t left = name.Length;
    TDerItem type, wrapped, value;
    if (name.Tag != kOtherName || !ReadDerItem(p, left, type) || type.Tag != 0x06 ||
        OidText(type.Content, type.Length) != key.otherNameOid || !ReadDerItem(p, left, wrapped))
      return false;
    const uint8_t* q = wrapped.Content;
    size_t qleft = wrapped.Length;
    if (!ReadDerItem(q, qleft, value)) return false;
    text = ValueText(value);
    return true;
  }
  if (key.tag == 0 || name.Tag != key.tag) return false;
  if (key.tag == kIp) text = IpText(name);
  else if (key.tag == kRegId) text = OidText(name.Content, name.Length);
  else if (key.tag == kX400) text = BytesToHex(name.Content, static_cast<int32_t>(name.Length), 0, 0);
  else text.assign(reinterpret_cast<const char*>(name.Content), name.Length);
  return true;
}

// "dd-mm-yy hh:mm:ss" of a GeneralizedTime ("YYYYMMDDHHMMSSZ"), as the report writes dates.
std::string GeneralizedTimeText(const TDerItem& time) {
  if (time.Length < 14) return "";
  const auto at = [&](size_t i) { return std::string(reinterpret_cast<const char*>(time.Content) + i, 2); };
  return at(6) + "-" + at(4) + "-" + at(2) + " " + at(8) + ":" + at(10) + ":" + at(12);
}

}  // namespace

std::string CcertReportBlock(const CERT_INFO& Info) {
  std::string r = "CertVer=" + std::to_string(Info.dwVersion + 1) + kEol;
  std::vector<TDerItem> names;
  for (const char* oid : {"2.5.29.17", "2.5.29.18"})
    if (const CERT_EXTENSION* ext = FindExtension(Info, oid))
      for (const auto& name : DerMembers(ext->Value.pbData, ext->Value.cbData)) names.push_back(name);
  for (const auto& key : kAltKeys) {
    std::string values, one;
    for (const auto& name : names)
      if (NameFor(key, name, one)) values += (values.empty() ? "" : ";") + one;
    r += std::string(key.key) + "=" + values + kEol;
  }
  std::string notBefore, notAfter, previous;
  if (const CERT_EXTENSION* ext = FindExtension(Info, "2.5.29.16")) {
    for (const auto& item : DerMembers(ext->Value.pbData, ext->Value.cbData)) {
      if (item.Tag == 0x80) notBefore = GeneralizedTimeText(item);
      if (item.Tag == 0x81) notAfter = GeneralizedTimeText(item);
    }
  }
  // The hash of the certificate this one follows, as a certification authority records it.
  if (const CERT_EXTENSION* ext = FindExtension(Info, "1.3.6.1.4.1.311.21.2")) {
    const auto hash = OctetStringContent(ext->Value.pbData, ext->Value.cbData);
    previous = BytesToHex(hash.data(), static_cast<int32_t>(hash.size()), 0, 0);
  }
  return r + "SecNotBefore=" + notBefore + kEol + "SecNotAfter=" + notAfter + kEol + "PreviousCert=" + previous + kEol;
}

}  // namespace zk::capi
