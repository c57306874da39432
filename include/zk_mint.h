/* zk_mint: one provider-independent interface to the cryptography of online-banking clients.
 *
 * A host lists the engine types, creates one engine by type name, sets its named parameters,
 * installs the two callbacks and passes buffers through the exports below. Output buffers are
 * allocated by the host, sized from the GetMax... exports; no export receives a buffer size.
 * Every int32 result is 0 on success; GetCryptoErrorString gives the text of any other value. */
#ifndef ZK_MINT_H
#define ZK_MINT_H

#include <stdint.h>

#if defined(_WIN32)
#define ZK_STDCALL __stdcall
#if defined(ZK_BUILDING_LIBRARY)
#define ZK_API
#else
#define ZK_API __declspec(dllimport)
#endif
#else
#define ZK_STDCALL
#if defined(ZK_BUILDING_LIBRARY)
#define ZK_API __attribute__((visibility("default")))
#else
#define ZK_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque engine handle from InitCryptoEngine, released with DoneCryptoEngine. */
typedef void* ZkEngine;

/* Password request: write a NUL-terminated password of at most BufferSize bytes into Buffer and
 * return non-zero, or return 0 when the user cancels. */
typedef int32_t(ZK_STDCALL* ZkPasswordRequestFunc)(char* Buffer, int32_t BufferSize);

/* Touch-memory request: State 0 asks the user to attach the key, State 1 closes the prompt. */
typedef void(ZK_STDCALL* ZkTMRequestFunc)(int32_t State);

ZK_API void ZK_STDCALL GetCryptoEngineTypes(int32_t Index, char* TypeName);
ZK_API ZkEngine ZK_STDCALL InitCryptoEngine(const char* TypeName);
ZK_API void ZK_STDCALL DoneCryptoEngine(ZkEngine Engine);
ZK_API void ZK_STDCALL GetCryptoEngineType(ZkEngine Engine, char* TypeName);
ZK_API int32_t ZK_STDCALL GetMaxCryptoEngineTypeLength(void);
ZK_API int32_t ZK_STDCALL GetMaxEncodeAddition(ZkEngine Engine);
ZK_API int32_t ZK_STDCALL GetMaxSignatureLength(ZkEngine Engine);
ZK_API int32_t ZK_STDCALL GetMaxUIDLength(ZkEngine Engine);
ZK_API int32_t ZK_STDCALL GetMaxCryptoParamNameLength(ZkEngine Engine);
ZK_API int32_t ZK_STDCALL GetMaxCryptoParamValueLength(ZkEngine Engine);
ZK_API int32_t ZK_STDCALL GetMaxErrorStringLength(ZkEngine Engine);
ZK_API int32_t ZK_STDCALL GetCryptoParamNumber(ZkEngine Engine);
ZK_API void ZK_STDCALL GetCryptoParamName(ZkEngine Engine, int32_t Index, char* Name);
ZK_API void ZK_STDCALL GetCryptoParamValue(ZkEngine Engine, int32_t Index, char* Value);
ZK_API int32_t ZK_STDCALL SetCryptoParamValue(ZkEngine Engine, int32_t Index, const char* Value);
ZK_API int32_t ZK_STDCALL GetEncodeUIDBySignUID(ZkEngine Engine, const char* SignUID, char* EncodeUID);
ZK_API void ZK_STDCALL GetCryptoErrorString(ZkEngine Engine, int32_t ErrorCode, char* ErrorText);
ZK_API int32_t ZK_STDCALL EncodeData(ZkEngine Engine, uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs);
ZK_API int32_t ZK_STDCALL DecodeData(ZkEngine Engine, uint8_t* Data, int32_t* DataLen, char* SenderUID);
ZK_API int32_t ZK_STDCALL SignData(ZkEngine Engine, const uint8_t* Data, int32_t DataLen, uint8_t* Signature,
                                   int32_t* SignatureLen, const char* SignUID);
ZK_API int32_t ZK_STDCALL VerifyData(ZkEngine Engine, const uint8_t* Data, int32_t DataLen, const uint8_t* Signature,
                                     int32_t SignatureLen, char* SignerUID);
ZK_API int32_t ZK_STDCALL GetCurrentUserUID(ZkEngine Engine, char* UID);
ZK_API void ZK_STDCALL SetPasswordRequestFunc(ZkEngine Engine, ZkPasswordRequestFunc Func);
ZK_API int32_t ZK_STDCALL IncludePublicKey(ZkEngine Engine, const char* FileName);
ZK_API void ZK_STDCALL SetRootPath(ZkEngine Engine, const char* Path);
ZK_API void ZK_STDCALL SetTMRequestFunc(ZkEngine Engine, ZkTMRequestFunc Func);
ZK_API void ZK_STDCALL ClearCash(ZkEngine Engine);
ZK_API int32_t ZK_STDCALL UpdateCertificateCash(ZkEngine Engine, const char* UID);
ZK_API int32_t ZK_STDCALL RemoveCertificate(ZkEngine Engine, const char* UID);
ZK_API int32_t ZK_STDCALL IncludeCRL(ZkEngine Engine, const char* FileName);

#ifdef __cplusplus
}
#endif

#endif /* ZK_MINT_H */
