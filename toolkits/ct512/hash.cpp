// GOST R 34.11-94 over GOST 28147-89 with the test parameters, kept entirely in a flat state so
// that it can live inside a toolkit context. Vectors are byte strings with the least significant
// byte first, as the standard's 256-bit words are stored.
#include <cstring>

#include "ct512_internal.h"

namespace ct512 {
namespace {

// C3 of the key generation, least significant byte first.
const uint8_t kC3[32] = {0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00,
                         0x00, 0xff, 0xff, 0x00, 0xff, 0x00, 0x00, 0xff, 0xff, 0x00, 0x00, 0x00, 0xff, 0xff, 0x00, 0xff};

void Xor(uint8_t* out, const uint8_t* a, const uint8_t* b) {
  for (int i = 0; i < 32; ++i) out[i] = a[i] ^ b[i];
}

// A(y4|y3|y2|y1) = (y1 ^ y2)|y4|y3|y2 in 64-bit words.
void A(uint8_t y[32]) {
  uint8_t t[8];
  for (int i = 0; i < 8; ++i) t[i] = y[i] ^ y[8 + i];
  std::memmove(y, y + 8, 24);
  std::memcpy(y + 24, t, 8);
}

// P: byte 8i + k goes to position i + 4k.
void P(const uint8_t in[32], uint8_t out[32]) {
  for (int i = 0; i < 4; ++i) {
    for (int k = 0; k < 8; ++k) out[i + 4 * k] = in[8 * i + k];
  }
}

// psi on 16-bit words: shift down by one word; the new top word is y1^y2^y3^y4^y13^y16.
void Psi(uint8_t y[32], int times) {
  for (int n = 0; n < times; ++n) {
    const uint8_t lo = y[0] ^ y[2] ^ y[4] ^ y[6] ^ y[24] ^ y[30];
    const uint8_t hi = y[1] ^ y[3] ^ y[5] ^ y[7] ^ y[25] ^ y[31];
    std::memmove(y, y + 2, 30);
    y[30] = lo;
    y[31] = hi;
  }
}

void Step(gost::Gost28147& cipher, uint8_t h[32], const uint8_t m[32]) {
  uint8_t u[32], v[32], w[32], key[32], s[32];
  std::memcpy(u, h, 32);
  std::memcpy(v, m, 32);
  for (int j = 0; j < 4; ++j) {
    if (j > 0) {
      A(u);
      if (j == 2) Xor(u, u, kC3);
      A(v);
      A(v);
    }
    Xor(w, u, v);
    P(w, key);
    cipher.ChangeKey(key);
    cipher.EncryptBlock(h + 8 * j, s + 8 * j);
  }
  Psi(s, 12);
  Xor(s, s, m);
  Psi(s, 1);
  Xor(s, s, h);
  Psi(s, 61);
  std::memcpy(h, s, 32);
  gost::Wipe(key, sizeof(key));
}

void AddTo(uint8_t sum[32], const uint8_t m[32]) {
  unsigned carry = 0;
  for (int i = 0; i < 32; ++i) {
    carry += static_cast<unsigned>(sum[i]) + m[i];
    sum[i] = static_cast<uint8_t>(carry);
    carry >>= 8;
  }
}

void KeyedCipher(gost::Gost28147& cipher) {
  const uint8_t zero[32] = {};
  cipher.SetKey(zero, gost::kSboxR3411TestParams);
}

void Block(gost::Gost28147& cipher, HashState& s, const uint8_t m[32]) {
  Step(cipher, s.h, m);
  AddTo(s.sigma, m);
}

}  // namespace

void HashStart(HashState& s, int32_t method) {
  std::memset(&s, 0, sizeof(s));
  s.magic = kHashMagic;
  s.method = method;
}

void HashFeed(HashState& s, const uint8_t* data, size_t len) {
  if (len == 0) return;
  gost::Gost28147 cipher;
  KeyedCipher(cipher);
  s.bits += static_cast<uint64_t>(len) * 8;
  while (len > 0) {
    const size_t take = std::min<size_t>(len, 32 - s.pendingLen);
    std::memcpy(s.pending + s.pendingLen, data, take);
    s.pendingLen += static_cast<uint32_t>(take);
    data += take;
    len -= take;
    if (s.pendingLen == 32) {
      Block(cipher, s, s.pending);
      s.pendingLen = 0;
    }
  }
}

void HashFinish(HashState& s) {
  gost::Gost28147 cipher;
  KeyedCipher(cipher);
  if (s.pendingLen > 0) {
    std::memset(s.pending + s.pendingLen, 0, 32 - s.pendingLen);
    Block(cipher, s, s.pending);
  }
  uint8_t length[32] = {};
  for (int i = 0; i < 8; ++i) length[i] = static_cast<uint8_t>(s.bits >> (8 * i));
  Step(cipher, s.h, length);
  Step(cipher, s.h, s.sigma);
  std::memcpy(s.digest, s.h, 32);
  gost::Wipe(s.pending, sizeof(s.pending));
  s.pendingLen = 0;
  s.ended = 1;
}

void Digest(const uint8_t* data, size_t len, uint8_t out[32]) {
  HashState s;
  HashStart(s, kMethodSign2001);
  HashFeed(s, data, len);
  HashFinish(s);
  std::memcpy(out, s.digest, 32);
}

}  // namespace ct512
