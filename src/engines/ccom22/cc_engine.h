// The engine of type "Crypto COM/2.2": detached signatures with a signer block, encryption for
// one recipient (a session-key record) or for several (a package of key slots and one body),
// and a certificate directory with one level per character of the UID, through "cc.dll".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engines/ccom22/cc_dll.h"
#include "frame/crypto_engine.h"

namespace zk {

class TCcom22Engine : public TCryptoEngine {
 public:
  TCcom22Engine();
  ~TCcom22Engine() override;

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

  // The certificate file of a UID under the certificate directory; empty when the UID has none
  // or could name a file outside its own place.
  std::string CertPathOf(const std::string& UID) const;

 private:
  using Settings = ccom22::TCComSettings;

  // The binding, created on first need: 0, 134 or 135 (a failed binding is not kept).
  int32_t GetCryptoAPI();
  // The owner UID of the user's certificate (through the process-wide cache): 0, 116 or the
  // binding's code.
  int32_t FindCurrentUID(std::string& UID);
  std::string UserCertPath() const;
  // The parameters of an operation for the given user: 0 or 115.
  int32_t ReadSettings(const std::string& UID, Settings& S) const;
  // UID, data check and parameters, in this order.
  int32_t Prologue(const uint8_t* Data, int32_t DataLen, std::string& UID, Settings& S);
  // LoadUserKeys and one binding operation under the process-wide operation lock.
  int32_t WithKeys(const Settings& S, const std::function<int32_t()>& Operation);

  int32_t EncodeSingle(const Settings& S, const std::string& Recipient, uint8_t* Data, int32_t* DataLen);
  int32_t EncodeForUsers(const Settings& S, const std::vector<std::string>& Recipients, uint8_t* Data,
                         int32_t* DataLen);
  int32_t DecodePackage(const Settings& S, uint8_t* Data, int32_t* DataLen);
  int32_t PlaceCertificate(const std::string& File, const std::string& Target);

  std::unique_ptr<ccom22::TCComDLL> binding_;
};

}  // namespace zk
