// OID information of the stand-in "crypt32.dll" (hash, encryption, public-key and signature
// groups), the GOST algorithms among them; and the calls the CryptoAPI binding resolves but
// never makes, answering ERROR_CALL_NOT_IMPLEMENTED.
#include <cstring>

#include "crypt32_internal.h"

namespace capistandin {
namespace {

constexpr DWORD kHash = 1, kEncrypt = 2, kPublicKey = 3, kSign = 4;

const CRYPT_OID_INFO kOids[] = {
    {sizeof(CRYPT_OID_INFO), "1.3.14.3.2.26", u"sha1", kHash, 0x8004, {0, nullptr}},
    {sizeof(CRYPT_OID_INFO), "1.2.840.113549.2.5", u"md5", kHash, 0x8003, {0, nullptr}},
    {sizeof(CRYPT_OID_INFO), "1.2.840.113549.2.2", u"md2", kHash, 0x8001, {0, nullptr}},
    {sizeof(CRYPT_OID_INFO), "2.16.840.1.101.3.4.2.1", u"sha256", kHash, 0x800C, {0, nullptr}},
    {sizeof(CRYPT_OID_INFO), "1.2.643.2.2.9", u"GOST R 34.11-94", kHash, 0x801E, {0, nullptr}},
    {sizeof(CRYPT_OID_INFO), "1.2.840.113549.3.2", u"rc2", kEncrypt, 0x6602, {0, nullptr}},
    {sizeof(CRYPT_OID_INFO), "1.2.840.113549.3.4", u"rc4", kEncrypt, 0x6801, {0, nullptr}},
    {sizeof(CRYPT_OID_INFO), "1.3.14.3.2.7", u"des", kEncrypt, 0x6601, {0, nullptr}},
    {sizeof(CRYPT_OID_INFO), "1.2.840.113549.3.7", u"3des", kEncrypt, 0x6603, {0, nullptr}},
    {sizeof(CRYPT_OID_INFO), "2.16.840.1.101.3.4.1.2", u"aes128", kEncrypt, 0x660E, {0, nullptr}},
    {sizeof(CRYPT_OID_INFO), "2.16.840.1.101.3.4.1.42", u"aes256", kEncrypt, 0x6610, {0, nullptr}},
    {sizeof(CRYPT_OID_INFO), "1.2.643.2.2.21", u"GOST 28147-89", kEncrypt, 0x661E, {0, nullptr}},
    {sizeof(CRYPT_OID_INFO), "1.2.840.113549.1.1.1", u"RSA", kPublicKey, 0xA400, {0, nullptr}},
    {sizeof(CRYPT_OID_INFO), "1.2.643.2.2.19", u"GOST R 34.10-2001", kPublicKey, 0xAA24, {0, nullptr}},
    {sizeof(CRYPT_OID_INFO), "1.2.840.113549.1.1.5", u"sha1RSA", kSign, 0x8004, {0, nullptr}},
    {sizeof(CRYPT_OID_INFO), "1.2.840.113549.1.1.11", u"sha256RSA", kSign, 0x800C, {0, nullptr}},
    {sizeof(CRYPT_OID_INFO), "1.2.643.2.2.3", u"GOST R 34.11/34.10-2001", kSign, 0x801E, {0, nullptr}},
};

bool SameNameIgnoringCase(const char16_t* a, const char16_t* b) {
  auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
  for (; *a != 0 && *b != 0; ++a, ++b)
    if (fold(*a) != fold(*b)) return false;
  return *a == *b;
}

}  // namespace
}  // namespace capistandin

using namespace capistandin;

extern "C" {

// Key types: 1 OID (char*), 2 name (UTF-16), 3 ALG_ID (DWORD*). Group 0 is any group.
STANDIN_EXPORT const CRYPT_OID_INFO* CryptFindOIDInfo(DWORD KeyType, const void* Key, DWORD Group) {
  if (Key == nullptr) return nullptr;
  for (const auto& info : kOids) {
    if (Group != 0 && info.dwGroupId != Group) continue;
    if ((KeyType == 1 && std::strcmp(info.pszOID, static_cast<const char*>(Key)) == 0) ||
        (KeyType == 2 && SameNameIgnoringCase(info.pwszName, static_cast<const char16_t*>(Key))) ||
        (KeyType == 3 && info.dwValue == *static_cast<const DWORD*>(Key)))
      return &info;
  }
  return nullptr;
}

STANDIN_EXPORT BOOL CryptEnumOIDInfo(DWORD Group, DWORD, void* Arg, BOOL (*Callback)(const CRYPT_OID_INFO*, void*)) {
  if (Scripted("CryptEnumOIDInfo")) return 0;
  if (Callback == nullptr) return Fail(kErrorInvalidParameter);
  for (const auto& info : kOids)
    if ((Group == 0 || info.dwGroupId == Group) && !Callback(&info, Arg)) return 0;
  return 1;
}

#define ZK_NOT_IMPLEMENTED(name, ...)      \
  STANDIN_EXPORT BOOL name(__VA_ARGS__) {  \
    if (Scripted(#name)) return 0;         \
    return Fail(kErrorCallNotImplemented); \
  }
ZK_NOT_IMPLEMENTED(CryptDecodeObject, DWORD, const char*, const BYTE*, DWORD, DWORD, void*, DWORD*)
ZK_NOT_IMPLEMENTED(CryptEncodeObject, DWORD, const char*, const void*, BYTE*, DWORD*)
ZK_NOT_IMPLEMENTED(CryptVerifyCertificateSignature, HCRYPTPROV, DWORD, const BYTE*, DWORD, CERT_PUBLIC_KEY_INFO*)
ZK_NOT_IMPLEMENTED(CryptVerifyMessageSignature, CRYPT_VERIFY_MESSAGE_PARA*, DWORD, const BYTE*, DWORD, BYTE*, DWORD*,
                   PCCERT_CONTEXT*)
ZK_NOT_IMPLEMENTED(CertGetStoreProperty, HCERTSTORE, DWORD, void*, DWORD*)
ZK_NOT_IMPLEMENTED(CryptExportPublicKeyInfo, HCRYPTPROV, DWORD, DWORD, CERT_PUBLIC_KEY_INFO*, DWORD*)
ZK_NOT_IMPLEMENTED(CryptSignAndEncodeCertificate, HCRYPTPROV, DWORD, DWORD, const char*, const void*,
                   CRYPT_ALGORITHM_IDENTIFIER*, const void*, BYTE*, DWORD*)
ZK_NOT_IMPLEMENTED(CertSetStoreProperty, HCERTSTORE, DWORD, DWORD, const void*)
ZK_NOT_IMPLEMENTED(CertSaveStore, HCERTSTORE, DWORD, DWORD, DWORD, void*, DWORD)
ZK_NOT_IMPLEMENTED(CertFindCertificateInCRL, PCCERT_CONTEXT, PCCRL_CONTEXT, DWORD, void*, void*)
ZK_NOT_IMPLEMENTED(CertRemoveEnhancedKeyUsageIdentifier, PCCERT_CONTEXT, const char*)
ZK_NOT_IMPLEMENTED(CertVerifyCRLRevocation, DWORD, CERT_INFO*, DWORD, void*)
ZK_NOT_IMPLEMENTED(CryptHashMessage, void*, BOOL, DWORD, const BYTE**, DWORD*, BYTE*, DWORD*, BYTE*, DWORD*)
ZK_NOT_IMPLEMENTED(CryptRegisterOIDInfo, const CRYPT_OID_INFO*, DWORD)

}  // extern "C"
