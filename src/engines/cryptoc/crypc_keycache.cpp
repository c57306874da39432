// The cache of correspondents' public keys, read from the "pub" files of a directory tree and
// kept by owner UID, and the changes to that directory.
#include <cstring>

#include "engines/cryptoc/crypc_codes.h"
#include "engines/cryptoc/crypc_dll.h"
#include "frame/fileutils.h"

namespace zk::cryptoc {

namespace {

struct FileImage {
  uint8_t bytes[kMaxPublicKeyFileSize];
  int32_t size = kMaxPublicKeyFileSize;
  int32_t uidLength = -1;
  std::string UID() const { return std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(uidLength)); }
};

bool ReadImage(const std::string& Path, FileImage& Image) {
  Image.size = kMaxPublicKeyFileSize;
  if (!ReadFileToBuffer(Path, Image.bytes, Image.size)) return false;
  Image.uidLength = ImageUIDLength(Image.bytes, Image.size);
  return Image.uidLength > 0;
}

}  // namespace

void TCryptoC_DLL::AddNode(const std::string& Path, const uint8_t* Image, int32_t Size) {
  const int32_t uidLength = ImageUIDLength(Image, Size);
  auto at = cache_.emplace(std::piecewise_construct,
                           std::forward_as_tuple(reinterpret_cast<const char*>(Image), static_cast<size_t>(uidLength)),
                           std::forward_as_tuple());
  TCryptoC_CashNode4& node = at->second;
  node.FilePath = Path;
  node.FileSize = Size;
  std::memcpy(node.Image, Image, static_cast<size_t>(Size));
  node.KeyType = Size >= uidLength + 5 ? static_cast<int32_t>(ReadLE32(Image + uidLength + 1)) : -1;
}

void TCryptoC_DLL::BuildCache() {
  if (cacheBuilt_) return;
  cache_.clear();
  std::vector<std::string> files;
  FindFilesByExtension(settings_.AbonentsDir, "pub", files, true);
  FileImage image;
  for (const std::string& file : files) {
    // A file that cannot be read is left out; asking for its owner then reports the key missing.
    if (ReadImage(file, image)) AddNode(file, image.bytes, image.size);
  }
  cacheBuilt_ = true;
}

TCryptoC_CashNode4* TCryptoC_DLL::FindNode(const std::string& UID) {
  const auto at = cache_.find(UID);
  // Of several files for one UID the first one read serves.
  return at == cache_.end() ? nullptr : &cache_.lower_bound(UID)->second;
}

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
  BuildCache();
  const TCryptoC_CashNode4* node = FindNode(UID);
  return node == nullptr ? kErrPublicKey : ServeFromNode(*node, Part, Out, Type);
}

int32_t TCryptoC_DLL::RemoveEntries(const std::string& UID) {
  for (auto at = cache_.find(UID); at != cache_.end() && at->first == UID; at = cache_.find(UID)) {
    if (platform::IsFile(at->second.FilePath) && !platform::RemoveFile(at->second.FilePath)) return kErrDirectoryAccess;
    cache_.erase(at);
  }
  return kOk;
}

int32_t TCryptoC_DLL::IncludePublicKey(const uint8_t* Image, int32_t Size) {
  const int32_t uidLength = ImageUIDLength(Image, Size);
  if (uidLength < 0 || Size > kMaxPublicKeyFileSize || Size < uidLength + 5) return kErrPublicKey;
  // A file the cache would refuse to serve is not stored in the first place.
  const int32_t signSize = SignPublicKeySize(static_cast<int32_t>(ReadLE32(Image + uidLength + 1)));
  if (signSize == 0 || Size != uidLength + 5 + signSize + kAgreementKeySize) return kErrPublicKey;
  const std::string uid(reinterpret_cast<const char*>(Image), static_cast<size_t>(uidLength));
  SectionLock hold(keyLock_);
  int32_t code = LoadUID();
  if (code != kOk) return code;
  if (uid == uid_) return kErrIncludeOwnKey;
  BuildCache();
  if ((code = RemoveEntries(uid)) != kOk) return code;
  const std::string& dir = settings_.AbonentsDir;
  std::string file = IsPlainFileName(uid) ? dir + uid + ".pub" : std::string();
  if (file.empty() || platform::PathExists(file)) {
    const int32_t number = NextNumberInMask(dir, "pk*.pub");
    if (number <= 0) return kErrWriteKeyFile;
    file = dir + "pk" + std::to_string(number) + ".pub";
  }
  if (!WriteBufferToFile(file, Image, Size)) return kErrWriteKeyFile;
  AddNode(file, Image, Size);
  return kOk;
}

int32_t TCryptoC_DLL::RemovePublicKey(const std::string& UID) {
  SectionLock hold(keyLock_);
  const int32_t code = LoadUID();
  if (code != kOk) return code;
  if (UID == uid_) return kErrRemoveOwnKey;
  BuildCache();
  return RemoveEntries(UID);
}

int32_t TCryptoC_DLL::RefreshPublicKey(const std::string& UID) {
  SectionLock hold(keyLock_);
  FileImage image;
  if (cacheBuilt_) {
    TCryptoC_CashNode4* node = FindNode(UID);
    if (node != nullptr) {
      const std::string path = node->FilePath;
      if (ReadImage(path, image) && image.UID() == UID) {
        cache_.erase(cache_.lower_bound(UID));
        AddNode(path, image.bytes, image.size);
        return kOk;
      }
    } else {
      std::vector<std::string> files;
      if (IsPlainFileName(UID)) files.push_back(settings_.AbonentsDir + UID + ".pub");
      FindFilesByExtension(settings_.AbonentsDir, "pub", files, true);
      for (const std::string& file : files) {
        if (ReadImage(file, image) && image.UID() == UID) {
          AddNode(file, image.bytes, image.size);
          return kOk;
        }
      }
      return kErrPublicKey;
    }
  }
  // No cache yet, or the cached file is gone or changed owner: read the whole directory again.
  cacheBuilt_ = false;
  cache_.clear();
  if (!DirectoryExists(settings_.AbonentsDir)) return kErrPublicKey;
  BuildCache();
  return FindNode(UID) != nullptr ? kOk : kErrPublicKey;
}

void TCryptoC_DLL::DropAllKeys() {
  SectionLock hold(keyLock_);
  cache_.clear();
  cacheBuilt_ = false;
  DropSecretKey();
}

}  // namespace zk::cryptoc
