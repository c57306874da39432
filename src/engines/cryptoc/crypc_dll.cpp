#include "engines/cryptoc/crypc_dll.h"

#include <cstring>

#include "engines/cryptoc/crypc_codes.h"
#include "frame/bindingregistry.h"
#include "frame/secure.h"
#include "frame/textrules.h"

namespace zk::cryptoc {

namespace {

// GOST R 34.11-94 test parameter set, K8 down to K1, as the toolkit's work block expects it.
const uint8_t kTestSbox[kSboxSize] = {
    1,  15, 13, 0,  5,  7,  10, 4,  9,  2,  3,  14, 6,  11, 8,  12,  // K8
    13, 11, 4,  1,  3,  15, 5,  9,  0,  10, 14, 7,  6,  8,  2,  12,  // K7
    4,  11, 10, 0,  7,  2,  1,  13, 3,  6,  8,  5,  9,  12, 15, 14,  // K6
    6,  12, 7,  1,  5,  15, 13, 8,  4,  10, 9,  14, 0,  3,  11, 2,   // K5
    7,  13, 10, 1,  0,  8,  9,  15, 14, 4,  6,  12, 11, 2,  5,  3,   // K4
    5,  8,  1,  13, 10, 3,  4,  2,  14, 15, 12, 7,  6,  0,  9,  11,  // K3
    14, 11, 4,  12, 6,  13, 15, 10, 2,  3,  8,  1,  0,  7,  5,  9,   // K2
    4,  10, 9,  2,  13, 8,  0,  14, 6,  11, 1,  12, 7,  15, 5,  3,   // K1
};

TCriticalSection& ModuleLock() {
  static TCriticalSection lock;
  return lock;
}

// A work block that never outlives its key schedules.
using WorkBlock = Secret<kWorkBlockSize>;

bool SameBytes(const uint8_t* a, const uint8_t* b, size_t n) {
  uint8_t diff = 0;
  for (size_t i = 0; i < n; ++i) diff |= static_cast<uint8_t>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace

platform::ModuleHandle ToolkitModule() {
  static platform::ModuleHandle module = nullptr;
  SectionLock hold(ModuleLock());
  if (module == nullptr) module = LoadToolkitLibrary("libcrypt.dll");
  return module;
}

std::string KeySettings::RegistryKey() const {
  return BindingKey({PublicKeyFile, SecretKeyFile, AbonentsDir, CADir});
}

TCryptoC_CashNode4::~TCryptoC_CashNode4() { ForgetPairKey(); }

void TCryptoC_CashNode4::ForgetPairKey() {
  SecureWipe(PairKey, sizeof(PairKey));
  PairKeyKnown = false;
}

TCryptoC_DLL::TCryptoC_DLL(const KeySettings& Settings) : settings_(Settings) {
  const platform::ModuleHandle module = ToolkitModule();
  if (module == nullptr) return;
  LibLoaded = true;
  FunctionsPresent = true;
#define X(name) Resolve(module, #name, api_.name);
  ZK_CRYPTOC_FUNCTIONS
#undef X
}

TCryptoC_DLL::~TCryptoC_DLL() {
  DropAllKeys();
  SecureWipe(randomState_, sizeof(randomState_));
}

void TCryptoC_DLL::SetPasswordRequestFunc(TPasswordRequestFunc Func) {
  // The toolkit keeps no password-protected keys; the function is kept for the binding's owner.
  SectionLock hold(keyLock_);
  passwordRequest_ = Func;
}

int32_t TCryptoC_DLL::Random(uint8_t* Out, uint32_t Len) {
  SectionLock hold(randomLock_);
  return api_.CrypC_Random_Fill(randomState_, Out, Len);
}

void TCryptoC_DLL::PrepareWork(uint8_t* Work) {
  std::memset(Work, 0, kWorkBlockSize);
  std::memcpy(Work, kTestSbox, kSboxSize);
  SectionLock hold(randomLock_);
  std::memcpy(Work + kRandomStateOffset, randomState_, kRandomStateSize);
}

int32_t TCryptoC_DLL::Digest(const uint8_t* Data, int32_t Len, bool Compatibility, uint8_t Out[kDigestSize]) {
  if (Data == nullptr || Len < 1) return kErrBadData;
  WorkBlock work;
  PrepareWork(work.data());
  int32_t code = api_.CrypC_R34_11_1994_init(work.data());
  for (uint32_t done = 0; code == kOk && done < static_cast<uint32_t>(Len);) {
    const uint32_t piece = std::min<uint32_t>(kDigestPiece, static_cast<uint32_t>(Len) - done);
    // Signatures made by the older digest, which fed the data's head for every piece, are still
    // in circulation; that digest is kept to check them.
    code = api_.CrypC_R34_11_1994_update(work.data(), Compatibility ? Data : Data + done, piece);
    done += piece;
  }
  if (code == kOk) code = api_.CrypC_R34_11_1994_final(work.data(), Out);
  api_.CrypC_R34_11_1994_clear(work.data());
  return code;
}

int32_t TCryptoC_DLL::Sign(const uint8_t* Data, int32_t Len, bool Compatibility, int32_t KeyTimeout,
                           int32_t LastOpTimeout, std::vector<uint8_t>& Block) {
  if (Data == nullptr) return kErrBadData;
  uint8_t digest[kDigestSize];
  int32_t code = Digest(Data, Len, Compatibility, digest);
  if (code != kOk) return code;
  Secret<kSecretSignKeySize> key;
  int32_t type = -1;
  std::string uid;
  {
    SectionLock hold(keyLock_);
    code = KeepSecretKey(KeyTimeout, LastOpTimeout, KeyPart::Signature, key.data(), type);
    if (code != kOk) return code;
    if ((code = LoadUID()) != kOk) return code;
    uid = uid_;
  }
  WorkBlock work;
  PrepareWork(work.data());
  uint8_t signature[kSignatureSize];
  const bool gost94 = type == 0;
  code = gost94 ? api_.CrypC_LR34_10_1994_set_parms(work.data(), nullptr, kSecretSignKeySize, kPublicKey1994Size)
                : api_.CrypC_LR34_10_2001_set_parms(work.data(), nullptr, kSecretSignKeySize, kSecretSignKeySize);
  if (code == kOk) {
    code = gost94 ? api_.CrypC_LR34_10_1994_set_secret_key(work.data(), key.data())
                  : api_.CrypC_LR34_10_2001_set_secret_key(work.data(), key.data());
  }
  SecureWipe(key.data(), key.size());
  if (code == kOk) {
    code = gost94 ? api_.CrypC_LR34_10_1994_sign(work.data(), digest, signature)
                  : api_.CrypC_LR34_10_2001_sign(work.data(), digest, signature);
  }
  gost94 ? api_.CrypC_LR34_10_1994_clear(work.data()) : api_.CrypC_LR34_10_2001_clear(work.data());
  if (code != kOk) return code;
  Block.assign(uid.begin(), uid.end());
  Block.push_back(0);
  Block.insert(Block.end(), signature, signature + kSignatureSize);
  return kOk;
}

int32_t TCryptoC_DLL::Verify(const uint8_t* Data, int32_t Len, const uint8_t* Block, int32_t BlockLen,
                             std::string& SignerUID) {
  if (Data == nullptr) return kErrBadData;
  if (Block == nullptr || BlockLen < 2) return kErrSignatureFormat;
  // Signer UID of 1..254 characters, its zero, then 1..64 bytes of signature.
  size_t uidLen = 0;
  if (!ScanUID(Block, static_cast<size_t>(BlockLen), kMaxUIDChars, uidLen)) return kErrSignatureFormat;
  const int64_t signatureLen = static_cast<int64_t>(BlockLen) - static_cast<int64_t>(uidLen) - 1;
  if (signatureLen < 1 || signatureLen > kSignatureSize) return kErrSignatureFormat;
  SignerUID.assign(reinterpret_cast<const char*>(Block), uidLen);
  const uint8_t* signature = Block + uidLen + 1;

  uint8_t digest[kDigestSize];
  int32_t code = Digest(Data, Len, false, digest);
  if (code != kOk) return code;
  uint8_t publicKey[kPublicKey1994Size];
  int32_t type = -1;
  code = ServePublicKey(SignerUID, KeyPart::Signature, publicKey, type);
  if (code != kOk) return code;
  const bool gost94 = type == 0;
  auto verifyWith = [&](const uint8_t* hash) -> int32_t {
    WorkBlock work;
    PrepareWork(work.data());
    int32_t status = gost94 ? api_.CrypC_LR34_10_1994_set_parms(work.data(), nullptr, kSecretSignKeySize,
                                                                 kPublicKey1994Size)
                            : api_.CrypC_LR34_10_2001_set_parms(work.data(), nullptr, kSecretSignKeySize,
                                                                 kSecretSignKeySize);
    if (status == kOk) {
      status = gost94 ? api_.CrypC_LR34_10_1994_set_public_key(work.data(), publicKey)
                      : api_.CrypC_LR34_10_2001_set_public_key(work.data(), publicKey);
    }
    if (status == kOk) {
      const uint32_t n = static_cast<uint32_t>(signatureLen);
      status = gost94 ? api_.CrypC_LR34_10_1994_verify(work.data(), hash, signature, n)
                      : api_.CrypC_LR34_10_2001_verify(work.data(), hash, signature, n);
    }
    gost94 ? api_.CrypC_LR34_10_1994_clear(work.data()) : api_.CrypC_LR34_10_2001_clear(work.data());
    return status;
  };
  code = verifyWith(digest);
  if (code == kToolkitBadSignature && Len > static_cast<int32_t>(kDigestPiece)) {
    // Beyond one piece the two digests differ. A signature over the older digest covers only the
    // first piece and the length, so it cannot vouch for the rest: it gets a code of its own.
    uint8_t compatibility[kDigestSize];
    const bool older = Digest(Data, Len, true, compatibility) == kOk && verifyWith(compatibility) == kOk;
    code = older ? kErrPartialSignature : kToolkitBadSignature;
  }
  return code;
}

int32_t TCryptoC_DLL::Cipher(int32_t Mode, const uint8_t* In, uint8_t* Out, uint32_t Len,
                             const uint8_t Key[kSessionKeySize], uint8_t S[kVectorSize], uint8_t M[kMacSize]) {
  if (Mode < kEncryptGamma || Mode > kDecryptFeedback) return kErrBadMode;
  const bool encrypt = Mode == kEncryptGamma || Mode == kEncryptFeedback;
  const bool feedback = Mode == kEncryptFeedback || Mode == kDecryptFeedback;
  auto mac = [&](const uint8_t* plain, uint8_t* out) -> int32_t {
    WorkBlock work;
    PrepareWork(work.data());
    uint8_t field[kMacSize] = {};
    int32_t status = api_.CrypC_G28147_1989_mac_init(work.data(), Key, field);
    if (status == kOk) status = api_.CrypC_G28147_1989_mac_update(work.data(), plain, Len);
    if (status == kOk) status = api_.CrypC_G28147_1989_mac_final(work.data(), field);
    api_.CrypC_G28147_1989_mac_clear(work.data());
    std::memcpy(out, field, kMacSize);
    return status;
  };
  int32_t code = kOk;
  if (encrypt) {
    if ((code = Random(S, kVectorSize)) != kOk || (code = mac(In, M)) != kOk) return code;
  }
  WorkBlock work;
  PrepareWork(work.data());
  if (feedback) {
    code = api_.CrypC_G28147_1989_gamma_ofb_init(work.data(), Key, S);
    if (code == kOk) {
      code = encrypt ? api_.CrypC_G28147_1989_gamma_ofb_encrypt(work.data(), In, Out, Len)
                     : api_.CrypC_G28147_1989_gamma_ofb_decrypt(work.data(), In, Out, Len);
    }
    api_.CrypC_G28147_1989_gamma_ofb_clear(work.data());
  } else {
    code = api_.CrypC_G28147_1989_gamma_init(work.data(), Key, S);
    if (code == kOk) code = api_.CrypC_G28147_1989_gamma_crypt(work.data(), In, Out, Len);
    api_.CrypC_G28147_1989_gamma_clear(work.data());
  }
  if (code != kOk || encrypt) return code;
  uint8_t check[kMacSize];
  if ((code = mac(Out, check)) != kOk) return code;
  return SameBytes(check, M, kMacSize) ? kOk : kErrIntegrity;
}

}  // namespace zk::cryptoc
