#include <openssl/x509v3.h>

#include "internal.h"

namespace zk::osslkit {
namespace {

using detail::Check;

void SetCommonName(X509* cert, const std::string& common_name) {
  X509_NAME* name = X509_get_subject_name(cert);
  Check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(common_name.c_str()), -1, -1, 0),
        "X509_NAME_add_entry_by_txt");
}

void AddExtension(X509* cert, X509V3_CTX* ctx, int nid, const char* value) {
  X509_EXTENSION* ext = Check(X509V3_EXT_conf_nid(nullptr, ctx, nid, value), "X509V3_EXT_conf_nid");
  const int added = X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
  Check(added, "X509_add_ext");
}

void AddExtensions(X509* cert, const X509* issuer, bool is_ca) {
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, const_cast<X509*>(issuer ? issuer : cert), cert, nullptr, nullptr, 0);
  if (is_ca) {
    AddExtension(cert, &ctx, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert, &ctx, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(cert, &ctx, NID_basic_constraints, "CA:FALSE");
    AddExtension(cert, &ctx, NID_key_usage, "digitalSignature,keyEncipherment");
  }
  AddExtension(cert, &ctx, NID_subject_key_identifier, "hash");
  // A self-issued certificate has no other key to point to.
  if (issuer) AddExtension(cert, &ctx, NID_authority_key_identifier, "keyid:always");
}

struct TimeFree { void operator()(ASN1_TIME* t) const { ASN1_TIME_free(t); } };
using TimePtr = std::unique_ptr<ASN1_TIME, TimeFree>;

TimePtr TimeFromNow(long offset_seconds) {
  return TimePtr(Check(X509_gmtime_adj(nullptr, offset_seconds), "X509_gmtime_adj"));
}

void AddRevoked(X509_CRL* crl, const Bytes& serial_bytes, const ASN1_TIME* date) {
  std::unique_ptr<X509_REVOKED, decltype(&X509_REVOKED_free)> entry(Check(X509_REVOKED_new(), "X509_REVOKED_new"),
                                                                    X509_REVOKED_free);
  ASN1_INTEGER* serial = detail::NewSerial(serial_bytes);
  const int serial_set = X509_REVOKED_set_serialNumber(entry.get(), serial);
  ASN1_INTEGER_free(serial);
  Check(serial_set, "X509_REVOKED_set_serialNumber");
  Check(X509_REVOKED_set_revocationDate(entry.get(), const_cast<ASN1_TIME*>(date)), "revocationDate");
  Check(X509_CRL_add0_revoked(crl, entry.get()), "X509_CRL_add0_revoked");
  entry.release();  // owned by the CRL now
}

// Everything but the public key, the extensions and the signature.
X509Ptr NewCertBody(const CertSpec& spec, const X509* issuer) {
  X509Ptr cert(Check(X509_new(), "X509_new"));
  Check(X509_set_version(cert.get(), X509_VERSION_3), "X509_set_version");
  ASN1_INTEGER* serial = detail::NewSerial(spec.serial);
  const int serial_set = X509_set_serialNumber(cert.get(), serial);
  ASN1_INTEGER_free(serial);
  Check(serial_set, "X509_set_serialNumber");
  Check(X509_gmtime_adj(X509_getm_notBefore(cert.get()), spec.not_before_offset), "notBefore");
  Check(X509_gmtime_adj(X509_getm_notAfter(cert.get()), spec.not_after_offset), "notAfter");
  SetCommonName(cert.get(), spec.common_name);
  const X509_NAME* issuer_name = X509_get_subject_name(issuer ? issuer : cert.get());
  Check(X509_set_issuer_name(cert.get(), issuer_name), "X509_set_issuer_name");
  return cert;
}

void SignCert(X509* cert, const CertSpec& spec, const X509* issuer, EVP_PKEY* signing_key) {
  AddExtensions(cert, issuer, spec.is_ca);
  Check(X509_sign(cert, signing_key, EVP_sha256()), "X509_sign");
}

}  // namespace

X509Ptr MakeCert(const CertSpec& spec, EVP_PKEY* subject_key, const X509* issuer, EVP_PKEY* signing_key) {
  X509Ptr cert = NewCertBody(spec, issuer);
  Check(X509_set_pubkey(cert.get(), subject_key), "X509_set_pubkey");
  SignCert(cert.get(), spec, issuer, signing_key);
  return cert;
}

namespace detail {

X509Ptr MakeCertCopyingKey(const CertSpec& spec, const X509* key_source, const X509* issuer, EVP_PKEY* signing_key) {
  X509Ptr cert = NewCertBody(spec, issuer);
  ASN1_OBJECT* algorithm = nullptr;
  const unsigned char* key_bits = nullptr;
  int key_len = 0;
  Check(X509_PUBKEY_get0_param(&algorithm, &key_bits, &key_len, nullptr, X509_get_X509_PUBKEY(key_source)),
        "X509_PUBKEY_get0_param");
  if (OBJ_obj2nid(algorithm) != NID_rsaEncryption) throw Error("MakeCertCopyingKey: not an RSA key");
  auto* copy = static_cast<unsigned char*>(Check(OPENSSL_memdup(key_bits, size_t(key_len)), "OPENSSL_memdup"));
  if (!X509_PUBKEY_set0_param(X509_get_X509_PUBKEY(cert.get()), OBJ_nid2obj(NID_rsaEncryption), V_ASN1_NULL,
                              nullptr, copy, key_len)) {
    OPENSSL_free(copy);
    ThrowOpenSsl("X509_PUBKEY_set0_param");
  }
  SignCert(cert.get(), spec, issuer, signing_key);
  return cert;
}

}  // namespace detail

X509Ptr MakeCaCert(EVP_PKEY* ca_key, const std::string& common_name, const Bytes& serial) {
  CertSpec spec;
  spec.serial = serial;
  spec.common_name = common_name;
  spec.not_after_offset = 10L * 365 * 24 * 3600;
  spec.is_ca = true;
  return MakeCert(spec, ca_key, nullptr, ca_key);
}

std::string SerialUid(const X509* cert) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string uid;
  for (uint8_t b : detail::SerialContent(X509_get0_serialNumber(cert))) {
    uid += kDigits[b >> 4];
    uid += kDigits[b & 0x0F];
  }
  return uid;
}

CrlPtr MakeCrl(const CrlSpec& spec, const X509* issuer, EVP_PKEY* signing_key) {
  CrlPtr crl(Check(X509_CRL_new(), "X509_CRL_new"));
  Check(X509_CRL_set_version(crl.get(), 1), "X509_CRL_set_version");  // v2
  Check(X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(issuer)), "X509_CRL_set_issuer_name");

  const TimePtr last = TimeFromNow(spec.last_update_offset);
  Check(X509_CRL_set1_lastUpdate(crl.get(), last.get()), "X509_CRL_set1_lastUpdate");
  if (spec.next_update_offset)
    Check(X509_CRL_set1_nextUpdate(crl.get(), TimeFromNow(*spec.next_update_offset).get()),
          "X509_CRL_set1_nextUpdate");
  for (const Bytes& serial : spec.revoked) AddRevoked(crl.get(), serial, last.get());

  Check(X509_CRL_sort(crl.get()), "X509_CRL_sort");
  Check(X509_CRL_sign(crl.get(), signing_key, EVP_sha256()), "X509_CRL_sign");
  return crl;
}

}  // namespace zk::osslkit
