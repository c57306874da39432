// GOST R 34.10-94 over our parameter set and the standard's own example, and the 1024-bit
// agreement in the same group: the embedded constants form the group they should, signatures
// follow the standard's equations (checked with numbers computed here), every single-bit fault is
// refused, malformed signatures and keys get their statuses, and the agreement refuses unsafe peer
// values.
#include <gcrypt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "gost.h"
#include "test_util.h"

namespace {

using gost_test::Hex;

// libgcrypt numbers for the test's own arithmetic.
struct Num {
  Num() : v(gcry_mpi_new(0)) {}
  Num(const uint8_t* le, size_t len) {
    std::vector<uint8_t> be(le, le + len);
    std::reverse(be.begin(), be.end());
    gcry_mpi_scan(&v, GCRYMPI_FMT_USG, be.data(), be.size(), nullptr);
  }
  explicit Num(unsigned long u) : v(gcry_mpi_set_ui(nullptr, u)) {}
  ~Num() { gcry_mpi_release(v); }
  Num(const Num&) = delete;
  std::vector<uint8_t> Le(size_t len) const {
    std::vector<uint8_t> be(len);
    size_t n = 0;
    gcry_mpi_print(GCRYMPI_FMT_USG, be.data(), len, &n, v);
    be.resize(n);
    std::vector<uint8_t> le(be.rbegin(), be.rend());
    le.resize(len, 0);
    return le;
  }
  gcry_mpi_t v;
};

struct Params {
  Params() {
    gost::InitLibgcrypt();
    gost::r3410_94::Parameters(pb, qb, ab);
  }
  uint8_t pb[128], qb[32], ab[128];
};

TEST(R3410_94, ParametersFormAPrimeOrderSubgroup) {
  Params prm;
  Num p(prm.pb, 128), q(prm.qb, 32), a(prm.ab, 128), t, rem;
  EXPECT_EQ(1024u, gcry_mpi_get_nbits(p.v));
  EXPECT_EQ(256u, gcry_mpi_get_nbits(q.v));
  EXPECT_EQ(0u, gcry_prime_check(p.v, 0));
  EXPECT_EQ(0u, gcry_prime_check(q.v, 0));
  gcry_mpi_sub_ui(t.v, p.v, 1);
  gcry_mpi_mod(rem.v, t.v, q.v);
  EXPECT_EQ(0, gcry_mpi_cmp_ui(rem.v, 0)) << "q does not divide p - 1";
  EXPECT_GT(gcry_mpi_cmp_ui(a.v, 1), 0);
  EXPECT_LT(gcry_mpi_cmp(a.v, p.v), 0);
  gcry_mpi_powm(t.v, a.v, q.v, p.v);
  EXPECT_EQ(0, gcry_mpi_cmp_ui(t.v, 1)) << "a^q != 1";
}

// A signature made here by the standard's formulas with a chosen k verifies; one made with the
// DSA equation instead does not; and Sign's own signatures satisfy the verification equation
// as computed here.
TEST(R3410_94, SignaturesFollowTheStandardsEquations) {
  Params prm;
  Num p(prm.pb, 128), q(prm.qb, 32), a(prm.ab, 128);
  uint8_t x[32], y[128], digest[32];
  ASSERT_EQ(gost::kSignOk, gost::r3410_94::GenerateSecret(x));
  ASSERT_EQ(gost::kSignOk, gost::r3410_94::PublicFromSecret(x, y));
  Num xn(x, 32), yn(y, 128), t;
  gcry_mpi_powm(t.v, a.v, xn.v, p.v);
  EXPECT_EQ(0, gcry_mpi_cmp(t.v, yn.v)) << "y != a^x mod p";

  for (int round = 0; round < 4; ++round) {
    gost::SystemRandom(digest, 32);
    uint8_t kb[32];
    gost::SystemRandom(kb, 32);
    kb[31] &= 0x7F;  // below q, whose top byte is larger
    Num k(kb, 32), e(digest, 32), r, s, u;
    gcry_mpi_mod(e.v, e.v, q.v);
    gcry_mpi_powm(r.v, a.v, k.v, p.v);
    gcry_mpi_mod(r.v, r.v, q.v);
    gcry_mpi_mulm(s.v, xn.v, r.v, q.v);
    gcry_mpi_mulm(u.v, k.v, e.v, q.v);
    gcry_mpi_addm(s.v, s.v, u.v, q.v);
    std::vector<uint8_t> sig = r.Le(32), sb = s.Le(32);
    sig.insert(sig.end(), sb.begin(), sb.end());
    EXPECT_EQ(gost::kSignOk, gost::r3410_94::Verify(y, digest, sig.data()));

    // DSA's s = k^-1 (e + x r) is not a GOST signature.
    Num kinv, dsa;
    gcry_mpi_invm(kinv.v, k.v, q.v);
    gcry_mpi_mulm(dsa.v, xn.v, r.v, q.v);
    gcry_mpi_addm(dsa.v, dsa.v, e.v, q.v);
    gcry_mpi_mulm(dsa.v, dsa.v, kinv.v, q.v);
    std::vector<uint8_t> dsaSig = r.Le(32), db = dsa.Le(32);
    dsaSig.insert(dsaSig.end(), db.begin(), db.end());
    EXPECT_EQ(gost::kSignBad, gost::r3410_94::Verify(y, digest, dsaSig.data()));

    // Sign's output: a^(s/e) * y^(-r/e) mod p mod q == r.
    uint8_t mine[64];
    ASSERT_EQ(gost::kSignOk, gost::r3410_94::Sign(x, digest, mine));
    Num mr(mine, 32), ms(mine + 32, 32), v, z1, z2, w1, w2;
    gcry_mpi_invm(v.v, e.v, q.v);
    gcry_mpi_mulm(z1.v, ms.v, v.v, q.v);
    gcry_mpi_sub(z2.v, q.v, mr.v);
    gcry_mpi_mulm(z2.v, z2.v, v.v, q.v);
    gcry_mpi_powm(w1.v, a.v, z1.v, p.v);
    gcry_mpi_powm(w2.v, yn.v, z2.v, p.v);
    gcry_mpi_mulm(w1.v, w1.v, w2.v, p.v);
    gcry_mpi_mod(w1.v, w1.v, q.v);
    EXPECT_EQ(0, gcry_mpi_cmp(w1.v, mr.v));
  }
}

// A digest with H mod q = 0 is signed as e = 1.
TEST(R3410_94, DigestZeroModQSignsAsOne) {
  Params prm;
  uint8_t x[32], y[128], sig[64], zero[32] = {}, one[32] = {1};
  ASSERT_EQ(gost::kSignOk, gost::r3410_94::GenerateSecret(x));
  ASSERT_EQ(gost::kSignOk, gost::r3410_94::PublicFromSecret(x, y));
  ASSERT_EQ(gost::kSignOk, gost::r3410_94::Sign(x, prm.qb, sig));
  EXPECT_EQ(gost::kSignOk, gost::r3410_94::Verify(y, one, sig));
  EXPECT_EQ(gost::kSignOk, gost::r3410_94::Verify(y, zero, sig));
  ASSERT_EQ(gost::kSignOk, gost::r3410_94::Sign(x, zero, sig));
  EXPECT_EQ(gost::kSignOk, gost::r3410_94::Verify(y, one, sig));
}

TEST(R3410_94, EverySingleBitFaultIsRefused) {
  uint8_t x[32], y[128], y2[128], x2[32], digest[32], sig[64];
  ASSERT_EQ(gost::kSignOk, gost::r3410_94::GenerateSecret(x));
  ASSERT_EQ(gost::kSignOk, gost::r3410_94::PublicFromSecret(x, y));
  ASSERT_EQ(gost::kSignOk, gost::r3410_94::GenerateSecret(x2));
  ASSERT_EQ(gost::kSignOk, gost::r3410_94::PublicFromSecret(x2, y2));
  gost::SystemRandom(digest, 32);
  ASSERT_EQ(gost::kSignOk, gost::r3410_94::Sign(x, digest, sig));
  ASSERT_EQ(gost::kSignOk, gost::r3410_94::Verify(y, digest, sig));
  EXPECT_EQ(gost::kSignBad, gost::r3410_94::Verify(y2, digest, sig));
  for (int bit = 0; bit < 512; ++bit) {
    uint8_t bad[64];
    std::memcpy(bad, sig, 64);
    bad[bit / 8] ^= uint8_t(1 << (bit % 8));
    EXPECT_NE(gost::kSignOk, gost::r3410_94::Verify(y, digest, bad)) << "signature bit " << bit;
  }
  for (int bit = 0; bit < 256; ++bit) {
    uint8_t bad[32];
    std::memcpy(bad, digest, 32);
    bad[bit / 8] ^= uint8_t(1 << (bit % 8));
    EXPECT_EQ(gost::kSignBad, gost::r3410_94::Verify(y, bad, sig)) << "digest bit " << bit;
  }
}

TEST(R3410_94, MalformedSignaturesAndKeysGetTheirStatus) {
  Params prm;
  uint8_t x[32], y[128], digest[32] = {7}, sig[64], bad[64];
  ASSERT_EQ(gost::kSignOk, gost::r3410_94::GenerateSecret(x));
  ASSERT_EQ(gost::kSignOk, gost::r3410_94::PublicFromSecret(x, y));
  ASSERT_EQ(gost::kSignOk, gost::r3410_94::Sign(x, digest, sig));

  std::memcpy(bad, sig, 64);
  std::memset(bad, 0, 32);
  EXPECT_EQ(gost::kSignZeroR, gost::r3410_94::Verify(y, digest, bad));
  std::memcpy(bad, sig, 64);
  std::memset(bad + 32, 0, 32);
  EXPECT_EQ(gost::kSignZeroS, gost::r3410_94::Verify(y, digest, bad));
  std::memcpy(bad, sig, 64);
  std::memcpy(bad, prm.qb, 32);
  EXPECT_EQ(gost::kSignBadR, gost::r3410_94::Verify(y, digest, bad));
  std::memcpy(bad, sig, 64);
  std::memcpy(bad + 32, prm.qb, 32);
  EXPECT_EQ(gost::kSignBadS, gost::r3410_94::Verify(y, digest, bad));
  std::memcpy(bad, sig, 64);
  std::memset(bad, 0xFF, 32);
  EXPECT_EQ(gost::kSignBadR, gost::r3410_94::Verify(y, digest, bad));

  // Public values outside 2..p-2 or outside the subgroup.
  Num p(prm.pb, 128), pm1, two(2), t;
  gcry_mpi_sub_ui(pm1.v, p.v, 1);
  gcry_mpi_powm(t.v, two.v, Num(prm.qb, 32).v, p.v);
  ASSERT_NE(0, gcry_mpi_cmp_ui(t.v, 1)) << "2 happens to lie in the subgroup";
  std::vector<std::vector<uint8_t>> badKeys = {std::vector<uint8_t>(128, 0), Num(1).Le(128),
                                               pm1.Le(128), p.Le(128), Num(2).Le(128),
                                               std::vector<uint8_t>(128, 0xFF)};
  for (const auto& k : badKeys) EXPECT_EQ(gost::kSignBadKey, gost::r3410_94::Verify(k.data(), digest, sig));

  // Secret keys outside 1..q-1.
  uint8_t zero[32] = {};
  EXPECT_EQ(gost::kSignBadKey, gost::r3410_94::Sign(zero, digest, sig));
  EXPECT_EQ(gost::kSignBadKey, gost::r3410_94::Sign(prm.qb, digest, sig));
  EXPECT_EQ(gost::kSignBadKey, gost::r3410_94::PublicFromSecret(zero, y));
  EXPECT_EQ(gost::kSignBadKey, gost::r3410_94::PublicFromSecret(prm.qb, y));
}

TEST(Dh1024, BothSidesAgreeAndUnsafePeerValuesAreRefused) {
  Params prm;
  uint8_t xa[128], xb[128], ya[128], yb[128], za[128], zb[128];
  ASSERT_EQ(gost::kSignOk, gost::dh1024::GenerateSecret(xa));
  ASSERT_EQ(gost::kSignOk, gost::dh1024::GenerateSecret(xb));
  EXPECT_NE(Hex(xa, 128), Hex(xb, 128));
  Num q(prm.qb, 32), xan(xa, 128);
  EXPECT_LT(gcry_mpi_cmp(xan.v, q.v), 0) << "secret not below q";
  ASSERT_EQ(gost::kSignOk, gost::dh1024::PublicFromSecret(xa, ya));
  ASSERT_EQ(gost::kSignOk, gost::dh1024::PublicFromSecret(xb, yb));
  ASSERT_EQ(gost::kSignOk, gost::dh1024::Agree(xa, yb, za));
  ASSERT_EQ(gost::kSignOk, gost::dh1024::Agree(xb, ya, zb));
  EXPECT_EQ(Hex(za, 128), Hex(zb, 128));
  EXPECT_NE(Hex(za, 128), Hex(ya, 128));
  // The agreed value is a^(xa xb) mod p.
  Num p(prm.pb, 128), a(prm.ab, 128), xbn(xb, 128), e, z;
  gcry_mpi_mul(e.v, xan.v, xbn.v);
  gcry_mpi_powm(z.v, a.v, e.v, p.v);
  EXPECT_EQ(Hex(z.Le(128).data(), 128), Hex(za, 128));

  Num pm1;
  gcry_mpi_sub_ui(pm1.v, p.v, 1);
  std::vector<std::vector<uint8_t>> bad = {std::vector<uint8_t>(128, 0), Num(1).Le(128), pm1.Le(128),
                                           p.Le(128), Num(2).Le(128)};
  // And a value of full order mod p that is not in the subgroup: y * 2 with 2 outside it.
  Num yan(ya, 128), two(2), mixed;
  gcry_mpi_mulm(mixed.v, yan.v, two.v, p.v);
  Num check;
  gcry_mpi_powm(check.v, mixed.v, q.v, p.v);
  ASSERT_NE(0, gcry_mpi_cmp_ui(check.v, 1));
  bad.push_back(mixed.Le(128));
  for (size_t i = 0; i < bad.size(); ++i) {
    std::memset(zb, 0xAA, 128);
    EXPECT_EQ(gost::kSignBadKey, gost::dh1024::Agree(xb, bad[i].data(), zb)) << i;
  }
  // A secret that is 0 mod q is refused.
  std::vector<uint8_t> zero(128, 0), qs = q.Le(128);
  EXPECT_EQ(gost::kSignBadKey, gost::dh1024::PublicFromSecret(zero.data(), ya));
  EXPECT_EQ(gost::kSignBadKey, gost::dh1024::PublicFromSecret(qs.data(), ya));
  EXPECT_EQ(gost::kSignBadKey, gost::dh1024::Agree(qs.data(), yb, za));
}

// The standard's own example (GOST R 34.10-94, appendix A: the 512-bit test parameter set, with
// its secret key x, nonce k and digest), the same numbers other implementations publish in their
// tests. Numbers are printed big-endian; the scheme reads them little-endian.
TEST(R3410_94, StandardsExample) {
  const gost::r3410_94::ParameterSet set = {
      "EE8172AE8996608FB69359B89EB82A69854510E2977A4D63BC97322CE5DC3386"
      "EA0A12B343E9190F23177539845839786BB0C345D165976EF2195EC9B1C379E3",
      "98915E7EC8265EDFCDA31E88F24809DDB064BDC7285DD50D7289F0AC6F49DD2D",
      "9E96031500C8774A869582D4AFDE2127AFAD2538B4B6270A6F7C8837B50D50F2"
      "06755984A49E509304D648BE2AB5AAB18EBE2CD46AC3D8495B142AA6CE23E21C"};
  const auto x = gost_test::LeFromBeHex("3036314538303830343630454235324435324234314132373832433138443046", 32);
  const auto k = gost_test::LeFromBeHex("90F3A564439242F5186EBB224C8E223811B7105C64E4F5390807E6362DF4C72A", 32);
  const auto e = gost_test::LeFromBeHex("3534454132454236443134453437313943363345374143423445413631454230", 32);
  const auto y = gost_test::LeFromBeHex(
      "EE1902A40692D273EDC1B5ADC55F91128E35F9D165FA9901CAF00D27018BA6DF"
      "324519C11A6E272526589CD6E6A2EDDAAFE1C3081259BE9FCEE667A2701F4352", 64);
  auto signature = gost_test::LeFromBeHex("3E5F895E276D81D2D52C0763270A458157B784C57ABDBD807BC44FD43A32AC06", 32);
  const auto s = gost_test::LeFromBeHex("3F0DD5D4400D47C08E4CE505FF7434B6DBF729592E37C74856DAB85115A60955", 32);
  signature.insert(signature.end(), s.begin(), s.end());  // r then s

  uint8_t ourY[64];
  ASSERT_EQ(gost::kSignOk, gost::r3410_94::PublicFromSecret(set, x.data(), ourY, sizeof ourY));
  EXPECT_EQ(std::vector<uint8_t>(ourY, ourY + 64), y);
  uint8_t ours[64];
  ASSERT_EQ(gost::kSignOk, gost::r3410_94::Sign(set, x.data(), e.data(), k.data(), ours));
  EXPECT_EQ(std::vector<uint8_t>(ours, ours + 64), signature);
  EXPECT_EQ(gost::kSignOk, gost::r3410_94::Verify(set, y.data(), y.size(), e.data(), signature.data()));
  auto other = e;
  other[0] ^= 1;
  EXPECT_EQ(gost::kSignBad, gost::r3410_94::Verify(set, y.data(), y.size(), other.data(), signature.data()));
}

}  // namespace
