// Random bytes for a stand-in context's envelopes (content keys, IVs, key-transport padding), and
// RSA PKCS#1 v1.5 encryption that takes its padding from them. libgcrypt's strong pool takes one
// process-wide lock and polls the system on every request, so two threads sealing envelopes at
// once waited for each other there; a context draws from a generator of its own instead.
#pragma once

#include <gcrypt.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace standin {

// AES-256-CTR under a key from the strong pool, the key replaced by the generator's own output after
// every request (earlier output cannot be recomputed) and from the pool again after a number of
// requests. Not for use by two threads at once; libgcrypt is initialised by the caller.
class RandomSource {
 public:
  RandomSource() = default;
  RandomSource(const RandomSource&) = delete;
  RandomSource& operator=(const RandomSource&) = delete;
  ~RandomSource();
  bool Fill(uint8_t* out, size_t len);

 private:
  uint8_t key_[32] = {};
  unsigned requests_ = 0;
  gcry_cipher_hd_t ctr_ = nullptr;
};

// RSA PKCS#1 v1.5 encryption of plain[0, len) under the public key, the padding's random bytes from
// `random`; `out` as long as the modulus.
bool RsaEncryptPkcs1(gcry_sexp_t publicKey, const uint8_t* plain, size_t len, RandomSource& random,
                     std::vector<uint8_t>& out);

}  // namespace standin
