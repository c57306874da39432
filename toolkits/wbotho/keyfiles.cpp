// Identifiers, key-set files on the devices, public-key files, and the provisioning entry that
// writes both for tests and the demo.
#include <cstring>
#include <ctime>
#include <filesystem>

#include "standin_files.h"
#include "wbotho_internal.h"

namespace wbotho {

namespace {

constexpr size_t kPublicCore = 194;  // tag .. check
constexpr size_t kSignatureAt = 194;

bool Digits(const std::string& s, size_t n) {
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
  }
  return true;
}

void PutText(uint8_t* p, const std::string& s) { std::memcpy(p, s.data(), s.size()); }

bool AllZero(const uint8_t* p, size_t n) {
  uint8_t acc = 0;
  for (size_t i = 0; i < n; ++i) acc |= p[i];
  return acc == 0;
}

// The digest that a key set's signature key signs: R 34.11-94 (CryptoPro) of the bytes.
int SignBytes(const uint8_t d[32], const uint8_t* data, size_t len, uint8_t signature[64]) {
  uint8_t digest[32];
  Hash(data, len, digest);
  return gost::r3410_2001::Sign(kCurve, d, digest, signature);
}

bool ValidPoint(const gost::r3410_2001::Point& q) {
  uint8_t one[32] = {1};
  gost::r3410_2001::Point same;
  return gost::r3410_2001::Multiply(kCurve, one, q, same) == gost::kSignOk;
}

}  // namespace

KeySet::~KeySet() {
  gost::Wipe(dE, sizeof dE);
  gost::Wipe(dS, sizeof dS);
}

int KeySet::KeyNumber() const { return KeyNumberOf(encId); }

bool IsEncId(const std::string& id) { return id.size() == kEncIdChars && Digits(id, 4); }
bool IsSignId(const std::string& id) { return id.size() == kSignIdChars && Digits(id, 4); }

int KeyNumberOf(const std::string& id) {
  if (!Digits(id, 4)) return -1;
  return std::stoi(id.substr(0, 4));
}

std::string Text(const uint8_t* p, size_t n) {
  size_t len = 0;
  while (len < n && p[len] != 0) ++len;
  return std::string(reinterpret_cast<const char*>(p), len);
}

void Hash(const uint8_t* data, size_t len, uint8_t out[32]) {
  gost::R3411Hash hash;
  hash.InitCryptoPro();
  hash.Update(data, len);
  hash.Final(out);
}

bool SameBytes(const uint8_t* a, const uint8_t* b, size_t n) {
  uint8_t diff = 0;
  for (size_t i = 0; i < n; ++i) diff |= static_cast<uint8_t>(a[i] ^ b[i]);
  return diff == 0;
}

const uint8_t* Sbox() { return gost::kSboxR3411TestParams; }

