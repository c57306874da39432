// The cache of correspondents' public keys, read from the "pub" files of a directory tree and
// kept by owner UID (frame/keydirectory.h), and the changes to that directory.
#include <cstring>

#include "engines/cryptoc/crypc_codes.h"
#include "engines/cryptoc/crypc_dll.h"
#include "frame/fileutils.h"

namespace zk::cryptoc {

namespace {

void FillNode(TCryptoC_CashNode4& Node, const uint8_t* Image, int32_t Size) {
  const int32_t uidLength = ImageUIDLength(Image, Size);
  Node.FileSize = Size;
  std::memcpy(Node.Image, Image, static_cast<size_t>(Size));
  Node.KeyType = Size >= uidLength + 5 ? static_cast<int32_t>(ReadLE32(Image + uidLength + 1)) : -1;
}

// A file that cannot be read is left out; asking for its owner then reports the key missing.
bool ReadNode(const std::string& Path, std::string& UID, TCryptoC_CashNode4& Node) {
  uint8_t image[kMaxPublicKeyFileSize];
  int32_t size = kMaxPublicKeyFileSize;
  if (!ReadFileToBuffer(Path, image, size)) return false;
  const int32_t uidLength = ImageUIDLength(image, size);
  if (uidLength <= 0) return false;
  UID.assign(reinterpret_cast<const char*>(image), static_cast<size_t>(uidLength));
  FillNode(Node, image, size);
  return true;
}

int32_t CodeOf(KeyDirResult Result, int32_t NotFound) {
  switch (Result) {
    case KeyDirResult::Ok: return kOk;
    case KeyDirResult::NotFound: return NotFound;
    case KeyDirResult::RemoveFailed: return kErrDirectoryAccess;
    case KeyDirResult::NoDirectory:
    case KeyDirResult::WriteFailed: break;
  }
  return kErrWriteKeyFile;
}

}  // namespace

TCryptoC_DLL::PublicKeyDirectory::PublicKeyDirectory() : TKeyDirectory(PublicKeyFilesLayout(), &ReadNode) {}

int32_t TCryptoC_DLL::ServeFromNode(const TCryptoC_CashNode4& Node, KeyPart Part, uint8_t* Out, int32_t& Type) {
  const int32_t signSize = SignPublicKeySize(Node.KeyType);
  const int32_t uidLength = ImageUIDLength(Node.Image, Node.FileSize);
  if (signSize == 0 || uidLength < 0 || Node.FileSize != uidLength + 5 + signSize + kAgreementKeySize) {
    return kErrPublicKey;
  }
  const uint8_t* key = Node.Image + uidLength + 5;
  if (Part == KeyPart::Signature) std::memcpy(Out, key, static_cast<size_t>(signSize));
  else std::memcpy(Out, key + signSize, kAgreementKeySize);
  Type = Node.KeyType;
  return kOk;
}

int32_t TCryptoC_DLL::ServePublicKey(const std::string& UID, KeyPart Part, uint8_t* Out, int32_t& Type) {
  int32_t code = kErrPublicKey;
  keys_.Use(settings_.AbonentsDir, UID,
            [&](TCryptoC_CashNode4& node, const std::string&) { code = ServeFromNode(node, Part, Out, Type); });
  return code;
}

int32_t TCryptoC_DLL::IncludePublicKey(const uint8_t* Image, int32_t Size) {
  const int32_t uidLength = ImageUIDLength(Image, Size);
  if (uidLength < 0 || Size > kMaxPublicKeyFileSize || Size < uidLength + 5) return kErrPublicKey;
  // A file the cache would refuse to serve is not stored in the first place.
  const int32_t signSize = SignPublicKeySize(static_cast<int32_t>(ReadLE32(Image + uidLength + 1)));
  if (signSize == 0 || Size != uidLength + 5 + signSize + kAgreementKeySize) return kErrPublicKey;
  const std::string uid(reinterpret_cast<const char*>(Image), static_cast<size_t>(uidLength));
  {
    SectionLock hold(keyLock_);
    const int32_t code = LoadUID();
    if (code != kOk) return code;
    if (uid == uid_) return kErrIncludeOwnKey;
  }
  auto node = std::make_unique<TCryptoC_CashNode4>();
  FillNode(*node, Image, Size);
  return CodeOf(keys_.Include(settings_.AbonentsDir, uid, Image, static_cast<size_t>(Size), std::move(node)),
                kErrPublicKey);
}

int32_t TCryptoC_DLL::RemovePublicKey(const std::string& UID) {
  {
    SectionLock hold(keyLock_);
    const int32_t code = LoadUID();
    if (code != kOk) return code;
    if (UID == uid_) return kErrRemoveOwnKey;
  }
  return CodeOf(keys_.Remove(settings_.AbonentsDir, UID), kOk);
}

int32_t TCryptoC_DLL::RefreshPublicKey(const std::string& UID) {
  if (!DirectoryExists(settings_.AbonentsDir)) {
    keys_.Drop();
    return kErrPublicKey;
  }
  return CodeOf(keys_.Refresh(settings_.AbonentsDir, UID), kErrPublicKey);
}

void TCryptoC_DLL::DropAllKeys() {
  SectionLock hold(keyLock_);
  keys_.Drop();
  DropSecretKey();
}

}  // namespace zk::cryptoc
