// The certificate report that VerifyData returns on request: key, validity, chain result, names,
// signature, key usages, identifiers and CRL distribution points, one "Key=value" per line.
#include <cstdio>
#include <cstring>

#include "engines/capi/capi_der.h"
#include "engines/capi/capi_dll.h"
#include "engines/capi/capi_texts.h"
#include "frame/fileutils.h"
#include "platform/platform.h"

namespace zk::capi {

namespace {

const char* const kEol = "\r\n";
const std::pair<const char*, const char*> kNameKeys[] = {
    {"CN", "2.5.4.3"},  {"C", "2.5.4.6"},   {"S", "2.5.4.8"},  {"L", "2.5.4.7"},
    {"O", "2.5.4.10"}, {"OU", "2.5.4.11"}, {"E", "1.2.840.113549.1.9.1"}, {"DC", "0.9.2342.19200300.100.1.25"}};
const std::pair<uint8_t, const char*> kKeyUsages[] = {
    {0x80, "DigitalSignature"}, {0x40, "NonRepudiation"}, {0x20, "KeyEncipherment"}, {0x10, "DataEncipherment"},
    {0x08, "KeyAgreement"},     {0x04, "KeyCertSign"},    {0x02, "OffLineCrlSign"},  {0x02, "CrlSign"},
    {0x01, "EncipherOnly"}};
// GeneralName choices as the report names them (context tags).
const std::pair<uint8_t, const char*> kGeneralNames[] = {
    {0x81, "Rfc822Name="}, {0x82, "DNSName="}, {0xA4, "DirectoryName="}, {0x86, "URL="}, {0x87, "IPAddress="}};

std::string Hex(const uint8_t* data, size_t size, int group = 0, int line = 0) {
  return BytesToHex(data, static_cast<int32_t>(size), group, line);
}

std::string Narrow(const char16_t* wide) {
  std::string text;
  for (; wide != nullptr && *wide != 0; ++wide) text += *wide < 0x80 ? static_cast<char>(*wide) : '?';
  return text;
}

// "dd-mm-yy hh:mm:ss" of a FILETIME (UTC).
std::string FileTimeText(const FILETIME_& t) {
  const uint64_t ticks = (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  const int64_t seconds = static_cast<int64_t>(ticks / 10000000ULL) - 11644473600LL;
  const int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  const int64_t rest = seconds - days * 86400;
  int y = 0, m = 0, d = 0;
  CivilFromDays(days, y, m, d);
  char text[32];
  std::snprintf(text, sizeof text, "%02d-%02d-%02d %02d:%02d:%02d", d, m, y % 100, static_cast<int>(rest / 3600),
                static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
  return text;
}

std::string NameLines(const CRYPT_BLOB& Name, const std::string& Prefix) {
  std::string text;
  for (const auto& key : kNameKeys) {
    std::string value;
    NameAttribute(Name.pbData, Name.cbData, key.second, value);
    text += Prefix + key.first + "=" + value + kEol;
  }
  return text;
}

// One line per name of a GeneralNames content.
std::string GeneralNameLines(const uint8_t* data, size_t size) {
  std::string text;
  TDerItem item;
  while (size > 0 && ReadDerItem(data, size, item)) {
    for (const auto& kind : kGeneralNames) {
      if (item.Tag != kind.first) continue;
      if (item.Tag == 0xA4) {
        CRYPT_BLOB name{static_cast<DWORD>(item.Length), const_cast<BYTE*>(item.Content)};
        std::string cn;
        NameAttribute(name.pbData, name.cbData, "2.5.4.3", cn);
        text += std::string(kind.second) + cn + kEol;
      } else if (item.Tag == 0x87) {
        text += std::string(kind.second) + Hex(item.Content, item.Length) + kEol;
      } else {
        text += std::string(kind.second) + std::string(reinterpret_cast<const char*>(item.Content), item.Length) + kEol;
      }
    }
  }
  return text;
}

}  // namespace

std::string TCryptoAPI20_DLL::CertificateReport(PCCERT_CONTEXT Cert, const TVerificationSettings& S) {
  const CERT_INFO& info = *Cert->pCertInfo;
  const auto algorithm = [&](const CRYPT_ALGORITHM_IDENTIFIER& id) {
    const CRYPT_OID_INFO* known = api_.CryptFindOIDInfo(kOidInfoOidKey, id.pszObjId, 0);
    std::string text = known != nullptr && known->pwszName != nullptr && *known->pwszName != 0
                           ? Narrow(known->pwszName) + " (" + id.pszObjId + ")"
                           : std::string(id.pszObjId);
    if (id.Parameters.cbData >= 1 && id.Parameters.cbData <= 200)
      text += ", Parameters: " + Hex(id.Parameters.pbData, id.Parameters.cbData);
    return text;
  };
  std::string r = "PKeyAlg=" + algorithm(info.SubjectPublicKeyInfo.Algorithm) + kEol;
  const auto set = [](const FILETIME_& t) { return t.dwLowDateTime != 0 || t.dwHighDateTime != 0; };
  if (set(info.NotAfter) && set(info.NotBefore)) {
    r += "NotAfter=" + FileTimeText(info.NotAfter) + kEol;
    r += "NotBefore=" + FileTimeText(info.NotBefore) + kEol;
  }
  const CRYPT_BIT_BLOB& key = info.SubjectPublicKeyInfo.PublicKey;
  r += std::string("PKey=") + kEol + Hex(key.pbData, key.cbData, 2, 18) + kEol + kEol;

  const int32_t check = ChainCheck(Cert, 0xA0000001);
  r += "CheckRes=" + std::to_string(check);
  if (check != 0) {
    std::string message;
    if (check == kErrCertificate) message = "\xce\xf8\xe8\xe1\xea\xe0 \xef\xf0\xee\xe2\xe5\xf0\xea\xe8 "
                                            "\xf1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2\xe0.";
    else if ((check >= 49 && check <= 56) || check == 65) CodeText(check, message);
    else message = platform::SystemErrorText(static_cast<uint32_t>(check));
    r += std::string(kEol) + "CheckMsg=" + message;
  }
  r += kEol;
  r += NameLines(info.Subject, "");
  r += "SN=" + BytesToHexReversed(info.SerialNumber.pbData, static_cast<int32_t>(info.SerialNumber.cbData)) + kEol;
  r += NameLines(info.Issuer, "I");

  // The signature is outside CERT_INFO: the last item of the encoded certificate.
  const auto parts = DerMembers(Cert->pbCertEncoded, Cert->cbCertEncoded);
  r += "CertSignAlg=" + algorithm(info.SignatureAlgorithm) + kEol;
  r += std::string("CertSign=") + kEol;
  if (parts.size() == 3 && parts[2].Tag == 0x03 && parts[2].Length > 1)
    r += Hex(parts[2].Content + 1, parts[2].Length - 1, 2, 18) + kEol;

  r += "SKU=";
  if (const CERT_EXTENSION* ext = FindExtension(info, "2.5.29.15")) {
    const uint8_t* p = ext->Value.pbData;
    size_t left = ext->Value.cbData;
    TDerItem bits;
    if (ReadDerItem(p, left, bits) && bits.Tag == 0x03 && bits.Length >= 2)
      for (const auto& usage : kKeyUsages)
        if (bits.Content[1] & usage.first) r += std::string(usage.second) + ";";
  }
  r += kEol;
  r += "PKU=";
  if (const CERT_EXTENSION* ext = FindExtension(info, "2.5.29.37")) {
    std::string list;
    for (const auto& item : DerMembers(ext->Value.pbData, ext->Value.cbData)) {
      if (item.Tag != 0x06) continue;
      const std::string oid = OidText(item.Content, item.Length);
      const CRYPT_OID_INFO* known = api_.CryptFindOIDInfo(kOidInfoOidKey, oid.c_str(), 0);
      list += (list.empty() ? "" : ";") + (known ? Narrow(known->pwszName) : std::string()) + "(" + oid + ")";
    }
    r += list;
  }
  r += kEol;
  std::string ski;
  if (const CERT_EXTENSION* ext = FindExtension(info, "2.5.29.14")) {
    const auto id = OctetStringContent(ext->Value.pbData, ext->Value.cbData);
    ski = Hex(id.data(), id.size());
  }
  r += "SPKId=" + ski + kEol;
  std::string keyNumber;
  if (const CERT_EXTENSION* ext = FindExtension(info, "2.5.29.17"))
    OtherName(ext->Value.pbData, ext->Value.cbData, "2.5.4.12", keyNumber);
  r += "RGKeyNum=" + keyNumber + kEol;
  std::string container;
  {
    std::lock_guard<std::recursive_mutex> lock(keyLock_);
    GetKeyContainerNameStr(Cert, S, container);
  }
  r += "SKName=" + container + kEol;

  std::string akiId, akiSerial, akiIssuer;
  if (const CERT_EXTENSION* ext = FindExtension(info, "2.5.29.35")) {
    for (const auto& item : DerMembers(ext->Value.pbData, ext->Value.cbData)) {
      if (item.Tag == 0x80) akiId = Hex(item.Content, item.Length);
      if (item.Tag == 0x82) akiSerial = Hex(item.Content, item.Length);
      if (item.Tag == 0xA1) {
        const uint8_t* p = item.Content;
        size_t left = item.Length;
        TDerItem dir, name;
        // [1] GeneralNames { [4] directoryName { Name } }
        if (ReadDerItem(p, left, dir) && dir.Tag == 0xA4) {
          const uint8_t* q = dir.Content;
          size_t qleft = dir.Length;
          if (ReadDerItem(q, qleft, name))
            akiIssuer = NameLines({static_cast<DWORD>(dir.Length), const_cast<BYTE*>(dir.Content)}, "AkiSubject");
        }
      }
    }
  }
  r += "AkiKId=" + akiId + kEol + "AkiSN=" + akiSerial + kEol;
  r += akiIssuer.empty() ? NameLines({0, nullptr}, "AkiSubject") : akiIssuer;

  r += std::string("CRLDp=") + kEol;
  if (const CERT_EXTENSION* ext = FindExtension(info, "2.5.29.31")) {
    for (const auto& point : DerMembers(ext->Value.pbData, ext->Value.cbData)) {
      // DistributionPoint { [0] { [0] fullName GeneralNames } }
      const uint8_t* p = point.Content;
      size_t left = point.Length;
      TDerItem name, full;
      if (!ReadDerItem(p, left, name) || name.Tag != 0xA0) continue;
      const uint8_t* q = name.Content;
      size_t qleft = name.Length;
      if (ReadDerItem(q, qleft, full) && full.Tag == 0xA0) r += GeneralNameLines(full.Content, full.Length);
    }
  }
  if (S.ContainerLocation == "CCERT") r += CcertReportBlock(info);
  return r;
}

}  // namespace zk::capi
