// The CryptoAPI 2.0 calls of "advapi32.dll" and "crypt32.dll" the binding resolves at run time:
// our own declarations of the types, structures, constants and function types, so that the
// binding needs no system header. The Win32 layouts equal the published ones; they are pinned
// below for the 32-bit build, the one that meets the real CryptoAPI.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define ZK_CAPI_CALL __stdcall
#else
#define ZK_CAPI_CALL
#endif

namespace zk::capi {

using DWORD = uint32_t;
using BOOL = int32_t;
using BYTE = uint8_t;
using HCRYPTPROV = uintptr_t;
using HCRYPTKEY = uintptr_t;
using HCRYPTHASH = uintptr_t;
using HCERTSTORE = void*;
using HCRYPTMSG = void*;
using HCERTCHAINENGINE = void*;

struct CRYPT_BLOB {
  DWORD cbData;
  BYTE* pbData;
};
struct CRYPT_BIT_BLOB {
  DWORD cbData;
  BYTE* pbData;
  DWORD cUnusedBits;
};
struct CRYPT_ALGORITHM_IDENTIFIER {
  char* pszObjId;
  CRYPT_BLOB Parameters;
};
struct CERT_PUBLIC_KEY_INFO {
  CRYPT_ALGORITHM_IDENTIFIER Algorithm;
  CRYPT_BIT_BLOB PublicKey;
};
struct FILETIME_ {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
struct CERT_EXTENSION {
  char* pszObjId;
  BOOL fCritical;
  CRYPT_BLOB Value;
};
struct CERT_INFO {
  DWORD dwVersion;
  CRYPT_BLOB SerialNumber;  // little-endian
  CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
  CRYPT_BLOB Issuer;  // encoded Name
  FILETIME_ NotBefore;
  FILETIME_ NotAfter;
  CRYPT_BLOB Subject;  // encoded Name
  CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
  CRYPT_BIT_BLOB IssuerUniqueId;
  CRYPT_BIT_BLOB SubjectUniqueId;
  DWORD cExtension;
  CERT_EXTENSION* rgExtension;
};
struct CERT_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
  CERT_INFO* pCertInfo;
  HCERTSTORE hCertStore;
};
using PCCERT_CONTEXT = const CERT_CONTEXT*;
struct CRL_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCrlEncoded;
  DWORD cbCrlEncoded;
  void* pCrlInfo;
  HCERTSTORE hCertStore;
};
using PCCRL_CONTEXT = const CRL_CONTEXT*;

struct CERT_KEY_CONTEXT {
  DWORD cbSize;
  HCRYPTPROV hCryptProv;
  DWORD dwKeySpec;
};
struct CRYPT_KEY_PROV_INFO {
  char16_t* pwszContainerName;
  char16_t* pwszProvName;
  DWORD dwProvType;
  DWORD dwFlags;
  DWORD cProvParam;
  void* rgProvParam;
  DWORD dwKeySpec;
};

struct CRYPT_SIGN_MESSAGE_PARA {
  DWORD cbSize;
  DWORD dwMsgEncodingType;
  PCCERT_CONTEXT pSigningCert;
  CRYPT_ALGORITHM_IDENTIFIER HashAlgorithm;
  void* pvHashAuxInfo;
  DWORD cMsgCert;
  PCCERT_CONTEXT* rgpMsgCert;
  DWORD cMsgCrl;
  PCCRL_CONTEXT* rgpMsgCrl;
  DWORD cAuthAttr;
  void* rgAuthAttr;
  DWORD cUnauthAttr;
  void* rgUnauthAttr;
  DWORD dwFlags;
  DWORD dwInnerContentType;
};
struct CRYPT_VERIFY_MESSAGE_PARA {
  DWORD cbSize;
  DWORD dwMsgAndCertEncodingType;
  HCRYPTPROV hCryptProv;
  void* pfnGetSignerCertificate;
  void* pvGetArg;
};
struct CRYPT_ENCRYPT_MESSAGE_PARA {
  DWORD cbSize;
  DWORD dwMsgEncodingType;
  HCRYPTPROV hCryptProv;
  CRYPT_ALGORITHM_IDENTIFIER ContentEncryptionAlgorithm;
  void* pvEncryptionAuxInfo;
  DWORD dwFlags;
  DWORD dwInnerContentType;
};
struct CRYPT_DECRYPT_MESSAGE_PARA {
  DWORD cbSize;
  DWORD dwMsgAndCertEncodingType;
  DWORD cCertStore;
  HCERTSTORE* rghCertStore;
};
struct CMSG_CTRL_DECRYPT_PARA {
  DWORD cbSize;
  HCRYPTPROV hCryptProv;
  DWORD dwKeySpec;
  DWORD dwRecipientIndex;
};
struct CRYPT_ATTRIBUTE {
  char* pszObjId;
  DWORD cValue;
  CRYPT_BLOB* rgValue;
};
struct CRYPT_ATTRIBUTES {
  DWORD cAttr;
  CRYPT_ATTRIBUTE* rgAttr;
};

