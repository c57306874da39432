#include "engines/openssl/sha0.h"

#include <cstring>

namespace zk::ossl {
namespace {

uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

uint32_t LoadBigEndian(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void StoreBigEndian(uint32_t v, uint8_t* p) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

// Round function and constant of step t (0..79).
uint32_t Mix(int t, uint32_t b, uint32_t c, uint32_t d) {
  if (t < 20) return ((b & c) | (~b & d)) + 0x5A827999u;
  if (t < 40) return (b ^ c ^ d) + 0x6ED9EBA1u;
  if (t < 60) return ((b & c) | (b & d) | (c & d)) + 0x8F1BBCDCu;
  return (b ^ c ^ d) + 0xCA62C1D6u;
}

}  // namespace

Sha0Context::Sha0Context()
    : state_{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u},
      total_bytes_(0),
      pending_{},
      pending_len_(0) {}

Sha0Context::~Sha0Context() { Wipe(); }

void Sha0Context::Wipe() {
  volatile uint8_t* p = pending_;
  for (size_t i = 0; i < sizeof(pending_); ++i) p[i] = 0;
  volatile uint32_t* s = state_;
  for (int i = 0; i < 5; ++i) s[i] = 0;
  pending_len_ = 0;
  total_bytes_ = 0;
}

void Sha0Context::Compress(const uint8_t block[64]) {
  uint32_t w[80];
  for (int t = 0; t < 16; ++t) w[t] = LoadBigEndian(block + 4 * t);
  // The whole difference from SHA-1: no rotation of the expanded word.
  for (int t = 16; t < 80; ++t) w[t] = w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16];

  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
  for (int t = 0; t < 80; ++t) {
    uint32_t temp = Rotl(a, 5) + Mix(t, b, c, d) + e + w[t];
    e = d;
    d = c;
    c = Rotl(b, 30);
    b = a;
    a = temp;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
}

void Sha0Context::Update(const uint8_t* data, size_t len) {
  if (len == 0) return;  // data may then be null
  total_bytes_ += len;
  if (pending_len_ > 0) {
    size_t take = 64 - pending_len_;
    if (take > len) take = len;
    std::memcpy(pending_ + pending_len_, data, take);
    pending_len_ += take;
    data += take;
    len -= take;
    if (pending_len_ < 64) return;
    Compress(pending_);
    pending_len_ = 0;
  }
  for (; len >= 64; data += 64, len -= 64) Compress(data);
  if (len > 0) std::memcpy(pending_, data, len);
  pending_len_ = len;
}

void Sha0Context::Final(uint8_t out[kSha0DigestSize]) {
  const uint64_t bit_length = total_bytes_ * 8;
  // Padding: one 1 bit, zeros up to 56 mod 64, then the 64-bit big-endian message length in bits.
  uint8_t tail[72] = {0x80};
  size_t pad_len = (pending_len_ < 56 ? 56 : 120) - pending_len_;
  for (int i = 0; i < 8; ++i) tail[pad_len + i] = uint8_t(bit_length >> (56 - 8 * i));
  Update(tail, pad_len + 8);
  for (int i = 0; i < 5; ++i) StoreBigEndian(state_[i], out + 4 * i);
  Wipe();
}

void Sha0(const uint8_t* data, size_t len, uint8_t out[kSha0DigestSize]) {
  Sha0Context ctx;
  ctx.Update(data, len);
  ctx.Final(out);
}

}  // namespace zk::ossl
