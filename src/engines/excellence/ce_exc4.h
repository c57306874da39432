// The engine of type "Excellence/4.0": the operations become option strings of the Excellence
// toolkit ("-e", "-d", "-s", "-v", "-j", "-m -x") run through the binding TCryptoDLL. Around every
// toolkit call the engine pushes its parameters, supplies the user's password from the
// process-wide cache or asks the host for it, and maps failures to its own codes and texts.
// Signatures are detached; encryption and decryption work in place.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engines/excellence/excel4_dll.h"
#include "frame/crypto_engine.h"

namespace zk {

class TExc4CryptoEngine : public TCryptoEngine {
 public:
  TExc4CryptoEngine();
  ~TExc4CryptoEngine() override;

  int32_t ApplySettings() override;
  void GetCryptoEngineType(char* TypeName) override;
  int32_t GetMaxEncodeAddition() override;
  int32_t GetMaxSignatureLength() override;
  int32_t GetMaxErrorStringLength() override;
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

  static constexpr int32_t kMaxEncodeAddition = 400;
  static constexpr int32_t kMaxSignatureLength = 1024;
  static constexpr int32_t kMaxErrorStringLength = 1024;

 private:
  using TCryptoDLL = excellence::TCryptoDLL;
  using CryptoResult = excellence::CryptoResult;

  // The binding, created and opened on first use: 0, -100 (opening failed, for good), -115, -116.
  int32_t GetBinding(TCryptoDLL*& Binding);
  // GetBinding, then ApplySettings.
  int32_t Prepare(TCryptoDLL*& Binding);
  int32_t ApplySettingsTo(TCryptoDLL& Binding);

  struct Timeouts {
    int32_t Password = 60;
    int32_t LastOperation = 5;
    int32_t TouchMemory = 5;
  };
  Timeouts ReadTimeouts() const;
  // The password protocol around one toolkit run: a cached password, or at most four prompts.
  template <typename Run>
  int32_t WithPassword(TCryptoDLL& Binding, Run run);
  int32_t RunWithPassword(TCryptoDLL& Binding, const uint8_t* Data, int32_t DataLen, CryptoResult& Result,
                          const std::string& Options);
  int32_t RunCommandWithPassword(TCryptoDLL& Binding, const std::string& Options);
  int32_t RunFileWithPassword(TCryptoDLL& Binding, const std::string& FileName, const std::string& Options);
  // "-e" and the user numbers of the recipients.
  int32_t EncodeOptions(TCryptoDLL& Binding, const char* RecipientUIDs, std::string& Options);
  int32_t DecodeOptions(TCryptoDLL& Binding, std::string& Options);

  int32_t DoEncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs);
  int32_t DoDecodeData(uint8_t* Data, int32_t* DataLen, char* SenderUID);
  int32_t DoSignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature, int32_t* SignatureLen);
  int32_t DoVerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature, int32_t SignatureLen,
                       char* SignerUID);

  std::unique_ptr<TCryptoDLL> Binding_;
  bool BindingFailed_ = false;
};

}  // namespace zk
