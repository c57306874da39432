// What the stand-in "advapi32.dll" and "crypt32.dll" share. crypt32 is linked against advapi32
// (as on Windows), so provider handles, the state directory and the per-thread last error are
// one; the few internal calls between the two are exports of advapi32 named "ZkCapi...".
#pragma once

#include <openssl/evp.h>

#include <string>
#include <vector>

#include "engines/capi/capi_api.h"
#include "standin.h"

namespace capistandin {

using namespace zk::capi;

// The results the stand-in reports through the last error (HRESULTs and Win32 codes).
constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorNotEnoughMemory = 8;
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorCallNotImplemented = 120;
constexpr DWORD kErrorNoMoreItems = 259;
constexpr DWORD kNteBadUid = 0x80090001;
constexpr DWORD kNteBadKey = 0x80090003;
constexpr DWORD kNteBadData = 0x80090005;
constexpr DWORD kNteBadAlgid = 0x80090008;
constexpr DWORD kNteBadFlags = 0x80090009;
constexpr DWORD kNteBadType = 0x8009000A;
constexpr DWORD kNteNoKey = 0x8009000D;
constexpr DWORD kNteExists = 0x8009000F;
constexpr DWORD kNteBadProvider = 0x80090013;
constexpr DWORD kNteBadKeyset = 0x80090016;
constexpr DWORD kNteKeysetNotDef = 0x80090019;
constexpr DWORD kNteProvTypeNoMatch = 0x8009001B;
constexpr DWORD kCryptEMsgError = 0x80091001;
constexpr DWORD kCryptEUnknownAlgo = 0x80091002;
constexpr DWORD kCryptEInvalidMsgType = 0x80091004;
constexpr DWORD kCryptEInvalidIndex = 0x80091008;
constexpr DWORD kCryptEAlreadyDecrypted = 0x80091009;
constexpr DWORD kCryptENotDecrypted = 0x8009100A;
constexpr DWORD kCryptERecipientNotFound = 0x8009100B;
constexpr DWORD kCryptEControlType = 0x8009100C;
constexpr DWORD kCryptESignerNotFound = 0x8009100E;
constexpr DWORD kCryptEAttributesMissing = 0x8009100F;
constexpr DWORD kCryptEStreamMsgNotReady = 0x80091010;
constexpr DWORD kCryptEFileError = 0x80092003;
constexpr DWORD kCryptENotFound = 0x80092004;
constexpr DWORD kCryptEExists = 0x80092005;
constexpr DWORD kCryptENoKeyProperty = 0x8009200B;
constexpr DWORD kCryptENoDecryptCert = 0x8009200C;
constexpr DWORD kCryptEBadEncode = 0x80092002;
constexpr DWORD kCryptEAsn1BadTag = 0x8009310B;

// Sets the calling thread's last error and answers FALSE, for `return Fail(code);`.
BOOL Fail(DWORD code);
// The scripted answer of a call ("answer"/"fail" control verbs) as a failure, or 0 to go on.
bool Scripted(const char* function);

}  // namespace capistandin

// advapi32's internal exports used by crypt32.
extern "C" {
STANDIN_EXPORT void SetLastError(zk::capi::DWORD code);
STANDIN_EXPORT zk::capi::DWORD GetLastError();
// The library context of the RSA/legacy algorithms; GOST keys and ciphers come from the engine
// (default context).
STANDIN_EXPORT OSSL_LIB_CTX* ZkCapiLibContext();
// The key of a provider handle (with a reference the caller frees), or null with the last error.
STANDIN_EXPORT EVP_PKEY* ZkCapiProviderKey(zk::capi::HCRYPTPROV Prov, zk::capi::DWORD KeySpec);
// A provider handle for (provider, container), as CryptAcquireContextA with flags 0.
STANDIN_EXPORT zk::capi::BOOL ZkCapiAcquire(zk::capi::HCRYPTPROV* Prov, const char* Container, const char* Provider,
                                            zk::capi::DWORD Type);
// The state directory (ends with "/"), empty when none is set; and setting it.
STANDIN_EXPORT const char* ZkCapiHome();
STANDIN_EXPORT void ZkCapiSetHome(const char* dir);
// advapi32 calls crypt32 makes itself.
STANDIN_EXPORT zk::capi::BOOL CryptContextAddRef(zk::capi::HCRYPTPROV, zk::capi::DWORD*, zk::capi::DWORD);
STANDIN_EXPORT zk::capi::BOOL CryptReleaseContext(zk::capi::HCRYPTPROV, zk::capi::DWORD);
STANDIN_EXPORT zk::capi::BOOL CryptEnumProvidersA(zk::capi::DWORD, zk::capi::DWORD*, zk::capi::DWORD,
                                                  zk::capi::DWORD*, char*, zk::capi::DWORD*);
STANDIN_EXPORT zk::capi::BOOL CryptAcquireContextA(zk::capi::HCRYPTPROV*, const char*, const char*, zk::capi::DWORD,
                                                   zk::capi::DWORD);
STANDIN_EXPORT zk::capi::BOOL CryptGenKey(zk::capi::HCRYPTPROV, zk::capi::DWORD, zk::capi::DWORD,
                                          zk::capi::HCRYPTKEY*);
STANDIN_EXPORT zk::capi::BOOL CryptDestroyKey(zk::capi::HCRYPTKEY);
// crypt32 calls it makes itself.
STANDIN_EXPORT zk::capi::HCERTSTORE CertOpenSystemStoreA(zk::capi::HCRYPTPROV, const char*);
STANDIN_EXPORT zk::capi::BOOL CertCloseStore(zk::capi::HCERTSTORE, zk::capi::DWORD);
STANDIN_EXPORT zk::capi::HCERTSTORE CertDuplicateStore(zk::capi::HCERTSTORE);
STANDIN_EXPORT zk::capi::PCCERT_CONTEXT CertCreateCertificateContext(zk::capi::DWORD, const zk::capi::BYTE*,
                                                                     zk::capi::DWORD);
STANDIN_EXPORT zk::capi::BOOL CertFreeCertificateContext(zk::capi::PCCERT_CONTEXT);
STANDIN_EXPORT zk::capi::PCCERT_CONTEXT CertDuplicateCertificateContext(zk::capi::PCCERT_CONTEXT);
STANDIN_EXPORT zk::capi::BOOL CertAddCertificateContextToStore(zk::capi::HCERTSTORE, zk::capi::PCCERT_CONTEXT,
                                                               zk::capi::DWORD, zk::capi::PCCERT_CONTEXT*);
STANDIN_EXPORT zk::capi::PCCERT_CONTEXT CertEnumCertificatesInStore(zk::capi::HCERTSTORE, zk::capi::PCCERT_CONTEXT);
STANDIN_EXPORT zk::capi::BOOL CertSetCertificateContextProperty(zk::capi::PCCERT_CONTEXT, zk::capi::DWORD,
                                                                zk::capi::DWORD, const void*);
STANDIN_EXPORT zk::capi::BOOL CertGetCertificateContextProperty(zk::capi::PCCERT_CONTEXT, zk::capi::DWORD, void*,
                                                                zk::capi::DWORD*);
}
