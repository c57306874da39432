// The engine of type "CryptoCom 32x": GOST R 34.10-2001 signatures and key agreement through the
// CryptoCom 3.x toolkit, the user's keys in a PSE, correspondents' self-signed public-key files in
// a directory tree, and the engine's own signature and envelope formats (ccom_envelope.h).
#pragma once

#include <memory>
#include <string>

#include "engines/ccom3x/ccom_dll.h"
#include "frame/crypto_engine.h"

namespace zk {

class TCryptoCom3xEngine : public TCryptoEngine {
 public:
  TCryptoCom3xEngine();

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

 private:
  using Binding = std::shared_ptr<ccom3x::TCCom3x_DLL>;

  // The settings record of the current parameters; a time-out that is no integer raises.
  ccom3x::TCCom3x_UserParam Settings() const;
  // Settings and the binding for them, the first step of every operation: 0, -22, -23, or -2
  // with the text stored under "TCryptoCom3xEngine.GetCryptoAPI: ".
  int32_t GetCryptoAPI(ccom3x::TCCom3x_UserParam& P, Binding& Api);
  // Runs an operation body after fetching the binding, capturing exceptions under `prefix`.
  int32_t Run(const char* prefix, const std::function<int32_t(const ccom3x::TCCom3x_UserParam&, Binding&)>& body);
  // The other bindings that share this binding's correspondents' directory forget their caches.
  static void DirectoryChanged(const Binding& Changed);

  int32_t DoEncodeData(const ccom3x::TCCom3x_UserParam& P, Binding& Api, uint8_t* Data, int32_t* DataLen,
                       const char* RecipientUIDs);
};

}  // namespace zk