struct CERT_CHAIN_ENGINE_CONFIG {
  DWORD cbSize;
  HCERTSTORE hRestrictedRoot;
  HCERTSTORE hRestrictedTrust;
  HCERTSTORE hRestrictedOther;
  DWORD cAdditionalStore;
  HCERTSTORE* rghAdditionalStore;
  DWORD dwFlags;
  DWORD dwUrlRetrievalTimeout;
  DWORD MaximumCachedCertificates;
  DWORD CycleDetectionModulus;
};
struct CERT_TRUST_STATUS {
  DWORD dwErrorStatus;
  DWORD dwInfoStatus;
};
// Only the head of the chain context is read.
struct CERT_CHAIN_CONTEXT {
  DWORD cbSize;
  CERT_TRUST_STATUS TrustStatus;
};
struct CERT_USAGE_MATCH {
  DWORD dwType;
  DWORD cUsageIdentifier;
  char** rgpszUsageIdentifier;
};
struct CERT_CHAIN_PARA {
  DWORD cbSize;
  CERT_USAGE_MATCH RequestedUsage;
};

struct CRYPT_OID_INFO {
  DWORD cbSize;
  const char* pszOID;
  const char16_t* pwszName;
  DWORD dwGroupId;
  DWORD dwValue;
  CRYPT_BLOB ExtraInfo;
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(CERT_INFO) == 112, "CERT_INFO");
static_assert(offsetof(CERT_INFO, Subject) == 48, "CERT_INFO.Subject");
static_assert(offsetof(CERT_INFO, cExtension) == 104, "CERT_INFO.cExtension");
static_assert(sizeof(CERT_CONTEXT) == 20, "CERT_CONTEXT");
static_assert(sizeof(CRYPT_SIGN_MESSAGE_PARA) == 68, "CRYPT_SIGN_MESSAGE_PARA");
static_assert(sizeof(CRYPT_VERIFY_MESSAGE_PARA) == 20, "CRYPT_VERIFY_MESSAGE_PARA");
static_assert(sizeof(CRYPT_ENCRYPT_MESSAGE_PARA) == 36, "CRYPT_ENCRYPT_MESSAGE_PARA");
static_assert(sizeof(CERT_CHAIN_ENGINE_CONFIG) == 40, "CERT_CHAIN_ENGINE_CONFIG");
static_assert(sizeof(CERT_KEY_CONTEXT) == 12, "CERT_KEY_CONTEXT");
static_assert(sizeof(CMSG_CTRL_DECRYPT_PARA) == 16, "CMSG_CTRL_DECRYPT_PARA");
static_assert(sizeof(CRYPT_DECRYPT_MESSAGE_PARA) == 16, "CRYPT_DECRYPT_MESSAGE_PARA");
static_assert(offsetof(CRYPT_KEY_PROV_INFO, dwKeySpec) == 24, "CRYPT_KEY_PROV_INFO");
static_assert(offsetof(CRYPT_OID_INFO, dwGroupId) == 12, "CRYPT_OID_INFO");
#endif

