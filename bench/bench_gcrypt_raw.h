// The raw side of the certificate-based engines' benchmarks (Message-PRO, Validata): libgcrypt
// doing the cryptographic work of one CMS operation with RSA-2048 keys already in memory.
//   encode   a random AES-256 key and IV, AES-256-CBC over the data, RSA key transport to one recipient
//   decode   RSA decryption of the content key, AES-256-CBC decryption of the data
//   sign     SHA-256 of the data and of the signed attributes (about 100 bytes), RSA signature
//   verify   the same digests and RSA verification, and the certificate check: SHA-256 of the
//            certificate's signed part (about 700 bytes) and the authority's RSA verification
#pragma once

#include <gcrypt.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace zkbench {

class GcryptRaw {
 public:
  using Bytes = std::vector<uint8_t>;

  struct Sexp {
    gcry_sexp_t s = nullptr;
    Sexp() = default;
    Sexp(const Sexp&) = delete;
    Sexp& operator=(const Sexp&) = delete;
    ~Sexp() { gcry_sexp_release(s); }
  };

  struct Envelope {
    Bytes body;
    Bytes wrapped;
    uint8_t iv[16] = {};
  };

  struct Signature {
    Sexp value, certificate;
    Bytes tbs = Bytes(700, 0x5a);
  };

  // Keys of the sender or signer, of the recipient or verifier, and of the authority.
  GcryptRaw() {
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    for (Key* k : {&sender_, &recipient_, &authority_}) Generate(*k);
  }

  int Encode(const Bytes& plain, Envelope& out) const {
    uint8_t key[32];
    gcry_randomize(key, sizeof key, GCRY_STRONG_RANDOM);
    gcry_create_nonce(out.iv, sizeof out.iv);
    const uint8_t pad = static_cast<uint8_t>(16 - plain.size() % 16);
    out.body.assign(plain.begin(), plain.end());
    out.body.insert(out.body.end(), pad, pad);
    if (!Aes(true, key, out.iv, out.body)) return 1;
    Sexp in, enc;
    if (gcry_sexp_build(&in.s, nullptr, "(data(flags pkcs1)(value %b))", 32, key) != 0 ||
        gcry_pk_encrypt(&enc.s, in.s, recipient_.pub.s) != 0)
      return 2;
    return Token(enc.s, "a", out.wrapped) ? 0 : 3;
  }

  int Decode(const Envelope& in, Bytes& plain) const {
    Sexp enc, key;
    Bytes contentKey;
    if (gcry_sexp_build(&enc.s, nullptr, "(enc-val(flags pkcs1)(rsa(a %b)))", static_cast<int>(in.wrapped.size()),
                        in.wrapped.data()) != 0 ||
        gcry_pk_decrypt(&key.s, enc.s, recipient_.priv.s) != 0 || !Token(key.s, "value", contentKey) ||
        contentKey.size() != 32)
      return 1;
    plain = in.body;
    if (!Aes(false, contentKey.data(), in.iv, plain)) return 2;
    plain.resize(plain.size() - plain.back());
    return 0;
  }

  int Sign(const Bytes& data, Sexp& value) const {
    return RsaSign(sender_.priv.s, AttributesDigest(data), value) ? 0 : 1;
  }

  void SignWithCertificate(const Bytes& data, Signature& s) const {
    if (Sign(data, s.value) != 0 || !RsaSign(authority_.priv.s, Digest(s.tbs.data(), s.tbs.size()), s.certificate))
      throw std::runtime_error("raw signature");
  }

  int Verify(const Bytes& data, const Signature& s) const {
    return RsaVerify(sender_.pub.s, AttributesDigest(data), s.value) &&
                   RsaVerify(authority_.pub.s, Digest(s.tbs.data(), s.tbs.size()), s.certificate)
               ? 0
               : 1;
  }

 private:
  struct Key {
    Sexp priv, pub;
  };

  static void Generate(Key& k) {
    Sexp params, pair;
    if (gcry_sexp_build(&params.s, nullptr, "(genkey(rsa(nbits 4:2048)))") != 0 || gcry_pk_genkey(&pair.s, params.s) != 0)
      throw std::runtime_error("RSA key");
    k.priv.s = gcry_sexp_find_token(pair.s, "private-key", 0);
    k.pub.s = gcry_sexp_find_token(pair.s, "public-key", 0);
  }

  static bool Token(gcry_sexp_t s, const char* name, Bytes& out) {
    gcry_sexp_t t = gcry_sexp_find_token(s, name, 0);
    size_t n = 0;
    const char* p = t != nullptr ? gcry_sexp_nth_data(t, 1, &n) : nullptr;
    if (p != nullptr) out.assign(p, p + n);
    gcry_sexp_release(t);
    return p != nullptr;
  }

  static Bytes Digest(const uint8_t* data, size_t len) {
    Bytes d(32);
    gcry_md_hash_buffer(GCRY_MD_SHA256, d.data(), data, len);
    return d;
  }

  // The signed attributes carry the data's digest; the signature covers their digest.
  static Bytes AttributesDigest(const Bytes& data) {
    Bytes attrs(105, 0x31);
    const Bytes d = Digest(data.data(), data.size());
    std::memcpy(attrs.data() + attrs.size() - d.size(), d.data(), d.size());
    return Digest(attrs.data(), attrs.size());
  }

  static bool RsaSign(gcry_sexp_t key, const Bytes& digest, Sexp& sig) {
    Sexp in;
    return gcry_sexp_build(&in.s, nullptr, "(data(flags pkcs1)(hash sha256 %b))", 32, digest.data()) == 0 &&
           gcry_pk_sign(&sig.s, in.s, key) == 0;
  }

  static bool RsaVerify(gcry_sexp_t pub, const Bytes& digest, const Sexp& sig) {
    Sexp in;
    return gcry_sexp_build(&in.s, nullptr, "(data(flags pkcs1)(hash sha256 %b))", 32, digest.data()) == 0 &&
           gcry_pk_verify(sig.s, in.s, pub) == 0;
  }

  static bool Aes(bool encrypt, const uint8_t* key, const uint8_t* iv, Bytes& buffer) {
    gcry_cipher_hd_t h = nullptr;
    const bool ok = gcry_cipher_open(&h, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_CBC, 0) == 0 &&
                    gcry_cipher_setkey(h, key, 32) == 0 && gcry_cipher_setiv(h, iv, 16) == 0 &&
                    (encrypt ? gcry_cipher_encrypt(h, buffer.data(), buffer.size(), nullptr, 0)
                             : gcry_cipher_decrypt(h, buffer.data(), buffer.size(), nullptr, 0)) == 0;
    gcry_cipher_close(h);
    return ok;
  }

  Key sender_, recipient_, authority_;
};

}  // namespace zkbench
