#include "engines/emulation/ce_emul1.h"

#include <cstring>

#include "frame/errors.h"

namespace zk {

namespace {
constexpr int32_t kBadParamIndex = 10;
}

TEmu1CryptoEngine::TEmu1CryptoEngine() {
  AddParam("Parameter 1", "value 1");
  AddParam("Parameter 2", "value 2");
}

void TEmu1CryptoEngine::GetCryptoEngineType(char* TypeName) {
  if (TypeName != nullptr) std::memcpy(TypeName, "Emulation/1.0", 14);
}

void TEmu1CryptoEngine::GetCryptoParamValue(int32_t Index, char* Value) {
  // Values are copied whole, but never past the caller's buffer of the announced limit: a
  // longer value is cut to the limit minus its terminator.
  ZK_REQUIRE_NOT_NULL(Value);
  Value[0] = '\0';
  if (Index < 1 || Index > GetCryptoParamNumber()) return;
  CopyPCharLimited(ParamValues_[Index - 1].c_str(), Value, GetMaxCryptoParamValueLength());
}

int32_t TEmu1CryptoEngine::SetCryptoParamValue(int32_t Index, const char* Value) {
  if (Index < 1 || Index > GetCryptoParamNumber()) return kBadParamIndex;
  ParamValues_[Index - 1] = Value ? Value : "";
  return 0;
}

int32_t TEmu1CryptoEngine::GetEncodeUIDBySignUID(const char* SignUID, char* EncodeUID) {
  if (SignUID != nullptr && EncodeUID != nullptr) CopyPCharLimited(SignUID, EncodeUID, GetMaxUIDLength());
  return 0;
}

int32_t TEmu1CryptoEngine::GetCurrentUID(char* UID) {
  if (UID != nullptr) UID[0] = '\0';
  return 0;
}

int32_t TEmu1CryptoEngine::EncodeData(uint8_t*, int32_t*, const char*) { return 0; }

int32_t TEmu1CryptoEngine::DecodeData(uint8_t*, int32_t*, char* SenderUID) {
  ZK_REQUIRE_NOT_NULL(SenderUID);
  SenderUID[0] = '\0';
  return 0;
}

int32_t TEmu1CryptoEngine::SignData(const uint8_t*, int32_t, uint8_t*, int32_t* SignatureLen, const char*) {
  ZK_REQUIRE_NOT_NULL(SignatureLen);
  *SignatureLen = 0;
  return 0;
}

int32_t TEmu1CryptoEngine::VerifyData(const uint8_t*, int32_t, const uint8_t*, int32_t, char* SignerUID) {
  ZK_REQUIRE_NOT_NULL(SignerUID);
  SignerUID[0] = '\0';
  return 0;
}

}  // namespace zk
