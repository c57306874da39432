// The binding of the Crypto-C toolkit for one set of key settings (user's public-key file,
// secret-key file, correspondents' directory, CA directory): the user's key pair held under two
// time-outs, the cache of correspondents' public keys with the pairwise keys agreed with them,
// and the signature, digest and cipher operations built on the toolkit's bare primitives.
//
// Key files (little-endian):
//   secret key, 164 bytes: type (4: 0 GOST R 34.10-94, 1 GOST R 34.10-2001), signature key (32),
//                          key-agreement key (128)
//   public key, n + 261 (type 0) or n + 233 (type 1) bytes: owner UID (n characters, 1..254) and
//                          its zero, type (4), signature key (128 or 100), key-agreement key (128)
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engines/cryptoc/crypc_api.h"
#include "frame/crypto_engine.h"
#include "frame/keydirectory.h"
#include "frame/keytimeouts.h"
#include "frame/lefields.h"
#include "frame/rwsyncs.h"
#include "frame/zexroot.h"

namespace zk::cryptoc {

constexpr int32_t kSecretKeyFileSize = 164;
constexpr int32_t kMaxPublicKeyFileSize = 515;
constexpr size_t kMaxUIDChars = 254;
constexpr int32_t kSessionKeySize = 32;
constexpr int32_t kVectorSize = 8;
constexpr uint32_t kDigestPiece = 65535;

// The signature key's size in a public-key file of this type, or 0 for an unknown type.
inline int32_t SignPublicKeySize(int32_t type) {
  return type == 0 ? kPublicKey1994Size : type == 1 ? kPublicKey2001Size : 0;
}

// The four file settings of a binding, already root-expanded.
struct KeySettings {
  std::string PublicKeyFile;
  std::string SecretKeyFile;
  std::string AbonentsDir;
  std::string CADir;
  // Registry key; the parts are separated by a byte no path holds, so distinct settings never
  // share a binding.
  std::string RegistryKey() const;
};

// Cipher modes: 0/1 encrypt with gamma / gamma with feedback, 2/3 decrypt them and check the MAC.
enum CipherMode : int32_t { kEncryptGamma = 0, kEncryptFeedback = 1, kDecryptGamma = 2, kDecryptFeedback = 3 };

// One cached correspondent: the public-key file's image and the pairwise key once agreed.
struct TCryptoC_CashNode4 {
  TCryptoC_CashNode4() = default;
  TCryptoC_CashNode4(const TCryptoC_CashNode4&) = delete;
  TCryptoC_CashNode4& operator=(const TCryptoC_CashNode4&) = delete;
  ~TCryptoC_CashNode4();
  void ForgetPairKey();

  int32_t FileSize = 0;
  int32_t KeyType = -1;
  uint8_t Image[kMaxPublicKeyFileSize] = {};
  bool PairKeyKnown = false;
  uint8_t PairKey[kSessionKeySize] = {};
};

class TCryptoC_DLL : public TCrypto_DLL {
 public:
  explicit TCryptoC_DLL(const KeySettings& Settings);
  ~TCryptoC_DLL() override;
  TCryptoC_DLL(const TCryptoC_DLL&) = delete;
  TCryptoC_DLL& operator=(const TCryptoC_DLL&) = delete;

  const KeySettings& Settings() const { return settings_; }
  const CryptoCApi& Api() const { return api_; }
  void SetPasswordRequestFunc(TPasswordRequestFunc Func);

  // Random bytes from the toolkit's generator over this binding's state.
  int32_t Random(uint8_t* Out, uint32_t Len);
  // The user's UID from the public-key file: 0, -11, -8.
  int32_t GetUID(std::string& UID);
  // GOST R 34.11-94 of the data in pieces of 65535 bytes; the compatibility variant feeds the
  // data's first bytes again for every piece. -4 for no data.
  int32_t Digest(const uint8_t* Data, int32_t Len, bool Compatibility, uint8_t Out[kDigestSize]);
  // The signature block (UID, zero, 64 bytes) of the data under the user's key.
  int32_t Sign(const uint8_t* Data, int32_t Len, bool Compatibility, int32_t KeyTimeout, int32_t LastOpTimeout,
               std::vector<uint8_t>& Block);
  // 0 good, 5 bad, -14 malformed block, -11 unknown signer, or a toolkit status. SignerUID
  // receives the UID of a well-formed block whatever the result.
  int32_t Verify(const uint8_t* Data, int32_t Len, const uint8_t* Block, int32_t BlockLen, std::string& SignerUID);
  // The key shared with a correspondent: agreed once and kept with the correspondent's cache entry
  // for as long as the user's secret key is held.
  int32_t PairwiseKey(const std::string& UID, int32_t KeyTimeout, int32_t LastOpTimeout,
                      uint8_t Key[kSessionKeySize]);
  // Encrypts (modes 0, 1: S and M are produced) or decrypts and checks (modes 2, 3: S and M are
  // given) Len bytes; -16 for another mode, -15 when the MAC does not match. Out may equal In.
  int32_t Cipher(int32_t Mode, const uint8_t* In, uint8_t* Out, uint32_t Len, const uint8_t Key[kSessionKeySize],
                 uint8_t S[kVectorSize], uint8_t M[kMacSize]);

  // The correspondents' public keys: include a file image, remove or re-read a UID's entry.
  int32_t IncludePublicKey(const uint8_t* Image, int32_t Size);
  int32_t RemovePublicKey(const std::string& UID);
  int32_t RefreshPublicKey(const std::string& UID);
  // Forgets the secret key, the UID and the whole public-key cache.
  void DropAllKeys();

 private:
  enum class KeyPart { Signature, Exchange };
  // The correspondents' "pub" files, named after their UID or "pk<N>.pub".
  struct PublicKeyDirectory : TKeyDirectory<TCryptoC_CashNode4> {
    PublicKeyDirectory();
  };

  void PrepareWork(uint8_t* Work);
  // A correspondent's public key from the directory (whose lock it takes).
  int32_t ServePublicKey(const std::string& UID, KeyPart Part, uint8_t* Out, int32_t& Type);
  // Everything below expects keyLock_ to be held.
  int32_t LoadUID();
  int32_t KeepSecretKey(int32_t KeyTimeout, int32_t LastOpTimeout, KeyPart Part, uint8_t* Out, int32_t& Type);
  int32_t LoadKeyPair();
  void DropSecretKey();
  static int32_t ServeFromNode(const TCryptoC_CashNode4& Node, KeyPart Part, uint8_t* Out, int32_t& Type);
  int32_t AgreeKey(TCryptoC_CashNode4& Node, const uint8_t* OwnSecret);

  KeySettings settings_;
  CryptoCApi api_;
  TPasswordRequestFunc passwordRequest_ = nullptr;

  TCriticalSection keyLock_;
  int32_t secretType_ = -1;
  uint8_t secretKey_[kSecretSignKeySize + kAgreementKeySize] = {};  // signature part masked
  uint32_t mask_[kSecretSignKeySize / 4] = {};
  std::string uid_;
  TKeyTimeouts timeouts_;
  PublicKeyDirectory keys_;  // its own lock, taken after keyLock_

  TCriticalSection randomLock_;
  uint8_t randomState_[kRandomStateSize] = {};
};

// The UID at the head of a public-key image: its length when it has 1..254 characters and its
// zero lies within Size bytes, else -1.
int32_t ImageUIDLength(const uint8_t* Image, int32_t Size);

}  // namespace zk::cryptoc
