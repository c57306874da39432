// The engine of type "OpenSSL": RSA key pairs with X.509 certificates; the user's private key in
// a Base64 file, correspondents' certificates, trusted CA certificates and CRLs in directories.
// A user's UID is the serial number of the user's certificate in hexadecimal.
#pragma once

#include <memory>
#include <string>

#include "engines/openssl/ossl_dll.h"
#include "frame/crypto_engine.h"

namespace zk {

class TOSSLEngine : public TCryptoEngine {
 public:
  TOSSLEngine();

  void GetCryptoEngineType(char* TypeName) override;
  int32_t GetMaxEncodeAddition() override;
  int32_t GetMaxSignatureLength() override;
  int32_t GetMaxUIDLength() override;
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

 private:
  using Binding = std::shared_ptr<ossl::TOpenSSL_DLL>;

  ossl::OSSLSettings Settings() const;
  // Settings and the binding for them (the first step of every operation).
  int32_t GetCryptoAPI(Binding& Api) const;
  // "Key request time out" and "Last operation key time out": 0 or -26.
  int32_t TimeOuts(int32_t& KeyTimeout, int32_t& LastOpTimeout) const;
  int32_t RandomReady() const;
  // Writes a UID with its NUL into a caller buffer of GetMaxUIDLength bytes; -24 when too long.
  int32_t WriteUID(const std::string& UID, char* Dst);

  int32_t DoSignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature, int32_t* SignatureLen);
  int32_t DoVerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature, int32_t SignatureLen,
                       char* SignerUID);
  int32_t DoEncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs);
  int32_t DoDecodeData(uint8_t* Data, int32_t* DataLen);
  int32_t DoIncludePublicKey(const char* FileName);
  int32_t DoUpdateCertificateCash(const char* UID);
  int32_t DoRemoveCertificate(const char* UID);
  int32_t DoIncludeCRL(const char* FileName);
};

}  // namespace zk
