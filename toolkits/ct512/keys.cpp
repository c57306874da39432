// Private keys: wrapping under the password, the fill that unwraps them, key files and the
// touch-memory images attached per port.
#include <cstring>
#include <ctime>
#include <mutex>

#include "ct512_internal.h"
#include "standin.h"

namespace ct512 {
namespace {

const char kImageMagic[4] = {'C', 'T', '5', 'T'};
constexpr size_t kImageSize = 8 + 2 * kKeyFileSize;
constexpr int32_t kWarnDays = 14;  // -27 this many days before a key expires
constexpr size_t kMaxPassword = 255;

struct Ports {
  std::mutex lock;
  std::string image[3];  // ports 1 and 2; empty: nothing attached
};
Ports& TouchMemoryPorts() {
  static standin::Immortal<Ports> ports;
  return ports.get();
}
struct ReleaseAtUnload {
  ~ReleaseAtUnload() {
    std::lock_guard<std::mutex> hold(TouchMemoryPorts().lock);
    for (std::string& s : TouchMemoryPorts().image) std::string().swap(s);
  }
} releaseAtUnload;

// The key that wraps the private key: the digest of the salt and the password.
void PasswordKey(const uint8_t salt[8], const char* password, gost::Gost28147& cipher) {
  std::vector<uint8_t> input(salt, salt + 8);
  input.insert(input.end(), password, password + strnlen(password, kMaxPassword));
  uint8_t kek[32];
  Digest(input.data(), input.size(), kek);
  gost::Wipe(input.data(), input.size());
  cipher.SetKey(kek, gost::kSboxR3411TestParams);
  gost::Wipe(kek, sizeof(kek));
}

void Mac(const gost::Gost28147& cipher, const uint8_t secret[32], uint8_t out[4]) {
  gost::MacMode mac;
  mac.Init(&cipher);
  mac.Update(secret, 32);
  uint8_t full[8];
  mac.Final(full);
  std::memcpy(out, full, 4);
}

}  // namespace

void WrapSecret(KeySlot& key, const uint8_t secret[32], const char* password) {
  gost::SystemRandom(key.salt, sizeof(key.salt));
  gost::Gost28147 cipher;
  PasswordKey(key.salt, password, cipher);
  for (int i = 0; i < 32; i += 8) cipher.EncryptBlock(secret + i, key.wrapped + i);
  Mac(cipher, secret, key.mac);
}

int16_t UnwrapSecret(KeySlot& key, const char* password) {
  gost::Gost28147 cipher;
  PasswordKey(key.salt, password, cipher);
  uint8_t secret[32], mac[4];
  for (int i = 0; i < 32; i += 8) cipher.DecryptBlock(key.wrapped + i, secret + i);
  Mac(cipher, secret, mac);
  const bool right = std::memcmp(mac, key.mac, 4) == 0;
  if (right) std::memcpy(key.secret, secret, 32);
  gost::Wipe(secret, sizeof(secret));
  return right ? kCtOk : kCtWrongPassword;
}

int32_t Today() { return static_cast<int32_t>(std::time(nullptr) / 86400); }

int16_t FillKey(KeySlot& key, const char* password) {
  if ((key.flags & kKeyRead) == 0) return kCtSignKeyDamaged;
  if (key.expiryDay != 0 && Today() > key.expiryDay) return kCtExpired;
  if (password != nullptr) {
    const int16_t code = UnwrapSecret(key, password);
    if (code != kCtOk) return code;
    key.flags |= kKeyFilled;
  }
  return key.expiryDay != 0 && Today() + kWarnDays > key.expiryDay ? kCtExpiresSoon : kCtOk;
}

int16_t LoadKeyFile(Family family, const char* file, KeySlot& key) {
  std::vector<uint8_t> bytes;
  if (file == nullptr || !ReadFile(file, bytes)) return -1;  // file not found
  return DecodeKeyFile(family, bytes.data(), bytes.size(), key);
}

bool AttachTouchMemory(int32_t port, const char* imagePath) {
  if (port < 1 || port > 2) return false;
  std::lock_guard<std::mutex> hold(TouchMemoryPorts().lock);
  TouchMemoryPorts().image[port] = imagePath != nullptr ? imagePath : "";
  return true;
}

int16_t LoadTouchMemory(Family family, int32_t port, KeySlot& key) {
  if (port < 1 || port > 2) return kCtBadPort;
  // The shared device verbs of the control entry detach a port's key as well ("detach TM:COM1").
  if (!standin::DeviceAttached(("TM:COM" + std::to_string(port)).c_str())) return kCtAttachTM;
  std::string path;
  {
    std::lock_guard<std::mutex> hold(TouchMemoryPorts().lock);
    path = TouchMemoryPorts().image[port];
  }
  std::vector<uint8_t> bytes;
  if (path.empty() || !ReadFile(path, bytes)) return kCtAttachTM;
  if (bytes.size() != kImageSize || std::memcmp(bytes.data(), kImageMagic, 4) != 0) return -31;  // bad information
  const size_t at = family == Family::Notary ? 8 : 8 + kKeyFileSize;
  const int16_t code = DecodeKeyFile(family, bytes.data() + at, kKeyFileSize, key);
  return code == kCtOk ? kCtOk : -31;
}

std::vector<uint8_t> EncodeTouchMemory(const std::vector<uint8_t>& signKey, const std::vector<uint8_t>& vestaKey) {
  const uint8_t head[8] = {'C', 'T', '5', 'T', 1, 0, 0, 0};
  std::vector<uint8_t> out;
  out.reserve(kImageSize);
  out.insert(out.end(), head, head + sizeof(head));
  out.insert(out.end(), signKey.begin(), signKey.end());
  out.insert(out.end(), vestaKey.begin(), vestaKey.end());
  return out;
}

bool SameUID(const char* a, const char* b) { return std::strncmp(a, b, kUIDChars) == 0; }

void CopyUID(char* dst, size_t dstSize, const char* src) {
  std::memset(dst, 0, dstSize);
  std::memcpy(dst, src, std::min(strnlen(src, kUIDChars), dstSize - 1));
}

int16_t Scripted(const char* function, int16_t& after, std::initializer_list<int16_t> answeredAfterWork) {
  after = 0;
  const int code = standin::Hook(function);
  for (int16_t late : answeredAfterWork) {
    if (code == late) {
      after = late;
      return 0;
    }
  }
  return static_cast<int16_t>(code);
}

}  // namespace ct512
