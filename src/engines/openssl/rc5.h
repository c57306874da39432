// RC5-32/R/b (Rivest, 1994; RFC 2040): 64-bit blocks of two little-endian 32-bit words, R rounds, a key
// of b bytes. The engine's RC5_ECB and RC5_CBC envelopes use 16 rounds and a 16-byte key; the calls
// mirror the old OpenSSL RC5_32_set_key / RC5_32_ecb_encrypt / RC5_32_cbc_encrypt, which current
// OpenSSL builds leave out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zk::ossl {

constexpr size_t kRc5BlockSize = 8;
constexpr int kRc5MaxRounds = 255;
constexpr size_t kRc5MaxKeyBytes = 255;

// The expanded key table S. Wiped when destroyed.
class Rc5Key {
 public:
  // key_len 0..255 bytes, rounds 0..255; anything else throws std::invalid_argument.
  Rc5Key(const uint8_t* key, size_t key_len, int rounds);
  ~Rc5Key();
  Rc5Key(const Rc5Key&) = delete;
  Rc5Key& operator=(const Rc5Key&) = delete;

  // One block; in and out may be the same buffer.
  void EncryptBlock(const uint8_t in[kRc5BlockSize], uint8_t out[kRc5BlockSize]) const;
  void DecryptBlock(const uint8_t in[kRc5BlockSize], uint8_t out[kRc5BlockSize]) const;
  int rounds() const { return rounds_; }

 private:
  int rounds_;
  uint32_t s_[2 * (kRc5MaxRounds + 1)];
};

// The modes work over whole blocks: a length that is not a multiple of 8 throws std::invalid_argument
// (nothing is written). in and out may be the same buffer.
void Rc5EcbEncrypt(const Rc5Key& key, const uint8_t* in, uint8_t* out, size_t len);
void Rc5EcbDecrypt(const Rc5Key& key, const uint8_t* in, uint8_t* out, size_t len);
// iv is updated to the last ciphertext block, so consecutive calls chain as one message.
void Rc5CbcEncrypt(const Rc5Key& key, const uint8_t* in, uint8_t* out, size_t len,
                   uint8_t iv[kRc5BlockSize]);
void Rc5CbcDecrypt(const Rc5Key& key, const uint8_t* in, uint8_t* out, size_t len,
                   uint8_t iv[kRc5BlockSize]);

}  // namespace zk::ossl
