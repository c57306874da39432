// The calls of the Message-PRO plug-ins "mplug.dll", "mplugf.dll" and "mplug2.dll", shared by the
// binding and the stand-in. Every call is stdcall on Win32 and exported under its plain name;
// context handles are 32-bit numbers, never pointers.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define MP_CALL __stdcall
#else
#define MP_CALL
#endif

typedef uint32_t MPHANDLE;

// The plug-ins export these under the same names as this library's own exports, so the binding
// knows them only as pointer types.
namespace mpapi {

// Limits and names, answered without a context.
typedef int32_t(MP_CALL* GetMaxEncodeAddition)();
typedef int32_t(MP_CALL* GetMaxSignatureLength)();
typedef int32_t(MP_CALL* GetMaxUIDLength)();
typedef int32_t(MP_CALL* GetMaxPasswordLength)();
typedef int32_t(MP_CALL* GetMaxCryptoParamNameLength)();
typedef int32_t(MP_CALL* GetMaxCryptoParamValueLength)();
typedef int32_t(MP_CALL* GetMaxErrorStringLength)();
typedef int32_t(MP_CALL* GetMaxFileNameLength)();
typedef int32_t(MP_CALL* GetMaxCertificateLength)();
typedef int32_t(MP_CALL* GetMaxCertInfoLength)();
typedef int32_t(MP_CALL* GetCryptoParamNumber)();
typedef int32_t(MP_CALL* GetCryptoParamName)(int32_t Index, char* Name);
// Writes at most GetMaxErrorStringLength() bytes with the terminating zero.
typedef int32_t(MP_CALL* GetCryptoErrorString)(int32_t Code, char* Text);

// Contexts.
typedef MPHANDLE(MP_CALL* InitCrypto)();
typedef int32_t(MP_CALL* DoneCrypto)(MPHANDLE Ctx);
typedef int32_t(MP_CALL* SetCryptoParamValue)(MPHANDLE Ctx, int32_t Index, const char* Value);
typedef int32_t(MP_CALL* GetCryptoParamValue)(MPHANDLE Ctx, int32_t Index, char* Value);
// Loads the private key named by the parameters; a context without one answers -6 to signing
// and decryption.
typedef int32_t(MP_CALL* KeysRenewal)(MPHANDLE Ctx);

// Operations through a context. Certificate files are full paths; Files is ";"-separated.
typedef int32_t(MP_CALL* GetCurrentUID)(MPHANDLE Ctx, char* UID);
typedef int32_t(MP_CALL* EncodeData)(MPHANDLE Ctx, uint8_t* Data, int32_t* DataLen, const char* Files);
typedef int32_t(MP_CALL* DecodeData)(MPHANDLE Ctx, uint8_t* Data, int32_t* DataLen, char* Sender);
typedef int32_t(MP_CALL* SignData)(MPHANDLE Ctx, const uint8_t* Data, int32_t DataLen, uint8_t* Signature,
                         int32_t* SignatureLen, const char* CertFile);
typedef int32_t(MP_CALL* VerifyData)(MPHANDLE Ctx, const uint8_t* Data, int32_t* DataLen, const uint8_t* Signature,
                           int32_t SignatureLen, char* Signer);
typedef int32_t(MP_CALL* VerifyDataIgnoreTime)(MPHANDLE Ctx, const uint8_t* Data, int32_t* DataLen,
                                     const uint8_t* Signature, int32_t SignatureLen, char* Signer);
typedef int32_t(MP_CALL* GetCertificateByUID)(MPHANDLE Ctx, const char* CertFile, uint8_t* Buffer, int32_t* Len);
typedef int32_t(MP_CALL* LoadCertificate)(MPHANDLE Ctx, const uint8_t* Buffer, int32_t Len);
typedef int32_t(MP_CALL* GetCRLIssuerName)(MPHANDLE Ctx, const char* CrlFile, char* Issuer);

// Resolved so that a plug-in counts as complete, never called by this library.
typedef int32_t(MP_CALL* GetLastErrorMessage)(char* Text);
typedef int32_t(MP_CALL* SetRootPath)(const char* Path);
typedef int32_t(MP_CALL* SetPasswordRequestFunc)(void* Func);
typedef int32_t(MP_CALL* RemoveSignaturesFromFile)(MPHANDLE Ctx, const char* File);
typedef int32_t(MP_CALL* GenerateNewSSK)(MPHANDLE Ctx);
typedef int32_t(MP_CALL* GenerateNewSEK)(MPHANDLE Ctx);
typedef int32_t(MP_CALL* IncludePublicKey)(MPHANDLE Ctx, const char* File);
typedef int32_t(MP_CALL* IncludePublicEncodeKey)(MPHANDLE Ctx, const char* File);
typedef int32_t(MP_CALL* IsDifferentKeys)(MPHANDLE Ctx);
typedef int32_t(MP_CALL* GetCertInfo)(MPHANDLE Ctx, const char* File, char* Info);
typedef int32_t(MP_CALL* MakeRequestForPSE)(MPHANDLE Ctx);
typedef int32_t(MP_CALL* CertificateAndPrivateKeyMatch)(MPHANDLE Ctx);
typedef int32_t(MP_CALL* CertificateAndPSePrivateKeyMatch)(MPHANDLE Ctx);
typedef int32_t(MP_CALL* CertificateAndPSePrivateKeysMatch)(MPHANDLE Ctx);
typedef int32_t(MP_CALL* CertificateAndRequestMatch)(MPHANDLE Ctx);
typedef int32_t(MP_CALL* PSePrivateKeyBackup)(MPHANDLE Ctx);
typedef int32_t(MP_CALL* GetCertInfoEx)(MPHANDLE Ctx, const char* File, void** Info);
typedef int32_t(MP_CALL* FreeCertInfo)(void* Info);
typedef int32_t(MP_CALL* GetReqInfo)(MPHANDLE Ctx, const char* File, void** Info);
typedef int32_t(MP_CALL* FreeReqInfo)(void* Info);

}  // namespace mpapi

