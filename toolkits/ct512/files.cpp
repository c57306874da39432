// The stand-in's files: private key files, public key files (signature only, or "full" with both
// keys), vaults and their check values. Layouts are in README.md.
#include <cstdio>
#include <cstring>

#include "ct512_internal.h"
#include "standin_files.h"

namespace ct512 {
namespace {

const char kKeyMagic[4] = {'C', 'T', '5', 'K'};
const char kPublicMagic[4] = {'C', 'T', '5', 'P'};
const char kFullMagic[4] = {'C', 'T', '5', 'F'};
const char kVaultMagic[4] = {'C', 'T', '5', 'V'};
constexpr size_t kEntrySize = kUIDChars + kShortNameChars + 4 + 64;
constexpr size_t kVaultHead = 12;
constexpr uint32_t kMaxVaultEntries = 100000;

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void PutBytes(std::vector<uint8_t>& out, const void* p, size_t n) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  out.insert(out.end(), b, b + n);
}
// A text field of fixed width, zero-padded (a full field has no terminator).
void PutText(std::vector<uint8_t>& out, const char* text, size_t width) {
  const size_t n = strnlen(text, width);
  PutBytes(out, text, n);
  out.insert(out.end(), width - n, 0);
}
void GetText(const uint8_t* p, size_t width, char* out, size_t outSize) {
  std::memset(out, 0, outSize);
  std::memcpy(out, p, std::min(width, outSize - 1));
}
void Head(std::vector<uint8_t>& out, const char magic[4], uint8_t kind) {
  PutBytes(out, magic, 4);
  out.push_back(kind);
  out.push_back(1);  // version
  out.push_back(0);
  out.push_back(0);
}
bool HeadOk(const uint8_t* p, const char magic[4], uint8_t kind) {
  return std::memcmp(p, magic, 4) == 0 && p[4] == kind && p[5] == 1;
}

void PutEntry(std::vector<uint8_t>& out, const PublicEntry& e) {
  PutText(out, e.uid, kUIDChars);
  PutText(out, e.shortName, kShortNameChars);
  Put32(out, e.mask);
  PutBytes(out, e.pub, 64);
}
const uint8_t* GetEntry(const uint8_t* p, PublicEntry& e) {
  GetText(p, kUIDChars, e.uid, sizeof(e.uid));
  GetText(p + kUIDChars, kShortNameChars, e.shortName, sizeof(e.shortName));  // at most 7 characters
  e.mask = Get32(p + kUIDChars + kShortNameChars);
  std::memcpy(e.pub, p + kUIDChars + kShortNameChars + 4, 64);
  return p + kEntrySize;
}

bool SameShortName(const char* a, const char* b) { return std::strncmp(a, b, kShortNameChars) == 0; }

}  // namespace

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
  bytes.clear();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  uint8_t chunk[4096];
  size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}

// Written beside the old file and moved over it, so a failure leaves the old file serving.
bool WriteFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes) {
  const std::string temp = path + ".new";
  if (standin::WriteWholeFile(temp.c_str(), bytes.data(), bytes.size()) != standin::WriteResult::kOk) return false;
#if defined(_WIN32)
  std::remove(path.c_str());  // rename does not replace on Windows
#endif
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

void AppendCheck(std::vector<uint8_t>& bytes) {
  uint8_t digest[32];
  Digest(bytes.data(), bytes.size(), digest);
  PutBytes(bytes, digest, 4);
}

bool CheckOk(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 4) return false;
  uint8_t digest[32];
  Digest(bytes.data(), bytes.size() - 4, digest);
  return std::memcmp(digest, bytes.data() + bytes.size() - 4, 4) == 0;
}

std::vector<uint8_t> EncodeKeyFile(Family family, const KeySlot& key) {
  std::vector<uint8_t> out;
  Head(out, kKeyMagic, static_cast<uint8_t>(family));
  PutText(out, key.uid, kUIDChars);
  PutText(out, key.shortName, kShortNameChars);
  Put32(out, key.mask);
  Put32(out, static_cast<uint32_t>(key.expiryDay));
  PutBytes(out, key.pub, 64);
  PutBytes(out, key.salt, 8);
  PutBytes(out, key.wrapped, 32);
  PutBytes(out, key.mac, 4);
  AppendCheck(out);
  return out;
}

