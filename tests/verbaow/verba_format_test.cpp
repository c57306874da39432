// Independent checks of what the engine produces: a signature checked by libgcrypt itself with
// the key from the signer's public-key file, and an envelope taken apart field by field and
// opened with the GOST primitives and the recipient's key set.
#include <gcrypt.h>

#include <cstring>

#include "gost.h"
#include "verbaow/verba_fixture.h"

namespace vowtest {
namespace {

uint32_t Le(const Bytes& b, size_t at, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<uint32_t>(b[at + i]) << (8 * i);
  return v;
}

gcry_mpi_t MpiLe(const uint8_t* p, size_t n) {
  uint8_t be[64];
  for (size_t i = 0; i < n; ++i) be[i] = p[n - 1 - i];
  gcry_mpi_t m = nullptr;
  gcry_mpi_scan(&m, GCRYMPI_FMT_USG, be, n, nullptr);
  return m;
}

class VerbaFormat : public VerbaPair {
 protected:
  void SetUp() override {
    VerbaPair::SetUp();
    gost::InitLibgcrypt();
  }
};

// "VS" | 1 | signer 12 | time 8 | r 32 | s 32 (little-endian), over R 34.11-94 (CryptoPro) of the
// data, the signer and the time.
TEST_F(VerbaFormat, SignatureHoldsForLibgcrypt) {
  const Bytes doc = Text("Payment order 17, checked by libgcrypt.");
  const Result signature = Sign(*ea, doc);
  ASSERT_EQ(signature.code, 0);
  const Bytes& sig = signature.data;
  ASSERT_EQ(sig.size(), 87u);
  EXPECT_EQ(std::string(sig.begin(), sig.begin() + 3), std::string("VS\x01", 3));
  EXPECT_EQ(std::string(sig.begin() + 3, sig.begin() + 15), a->signId);

  Bytes signed_ = doc;
  signed_.insert(signed_.end(), sig.begin() + 3, sig.begin() + 23);
  uint8_t digest[32];
  gcry_md_hash_buffer(GCRY_MD_GOSTR3411_CP, digest, signed_.data(), signed_.size());
  const Bytes key = ReadFile(a->publicFile);
  ASSERT_EQ(key.size(), 240u);
  uint8_t point[65] = {4};
  for (int i = 0; i < 32; ++i) {
    point[1 + i] = key[98 + 31 - i];
    point[33 + i] = key[130 + 31 - i];
  }
  gcry_mpi_t e = MpiLe(digest, 32), r = MpiLe(sig.data() + 23, 32), s = MpiLe(sig.data() + 55, 32);
  gcry_sexp_t pub = nullptr, data = nullptr, sv = nullptr;
  ASSERT_EQ(0u, gcry_sexp_build(&pub, nullptr, "(public-key (ecc (curve GOST2001-CryptoPro-A) (q %b)))", 65, point));
  ASSERT_EQ(0u, gcry_sexp_build(&data, nullptr, "(data (flags gost) (value %m))", e));
  ASSERT_EQ(0u, gcry_sexp_build(&sv, nullptr, "(sig-val (gost (r %m) (s %m)))", r, s));
  EXPECT_EQ(0u, gcry_pk_verify(sv, data, pub));
  gcry_sexp_release(sv);
  gcry_mpi_add_ui(r, r, 1);
  ASSERT_EQ(0u, gcry_sexp_build(&sv, nullptr, "(sig-val (gost (r %m) (s %m)))", r, s));
  EXPECT_NE(0u, gcry_pk_verify(sv, data, pub)) << "libgcrypt refuses a changed r";
  for (gcry_sexp_t x : {pub, data, sv}) gcry_sexp_release(x);
  for (gcry_mpi_t x : {e, r, s}) gcry_mpi_release(x);
}

// Header 37: "VE" | 1 | sender 12 | N 2 | IV 8 | MAC 4 | L 4 | 0 0 0 0; per recipient 48: key
// number 2 | identifier 10 | key encrypted under the VKO key 32 | its MAC 4; then the CFB body.
TEST_F(VerbaFormat, EnvelopeOpenedByHand) {
  const Bytes plain = Text("Statement for account 40702810900000000017, opened by hand.");
  const Result sealed = Encode(*ea, plain, "0001;0002");
  ASSERT_EQ(sealed.code, 0);
  const Bytes& env = sealed.data;
  ASSERT_EQ(env.size(), plain.size() + 37 + 2 * 48);
  EXPECT_EQ(std::string(env.begin(), env.begin() + 3), std::string("VE\x01", 3));
  EXPECT_EQ(std::string(env.begin() + 3, env.begin() + 15), a->signId);
  EXPECT_EQ(Le(env, 15, 2), 2u);
  EXPECT_EQ(Le(env, 29, 4), plain.size());
  EXPECT_EQ(Le(env, 33, 4), 0u);
  const uint8_t* iv = env.data() + 17;
  const size_t item = 37 + 48;  // the second: B's
  EXPECT_EQ(Le(env, item, 2), 2u);
  EXPECT_EQ(std::string(env.begin() + item + 2, env.begin() + item + 12), b->encId);

  const Bytes set = ReadFile(b->device + "/" + b->encId + ".vks");
  ASSERT_EQ(set.size(), 122u);
  const Bytes senderKey = ReadFile(a->publicFile);
  gost::r3410_2001::Point q;
  std::memcpy(q.x, senderKey.data() + 34, 32);
  std::memcpy(q.y, senderKey.data() + 66, 32);
  uint8_t kek[32], cek[32];
  ASSERT_EQ(gost::vko2001::Agree(gost::r3410_2001::Curve::CryptoProA, set.data() + 26, q, iv, true, kek), 0);
  ASSERT_TRUE(gost::vko2001::Unwrap(kek, iv, env.data() + item + 12, gost::kSboxR3411TestParams, cek));
  gost::Gost28147 cipher;
  cipher.SetKey(cek, gost::kSboxR3411TestParams);
  gost::GammaFeedbackMode cfb;
  cfb.Init(&cipher, iv);
  Bytes opened(plain.size());
  cfb.Decrypt(env.data() + 37 + 96, opened.data(), opened.size());
  EXPECT_EQ(opened, plain);

  // The MAC covers the header (MAC field as zeros), the items and the plain text.
  Bytes covered(env.begin(), env.begin() + 37 + 96);
  std::memset(covered.data() + 25, 0, 4);
  covered.insert(covered.end(), plain.begin(), plain.end());
  gost::MacMode mac;
  mac.Init(&cipher);
  mac.Update(covered.data(), covered.size());
  uint8_t full[8];
  mac.Final(full);
  EXPECT_EQ(0, std::memcmp(full, env.data() + 25, 4));
}

}  // namespace
}  // namespace vowtest
