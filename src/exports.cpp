// The 30 exports. Each is one catch-all barrier: nothing thrown inside an engine leaves the
// library. Exports with a result give -1 for a null handle or an escaped exception; the others
// simply return.
#include <cstring>

#include "engine_factory.h"
#include "frame/crypto_engine.h"
#include "frame/zexroot.h"
#include "zk_mint.h"

using zk::TCryptoEngine;

namespace {

constexpr int32_t kFailure = -1;

TCryptoEngine* AsEngine(ZkEngine engine) { return static_cast<TCryptoEngine*>(engine); }

template <typename Body>
int32_t Guarded(ZkEngine engine, Body body) {
  if (engine == nullptr) return kFailure;
  try {
    return body(AsEngine(engine));
  } catch (...) {
    return kFailure;
  }
}

template <typename Body>
void GuardedProc(ZkEngine engine, Body body) {
  if (engine == nullptr) return;
  try {
    body(AsEngine(engine));
  } catch (...) {
  }
}

}  // namespace

extern "C" {

ZK_API void ZK_STDCALL GetCryptoEngineTypes(int32_t Index, char* TypeName) {
  if (TypeName == nullptr) return;
  TypeName[0] = '\0';
  if (const char* name = zk::EngineTypeName(Index)) std::strcpy(TypeName, name);
}

ZK_API ZkEngine ZK_STDCALL InitCryptoEngine(const char* TypeName) {
  try {
    return zk::CreateEngine(TypeName);
  } catch (...) {
    return nullptr;
  }
}

ZK_API void ZK_STDCALL DoneCryptoEngine(ZkEngine Engine) {
  GuardedProc(Engine, [](TCryptoEngine* e) { delete e; });
}

ZK_API void ZK_STDCALL GetCryptoEngineType(ZkEngine Engine, char* TypeName) {
  if (TypeName == nullptr) return;
  GuardedProc(Engine, [&](TCryptoEngine* e) { e->GetCryptoEngineType(TypeName); });
}

ZK_API int32_t ZK_STDCALL GetMaxCryptoEngineTypeLength(void) { return zk::kMaxEngineTypeLength; }

ZK_API int32_t ZK_STDCALL GetMaxEncodeAddition(ZkEngine Engine) {
  return Guarded(Engine, [](TCryptoEngine* e) { return e->GetMaxEncodeAddition(); });
}

ZK_API int32_t ZK_STDCALL GetMaxSignatureLength(ZkEngine Engine) {
  return Guarded(Engine, [](TCryptoEngine* e) { return e->GetMaxSignatureLength(); });
}

ZK_API int32_t ZK_STDCALL GetMaxUIDLength(ZkEngine Engine) {
  return Guarded(Engine, [](TCryptoEngine* e) { return e->GetMaxUIDLength(); });
}

ZK_API int32_t ZK_STDCALL GetMaxCryptoParamNameLength(ZkEngine Engine) {
  return Guarded(Engine, [](TCryptoEngine* e) { return e->GetMaxCryptoParamNameLength(); });
}

ZK_API int32_t ZK_STDCALL GetMaxCryptoParamValueLength(ZkEngine Engine) {
  return Guarded(Engine, [](TCryptoEngine* e) { return e->GetMaxCryptoParamValueLength(); });
}

ZK_API int32_t ZK_STDCALL GetMaxErrorStringLength(ZkEngine Engine) {
  return Guarded(Engine, [](TCryptoEngine* e) { return e->GetMaxErrorStringLength(); });
}

ZK_API int32_t ZK_STDCALL GetCryptoParamNumber(ZkEngine Engine) {
  return Guarded(Engine, [](TCryptoEngine* e) { return e->GetCryptoParamNumber(); });
}

ZK_API void ZK_STDCALL GetCryptoParamName(ZkEngine Engine, int32_t Index, char* Name) {
  GuardedProc(Engine, [&](TCryptoEngine* e) { e->GetCryptoParamName(Index, Name); });
}

ZK_API void ZK_STDCALL GetCryptoParamValue(ZkEngine Engine, int32_t Index, char* Value) {
  GuardedProc(Engine, [&](TCryptoEngine* e) { e->GetCryptoParamValue(Index, Value); });
}

ZK_API int32_t ZK_STDCALL SetCryptoParamValue(ZkEngine Engine, int32_t Index, const char* Value) {
  return Guarded(Engine, [&](TCryptoEngine* e) { return e->SetCryptoParamValue(Index, Value); });
}

ZK_API int32_t ZK_STDCALL GetEncodeUIDBySignUID(ZkEngine Engine, const char* SignUID, char* EncodeUID) {
  return Guarded(Engine, [&](TCryptoEngine* e) { return e->GetEncodeUIDBySignUID(SignUID, EncodeUID); });
}

ZK_API void ZK_STDCALL GetCryptoErrorString(ZkEngine Engine, int32_t ErrorCode, char* ErrorText) {
  GuardedProc(Engine, [&](TCryptoEngine* e) { e->GetCryptoErrorString(ErrorCode, ErrorText); });
}

ZK_API int32_t ZK_STDCALL EncodeData(ZkEngine Engine, uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) {
  return Guarded(Engine, [&](TCryptoEngine* e) { return e->EncodeData(Data, DataLen, RecipientUIDs); });
}

ZK_API int32_t ZK_STDCALL DecodeData(ZkEngine Engine, uint8_t* Data, int32_t* DataLen, char* SenderUID) {
  return Guarded(Engine, [&](TCryptoEngine* e) { return e->DecodeData(Data, DataLen, SenderUID); });
}

ZK_API int32_t ZK_STDCALL SignData(ZkEngine Engine, const uint8_t* Data, int32_t DataLen, uint8_t* Signature,
                                   int32_t* SignatureLen, const char* SignUID) {
  return Guarded(Engine,
                 [&](TCryptoEngine* e) { return e->SignData(Data, DataLen, Signature, SignatureLen, SignUID); });
}

ZK_API int32_t ZK_STDCALL VerifyData(ZkEngine Engine, const uint8_t* Data, int32_t DataLen, const uint8_t* Signature,
                                     int32_t SignatureLen, char* SignerUID) {
  return Guarded(Engine,
                 [&](TCryptoEngine* e) { return e->VerifyData(Data, DataLen, Signature, SignatureLen, SignerUID); });
}

ZK_API int32_t ZK_STDCALL GetCurrentUserUID(ZkEngine Engine, char* UID) {
  return Guarded(Engine, [&](TCryptoEngine* e) { return e->GetCurrentUID(UID); });
}

ZK_API void ZK_STDCALL SetPasswordRequestFunc(ZkEngine Engine, ZkPasswordRequestFunc Func) {
  GuardedProc(Engine, [&](TCryptoEngine* e) { e->SetPasswordRequestFunc(Func); });
}

ZK_API int32_t ZK_STDCALL IncludePublicKey(ZkEngine Engine, const char* FileName) {
  return Guarded(Engine, [&](TCryptoEngine* e) { return e->IncludePublicKey(FileName); });
}

ZK_API void ZK_STDCALL SetRootPath(ZkEngine Engine, const char* Path) {
  // A root the process already has under another name stops the call before the engine's own
  // root path changes.
  GuardedProc(Engine, [&](TCryptoEngine* e) {
    std::string path = Path ? Path : "";
    zk::SetZEXRoot(path);
    e->SetEngineRootPath(path);
  });
}

ZK_API void ZK_STDCALL SetTMRequestFunc(ZkEngine Engine, ZkTMRequestFunc Func) {
  GuardedProc(Engine, [&](TCryptoEngine* e) { e->TMRequestFunc = Func; });
}

ZK_API void ZK_STDCALL ClearCash(ZkEngine Engine) {
  GuardedProc(Engine, [](TCryptoEngine* e) { e->ClearCash(); });
}

ZK_API int32_t ZK_STDCALL UpdateCertificateCash(ZkEngine Engine, const char* UID) {
  return Guarded(Engine, [&](TCryptoEngine* e) {
    int32_t result = e->UpdateCertificateCash(UID);
    if (result != kFailure) return result;
    // No incremental update: empty the whole cache, which the host sees as success.
    ClearCash(Engine);
    return 0;
  });
}

ZK_API int32_t ZK_STDCALL RemoveCertificate(ZkEngine Engine, const char* UID) {
  return Guarded(Engine, [&](TCryptoEngine* e) { return e->RemoveCertificate(UID); });
}

ZK_API int32_t ZK_STDCALL IncludeCRL(ZkEngine Engine, const char* FileName) {
  return Guarded(Engine, [&](TCryptoEngine* e) { return e->IncludeCRL(FileName); });
}

}  // extern "C"
