// Detached CMS SignedData (RFC 5652): SHA-256 with signed attributes, the signer's certificate
// included, RSA PKCS#1 v1.5; written by libksba, read by the stand-in's BER reader, cryptography
// by libgcrypt.
#include <ksba.h>

#include <cstring>
#include <ctime>
#include <memory>

#include "mplug_internal.h"
#include "standin.h"

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
      const std::tm tm = standin::UtcCalendar(t);
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

// Read with the stand-in's own BER reader: libksba's parse tree costs more than the signature
// check, and the reader checks every field anyway.
int32_t CmsVerify(const uint8_t* sig, size_t sigLen, const uint8_t* data, size_t len, Cert& signer) {
  InitLibrary();
  SignedParts parts;
  if (int32_t r = ReadSignedData(sig, sigLen, parts)) return r;
  if (ParseCert(parts.certificate, signer) != kOk) return kBadFormat;
  const bool ok = Sha256(data, len) == parts.messageDigest &&
                  VerifyWith(signer, Sha256(parts.signedAttributes.data(), parts.signedAttributes.size()),
                             parts.signature);
  return ok ? kOk : kBadSignature;
}

}  // namespace mplug
