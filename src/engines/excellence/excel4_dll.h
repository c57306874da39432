// The binding of the Excellence 4.0 toolkit "cryst.dll": one toolkit context per binding object,
// the user settings pushed into it, crypto commands run over memory, a file or no data, user
// attributes, the parties named in a status record, and the texts of result codes. While the
// user's touch-memory key is absent (toolkit answer 92) a run is retried through the frame's
// device wait, with the host's touch-memory prompt shown in between.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engines/excellence/cryst_api.h"
#include "frame/crypto_engine.h"
#include "frame/zexroot.h"

namespace zk::excellence {

// The binding's own result codes; any other non-zero code is the toolkit's.
enum BindingCode : int32_t {
  kOk = 0,
  kDllNotLoaded = -1,
  kDllNoCryptoData = -3,
  kDllNotInitialized = -4,
  kDllInvalidParameters = -5,
  kDllNoStatus = -6,
  kDllException = -7,
  kDllSettings = -8,
  kDllBadPointer = -9,
  kDllNoCommand = -10,
  kDllNoFile = -11,
  kDllParameterRange = -12,
};

constexpr size_t kPasswordSize = 1024;
constexpr size_t kUIDKeySize = 256;  // a UID handed to the toolkit as a lookup key, with its NUL

// What ApplyUserSettings pushes, already root-expanded.
struct UserSettings {
  std::string EncAlg, SigAlg, PublicKeyDir, SecretKeyDir, WorkDir, UserName, Language;
  uint16_t SigKeyLen = 512;
  uint16_t ExchKeyLen = 512;
  std::string MasterKeyFile, DeviceDll;
  int32_t Port = 2;
  int32_t DeviceType = 4;
};

class TCryptoDLL : public TCrypto_DLL {
 public:
  TCryptoDLL();
  ~TCryptoDLL() override;
  TCryptoDLL(const TCryptoDLL&) = delete;
  TCryptoDLL& operator=(const TCryptoDLL&) = delete;

  int32_t Open();
  void Close();
  int32_t ApplyUserSettings(const UserSettings& Settings);

  // The password the next runs hand to BeginCrypto (at most kPasswordSize characters).
  void SetPassword(const char* Password);

  // A command over memory; Result is the toolkit's, to be given back with FreeResult.
  int32_t RunMemory(const uint8_t* Data, int32_t DataLen, int32_t TMTimeout, const char* Options,
                    CryptoResult& Result);
  // A command without data, and one over a file; Message receives the toolkit's text of a failure.
  int32_t RunCommand(const std::string& Options, int32_t TMTimeout, std::string& Message);
  int32_t RunFile(const std::string& FileName, const std::string& Options, int32_t TMTimeout, std::string& Message);
  void FreeResult(CryptoResult& Result);

  int32_t ReadCurrentUID(std::string& UID);
  int32_t GetUserNumber(const char* UID, int32_t& Number);
  int32_t GetUserAttribute5(const char* UID, int32_t& Value);
  int32_t ReadSenderUID(const uint8_t* Data, int32_t DataLen, std::string& UID);
  int32_t ReadSignerUID(const uint8_t* Data, int32_t DataLen, std::string& UID);

  // Zero-fills MaxLen bytes of Buffer and writes the text of Code (nothing for code 0).
  void GetErrorText(char* Buffer, int32_t MaxLen, int32_t Code);

  TTMRequestFunc TMRequestFunc = nullptr;
  TPasswordRequestFunc PasswordRequestFunc = nullptr;

 private:
  // BeginCrypto and Call, repeated through the frame's device wait while the key is absent.
  int32_t RunRetrying(int32_t TMTimeout, const std::function<int32_t()>& Call);
  int32_t GetUserInt(const char* UID, int32_t Attribute, int32_t& Value);
  enum class Party { Sender, Signer };
  int32_t ReadPartyUID(const uint8_t* Data, int32_t DataLen, Party Which, std::string& UID);
  int32_t UIDOfKeyId(const uint8_t* KeyId, std::string& UID);
  int32_t LastError();

  char Password_[kPasswordSize + 1] = {};
  CrystContext Context_ = nullptr;
  CrystApi api_;
};

}  // namespace zk::excellence
