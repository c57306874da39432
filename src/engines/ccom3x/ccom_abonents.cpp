// Correspondents' public keys: the cache built from the directory tree, the self-signature checked
// once per record, pairwise keys, and including, removing and refreshing keys on disk.
#include <cstring>
#include <memory>

#include "engines/ccom3x/ccom_codes.h"
#include "engines/ccom3x/ccom_dll.h"
#include "frame/fileutils.h"
#include "platform/platform.h"

namespace zk::ccom3x {

namespace {

bool ReadNode(const std::string& Path, std::string& UID, TCCom3x_CashNode& Node) {
  // Invalid files are skipped.
  if (ReadPublicKeyFile(Path, Node) != kOk) return false;
  UID = Node.UID;
  return true;
}

int32_t CodeOf(KeyDirResult Result) {
  switch (Result) {
    case KeyDirResult::Ok: return kOk;
    case KeyDirResult::NotFound: return kErrBadPublicKeyFile;
    case KeyDirResult::NoDirectory:
    case KeyDirResult::RemoveFailed: return kErrAbonentsDir;
    case KeyDirResult::WriteFailed: break;
  }
  return kErrWritePublicKey;
}

}  // namespace

TCCom3x_DLL::PublicKeyDirectory::PublicKeyDirectory() : TKeyDirectory(PublicKeyFilesLayout(), &ReadNode) {}

void TCCom3x_DLL::DropPublicKeyCache() { keys_.Drop(); }

int32_t TCCom3x_DLL::CheckedRecord(const TCCom3x_UserParam& P, const std::string& UID, uint8_t* Key,
                                   int32_t& KeyLen) {
  int32_t code = kErrBadPublicKeyFile;
  keys_.Use(P.AbonentsDir, UID, [&](TCCom3x_CashNode& node, const std::string&) {
    if (!node.SelfSignatureChecked) {
      const int32_t checked = CheckSignature(node.Key, node.KeyLen, node.SignedPart.data(), node.SignedPart.size(),
                                             nullptr, 0, node.Signature, node.SignatureLen);
      // Only a verdict is remembered: a toolkit that failed for another reason (memory, a busy
      // device) is asked again next time rather than condemning the correspondent's key.
      if (checked != kOk && checked != kErrBadSignature) {
        code = checked;
        return;
      }
      node.SelfSignatureGood = checked == kOk;
      node.SelfSignatureChecked = true;
    }
    if (!node.SelfSignatureGood) {
      code = kErrPublicKeyIntegrity;
      return;
    }
    std::memcpy(Key, node.Key, kPublicValueSize);
    KeyLen = node.KeyLen;
    code = kOk;
  });
  return code;
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
  auto entry = std::make_unique<TCCom3x_CashNode>(std::move(node));
  const std::string uid = entry->UID;
  return CodeOf(keys_.Include(P.AbonentsDir, uid, image.data(), image.size(), std::move(entry)));
}

int32_t TCCom3x_DLL::RemovePublicKey(const TCCom3x_UserParam& P, const std::string& UID) {
  std::string own;
  int32_t code = OwnUID(P, own);
  if (code != kOk) return code;
  if (UID == own) return kErrOwnKey;
  if (!DirectoryExists(P.AbonentsDir)) return kErrAbonentsDir;
  return CodeOf(keys_.Remove(P.AbonentsDir, UID));
}

int32_t TCCom3x_DLL::RefreshPublicKey(const TCCom3x_UserParam& P, const std::string& UID) {
  std::string own;
  int32_t code = OwnUID(P, own);
  if (code != kOk) return code;
  if (UID == own) return kErrOwnKey;
  if (!DirectoryExists(P.AbonentsDir)) return kErrAbonentsDir;
  return CodeOf(keys_.Refresh(P.AbonentsDir, UID));
}

}  // namespace zk::ccom3x