constexpr DWORD kEncoding = 0x00010001;  // X509_ASN_ENCODING | PKCS_7_ASN_ENCODING
constexpr DWORD kVerifyContext = 0xF0000000;
constexpr DWORD kNewKeySet = 0x00000008;
constexpr DWORD kAtKeyExchange = 1;
constexpr DWORD kPrivateKeyBlob = 7;
constexpr DWORD kStoreProvMemory = 2;
constexpr DWORD kStoreFlags = 0x2001;  // CERT_STORE_CREATE_NEW_FLAG | CERT_STORE_NO_CRYPT_RELEASE_FLAG
// The message's store must not release the binding's provider when it is closed.
constexpr DWORD kNoCryptRelease = 0x1;
constexpr DWORD kAddReplaceExisting = 3;
constexpr DWORD kAddAlways = 4;
constexpr DWORD kAddNewer = 6;
constexpr DWORD kFindSubjectCert = 0x000B0000;
constexpr DWORD kFindSubjectStrW = 0x00080007;
constexpr DWORD kKeyProvInfoProp = 2;
constexpr DWORD kKeyContextProp = 5;
constexpr DWORD kDetachedFlag = 4;
constexpr DWORD kMsgSignerCertInfoParam = 7;
constexpr DWORD kMsgCertCountParam = 11;
constexpr DWORD kMsgCertParam = 12;
constexpr DWORD kMsgRecipientCountParam = 17;
constexpr DWORD kMsgRecipientInfoParam = 19;
constexpr DWORD kMsgContentParam = 2;
constexpr DWORD kMsgSignerAuthAttrParam = 9;
constexpr DWORD kMsgComputedHashParam = 22;
constexpr DWORD kCtrlVerifySignature = 1;
constexpr DWORD kCtrlDecrypt = 2;
constexpr DWORD kOidHashGroup = 1;
constexpr DWORD kOidEncryptGroup = 2;
constexpr DWORD kOidInfoOidKey = 1;
constexpr DWORD kErrorMoreData = 234;
constexpr DWORD kNteBadSignature = 0x80090006;
constexpr DWORD kNteFail = 0x80090020;

extern "C" {
// advapi32.dll
typedef BOOL(ZK_CAPI_CALL* PFN_CryptAcquireContextA)(HCRYPTPROV*, const char*, const char*, DWORD, DWORD);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptEnumProvidersA)(DWORD, DWORD*, DWORD, DWORD*, char*, DWORD*);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptContextAddRef)(HCRYPTPROV, DWORD*, DWORD);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptReleaseContext)(HCRYPTPROV, DWORD);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptGetUserKey)(HCRYPTPROV, DWORD, HCRYPTKEY*);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptExportKey)(HCRYPTKEY, HCRYPTKEY, DWORD, DWORD, BYTE*, DWORD*);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptImportKey)(HCRYPTPROV, const BYTE*, DWORD, HCRYPTKEY, DWORD, HCRYPTKEY*);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptDestroyKey)(HCRYPTKEY);
// crypt32.dll
typedef HCERTSTORE(ZK_CAPI_CALL* PFN_CertOpenStore)(const char*, DWORD, HCRYPTPROV, DWORD, const void*);
typedef HCERTSTORE(ZK_CAPI_CALL* PFN_CertOpenSystemStoreA)(HCRYPTPROV, const char*);
typedef BOOL(ZK_CAPI_CALL* PFN_CertCloseStore)(HCERTSTORE, DWORD);
typedef PCCERT_CONTEXT(ZK_CAPI_CALL* PFN_CertCreateCertificateContext)(DWORD, const BYTE*, DWORD);
typedef BOOL(ZK_CAPI_CALL* PFN_CertFreeCertificateContext)(PCCERT_CONTEXT);
typedef PCCERT_CONTEXT(ZK_CAPI_CALL* PFN_CertDuplicateCertificateContext)(PCCERT_CONTEXT);
typedef PCCRL_CONTEXT(ZK_CAPI_CALL* PFN_CertCreateCRLContext)(DWORD, const BYTE*, DWORD);
typedef BOOL(ZK_CAPI_CALL* PFN_CertFreeCRLContext)(PCCRL_CONTEXT);
typedef BOOL(ZK_CAPI_CALL* PFN_CertAddCertificateContextToStore)(HCERTSTORE, PCCERT_CONTEXT, DWORD, PCCERT_CONTEXT*);
typedef BOOL(ZK_CAPI_CALL* PFN_CertAddCRLContextToStore)(HCERTSTORE, PCCRL_CONTEXT, DWORD, PCCRL_CONTEXT*);
typedef BOOL(ZK_CAPI_CALL* PFN_CertDeleteCertificateFromStore)(PCCERT_CONTEXT);
typedef PCCERT_CONTEXT(ZK_CAPI_CALL* PFN_CertEnumCertificatesInStore)(HCERTSTORE, PCCERT_CONTEXT);
typedef PCCERT_CONTEXT(ZK_CAPI_CALL* PFN_CertFindCertificateInStore)(HCERTSTORE, DWORD, DWORD, DWORD, const void*,
                                                                     PCCERT_CONTEXT);
