// CMS (RFC 5652) EnvelopedData: a random AES-256 key and IV, the content in AES-256-CBC with
// PKCS#7 padding, the key wrapped for every recipient with RSA PKCS#1 v1.5 key transport, each
// recipient named by issuer and serial number. libksba writes and reads the structure; libgcrypt
// does the cryptography. Envelopes of other writers in AES-128/192/256-CBC are read too.
#include <ksba.h>

#include <cstring>
#include <memory>

#include "mplug_internal.h"

namespace mplug {
namespace {

constexpr const char* kAes256Cbc = "2.16.840.1.101.3.4.1.42";
constexpr size_t kBlock = 16;

struct CipherOid {
  const char* oid;
  int algo;
  size_t keyLen;
};
const CipherOid kCiphers[] = {{"2.16.840.1.101.3.4.1.2", GCRY_CIPHER_AES128, 16},
                              {"2.16.840.1.101.3.4.1.22", GCRY_CIPHER_AES192, 24},
                              {kAes256Cbc, GCRY_CIPHER_AES256, 32}};

struct KsbaFree {
  void operator()(void* p) const { ksba_free(p); }
};
template <typename T>
using KsbaPtr = std::unique_ptr<T, KsbaFree>;

// One ksba object set with its release on every path.
struct Ksba {
  ksba_cms_t cms = nullptr;
  ksba_reader_t reader = nullptr;
  ksba_writer_t writer = nullptr;
  std::vector<ksba_cert_t> certs;
  ~Ksba() {
    ksba_cms_release(cms);
    ksba_reader_release(reader);
    ksba_writer_release(writer);
    for (ksba_cert_t c : certs) ksba_cert_release(c);
  }
};

bool AesCbc(bool encrypt, int algo, const Bytes& key, const uint8_t* iv, Bytes& buffer) {
  gcry_cipher_hd_t h = nullptr;
  const bool ok = gcry_cipher_open(&h, algo, GCRY_CIPHER_MODE_CBC, 0) == 0 &&
                  gcry_cipher_setkey(h, key.data(), key.size()) == 0 && gcry_cipher_setiv(h, iv, kBlock) == 0 &&
                  (encrypt ? gcry_cipher_encrypt(h, buffer.data(), buffer.size(), nullptr, 0)
                           : gcry_cipher_decrypt(h, buffer.data(), buffer.size(), nullptr, 0)) == 0;
  gcry_cipher_close(h);
  return ok;
}

// "(enc-val(rsa(a <wrapped key>)))" as libksba wants it, canonical.
std::string EncVal(const Bytes& wrapped) {
  return "(7:enc-val(3:rsa(1:a" + std::to_string(wrapped.size()) + ":" + std::string(wrapped.begin(), wrapped.end()) +
         ")))";
}

Bytes WrappedKey(const unsigned char* encval) {
  Sexp enc;
  const size_t len = gcry_sexp_canon_len(encval, 0, nullptr, nullptr);
  if (len == 0 || gcry_sexp_new(enc.out(), encval, len, 1) != 0) return {};
  Sexp rsa(gcry_sexp_find_token(enc.get(), "rsa", 0));
  Sexp a(rsa ? gcry_sexp_find_token(rsa.get(), "a", 0) : nullptr);
  size_t n = 0;
  const char* p = a ? gcry_sexp_nth_data(a.get(), 1, &n) : nullptr;
  return p ? Bytes(p, p + n) : Bytes();
}

// The RecipientInfo of our certificate: its issuer's name and serial number.
bool IsOwnRecipient(ksba_cms_t cms, int idx, ksba_cert_t own) {
  char* issuer = nullptr;
  ksba_sexp_t serial = nullptr;
  if (ksba_cms_get_issuer_serial(cms, idx, &issuer, &serial) != 0) return false;
  KsbaPtr<char> issuerHold(issuer);
  KsbaPtr<unsigned char> serialHold(serial);
  KsbaPtr<char> ownIssuer(ksba_cert_get_issuer(own, 0));
  KsbaPtr<unsigned char> ownSerial(ksba_cert_get_serial(own));
  if (!issuer || !serial || !ownIssuer || !ownSerial || std::strcmp(issuer, ownIssuer.get()) != 0) return false;
  const size_t a = gcry_sexp_canon_len(serial, 0, nullptr, nullptr);
  return a != 0 && a == gcry_sexp_canon_len(ownSerial.get(), 0, nullptr, nullptr) &&
         std::memcmp(serial, ownSerial.get(), a) == 0;
}

// libksba's output appended to a buffer that keeps its capacity from call to call: a megabyte
// freshly allocated costs more in page faults than its encryption.
int AppendTo(void* buffer, const void* data, size_t len) {
  auto* out = static_cast<Bytes*>(buffer);
  const auto* p = static_cast<const uint8_t*>(data);
  out->insert(out->end(), p, p + len);
  return 0;
}

bool RemovePadding(Bytes& plain) {
  if (plain.empty() || plain.size() % kBlock != 0) return false;
  const uint8_t pad = plain.back();
  if (pad == 0 || pad > kBlock) return false;
  uint8_t diff = 0;
  for (size_t i = plain.size() - pad; i < plain.size(); ++i) diff |= uint8_t(plain[i] ^ pad);
  if (diff != 0) return false;
  plain.resize(plain.size() - pad);
  return true;
}

}  // namespace

int32_t CmsEnvelope(const std::vector<Cert>& recipients, const uint8_t* data, size_t len, EnvelopeBuffers& b) {
  InitLibrary();
  Bytes key(32), iv(kBlock);
  if (!b.random.Fill(key.data(), key.size())) return kCryptoFailure;
  gcry_create_nonce(iv.data(), iv.size());
  const uint8_t pad = uint8_t(kBlock - len % kBlock);
  b.body.assign(data, data + len);
  b.body.insert(b.body.end(), pad, pad);
  // The handle is kept: opening one polls the system under libgcrypt's random pool lock.
  if (b.cbc.h == nullptr && gcry_cipher_open(&b.cbc.h, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_CBC, 0) != 0) {
    b.cbc.h = nullptr;
    return kCryptoFailure;
  }
  if (gcry_cipher_setkey(b.cbc.h, key.data(), key.size()) != 0 || gcry_cipher_setiv(b.cbc.h, iv.data(), kBlock) != 0 ||
      gcry_cipher_encrypt(b.cbc.h, b.body.data(), b.body.size(), nullptr, 0) != 0)
    return kCryptoFailure;

  // libksba copies the encrypted content from the reader into the structure.
  Ksba k;
  b.out.clear();
  b.out.reserve(b.body.size() + 1024 * recipients.size() + 1024);
  bool ok = ksba_cms_new(&k.cms) == 0 && ksba_writer_new(&k.writer) == 0 &&
            ksba_writer_set_cb(k.writer, AppendTo, &b.out) == 0 && ksba_reader_new(&k.reader) == 0 &&
            ksba_reader_set_mem(k.reader, b.body.data(), b.body.size()) == 0 &&
            ksba_cms_set_reader_writer(k.cms, k.reader, k.writer) == 0 &&
            ksba_cms_set_content_type(k.cms, 0, KSBA_CT_ENVELOPED_DATA) == 0 &&
            ksba_cms_set_content_type(k.cms, 1, KSBA_CT_DATA) == 0 &&
            ksba_cms_set_content_enc_algo(k.cms, kAes256Cbc, iv.data(), iv.size()) == 0;
  for (size_t i = 0; ok && i < recipients.size(); ++i) {
    ksba_cert_t c = nullptr;
    ok = ksba_cert_new(&c) == 0;
    if (ok) k.certs.push_back(c);
    Bytes wrapped;
    ok = ok && ksba_cert_init_from_mem(c, recipients[i].Image.data(), recipients[i].Image.size()) == 0 &&
         ksba_cms_add_recipient(k.cms, c) == 0 && RsaEncrypt(recipients[i].KeyText, key, b.random, wrapped);
    ok = ok && ksba_cms_set_enc_val(k.cms, int(i), reinterpret_cast<const unsigned char*>(EncVal(wrapped).data())) == 0;
  }
  ksba_stop_reason_t reason = KSBA_SR_NONE;
  while (ok && reason != KSBA_SR_READY) ok = ksba_cms_build(k.cms, &reason) == 0;
  return ok ? kOk : kCryptoFailure;
}

int32_t CmsOpenEnvelope(const Cert& own, gcry_sexp_t privateKey, const uint8_t* in, size_t len, Bytes& plain) {
  InitLibrary();
  // Every byte belongs to the structure: a cut-short or extended envelope is not one.
  if (!IsOneBerElement(in, len)) return kBadFormat;
  Ksba k;
  ksba_cert_t ownCert = nullptr;
  if (ksba_cert_new(&ownCert) != 0) return kCryptoFailure;
  k.certs.push_back(ownCert);
  if (ksba_cert_init_from_mem(ownCert, own.Image.data(), own.Image.size()) != 0) return kBadFormat;
  plain.clear();
  plain.reserve(len);
  bool ok = ksba_reader_new(&k.reader) == 0 && ksba_reader_set_mem(k.reader, in, len) == 0 &&
            ksba_writer_new(&k.writer) == 0 && ksba_writer_set_cb(k.writer, AppendTo, &plain) == 0 &&
            ksba_cms_new(&k.cms) == 0 && ksba_cms_set_reader_writer(k.cms, k.reader, k.writer) == 0;
  if (!ok) return kCryptoFailure;
  ksba_stop_reason_t reason = KSBA_SR_NONE;
  const CipherOid* cipher = nullptr;
  uint8_t iv[kBlock];
  Bytes key;
  bool addressed = false;
  while (reason != KSBA_SR_READY) {
    if (ksba_cms_parse(k.cms, &reason) != 0) return kBadFormat;
    if (reason == KSBA_SR_GOT_CONTENT && ksba_cms_get_content_type(k.cms, 0) != KSBA_CT_ENVELOPED_DATA)
      return kBadFormat;
    if (reason != KSBA_SR_BEGIN_DATA && reason != KSBA_SR_DETACHED_DATA) continue;
    if (reason == KSBA_SR_DETACHED_DATA) return kBadFormat;  // an envelope carries its content
    const char* oid = ksba_cms_get_content_oid(k.cms, 2);
    for (const CipherOid& c : kCiphers)
      if (oid != nullptr && std::strcmp(oid, c.oid) == 0) cipher = &c;
    size_t ivLen = 0;
    if (cipher == nullptr || ksba_cms_get_content_enc_iv(k.cms, iv, sizeof iv, &ivLen) != 0 || ivLen != kBlock)
      return kBadFormat;
    for (int idx = 0; !addressed; ++idx) {
      KsbaPtr<unsigned char> encval(ksba_cms_get_enc_val(k.cms, idx));
      if (!encval) break;
      if (!IsOwnRecipient(k.cms, idx, ownCert)) continue;
      addressed = true;
      // A key of the wrong length reads as a damaged envelope, like a wrong key would.
      if (!RsaDecrypt(privateKey, WrappedKey(encval.get()), key) || key.size() != cipher->keyLen) key.clear();
    }
    if (!addressed) return kNotRecipient;
  }
  if (cipher == nullptr) return kBadFormat;
  if (key.empty()) return kBadSignature;
  if (!AesCbc(false, cipher->algo, key, iv, plain) || !RemovePadding(plain)) return kBadSignature;
  return kOk;
}

}  // namespace mplug
