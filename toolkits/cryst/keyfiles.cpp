// The owner's secret-key files, the public-key files, and the provisioning exports that write
// them for tests and the demo.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <shared_mutex>

#include "cryst_internal.h"
#include "frame/publish.h"
#include "platform/platform.h"
#include "standin.h"

namespace cryst {

namespace fs = std::filesystem;

namespace {

constexpr size_t kPublicPartSize = 161;  // magic .. exchange key
constexpr size_t kPublicFileSize = kPublicPartSize + 64;
constexpr size_t kSecretFileSize = 249;
constexpr size_t kSaltAt = 161, kIvAt = 169, kWrappedAt = 177, kMacAt = 241, kChecksumAt = 245;

void Digest(const uint8_t* data, size_t len, uint8_t out[32]) {
  gost::R3411Hash h;
  h.InitCryptoPro();
  h.Update(data, len);
  h.Final(out);
}

// magic | generation | UID (17) | key id | sign X, Y | exchange X, Y
void EncodePublicPart(const PublicKey& key, const char magic[4], uint8_t* out) {
  std::memcpy(out, magic, 4);
  WriteLE32(out + 4, static_cast<uint32_t>(key.Generation));
  std::memset(out + 8, 0, 17);
  std::memcpy(out + 8, key.UID.data(), key.UID.size());
  std::memcpy(out + 25, key.KeyId, 8);
  std::memcpy(out + 33, key.Sign.x, 32);
  std::memcpy(out + 65, key.Sign.y, 32);
  std::memcpy(out + 97, key.Exchange.x, 32);
  std::memcpy(out + 129, key.Exchange.y, 32);
}

bool DecodePublicPart(const uint8_t* in, const char magic[4], PublicKey& key) {
  if (std::memcmp(in, magic, 4) != 0 || in[8 + kMaxUIDChars] != 0 || in[8] == 0) return false;
  key.Generation = static_cast<int32_t>(ReadLE32(in + 4));
  key.UID.assign(reinterpret_cast<const char*>(in + 8), strnlen(reinterpret_cast<const char*>(in + 8), 17));
  std::memcpy(key.Sign.x, in + 33, 32);
  std::memcpy(key.Sign.y, in + 65, 32);
  std::memcpy(key.Exchange.x, in + 97, 32);
  std::memcpy(key.Exchange.y, in + 129, 32);
  // The id follows from the keys: a damaged key no longer matches its id.
  PublicKey check = key;
  KeyIdOf(check);
  std::memcpy(key.KeyId, in + 25, 8);
  return key.Generation >= 1 && std::memcmp(check.KeyId, key.KeyId, 8) == 0;
}

// KEK of the secret halves: GOST R 34.11-94 of salt || password.
void PasswordKey(const uint8_t salt[8], const std::string& password, uint8_t kek[32]) {
  gost::R3411Hash h;
  h.InitCryptoPro();
  h.Update(salt, 8);
  h.Update(reinterpret_cast<const uint8_t*>(password.data()), password.size());
  h.Final(kek);
}

void SecretsMac(const gost::Gost28147& cipher, const uint8_t* secrets, uint8_t mac[4]) {
  gost::MacMode m;
  m.Init(&cipher);
  m.Update(secrets, 64);
  uint8_t full[8];
  m.Final(full);
  std::memcpy(mac, full, 4);
}

std::string SecretFileName(int32_t generation) {
  char name[32];
  std::snprintf(name, sizeof(name), "exc%03d.key", static_cast<int>(generation));
  return name;
}

Bytes EncodeSecretFile(const SecretKey& key, const std::string& password) {
  Bytes file(kSecretFileSize, 0);
  EncodePublicPart(key.Public, "EXK1", file.data());
  gost::SystemRandom(file.data() + kSaltAt, 16);  // salt and IV
  uint8_t kek[32], secrets[64];
  PasswordKey(file.data() + kSaltAt, password, kek);
  std::memcpy(secrets, key.SignD, 32);
  std::memcpy(secrets + 32, key.ExchangeD, 32);
  gost::Gost28147 cipher;
  cipher.SetKey(kek, gost::kSboxR3411TestParams);
  SecretsMac(cipher, secrets, file.data() + kMacAt);
  gost::GammaFeedbackMode cfb;
  cfb.Init(&cipher, file.data() + kIvAt);
  cfb.Encrypt(secrets, file.data() + kWrappedAt, 64);
  uint8_t sum[32];
  Digest(file.data(), kChecksumAt, sum);
  std::memcpy(file.data() + kChecksumAt, sum, 4);
  gost::Wipe(kek, sizeof(kek));
  gost::Wipe(secrets, sizeof(secrets));
  return file;
}

// Every command reads the key files again, and checking one costs GOST R 34.11-94 digests (its
// checksum, its key id). What the same bytes decode to never changes, so the keys of files that
// decoded before are taken from here; a bounded number of them.
class DecodedFiles {
 public:
  template <typename Decode>
  bool Get(const Bytes& file, PublicKey& key, Decode decode) {
    {
      std::shared_lock<std::shared_mutex> hold(lock_);
      const auto found = known_.find(file);
      if (found != known_.end()) {
        key = found->second;
        return true;
      }
    }
    if (!decode(file, key)) return false;
    std::unique_lock<std::shared_mutex> hold(lock_);
    if (known_.size() >= kMaxKept) known_.clear();
    known_.emplace(file, key);
    return true;
  }

