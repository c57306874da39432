// The emulation engine: no cryptography and no toolkit, so a host can exercise the whole
// interface. Encryption leaves data unchanged, signatures are empty, every verification passes.
#pragma once

#include "frame/crypto_engine.h"

namespace zk {

class TEmu1CryptoEngine : public TCryptoEngine {
 public:
  TEmu1CryptoEngine();

  void GetCryptoEngineType(char* TypeName) override;
  int32_t GetMaxEncodeAddition() override { return 100; }
  int32_t GetMaxSignatureLength() override { return 255; }
  int32_t GetMaxUIDLength() override { return 255; }
  int32_t GetMaxCryptoParamNameLength() override { return 255; }
  int32_t GetMaxCryptoParamValueLength() override { return 255; }
  int32_t GetMaxErrorStringLength() override { return 255; }
  void GetCryptoParamValue(int32_t Index, char* Value) override;
  int32_t SetCryptoParamValue(int32_t Index, const char* Value) override;
  int32_t GetEncodeUIDBySignUID(const char* SignUID, char* EncodeUID) override;
  int32_t GetCurrentUID(char* UID) override;
  int32_t EncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) override;
  int32_t DecodeData(uint8_t* Data, int32_t* DataLen, char* SenderUID) override;
  int32_t SignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature, int32_t* SignatureLen,
                   const char* SignUID) override;
  int32_t VerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature, int32_t SignatureLen,
                     char* SignerUID) override;
};

}  // namespace zk
