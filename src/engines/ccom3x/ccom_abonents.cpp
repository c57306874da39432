// Correspondents' public keys: the cache built from the directory tree, the self-signature checked
// once per record, pairwise keys, and including, removing and refreshing keys on disk.
#include <cstring>

#include "engines/ccom3x/ccom_codes.h"
#include "engines/ccom3x/ccom_dll.h"
#include "frame/fileutils.h"
#include "platform/platform.h"

namespace zk::ccom3x {

void TCCom3x_DLL::DropPublicKeyCache() {
  SectionLock hold(cacheLock_);
  cache_.clear();
  cacheBuilt_ = false;
}

int32_t TCCom3x_DLL::BuildCacheIfNeeded(const TCCom3x_UserParam& P) {
  if (cacheBuilt_) return kOk;
  std::vector<std::string> files;
  FindFilesByExtension(P.AbonentsDir, "pub", files, true);
  for (const std::string& file : files) {
    TCCom3x_CashNode node;
    // Invalid files are skipped.
    if (ReadPublicKeyFile(file, node) == kOk) cache_.emplace(node.UID, std::move(node));
  }
  cacheBuilt_ = true;
  return kOk;
}

int32_t TCCom3x_DLL::CheckedRecord(const TCCom3x_UserParam& P, const std::string& UID, uint8_t* Key,
                                   int32_t& KeyLen) {
  SectionLock hold(cacheLock_);
  BuildCacheIfNeeded(P);
  auto found = cache_.find(UID);
  if (found == cache_.end()) return kErrBadPublicKeyFile;
  TCCom3x_CashNode& node = found->second;
  if (!node.SelfSignatureChecked) {
    const int32_t code = CheckSignature(node.Key, node.KeyLen, node.SignedPart.data(), node.SignedPart.size(),
                                        nullptr, 0, node.Signature, node.SignatureLen);
    // Only a verdict is remembered: a toolkit that failed for another reason (memory, a busy
    // device) is asked again next time rather than condemning the correspondent's key.
    if (code != kOk && code != kErrBadSignature) return code;
    node.SelfSignatureGood = code == kOk;
    node.SelfSignatureChecked = true;
  }
  if (!node.SelfSignatureGood) return kErrPublicKeyIntegrity;
  std::memcpy(Key, node.Key, kPublicValueSize);
  KeyLen = node.KeyLen;
  return kOk;
}

int32_t TCCom3x_DLL::PairwiseKeyFor(const TCCom3x_UserParam& P, const std::string& UID, uint8_t* Key) {
  uint8_t peer[kPublicValueSize] = {};
  int32_t peerLen = 0;
  int32_t code = CheckedRecord(P, UID, peer, peerLen);
  if (code != kOk) return code;
  if (peerLen != kPublicValueSize) return kErrBadPublicKeyFile;
  SectionLock hold(pairLock_);
  auto found = pairwise_.find(UID);
  // A cached key serves only the public key it was agreed with: a replaced key file gets a new one.
  if (found != pairwise_.end() && std::memcmp(found->second.PeerKey, peer, kPublicValueSize) == 0) {
    std::memcpy(Key, found->second.Key.data(), kSessionKeySize);
    return kOk;
  }
  if ((code = EnsureEphemeral()) != kOk) return code;
  Secret<kAgreedValueSize> agreed;
  if (api_.ECGOST_DH_compute_key(ephemeral_, peer, agreed.data()) != kCComOk) return Failure();
  PairwiseEntry entry;
  if ((code = DeriveKey(agreed.data(), entry.Key.data())) != kOk) return code;
  std::memcpy(entry.PeerKey, peer, kPublicValueSize);
  std::memcpy(Key, entry.Key.data(), kSessionKeySize);
  pairwise_[UID] = entry;
  return kOk;
}

int32_t TCCom3x_DLL::RemoveEntries(const std::string& UID) {
  auto range = cache_.equal_range(UID);
  for (auto it = range.first; it != range.second;) {
    // A file that cannot be deleted stops the removal.
    if (platform::PathExists(it->second.FilePath) && !platform::RemoveFile(it->second.FilePath)) return kErrAbonentsDir;
    it = cache_.erase(it);
  }
  return kOk;
}

int32_t TCCom3x_DLL::IncludePublicKey(const TCCom3x_UserParam& P, const std::string& FileName) {
  std::vector<uint8_t> image;
  TCCom3x_CashNode node;
  int32_t code = ReadPublicKeyImage(FileName, image, node);
  if (code != kOk) return code;
  std::string own;
  if ((code = OwnUID(P, own)) != kOk) return code;
  if (node.UID == own) return kErrIncludeOwnKey;
  // A key whose file does not prove itself is not taken into the directory.
  if (CheckSignature(node.Key, node.KeyLen, node.SignedPart.data(), node.SignedPart.size(), nullptr, 0,
                     node.Signature, node.SignatureLen) != kOk)
    return kErrPublicKeyIntegrity;
  node.SelfSignatureChecked = node.SelfSignatureGood = true;
  if (!DirectoryExists(P.AbonentsDir)) return kErrAbonentsDir;

  SectionLock hold(cacheLock_);
  BuildCacheIfNeeded(P);
  if ((code = RemoveEntries(node.UID)) != kOk) return code;
  auto numbered = [&] {
    const int32_t number = NextNumberInMask(P.AbonentsDir, "pk*.pub");
    return number > 0 ? P.AbonentsDir + "pk" + std::to_string(number) + ".pub" : std::string();
  };
  std::string target = P.AbonentsDir + node.UID + ".pub";
  const bool named = IsPlainFileName(node.UID) && !platform::PathExists(target);
  if (!named) target = numbered();
  if (target.empty()) return kErrAbonentsDir;
  const auto size = static_cast<int32_t>(image.size());
  bool written = WriteBufferToFile(target, image.data(), size);
  // A UID the file system will not take as a name (too long, say) gets a numbered name.
  if (!written && named && !(target = numbered()).empty()) written = WriteBufferToFile(target, image.data(), size);
  if (!written) return kErrWritePublicKey;
  node.FilePath = target;
  cache_.emplace(node.UID, std::move(node));
  return kOk;
}

int32_t TCCom3x_DLL::RemovePublicKey(const TCCom3x_UserParam& P, const std::string& UID) {
  std::string own;
  int32_t code = OwnUID(P, own);
  if (code != kOk) return code;
  if (UID == own) return kErrOwnKey;
  if (!DirectoryExists(P.AbonentsDir)) return kErrAbonentsDir;
  SectionLock hold(cacheLock_);
  BuildCacheIfNeeded(P);
  return RemoveEntries(UID);
}

int32_t TCCom3x_DLL::RefreshPublicKey(const TCCom3x_UserParam& P, const std::string& UID) {
  std::string own;
  int32_t code = OwnUID(P, own);
  if (code != kOk) return code;
  if (UID == own) return kErrOwnKey;
  if (!DirectoryExists(P.AbonentsDir)) return kErrAbonentsDir;
  SectionLock hold(cacheLock_);
  auto rebuild = [&] {
    cache_.clear();
    cacheBuilt_ = false;
    BuildCacheIfNeeded(P);
    return cache_.count(UID) > 0 ? kOk : kErrBadPublicKeyFile;
  };
  if (!cacheBuilt_) return rebuild();

  auto range = cache_.equal_range(UID);
  if (range.first != range.second) {
    for (auto it = range.first; it != range.second; ++it) {
      TCCom3x_CashNode fresh;
      if (ReadPublicKeyFile(it->second.FilePath, fresh) != kOk || fresh.UID != UID) return rebuild();
      it->second = std::move(fresh);
    }
    return kOk;
  }
  // Not cached: the file named after the UID first, then every file of the tree.
  std::vector<std::string> files;
  if (IsPlainFileName(UID)) files.push_back(P.AbonentsDir + UID + ".pub");
  FindFilesByExtension(P.AbonentsDir, "pub", files, true);
  for (const std::string& file : files) {
    TCCom3x_CashNode fresh;
    if (ReadPublicKeyFile(file, fresh) == kOk && fresh.UID == UID) {
      cache_.emplace(UID, std::move(fresh));
      return kOk;
    }
  }
  return kErrBadPublicKeyFile;
}

}  // namespace zk::ccom3x