void PutLe(uint8_t* p, uint64_t v, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t GetLe(const uint8_t* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

// "VKS1" | encId 10 | signId 12 | dE 32 | dS 32 | check 32.
bool ParseKeySet(const Bytes& file, KeySet& set) {
  if (file.size() != kKeySetFileSize || std::memcmp(file.data(), "VKS1", 4) != 0) return false;
  uint8_t check[32];
  Hash(file.data(), 90, check);
  if (!SameBytes(check, file.data() + 90, 32)) return false;
  set.encId.assign(reinterpret_cast<const char*>(file.data() + 4), kEncIdChars);
  set.signId.assign(reinterpret_cast<const char*>(file.data() + 14), kSignIdChars);
  std::memcpy(set.dE, file.data() + 26, 32);
  std::memcpy(set.dS, file.data() + 58, 32);
  return IsEncId(set.encId) && IsSignId(set.signId);
}

size_t PublicImageSize(const uint8_t* image) {
  const bool v4 = std::memcmp(image, "VPK4", 4) == 0, v5 = std::memcmp(image, "VPK5", 4) == 0;
  if (v4 && (kGeneration == 4 || kGeneration >= 6)) return kPublicFileSize4;
  if (v5 && kGeneration >= 5) return kPublicFileSize5;
  return 0;
}

// Tag | encId 10 | signId 12 | created 8 | Q_E (X, Y) 64 | Q_S 64 | check 32 [| self-signature 64]
// and zeros up to the file size.
int ParsePublicImage(const uint8_t* image, PublicKeys& keys) {
  const size_t size = PublicImageSize(image);
  if (size == 0) return kDamagedPublicKey;
  const size_t used = size == kPublicFileSize5 ? kPublicCore + 64 : kPublicCore;
  uint8_t check[32];
  Hash(image, 162, check);
  if (!SameBytes(check, image + 162, 32) || !AllZero(image + used, size - used)) return kDamagedPublicKey;
  keys.encId.assign(reinterpret_cast<const char*>(image + 4), kEncIdChars);
  keys.signId.assign(reinterpret_cast<const char*>(image + 14), kSignIdChars);
  std::memcpy(keys.qE.x, image + 34, 32);
  std::memcpy(keys.qE.y, image + 66, 32);
  std::memcpy(keys.qS.x, image + 98, 32);
  std::memcpy(keys.qS.y, image + 130, 32);
  if (!IsEncId(keys.encId) || !IsSignId(keys.signId) || !ValidPoint(keys.qE) || !ValidPoint(keys.qS)) {
    return kDamagedPublicKey;
  }
  if (used > kPublicCore) {
    uint8_t digest[32];
    Hash(image, kPublicCore, digest);
    if (gost::r3410_2001::Verify(kCurve, keys.qS, digest, image + kSignatureAt) != gost::kSignOk) {
      return kDamagedPublicKey;
    }
  }
  return kOk;
}

int MakePublicImage(const KeySet& set, int format, Bytes& image) {
  image.assign(format == 4 ? kPublicFileSize4 : kPublicFileSize5, 0);
  std::memcpy(image.data(), format == 4 ? "VPK4" : "VPK5", 4);
  PutText(image.data() + 4, set.encId);
  PutText(image.data() + 14, set.signId);
  PutLe(image.data() + 26, static_cast<uint64_t>(std::time(nullptr)), 8);
  gost::r3410_2001::Point qE, qS;
  if (gost::r3410_2001::PublicFromSecret(kCurve, set.dE, qE) != gost::kSignOk ||
      gost::r3410_2001::PublicFromSecret(kCurve, set.dS, qS) != gost::kSignOk) {
    return kCryptoFailure;
  }
  std::memcpy(image.data() + 34, qE.x, 32);
  std::memcpy(image.data() + 66, qE.y, 32);
  std::memcpy(image.data() + 98, qS.x, 32);
  std::memcpy(image.data() + 130, qS.y, 32);
  Hash(image.data(), 162, image.data() + 162);
  if (format != 4 && SignBytes(set.dS, image.data(), kPublicCore, image.data() + kSignatureAt) != gost::kSignOk) {
    return kCryptoFailure;
  }
  return kOk;
}

}  // namespace wbotho

using namespace wbotho;

// A fresh key set on the device directory ("<encId>.vks") and its public-key file (format 4: 240
// bytes, 5: 304 bytes, 0: this build's own). Answers 0, 7 for bad arguments, 23 when a file
// cannot be written.
STANDIN_EXPORT int VOW_StandIn_MakeKeySet(const char* deviceDir, const char* encId, const char* signId,
                                          const char* publicFile, int format) {
  if (deviceDir == nullptr || encId == nullptr || signId == nullptr) return kBadParameter;
  if (format == 0) format = kGeneration == 4 ? 4 : 5;
  KeySet set;
  set.encId = encId;
  set.signId = signId;
  if (!IsEncId(set.encId) || !IsSignId(set.signId) || set.encId.compare(0, 4, set.signId, 0, 4) != 0 ||
      (format != 4 && format != 5)) {
    return kBadParameter;
  }
  if (gost::r3410_2001::GenerateSecret(kCurve, set.dE) != gost::kSignOk ||
      gost::r3410_2001::GenerateSecret(kCurve, set.dS) != gost::kSignOk) {
    return kCryptoFailure;
  }
  uint8_t file[kKeySetFileSize] = {};
  std::memcpy(file, "VKS1", 4);
  PutText(file + 4, set.encId);
  PutText(file + 14, set.signId);
  std::memcpy(file + 26, set.dE, 32);
  std::memcpy(file + 58, set.dS, 32);
  Hash(file, 90, file + 90);
  const std::string path = JoinPath(deviceDir, set.encId + ".vks");
  const bool written = standin::WriteWholeFile(path.c_str(), file, sizeof file) == standin::WriteResult::kOk;
  gost::Wipe(file, sizeof file);
  if (!written) return 23;
  if (publicFile == nullptr) return kOk;
  Bytes image;
  if (int code = MakePublicImage(set, format, image)) return code;
  return standin::WriteWholeFile(publicFile, image.data(), image.size()) == standin::WriteResult::kOk ? kOk : 23;
}
