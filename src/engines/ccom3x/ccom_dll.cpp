#include "engines/ccom3x/ccom_dll.h"

#include <cstring>

#include "engines/ccom3x/ccom_codes.h"
#include "frame/bindingregistry.h"

namespace zk::ccom3x {

namespace {

TBindingRegistry<TCCom3x_DLL>& Bindings() {
  static TBindingRegistry<TCCom3x_DLL> registry;
  return registry;
}


template <typename T, typename Free>
std::unique_ptr<T, Free> Owned(T* object, Free free) {
  return std::unique_ptr<T, Free>(object, free);
}

}  // namespace

void PrepareBindingStatics() {
  Bindings();
}

void FinalizeBindings() { Bindings().Release(); }

int32_t GetCryptoAPI(const TCCom3x_UserParam& P, std::shared_ptr<TCCom3x_DLL>& Binding) {
  TCCom3xDll_loader& loader = TCCom3xDll_loader::Acquire();
  if (!loader.Loaded()) return kErrLibraryMissing;
  auto create = [&](std::shared_ptr<TCCom3x_DLL>& created) {
    created = std::make_shared<TCCom3x_DLL>(loader.Module(), P.AbonentsDir);
    return created->FunctionsPresent ? kOk : kErrFunctionsMissing;
  };
  return Bindings().Fetch(P.BindingKey(), create, Binding);
}

std::vector<std::shared_ptr<TCCom3x_DLL>> RegisteredBindings() { return Bindings().All(); }

TCCom3x_DLL::TCCom3x_DLL(platform::ModuleHandle Module, const std::string& AbonentsDir) : abonentsDir_(AbonentsDir) {
  LibLoaded = Module != nullptr;
  FunctionsPresent = LibLoaded && ResolveToolkitFunctions(Module, api_);
}

TCCom3x_DLL::~TCCom3x_DLL() {
  if (!FunctionsPresent) return;
  DropKeys();
  SectionLock hold(pairLock_);
  if (ephemeral_ != nullptr) api_.ECGOST_DH_free(ephemeral_);
  ephemeral_ = nullptr;
  pairwise_.clear();
}

int32_t TCCom3x_DLL::Failure() const {
  const int code = api_.ERR_get_last_error();
  // A failed call must never read as success or as one of the engine's own codes.
  return code > 0 ? code : kToolkitInternalError;
}

int32_t TCCom3x_DLL::Random(const TCCom3x_UserParam& P, uint8_t* Out, int32_t Len) {
  if (api_.PSE_rand_inited() == 0) {
    // Reading the PSE initialises the toolkit's generator.
    SectionLock hold(keyLock_);
    const int32_t code = KeepKeys(P);
    if (code != kOk) return code;
  }
  // No lock of ours: the toolkit's one generator guards itself, and a process-wide lock here
  // made the engines of all bindings take turns for every envelope.
  return api_.RAND_bytes(Out, Len) == kCComOk ? kOk : Failure();
}

int32_t TCCom3x_DLL::DeriveKey(const uint8_t* Agreed, uint8_t* Key) const {
  static const uint8_t kZeros[32] = {};
  auto ctx = Owned(api_.GOSTH_new(), api_.GOSTH_free);
  if (!ctx) return Failure();
  if (api_.GOSTH_hash_init(ctx.get(), kHashParamCryptoPro) != kCComOk ||
      api_.GOSTH_update(ctx.get(), Agreed, kAgreedValueSize) != kCComOk ||
      api_.GOSTH_update(ctx.get(), kZeros, sizeof kZeros) != kCComOk || api_.GOSTH_final(ctx.get(), Key) != kCComOk)
    return Failure();
  return kOk;
}

int32_t TCCom3x_DLL::Crypt(CipherMethod Method, bool Encrypt, const uint8_t* Key, const uint8_t* Vector,
                           const uint8_t* In, uint8_t* Out, size_t Len) const {
  const int mode = Method == CipherMethod::kGamma ? kGosteModeGamma : kGosteModeGammaFeedback;
  auto ctx = Owned(api_.GOSTE_new(), api_.GOSTE_free);
  if (!ctx) return Failure();
  if (api_.GOSTE_init(ctx.get(), mode, Encrypt ? kGosteEncrypt : kGosteDecrypt, Key, Vector) != kCComOk)
    return Failure();
  if (Len > 0 && api_.GOSTE_update(ctx.get(), Out, In, Len) != kCComOk) return Failure();
  return kOk;
}

int32_t TCCom3x_DLL::Mac(const uint8_t* Key, const uint8_t* Vector, const uint8_t* Data, size_t Len,
                         uint8_t* Out) const {
  auto ctx = Owned(api_.GOSTE_new(), api_.GOSTE_free);
  if (!ctx) return Failure();
  if (api_.GOSTE_init(ctx.get(), kGosteModeMac, kGosteEncrypt, Key, Vector) != kCComOk) return Failure();
  if (Len > 0 && api_.GOSTE_mac_update(ctx.get(), Data, Len) != kCComOk) return Failure();
  return api_.GOSTE_mac_final(ctx.get(), Out) == kCComOk ? kOk : Failure();
}

int32_t TCCom3x_DLL::CheckSignature(const uint8_t* Key, int32_t KeyLen, const void* Part1, size_t Len1,
                                    const void* Part2, size_t Len2, const uint8_t* Signature,
                                    int32_t SignatureLen) const {
  auto ctx = Owned(api_.ECGOST_SIGN_new(), api_.ECGOST_SIGN_free);
  if (!ctx) return Failure();
  if (api_.ECGOST_verify_init(ctx.get(), Key, KeyLen) != kCComOk) return Failure();
  if (Len1 > 0 && api_.ECGOST_update(ctx.get(), Part1, Len1) != kCComOk) return Failure();
  if (Len2 > 0 && api_.ECGOST_update(ctx.get(), Part2, Len2) != kCComOk) return Failure();
  return api_.ECGOST_verify_final(ctx.get(), Signature, SignatureLen) == kCComOk ? kOk : Failure();
}

int32_t TCCom3x_DLL::EnsureEphemeral() {
  if (ephemeral_ != nullptr) return kOk;
  CCOM_ECGOST_DH* dh = api_.ECGOST_DH_new();
  if (dh == nullptr) return Failure();
  if (api_.ECGOST_DH_generate_key(dh, nullptr, senderValue_) != kCComOk) {
    const int32_t code = Failure();
    api_.ECGOST_DH_free(dh);
    return code;
  }
  ephemeral_ = dh;
  return kOk;
}

int32_t TCCom3x_DLL::SenderValue(uint8_t* Value) {
  SectionLock hold(pairLock_);
  const int32_t code = EnsureEphemeral();
  if (code == kOk) std::memcpy(Value, senderValue_, kPublicValueSize);
  return code;
}

}  // namespace zk::ccom3x
