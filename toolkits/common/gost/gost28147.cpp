// GOST 28147-89: the block cipher with a caller's substitution table, its counter ("gamma") mode,
// its cipher-feedback mode and its MAC.
#include <cstring>

#include "gost.h"

namespace gost {

// id-GostR3411-94-TestParamSet (the table of the GOST R 34.11-94 examples), K8 first.
const uint8_t kSboxR3411TestParams[kSboxSize] = {
    1,  15, 13, 0,  5,  7,  10, 4,  9,  2,  3,  14, 6,  11, 8,  12,  // K8
    13, 11, 4,  1,  3,  15, 5,  9,  0,  10, 14, 7,  6,  8,  2,  12,  // K7
    4,  11, 10, 0,  7,  2,  1,  13, 3,  6,  8,  5,  9,  12, 15, 14,  // K6
    6,  12, 7,  1,  5,  15, 13, 8,  4,  10, 9,  14, 0,  3,  11, 2,   // K5
    7,  13, 10, 1,  0,  8,  9,  15, 14, 4,  6,  12, 11, 2,  5,  3,   // K4
    5,  8,  1,  13, 10, 3,  4,  2,  14, 15, 12, 7,  6,  0,  9,  11,  // K3
    14, 11, 4,  12, 6,  13, 15, 10, 2,  3,  8,  1,  0,  7,  5,  9,   // K2
    4,  10, 9,  2,  13, 8,  0,  14, 6,  11, 1,  12, 7,  15, 5,  3,   // K1
};

namespace {

inline uint32_t Load32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void Store32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

inline uint32_t F(const uint32_t (&t)[4][256], uint32_t x) {
  return t[0][x & 255] ^ t[1][(x >> 8) & 255] ^ t[2][(x >> 16) & 255] ^ t[3][x >> 24];
}

}  // namespace

void Gost28147::ChangeKey(const uint8_t key[32]) {
  for (int i = 0; i < 8; ++i) key_[i] = Load32(key + 4 * i);
}

void Gost28147::SetKey(const uint8_t key[32], const uint8_t sbox[kSboxSize]) {
  ChangeKey(key);
  // Byte j of the round input goes through K(2j+1) (low nibble) and K(2j+2) (high nibble); the
  // table entry is already shifted into place and rotated left by 11. Kk sits at (8 - k) * 16.
  for (int j = 0; j < 4; ++j) {
    const uint8_t* low = sbox + (8 - (2 * j + 1)) * 16;
    const uint8_t* high = sbox + (8 - (2 * j + 2)) * 16;
    for (uint32_t b = 0; b < 256; ++b) {
      uint32_t v = (uint32_t(high[b >> 4] & 15) << 4 | (low[b & 15] & 15)) << (8 * j);
      table_[j][b] = v << 11 | v >> 21;
    }
  }
}

// Each line is two rounds written without the swap: the halves trade roles instead. After an
// odd number of rounds N1 is held in n2, which also leaves out the swap of the last round.
void Gost28147::EncryptBlock(const uint8_t in[8], uint8_t out[8]) const {
  uint32_t n1 = Load32(in), n2 = Load32(in + 4);
  for (int r = 0; r < 3; ++r) {
    for (int i = 0; i < 8; i += 2) {
      n2 ^= F(table_, n1 + key_[i]);
      n1 ^= F(table_, n2 + key_[i + 1]);
    }
  }
  for (int i = 7; i > 0; i -= 2) {
    n2 ^= F(table_, n1 + key_[i]);
    n1 ^= F(table_, n2 + key_[i - 1]);
  }
  Store32(out, n2);
  Store32(out + 4, n1);
}

void Gost28147::DecryptBlock(const uint8_t in[8], uint8_t out[8]) const {
  uint32_t n1 = Load32(in), n2 = Load32(in + 4);
  for (int i = 0; i < 8; i += 2) {
    n2 ^= F(table_, n1 + key_[i]);
    n1 ^= F(table_, n2 + key_[i + 1]);
  }
  for (int r = 0; r < 3; ++r) {
    for (int i = 7; i > 0; i -= 2) {
      n2 ^= F(table_, n1 + key_[i]);
      n1 ^= F(table_, n2 + key_[i - 1]);
    }
  }
  Store32(out, n2);
  Store32(out + 4, n1);
}

// Sixteen rounds K1..K8 twice, each with its swap: after an even count N1 is back in n1.
void Gost28147::MacRounds(uint8_t block[8]) const {
  uint32_t n1 = Load32(block), n2 = Load32(block + 4);
  for (int r = 0; r < 2; ++r) {
    for (int i = 0; i < 8; i += 2) {
      n2 ^= F(table_, n1 + key_[i]);
      n1 ^= F(table_, n2 + key_[i + 1]);
    }
  }
  Store32(block, n1);
  Store32(block + 4, n2);
}

void Gost28147::Wipe() {
  gost::Wipe(key_, sizeof(key_));
  gost::Wipe(table_, sizeof(table_));
}

// --- counter ("gamma") mode -----------------------------------------------------------------

namespace {
constexpr uint32_t kC1 = 0x01010104;  // added to N4 modulo 2^32 - 1
constexpr uint32_t kC2 = 0x01010101;  // added to N3 modulo 2^32
}  // namespace

void GammaMode::Init(const Gost28147* cipher, const uint8_t iv[8]) {
  cipher_ = cipher;
  uint8_t s[8];
  cipher_->EncryptBlock(iv, s);
  n3_ = Load32(s);
  n4_ = Load32(s + 4);
  gost::Wipe(s, sizeof(s));
  used_ = 8;
}

void GammaMode::Crypt(const uint8_t* in, uint8_t* out, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    if (used_ == 8) {
      n3_ += kC2;
      // Addition modulo 2^32 - 1 as the standard's adder does it: a carry out comes back in.
      uint32_t sum = n4_ + kC1;
      if (sum < n4_) ++sum;
      n4_ = sum;
      uint8_t counter[8];
      Store32(counter, n3_);
      Store32(counter + 4, n4_);
      cipher_->EncryptBlock(counter, gamma_);
      used_ = 0;
    }
    out[i] = in[i] ^ gamma_[used_++];
  }
}

