// The engine of type "Verba-OW/4": signatures and encryption by the Verba-OW toolkit, whose keys
// live in its key driver. Correspondents are addressed by four-digit key numbers. Every toolkit
// call of every Verba-OW engine in the process runs under one engine lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engines/verbaow/verba_dll.h"
#include "frame/crypto_engine.h"

namespace zk {

class TVerbaOW4Engine : public TCryptoEngine {
 public:
  TVerbaOW4Engine();
  ~TVerbaOW4Engine() override;

  void GetCryptoEngineType(char* TypeName) override;
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
  int32_t RemoveCertificate(const char* UID) override;

 private:
  enum ParamIndex : size_t {
    kSecretPath = 0,
    kPublicPath = 1,
    kKeySerial = 2,
    kEncodeUID = 3,
    kSignUID = 4,
    kRecipients = 5,
    kKeyDevice = 6,
    kRequestTimeout = 7,
    kLastOpTimeout = 8,
    kSlotZero = 9,
    kResetOnStart = 10,
    kWindowTimeout = 11,
  };
  // What the key-using operations read before they take the engine lock.
  struct KeySettings {
    int32_t RequestTimeout = 0;
    int32_t LastOpTimeout = 0;
    int32_t WindowTimeout = 5;
    bool KeepDriverKeys = false;
    bool SlotZeroForVerify = false;
  };
  int32_t ReadKeySettings(KeySettings& S) const;
  // Under the engine lock: the binding, with the engine's callbacks; -113, -114.
  int32_t EnsureBinding();
  // Under the engine lock: EnsureBinding, then the key loaded in the driver.
  int32_t PrepareKey(const std::string& KeyID, bool Mode, const KeySettings& S);
  // The own key number: the first four characters of "Encode UID"; -109.
  int32_t OwnKeyNumber(uint16_t& Number) const;
  int32_t RecipientNumbers(const char* RecipientUIDs, std::vector<uint16_t>& Numbers) const;
  std::string SecretPath() const;
  std::string PublicPath() const;
  int32_t OpenCryptoService();
  int32_t OpenSignService();
  void CloseCrypto();
  void CloseSign();

  int32_t DoEncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs);
  int32_t DoDecodeData(uint8_t* Data, int32_t* DataLen, char* SenderUID);

  std::unique_ptr<verbaow::TVerbaODLL> binding_;
  bool cryptoOpen_ = false;
  bool signOpen_ = false;
};

}  // namespace zk
