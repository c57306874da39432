#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <map>
#include <mutex>
#include <utility>

#include "internal.h"

namespace zk::osslkit {

using detail::Check;

PkeyPtr Share(EVP_PKEY* key) {
  Check(EVP_PKEY_up_ref(key), "EVP_PKEY_up_ref");
  return PkeyPtr(key);
}

X509Ptr Share(X509* cert) {
  Check(X509_up_ref(cert), "X509_up_ref");
  return X509Ptr(cert);
}

PkeyPtr GenerateRsaKey(int bits) {
  return PkeyPtr(Check(EVP_RSA_gen(static_cast<unsigned int>(bits)), "EVP_RSA_gen"));
}

PkeyPtr PooledRsaKey(int bits, const std::string& label) {
  static std::mutex lock;
  static std::map<std::pair<int, std::string>, PkeyPtr> pool;
  std::lock_guard<std::mutex> guard(lock);
  PkeyPtr& slot = pool[{bits, label}];
  if (!slot) slot = GenerateRsaKey(bits);
  return Share(slot.get());
}

Bytes PrivateKeyDer(EVP_PKEY* key) {
  if (EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) throw Error("PrivateKeyDer: not an RSA key");
  // For RSA, i2d_PrivateKey writes the type-specific structure: PKCS#1 RSAPrivateKey.
  unsigned char* der = nullptr;
  const int len = i2d_PrivateKey(key, &der);
  if (len <= 0) detail::ThrowOpenSsl("i2d_PrivateKey");
  Bytes out(der, der + len);
  OPENSSL_clear_free(der, size_t(len));
  return out;
}

std::string KeyFileText(EVP_PKEY* key, size_t wrap_width, Eol eol) {
  Bytes der = PrivateKeyDer(key);
  std::string base64(4 * ((der.size() + 2) / 3) + 1, '\0');
  const int len = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&base64[0]), der.data(), int(der.size()));
  OPENSSL_cleanse(der.data(), der.size());
  base64.resize(size_t(len));
  if (wrap_width == 0) return base64;

  const char* line_end = eol == Eol::kCrLf ? "\r\n" : "\n";
  std::string text;
  for (size_t off = 0; off < base64.size(); off += wrap_width) {
    text += base64.substr(off, wrap_width);
    text += line_end;
  }
  OPENSSL_cleanse(&base64[0], base64.size());
  return text;
}

PkeyPtr KeyFromFileText(const std::string& text) {
  std::string base64;
  for (char c : text)
    if (c != '\r' && c != '\n') base64 += c;
  if (base64.empty() || base64.size() % 4 != 0) throw Error("key file: Base64 text has a bad length");
  Bytes der(base64.size() / 4 * 3);
  int len = EVP_DecodeBlock(der.data(), reinterpret_cast<const unsigned char*>(base64.data()), int(base64.size()));
  if (len < 0) detail::ThrowOpenSsl("key file: bad Base64");
  // EVP_DecodeBlock counts the bytes that "=" padding stands for; drop them.
  for (size_t i = base64.size(); i-- > 0 && base64[i] == '=';) --len;
  const unsigned char* p = der.data();
  EVP_PKEY* key = d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, len);
  OPENSSL_cleanse(der.data(), der.size());
  return PkeyPtr(Check(key, "key file: d2i_PrivateKey"));
}

}  // namespace zk::osslkit
