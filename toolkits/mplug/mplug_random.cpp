// The random bytes of envelopes: content keys and key-transport padding. libgcrypt's strong pool
// takes one process-wide lock and polls the system on every request, so two threads sealing
// envelopes at once waited for each other there. Each context draws instead from a generator of
// its own: AES-256-CTR under a key from the strong pool, the key replaced by the generator's own
// output after every request (earlier output cannot be recomputed) and from the pool again after
// kRequestsPerSeed requests.
#include <cstring>

#include "mplug_internal.h"

namespace mplug {

namespace {
constexpr unsigned kRequestsPerSeed = 1024;
}

KeySource::~KeySource() {
  std::memset(key_, 0, sizeof key_);
  gcry_cipher_close(ctr_);
}

bool KeySource::Fill(uint8_t* out, size_t len) {
  InitLibrary();
  // The handle is kept: opening one polls the system under the pool's lock as well.
  if (ctr_ == nullptr && gcry_cipher_open(&ctr_, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_CTR, 0) != 0) {
    ctr_ = nullptr;
    return false;
  }
  if (requests_ == 0) gcry_randomize(key_, sizeof key_, GCRY_STRONG_RANDOM);
  requests_ = (requests_ + 1) % kRequestsPerSeed;
  Bytes stream(len + sizeof key_, 0);
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

// PKCS#1 v1.5 encryption padding (00 02, non-zero random bytes, 00, the message) done here, so that
// its random bytes come from the context's generator; libgcrypt does the raw RSA.
bool RsaEncrypt(const std::string& publicText, const Bytes& plain, KeySource& random, Bytes& out) {
  InitLibrary();
  Sexp pub;
  if (!ParseCanonical(publicText, pub)) return false;
  const size_t k = (gcry_pk_get_nbits(pub.get()) + 7) / 8;
  if (k < plain.size() + 11) return false;
  Bytes em(k, 0);
  em[1] = 2;
  uint8_t* ps = em.data() + 2;
  const size_t psLen = k - 3 - plain.size();
  if (!random.Fill(ps, psLen)) return false;
  for (size_t i = 0; i < psLen; ++i) {
    while (ps[i] == 0)
      if (!random.Fill(ps + i, 1)) return false;
  }
  std::memcpy(em.data() + 3 + psLen, plain.data(), plain.size());
  Sexp in, enc;
  const bool built = gcry_sexp_build(in.out(), nullptr, "(data(flags raw)(value %b))", int(k), em.data()) == 0;
  std::memset(em.data(), 0, em.size());
  if (!built || gcry_pk_encrypt(enc.out(), in.get(), pub.get()) != 0) return false;
  Sexp a(gcry_sexp_find_token(enc.get(), "a", 0));
  size_t n = 0;
  const char* p = a ? gcry_sexp_nth_data(a.get(), 1, &n) : nullptr;
  if (p == nullptr) return false;
  while (n > 0 && *p == 0) ++p, --n;  // an MPI: as long as the modulus, as PKCS#1 writes it
  if (n > k) return false;
  out.assign(k - n, 0);
  out.insert(out.end(), p, p + n);
  return true;
}

}  // namespace mplug
