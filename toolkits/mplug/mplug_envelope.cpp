// CMS (RFC 5652) EnvelopedData: a random AES-256 key and IV, the content in AES-256-CBC with
// PKCS#7 padding, the key wrapped for every recipient with RSA PKCS#1 v1.5 key transport, each
// recipient named by issuer and serial number. The envelope is written in DER by hand around the
// content, encrypted in the caller's buffer (a megabyte copied costs as much as a tenth of its
// encryption). Envelopes in that layout that name our certificate by its exact bytes are read
// here; libksba reads every other one. libgcrypt does the cryptography. Envelopes of other
// writers in AES-128/192/256-CBC are read too.
#include <ksba.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "mplug_internal.h"
#include "standin.h"
#include "standin_der.h"
#include "standin_memo.h"

namespace mplug {
namespace {

namespace der = standin::der;

constexpr const char* kAes256Cbc = "2.16.840.1.101.3.4.1.42";
constexpr size_t kBlock = 16;
constexpr size_t kChunk = 32768;  // a multiple of kBlock
// Whole DER elements: the OIDs of envelopedData, data and aes256-CBC; rsaEncryption with NULL.
const char kEnvelopedDataOid[] = "\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x07\x03";
const char kDataOid[] = "\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x07\x01";
const char kAes256CbcOid[] = "\x06\x09\x60\x86\x48\x01\x65\x03\x04\x01\x2a";
const char kRsaEncryption[] = "\x30\x0d\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x01\x01\x05\x00";

template <size_t N>
Bytes Whole(const char (&element)[N]) {
  return Bytes(element, element + N - 1);
}

struct CipherOid {
  const char* oid;
  const char* content;  // the OID's content octets
  int algo;
  size_t keyLen;
};
const CipherOid kCiphers[] = {
    {"2.16.840.1.101.3.4.1.2", "\x60\x86\x48\x01\x65\x03\x04\x01\x02", GCRY_CIPHER_AES128, 16},
    {"2.16.840.1.101.3.4.1.22", "\x60\x86\x48\x01\x65\x03\x04\x01\x16", GCRY_CIPHER_AES192, 24},
    {kAes256Cbc, "\x60\x86\x48\x01\x65\x03\x04\x01\x2a", GCRY_CIPHER_AES256, 32}};
constexpr size_t kCipherOidLength = 9;

// Envelopes libksba refused before it reached their recipients, by their exact bytes: what it
// refused then it refuses again, and libksba 1.6.3 keeps part of its parse tree with some such
// refusals, so an envelope sent again is refused without being handed to it. Up to that point
// nothing depends on the reader's certificate or key. Bounded by count and by size.
constexpr size_t kRefusedKept = 256;
constexpr size_t kRefusedLargest = 64 * 1024;

standin::Memo& Refused() {
  static standin::Immortal<standin::Memo> refused(kRefusedKept);
  return refused.get();
}

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
  ~Ksba() {
    ksba_cms_release(cms);
    ksba_reader_release(reader);
    ksba_writer_release(writer);
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

// What the reader's own certificate gives to find its RecipientInfo, as libksba reads it: its
// issuer's name and its serial number (canonical S-expression), each absent when libksba gives
// none. Read once per certificate, by its exact bytes: libksba parsing the certificate again
// for every envelope cost more than the rest of most envelopes.
struct OwnName {
  bool hasIssuer = false;
  std::string issuer;
  Bytes serial;  // empty: none
  Bytes rid;     // IssuerAndSerialNumber as this stand-in names a recipient; empty: none
};
using OwnNamePtr = std::shared_ptr<const OwnName>;

struct OwnNames {
  std::mutex lock;
  std::map<std::string, OwnNamePtr> byImage;
};
constexpr size_t kOwnNamesKept = 64;

// kOk, kBadFormat when libksba refuses the certificate, or kCryptoFailure.
int32_t OwnNameOf(const std::string& image, OwnNamePtr& out) {
  static standin::Immortal<OwnNames> kept;
  OwnNames& names = kept.get();
  {
    std::lock_guard<std::mutex> hold(names.lock);
    const auto it = names.byImage.find(image);
    if (it != names.byImage.end()) {
      out = it->second;
      return kOk;
    }
  }
  ksba_cert_t cert = nullptr;
  if (ksba_cert_new(&cert) != 0) return kCryptoFailure;
  struct Release {
    ksba_cert_t c;
    ~Release() { ksba_cert_release(c); }
  } release{cert};
  if (ksba_cert_init_from_mem(cert, image.data(), image.size()) != 0) return kBadFormat;
  auto name = std::make_shared<OwnName>();
  KsbaPtr<char> issuer(ksba_cert_get_issuer(cert, 0));
  KsbaPtr<unsigned char> serial(ksba_cert_get_serial(cert));
  if (issuer) name->hasIssuer = true, name->issuer = issuer.get();
  const size_t serialLen = serial ? gcry_sexp_canon_len(serial.get(), 0, nullptr, nullptr) : 0;
  name->serial.assign(serial.get(), serial.get() + serialLen);
  if (!IssuerAndSerialDer(image, name->rid)) name->rid.clear();
  std::lock_guard<std::mutex> hold(names.lock);
  if (names.byImage.size() >= kOwnNamesKept) names.byImage.clear();
  names.byImage[image] = name;
  out = name;
  return kOk;
}

// The RecipientInfo of our certificate: its issuer's name and serial number.
bool IsOwnRecipient(ksba_cms_t cms, int idx, const OwnName& own) {
  char* issuer = nullptr;
  ksba_sexp_t serial = nullptr;
  if (ksba_cms_get_issuer_serial(cms, idx, &issuer, &serial) != 0) return false;
  KsbaPtr<char> issuerHold(issuer);
  KsbaPtr<unsigned char> serialHold(serial);
  if (!issuer || !serial || !own.hasIssuer || own.serial.empty() || std::strcmp(issuer, own.issuer.c_str()) != 0)
    return false;
  const size_t a = gcry_sexp_canon_len(serial, 0, nullptr, nullptr);
  return a != 0 && a == own.serial.size() && std::memcmp(serial, own.serial.data(), a) == 0;
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

// Encrypts data[0, len) to data[shift, shift + len) in CBC order. Each chunk of the input is saved
// before the output of the chunk ahead of it overwrites it: a cache-sized copy instead of moving
// the whole content first.
bool EncryptForward(EnvelopeBuffers& b, uint8_t* data, size_t len, size_t shift) {
  const size_t chunk = std::max<size_t>(kChunk, (shift + kBlock - 1) / kBlock * kBlock);
  b.chunks[0].resize(chunk);
  b.chunks[1].resize(chunk);
  uint8_t* current = b.chunks[0].data();
  uint8_t* next = b.chunks[1].data();
  std::memcpy(current, data, std::min(chunk, len));
  for (size_t at = 0; at < len; at += chunk) {
    const size_t n = std::min(chunk, len - at);
    // The outputs so far end at shift + at <= at + chunk: the next chunk is still whole.
    if (at + n < len) std::memcpy(next, data + at + n, std::min(chunk, len - at - n));
    if (gcry_cipher_encrypt(b.cbc.h, data + shift + at, n, current, n) != 0) return false;
    std::swap(current, next);
  }
  return true;
}

// The RecipientInfos SET: for each certificate { 0, issuerAndSerialNumber, rsaEncryption, the
// wrapped key }, in DER order.
int32_t RecipientInfos(const std::vector<Cert>& recipients, const Bytes& key, KeySource& random, Bytes& out) {
  std::vector<Bytes> infos;
  for (const Cert& cert : recipients) {
    Bytes rid, wrapped;
    if (!IssuerAndSerialDer(cert.Image, rid)) return kBadFormat;
    if (!RsaEncrypt(cert.KeyText, key, random, wrapped)) return kCryptoFailure;
    infos.push_back(der::Seq({der::SmallInt(0), rid, Whole(kRsaEncryption), der::Octets(wrapped)}));
  }
  out = der::Set(std::move(infos));
  return kOk;
}

// ContentInfo { envelopedData, [0] EnvelopedData { 0, infos, { data, aes256-CBC iv, [0] content } } }
// in DER up to the first byte of the encrypted content, whose length is known beforehand.
Bytes EnvelopeHeader(const Bytes& infos, const Bytes& iv, size_t contentLength) {
  // Each level's length counts the content that follows the returned bytes.
  const auto wrap = [contentLength](uint8_t tag, const Bytes& part) {
    return der::Concat({der::Header(tag, part.size() + contentLength), part});
  };
  const Bytes algorithm = der::Seq({Whole(kAes256CbcOid), der::Octets(iv)});
  const Bytes encrypted = wrap(0x30, der::Concat({Whole(kDataOid), algorithm, der::Header(0x80, contentLength)}));
  const Bytes enveloped = wrap(0x30, der::Concat({der::SmallInt(0), infos, encrypted}));
  return wrap(0x30, der::Concat({Whole(kEnvelopedDataOid), wrap(0xa0, enveloped)}));
}

// The content at data[offset, offset + length) decrypted to data[0, ...), chunk by chunk through a
// small buffer. The last block is decrypted first: a bad padding refuses the envelope before any
// byte of it is overwritten.
int32_t DecryptInPlace(int algo, const Bytes& key, const uint8_t* iv, uint8_t* data, size_t offset, size_t length,
                       EnvelopeBuffers& b, size_t& plainLen) {
  if (length == 0 || length % kBlock != 0) return kBadSignature;
  const uint8_t* content = data + offset;
  Bytes last(content + length - kBlock, content + length);
  if (!AesCbc(false, algo, key, length > kBlock ? content + length - 2 * kBlock : iv, last) || !RemovePadding(last))
    return kBadSignature;
  gcry_cipher_hd_t h = nullptr;
  bool ok = gcry_cipher_open(&h, algo, GCRY_CIPHER_MODE_CBC, 0) == 0 &&
            gcry_cipher_setkey(h, key.data(), key.size()) == 0 && gcry_cipher_setiv(h, iv, kBlock) == 0;
  b.chunks[0].resize(kChunk);
  for (size_t at = 0; ok && at < length; at += kChunk) {
    const size_t n = std::min(kChunk, length - at);
    std::memcpy(b.chunks[0].data(), content + at, n);
    ok = gcry_cipher_decrypt(h, data + at, n, b.chunks[0].data(), n) == 0;
  }
  gcry_cipher_close(h);
  if (!ok) return kCryptoFailure;
  plainLen = length - (kBlock - last.size());
  return kOk;
}

// An envelope in the usual layout that names our certificate by its exact bytes, opened without
// libksba, whose parse costs more than the rest of a small envelope. false, with nothing done,
// for any other envelope: libksba reads it, and also finds us named in another encoding.
bool OpenUsualEnvelope(const OwnName& own, gcry_sexp_t privateKey, uint8_t* data, size_t len, EnvelopeBuffers& b,
                       size_t& plainLen, int32_t& result) {
  UsualEnvelope e;
  if (own.rid.empty() || !ReadUsualEnvelope(data, len, e)) return false;
  const CipherOid* cipher = nullptr;
  for (const CipherOid& c : kCiphers) {
    if (e.cipherOidLength == kCipherOidLength && std::memcmp(e.cipherOid, c.content, kCipherOidLength) == 0)
      cipher = &c;
  }
  if (cipher == nullptr) return false;
  for (const UsualEnvelope::Recipient& r : e.recipients) {
    if (r.ridLength != own.rid.size() || std::memcmp(r.rid, own.rid.data(), r.ridLength) != 0) continue;
    Bytes key;
    // A key of the wrong length reads as a damaged envelope, like a wrong key would.
    if (!RsaDecrypt(privateKey, Bytes(r.wrapped, r.wrapped + r.wrappedLength), key) || key.size() != cipher->keyLen)
      result = kBadSignature;
    else
      result = DecryptInPlace(cipher->algo, key, e.iv, data, e.contentOffset, e.contentLength, b, plainLen);
    return true;
  }
  return false;
}

}  // namespace

int32_t CmsEnvelope(const std::vector<Cert>& recipients, uint8_t* data, size_t len, size_t capacity,
                    EnvelopeBuffers& b, size_t& outLen) {
  InitLibrary();
  Bytes key(32), iv(kBlock);
  if (!b.random.Fill(key.data(), key.size())) return kCryptoFailure;
  gcry_create_nonce(iv.data(), iv.size());
  // The handle is kept: opening one polls the system under libgcrypt's random pool lock.
  if (b.cbc.h == nullptr && gcry_cipher_open(&b.cbc.h, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_CBC, 0) != 0) {
    b.cbc.h = nullptr;
    return kCryptoFailure;
  }
  if (gcry_cipher_setkey(b.cbc.h, key.data(), key.size()) != 0 || gcry_cipher_setiv(b.cbc.h, iv.data(), kBlock) != 0)
    return kCryptoFailure;
  Bytes infos;
  if (int32_t r = RecipientInfos(recipients, key, b.random, infos)) return r;
  const size_t padded = len + kBlock - len % kBlock;
  const Bytes header = EnvelopeHeader(infos, iv, padded);
  if (padded > capacity || header.size() > capacity - padded) return kTooLong;
  // Everything that can fail is done: the content is encrypted behind the header, in the caller's buffer.
  std::memset(data + len, int(padded - len), padded - len);
  if (!EncryptForward(b, data, padded, header.size())) return kCryptoFailure;
  std::memcpy(data, header.data(), header.size());
  outLen = header.size() + padded;
  return kOk;
}

int32_t CmsOpenEnvelope(const Cert& own, gcry_sexp_t privateKey, uint8_t* data, size_t len, EnvelopeBuffers& b,
                        size_t& plainLen) {
  const uint8_t* in = data;
  InitLibrary();
  // Every byte belongs to the structure: a cut-short or extended envelope is not one.
  if (!IsOneBerElement(in, len)) return kBadFormat;
  const bool rememberable = len <= kRefusedLargest;
  const standin::MemoKey refusal = standin::MemoKey("envelope").Add(in, rememberable ? len : 0);
  {
    int status = 0;
    standin::Memo::Result none;
    if (rememberable && Refused().Find(refusal, status, none)) return status;
  }
  OwnNamePtr ownName;
  if (int32_t r = OwnNameOf(own.Image, ownName)) return r;
  int32_t opened = kOk;
  if (OpenUsualEnvelope(*ownName, privateKey, data, len, b, plainLen, opened)) return opened;
  Ksba k;
  Bytes& plain = b.body;
  plain.clear();
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
    if (ksba_cms_parse(k.cms, &reason) != 0) {
      if (rememberable && !addressed) Refused().Add(refusal, kBadFormat, {});
      return kBadFormat;
    }
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
      if (!IsOwnRecipient(k.cms, idx, *ownName)) continue;
      addressed = true;
      // A key of the wrong length reads as a damaged envelope, like a wrong key would.
      if (!RsaDecrypt(privateKey, WrappedKey(encval.get()), key) || key.size() != cipher->keyLen) key.clear();
    }
    if (!addressed) return kNotRecipient;
    // The usual layout is decrypted where it lies, without libksba copying the content out.
    size_t offset = 0, length = 0;
    if (!key.empty() && EnvelopeContentAtEnd(data, len, offset, length))
      return DecryptInPlace(cipher->algo, key, iv, data, offset, length, b, plainLen);
  }
  if (cipher == nullptr) return kBadFormat;
  if (key.empty()) return kBadSignature;
  if (!AesCbc(false, cipher->algo, key, iv, plain) || !RemovePadding(plain)) return kBadSignature;
  if (!plain.empty()) std::memcpy(data, plain.data(), plain.size());
  plainLen = plain.size();
  return kOk;
}

}  // namespace mplug
