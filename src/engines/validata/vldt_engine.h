// The engine of type "Validata Crypto Engine": certificate-based signatures, encryption for any
// number of recipients' certificates and a local store of certificates and CRLs, through a
// binding to "cpki1.dll" shared by every engine with the same settings.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engines/validata/vldt_dll.h"
#include "frame/crypto_engine.h"

namespace zk {

class TValidataEngine : public TCryptoEngine {
 public:
  TValidataEngine();

  void GetCryptoEngineType(char* TypeName) override;
  int32_t GetMaxEncodeAddition() override { return 4096; }
  int32_t GetMaxSignatureLength() override { return 2048; }
  int32_t GetMaxErrorStringLength() override { return 300; }
  // Verification reports (description, PEM) are up to 4096 bytes with their NUL.
  int32_t GetMaxUIDLength() override { return 4096; }
  int32_t SetCryptoParamValue(int32_t Index, const char* Value) override;
  int32_t GetEncodeUIDBySignUID(const char* SignUID, char* EncodeUID) override;
  int32_t GetCurrentUID(char* UID) override;
  void GetCryptoErrorString(int32_t ErrorCode, char* ErrorText) override;
  int32_t EncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) override;
  int32_t DecodeData(uint8_t* Data, int32_t* DataLen, char* SenderUID) override;
  int32_t SignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature, int32_t* SignatureLen,
                   const char* SignUID) override;
  int32_t VerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature, int32_t SignatureLen,
                     char* SignerUID) override;
  int32_t IncludePublicKey(const char* FileName) override;
  int32_t IncludeCRL(const char* FileName) override;
  void ClearCash() override;

  // The settings of the current parameters: 0, or kErrException with the text stored.
  int32_t ReadSettings(validata::TValidataSettings& S);

 private:
  using Binding = std::shared_ptr<validata::TValidata>;
  // Settings and the shared binding: 0, -21, -22 or the settings' code.
  int32_t Obtain(validata::TValidataSettings& S, Binding& B);
  int32_t Operation(const char* Name, const std::function<int32_t(const validata::TValidataSettings&, Binding&)>& Body);

  // The settings as last read, with their binding key, kept until a parameter or the root
  // changes: reading them again for every operation cost more than most decodings.
  std::mutex settingsLock_;
  uint64_t paramChanges_ = 0;  // counts SetCryptoParamValue calls
  bool settingsKept_ = false;
  uint64_t settingsChanges_ = 0;  // paramChanges_ when they were read
  std::string settingsRoot_;
  validata::TValidataSettings settings_;
  std::string settingsKey_;
};

}  // namespace zk
