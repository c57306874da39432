#include "engines/capi/capi_der.h"

#include <algorithm>

#include "frame/cp1251.h"

namespace zk::capi {

namespace {

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kOid = 0x06;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kUtf8String = 0x0C;
constexpr uint8_t kBmpString = 0x1E;
constexpr uint8_t kOtherNameTag = 0xA0;  // [0] constructed

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

bool ReadDerItem(const uint8_t*& Data, size_t& Left, TDerItem& Item) {
  if (Left < 2 || (Data[0] & 0x1F) == 0x1F) return false;
  Item.Tag = Data[0];
  size_t length = Data[1];
  size_t head = 2;
  if (length & 0x80) {
    const size_t bytes = length & 0x7F;
    if (bytes == 0 || bytes > 4 || Left < 2 + bytes) return false;
    length = 0;
    for (size_t i = 0; i < bytes; ++i) length = (length << 8) | Data[2 + i];
    head += bytes;
  }
  if (length > Left - head) return false;
  Item.Content = Data + head;
  Item.Length = length;
  Data += head + length;
  Left -= head + length;
  return true;
}

std::vector<TDerItem> DerMembers(const uint8_t* Data, size_t Size) {
  std::vector<TDerItem> items;
  TDerItem outer, item;
  if (!ReadDerItem(Data, Size, outer)) return items;
  const uint8_t* p = outer.Content;
  size_t left = outer.Length;
  while (left > 0 && ReadDerItem(p, left, item)) items.push_back(item);
  return items;
}

std::string OidText(const uint8_t* Content, size_t Length) {
  std::string text;
  uint64_t value = 0;
  bool first = true;
  for (size_t i = 0; i < Length; ++i) {
    if (value > (UINT64_MAX >> 7)) return "";
    value = (value << 7) | (Content[i] & 0x7F);
    if (Content[i] & 0x80) continue;
    if (first) {
      const uint64_t top = value < 40 ? 0 : value < 80 ? 1 : 2;
      text = std::to_string(top) + "." + std::to_string(value - top * 40);
      first = false;
    } else {
      text += "." + std::to_string(value);
    }
    value = 0;
  }
  return Length > 0 && (Content[Length - 1] & 0x80) == 0 ? text : "";
}

std::string DirectoryStringText(const TDerItem& Value) {
  const char* bytes = reinterpret_cast<const char*>(Value.Content);
  if (Value.Tag == kUtf8String) return Utf8ToCp1251(std::string_view(bytes, Value.Length));
  if (Value.Tag == kBmpString) {
    std::string utf8;
    for (size_t i = 0; i + 1 < Value.Length; i += 2) AppendUtf8(utf8, (Value.Content[i] << 8) | Value.Content[i + 1]);
    return Utf8ToCp1251(utf8);
  }
  return std::string(bytes, Value.Length);
}

bool NameAttribute(const uint8_t* Name, size_t Size, const std::string& Oid, std::string& Value) {
  TDerItem name, rdn, pair, type, value;
  if (!ReadDerItem(Name, Size, name) || name.Tag != kSequence) return false;
  const uint8_t* p = name.Content;
  size_t left = name.Length;
  while (left > 0) {
    if (!ReadDerItem(p, left, rdn) || rdn.Tag != kSet) return false;
    const uint8_t* q = rdn.Content;
    size_t qleft = rdn.Length;
    while (qleft > 0) {
      if (!ReadDerItem(q, qleft, pair) || pair.Tag != kSequence) return false;
      const uint8_t* r = pair.Content;
      size_t rleft = pair.Length;
      if (!ReadDerItem(r, rleft, type) || type.Tag != kOid || !ReadDerItem(r, rleft, value)) return false;
      if (OidText(type.Content, type.Length) == Oid) {
        Value = DirectoryStringText(value);
        return true;
      }
    }
  }
  return false;
}

bool OtherName(const uint8_t* Names, size_t Size, const std::string& Oid, std::string& Value) {
  TDerItem names, entry, type, wrapped, inner;
  if (!ReadDerItem(Names, Size, names) || names.Tag != kSequence) return false;
  const uint8_t* p = names.Content;
  size_t left = names.Length;
  while (left > 0) {
    if (!ReadDerItem(p, left, entry)) return false;
    if (entry.Tag != kOtherNameTag) continue;
    const uint8_t* q = entry.Content;
    size_t qleft = entry.Length;
    if (!ReadDerItem(q, qleft, type) || type.Tag != kOid) return false;
    if (OidText(type.Content, type.Length) != Oid) continue;
    if (!ReadDerItem(q, qleft, wrapped)) return false;
    const uint8_t* r = wrapped.Content;
    size_t rleft = wrapped.Length;
    if (!ReadDerItem(r, rleft, inner)) return false;
    Value = DirectoryStringText(inner);
    return true;
  }
  return false;
}

std::vector<uint8_t> OctetStringContent(const uint8_t* Data, size_t Size) {
  TDerItem item;
  if (!ReadDerItem(Data, Size, item) || item.Tag != kOctetString || Size != 0) return {};
  return std::vector<uint8_t>(item.Content, item.Content + item.Length);
}

namespace {

// Reads the next item of a constructed value and checks its tag.
bool Next(const uint8_t*& p, size_t& left, uint8_t tag, TDerItem& item) {
  return ReadDerItem(p, left, item) && item.Tag == tag;
}

// AlgorithmIdentifier { OID, NULL or nothing }; Oid receives the dotted text.
bool AlgorithmId(const TDerItem& id, std::string& Oid) {
  if (id.Tag != kSequence) return false;
  const uint8_t* p = id.Content;
  size_t left = id.Length;
  TDerItem oid, params;
  if (!Next(p, left, kOid, oid)) return false;
  Oid = OidText(oid.Content, oid.Length);
  if (left == 0) return !Oid.empty();
  return Next(p, left, 0x05, params) && params.Length == 0 && left == 0 && !Oid.empty();
}

bool SameItem(const TDerItem& a, const TDerItem& b) {
  return a.Tag == b.Tag && a.Length == b.Length && std::equal(a.Content, a.Content + a.Length, b.Content);
}

bool IsInteger1(const TDerItem& item) { return item.Tag == 0x02 && item.Length == 1 && item.Content[0] == 1; }

}  // namespace

bool CertIssuerAndSerial(const uint8_t* Cert, size_t Size, std::vector<uint8_t>& Issuer,
                         std::vector<uint8_t>& Serial) {
  TDerItem cert, tbs, item, algorithm;
  const uint8_t* p = Cert;
  size_t left = Size;
  if (!Next(p, left, kSequence, cert)) return false;
  p = cert.Content;
  left = cert.Length;
  if (!Next(p, left, kSequence, tbs)) return false;
  p = tbs.Content;
  left = tbs.Length;
  if (!ReadDerItem(p, left, item)) return false;
  if (item.Tag == 0xA0 && !ReadDerItem(p, left, item)) return false;  // the version
  if (item.Tag != 0x02 || item.Length == 0 || !Next(p, left, kSequence, algorithm)) return false;
  Serial.assign(item.Content, item.Content + item.Length);
  std::reverse(Serial.begin(), Serial.end());
  const uint8_t* name = p;
  if (!Next(p, left, kSequence, item)) return false;
  Issuer.assign(name, p);
  return true;
}

bool StrictDetachedSignature(const uint8_t* Signature, size_t Size, const std::string& KeyAlgOid) {
  TDerItem info, type, wrapped, signedData, version, digests, content, item, signers;
  const uint8_t* p = Signature;
  size_t left = Size;
  if (!Next(p, left, kSequence, info)) return false;
  p = info.Content;
  left = info.Length;
  if (!Next(p, left, kOid, type) || OidText(type.Content, type.Length) != "1.2.840.113549.1.7.2" ||
      !Next(p, left, 0xA0, wrapped) || left != 0)
    return false;
  p = wrapped.Content;
  left = wrapped.Length;
  if (!Next(p, left, kSequence, signedData) || left != 0) return false;
  p = signedData.Content;
  left = signedData.Length;
  if (!ReadDerItem(p, left, version) || !IsInteger1(version) || !Next(p, left, kSet, digests)) return false;
  // Detached plain data: the content type alone.
  TDerItem contentType;
  if (!Next(p, left, kSequence, content)) return false;
  const uint8_t* c = content.Content;
  size_t cleft = content.Length;
  if (!Next(c, cleft, kOid, contentType) || cleft != 0 ||
      OidText(contentType.Content, contentType.Length) != "1.2.840.113549.1.7.1")
    return false;
  // Optional certificates [0] and CRLs [1], then the one signer.
  if (!ReadDerItem(p, left, item)) return false;
  if (item.Tag == 0xA0 && !ReadDerItem(p, left, item)) return false;
  if (item.Tag == 0xA1 && !ReadDerItem(p, left, item)) return false;
  signers = item;
  if (signers.Tag != kSet || left != 0) return false;
  TDerItem signer, signerVersion, issuerSerial, digest, next, signature;
  p = signers.Content;
  left = signers.Length;
  if (!Next(p, left, kSequence, signer) || left != 0) return false;
  p = signer.Content;
  left = signer.Length;
  std::string digestOid, signatureOid;
  if (!ReadDerItem(p, left, signerVersion) || !IsInteger1(signerVersion) || !Next(p, left, kSequence, issuerSerial) ||
      !ReadDerItem(p, left, digest) || !AlgorithmId(digest, digestOid) || !ReadDerItem(p, left, next))
    return false;
  if (next.Tag == 0xA0 && !ReadDerItem(p, left, next)) return false;  // signed attributes
  if (!AlgorithmId(next, signatureOid) || signatureOid != KeyAlgOid || !Next(p, left, kOctetString, signature))
    return false;
  if (left != 0 && (!ReadDerItem(p, left, item) || item.Tag != 0xA1 || left != 0)) return false;
  // The digest algorithms listed: exactly the signer's.
  const uint8_t* d = digests.Content;
  size_t dleft = digests.Length;
  TDerItem listed;
  return ReadDerItem(d, dleft, listed) && dleft == 0 && SameItem(listed, digest);
}

void CivilFromDays(int64_t Days, int& Year, int& Month, int& Day) {
  const int64_t z = Days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  Day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  Year = static_cast<int>(yoe + era * 400 + (Month <= 2 ? 1 : 0));
}

}  // namespace zk::capi
