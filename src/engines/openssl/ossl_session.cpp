// The session-key ciphers of the envelope: RC4 over the data as it is; RC2 and RC5 (ECB or CBC,
// the first 8 key bytes as IV) over a block made of the data's length, the data and 1 to 8 bytes
// of padding.
#include <cstring>

#include "engines/openssl/ossl_codes.h"
#include "engines/openssl/ossl_formats.h"
#include "engines/openssl/rc5.h"
#include "frame/lefields.h"

namespace zk::ossl {

namespace {

constexpr int kRc2EffectiveBits = 1024;
constexpr int kRc5Rounds = 16;

bool IsBlockCipher(uint32_t Cipher) { return Cipher >= kRc2Ecb && Cipher <= kRc5Cbc; }
bool IsRc2(uint32_t Cipher) { return Cipher == kRc2Ecb || Cipher == kRc2Cbc; }
bool IsEcb(uint32_t Cipher) { return Cipher == kRc2Ecb || Cipher == kRc5Ecb; }

// An RC2/RC4 key schedule on the stack: an envelope being written into the caller's buffer
// must not meet an allocation failure half-way.
class KeySchedule {
 public:
  KeySchedule() = default;
  ~KeySchedule() { SecureWipe(bytes_, sizeof(bytes_)); }
  KeySchedule(const KeySchedule&) = delete;
  KeySchedule& operator=(const KeySchedule&) = delete;
  void* data() { return bytes_; }

 private:
  alignas(16) uint8_t bytes_[kCipherKeyScheduleBytes];
};

// Runs the block cipher over Len bytes (a multiple of 8); In and Out may be the same buffer.
void BlockCipher(uint32_t Cipher, const uint8_t* Key, const uint8_t* In, uint8_t* Out, size_t Len, bool Encrypt) {
  uint8_t iv[kCipherBlockBytes];
  std::memcpy(iv, Key, sizeof(iv));
  if (IsRc2(Cipher)) {
    const OpenSSLApi& api = TOpenSSLLibrary::Api();
    KeySchedule schedule;
    api.RC2_set_key(schedule.data(), static_cast<int>(kSessionKeyBytes), Key, kRc2EffectiveBits);
    const int direction = Encrypt ? kRc2Encrypt : kRc2Decrypt;
    if (IsEcb(Cipher)) {
      for (size_t at = 0; at < Len; at += kCipherBlockBytes) {
        api.RC2_ecb_encrypt(In + at, Out + at, schedule.data(), direction);
      }
    } else {
      api.RC2_cbc_encrypt(In, Out, static_cast<long>(Len), schedule.data(), iv, direction);
    }
  } else {
    const Rc5Key schedule(Key, kSessionKeyBytes, kRc5Rounds);
    if (IsEcb(Cipher)) {
      Encrypt ? Rc5EcbEncrypt(schedule, In, Out, Len) : Rc5EcbDecrypt(schedule, In, Out, Len);
    } else {
      Encrypt ? Rc5CbcEncrypt(schedule, In, Out, Len, iv) : Rc5CbcDecrypt(schedule, In, Out, Len, iv);
    }
  }
  SecureWipe(iv, sizeof(iv));
}

void Rc4(const uint8_t* Key, const uint8_t* In, uint8_t* Out, size_t Len) {
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  KeySchedule schedule;
  api.RC4_set_key(schedule.data(), static_cast<int>(kSessionKeyBytes), Key);
  if (Len > 0) api.RC4(schedule.data(), Len, In, Out);
}

// Compared as addresses: the two may belong to different objects.
bool Overlap(const uint8_t* A, const uint8_t* B, size_t Len) {
  const uintptr_t a = reinterpret_cast<uintptr_t>(A), b = reinterpret_cast<uintptr_t>(B);
  return Len > 0 && a < b + Len && b < a + Len;
}

}  // namespace

size_t CipherTextLength(uint32_t Cipher, size_t Len) {
  if (!IsBlockCipher(Cipher)) return Len;
  const size_t prefixed = Len + 4;
  return prefixed + kCipherBlockBytes - prefixed % kCipherBlockBytes;
}

void EncryptSession(uint32_t Cipher, const uint8_t* Key, const uint8_t* Plain, size_t Len, uint8_t* Out) {
  if (!IsBlockCipher(Cipher)) {
    // RC4 may run from one buffer into itself, not into a shifted copy of it.
    if (Out != Plain && Overlap(Plain, Out, Len)) {
      std::memmove(Out, Plain, Len);
      Plain = Out;
    }
    Rc4(Key, Plain, Out, Len);
    return;
  }
  const size_t padded = CipherTextLength(Cipher, Len);
  // The data first: Out may overlap it, and its length prefix goes where the data may have been.
  if (Len > 0) std::memmove(Out + 4, Plain, Len);
  WriteLE32(Out, static_cast<uint32_t>(Len));
  std::memset(Out + 4 + Len, 0, padded - 4 - Len);
  BlockCipher(Cipher, Key, Out, Out, padded, true);
}

int32_t DecryptSession(uint32_t Cipher, const uint8_t* Key, const uint8_t* In, uint8_t* Out, size_t Len,
                       size_t& Offset, size_t& PlainLen) {
  if (Cipher == kRc4) {
    Rc4(Key, In, Out, Len);
    Offset = 0;
    PlainLen = Len;
    return kOk;
  }
  if (!IsBlockCipher(Cipher)) return kErrBadCipherName;
  if (Len == 0 || Len % kCipherBlockBytes != 0) {
    if (Cipher == kRc2Ecb) return kErrRc2EcbFormat;
    if (Cipher == kRc5Ecb) return kErrRc5EcbFormat;
    return kErrBadEnvelope;
  }
  BlockCipher(Cipher, Key, In, Out, Len, false);
  const uint32_t length = ReadLE32(Out);
  // The prefix must describe exactly this padded block; anything else is a damaged body.
  if (length > Len - 4 || CipherTextLength(Cipher, length) != Len) return kErrIntegrity;
  Offset = 4;
  PlainLen = length;
  return kOk;
}

}  // namespace zk::ossl
