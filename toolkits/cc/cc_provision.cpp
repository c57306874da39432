// Provisioning exports of the Crypto COM 2.2 stand-in for tests and the demo (authorities, users,
// random files, the signature length) and its control entry.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cc_internal.h"
#include "cc_standin.h"
#include "standin_files.h"

namespace cc {
namespace {

std::atomic<size_t> g_signatureLength{kSignatureSize};

std::string Native(std::string path) {
#if !defined(_WIN32)
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
#endif
  return path;
}

bool WriteText(const std::string& path, const std::string& text) {
  std::error_code ec;
  const std::filesystem::path native(Native(path));
  if (native.has_parent_path()) std::filesystem::create_directories(native.parent_path(), ec);
  return standin::WriteWholeFile(native.string().c_str(), text.data(), text.size()) == standin::WriteResult::kOk;
}

bool HexToSecret(const char* hex, uint8_t d[32]) {
  if (hex == nullptr || std::strlen(hex) != 64) return false;
  for (int i = 0; i < 32; ++i) {
    unsigned v = 0;
    if (std::sscanf(hex + 2 * i, "%2X", &v) != 1) return false;
    d[i] = static_cast<uint8_t>(v);
  }
  return true;
}

std::string AuthorityFile(const std::string& dir, int32_t number) {
  return WithDelimiter(dir) + std::to_string(number) + ".aut";
}

int32_t WriteAuthority(const std::string& dir, int32_t number, const uint8_t d[32]) {
  AuthorityKey key;
  key.number = number;
  if (gost::r3410_2001::PublicFromSecret(kCurve, d, key.key) != gost::kSignOk) return kAuthFormat;
  return WriteText(AuthorityFile(dir, number), AuthorityText(key)) ? kOk : kWriteError;
}

}  // namespace

size_t SignatureLength() { return g_signatureLength.load(); }
void SetSignatureLength(size_t len) { g_signatureLength.store(len); }

}  // namespace cc

using namespace cc;

extern "C" {

int CC_StandIn_MakeAuthority(const char* secretDir, int32_t number, char* authSecretHex) {
  if (secretDir == nullptr || authSecretHex == nullptr) return kBadCommand;
  uint8_t d[32];
  if (gost::r3410_2001::GenerateSecret(kCurve, d) != gost::kSignOk) return kInitRandom;
  int32_t status = WriteAuthority(secretDir, number, d);
  if (status == kOk) {
    for (int i = 0; i < 32; ++i) std::snprintf(authSecretHex + 2 * i, 3, "%02X", d[i]);
  }
  gost::Wipe(d, sizeof d);
  return status;
}

int CC_StandIn_MakeUser(const char* authSecretHex, int32_t authNumber, const char* uid, int32_t keyNumber,
                        int64_t notBefore, int64_t notAfter, const char* certDir, const char* secretDir,
                        const char* selfCrt) {
  uint8_t authority[32];
  if (!HexToSecret(authSecretHex, authority) || uid == nullptr || secretDir == nullptr) return kBadCommand;
  SecretKey secret;
  secret.number = keyNumber;
  secret.owner = uid;
  secret.notBefore = notBefore;
  secret.notAfter = notAfter;
  Certificate cert;
  cert.number = keyNumber;
  cert.authority = authNumber;
  cert.owner = uid;
  cert.issuer = "Authority " + std::to_string(authNumber);
  cert.notBefore = notBefore;
  cert.notAfter = notAfter;
  int32_t status = gost::r3410_2001::GenerateSecret(kCurve, secret.d) == gost::kSignOk &&
                           gost::r3410_2001::PublicFromSecret(kCurve, secret.d, cert.key) == gost::kSignOk
                       ? kOk
                       : kInitRandom;
  const std::string certText = status == kOk ? CertificateText(cert, authority) : std::string();
  if (status == kOk && certText.empty()) status = kCertFormat;
  if (status == kOk) status = WriteAuthority(secretDir, authNumber, authority);
  gost::Wipe(authority, sizeof authority);
  if (status != kOk) return status;
  const std::string secretFile = WithDelimiter(secretDir) + std::to_string(keyNumber) + ".sec";
  if (!WriteText(secretFile, SecretText(secret))) return kWriteError;
  if (selfCrt != nullptr && selfCrt[0] != '\0' && !WriteText(selfCrt, certText)) return kWriteError;
  if (certDir != nullptr && certDir[0] != '\0') {
    const std::string placed = CertPathOf(uid, certDir);
    if (placed.empty() || !WriteText(placed, certText)) return kWriteError;
  }
  return kOk;
}

int CC_StandIn_MakeRandomFile(const char* path, int32_t size) {
  if (path == nullptr || size < 0 || size > (1 << 20)) return kBadCommand;
  std::string image(static_cast<size_t>(size), '\0');
  gost::SystemRandom(reinterpret_cast<uint8_t*>(&image[0]), image.size());
  return WriteText(path, image) ? kOk : kWriteError;
}

int CC_StandIn_SetSignatureLength(int32_t len) {
  if (len == 0) len = static_cast<int32_t>(kSignatureSize);
  if (len < static_cast<int32_t>(kSignatureSize) || len > 4096) return kBadCommand;
  SetSignatureLength(static_cast<size_t>(len));
  return kOk;
}

int StandIn_Control(const char* command) { return standin::Control(command); }

}  // extern "C"
