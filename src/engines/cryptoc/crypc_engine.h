// The engine of type "Crypto-C": GOST R 34.10 signatures and GOST 28147-89 envelopes built on the
// bare primitives of the Crypto-C toolkit. A user's UID is the owner name in the public-key file.
#pragma once

#include <cstdint>
#include <string>

#include "engines/cryptoc/crypc_dll.h"
#include "frame/crypto_engine.h"

namespace zk {

class TCryptoCEngine : public TCryptoEngine {
 public:
  TCryptoCEngine();

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

  // Room for 100 recipients and a sender with UIDs of 254 characters.
  static constexpr int32_t kMaxEncodeAddition = 100 * 303 + 279;

 private:
  enum ParamIndex : size_t {
    kPublicKeyParam = 0,
    kSecretKeyParam = 1,
    kAbonentsDirParam = 2,
    kCADirParam = 3,
    kMethodParam = 4,
    kRecipientParam = 5,
    kKeyTimeoutParam = 6,
    kLastOpTimeoutParam = 7,
    kHashParam = 12,
  };
  // RecipientUIDs, or the trimmed "Encrypt for UID" when it is null or empty.
  std::string Recipients(const char* RecipientUIDs) const;
  // What every operation reads first: the expanded file settings and the numbers.
  struct Settings {
    cryptoc::KeySettings Keys;
    int32_t Method = 0;
    int32_t KeyTimeout = 0;
    int32_t LastOpTimeout = 0;
  };
  cryptoc::KeySettings KeySettings() const;
  // The settings and the binding for them: 0, -13, -29, -30.
  int32_t Prepare(Settings& S, cryptoc::TCryptoC_DLL*& Binding) const;
  // A UID into a caller's buffer of GetMaxUIDLength bytes, with its zero; -4 when it would not fit.
  int32_t WriteUID(const std::string& UID, char* Dst);

  int32_t DoEncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs);
  int32_t DoDecodeData(uint8_t* Data, int32_t* DataLen);
};

}  // namespace zk
