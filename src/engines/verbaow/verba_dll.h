// The binding of the Verba-OW toolkit ("wbotho.dll"): the 32 calls, the toolkit generation taken
// from the DLL's file version, the key-device wait, and the process-wide list of keys the library
// has loaded into the toolkit's key driver with their two time-outs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engines/verbaow/wbotho_api.h"
#include "frame/crypto_engine.h"
#include "frame/zexroot.h"

namespace zk::verbaow {

// One record of the key driver, in the generation-4 reading.
struct DriverRecord {
  std::string EncodeId;  // 10 characters at most
  std::string SignId;    // 12 characters at most
  int32_t Slot = -1;
};

// Where keys come from and how long to wait for a touch memory or smart card to be attached.
struct KeyDevice {
  std::string Name;
  int32_t WindowTimeout = 5;
};

class TVerbaODLL : public TCrypto_DLL {
 public:
  TVerbaODLL();
  TVerbaODLL(const TVerbaODLL&) = delete;
  TVerbaODLL& operator=(const TVerbaODLL&) = delete;

  // 4, 5 or 6, from the major file version of the loaded DLL; the public-key file sizes follow.
  static int32_t Generation();
  static bool PublicKeyFileSizeAccepted(int64_t size);

  int32_t OpenCrypto(const std::string& SecretPath, const std::string& PublicPath);
  int32_t CloseCrypto();
  int32_t OpenSign(const std::string& SecretPath, const std::string& PublicPath);
  int32_t CloseSign();

  // Recipients: key numbers ending with a 0. Out receives Length + 37 + 48 per recipient bytes.
  int32_t EncryptMemory(const uint8_t* Data, int32_t Length, uint8_t* Out, uint16_t OwnKeyNumber,
                        const std::vector<uint16_t>& Recipients, const std::string& KeySerial);
  // Decrypts a copy; Data and Length change only on success. SenderID receives the sender's key
  // identifier whatever the result of the decryption.
  int32_t DecryptMemory(uint8_t* Data, int32_t& Length, std::string& SenderID, uint16_t OwnKeyNumber);
  int32_t SignMemory(const uint8_t* Data, int32_t Length, std::vector<uint8_t>& Signature,
                     const std::string& SignerID);
  // 0 valid (SignerID set), 1001 not valid, 1002 no public key, 1000 + another status, -4, or a
  // toolkit code.
  int32_t CheckSignature(const uint8_t* Data, int32_t Length, const uint8_t* Signature, int32_t SignatureLength,
                         std::string& SignerID);
  int32_t AddPublicKey(const std::string& File, const std::string& PublicDir, bool IsSignatureKey,
                       const std::string& OwnKeyID);
  int32_t DeletePublicKey(const std::string& PublicDir, const std::string& OwnKeyID, bool IsSignatureKey,
                          const std::string& UID);

  // Makes sure the key is loaded in the driver (Mode: it must sit in slot 0).
  int32_t LoadKey(const std::string& KeyID, bool Mode, bool KeepDriverKeys, int32_t RequestTimeout,
                  int32_t LastOperationTimeout);
  // Empties the list of loaded keys: the next operation resets and reloads its key.
  static void ForgetKeys();

  void GetErrorText(char* Buffer, int32_t Size, int32_t Code);

  // Set by the engine before each use.
  TPasswordRequestFunc PasswordRequestFunc = nullptr;
  TTMRequestFunc TMRequestFunc = nullptr;
  KeyDevice Device;

 private:
  int32_t ReadDriver(std::vector<DriverRecord>& Records);
  int32_t FreeSlotZero(const std::vector<DriverRecord>& Records);
  int32_t LoadFromDevice(const std::string& KeyID, DriverRecord& Loaded);
  // A toolkit call repeated while a touch memory or smart card is not attached.
  int32_t WithDevice(const std::function<int16_t()>& Call);

  WbothoApi api_;
};

// Identifier lengths: 10 for an encryption key, 12 for a signature key.
constexpr size_t kEncodeIDLength = 10;
constexpr size_t kSignIDLength = 12;

}  // namespace zk::verbaow
