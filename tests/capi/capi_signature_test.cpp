// What a detached signature must be to reach the CryptoAPI's check: signatures made by OpenSSL
// CMS (with and without signed attributes) pass; each field the signature value does not cover,
// once changed, does not.
#include <gtest/gtest.h>
#include <openssl/cms.h>

#include <functional>

#include "engines/capi/capi_der.h"
#include "osslkit.h"

namespace zk {
namespace {

namespace kit = osslkit;
const char kRsa[] = "1.2.840.113549.1.1.1";

kit::Bytes CmsSignature(unsigned extraFlags, bool detached = true) {
  static kit::PkeyPtr key = kit::GenerateRsaKey(1024);
  static kit::X509Ptr cert = kit::MakeCaCert(key.get(), "signer");
  const std::string data = "payment order";
  BIO* in = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
  const unsigned flags = (detached ? CMS_DETACHED : 0) | CMS_BINARY | CMS_PARTIAL | extraFlags;
  CMS_ContentInfo* cms = CMS_sign(nullptr, nullptr, nullptr, nullptr, flags);
  CMS_add1_signer(cms, cert.get(), key.get(), EVP_sha1(), flags);
  CMS_final(cms, in, nullptr, flags);
  unsigned char* der = nullptr;
  const int size = i2d_CMS_ContentInfo(cms, &der);
  kit::Bytes out(der, der + size);
  OPENSSL_free(der);
  CMS_ContentInfo_free(cms);
  BIO_free(in);
  return out;
}

// Replaces the first occurrence of `from` by `to` (same length).
kit::Bytes Patched(kit::Bytes in, const kit::Bytes& from, const kit::Bytes& to) {
  auto at = std::search(in.begin(), in.end(), from.begin(), from.end());
  EXPECT_NE(at, in.end());
  if (at != in.end()) std::copy(to.begin(), to.end(), at);
  return in;
}

TEST(CapiSignature, OnlyExactDetachedSignedDataPasses) {
  const kit::Bytes plain = CmsSignature(CMS_NOATTR);
  const kit::Bytes sha1 = {0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A};
  const kit::Bytes data = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
  const kit::Bytes version = {0x02, 0x01, 0x01, 0x31};  // SignedData version, then the digest set
  struct Case {
    const char* what;
    kit::Bytes signature;
    std::string keyAlg;
    bool passes;
  } cases[] = {
      {"as made", plain, kRsa, true},
      {"with signed attributes", CmsSignature(0), kRsa, true},
      {"another key algorithm", plain, "1.2.840.113549.1.1.5", false},
      {"content attached", CmsSignature(CMS_NOATTR, false), kRsa, false},
      {"version 3", Patched(plain, version, {0x02, 0x01, 0x03, 0x31}), kRsa, false},
      // The first SHA-1 is the one listed among the digest algorithms.
      {"another digest listed", Patched(plain, sha1, {0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1B}), kRsa, false},
      {"content type not data", Patched(plain, data, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x03}), kRsa,
       false},
      {"cut short", kit::Bytes(plain.begin(), plain.end() - 1), kRsa, false},
      {"empty", {}, kRsa, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(capi::StrictDetachedSignature(c.signature.data(), c.signature.size(), c.keyAlg), c.passes) << c.what;
}

// The signer's certificate is found among those a signature carries by issuer and serial read
// straight from the encoding; OpenSSL's own reading of each certificate is the reference.
TEST(CapiSignature, IssuerAndSerialReadFromTheEncoding) {
  static kit::PkeyPtr key = kit::GenerateRsaKey(1024);
  const auto der = [](X509* x) {
    unsigned char* out = nullptr;
    const int size = i2d_X509(x, &out);
    kit::Bytes bytes(out, out + size);
    OPENSSL_free(out);
    return bytes;
  };
  kit::X509Ptr v1 = kit::MakeCaCert(key.get(), "v1", {0x2A});
  X509_set_version(v1.get(), X509_VERSION_1);  // no version field in the encoding
  X509_sign(v1.get(), key.get(), EVP_sha256());
  const kit::X509Ptr v3 = kit::MakeCaCert(key.get(), "issuer", {0x00, 0x80, 0x01});
  for (X509* cert : {v1.get(), v3.get()}) {
    const kit::Bytes encoded = der(cert);
    std::vector<uint8_t> issuer, serial;
    ASSERT_TRUE(capi::CertIssuerAndSerial(encoded.data(), encoded.size(), issuer, serial));
    unsigned char* name = nullptr;
    const int nameSize = i2d_X509_NAME(X509_get_issuer_name(cert), &name);
    EXPECT_EQ(issuer, kit::Bytes(name, name + nameSize));
    OPENSSL_free(name);
    const ASN1_INTEGER* sn = X509_get0_serialNumber(cert);
    kit::Bytes expected(sn->data, sn->data + sn->length);
    if (expected.front() & 0x80) expected.insert(expected.begin(), 0);  // the sign byte as encoded
    EXPECT_EQ(serial, kit::Bytes(expected.rbegin(), expected.rend()));
    EXPECT_FALSE(capi::CertIssuerAndSerial(encoded.data(), encoded.size() - 1, issuer, serial));
  }
  const kit::Bytes notACert = CmsSignature(CMS_NOATTR);
  std::vector<uint8_t> issuer, serial;
  EXPECT_FALSE(capi::CertIssuerAndSerial(notACert.data(), notACert.size(), issuer, serial));
}

}  // namespace
}  // namespace zk
