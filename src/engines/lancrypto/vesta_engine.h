// The engine of type "LAN Crypto/2.35": detached 92-byte signatures and in-place envelopes for one
// recipient through the LAN Crypto toolkit, with private keys from key files or from a touch
// memory on COM port 1 or 2.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engines/lancrypto/vesta_dll.h"
#include "frame/crypto_engine.h"
#include "platform/platform.h"

namespace zk {

class TVesta235Engine : public TCryptoEngine {
 public:
  TVesta235Engine();
  ~TVesta235Engine() override;

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
    kSignKeyParam = 0,
    kSignVaultParam = 1,
    kSignMethodParam = 2,
    kSignUIDParam = 3,
    kEncryptKeyParam = 4,
    kEncryptVaultParam = 5,
    kEncryptMethodParam = 6,
    kEncryptUIDParam = 7,
    kPortParam = 11,
    kTimeoutParam = 12,
    kEncryptForParam = 14,
    kWindowParam = 15,
  };
  using Operation = std::function<int32_t(lancrypto::TVestaDLL&)>;

  // Creates the binding on first need: 0, 120 (no toolkit) or 121 (functions missing).
  int32_t EnsureBinding();
  // Runs an operation on the binding with the engine's callbacks and time-outs handed over.
  int32_t WithBinding(const Operation& op);
  // The same, with the touch-memory key image of the process shared in and out.
  int32_t WithTouchMemory(int32_t Port, const Operation& op);
  // 0 and the port (0: key files), or 111 for a value that is not a number.
  int32_t KeySource(int32_t& Port) const;
  // 0 and the method, or 109.
  int32_t Method(size_t Param, int32_t& Value) const;
  // A path parameter, root-expanded, as the file system names it.
  std::string Path(size_t Param) const { return platform::NativePath(ExpandRootMacro(ParamValue(Param))); }

  std::unique_ptr<lancrypto::TVestaDLL> binding_;
};

}  // namespace zk
