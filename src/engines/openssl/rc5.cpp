#include "engines/openssl/rc5.h"

#include <cstring>
#include <stdexcept>

#include "frame/lefields.h"

namespace zk::ossl {
namespace {

// Odd((e - 2) * 2^32) and Odd((phi - 1) * 2^32), the magic constants of RC5 for w = 32.
constexpr uint32_t kP32 = 0xB7E15163u;
constexpr uint32_t kQ32 = 0x9E3779B9u;

uint32_t Rotl(uint32_t x, uint32_t n) {
  n &= 31;
  return n == 0 ? x : (x << n) | (x >> (32 - n));
}

uint32_t Rotr(uint32_t x, uint32_t n) {
  n &= 31;
  return n == 0 ? x : (x >> n) | (x << (32 - n));
}


void WipeWords(uint32_t* words, size_t count) {
  volatile uint32_t* p = words;
  for (size_t i = 0; i < count; ++i) p[i] = 0;
}

void RequireWholeBlocks(size_t len) {
  if (len % kRc5BlockSize != 0) throw std::invalid_argument("RC5: data length is not a multiple of 8");
}

}  // namespace

Rc5Key::Rc5Key(const uint8_t* key, size_t key_len, int rounds) : rounds_(rounds), s_{} {
  if (rounds < 0 || rounds > kRc5MaxRounds) throw std::invalid_argument("RC5: rounds out of range");
  if (key_len > kRc5MaxKeyBytes) throw std::invalid_argument("RC5: key longer than 255 bytes");

  // L: the key as little-endian words, at least one word even for an empty key.
  uint32_t l[kRc5MaxKeyBytes / 4 + 1] = {};
  const size_t c = key_len == 0 ? 1 : (key_len + 3) / 4;
  for (size_t i = key_len; i-- > 0;) l[i / 4] = (l[i / 4] << 8) + key[i];

  const size_t t = 2 * (size_t(rounds) + 1);
  s_[0] = kP32;
  for (size_t i = 1; i < t; ++i) s_[i] = s_[i - 1] + kQ32;

  uint32_t a = 0, b = 0;
  const size_t passes = 3 * (t > c ? t : c);
  for (size_t k = 0, i = 0, j = 0; k < passes; ++k, i = (i + 1) % t, j = (j + 1) % c) {
    a = s_[i] = Rotl(s_[i] + a + b, 3);
    b = l[j] = Rotl(l[j] + a + b, a + b);
  }
  WipeWords(l, sizeof(l) / sizeof(l[0]));
}

Rc5Key::~Rc5Key() { WipeWords(s_, sizeof(s_) / sizeof(s_[0])); }

void Rc5Key::EncryptBlock(const uint8_t in[kRc5BlockSize], uint8_t out[kRc5BlockSize]) const {
  uint32_t a = ReadLE32(in) + s_[0];
  uint32_t b = ReadLE32(in + 4) + s_[1];
  for (int i = 1; i <= rounds_; ++i) {
    a = Rotl(a ^ b, b) + s_[2 * i];
    b = Rotl(b ^ a, a) + s_[2 * i + 1];
  }
  WriteLE32(out, a);
  WriteLE32(out + 4, b);
}

void Rc5Key::DecryptBlock(const uint8_t in[kRc5BlockSize], uint8_t out[kRc5BlockSize]) const {
  uint32_t a = ReadLE32(in);
  uint32_t b = ReadLE32(in + 4);
  for (int i = rounds_; i >= 1; --i) {
    b = Rotr(b - s_[2 * i + 1], a) ^ a;
    a = Rotr(a - s_[2 * i], b) ^ b;
  }
  WriteLE32(out, a - s_[0]);
  WriteLE32(out + 4, b - s_[1]);
}

void Rc5EcbEncrypt(const Rc5Key& key, const uint8_t* in, uint8_t* out, size_t len) {
  RequireWholeBlocks(len);
  for (size_t off = 0; off < len; off += kRc5BlockSize) key.EncryptBlock(in + off, out + off);
}

void Rc5EcbDecrypt(const Rc5Key& key, const uint8_t* in, uint8_t* out, size_t len) {
  RequireWholeBlocks(len);
  for (size_t off = 0; off < len; off += kRc5BlockSize) key.DecryptBlock(in + off, out + off);
}

void Rc5CbcEncrypt(const Rc5Key& key, const uint8_t* in, uint8_t* out, size_t len,
                   uint8_t iv[kRc5BlockSize]) {
  RequireWholeBlocks(len);
  for (size_t off = 0; off < len; off += kRc5BlockSize) {
    uint8_t block[kRc5BlockSize];
    for (size_t k = 0; k < kRc5BlockSize; ++k) block[k] = in[off + k] ^ iv[k];
    key.EncryptBlock(block, out + off);
    std::memcpy(iv, out + off, kRc5BlockSize);
  }
}

void Rc5CbcDecrypt(const Rc5Key& key, const uint8_t* in, uint8_t* out, size_t len,
                   uint8_t iv[kRc5BlockSize]) {
  RequireWholeBlocks(len);
  for (size_t off = 0; off < len; off += kRc5BlockSize) {
    uint8_t cipher[kRc5BlockSize];  // kept: out may overwrite in
    std::memcpy(cipher, in + off, kRc5BlockSize);
    key.DecryptBlock(cipher, out + off);
    for (size_t k = 0; k < kRc5BlockSize; ++k) out[off + k] ^= iv[k];
    std::memcpy(iv, cipher, kRc5BlockSize);
  }
}

}  // namespace zk::ossl
