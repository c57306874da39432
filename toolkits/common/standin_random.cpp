#include "standin_random.h"

#include <cstring>

namespace standin {

namespace {
constexpr unsigned kRequestsPerSeed = 1024;
}

RandomSource::~RandomSource() {
  std::memset(key_, 0, sizeof key_);
  gcry_cipher_close(ctr_);
}

bool RandomSource::Fill(uint8_t* out, size_t len) {
  // The handle is kept: opening one polls the system under the pool's lock as well.
  if (ctr_ == nullptr && gcry_cipher_open(&ctr_, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_CTR, 0) != 0) {
    ctr_ = nullptr;
    return false;
  }
  if (requests_ == 0) gcry_randomize(key_, sizeof key_, GCRY_STRONG_RANDOM);
  requests_ = (requests_ + 1) % kRequestsPerSeed;
  std::vector<uint8_t> stream(len + sizeof key_, 0);
  const bool ok = gcry_cipher_setkey(ctr_, key_, sizeof key_) == 0 && gcry_cipher_setctr(ctr_, nullptr, 0) == 0 &&
                  gcry_cipher_encrypt(ctr_, stream.data(), stream.size(), nullptr, 0) == 0;
  if (!ok) {
    requests_ = 0;  // seed afresh next time
    return false;
  }
  std::memcpy(out, stream.data(), len);
  std::memcpy(key_, stream.data() + len, sizeof key_);
  std::memset(stream.data(), 0, stream.size());
  return true;
}

// The padding (00 02, non-zero random bytes, 00, the message) is built here, so that its random
// bytes come from the context's generator; libgcrypt does the raw RSA.
bool RsaEncryptPkcs1(gcry_sexp_t publicKey, const uint8_t* plain, size_t len, RandomSource& random,
                     std::vector<uint8_t>& out) {
  if (publicKey == nullptr) return false;
  const size_t k = (gcry_pk_get_nbits(publicKey) + 7) / 8;
  if (k < len + 11) return false;
  std::vector<uint8_t> em(k, 0);
  em[1] = 2;
  uint8_t* ps = em.data() + 2;
  const size_t psLen = k - 3 - len;
  if (!random.Fill(ps, psLen)) return false;
  for (size_t i = 0; i < psLen; ++i) {
    while (ps[i] == 0)
      if (!random.Fill(ps + i, 1)) return false;
  }
  if (len > 0) std::memcpy(em.data() + 3 + psLen, plain, len);
  gcry_sexp_t in = nullptr, enc = nullptr;
  const bool built = gcry_sexp_build(&in, nullptr, "(data(flags raw)(value %b))", int(k), em.data()) == 0;
  std::memset(em.data(), 0, em.size());
  const bool encrypted = built && gcry_pk_encrypt(&enc, in, publicKey) == 0;
  gcry_sexp_release(in);
  gcry_sexp_t a = encrypted ? gcry_sexp_find_token(enc, "a", 0) : nullptr;
  size_t n = 0;
  const char* p = a != nullptr ? gcry_sexp_nth_data(a, 1, &n) : nullptr;
  while (p != nullptr && n > 0 && *p == 0) ++p, --n;  // an MPI: as long as the modulus, as PKCS#1 writes it
  const bool ok = p != nullptr && n <= k;
  if (ok) {
    out.assign(k - n, 0);
    out.insert(out.end(), p, p + n);
  }
  gcry_sexp_release(a);
  gcry_sexp_release(enc);
  return ok;
}

}  // namespace standin
