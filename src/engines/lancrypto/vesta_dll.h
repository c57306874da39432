// The binding of the LAN Crypto toolkit ("ct512.dll"): composite operations over the toolkit's
// signature and encryption contexts (sign, verify, encrypt for one recipient, decrypt, read a key's
// UID, add and remove correspondents' public keys), the password protocol, the verification cache
// and the touch-memory key image.
//
// Formats the binding builds (little-endian):
//   signature, 92 bytes: signer UID (22, zero-padded) | r (32) | s (32) | 2 zero | method (4)
//   envelope: plain length L (4) | cipher header (60) | ciphertext (L bytes for method 1, else L
//             rounded up to a multiple of 8)
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engines/lancrypto/ct512_api.h"
#include "frame/crypto_engine.h"
#include "frame/secure.h"
#include "frame/zexroot.h"

namespace zk::lancrypto {

struct Ct512Api {
#define X(name, required) decltype(&::name) name = nullptr;
  ZK_CT512_FUNCTIONS
#undef X
};

// The touch-memory key image: both contexts as read from the device (private keys still wrapped,
// no password pointer), when they were read, from which port, and whose they are. A non-empty
// owner means the image may stand in for the device.
struct TouchMemoryImage {
  Secret<kSignContextSize> Sign;
  Secret<kVestaContextSize> Vesta;
  uint64_t ReadAt = 0;  // monotonic milliseconds
  int32_t Port = 0;
  std::string Owner;
  void Clear();
};

enum class ContextFamily { Notary, Vesta };
// A context of either family, released as the toolkit made it or as plain memory when it was
// rebuilt from the key image.
class ContextHandle;

class TVestaDLL : public TCrypto_DLL {
 public:
  TVestaDLL();
  ~TVestaDLL() override;
  TVestaDLL(const TVestaDLL&) = delete;
  TVestaDLL& operator=(const TVestaDLL&) = delete;

  // Operations on one binding are serialised here: the password cache, verification state and key
  // image belong to whoever holds this lock.
  std::mutex& Lock() { return lock_; }

  void SetCallbacks(TPasswordRequestFunc Password, TTMRequestFunc TouchMemory);
  void SetPasswordLifetime(int32_t Seconds) { passwordLifetime_ = Seconds; }
  void SetWindowTimeout(int32_t Seconds) { windowTimeout_ = Seconds; }

  int32_t SignWithKeyFile(const uint8_t* Data, int32_t Length, uint8_t* Signature, int32_t* SignatureLength,
                          const std::string& KeyFile, int32_t Method, const char* UID);
  int32_t SignWithTouchMemory(int32_t Port, const uint8_t* Data, int32_t Length, uint8_t* Signature,
                              int32_t* SignatureLength, int32_t Method, const char* UID);
  // SignerUID (may be null) receives the 22-character signer UID when the result is 0.
  int32_t VerifySignature(const uint8_t* Data, int32_t Length, char* SignerUID, int32_t Method,
                          const std::string& Vault, int32_t SignatureLength, const uint8_t* Signature);
  // In place; the buffer holds Length + 64 + 7 bytes. On failure Data and Length are unchanged.
  int32_t EncryptBuffer(bool FromTouchMemory, int32_t Port, uint8_t* Data, int32_t* Length,
                        const char* RecipientUID, int32_t Method, const std::string& Vault,
                        const std::string& KeyFile);
  // In place; SenderUID receives 22 characters and a zero. On failure Data and Length are unchanged.
  int32_t DecryptBuffer(bool FromTouchMemory, int32_t Port, uint8_t* Data, int32_t* Length, char* SenderUID,
                        const std::string& Vault, const std::string& KeyFile);
  int32_t ReadSignKeyUID(const std::string& KeyFile, std::string& UID);
  // The UID with a leading "$".
  int32_t ReadEncryptKeyUID(const std::string& KeyFile, std::string& UID);
  int32_t ReadTouchMemoryUID(int32_t Port, std::string& UID);
  int32_t AddPublicKeyToVault(const std::string& PublicKeyFile, const std::string& Vault);
  int32_t RemovePublicKey(const std::string& SignVault, const std::string& EncryptVault, int32_t EncryptMethod,
                          int32_t SignMethod, const std::string& UID);
  // The toolkit's text of a code (Windows-1251), cut to BufferSize - 1 characters.
  void GetErrorText(char* Buffer, int32_t BufferSize, int32_t Code) const;

  TouchMemoryImage& Image() { return image_; }
  const Ct512Api& Api() const { return api_; }

 private:
  int32_t AcquirePassword(ContextFamily family, void* ctx);
  int32_t HashInto(void* hash, const uint8_t* Data, int32_t Length, int32_t Method);
  int32_t SignWith(ContextHandle& ctx, const uint8_t* Data, int32_t Length, uint8_t* Signature,
                   int32_t* SignatureLength, int32_t Method, const char* UID);
  int32_t ReadTouchMemoryKeys(int32_t Port, ContextHandle& Sign, ContextHandle& Vesta);
  int32_t WaitForTouchMemory(int32_t Port, void* Sign, void* Vesta);
  int32_t OwnerOf(ContextHandle& Sign, std::string& UID);
  int32_t VestaContext(bool FromTouchMemory, int32_t Port, const std::string& KeyFile, ContextHandle& Vesta);
  int32_t ReadKeyUID(ContextFamily family, const std::string& KeyFile, std::string& UID);
  int32_t FindInVault(ContextFamily family, void* ctx, const std::string& Vault, int32_t Method, const std::string& UID,
                      std::string& ShortName);
  int32_t CreateVaultIfMissing(ContextFamily family, void* ctx, const std::string& Vault);
  bool VaultUnchanged(const std::string& Vault) const;
  void ForgetVerification();

  Ct512Api api_;
  std::mutex lock_;
  SecureBytes password_;          // the last accepted password, with its zero
  uint64_t passwordEnteredAt_ = 0;
  int32_t passwordLifetime_ = 0;
  int32_t windowTimeout_ = 5;
  TPasswordRequestFunc passwordRequest_ = nullptr;
  TTMRequestFunc touchMemoryRequest_ = nullptr;

  Secret<kSignContextSize> verification_;
  std::string lastVault_;
  int64_t lastVaultSize_ = -1;
  uint64_t lastVaultStamp_ = 0;
  std::string lastSigner_;

  TouchMemoryImage image_;
};

// Codes the binding returns besides the toolkit's own.
constexpr int32_t kBindOk = 0;
constexpr int32_t kBindNoLibrary = 1;
constexpr int32_t kBindBadParameters = 2;
constexpr int32_t kBindBadEnvelope = 4;
constexpr int32_t kBindNoMemory = 5;
constexpr int32_t kBindWrongUID = 7;
constexpr int32_t kBindNoKey = 8;
constexpr int32_t kBindBadPassword = 10;
constexpr int32_t kBindKeyExpired = 13;
constexpr int32_t kBindNoAdapter = 14;
constexpr int32_t kBindBadPort = 15;
constexpr int32_t kBindTMRead = 16;
constexpr int32_t kBindTMType = 17;
constexpr int32_t kBindTMUnsupported = 18;
constexpr int32_t kBindTMWrite = 19;
constexpr int32_t kBindNoTMKey = 20;

// The process-wide toolkit module: loaded on first use, kept until the library unloads.
platform::ModuleHandle ToolkitModule();

}  // namespace zk::lancrypto
