// GOST R 34.10-2001: the example of RFC 5832 (key, signature and verification), the e = 1 rule,
// the statuses of malformed signatures and keys, every single-bit fault, both curves, and the
// point multiplication used for key agreement.
#include <gcrypt.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <string>
#include <vector>

#include "gost.h"
#include "test_util.h"

namespace {

namespace ec = gost::r3410_2001;
using ec::Curve;
using gost_test::Hex;
using gost_test::LeFromDecimal;

// RFC 5832, section 7.1.
const char* kQ = "57896044618658097711785492504343953927082934583725450622380973592137631069619";
const char* kD = "55441196065363246126355624130324183196576709222340016572108097750006097525544";
const char* kXq = "57520216126176808443631405023338071176630104906313632182896741342206604859403";
const char* kYq = "17614944419213781543809391949654080031942662045363639260709847859438286763994";
const char* kE = "20798893674476452017134061561508270130637142515379653289952617252661468872421";
const char* kK = "53854137677348463731403841147996619241504003434302020712960838528893196233395";
const char* kR = "29700980915817952874371204983938256990422752107994319651632687982059210933395";
const char* kS = "574973400270084654178925310019147038455227042649098563933718999175515839552";

std::vector<uint8_t> N(const char* dec) { return LeFromDecimal(dec, 32); }

ec::Point RfcQ() {
  ec::Point q;
  std::memcpy(q.x, N(kXq).data(), 32);
  std::memcpy(q.y, N(kYq).data(), 32);
  return q;
}

TEST(R3410_2001, Rfc5832ExampleKeySignatureAndVerification) {
  ec::Point q;
  ASSERT_EQ(gost::kSignOk, ec::PublicFromSecret(Curve::Test, N(kD).data(), q));
  EXPECT_EQ(Hex(N(kXq).data(), 32), Hex(q.x, 32));
  EXPECT_EQ(Hex(N(kYq).data(), 32), Hex(q.y, 32));

  uint8_t sig[64];
  ASSERT_EQ(gost::kSignOk, ec::SignWithNonce(Curve::Test, N(kD).data(), N(kE).data(), N(kK).data(), sig));
  EXPECT_EQ(Hex(N(kR).data(), 32), Hex(sig, 32));
  EXPECT_EQ(Hex(N(kS).data(), 32), Hex(sig + 32, 32));

  std::vector<uint8_t> published = N(kR), s = N(kS);
  published.insert(published.end(), s.begin(), s.end());
  EXPECT_EQ(gost::kSignOk, ec::Verify(Curve::Test, RfcQ(), N(kE).data(), published.data()));
}

// Every single-bit change of the signature, the digest or the public key is refused.
TEST(R3410_2001, EverySingleBitFaultIsRefused) {
  uint8_t sig[64];
  ASSERT_EQ(gost::kSignOk, ec::SignWithNonce(Curve::Test, N(kD).data(), N(kE).data(), N(kK).data(), sig));
  std::vector<uint8_t> e = N(kE);
  for (int bit = 0; bit < 512; ++bit) {
    uint8_t bad[64];
    std::memcpy(bad, sig, 64);
    bad[bit / 8] ^= uint8_t(1 << (bit % 8));
    EXPECT_NE(gost::kSignOk, ec::Verify(Curve::Test, RfcQ(), e.data(), bad)) << "signature bit " << bit;
  }
  for (int bit = 0; bit < 256; ++bit) {
    std::vector<uint8_t> bad = e;
    bad[bit / 8] ^= uint8_t(1 << (bit % 8));
    EXPECT_EQ(gost::kSignBad, ec::Verify(Curve::Test, RfcQ(), bad.data(), sig)) << "digest bit " << bit;
  }
  for (int bit = 0; bit < 512; ++bit) {
    ec::Point q = RfcQ();
    uint8_t* c = bit < 256 ? q.x : q.y;
    c[(bit % 256) / 8] ^= uint8_t(1 << (bit % 8));
    EXPECT_NE(gost::kSignOk, ec::Verify(Curve::Test, q, e.data(), sig)) << "key bit " << bit;
  }
}

// Statuses: r or s zero, r or s not below q, a public key off the curve.
TEST(R3410_2001, MalformedSignaturesAndKeysGetTheirStatus) {
  uint8_t sig[64];
  ASSERT_EQ(gost::kSignOk, ec::SignWithNonce(Curve::Test, N(kD).data(), N(kE).data(), N(kK).data(), sig));
  std::vector<uint8_t> e = N(kE), q = N(kQ);
  uint8_t bad[64];

  std::memcpy(bad, sig, 64);
  std::memset(bad, 0, 32);
  EXPECT_EQ(gost::kSignZeroR, ec::Verify(Curve::Test, RfcQ(), e.data(), bad));
  std::memcpy(bad, sig, 64);
  std::memset(bad + 32, 0, 32);
  EXPECT_EQ(gost::kSignZeroS, ec::Verify(Curve::Test, RfcQ(), e.data(), bad));
  std::memcpy(bad, sig, 64);
  std::memcpy(bad, q.data(), 32);  // r = q
  EXPECT_EQ(gost::kSignBadR, ec::Verify(Curve::Test, RfcQ(), e.data(), bad));
  std::memcpy(bad, sig, 64);
  std::memcpy(bad + 32, q.data(), 32);  // s = q
  EXPECT_EQ(gost::kSignBadS, ec::Verify(Curve::Test, RfcQ(), e.data(), bad));
  std::memcpy(bad, sig, 64);
  std::memset(bad + 32, 0xFF, 32);  // s = 2^256 - 1
  EXPECT_EQ(gost::kSignBadS, ec::Verify(Curve::Test, RfcQ(), e.data(), bad));

  ec::Point off = RfcQ();
  off.y[0] ^= 1;
  EXPECT_EQ(gost::kSignBadKey, ec::Verify(Curve::Test, off, e.data(), sig));
  ec::Point zero{};
  EXPECT_EQ(gost::kSignBadKey, ec::Verify(Curve::Test, zero, e.data(), sig));

  // Secret keys and nonces outside 1..q-1 are refused.
  std::vector<uint8_t> z(32, 0);
  EXPECT_EQ(gost::kSignBadKey, ec::Sign(Curve::Test, z.data(), e.data(), sig));
  EXPECT_EQ(gost::kSignBadKey, ec::Sign(Curve::Test, q.data(), e.data(), sig));
  EXPECT_EQ(gost::kSignBadKey, ec::SignWithNonce(Curve::Test, N(kD).data(), e.data(), q.data(), sig));
  ec::Point out;
  EXPECT_EQ(gost::kSignBadKey, ec::PublicFromSecret(Curve::Test, z.data(), out));
  EXPECT_EQ(gost::kSignBadKey, ec::PublicFromSecret(Curve::Test, q.data(), out));
}

// A digest with e mod q = 0 signs as e = 1: the digests 0, q and 1 give the same signature.
TEST(R3410_2001, DigestZeroModQSignsAsOne) {
  std::vector<uint8_t> zero(32, 0), q = N(kQ), one(32, 0);
  one[0] = 1;
  uint8_t s0[64], sq[64], s1[64];
  std::vector<uint8_t> dv = N(kD), kv = N(kK);
  ASSERT_EQ(gost::kSignOk, ec::SignWithNonce(Curve::Test, dv.data(), zero.data(), kv.data(), s0));
  ASSERT_EQ(gost::kSignOk, ec::SignWithNonce(Curve::Test, dv.data(), q.data(), kv.data(), sq));
  ASSERT_EQ(gost::kSignOk, ec::SignWithNonce(Curve::Test, dv.data(), one.data(), kv.data(), s1));
  EXPECT_EQ(Hex(s1, 64), Hex(s0, 64));
  EXPECT_EQ(Hex(s1, 64), Hex(sq, 64));
  EXPECT_EQ(gost::kSignOk, ec::Verify(Curve::Test, RfcQ(), zero.data(), s1));
  EXPECT_EQ(gost::kSignOk, ec::Verify(Curve::Test, RfcQ(), q.data(), s1));
}

// Generated keys on both curves: signatures verify under their own key only, and two
// signatures of one digest differ (a fresh nonce each time).
TEST(R3410_2001, GeneratedKeysOnBothCurves) {
  for (Curve c : {Curve::Test, Curve::CryptoProA}) {
    uint8_t d1[32], d2[32], digest[32], sig[64], sig2[64];
    ec::Point q1, q2;
    ASSERT_EQ(gost::kSignOk, ec::GenerateSecret(c, d1));
    ASSERT_EQ(gost::kSignOk, ec::GenerateSecret(c, d2));
    EXPECT_NE(Hex(d1, 32), Hex(d2, 32));
    ASSERT_EQ(gost::kSignOk, ec::PublicFromSecret(c, d1, q1));
    ASSERT_EQ(gost::kSignOk, ec::PublicFromSecret(c, d2, q2));
    gost::SystemRandom(digest, 32);
    ASSERT_EQ(gost::kSignOk, ec::Sign(c, d1, digest, sig));
    ASSERT_EQ(gost::kSignOk, ec::Sign(c, d1, digest, sig2));
    EXPECT_NE(Hex(sig, 64), Hex(sig2, 64));
    EXPECT_EQ(gost::kSignOk, ec::Verify(c, q1, digest, sig));
    EXPECT_EQ(gost::kSignOk, ec::Verify(c, q1, digest, sig2));
    EXPECT_EQ(gost::kSignBad, ec::Verify(c, q2, digest, sig));
  }
  // A key of one curve is not a point of the other.
  uint8_t d[32];
  ec::Point q;
  ASSERT_EQ(gost::kSignOk, ec::GenerateSecret(Curve::CryptoProA, d));
  ASSERT_EQ(gost::kSignOk, ec::PublicFromSecret(Curve::CryptoProA, d, q));
  uint8_t digest[32] = {1}, sig[64];
  ASSERT_EQ(gost::kSignOk, ec::Sign(Curve::CryptoProA, d, digest, sig));
  EXPECT_EQ(gost::kSignBadKey, ec::Verify(Curve::Test, q, digest, sig));
}

// libgcrypt's own GOST R 34.10-2001 signatures (given e as a number) verify here, and ours verify
// there, on both curves: this pins the curve behind each name and the byte order of keys,
// digests and signatures.
gcry_mpi_t MpiLe(const uint8_t* le, size_t len) {
  std::vector<uint8_t> be(le, le + len);
  std::reverse(be.begin(), be.end());
  gcry_mpi_t v = nullptr;
  gcry_mpi_scan(&v, GCRYMPI_FMT_USG, be.data(), be.size(), nullptr);
  return v;
}

TEST(R3410_2001, InteroperatesWithLibgcryptSignatures) {
  gost::InitLibgcrypt();
  for (Curve c : {Curve::Test, Curve::CryptoProA}) {
    const char* name = c == Curve::Test ? "GOST2001-test" : "GOST2001-CryptoPro-A";
    for (int round = 0; round < 3; ++round) {
      uint8_t d[32], digest[32], sig[64];
      ec::Point q;
      ASSERT_EQ(gost::kSignOk, ec::GenerateSecret(c, d));
      ASSERT_EQ(gost::kSignOk, ec::PublicFromSecret(c, d, q));
      gost::SystemRandom(digest, 32);
      uint8_t point[65] = {4};
      for (int i = 0; i < 32; ++i) {
        point[1 + i] = q.x[31 - i];
        point[33 + i] = q.y[31 - i];
      }
      gcry_mpi_t dm = MpiLe(d, 32), em = MpiLe(digest, 32);
      gcry_sexp_t priv = nullptr, pub = nullptr, data = nullptr, theirs = nullptr, ours = nullptr;
      ASSERT_EQ(0u, gcry_sexp_build(&priv, nullptr, "(private-key (ecc (curve %s) (q %b) (d %m)))", name,
                                    65, point, dm));
      ASSERT_EQ(0u, gcry_sexp_build(&pub, nullptr, "(public-key (ecc (curve %s) (q %b)))", name, 65, point));
      ASSERT_EQ(0u, gcry_sexp_build(&data, nullptr, "(data (flags gost) (value %m))", em));

      ASSERT_EQ(0u, gcry_pk_sign(&theirs, data, priv));
      gcry_sexp_t rs = gcry_sexp_find_token(theirs, "r", 0), ss = gcry_sexp_find_token(theirs, "s", 0);
      gcry_mpi_t r = gcry_sexp_nth_mpi(rs, 1, GCRYMPI_FMT_USG), s = gcry_sexp_nth_mpi(ss, 1, GCRYMPI_FMT_USG);
      uint8_t be[32];
      size_t n = 0;
      std::memset(sig, 0, 64);
      ASSERT_EQ(0u, gcry_mpi_print(GCRYMPI_FMT_USG, be, 32, &n, r));
      for (size_t i = 0; i < n; ++i) sig[i] = be[n - 1 - i];
      ASSERT_EQ(0u, gcry_mpi_print(GCRYMPI_FMT_USG, be, 32, &n, s));
      for (size_t i = 0; i < n; ++i) sig[32 + i] = be[n - 1 - i];
      EXPECT_EQ(gost::kSignOk, ec::Verify(c, q, digest, sig)) << name;

      ASSERT_EQ(gost::kSignOk, ec::Sign(c, d, digest, sig));
      gcry_mpi_t mr = MpiLe(sig, 32), ms = MpiLe(sig + 32, 32);
      ASSERT_EQ(0u, gcry_sexp_build(&ours, nullptr, "(sig-val (gost (r %m) (s %m)))", mr, ms));
      EXPECT_EQ(0u, gcry_pk_verify(ours, data, pub)) << name;

      for (gcry_mpi_t m : {dm, em, r, s, mr, ms}) gcry_mpi_release(m);
      for (gcry_sexp_t x : {priv, pub, data, theirs, ours, rs, ss}) gcry_sexp_release(x);
    }
  }
}

// Key agreement: a(bG) = b(aG) = (ab)G; G times d is the public key; points off the curve and
// results at infinity (k = 0, k = q) are refused.
TEST(R3410_2001, MultiplyAgreesBothWaysAndRefusesBadInput) {
  for (Curve c : {Curve::Test, Curve::CryptoProA}) {
    uint8_t a[32], b[32];
    ec::Point qa, qb, ab, ba;
    ASSERT_EQ(gost::kSignOk, ec::GenerateSecret(c, a));
    ASSERT_EQ(gost::kSignOk, ec::GenerateSecret(c, b));
    ASSERT_EQ(gost::kSignOk, ec::PublicFromSecret(c, a, qa));
    ASSERT_EQ(gost::kSignOk, ec::PublicFromSecret(c, b, qb));
    ASSERT_EQ(gost::kSignOk, ec::Multiply(c, a, qb, ab));
    ASSERT_EQ(gost::kSignOk, ec::Multiply(c, b, qa, ba));
    EXPECT_EQ(Hex(ab.x, 32), Hex(ba.x, 32));
    EXPECT_EQ(Hex(ab.y, 32), Hex(ba.y, 32));
    EXPECT_NE(Hex(ab.x, 32), Hex(qa.x, 32));
    ec::Point off = qb;
    off.x[5] ^= 0x10;
    EXPECT_EQ(gost::kSignBadKey, ec::Multiply(c, a, off, ab));
    uint8_t zero[32] = {};
    EXPECT_EQ(gost::kSignBadKey, ec::Multiply(c, zero, qb, ab));
  }
  // On the test curve, with the RFC's numbers: d times G is Q, and q times Q is infinity.
  ec::Point g{}, out;
  g.x[0] = 2;  // xP = 2
  std::memcpy(g.y, LeFromDecimal("4018974056539037503335449422937059775635739389905545080690979365213431566280", 32).data(), 32);
  ASSERT_EQ(gost::kSignOk, ec::Multiply(Curve::Test, N(kD).data(), g, out));
  EXPECT_EQ(Hex(N(kXq).data(), 32), Hex(out.x, 32));
  EXPECT_EQ(Hex(N(kYq).data(), 32), Hex(out.y, 32));
  EXPECT_EQ(gost::kSignBadKey, ec::Multiply(Curve::Test, N(kQ).data(), RfcQ(), out));
}

// Asked twice, every product gives the same answer, and a point one bit away is not taken for the
// one asked before: what the products memo (ZK_GOST_MEMO, see the _memo run) must keep.
TEST(R3410_2001, RepeatedProductsGiveTheSameAnswer) {
  const Curve c = Curve::CryptoProA;
  uint8_t a[32], b[32];
  ec::Point qa, qb, first, again;
  ASSERT_EQ(gost::kSignOk, ec::GenerateSecret(c, a));
  ASSERT_EQ(gost::kSignOk, ec::GenerateSecret(c, b));
  ASSERT_EQ(gost::kSignOk, ec::PublicFromSecret(c, a, qa));
  ASSERT_EQ(gost::kSignOk, ec::PublicFromSecret(c, a, again));
  EXPECT_EQ(Hex(qa.x, 32) + Hex(qa.y, 32), Hex(again.x, 32) + Hex(again.y, 32));
  ASSERT_EQ(gost::kSignOk, ec::PublicFromSecret(c, b, qb));
  EXPECT_NE(Hex(qa.x, 32), Hex(qb.x, 32));
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(gost::kSignOk, ec::Multiply(c, a, qb, round == 0 ? first : again));
    ec::Point off = qb, out;
    off.y[0] ^= 1;
    EXPECT_EQ(gost::kSignBadKey, ec::Multiply(c, a, off, out));
    b[0] ^= 1;  // the other secret's product differs
    ASSERT_EQ(gost::kSignOk, ec::PublicFromSecret(c, b, out));
    EXPECT_NE(Hex(out.x, 32), Hex(qb.x, 32));
    b[0] ^= 1;
  }
  EXPECT_EQ(Hex(first.x, 32) + Hex(first.y, 32), Hex(again.x, 32) + Hex(again.y, 32));
  uint8_t zero[32] = {};
  EXPECT_EQ(gost::kSignBadKey, ec::PublicFromSecret(c, zero, first));
  EXPECT_EQ(gost::kSignBadKey, ec::PublicFromSecret(c, zero, first));
}

}  // namespace
