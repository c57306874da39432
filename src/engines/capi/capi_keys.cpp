// The private key: its container name from the certificate, and the cached provider context
// with its two time-outs.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engines/capi/capi_der.h"
#include "engines/capi/capi_dll.h"
#include "frame/secure.h"
#include "platform/platform.h"

namespace zk::capi {

namespace {

const char* const kSubjectAltName = "2.5.29.17";
const char* const kSubjectKeyId = "2.5.29.14";
const char* const kKeyNumberOid = "2.5.4.12";
const char* const kCcertExtension = "1.3.6.1.4.1.10244.4.3";

bool StartsWithIgnoringCase(const std::string& text, const std::string& head) {
  if (text.size() < head.size()) return false;
  for (size_t i = 0; i < head.size(); ++i) {
    const auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    if (up(text[i]) != up(head[i])) return false;
  }
  return true;
}

// The text of an extension whose value is a string (or an OCTET STRING, shown in hex).
std::string ExtensionText(PCCERT_CONTEXT Cert, const char* Oid) {
  const CERT_EXTENSION* ext = FindExtension(*Cert->pCertInfo, Oid);
  if (ext == nullptr) return "";
  const uint8_t* p = ext->Value.pbData;
  size_t left = ext->Value.cbData;
  TDerItem item;
  if (!ReadDerItem(p, left, item)) return "";
  if (item.Tag != 0x04) return DirectoryStringText(item);
  static const char kHex[] = "0123456789ABCDEF";
  std::string hex;
  for (size_t i = 0; i < item.Length; ++i) {
    hex += kHex[item.Content[i] >> 4];
    hex += kHex[item.Content[i] & 15];
  }
  return hex;
}

// The key number's text from the other-name 2.5.4.12 of the subject alternative name.
std::string KeyNumberText(PCCERT_CONTEXT Cert, bool& Present) {
  std::string text;
  const CERT_EXTENSION* ext = FindExtension(*Cert->pCertInfo, kSubjectAltName);
  Present = ext != nullptr && OtherName(ext->Value.pbData, ext->Value.cbData, kKeyNumberOid, text);
  return Present ? text : "0";
}

std::string Narrow(const char16_t* wide) {
  std::string text;
  for (; wide != nullptr && *wide != 0; ++wide) text += *wide < 0x100 ? static_cast<char>(*wide) : '?';
  return text;
}

// " (dd-mm-yyyy hh-mm-ss-ms)" of the local time.
std::string DateStamp() {
  const double now = platform::Now();
  int64_t days = static_cast<int64_t>(now);
  int64_t ms = static_cast<int64_t>((now - static_cast<double>(days)) * 86400000.0 + 0.5);
  int y = 0, m = 0, d = 0;
  CivilFromDays(days - 25569, y, m, d);  // day 25569 of the date-time is 1970-01-01
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, " (%02d-%02d-%04d %02d-%02d-%02d-%03d)", d, m, y, static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60),
                static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
  return stamp;
}

}  // namespace

int32_t TCryptoAPI20_DLL::GetKeyContainerNameStr(PCCERT_CONTEXT Cert, const TVerificationSettings& S,
                                                 std::string& Name) {
  const std::string& where = S.ContainerLocation;
  bool present = false;
  const std::string number = KeyNumberText(Cert, present);
  const long keyNumber = std::strtol(number.c_str(), nullptr, 10);
  if (StartsWithIgnoringCase(where, "SYS_REF") && where.size() == 7) {
    HCERTSTORE my = api_.CertOpenSystemStoreA(0, "MY");
    if (my == nullptr) return kErrNotInMY;
    TCertRef mine = FindByIssuerAndSerial(my, *Cert->pCertInfo);
    api_.CertCloseStore(my, 0);
    if (!mine) return kErrNotInMY;
    DWORD size = 0;
    if (!api_.CertGetCertificateContextProperty(mine.Get(), kKeyProvInfoProp, nullptr, &size) || size == 0)
      return kErrNoContainerLink;
    std::vector<uint8_t> buffer(size);
    if (!api_.CertGetCertificateContextProperty(mine.Get(), kKeyProvInfoProp, buffer.data(), &size))
      return kErrNoContainerLink;
    Name = Narrow(reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data())->pwszContainerName);
  } else if (StartsWithIgnoringCase(where, "FIXED_NAME:")) {
    Name = where.substr(11);
    if (!Name.empty() && keyNumber > 1) Name += " " + std::to_string(keyNumber);
  } else if (S.UIDLocationOID == "ZIZ_SN") {
    Name = ExtensionText(Cert, kSubjectKeyId);
    Name = Name.substr(0, Name.find("-K"));
  } else if (where == "TITLE") {
    if (!present) return kErrReadCertificate;
    Name = number;
  } else if (StartsWithIgnoringCase(where, "CCERT") && where.size() == 5) {
    Name = ExtensionText(Cert, kCcertExtension);
  } else {
    Name = GetUIDFromCertContext(Cert, where);
    if (!Name.empty() && number.rfind('0', 0) != 0) Name += " " + number;
  }
  return Name.empty() ? kErrContainerLocation : 0;
}

