// The user's own keys: the UID, the secret key held under its time-outs (the signature part
// masked), and the pairwise keys agreed with correspondents.
#include <cstring>

#include "engines/cryptoc/crypc_codes.h"
#include "engines/cryptoc/crypc_dll.h"
#include "frame/fileutils.h"
#include "frame/secure.h"
#include "frame/textrules.h"

namespace zk::cryptoc {

namespace {


}  // namespace

int32_t ImageUIDLength(const uint8_t* Image, int32_t Size) {
  size_t length = 0;
  if (Size < 2 || !ScanUID(Image, static_cast<size_t>(Size), kMaxUIDChars, length)) return -1;
  return static_cast<int32_t>(length);
}

int32_t TCryptoC_DLL::GetUID(std::string& UID) {
  SectionLock hold(keyLock_);
  const int32_t code = LoadUID();
  if (code == kOk) UID = uid_;
  return code;
}

int32_t TCryptoC_DLL::LoadUID() {
  if (!uid_.empty()) return kOk;
  uint8_t image[kMaxPublicKeyFileSize];
  int32_t size = sizeof(image);
  if (!ReadFileToBuffer(settings_.PublicKeyFile, image, size)) return kErrPublicKey;
  const int32_t length = ImageUIDLength(image, size);
  if (length < 0) return kErrPublicKey;
  uid_.assign(reinterpret_cast<const char*>(image), static_cast<size_t>(length));
  return kOk;
}

void TCryptoC_DLL::DropSecretKey() {
  SecureWipe(secretKey_, sizeof(secretKey_));
  SecureWipe(mask_, sizeof(mask_));
  secretType_ = -1;
  uid_.clear();
  // Pairwise keys are derived from the secret key and go with it: they neither outlive its
  // time-outs nor survive a change of the key files.
  keys_.ForEachCached([](TCryptoC_CashNode4& node) { node.ForgetPairKey(); });
}

int32_t TCryptoC_DLL::LoadKeyPair() {
  DropSecretKey();
  Secret<kSecretKeyFileSize> file;
  int32_t size = kSecretKeyFileSize;
  if (!ReadFileToBuffer(settings_.SecretKeyFile, file.data(), size) || size != kSecretKeyFileSize) {
    return kErrSecretKey;
  }
  const int32_t type = static_cast<int32_t>(ReadLE32(file.data()));
  if (type != 0 && type != 1) return kErrSecretKey;

  Secret<sizeof(mask_)> mask;
  int32_t code = Random(mask.data(), static_cast<uint32_t>(mask.size()));
  if (code != kOk) return code;
  std::memcpy(secretKey_, file.data() + 4, sizeof(secretKey_));
  for (size_t i = 0; i < kSecretSignKeySize / 4; ++i) {
    mask_[i] = ReadLE32(mask.data() + 4 * i);
    WriteLE32(secretKey_ + 4 * i, ReadLE32(secretKey_ + 4 * i) - mask_[i]);
  }
  secretType_ = type;

  uint8_t image[kMaxPublicKeyFileSize];
  size = sizeof(image);
  const int32_t uidLength = ReadFileToBuffer(settings_.PublicKeyFile, image, size) ? ImageUIDLength(image, size) : -1;
  if (uidLength < 0) code = kErrPublicKey;
  else if (size < uidLength + 5) code = kErrPublicKey;
  else if (static_cast<int32_t>(ReadLE32(image + uidLength + 1)) != type) code = kErrKeyMismatch;
  else if (size != uidLength + 5 + SignPublicKeySize(type) + kAgreementKeySize) code = kErrPublicKey;
  if (code != kOk) {
    DropSecretKey();
    return code;
  }
  uid_.assign(reinterpret_cast<const char*>(image), static_cast<size_t>(uidLength));
  return kOk;
}

int32_t TCryptoC_DLL::KeepSecretKey(int32_t KeyTimeout, int32_t LastOpTimeout, KeyPart Part, uint8_t* Out,
                                    int32_t& Type) {
  const uint64_t now = TKeyTimeouts::Now();
  if (secretType_ >= 0 && timeouts_.Expired(KeyTimeout, LastOpTimeout, now)) DropSecretKey();
  if (secretType_ < 0) {
    const int32_t code = LoadKeyPair();
    if (code != kOk) return code;
    timeouts_.Loaded(KeyTimeout, now);
  }
  if (Out != nullptr) {
    if (Part == KeyPart::Exchange) {
      std::memcpy(Out, secretKey_ + kSecretSignKeySize, kAgreementKeySize);
    } else {
      for (size_t i = 0; i < kSecretSignKeySize / 4; ++i) WriteLE32(Out + 4 * i, ReadLE32(secretKey_ + 4 * i) + mask_[i]);
    }
  }
  Type = secretType_;
  timeouts_.Used(LastOpTimeout, now);
  return kOk;
}

int32_t TCryptoC_DLL::PairwiseKey(const std::string& UID, int32_t KeyTimeout, int32_t LastOpTimeout,
                                  uint8_t Key[kSessionKeySize]) {
  // The directory is read, when it must be, before the key lock is taken.
  keys_.Prepare(settings_.AbonentsDir);
  SectionLock hold(keyLock_);
  // Using a key derived from the secret key is a use of it: the time-outs apply, and an expired
  // secret key takes its pairwise keys with it.
  Secret<kAgreementKeySize> own;
  int32_t type = -1;
  int32_t code = KeepSecretKey(KeyTimeout, LastOpTimeout, KeyPart::Exchange, own.data(), type);
  if (code != kOk) return code;
  code = kErrPublicKey;
  keys_.Use(settings_.AbonentsDir, UID, [&](TCryptoC_CashNode4& node, const std::string&) {
    code = node.PairKeyKnown ? kOk : AgreeKey(node, own.data());
    if (code == kOk) std::memcpy(Key, node.PairKey, kSessionKeySize);
  });
  return code;
}

int32_t TCryptoC_DLL::AgreeKey(TCryptoC_CashNode4& Node, const uint8_t* OwnSecret) {
  uint8_t peer[kAgreementKeySize];
  int32_t peerType = -1;
  int32_t code = ServeFromNode(Node, KeyPart::Exchange, peer, peerType);
  if (code != kOk) return code;
  Secret<kAgreementKeySize> agreed;
  {
    Secret<kWorkBlockSize> work;
    PrepareWork(work.data());
    code = api_.CrypC_LDH_PKA_set_parms(work.data(), nullptr, kAgreementKeySize);
    if (code == kOk) code = api_.CrypC_LDH_PKA_set_secret_key(work.data(), OwnSecret);
    if (code == kOk) code = api_.CrypC_LDH_PKA_gen_mutual_key(work.data(), peer, agreed.data());
    api_.CrypC_LDH_PKA_clear(work.data());
  }
  if (code != kOk) return code;
  Secret<kDigestSize> key;
  if ((code = Digest(agreed.data(), kAgreementKeySize, false, key.data())) != kOk) return code;
  std::memcpy(Node.PairKey, key.data(), kSessionKeySize);
  Node.PairKeyKnown = true;
  return kOk;
}

}  // namespace zk::cryptoc
