// The calls of the Validata toolkit "cpki1.dll" (its VCERT_ interface), shared by the binding
// and the stand-in: stdcall on Win32, exported under undecorated names. Contexts are 32-bit
// handles; every block the toolkit hands out is released through its own Free call.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define VCERT_CALL __stdcall
#else
#define VCERT_CALL
#endif

extern "C" {

// The parameter block of VCERT_InitializeEx: five 32-bit fields on Win32.
struct VCERT_INIT_PARAMS {
  uint32_t Size;        // sizeof(VCERT_INIT_PARAMS)
  uint32_t Flags;       // VCERT_FLAG_*
  const char* Pse;      // "pse://signed/<path>" or null
  const char* Store;    // "file://<path>" or null
  const char* Ldap;     // "ldap://<address>" or null
};

constexpr uint32_t VCERT_FLAG_NOCRLUPDATE = 1;
constexpr uint32_t VCERT_FLAG_CHECKEXPIRED = 2;
constexpr uint32_t VCERT_FLAG_NOLDAP = 4;
constexpr uint32_t VCERT_FLAG_NOKEYUNLOAD = 8;

// A certificate as the toolkit describes it. Names are RFC 4514 strings ("CN=a,O=b", most
// specific first); Serial is hexadecimal bytes joined by ":" ("01:A2"); times are seconds since
// 1970 (UTC); the SecNot* pair is the private key's usage period (the certificate's own period
// when it has none). Ekus: ";"-joined OIDs, empty when the certificate lists none.
struct VCERT_CERT {
  const uint8_t* Der;
  uint32_t DerLen;
  const char* Subject;
  const char* Issuer;
  const char* CommonName;  // null when the subject has no CN or more than one
  const char* Serial;
  const char* KeyAlgorithm;
  int64_t NotBefore, NotAfter, SecNotBefore, SecNotAfter;
  uint32_t KeyUsage;  // the first byte of the key-usage bits (0x80 digitalSignature ...)
  const char* Ekus;
};

constexpr uint32_t VCERT_SEARCH_OWN = 1;  // only certificates whose key is in the PSE

// What VCERT_FindCert selects; empty or null fields select everything.
struct VCERT_SEARCH {
  uint32_t Flags;
  const char* CommonName;  // whole-value equality
  const char* Serial;      // hexadecimal, ":" and leading zeros ignored
  const char* Issuer;      // with Serial: the issuer's RFC 4514 name
  const char* EkuOid;      // the certificate must list this usage
};

struct VCERT_FIND_RESULT {
  uint32_t Count;
  VCERT_CERT** Certs;
};

struct VCERT_SIGN_PARAMS {
  const VCERT_CERT* Cert;  // the signing certificate; null: the PSE's only own certificate
};

struct VCERT_BLOB {
  const uint8_t* Data;
  uint32_t Length;
};

struct VCERT_VERIFY_RESULT {
  uint32_t SignerCount;
  VCERT_CERT* Cert;  // the first signer's certificate
};

struct VCERT_DECRYPT_RESULT {
  uint8_t* Data;
  uint32_t Length;
};

}  // extern "C"

