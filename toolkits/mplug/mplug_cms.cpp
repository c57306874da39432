// Detached CMS SignedData (RFC 5652): SHA-256 with signed attributes, the signer's certificate
// included, RSA PKCS#1 v1.5; structures written and read by libksba, cryptography by libgcrypt.
#include <ksba.h>

#include <cstring>
#include <ctime>
#include <memory>

#include "mplug_internal.h"

namespace mplug {
namespace {

constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";
// id-data, as it closes the encapsulated content info.
const uint8_t kIdData[] = {0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x07, 0x01};
// libksba opens an eContent even when no content follows; a detached signature has none.
const uint8_t kEmptyContent[] = {0xa0, 0x80, 0x00, 0x00};

void HashInto(void* md, const void* data, size_t len) { gcry_md_write(static_cast<gcry_md_hd_t>(md), data, len); }

struct Md {
  gcry_md_hd_t h = nullptr;
  Md() { gcry_md_open(&h, GCRY_MD_SHA256, 0); }
  ~Md() { gcry_md_close(h); }
  Bytes Digest() { return h ? Bytes(gcry_md_read(h, 0), gcry_md_read(h, 0) + 32) : Bytes(); }
};

bool DropEmptyContent(Bytes& ber) {
  for (size_t i = 0; i + sizeof kIdData + sizeof kEmptyContent <= ber.size(); ++i) {
    if (std::memcmp(ber.data() + i, kIdData, sizeof kIdData) != 0) continue;
    uint8_t* at = ber.data() + i + sizeof kIdData;
    if (std::memcmp(at, kEmptyContent, sizeof kEmptyContent) != 0) return false;
    ber.erase(ber.begin() + long(i + sizeof kIdData), ber.begin() + long(i + sizeof kIdData + sizeof kEmptyContent));
    return true;
  }
  return false;
}

Bytes SValue(const unsigned char* sigval) {
  Sexp sig;
  const size_t len = gcry_sexp_canon_len(sigval, 0, nullptr, nullptr);
  if (len == 0 || gcry_sexp_new(sig.out(), sigval, len, 1) != 0) return {};
  Sexp s(gcry_sexp_find_token(sig.get(), "s", 0));
  size_t n = 0;
  const char* p = s ? gcry_sexp_nth_data(s.get(), 1, &n) : nullptr;
  return p ? Bytes(p, p + n) : Bytes();
}

}  // namespace

int32_t CmsSign(const Cert& cert, gcry_sexp_t key, const uint8_t* data, size_t len, Bytes& out) {
  InitLibrary();
  ksba_cert_t kc = nullptr;
  ksba_cms_t cms = nullptr;
  ksba_writer_t w = nullptr;
  Md attrs;
  const Bytes digest = Sha256(data, len);
  bool ok = ksba_cert_new(&kc) == 0 && ksba_cert_init_from_mem(kc, cert.Image.data(), cert.Image.size()) == 0 &&
            ksba_cms_new(&cms) == 0 && ksba_writer_new(&w) == 0 && ksba_writer_set_mem(w, 4096) == 0 &&
            ksba_cms_set_reader_writer(cms, nullptr, w) == 0 &&
            ksba_cms_set_content_type(cms, 0, KSBA_CT_SIGNED_DATA) == 0 &&
            ksba_cms_set_content_type(cms, 1, KSBA_CT_DATA) == 0 && ksba_cms_add_signer(cms, kc) == 0 &&
            ksba_cms_add_cert(cms, kc) == 0 && ksba_cms_add_digest_algo(cms, kSha256) == 0;
  ksba_stop_reason_t reason = KSBA_SR_NONE;
  while (ok && reason != KSBA_SR_READY) {
    ok = ksba_cms_build(cms, &reason) == 0;
    if (ok && reason == KSBA_SR_BEGIN_DATA) {
      ksba_isotime_t now;
      const std::time_t t = std::time(nullptr);
      std::tm tm{};
#if defined(_WIN32)
      gmtime_s(&tm, &t);
#else
      gmtime_r(&t, &tm);
#endif
      std::strftime(now, sizeof now, "%Y%m%dT%H%M%S", &tm);
      ok = ksba_cms_set_message_digest(cms, 0, digest.data(), digest.size()) == 0 &&
           ksba_cms_set_signing_time(cms, 0, now) == 0;
    } else if (ok && reason == KSBA_SR_NEED_SIG) {
      ksba_cms_set_hash_function(cms, HashInto, attrs.h);
      Bytes sig;
      ok = ksba_cms_hash_signed_attrs(cms, 0) == 0 && RsaSignDigest(key, attrs.Digest(), sig);
      const std::string sigval =
          "(7:sig-val(3:rsa(1:s" + std::to_string(sig.size()) + ":" + std::string(sig.begin(), sig.end()) + ")))";
      ok = ok && ksba_cms_set_sig_val(cms, 0, reinterpret_cast<const unsigned char*>(sigval.data())) == 0;
    }
  }
  if (ok) {
    size_t n = 0;
    const auto* p = static_cast<const uint8_t*>(ksba_writer_get_mem(w, &n));
    ok = p != nullptr;
    if (ok) out.assign(p, p + n);
    ok = ok && DropEmptyContent(out);
  }
  ksba_cms_release(cms);
  ksba_writer_release(w);
  ksba_cert_release(kc);
  return ok ? kOk : kCryptoFailure;
}

int32_t CmsVerify(const uint8_t* sig, size_t sigLen, const uint8_t* data, size_t len, Cert& signer) {
  InitLibrary();
  ksba_reader_t r = nullptr;
  ksba_cms_t cms = nullptr;
  int32_t result = kBadFormat;
  Md attrs;
  ksba_stop_reason_t reason = KSBA_SR_NONE;
  bool ok = IsOneBerElement(sig, sigLen) && ksba_reader_new(&r) == 0 && ksba_reader_set_mem(r, sig, sigLen) == 0 &&
            ksba_cms_new(&cms) == 0 &&
            ksba_cms_set_reader_writer(cms, r, nullptr) == 0;
  while (ok && reason != KSBA_SR_READY) {
    ok = ksba_cms_parse(cms, &reason) == 0;
    if (reason == KSBA_SR_BEGIN_DATA) ok = false;  // only detached signatures
  }
  // Every byte belongs to the structure: a cut-short or extended signature is not one.
  if (ok && ksba_reader_tell(r) != sigLen) {
    ok = false;
    result = kBadFormat;
  }
  // Only SHA-256 may be announced, although the list is outside what the signature covers.
  if (ok && (ksba_cms_get_digest_algo_list(cms, 0) == nullptr ||
             std::strcmp(ksba_cms_get_digest_algo_list(cms, 0), kSha256) != 0 ||
             ksba_cms_get_digest_algo_list(cms, 1) != nullptr))
    ok = false;
  char* digest = nullptr;
  size_t digestLen = 0;
  ksba_cert_t kc = nullptr;
  if (ok && ksba_cms_get_content_type(cms, 0) == KSBA_CT_SIGNED_DATA) {
    const char* algo = ksba_cms_get_digest_algo(cms, 0);
    kc = ksba_cms_get_cert(cms, 0);
    ok = algo != nullptr && std::strcmp(algo, kSha256) == 0 && kc != nullptr &&
         ksba_cms_get_message_digest(cms, 0, &digest, &digestLen) == 0;
    size_t imageLen = 0;
    const unsigned char* image = kc ? ksba_cert_get_image(kc, &imageLen) : nullptr;
    ok = ok && image != nullptr &&
         ParseCert(std::string(reinterpret_cast<const char*>(image), imageLen), signer) == kOk &&
         SignedDataShapeValid(sig, sigLen, signer.Image);
    if (ok) {
      const Bytes expected = Sha256(data, len);
      ksba_cms_set_hash_function(cms, HashInto, attrs.h);
      std::unique_ptr<unsigned char, void (*)(void*)> sigval(ksba_cms_get_sig_val(cms, 0), ksba_free);
      result = digestLen == 32 && std::memcmp(digest, expected.data(), 32) == 0 && sigval &&
                       ksba_cms_hash_signed_attrs(cms, 0) == 0 &&
                       RsaVerifyDigest(signer.KeyText, attrs.Digest(), SValue(sigval.get()))
                   ? kOk
                   : kBadSignature;
    }
  } else if (ok) {
    result = kNoSignature;
  }
  ksba_free(digest);
  ksba_cert_release(kc);
  ksba_cms_release(cms);
  ksba_reader_release(r);
  return result;
}

}  // namespace mplug
