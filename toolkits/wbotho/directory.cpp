// The public-key directory: one entry file per correspondent key number, authenticated with a MAC
// under a key derived from the own key set that included it.
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "standin_files.h"
#include "wbotho_internal.h"

namespace wbotho {

namespace {

namespace fs = std::filesystem;

constexpr size_t kOwnIdField = 12;

std::string EntryName(int keyNumber) {
  char name[16];
  std::snprintf(name, sizeof name, "%04d.vpk", keyNumber);
  return name;
}

bool ReadFile(const std::string& path, Bytes& data, size_t maxSize) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  data.resize(maxSize + 1);
  data.resize(std::fread(data.data(), 1, data.size(), f));
  std::fclose(f);
  return data.size() <= maxSize;
}

// The MAC key of a directory kept by this own key set: R 34.11-94 of "VDIR" and its signature key.
void EntryMac(const KeySet& own, const uint8_t* data, size_t len, uint8_t mac[4]) {
  uint8_t material[36];
  std::memcpy(material, "VDIR", 4);
  std::memcpy(material + 4, own.dS, 32);
  uint8_t key[32];
  Hash(material, sizeof material, key);
  gost::Gost28147 cipher;
  cipher.SetKey(key, Sbox());
  gost::MacMode m;
  m.Init(&cipher);
  m.Update(data, len);
  uint8_t full[8];
  m.Final(full);
  std::memcpy(mac, full, 4);
  gost::Wipe(material, sizeof material);
  gost::Wipe(key, sizeof key);
}

int FindOwn(const std::string& ownId, KeySet& own) {
  if (IsSignId(ownId)) return FindLoadedBySignId(ownId, own);
  return FindLoadedByKeyNumber(KeyNumberOf(ownId), own);
}

bool IsDirectory(const std::string& dir) {
  std::error_code ec;
  return fs::is_directory(dir, ec);
}

// "E" with an encryption identifier or "S" with a signature identifier.
bool ValidOwn(const char* ownKeyId, const char* kind) {
  if (ownKeyId == nullptr || kind == nullptr) return false;
  const std::string k(kind);
  return (k == "E" && IsEncId(ownKeyId)) || (k == "S" && IsSignId(ownKeyId));
}

}  // namespace

std::string JoinPath(const std::string& dir, const std::string& name) {
#if defined(_WIN32)
  const char separator = '\\';
#else
  const char separator = '/';
#endif
  if (dir.empty() || dir.back() == '/' || dir.back() == '\\') return dir + name;
  return dir + separator + name;
}

// "VDE1" | public-key image | own identifier 12 | MAC 4.
int ReadDirectoryEntry(const std::string& dir, int keyNumber, PublicKeys& keys) {
  if (!IsDirectory(dir)) return kNoDirectory;
  Bytes entry;
  const std::string path = JoinPath(dir, EntryName(keyNumber));
  if (!ReadFile(path, entry, 4 + kPublicFileSize5 + kOwnIdField + 4)) {
    std::error_code ec;
    return fs::exists(path, ec) ? kDamagedPublicKey : kKeyNotInDirectory;
  }
  if (entry.size() < 8 || std::memcmp(entry.data(), "VDE1", 4) != 0) return kDamagedPublicKey;
  const size_t imageSize = PublicImageSize(entry.data() + 4);
  if (imageSize == 0 || entry.size() != 4 + imageSize + kOwnIdField + 4) return kDamagedPublicKey;
  KeySet own;
  if (int code = FindOwn(Text(entry.data() + 4 + imageSize, kOwnIdField), own)) return code;
  uint8_t mac[4];
  EntryMac(own, entry.data(), entry.size() - 4, mac);
  if (!SameBytes(mac, entry.data() + entry.size() - 4, 4)) return kBadDirectoryMac;
  if (int code = ParsePublicImage(entry.data() + 4, keys)) return code;
  return KeyNumberOf(keys.encId) == keyNumber ? kOk : kDamagedPublicKey;
}

}  // namespace wbotho

using namespace wbotho;

STANDIN_EXPORT int16_t WB_CALL AddOpenKey(const char* publicDir, const uint8_t* keyBytes, const char* ownKeyId,
                                          const char* kind) {
  WBOTHO_HOOK("AddOpenKey");
  if (publicDir == nullptr || keyBytes == nullptr || !ValidOwn(ownKeyId, kind)) return kBadParameter;
  if (!IsDirectory(publicDir)) return kNoDirectory;
  PublicKeys keys;
  if (int code = ParsePublicImage(keyBytes, keys)) return static_cast<int16_t>(code);
  KeySet own;
  if (int code = FindOwn(ownKeyId, own)) return static_cast<int16_t>(code);
  const size_t imageSize = PublicImageSize(keyBytes);
  Bytes entry(4 + imageSize + kOwnIdField + 4, 0);
  std::memcpy(entry.data(), "VDE1", 4);
  std::memcpy(entry.data() + 4, keyBytes, imageSize);
  std::memcpy(entry.data() + 4 + imageSize, ownKeyId, std::strlen(ownKeyId));
  EntryMac(own, entry.data(), entry.size() - 4, entry.data() + entry.size() - 4);
  // Written beside the old entry and moved over it, so a failed write leaves the old one.
  const std::string path = JoinPath(publicDir, EntryName(KeyNumberOf(keys.encId)));
  const std::string temp = path + ".new";
  if (standin::WriteWholeFile(temp.c_str(), entry.data(), entry.size()) != standin::WriteResult::kOk) {
    return kDirectoryWrite;
  }
  std::error_code ec;
  fs::rename(temp, path, ec);
  if (ec) {
    fs::remove(temp, ec);
    return kDirectoryWrite;
  }
  return kOk;
}

// keyId names the correspondent by either identifier; it must be one (no path can be made of it).
STANDIN_EXPORT int16_t WB_CALL DelOpenKey(const char* publicDir, const char* keyId, const char* ownKeyId,
                                          const char* kind) {
  WBOTHO_HOOK("DelOpenKey");
  if (publicDir == nullptr || keyId == nullptr || !ValidOwn(ownKeyId, kind)) return kBadParameter;
  const std::string id(keyId);
  if (!IsEncId(id) && !IsSignId(id)) return kBadParameter;
  PublicKeys keys;
  if (int code = ReadDirectoryEntry(publicDir, KeyNumberOf(id), keys)) return static_cast<int16_t>(code);
  if (id != (IsEncId(id) ? keys.encId : keys.signId)) return kKeyNotInDirectory;
  std::error_code ec;
  return fs::remove(JoinPath(publicDir, EntryName(KeyNumberOf(id))), ec) ? kOk : 33;
}