// Every name the binding resolves: X(name, return type, argument list). The first 45 are required.
#define ZK_VCERT_USED(X)                                                                                  \
  X(VCERT_Initialize, int32_t, (const char* Profile, uint32_t* Ctx))                                      \
  X(VCERT_InitializeEx, int32_t, (uint32_t Version, const VCERT_INIT_PARAMS* Params, uint32_t* Ctx))      \
  X(VCERT_Uninitialize, int32_t, (uint32_t Ctx))                                                          \
  X(VCERT_FindCert, int32_t, (uint32_t Ctx, const VCERT_SEARCH* Search, VCERT_FIND_RESULT** Result))     \
  X(VCERT_SignMem, int32_t,                                                                               \
    (uint32_t Ctx, const VCERT_SIGN_PARAMS* Params, const uint8_t* Data, uint32_t Len, uint8_t** Sig,     \
     uint32_t* SigLen))                                                                                   \
  X(VCERT_VerifyMem, int32_t,                                                                             \
    (uint32_t Ctx, const VCERT_BLOB* Data, const VCERT_BLOB* Sig, VCERT_VERIFY_RESULT** Result))          \
  X(VCERT_EncryptMem, int32_t,                                                                            \
    (uint32_t Ctx, const VCERT_CERT* const* Certs, uint32_t Count, const VCERT_BLOB* In, uint8_t** Out,   \
     uint32_t* OutLen))                                                                                   \
  X(VCERT_DecryptMem, int32_t,                                                                            \
    (uint32_t Ctx, const VCERT_BLOB* In, const VCERT_CERT* Own, VCERT_DECRYPT_RESULT** Result))           \
  X(VCERT_AddCertificate, int32_t, (uint32_t Ctx, const uint8_t* Der, uint32_t Len))                      \
  X(VCERT_AddCRL, int32_t, (uint32_t Ctx, const uint8_t* Der, uint32_t Len))                              \
  X(VCERT_ImportFile, int32_t, (uint32_t Ctx, const char* File))                                          \
  X(VCERT_ShowCertificate, int32_t, (uint32_t Ctx, const VCERT_CERT* Cert))                               \
  X(VCERT_GetErrorText, int32_t, (int32_t Code, char* Buffer, uint32_t Size))                             \
  X(VCERT_FreeMem, int32_t, (void* Block))                                                                \
  X(VCERT_FreeFindResult, int32_t, (VCERT_FIND_RESULT * Result))                                          \
  X(VCERT_FreeVerifyResult, int32_t, (VCERT_VERIFY_RESULT * Result))                                      \
  X(VCERT_FreeDecryptResult, int32_t, (VCERT_DECRYPT_RESULT * Result))                                    \
  X(VCERT_FreeCert, int32_t, (VCERT_CERT * Cert))                                                         \
  X(VCERT_FreeCertId, int32_t, (void* Id))

// Required names the binding resolves but never calls (the toolkit's other services).
#define ZK_VCERT_UNUSED(X)                                                                                 \
  X(VCERT_SetAuthData) X(VCERT_HashMem) X(VCERT_SignedInfoMem) X(VCERT_EncryptedInfoMem)                   \
  X(VCERT_VerifyAndSignMem) X(VCERT_SignAndEncryptMem) X(VCERT_DecryptAndVerifyMem) X(VCERT_GenRandom)     \
  X(VCERT_HashFile) X(VCERT_SignFile) X(VCERT_VerifyFile) X(VCERT_SignedInfoFile)                          \
  X(VCERT_EncryptedInfoFile) X(VCERT_VerifyAndSignFile) X(VCERT_EncryptFile) X(VCERT_DecryptFile)          \
  X(VCERT_SignAndEncryptFile) X(VCERT_DecryptAndVerifyFile) X(VCERT_ParseCert) X(VCERT_AllocMem)           \
  X(VCERT_FreeSignedInfoResult) X(VCERT_FreeEncryptedInfoResult) X(VCERT_Match) X(VCERT_ImportMem)         \
  X(VCERT_ExportMem) X(VCERT_ExportFile)

// Optional names (resolved, never required).
#define ZK_VCERT_OPTIONAL(X) X(VCERT_SignHashMem) X(VCERT_VerifyHashMem)

extern "C" {
#define ZK_VCERT_DECLARE(name, ret, args) ret VCERT_CALL name args;
ZK_VCERT_USED(ZK_VCERT_DECLARE)
#undef ZK_VCERT_DECLARE
#define ZK_VCERT_DECLARE_UNUSED(name) int32_t VCERT_CALL name();
ZK_VCERT_UNUSED(ZK_VCERT_DECLARE_UNUSED)
ZK_VCERT_OPTIONAL(ZK_VCERT_DECLARE_UNUSED)
#undef ZK_VCERT_DECLARE_UNUSED
}