// The required functions in resolving order (the optional VerifyDataIgnoreTime and the
// not-required ones follow separately).
#define ZK_MPLUG_REQUIRED(X)                                                                          \
  X(GetMaxEncodeAddition) X(GetMaxSignatureLength) X(GetMaxUIDLength) X(GetMaxPasswordLength)         \
  X(GetMaxCryptoParamNameLength) X(GetMaxCryptoParamValueLength) X(GetMaxErrorStringLength)           \
  X(GetCryptoErrorString) X(GetLastErrorMessage) X(SetRootPath) X(GetCurrentUID) X(GetMaxFileNameLength) \
  X(SetPasswordRequestFunc) X(InitCrypto) X(DoneCrypto) X(EncodeData) X(DecodeData) X(SignData)       \
  X(VerifyData) X(RemoveSignaturesFromFile) X(GetCryptoParamNumber) X(GetCryptoParamName)             \
  X(GetCryptoParamValue) X(SetCryptoParamValue) X(GenerateNewSSK) X(GenerateNewSEK) X(IncludePublicKey) \
  X(IncludePublicEncodeKey) X(IsDifferentKeys) X(GetCertificateByUID) X(GetMaxCertificateLength)     \
  X(GetMaxCertInfoLength) X(GetCertInfo) X(KeysRenewal) X(MakeRequestForPSE)                          \
  X(CertificateAndPrivateKeyMatch) X(CertificateAndPSePrivateKeyMatch)                                \
  X(CertificateAndPSePrivateKeysMatch) X(CertificateAndRequestMatch) X(PSePrivateKeyBackup)          \
  X(GetCRLIssuerName)
#define ZK_MPLUG_OPTIONAL(X) \
  X(VerifyDataIgnoreTime) X(LoadCertificate) X(GetCertInfoEx) X(FreeCertInfo) X(GetReqInfo) X(FreeReqInfo)
