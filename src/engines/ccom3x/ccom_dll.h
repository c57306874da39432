// The CryptoCom 3.x binding of one set of settings: the user's keys from the PSE under time-outs,
// the cache of correspondents' public keys, pairwise keys, and the operations the engine builds
// its signatures and envelopes from. Bindings live in a process-wide registry until unload;
// engines with equal settings share one.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engines/ccom3x/ccom_loader.h"
#include "engines/ccom3x/ccom_pubkey.h"
#include "frame/bindingregistry.h"
#include "frame/crypto_engine.h"
#include "frame/keydirectory.h"
#include "frame/keytimeouts.h"
#include "frame/rwsyncs.h"
#include "frame/secure.h"

namespace zk::ccom3x {

// The settings an engine passes to every binding operation.
struct TCCom3x_UserParam {
  std::string PublicKeyFile;  // the user's public-key file
  std::string SecretKeyDir;   // the PSE and its "KEYS\", with a trailing "\"
  std::string KeyDevice;      // upper-cased; part of the binding key only
  std::string AbonentsDir;    // correspondents' public keys, with a trailing "\"
  int32_t KeyTimeout = 60;    // seconds since the keys were read
  int32_t LastOpTimeout = 5;  // seconds since their last use
  // The password request of the engine running the operation. Engines share bindings, so the
  // binding keeps none of its own: a prompt always reaches the host of the engine that asks.
  TPasswordRequestFunc PasswordRequest = nullptr;

  std::string BindingKey() const { return zk::BindingKey({SecretKeyDir, KeyDevice, AbonentsDir}); }
};

enum class CipherMethod : uint32_t { kGamma = 1, kGammaFeedback = 2 };

class TCCom3x_DLL : public TCrypto_DLL {
 public:
  TCCom3x_DLL(platform::ModuleHandle Module, const std::string& AbonentsDir);
  ~TCCom3x_DLL() override;
  TCCom3x_DLL(const TCCom3x_DLL&) = delete;
  TCCom3x_DLL& operator=(const TCCom3x_DLL&) = delete;

  const CComApi& Api() const { return api_; }
  // The correspondents' directory of the settings this binding serves (part of its key).
  const std::string& AbonentsDir() const { return abonentsDir_; }

  // The UID of the user's public-key file.
  int32_t OwnUID(const TCCom3x_UserParam& P, std::string& UID);
  // UID, zero, 64-byte signature of UID + zero + data with the user's private key.
  int32_t Sign(const TCCom3x_UserParam& P, const uint8_t* Data, size_t Len, std::vector<uint8_t>& Block);
  // Checks a parsed signature of SignerUID over the data.
  int32_t Verify(const TCCom3x_UserParam& P, const std::string& SignerUID, const uint8_t* Data, size_t Len, const uint8_t* Signature);
  // Builds the envelope of Data[0, Len) for the recipients into Envelope.
  int32_t Encrypt(const TCCom3x_UserParam& P, CipherMethod Method, const std::vector<std::string>& UIDs,
                  const uint8_t* Data, size_t Len, std::vector<uint8_t>& Envelope);
  // The plaintext of an envelope for the user, into Plain (wiped when it goes, as is whatever a
  // failed check leaves there); Data is not changed.
  int32_t Decrypt(const TCCom3x_UserParam& P, const uint8_t* Data, size_t Len, SecureBytes& Plain);

  int32_t IncludePublicKey(const TCCom3x_UserParam& P, const std::string& FileName);
  int32_t RemovePublicKey(const TCCom3x_UserParam& P, const std::string& UID);
  int32_t RefreshPublicKey(const TCCom3x_UserParam& P, const std::string& UID);

  // Frees the PSE context, the private key and the public-key cache; pairwise keys and the
  // key-agreement object stay.
  void DropKeys();
  // Forgets the public-key cache (rebuilt on the next need).
  void DropPublicKeyCache();
  // The binding's key-agreement value (65 bytes), creating the object on first need.
  int32_t SenderValue(uint8_t* Value);

 private:
  struct PairwiseEntry {
    uint8_t PeerKey[kPublicValueSize] = {};
    Secret<kSessionKeySize> Key;
  };
  using KeyOperation = std::function<int32_t(CCOM_PSE* Pse)>;

  // The toolkit's last error after a failed call; never 0.
  int32_t Failure() const;
  int32_t Random(const TCCom3x_UserParam& P, uint8_t* Out, int32_t Len);
  int32_t DeriveKey(const uint8_t* Agreed, uint8_t* Key) const;
  int32_t Crypt(CipherMethod Method, bool Encrypt, const uint8_t* Key, const uint8_t* Vector, const uint8_t* In,
                uint8_t* Out, size_t Len) const;
  int32_t Mac(const uint8_t* Key, const uint8_t* Vector, const uint8_t* Data, size_t Len, uint8_t* Out) const;
  int32_t CheckSignature(const uint8_t* Key, int32_t KeyLen, const void* Part1, size_t Len1, const void* Part2,
                         size_t Len2, const uint8_t* Signature, int32_t SignatureLen) const;

  // Keys (keyLock_).
  int32_t UsePrivateKey(const TCCom3x_UserParam& P, const KeyOperation& Operation);
  int32_t KeepKeys(const TCCom3x_UserParam& P);
  int32_t LoadKeys(const TCCom3x_UserParam& P);
  int32_t TryKeyFile(const std::string& File, const uint8_t* Wanted, CCOM_PSE_CTX*& KeyCtx);
  void DropPrivateKey();

  // Correspondents (the directory's own lock).
  // A copy of the correspondent's record with its self-signature checked: 0, -9, -13.
  int32_t CheckedRecord(const TCCom3x_UserParam& P, const std::string& UID, uint8_t* Key, int32_t& KeyLen);
  int32_t PairwiseKeyFor(const TCCom3x_UserParam& P, const std::string& UID, uint8_t* Key);
  int32_t EnsureEphemeral();

  CComApi api_;
  const std::string abonentsDir_;

  TCriticalSection keyLock_;
  CCOM_PSE_CTX* pseCtx_ = nullptr;  // the PSE directory as read
  CCOM_PSE_CTX* keyCtx_ = nullptr;  // the working context holding the matching private key
  Secret<kOpaqueKeySize> opaqueKey_;
  TCCom3x_CashNode ownRecord_;
  bool keysHeld_ = false;
  TKeyTimeouts timeouts_;

  // The correspondents' "pub" files, named after their UID or "pk<N>.pub".
  struct PublicKeyDirectory : TKeyDirectory<TCCom3x_CashNode> {
    PublicKeyDirectory();
  };
  PublicKeyDirectory keys_;

  TCriticalSection pairLock_;
  std::map<std::string, PairwiseEntry> pairwise_;
  CCOM_ECGOST_DH* ephemeral_ = nullptr;
  uint8_t senderValue_[kPublicValueSize] = {};
};

// The binding for these settings from the process-wide registry: 0, -22 (no library), -23 (a
// function missing).
int32_t GetCryptoAPI(const TCCom3x_UserParam& P, std::shared_ptr<TCCom3x_DLL>& Binding);
// Every registered binding (ClearCash, and changes to a directory that several share).
std::vector<std::shared_ptr<TCCom3x_DLL>> RegisteredBindings();

}  // namespace zk::ccom3x