int16_t DecodeKeyFile(Family family, const uint8_t* image, size_t size, KeySlot& key) {
  std::vector<uint8_t> bytes(image, image + size);
  if (size != kKeyFileSize || !HeadOk(image, kKeyMagic, static_cast<uint8_t>(family)) || !CheckOk(bytes)) {
    return kCtSignKeyDamaged;
  }
  gost::Wipe(&key, sizeof(key));
  const uint8_t* p = image + 8;
  GetText(p, kUIDChars, key.uid, sizeof(key.uid));
  GetText(p + 22, kShortNameChars, key.shortName, sizeof(key.shortName));
  key.mask = Get32(p + 30);
  key.expiryDay = static_cast<int32_t>(Get32(p + 34));
  std::memcpy(key.pub, p + 38, 64);
  std::memcpy(key.salt, p + 102, 8);
  std::memcpy(key.wrapped, p + 110, 32);
  std::memcpy(key.mac, p + 142, 4);
  key.flags = kKeyRead;
  return kCtOk;
}

std::vector<uint8_t> EncodePublicFile(const PublicEntry& sign) {
  std::vector<uint8_t> out;
  Head(out, kPublicMagic, static_cast<uint8_t>(Family::Notary));
  PutEntry(out, sign);
  AppendCheck(out);
  return out;
}

std::vector<uint8_t> EncodeFullPublicFile(const PublicEntry& sign, const PublicEntry& vesta) {
  std::vector<uint8_t> out;
  Head(out, kFullMagic, 'F');
  PutEntry(out, sign);
  PutEntry(out, vesta);
  AppendCheck(out);
  return out;
}

int16_t DecodePublicFile(const std::vector<uint8_t>& bytes, PublicEntry& sign) {
  if (bytes.size() != kPublicFileSize || !HeadOk(bytes.data(), kPublicMagic, 'N')) return kCtNoPublicKey;
  if (!CheckOk(bytes)) return kCtChecksum;
  GetEntry(bytes.data() + 8, sign);
  return kCtOk;
}

int16_t DecodeFullPublicFile(const std::vector<uint8_t>& bytes, PublicEntry& sign, PublicEntry& vesta) {
  if (bytes.size() != kFullPublicFileSize || !HeadOk(bytes.data(), kFullMagic, 'F')) return kCtNoPublicKey;
  if (!CheckOk(bytes)) return kCtChecksum;
  GetEntry(GetEntry(bytes.data() + 8, sign), vesta);
  return kCtOk;
}

int16_t ReadVault(Family family, const std::string& path, std::vector<PublicEntry>& entries) {
  entries.clear();
  std::vector<uint8_t> bytes;
  if (path.empty() || !ReadFile(path, bytes)) return kCtNoVault;
  if (bytes.size() < kVaultHead + 4 || !HeadOk(bytes.data(), kVaultMagic, static_cast<uint8_t>(family)) ||
      !CheckOk(bytes)) {
    return kCtChecksum;
  }
  const uint32_t count = Get32(bytes.data() + 8);
  if (count > kMaxVaultEntries || bytes.size() != kVaultHead + count * kEntrySize + 4) return kCtChecksum;
  entries.resize(count);
  const uint8_t* p = bytes.data() + kVaultHead;
  for (PublicEntry& e : entries) p = GetEntry(p, e);
  return kCtOk;
}

int16_t WriteVault(Family family, const std::string& path, const std::vector<PublicEntry>& entries) {
  std::vector<uint8_t> out;
  Head(out, kVaultMagic, static_cast<uint8_t>(family));
  Put32(out, static_cast<uint32_t>(entries.size()));
  for (const PublicEntry& e : entries) PutEntry(out, e);
  AppendCheck(out);
  return WriteFileReplacing(path, out) ? kCtOk : kCtCreateVault;
}

int16_t PutVaultEntry(Family family, const std::string& path, const PublicEntry& entry) {
  std::vector<PublicEntry> entries;
  int16_t code = ReadVault(family, path, entries);
  if (code != kCtOk) return code;
  for (auto it = entries.begin(); it != entries.end();) {
    const bool sameKey = SameUID(it->uid, entry.uid) && (it->mask & entry.mask) != 0;
    if (!sameKey && SameShortName(it->shortName, entry.shortName)) return kCtShortNameExists;
    it = sameKey ? entries.erase(it) : it + 1;
  }
  entries.push_back(entry);
  return WriteVault(family, path, entries);
}

int16_t RemoveVaultEntry(Family family, const std::string& path, const char* shortName) {
  std::vector<PublicEntry> entries;
  int16_t code = ReadVault(family, path, entries);
  if (code != kCtOk) return code;
  const size_t before = entries.size();
  for (auto it = entries.begin(); it != entries.end();) {
    it = SameShortName(it->shortName, shortName) ? entries.erase(it) : it + 1;
  }
  if (entries.size() == before) return kCtUnknownUser;
  return WriteVault(family, path, entries) == kCtOk ? kCtOk : kCtTempFile;
}

}  // namespace ct512
