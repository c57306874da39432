// The engines of type "Ms Crypto API 2.0": TCryptoAPI20Engine (any provider, 29 parameters) and
// TCryptoPro11Engine (the Crypto-Pro provider, 27 parameters), both over the shared
// TCryptoAPI20_DLL binding.
#pragma once

#include <string>

#include "engines/capi/capi_dll.h"
#include "frame/crypto_engine.h"

namespace zk {

namespace capi {
// Internal indices of the parameters the operations read (the 29-entry list).
enum ParamIndex : size_t {
  kProvider = 0,
  kUserCertFile = 2,
  kCADir = 3,
  kAbonentDir = 4,
  kHashAlgorithm = 5,
  kEncryptAlgorithm = 6,
  kEncryptForUID = 7,
  kKeyTimeout = 8,
  kLastOpTimeout = 9,
  kUIDLocation = 21,
  kContainerLocation = 22,
  kCRLDir = 23,
  kIncludeSignerCert = 26,
  kSecretKeyCashMethod = 28,
};
}  // namespace capi

class TCryptoAPI20Engine : public TCryptoEngine {
 public:
  TCryptoAPI20Engine();

  void GetCryptoEngineType(char* TypeName) override;
  int32_t GetMaxEncodeAddition() override;
  int32_t GetMaxSignatureLength() override;
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
  void ClearCash() override;
  int32_t UpdateCertificateCash(const char* UID) override;
  int32_t RemoveCertificate(const char* UID) override;
  int32_t IncludeCRL(const char* FileName) override;

  // The value of a parameter by its index in the 29-entry list.
  virtual std::string ReadSetting(size_t Index) const;
  virtual void SetIncludeSignerCert(const std::string& Value);

  // Settings translation, exposed for tests.
  static std::string LocationOID(const std::string& Location);
  static std::string HashOID(const std::string& Name);
  static std::string EncryptOID(const std::string& Name);
  capi::TVerificationSettings Settings() const;
  // HashOID or EncryptOID, then the system's OID information by name.
  static std::string AlgorithmOID(capi::TCryptoAPI20_DLL& Binding, const std::string& Name, bool Hash);

 protected:
  // 0 or a code (1, 3, 9, 62, 63, 64).
  int32_t GetCryptoAPI(capi::TCryptoAPI20_DLL*& Binding);
  int32_t ReadTimeouts(int32_t& KeyTimeout, int32_t& LastOpTimeout) const;

 private:
  // The certificate stock (capi_engine_stock.cpp).
  int32_t InternalIncludePublicKey(capi::TCryptoAPI20_DLL& Binding, capi::TCertRef& Cert, const std::string& Name,
                                   const capi::TVerificationSettings& S);
  int32_t OwnUID(std::string& UID);
};

class TCryptoPro11Engine : public TCryptoAPI20Engine {
 public:
  TCryptoPro11Engine();
  std::string ReadSetting(size_t Index) const override;
  void SetIncludeSignerCert(const std::string& Value) override;
};

}  // namespace zk