void GammaMode::Wipe() {
  n3_ = n4_ = 0;
  gost::Wipe(gamma_, sizeof(gamma_));
  used_ = 8;
  cipher_ = nullptr;
}

// --- gamma with feedback (64-bit CFB) -------------------------------------------------------

void GammaFeedbackMode::Init(const Gost28147* cipher, const uint8_t iv[8]) {
  cipher_ = cipher;
  std::memcpy(register_, iv, 8);
  used_ = 8;
}

// The register collects ciphertext bytes in place of the gamma bytes they used; it is enciphered
// only once all eight have been replaced.
void GammaFeedbackMode::Encrypt(const uint8_t* in, uint8_t* out, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    if (used_ == 8) {
      cipher_->EncryptBlock(register_, gamma_);
      used_ = 0;
    }
    uint8_t c = in[i] ^ gamma_[used_];
    register_[used_++] = c;
    out[i] = c;
  }
}

void GammaFeedbackMode::Decrypt(const uint8_t* in, uint8_t* out, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    if (used_ == 8) {
      cipher_->EncryptBlock(register_, gamma_);
      used_ = 0;
    }
    uint8_t c = in[i];  // read first: in and out may be the same buffer
    out[i] = c ^ gamma_[used_];
    register_[used_++] = c;
  }
}

void GammaFeedbackMode::Wipe() {
  gost::Wipe(register_, sizeof(register_));
  gost::Wipe(gamma_, sizeof(gamma_));
  used_ = 8;
  cipher_ = nullptr;
}

// --- MAC (imitovstavka) ---------------------------------------------------------------------
//
// Blocks are XORed into the state and run through the 16 rounds; a last partial block is padded
// with zero bytes. A message of fewer than two blocks (the empty one included) is padded with
// zero blocks up to two, as the usual implementations of the standard do.

void MacMode::Init(const Gost28147* cipher) {
  cipher_ = cipher;
  std::memset(state_, 0, sizeof(state_));
  std::memset(pending_, 0, sizeof(pending_));
  pendingLen_ = 0;
  blocks_ = 0;
}

void MacMode::Init(const Gost28147* cipher, const uint8_t iv[8]) {
  Init(cipher);
  std::memcpy(state_, iv, sizeof(state_));
}

void MacMode::Update(const uint8_t* data, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    pending_[pendingLen_++] = data[i];
    if (pendingLen_ == 8) {
      for (int j = 0; j < 8; ++j) state_[j] ^= pending_[j];
      cipher_->MacRounds(state_);
      ++blocks_;
      pendingLen_ = 0;
    }
  }
}

void MacMode::Final(uint8_t out[8]) {
  if (pendingLen_ > 0) {
    std::memset(pending_ + pendingLen_, 0, 8 - pendingLen_);
    for (int j = 0; j < 8; ++j) state_[j] ^= pending_[j];
    cipher_->MacRounds(state_);
    ++blocks_;
    pendingLen_ = 0;
  }
  while (blocks_ < 2) {  // XOR with a zero block changes nothing; only the rounds remain
    cipher_->MacRounds(state_);
    ++blocks_;
  }
  std::memcpy(out, state_, 8);
  const Gost28147* cipher = cipher_;
  Wipe();
  cipher_ = cipher;  // a following Init starts a fresh MAC with the same cipher either way
}

void MacMode::Wipe() {
  gost::Wipe(state_, sizeof(state_));
  gost::Wipe(pending_, sizeof(pending_));
  pendingLen_ = 0;
  blocks_ = 0;
  cipher_ = nullptr;
}

}  // namespace gost