typedef BOOL(ZK_CAPI_CALL* PFN_CertGetIntendedKeyUsage)(DWORD, CERT_INFO*, BYTE*, DWORD);
typedef BOOL(ZK_CAPI_CALL* PFN_CertSetCertificateContextProperty)(PCCERT_CONTEXT, DWORD, DWORD, const void*);
typedef BOOL(ZK_CAPI_CALL* PFN_CertGetCertificateContextProperty)(PCCERT_CONTEXT, DWORD, void*, DWORD*);
typedef BOOL(ZK_CAPI_CALL* PFN_CertCreateCertificateChainEngine)(CERT_CHAIN_ENGINE_CONFIG*, HCERTCHAINENGINE*);
typedef BOOL(ZK_CAPI_CALL* PFN_CertGetCertificateChain)(HCERTCHAINENGINE, PCCERT_CONTEXT, FILETIME_*, HCERTSTORE,
                                                        CERT_CHAIN_PARA*, DWORD, void*, const CERT_CHAIN_CONTEXT**);
typedef void(ZK_CAPI_CALL* PFN_CertFreeCertificateChain)(const CERT_CHAIN_CONTEXT*);
typedef void(ZK_CAPI_CALL* PFN_CertFreeCertificateChainEngine)(HCERTCHAINENGINE);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptSignMessage)(CRYPT_SIGN_MESSAGE_PARA*, BOOL, DWORD, const BYTE**, DWORD*, BYTE*,
                                                 DWORD*);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptVerifyDetachedMessageSignature)(CRYPT_VERIFY_MESSAGE_PARA*, DWORD, const BYTE*,
                                                                    DWORD, DWORD, const BYTE**, DWORD*,
                                                                    PCCERT_CONTEXT*);
typedef HCERTSTORE(ZK_CAPI_CALL* PFN_CryptGetMessageCertificates)(DWORD, HCRYPTPROV, DWORD, const BYTE*, DWORD);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptEncryptMessage)(CRYPT_ENCRYPT_MESSAGE_PARA*, DWORD, PCCERT_CONTEXT*, const BYTE*,
                                                    DWORD, BYTE*, DWORD*);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptDecryptMessage)(CRYPT_DECRYPT_MESSAGE_PARA*, const BYTE*, DWORD, BYTE*, DWORD*,
                                                    PCCERT_CONTEXT*);
typedef HCRYPTMSG(ZK_CAPI_CALL* PFN_CryptMsgOpenToDecode)(DWORD, DWORD, DWORD, HCRYPTPROV, void*, void*);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptMsgUpdate)(HCRYPTMSG, const BYTE*, DWORD, BOOL);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptMsgGetParam)(HCRYPTMSG, DWORD, DWORD, void*, DWORD*);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptMsgControl)(HCRYPTMSG, DWORD, DWORD, const void*);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptMsgClose)(HCRYPTMSG);
typedef const CRYPT_OID_INFO*(ZK_CAPI_CALL* PFN_CryptFindOIDInfo)(DWORD, const void*, DWORD);
typedef BOOL(ZK_CAPI_CALL* PFN_CryptEnumOIDInfo)(DWORD, DWORD, void*, BOOL(ZK_CAPI_CALL*)(const CRYPT_OID_INFO*, void*));
typedef void* PFN_Presence;  // resolved to test presence only
}

}  // namespace zk::capi
