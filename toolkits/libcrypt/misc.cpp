// The generator, the self-tests, and the entries for tests and the demo: the control entry and
// the writer of the engine's key files.
#include <cstdio>
#include <cstring>
#include <string>

#include "context.h"
#include "gost.h"
#include "keys.h"
#include "standin.h"
#include "standin_files.h"

namespace libcrypt {
namespace {

bool HexTo(const char* hex, uint8_t* out, size_t len) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (std::strlen(hex) != 2 * len) return false;
  for (size_t i = 0; i < len; ++i) {
    const int hi = nibble(hex[2 * i]), lo = nibble(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  return true;
}

// A big-endian hex number as a little-endian 32-byte string.
void HexToLE32(const char* hex, uint8_t out[32]) {
  uint8_t be[32];
  HexTo(hex, be, 32);
  for (int i = 0; i < 32; ++i) out[i] = be[31 - i];
}

// Examples of RFC 5831 with the test parameter set.
bool HashExamplesHold() {
  static const struct {
    const char* message;
    const char* digest;
  } kExamples[] = {
      {"This is message, length=32 bytes",
       "b1c466d37519b82e8319819ff32595e047a28cb6f83eff1c6916a815a637fffa"},
      {"Suppose the original message has length = 50 bytes",
       "471aba57a60a770d3a76130635c1fbea4ef14de51f78b4ae57dd893b62f55208"},
  };
  for (const auto& example : kExamples) {
    uint8_t expected[32], digest[32];
    HexTo(example.digest, expected, 32);
    gost::R3411Hash hash;
    if (!hash.Init(gost::kSboxR3411TestParams)) return false;
    hash.Update(reinterpret_cast<const uint8_t*>(example.message), std::strlen(example.message));
    hash.Final(digest);
    if (std::memcmp(digest, expected, 32) != 0) return false;
  }
  return true;
}

// Each mode undoes itself with the same key and vector, does change the data, and the MAC
// notices one flipped bit.
bool CipherRoundTripsHold() {
  uint8_t key[32], iv[8], plain[40], enc[40], dec[40];
  for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(0x11 * i + 3);
  for (int i = 0; i < 8; ++i) iv[i] = static_cast<uint8_t>(0xA0 + i);
  for (int i = 0; i < 40; ++i) plain[i] = static_cast<uint8_t>(i * 7);
  gost::Gost28147 cipher;
  cipher.SetKey(key, gost::kSboxR3411TestParams);
  bool ok = true;
  for (int i = 0; i < 40; i += 8) {
    cipher.EncryptBlock(plain + i, enc + i);
    cipher.DecryptBlock(enc + i, dec + i);
  }
  ok = ok && std::memcmp(enc, plain, 40) != 0 && std::memcmp(dec, plain, 40) == 0;
  gost::GammaMode gamma;
  gamma.Init(&cipher, iv);
  gamma.Crypt(plain, enc, 40);
  gamma.Init(&cipher, iv);
  gamma.Crypt(enc, dec, 40);
  ok = ok && std::memcmp(enc, plain, 40) != 0 && std::memcmp(dec, plain, 40) == 0;
  gost::GammaFeedbackMode feedback;
  feedback.Init(&cipher, iv);
  feedback.Encrypt(plain, enc, 40);
  feedback.Init(&cipher, iv);
  feedback.Decrypt(enc, dec, 40);
  ok = ok && std::memcmp(enc, plain, 40) != 0 && std::memcmp(dec, plain, 40) == 0;
  uint8_t mac1[8], mac2[8];
  gost::MacMode mac;
  mac.Init(&cipher);
  mac.Update(plain, 40);
  mac.Final(mac1);
  plain[17] ^= 0x04;
  mac.Init(&cipher);
  mac.Update(plain, 40);
  mac.Final(mac2);
  ok = ok && std::memcmp(mac1, mac2, 8) != 0;
  gamma.Wipe();
  feedback.Wipe();
  mac.Wipe();
  return ok;
}

// The example of RFC 5832 on its test curve, with the nonce the example uses.
bool Example2001Holds() {
  using namespace gost::r3410_2001;
  uint8_t d[32], e[32], k[32], r[32], s[32], x[32], y[32];
  HexToLE32("7A929ADE789BB9BE10ED359DD39A72C11B60961F49397EEE1D19CE9891EC3B28", d);
  HexToLE32("2DFBC1B372D89A1188C09C52E0EEC61FCE52032AB1022E8E67ECE6672B043EE5", e);
  HexToLE32("77105C9B20BCD3122823C8CF6FCC7B956DE33814E95B7FE64FED924594DCEAB3", k);
  HexToLE32("41AA28D2F1AB148280CD9ED56FEDA41974053554A42767B83AD043FD39DC0493", r);
  HexToLE32("01456C64BA4642A1653C235A98A60249BCD6D3F746B631DF928014F6C5BF9C40", s);
  HexToLE32("7F2B49E270DB6D90D8595BEC458B50C58585BA1D4E9B788F6689DBD8E56FD80B", x);
  HexToLE32("26F1B489D6701DD185C8413A977B3CBBAF64D1C593D26627DFFB101A87FF77DA", y);
  Point q;
  if (PublicFromSecret(Curve::Test, d, q) != gost::kSignOk) return false;
  if (std::memcmp(q.x, x, 32) != 0 || std::memcmp(q.y, y, 32) != 0) return false;
  uint8_t signature[64];
  if (SignWithNonce(Curve::Test, d, e, k, signature) != gost::kSignOk) return false;
  if (std::memcmp(signature, r, 32) != 0 || std::memcmp(signature + 32, s, 32) != 0) return false;
  if (Verify(Curve::Test, q, e, signature) != gost::kSignOk) return false;
  e[5] ^= 1;
  return Verify(Curve::Test, q, e, signature) == gost::kSignBad;
}

// Fresh keys of both schemes sign and verify; a changed digest is refused; two parties agree.
bool RoundTripsHold() {
  uint8_t digest[32], signature[64];
  gost::SystemRandom(digest, sizeof digest);
  bool ok = true;

  uint8_t x94[32], y94[128];
  ok = ok && gost::r3410_94::GenerateSecret(x94) == gost::kSignOk &&
       gost::r3410_94::PublicFromSecret(x94, y94) == gost::kSignOk &&
       gost::r3410_94::Sign(x94, digest, signature) == gost::kSignOk &&
       gost::r3410_94::Verify(y94, digest, signature) == gost::kSignOk;
  digest[0] ^= 1;
  ok = ok && gost::r3410_94::Verify(y94, digest, signature) == gost::kSignBad;
  gost::Wipe(x94, sizeof x94);

  uint8_t d[32];
  gost::r3410_2001::Point q;
  ok = ok && gost::r3410_2001::GenerateSecret(kCurve2001, d) == gost::kSignOk &&
       gost::r3410_2001::PublicFromSecret(kCurve2001, d, q) == gost::kSignOk &&
       gost::r3410_2001::Sign(kCurve2001, d, digest, signature) == gost::kSignOk &&
       gost::r3410_2001::Verify(kCurve2001, q, digest, signature) == gost::kSignOk;
  digest[31] ^= 0x80;
  ok = ok && gost::r3410_2001::Verify(kCurve2001, q, digest, signature) == gost::kSignBad;
  gost::Wipe(d, sizeof d);

  uint8_t xa[128], ya[128], xb[128], yb[128], ka[128], kb[128];
  ok = ok && gost::dh1024::GenerateSecret(xa) == gost::kSignOk &&
       gost::dh1024::PublicFromSecret(xa, ya) == gost::kSignOk &&
       gost::dh1024::GenerateSecret(xb) == gost::kSignOk &&
       gost::dh1024::PublicFromSecret(xb, yb) == gost::kSignOk &&
       gost::dh1024::Agree(xa, yb, ka) == gost::kSignOk && gost::dh1024::Agree(xb, ya, kb) == gost::kSignOk &&
       std::memcmp(ka, kb, 128) == 0;
  gost::Wipe(xa, sizeof xa);
  gost::Wipe(xb, sizeof xb);
  gost::Wipe(ka, sizeof ka);
  gost::Wipe(kb, sizeof kb);
  return ok;
}

void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Writes the whole buffer to a new file; a partly written file is removed.
int WriteFile(const char* path, const uint8_t* data, size_t size) {
  switch (standin::WriteWholeFile(path, data, size)) {
    case standin::WriteResult::kOk: return kOk;
    case standin::WriteResult::kOpenFailed: return kFileOpen;
    case standin::WriteResult::kWriteFailed: return kFileRead;
    case standin::WriteResult::kCloseFailed: return kFileClose;
  }
  return kFileRead;
}

// Signature and agreement key pairs of the given type; secret = type | sign secret | agreement
// secret (164 bytes), public tail = type | sign public (S) | agreement public.
int MakeKeyPairs(int type, uint8_t secret[164], uint8_t* publicTail, size_t& publicTailSize) {
  PutLE32(secret, static_cast<uint32_t>(type));
  PutLE32(publicTail, static_cast<uint32_t>(type));
  size_t s = 0;
  int status = kOk;
  if (type == 0) {
    s = 128;
    status = gost::r3410_94::GenerateSecret(secret + 4);
    if (status == kOk) status = gost::r3410_94::PublicFromSecret(secret + 4, publicTail + 4);
  } else {
    s = 100;
    gost::r3410_2001::Point q;
    status = gost::r3410_2001::GenerateSecret(kCurve2001, secret + 4);
    if (status == kOk) status = gost::r3410_2001::PublicFromSecret(kCurve2001, secret + 4, q);
    if (status == kOk) EncodePublic2001(q, publicTail + 4);
  }
  if (status == kOk) status = gost::dh1024::GenerateSecret(secret + 36);
  if (status == kOk) status = gost::dh1024::PublicFromSecret(secret + 36, publicTail + 4 + s);
  publicTailSize = 4 + s + 128;
  return status;
}

}  // namespace
}  // namespace libcrypt

using namespace libcrypt;

STANDIN_EXPORT int CrypC_Random_Fill(uint8_t* state76, uint8_t* out, uint32_t len) {
  LIBCRYPT_HOOK();
  if (state76 == nullptr || (out == nullptr && len > 0)) return kNullPointer;
  if (len > 0) gost::RandomFill(state76, out, len);
  return kOk;
}

// A failed self-check answers 14.
STANDIN_EXPORT int CrypC_TestCryptoFunctions_(void) {
  LIBCRYPT_HOOK();
  return HashExamplesHold() && CipherRoundTripsHold() ? kOk : kBadRequest;
}

STANDIN_EXPORT int CrypC_TestSignFunctions_(void) {
  LIBCRYPT_HOOK();
  return Example2001Holds() && RoundTripsHold() ? kOk : kBadRequest;
}

STANDIN_EXPORT int StandIn_Control(const char* command) { return standin::Control(command); }

// Key files of the engine for tests and the demo (see README.md). Statuses: 15 null argument,
// 14 type other than 0/1 or UID not 1..254 characters, 10/12/13 opening/writing/closing a file,
// else what key generation answered.
STANDIN_EXPORT int CrypC_StandIn_WriteKeyFiles(int type, const char* uid, const char* secretKeyPath,
                                               const char* publicKeyPath) {
  LIBCRYPT_HOOK();
  if (uid == nullptr || secretKeyPath == nullptr || publicKeyPath == nullptr) return kNullPointer;
  const size_t n = std::strlen(uid);
  if ((type != 0 && type != 1) || n < 1 || n > 254) return kBadRequest;
  uint8_t secret[164];
  uint8_t publicFile[255 + 4 + 128 + 128];
  size_t tail = 0;
  std::memcpy(publicFile, uid, n + 1);
  int status = MakeKeyPairs(type, secret, publicFile + n + 1, tail);
  if (status == kOk) status = WriteFile(secretKeyPath, secret, sizeof secret);
  gost::Wipe(secret, sizeof secret);
  if (status == kOk) {
    status = WriteFile(publicKeyPath, publicFile, n + 1 + tail);
    if (status != kOk) std::remove(secretKeyPath);  // no half of a pair left behind
  }
  return status;
}
