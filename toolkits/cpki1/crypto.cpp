// RSA (PKCS#1 v1.5 over SHA-256, key transport), AES-256-CBC and SHA-256 through libgcrypt.
#include <cstring>
#include <mutex>
#include <utility>

#include "cpki1_internal.h"
#include "standin_memo.h"

namespace cpki1 {

namespace {

Bytes MpiOf(gcry_sexp_t s, const char* token) {
  Bytes out;
  gcry_sexp_t part = gcry_sexp_find_token(s, token, 0);
  if (part == nullptr) return out;
  size_t len = 0;
  const char* data = gcry_sexp_nth_data(part, 1, &len);
  if (data != nullptr) out.assign(data, data + len);
  gcry_sexp_release(part);
  while (out.size() > 1 && out[0] == 0) out.erase(out.begin());
  return out;
}

Sexp FromCanonical(const Bytes& b) {
  gcry_sexp_t s = nullptr;
  if (b.empty() || gcry_sexp_sscan(&s, nullptr, reinterpret_cast<const char*>(b.data()), b.size()) != 0) return Sexp();
  return Sexp(s);
}

Sexp DigestInput(const Bytes& digest) {
  gcry_sexp_t s = nullptr;
  if (gcry_sexp_build(&s, nullptr, "(data (flags pkcs1) (hash sha256 %b))", static_cast<int>(digest.size()),
                      digest.data()) != 0)
    return Sexp();
  return Sexp(s);
}

size_t ModulusBytes(const Sexp& key) { return (gcry_pk_get_nbits(key.s) + 7) / 8; }

}  // namespace

std::shared_ptr<const Sexp> PublicKey(const Bytes& n, const Bytes& e) {
  InitGcrypt();
  gcry_sexp_t s = nullptr;
  if (gcry_sexp_build(&s, nullptr, "(public-key (rsa (n %b) (e %b)))", static_cast<int>(n.size()), n.data(),
                      static_cast<int>(e.size()), e.data()) != 0)
    return nullptr;
  return std::make_shared<const Sexp>(s);
}

void InitGcrypt() {
  static std::once_flag once;
  std::call_once(once, [] {
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
}

Bytes Sha256(const uint8_t* data, size_t len) {
  InitGcrypt();
  Bytes out(32);
  gcry_md_hash_buffer(GCRY_MD_SHA256, out.data(), data, len);
  return out;
}

Bytes RandomBytes(size_t n) {
  InitGcrypt();
  Bytes out(n);
  gcry_randomize(out.data(), n, GCRY_STRONG_RANDOM);
  return out;
}

bool GenerateRsa(unsigned bits, Bytes& privateKey) {
  InitGcrypt();
  gcry_sexp_t params = nullptr, key = nullptr;
  if (gcry_sexp_build(&params, nullptr, "(genkey (rsa (nbits %u)))", bits) != 0) return false;
  const gcry_error_t err = gcry_pk_genkey(&key, params);
  gcry_sexp_release(params);
  if (err != 0) return false;
  Sexp all(key);
  Sexp priv(gcry_sexp_find_token(all.s, "private-key", 0));
  if (priv.s == nullptr) return false;
  privateKey.resize(gcry_sexp_sprint(priv.s, GCRYSEXP_FMT_CANON, nullptr, 0));
  gcry_sexp_sprint(priv.s, GCRYSEXP_FMT_CANON, privateKey.data(), privateKey.size());
  while (!privateKey.empty() && privateKey.back() == 0) privateKey.pop_back();
  return true;
}

bool PublicFromPrivate(const Bytes& privateKey, Bytes& n, Bytes& e) {
  Sexp key = FromCanonical(privateKey);
  if (key.s == nullptr) return false;
  n = MpiOf(key.s, "n");
  e = MpiOf(key.s, "e");
  return !n.empty() && !e.empty();
}

bool RsaSign(const Bytes& privateKey, const Bytes& digest, Bytes& signature) {
  InitGcrypt();
  Sexp key = FromCanonical(privateKey), data = DigestInput(digest);
  if (key.s == nullptr || data.s == nullptr) return false;
  gcry_sexp_t sig = nullptr;
  if (gcry_pk_sign(&sig, data.s, key.s) != 0) return false;
  Sexp held(sig);
  Bytes s = MpiOf(sig, "s");
  const size_t modulus = ModulusBytes(key);
  if (s.empty() || s.size() > modulus) return false;
  signature.assign(modulus - s.size(), 0);
  signature.insert(signature.end(), s.begin(), s.end());
  return true;
}

namespace {

bool RsaVerifyNow(const Sexp& publicKey, const Bytes& digest, const Bytes& signature) {
  InitGcrypt();
  Sexp data = DigestInput(digest);
  gcry_sexp_t sig = nullptr;
  if (publicKey.s == nullptr || data.s == nullptr ||
      gcry_sexp_build(&sig, nullptr, "(sig-val (rsa (s %b)))", static_cast<int>(signature.size()), signature.data()) != 0)
    return false;
  Sexp held(sig);
  return gcry_pk_verify(sig, data.s, publicKey.s) == 0;
}

}  // namespace

// With the stand-ins' memo on (fuzzing), a signature this key already checked over this digest
// is not checked again; the library's code above this call runs in full either way.
bool RsaVerify(const Sexp& publicKey, const Bytes& digest, const Bytes& signature) {
  standin::Memo* memo = standin::Memo::Process();
  if (memo == nullptr || publicKey.s == nullptr) return RsaVerifyNow(publicKey, digest, signature);
  const standin::MemoKey key = standin::MemoKey("RSA verify").Add(publicKey.s).Add(digest).Add(signature);
  Bytes none;
  const auto compute = [&](Bytes&) { return RsaVerifyNow(publicKey, digest, signature) ? 1 : 0; };
  return standin::Remembered(*memo, key, none, compute) == 1;
}

namespace {

bool RsaDecryptNow(const Bytes& privateKey, const Bytes& in, Bytes& plain) {
  InitGcrypt();
  Sexp key = FromCanonical(privateKey);
  gcry_sexp_t data = nullptr, out = nullptr;
  if (key.s == nullptr || gcry_sexp_build(&data, nullptr, "(enc-val (flags pkcs1) (rsa (a %b)))",
                                          static_cast<int>(in.size()), in.data()) != 0)
    return false;
  Sexp heldData(data);
  if (gcry_pk_decrypt(&out, data, key.s) != 0) return false;
  Sexp held(out);
  gcry_sexp_t value = gcry_sexp_find_token(out, "value", 0);
  size_t len = 0;
  const char* p = value != nullptr ? gcry_sexp_nth_data(value, 1, &len) : nullptr;
  if (p != nullptr) plain.assign(p, p + len);
  if (value != nullptr) gcry_sexp_release(value);
  return p != nullptr;
}

}  // namespace

// With the stand-ins' memo on (fuzzing), a wrapped key this key already unwrapped is not
// decrypted again; the library's code above this call runs in full either way.
bool RsaDecrypt(const Bytes& privateKey, const Bytes& in, Bytes& plain) {
  standin::Memo* memo = standin::Memo::Process();
  if (memo == nullptr) return RsaDecryptNow(privateKey, in, plain);
  const standin::MemoKey key = standin::MemoKey("RSA decrypt").Add(privateKey).Add(in);
  Bytes got;  // the caller's buffer changes only on success, as without the memo
  const auto compute = [&](Bytes& out) { return RsaDecryptNow(privateKey, in, out) ? 1 : 0; };
  if (standin::Remembered(*memo, key, got, compute) != 1) return false;
  plain = std::move(got);
  return true;
}

AesCbcHandle::~AesCbcHandle() {
  if (h_ != nullptr) gcry_cipher_close(h_);
}

gcry_cipher_hd_t AesCbcHandle::Start(const Bytes& key, const Bytes& iv) {
  InitGcrypt();
  if (key.size() != 32 || iv.size() != 16) return nullptr;
  if (h_ == nullptr && gcry_cipher_open(&h_, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_CBC, 0) != 0) h_ = nullptr;
  if (h_ == nullptr || gcry_cipher_setkey(h_, key.data(), key.size()) != 0 || gcry_cipher_setiv(h_, iv.data(), iv.size()) != 0)
    return nullptr;
  return h_;
}

bool AesCbcEncryptInto(AesCbcHandle& aes, const Bytes& key, const Bytes& iv, const uint8_t* in, size_t len, uint8_t* out) {
  gcry_cipher_hd_t h = aes.Start(key, iv);
  if (h == nullptr) return false;
  // Whole blocks straight from the input; the last one padded.
  const size_t whole = len / 16 * 16;
  uint8_t last[16];
  const uint8_t pad = static_cast<uint8_t>(16 - (len - whole));
  std::memset(last, pad, sizeof last);
  if (len > whole) std::memcpy(last, in + whole, len - whole);
  return (whole == 0 || gcry_cipher_encrypt(h, out, whole, in, whole) == 0) &&
         gcry_cipher_encrypt(h, out + whole, 16, last, 16) == 0;
}

bool AesCbcDecryptInto(AesCbcHandle& aes, const Bytes& key, const Bytes& iv, const uint8_t* in, size_t len, uint8_t* out,
                       size_t& plainLen) {
  if (len == 0 || len % 16 != 0) return false;
  gcry_cipher_hd_t h = aes.Start(key, iv);
  if (h == nullptr || gcry_cipher_decrypt(h, out, len, in, len) != 0) return false;
  const uint8_t pad = out[len - 1];
  if (pad == 0 || pad > 16) return false;
  for (size_t i = len - pad; i < len; ++i) {
    if (out[i] != pad) return false;
  }
  plainLen = len - pad;
  return true;
}

}  // namespace cpki1
