// The engine's secret key file as the kit writes it: Base64 of a PKCS#1 RSAPrivateKey, in every layout.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/evp.h>

#include "osslkit.h"

namespace {

using namespace zk::osslkit;

// Decodes with OpenSSL's Base64 filter, independent of the kit's reader.
PkeyPtr DecodeWithBioFilter(const std::string& text) {
  BIO* b64 = BIO_new(BIO_f_base64());
  BIO* mem = BIO_new_mem_buf(text.data(), int(text.size()));
  BIO_push(b64, mem);
  Bytes der(text.size());
  const int len = BIO_read(b64, der.data(), int(der.size()));
  BIO_free_all(b64);
  if (len <= 0) return nullptr;
  const unsigned char* p = der.data();
  return PkeyPtr(d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, len));
}

TEST(OsslkitKeyFile, EveryLayoutLoadsBackAsTheSameKey) {
  // Two sizes so that the DER length falls on different Base64 padding.
  for (int bits : {512, 1024}) {
    PkeyPtr key = PooledRsaKey(bits, "key-file-test");
    for (Eol eol : {Eol::kLf, Eol::kCrLf}) {
      const std::string text = KeyFileText(key.get(), 64, eol);
      PkeyPtr ours = KeyFromFileText(text);
      EXPECT_EQ(EVP_PKEY_eq(ours.get(), key.get()), 1) << bits;
      // The filter wants LF lines; CR is stripped as the engine does before decoding.
      std::string lf;
      for (char c : text)
        if (c != '\r') lf += c;
      PkeyPtr theirs = DecodeWithBioFilter(lf);
      ASSERT_TRUE(theirs) << bits;
      EXPECT_EQ(EVP_PKEY_eq(theirs.get(), key.get()), 1) << bits;
    }
    EXPECT_EQ(EVP_PKEY_eq(KeyFromFileText(KeyFileText(key.get(), 0)).get(), key.get()), 1) << bits;
  }
}

TEST(OsslkitKeyFile, LinesAreWrappedAndEndedAsAsked) {
  PkeyPtr key = PooledRsaKey(1024, "key-file-test");
  const std::string crlf = KeyFileText(key.get(), 64, Eol::kCrLf);
  size_t start = 0, lines = 0;
  for (size_t pos; (pos = crlf.find("\r\n", start)) != std::string::npos; start = pos + 2, ++lines) {
    const std::string line = crlf.substr(start, pos - start);
    EXPECT_LE(line.size(), 64u);
    EXPECT_EQ(line.find('\n'), std::string::npos);
  }
  EXPECT_EQ(start, crlf.size()) << "the last line is ended too";
  EXPECT_GT(lines, 10u);

  const std::string single = KeyFileText(key.get(), 0);
  EXPECT_EQ(single.find_first_of("\r\n"), std::string::npos);
}

// d2i_PrivateKey of OpenSSL 3 would also take PKCS#8; the engine's format is the bare RSAPrivateKey:
// SEQUENCE { INTEGER version, INTEGER modulus, ... } rather than SEQUENCE { INTEGER, SEQUENCE algorithm }.
TEST(OsslkitKeyFile, DerIsPkcs1RsaPrivateKey) {
  const Bytes der = PrivateKeyDer(PooledRsaKey(1024, "key-file-test").get());
  ASSERT_GT(der.size(), 8u);
  ASSERT_EQ(der[0], 0x30);
  size_t off = 2 + ((der[1] & 0x80) ? (der[1] & 0x7F) : 0);
  EXPECT_EQ(der[off], 0x02);
  EXPECT_EQ(der[off + 1], 0x01);
  EXPECT_EQ(der[off + 2], 0x00);  // version 0: two primes
  EXPECT_EQ(der[off + 3], 0x02) << "a PKCS#8 wrapper would have an algorithm SEQUENCE here";
}

}  // namespace