 private:
  static constexpr size_t kMaxKept = 256;
  std::shared_mutex lock_;
  std::map<Bytes, PublicKey> known_;
};

DecodedFiles& SecretHeaders() {
  static standin::Immortal<DecodedFiles> decoded;
  return decoded.get();
}

DecodedFiles& PublicFiles() {
  static standin::Immortal<DecodedFiles> decoded;
  return decoded.get();
}

// The public part of a secret-key file, its checksum checked.
bool DecodeSecretHeader(const Bytes& file, PublicKey& key) {
  if (file.size() != kSecretFileSize) return false;
  return SecretHeaders().Get(file, key, [](const Bytes& f, PublicKey& k) {
    uint8_t sum[32];
    Digest(f.data(), kChecksumAt, sum);
    return std::memcmp(sum, f.data() + kChecksumAt, 4) == 0 && DecodePublicPart(f.data(), "EXK1", k);
  });
}

int32_t UnwrapSecrets(const Bytes& file, const std::string& password, SecretKey& key) {
  uint8_t kek[32], secrets[64], mac[4];
  PasswordKey(file.data() + kSaltAt, password, kek);
  gost::Gost28147 cipher;
  cipher.SetKey(kek, gost::kSboxR3411TestParams);
  gost::GammaFeedbackMode cfb;
  cfb.Init(&cipher, file.data() + kIvAt);
  cfb.Decrypt(file.data() + kWrappedAt, secrets, 64);
  SecretsMac(cipher, secrets, mac);
  // A wrong password and a damaged wrapping look alike: both are answered as a password refused.
  const bool good = std::memcmp(mac, file.data() + kMacAt, 4) == 0;
  if (good) {
    std::memcpy(key.SignD, secrets, 32);
    std::memcpy(key.ExchangeD, secrets + 32, 32);
  }
  gost::Wipe(kek, sizeof(kek));
  gost::Wipe(secrets, sizeof(secrets));
  return good ? kOk : kPasswordNeeded;
}

// The owner's key files of a directory: generation and path, newest last.
std::vector<std::pair<int32_t, std::string>> SecretFiles(const std::string& dir) {
  std::vector<std::pair<int32_t, std::string>> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(fs::path(dir), error)) {
    const std::string name = entry.path().filename().string();
    int generation = 0;
    char tail = 0;
    if (name.size() == 10 && std::sscanf(name.c_str(), "exc%3d.ke%c", &generation, &tail) == 2 && tail == 'y' &&
        generation >= 1) {
      files.emplace_back(generation, entry.path().string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

std::string JoinPath(const std::string& Dir, const std::string& Name) {
  if (Dir.empty() || Dir.back() == '/' || Dir.back() == '\\') return Dir + Name;
  return Dir + "/" + Name;
}

bool WriteReplacing(const std::string& Path, const Bytes& Data) {
  // Written beside the target and moved over it: a failed write leaves the old file serving.
  return zk::PublishFile(Path, Data.data(), Data.size(), {}, true);
}

bool ReadFile(const std::string& Path, Bytes& Data, size_t MaxSize) {
  // Opened so that another thread or process may still rename or remove the file meanwhile, as
  // Windows otherwise refuses while it is open.
  return zk::platform::ReadWholeFile(Path, Data, MaxSize);
}

void KeyIdOf(PublicKey& Key) {
  uint8_t keys[128], digest[32];
  std::memcpy(keys, Key.Sign.x, 32);
  std::memcpy(keys + 32, Key.Sign.y, 32);
  std::memcpy(keys + 64, Key.Exchange.x, 32);
  std::memcpy(keys + 96, Key.Exchange.y, 32);
  Digest(keys, sizeof(keys), digest);
  std::memcpy(Key.KeyId, digest, 8);
  if (Key.KeyId[0] == 0) Key.KeyId[0] = 1;  // a first byte of zero means "no key"
}

Bytes EncodePublicFile(const PublicKey& Key, const uint8_t SignD[32]) {
  Bytes file(kPublicFileSize, 0);
  EncodePublicPart(Key, "EXP1", file.data());
  uint8_t digest[32];
  Digest(file.data(), kPublicPartSize, digest);
  gost::r3410_2001::Sign(kCurve, SignD, digest, file.data() + kPublicPartSize);
  return file;
}

int32_t DecodePublicFile(const Bytes& File, PublicKey& Key, bool CheckSignature) {
  const auto decode = [](const Bytes& f, PublicKey& k) { return DecodePublicPart(f.data(), "EXP1", k); };
  if (File.size() != kPublicFileSize || !PublicFiles().Get(File, Key, decode)) return kDamaged;
  if (!CheckSignature) return kOk;
  uint8_t digest[32];
  Digest(File.data(), kPublicPartSize, digest);
  return gost::r3410_2001::Verify(kCurve, Key.Sign, digest, File.data() + kPublicPartSize) == gost::kSignOk
             ? kOk
             : kBadSignature;
}

int32_t ReadOwnerKeys(const std::string& Dir, std::vector<PublicKey>& Keys) {
  Keys.clear();
  for (const auto& [generation, path] : SecretFiles(Dir)) {
    Bytes file;
    PublicKey key;
    if (!ReadFile(path, file, kSecretFileSize) || !DecodeSecretHeader(file, key) || key.Generation != generation) {
      return kKeyStore;
    }
    Keys.push_back(key);
  }
  return Keys.empty() ? kKeyStore : kOk;
}

int32_t ReadOwnerSecret(const std::string& Dir, int32_t Generation, const std::string& Password, SecretKey& Key) {
  const auto files = SecretFiles(Dir);
  if (files.empty()) return kKeyStore;
  const int32_t wanted = Generation == 0 ? files.back().first : Generation;
  for (const auto& [generation, path] : files) {
    if (generation != wanted) continue;
    Bytes file;
    if (!ReadFile(path, file, kSecretFileSize) || !DecodeSecretHeader(file, Key.Public)) return kKeyStore;
    const int32_t code = UnwrapSecrets(file, Password, Key);
    gost::Wipe(file.data(), file.size());
    return code;
  }
  return kUnknownUser;
}

// A new generation of the owner's keys: the newest one plus 1, under the same UID.
int32_t MakeGeneration(const std::string& Dir, const std::string& UID, const std::string& Password,
                       const std::string& PublicFile) {
  if (UID.empty() || UID.size() > static_cast<size_t>(kMaxUIDChars)) return kBadParameter;
  std::vector<PublicKey> existing;
  ReadOwnerKeys(Dir, existing);
  if (!existing.empty() && existing.back().UID != UID) return kBadParameter;
  SecretKey key;
  key.Public.Generation = existing.empty() ? 1 : existing.back().Generation + 1;
  key.Public.UID = UID;
  if (gost::r3410_2001::GenerateSecret(kCurve, key.SignD) != gost::kSignOk ||
      gost::r3410_2001::GenerateSecret(kCurve, key.ExchangeD) != gost::kSignOk ||
      gost::r3410_2001::PublicFromSecret(kCurve, key.SignD, key.Public.Sign) != gost::kSignOk ||
      gost::r3410_2001::PublicFromSecret(kCurve, key.ExchangeD, key.Public.Exchange) != gost::kSignOk) {
    return kKeyStore;
  }
  KeyIdOf(key.Public);
  const Bytes secret = EncodeSecretFile(key, Password);
  const Bytes pub = EncodePublicFile(key.Public, key.SignD);
  const std::string secretPath = JoinPath(Dir, SecretFileName(key.Public.Generation));
  return WriteReplacing(secretPath, secret) && WriteReplacing(PublicFile, pub) ? kOk : kFileError;
}

}  // namespace cryst

using namespace cryst;

// A new key generation in secretDir (the first one for a new user), and its public-key file for
// correspondents at publicFile. Renewing the keys is a second call with the same UID.
STANDIN_EXPORT int EXC_StandIn_MakeUser(const char* secretDir, const char* uid, const char* password,
                                        const char* publicFile) {
  if (secretDir == nullptr || uid == nullptr || password == nullptr || publicFile == nullptr) return kBadParameter;
  std::error_code ignored;
  fs::create_directories(fs::path(secretDir), ignored);
  return MakeGeneration(secretDir, uid, password, publicFile);
}

// The public keys of a generation (0: the newest) of the owner in secretDir, X || Y little-endian.
STANDIN_EXPORT int EXC_StandIn_PublicKey(const char* secretDir, int generation, uint8_t* sign64, uint8_t* exchange64) {
  if (secretDir == nullptr || sign64 == nullptr || exchange64 == nullptr) return kBadParameter;
  std::vector<PublicKey> keys;
  const int32_t code = ReadOwnerKeys(secretDir, keys);
  if (code != kOk) return code;
  for (const PublicKey& key : keys) {
    if (generation != 0 ? key.Generation != generation : &key != &keys.back()) continue;
    std::memcpy(sign64, key.Sign.x, 32);
    std::memcpy(sign64 + 32, key.Sign.y, 32);
    std::memcpy(exchange64, key.Exchange.x, 32);
    std::memcpy(exchange64 + 32, key.Exchange.y, 32);
    return kOk;
  }
  return kUnknownUser;
}
