// Certificates and CRLs the engine's tests depend on: serials as given, the verification outcomes
// that the engine maps to its codes, revocation lists, and the DER and PEM forms.
#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include "osslkit.h"

namespace {

using namespace zk::osslkit;

class OsslkitCerts : public ::testing::Test {
 protected:
  PkeyPtr ca_key_ = PooledRsaKey(1024, "certs-test-ca");
  PkeyPtr user_key_ = PooledRsaKey(1024, "certs-test-user");
  X509Ptr ca_ = MakeCaCert(ca_key_.get(), "Kit Test CA");

  X509Ptr Issue(CertSpec spec, EVP_PKEY* signer = nullptr) {
    return MakeCert(spec, user_key_.get(), ca_.get(), signer ? signer : ca_key_.get());
  }

  // The X509_V_ERR_* outcome of verifying cert against the CA alone (0 = verified).
  int Verify(X509* cert) {
    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, ca_.get());
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    X509_STORE_CTX_init(ctx, store, cert, nullptr);
    const int ok = X509_verify_cert(ctx);
    const int error = ok == 1 ? 0 : X509_STORE_CTX_get_error(ctx);
    X509_STORE_CTX_free(ctx);
    X509_STORE_free(store);
    return error;
  }
};

TEST_F(OsslkitCerts, SerialContentBytesBecomeTheUid) {
  const struct { Bytes serial; const char* uid; long value; } cases[] = {
      {{0x2A}, "2A", 0x2A},       {{0x01, 0xA2}, "01A2", 0x1A2}, {{0x00, 0x80}, "0080", 0x80},
      {{0x00}, "00", 0},          {{0x80}, "80", -128},          {{0xFF, 0x01}, "FF01", -255},
      {{0xFF, 0x7F}, "FF7F", -129}};
  for (const auto& c : cases) {
    CertSpec spec;
    spec.serial = c.serial;
    X509Ptr cert = Issue(spec);
    EXPECT_EQ(SerialUid(cert.get()), c.uid);
    EXPECT_EQ(ASN1_INTEGER_get(X509_get0_serialNumber(cert.get())), c.value) << c.uid;
  }
}

TEST_F(OsslkitCerts, SerialsWithoutAMinimalEncodingAreRefused) {
  for (const Bytes& serial : {Bytes{}, Bytes{0x00, 0x2A}, Bytes{0xFF, 0x80}, Bytes(128, 0x01)}) {
    CertSpec spec;
    spec.serial = serial;
    EXPECT_THROW(Issue(spec), Error);
  }
}

TEST_F(OsslkitCerts, VerificationOutcomes) {
  EXPECT_EQ(Verify(ca_.get()), 0);
  EXPECT_EQ(Verify(Issue(CertSpec{}).get()), 0);

  CertSpec expired;
  expired.not_before_offset = -7200;
  expired.not_after_offset = -3600;
  EXPECT_EQ(Verify(Issue(expired).get()), X509_V_ERR_CERT_HAS_EXPIRED);

  CertSpec future;
  future.not_before_offset = 3600;
  EXPECT_EQ(Verify(Issue(future).get()), X509_V_ERR_CERT_NOT_YET_VALID);

  EXPECT_EQ(Verify(Issue(CertSpec{}, user_key_.get()).get()), X509_V_ERR_CERT_SIGNATURE_FAILURE);

  X509Ptr self_issued = MakeCert(CertSpec{}, user_key_.get(), nullptr, user_key_.get());
  EXPECT_EQ(Verify(self_issued.get()), X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT);
}

TEST_F(OsslkitCerts, CrlListsTheRevokedSerialsAndIsSignedByTheGivenKey) {
  CrlSpec spec;
  spec.revoked = {{0x01, 0xA2}, {0x2A}};
  CrlPtr crl = MakeCrl(spec, ca_.get(), ca_key_.get());
  CertSpec revoked, kept;
  revoked.serial = {0x2A};
  kept.serial = {0x2B};
  X509_REVOKED* entry = nullptr;
  EXPECT_EQ(X509_CRL_get0_by_cert(crl.get(), &entry, Issue(revoked).get()), 1);
  EXPECT_EQ(X509_CRL_get0_by_cert(crl.get(), &entry, Issue(kept).get()), 0);
  EXPECT_EQ(sk_X509_REVOKED_num(X509_CRL_get_REVOKED(crl.get())), 2);
  EXPECT_EQ(X509_NAME_cmp(X509_CRL_get_issuer(crl.get()), X509_get_subject_name(ca_.get())), 0);
  EXPECT_EQ(X509_CRL_verify(crl.get(), ca_key_.get()), 1);
  EXPECT_NE(X509_CRL_get0_nextUpdate(crl.get()), nullptr);

  spec.next_update_offset.reset();
  CrlPtr forged = MakeCrl(spec, ca_.get(), user_key_.get());
  EXPECT_NE(X509_CRL_verify(forged.get(), ca_key_.get()), 1);
  EXPECT_EQ(X509_CRL_get0_nextUpdate(forged.get()), nullptr);
}

TEST_F(OsslkitCerts, PemAndDerFormsParseBackToTheSameObject) {
  X509Ptr cert = Issue(CertSpec{});
  const Bytes der = CertToDer(cert.get());
  EXPECT_EQ(CertToDer(CertFromDer(der).get()), der);

  const std::string lf = CertToPem(cert.get(), Eol::kLf);
  const std::string crlf = CertToPem(cert.get(), Eol::kCrLf);
  EXPECT_EQ(lf.rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u);
  EXPECT_EQ(lf.find('\r'), std::string::npos);
  size_t line_ends = 0;
  for (size_t i = 0; i < crlf.size(); ++i)
    if (crlf[i] == '\n') {
      ++line_ends;
      EXPECT_EQ(crlf[i - 1], '\r') << "bare LF at " << i;
    }
  EXPECT_GT(line_ends, 3u);
  EXPECT_EQ(CertToDer(CertFromPem(lf).get()), der);
  EXPECT_EQ(CertToDer(CertFromPem(crlf).get()), der);

  CrlSpec spec;
  spec.revoked = {{0x2A}};
  CrlPtr crl = MakeCrl(spec, ca_.get(), ca_key_.get());
  const Bytes crl_der = CrlToDer(crl.get());
  EXPECT_EQ(CrlToDer(CrlFromDer(crl_der).get()), crl_der);
  const std::string crl_pem = CrlToPem(crl.get(), Eol::kCrLf);
  EXPECT_EQ(crl_pem.rfind("-----BEGIN X509 CRL-----\r\n", 0), 0u);
  EXPECT_EQ(CrlToDer(CrlFromPem(crl_pem).get()), crl_der);
}

}  // namespace