bool TCryptoAPI20_DLL::AddRef(HCRYPTPROV Prov) {
  if (api_.CryptContextAddRef != nullptr) return api_.CryptContextAddRef(Prov, nullptr, 0) != 0;
  for (auto& entry : provRefCounts_)
    if (entry.first == Prov) {
      ++entry.second;
      return true;
    }
  provRefCounts_.emplace_back(Prov, 1);
  return true;
}

void TCryptoAPI20_DLL::ReleaseRef(HCRYPTPROV Prov) {
  if (api_.CryptContextAddRef != nullptr) {
    api_.CryptReleaseContext(Prov, 0);
    return;
  }
  for (size_t i = 0; i < provRefCounts_.size(); ++i) {
    if (provRefCounts_[i].first != Prov) continue;
    if (--provRefCounts_[i].second <= 0) {
      provRefCounts_.erase(provRefCounts_.begin() + static_cast<std::ptrdiff_t>(i));
      api_.CryptReleaseContext(Prov, 0);
    }
    return;
  }
}

void TCryptoAPI20_DLL::DropKey() {
  if (keyProv_ != 0) ReleaseRef(keyProv_);
  keyProv_ = 0;
  keyContainer_.clear();
  keyTimes_.Reset();
}

// The key moved into an in-memory context, so that the container is not opened again while the
// copy lives. The copy is an optimisation: any failure keeps the container's own context.
void TCryptoAPI20_DLL::CreateVerContextWithSKey() {
  HCRYPTKEY key = 0;
  if (!api_.CryptGetUserKey(keyProv_, kAtKeyExchange, &key)) return;
  DWORD size = 0;
  SecureBytes blob;
  bool exported = api_.CryptExportKey(key, 0, kPrivateKeyBlob, 0, nullptr, &size) && size > 0;
  if (exported) {
    blob.Allocate(size);
    exported = api_.CryptExportKey(key, 0, kPrivateKeyBlob, 0, blob.data(), &size);
  }
  api_.CryptDestroyKey(key);
  if (!exported) return;
  const std::string name = keyContainer_ + std::to_string(reinterpret_cast<uintptr_t>(this)) + DateStamp();
  HCRYPTPROV copy = 0;
  // Microsoft's providers refuse a named verify context; an unnamed one serves as well.
  if (!api_.CryptAcquireContextA(&copy, name.c_str(), providerName_.c_str(), providerType_,
                                 kVerifyContext | kNewKeySet) &&
      !api_.CryptAcquireContextA(&copy, nullptr, providerName_.c_str(), providerType_, kVerifyContext))
    return;
  HCRYPTKEY imported = 0;
  if (!api_.CryptImportKey(copy, blob.data(), size, 0, 0, &imported)) {
    api_.CryptReleaseContext(copy, 0);
    return;
  }
  api_.CryptDestroyKey(imported);
  ReleaseRef(keyProv_);
  keyProv_ = copy;
  if (api_.CryptContextAddRef == nullptr) provRefCounts_.emplace_back(copy, 1);
}

int32_t TCryptoAPI20_DLL::LoadSignKeyInCash(PCCERT_CONTEXT Cert, int32_t KeyTimeout, int32_t LastOpTimeout,
                                            const TVerificationSettings& S) {
  std::string name;
  if (int32_t status = GetKeyContainerNameStr(Cert, S, name)) return status;
  const uint64_t now = TKeyTimeouts::Now();
  if (keyProv_ != 0 && (name != keyContainer_ || keyTimes_.Expired(KeyTimeout, LastOpTimeout, now))) DropKey();
  if (keyProv_ == 0) {
    HCRYPTPROV prov = 0;
    if (!api_.CryptAcquireContextA(&prov, name.c_str(), providerName_.c_str(), providerType_, 0))
      return LastErrorCode();
    keyProv_ = prov;
    if (api_.CryptContextAddRef == nullptr) provRefCounts_.emplace_back(prov, 1);
    keyContainer_ = name;
    keyTimes_.Loaded(KeyTimeout, now);
    if (S.VerifyContextCache && KeyTimeout != 0) CreateVerContextWithSKey();
  }
  // A reference refused is not returned after the operation: the cached key would be released.
  if (!AddRef(keyProv_)) return LastErrorCode();
  CERT_KEY_CONTEXT context{sizeof(CERT_KEY_CONTEXT), keyProv_, kAtKeyExchange};
  if (!api_.CertSetCertificateContextProperty(Cert, kKeyContextProp, 1, &context)) {
    const int32_t status = LastErrorCode();
    ReleaseRef(keyProv_);
    return status;
  }
  return 0;
}

}  // namespace zk::capi
