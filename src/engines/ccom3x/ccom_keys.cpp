// The user's keys: the public-key file, the PSE of the secret-key directory and the opaque key of
// "KEYS\" whose public key matches the file, kept under the two time-outs.
#include <cstring>

#include "engines/ccom3x/ccom_codes.h"
#include "engines/ccom3x/ccom_dll.h"
#include "frame/fileutils.h"
#include "frame/secure.h"
#include "platform/platform.h"

namespace zk::ccom3x {

void TCCom3x_DLL::DropPrivateKey() {
  SectionLock hold(keyLock_);
  if (keyCtx_ != nullptr) api_.PSE_CTX_free(keyCtx_);
  if (pseCtx_ != nullptr) api_.PSE_CTX_free(pseCtx_);
  keyCtx_ = pseCtx_ = nullptr;
  SecureWipe(opaqueKey_.data(), kOpaqueKeySize);
  ownRecord_ = TCCom3x_CashNode();
  keysHeld_ = false;
  timeouts_.Reset();
}

void TCCom3x_DLL::DropKeys() {
  DropPrivateKey();
  DropPublicKeyCache();
}

int32_t TCCom3x_DLL::OwnUID(const TCCom3x_UserParam& P, std::string& UID) {
  SectionLock hold(keyLock_);
  if (keysHeld_ && ownRecord_.FilePath == P.PublicKeyFile) {
    UID = ownRecord_.UID;
    return kOk;
  }
  TCCom3x_CashNode record;
  const int32_t code = ReadPublicKeyFile(P.PublicKeyFile, record);
  if (code == kOk) UID = record.UID;
  return code;
}

int32_t TCCom3x_DLL::UsePrivateKey(const TCCom3x_UserParam& P, const KeyOperation& Operation) {
  SectionLock hold(keyLock_);
  const int32_t code = KeepKeys(P);
  if (code != kOk) return code;
  CCOM_PSE* pse = api_.PSE_CTX_get_pse(keyCtx_);
  if (pse == nullptr) return Failure();
  return Operation(pse);
}

int32_t TCCom3x_DLL::KeepKeys(const TCCom3x_UserParam& P) {
  const uint64_t now = TKeyTimeouts::Now();
  // Keys read for another public-key file (an engine with other settings sharing this binding)
  // are not this user's.
  if (keysHeld_ && (ownRecord_.FilePath != P.PublicKeyFile || timeouts_.Expired(P.KeyTimeout, P.LastOpTimeout, now))) DropPrivateKey();
  if (!keysHeld_) {
    const int32_t code = LoadKeys(P);
    if (code != kOk) {
      DropPrivateKey();
      return code;
    }
    keysHeld_ = true;
    timeouts_.Loaded(P.KeyTimeout, now);
  }
  timeouts_.Used(P.LastOpTimeout, now);
  return kOk;
}

int32_t TCCom3x_DLL::LoadKeys(const TCCom3x_UserParam& P) {
  int32_t code = ReadPublicKeyFile(P.PublicKeyFile, ownRecord_);
  if (code != kOk) return code;
  if (!DirectoryExists(P.SecretKeyDir)) return kErrNoMatchingKey;
  if (pseCtx_ != nullptr) api_.PSE_CTX_free(pseCtx_);
  pseCtx_ = api_.PSE_CTX_new();
  if (pseCtx_ == nullptr) return Failure();
  // The toolkit does plain file I/O: it gets the system's own path.
  if (api_.PSE_CTX_set_path(pseCtx_, platform::NativePath(P.SecretKeyDir).c_str()) != kCComOk ||
      api_.PSE_CTX_read(pseCtx_) != kCComOk)
    return Failure();
  if (ownRecord_.KeyLen != kPublicValueSize) return kErrNoMatchingKey;
  std::vector<std::string> files;
  FindFilesByExtension(P.SecretKeyDir + "KEYS\\", "sec", files, false);
  for (const std::string& file : files) {
    // Only files of exactly the opaque key's size are keys.
    if (platform::FileSize(file) != kOpaqueKeySize) continue;
    CCOM_PSE_CTX* candidate = nullptr;
    if (TryKeyFile(file, ownRecord_.Key, candidate) == kOk) {
      keyCtx_ = candidate;
      return kOk;
    }
  }
  return kErrNoMatchingKey;
}

int32_t TCCom3x_DLL::TryKeyFile(const std::string& File, const uint8_t* Wanted, CCOM_PSE_CTX*& KeyCtx) {
  Secret<kOpaqueKeySize> opaque;
  int32_t size = kOpaqueKeySize;
  if (!ReadFileToBuffer(File, opaque.data(), size) || size != kOpaqueKeySize) return kErrNoMatchingKey;
  CCOM_PSE_CTX* work = api_.PSE_CTX_new();
  if (work == nullptr) return Failure();
  // The working context receives the loaded PSE's master key, masks, key-encryption key and
  // random state, then reads the one key file.
  Secret<kPseMasterKeySize> mkey;
  Secret<kPseMasksSize> masks;
  Secret<kPseKekSize> kek;
  Secret<kPseRandSize> rand;
  bool ok = api_.PSE_CTX_get_mkey(pseCtx_, mkey.data()) == kCComOk &&
            api_.PSE_CTX_get_masks(pseCtx_, masks.data()) == kCComOk &&
            api_.PSE_CTX_get_kek(pseCtx_, kek.data()) == kCComOk &&
            api_.PSE_CTX_get_rand(pseCtx_, rand.data()) == kCComOk &&
            api_.PSE_CTX_set_mkey(work, mkey.data()) == kCComOk &&
            api_.PSE_CTX_set_masks(work, masks.data()) == kCComOk && api_.PSE_CTX_set_kek(work, kek.data()) == kCComOk &&
            api_.PSE_CTX_set_rand(work, rand.data()) == kCComOk &&
            api_.PSE_CTX_set_path(work, platform::NativePath(File).c_str()) == kCComOk &&
            api_.PSE_CTX_read(work) == kCComOk;
  uint8_t derived[kPublicValueSize] = {};
  CCOM_PSE* pse = ok ? api_.PSE_CTX_get_pse(work) : nullptr;
  ok = pse != nullptr && api_.ECGOST_generate_public_key(pse, derived) == kCComOk &&
       ConstantTimeEqual(derived, Wanted, kPublicValueSize);
  if (!ok) {
    api_.PSE_CTX_free(work);
    return kErrNoMatchingKey;
  }
  std::memcpy(opaqueKey_.data(), opaque.data(), kOpaqueKeySize);
  KeyCtx = work;
  return kOk;
}

}  // namespace zk::ccom3x
