// GOST R 34.10-94 and the Diffie-Hellman agreement in the same group, over libgcrypt's numbers.
#include "gost.h"
#include "gost_internal.h"

namespace gost {
namespace {

using detail::Mpi;
using detail::MpiFromLe;
using detail::MpiToLe;

// Our own domain parameters (public, not key material), made once with
//   openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:1024
//                   -pkeyopt dsa_paramgen_q_bits:256   (OpenSSL 3.0, then openssl asn1parse)
// p is a 1024-bit prime, q a 256-bit prime dividing p - 1, and a (the generator g of that
// output) has order q. The tests check all of this with libgcrypt.
const char kP[] =
    "8B71A4B0EE5EA87A589F87C69305C51B6A48DD29F0662061B04F16AA69CA57A4830C576D3F9C2E4FFE452FF1CDE08A3C"
    "AE1E43543296B6BC36EC67C29D2BB880AF0D93F87E469CE9ECFA8452C8416F03450624F0A09FE2D3EECD368D3D69B756"
    "E96C9DED5D81352600EF50E7EDD13BFFA9C395D1125A31D02522B97AA41F2233";
const char kQ[] = "E2250AA72DB3BBCA849DB2DD4F01D543B5D2CF795F61B58E1D90F64BB9533DA3";
const char kA[] =
    "30C3A80790ABBE473EEE244CCFDA22DF6B0E8C4C0161DF849A745626F0A83075EFAC79B32396D573F0B514C4F1578DA6"
    "01B5B070C4834E2D6CD2CE631482FCFBC1F16D492CB4A69C2AC704AC0C39D6BB6350AFD51F68B2CB244EB725098100DD"
    "2016832F35C652165F8CD76024C8656CD17A51D5A5BECE27A373DEC2B20E0762";

gcry_mpi_t FromHex(const char* hex) {
  gcry_mpi_t v = nullptr;
  if (gcry_mpi_scan(&v, GCRYMPI_FMT_HEX, hex, 0, nullptr) != 0) return nullptr;
  return v;
}

// The group, parsed per use: a few microseconds beside the exponentiations, and no shared state.
struct Group {
  Group() : Group(r3410_94::ParameterSet{kP, kQ, kA}) {}
  explicit Group(const r3410_94::ParameterSet& set)
      : p((InitLibgcrypt(), FromHex(set.p))), q(FromHex(set.q)), a(FromHex(set.a)) {}
  bool ok() const { return p.get() && q.get() && a.get(); }
  bool InScalarRange(gcry_mpi_t k) const {  // 1..q-1
    return k && gcry_mpi_cmp_ui(k, 0) > 0 && gcry_mpi_cmp(k, q) < 0;
  }
  // 2..p-2 and of order q: anything else (0, 1, -1, small-subgroup values) is refused.
  bool IsGroupElement(gcry_mpi_t y) const {
    if (!y || gcry_mpi_cmp_ui(y, 2) < 0) return false;
    Mpi pm2(gcry_mpi_copy(p)), t;
    gcry_mpi_sub_ui(pm2.get(), pm2, 2);
    if (gcry_mpi_cmp(y, pm2) > 0) return false;
    gcry_mpi_powm(t.get(), y, q, p);
    return gcry_mpi_cmp_ui(t, 1) == 0;
  }
  gcry_mpi_t RandomScalar() const {
    for (;;) {
      uint8_t b[32];
      SystemRandom(b, sizeof(b));
      gcry_mpi_t k = MpiFromLe(b, sizeof(b));
      Wipe(b, sizeof(b));
      if (k == nullptr) return nullptr;
      if (InScalarRange(k)) return k;
      gcry_mpi_release(k);
    }
  }
  Mpi p, q, a;
};

int PublicFromSecretWith(const Group& g, const uint8_t x[32], uint8_t* y, size_t yLen) {
  Mpi xm(MpiFromLe(x, 32)), ym;
  if (!g.ok() || !g.InScalarRange(xm)) return kSignBadKey;
  gcry_mpi_powm(ym.get(), g.a, xm, g.p);
  return MpiToLe(ym, y, yLen) ? kSignOk : kSignBadKey;
}

// r = (a^k mod p) mod q, s = (x r + k e) mod q, e = H mod q (1 in place of 0); a zero r or s
// takes another k (a given k is used once).
int SignWith(const Group& g, const uint8_t x[32], const uint8_t digest[32], const uint8_t* givenK,
             uint8_t signature[64]) {
  Mpi xm(MpiFromLe(x, 32)), e(MpiFromLe(digest, 32));
  if (!g.ok() || !g.InScalarRange(xm) || !e.get()) return kSignBadKey;
  gcry_mpi_mod(e.get(), e, g.q);
  if (gcry_mpi_cmp_ui(e, 0) == 0) gcry_mpi_set_ui(e.get(), 1);
  for (int attempt = 0; attempt < (givenK != nullptr ? 1 : 64); ++attempt) {
    Mpi k(givenK != nullptr ? MpiFromLe(givenK, 32) : g.RandomScalar()), r, s, t;
    if (!k.get() || !g.InScalarRange(k)) return kSignBadKey;
    gcry_mpi_powm(r.get(), g.a, k, g.p);
    gcry_mpi_mod(r.get(), r, g.q);
    if (gcry_mpi_cmp_ui(r, 0) == 0) continue;
    gcry_mpi_mulm(s.get(), xm, r, g.q);
    gcry_mpi_mulm(t.get(), k, e, g.q);
    gcry_mpi_addm(s.get(), s, t, g.q);
    if (gcry_mpi_cmp_ui(s, 0) == 0) continue;
    if (!MpiToLe(r, signature, 32) || !MpiToLe(s, signature + 32, 32)) return kSignBad;
    return kSignOk;
  }
  return kSignBad;
}

// v = e^(q-2) mod q, z1 = s v mod q, z2 = (q - r) v mod q, u = (a^z1 y^z2 mod p) mod q; the
// signature holds when u = r.
int VerifyWith(const Group& g, const uint8_t* y, size_t yLen, const uint8_t digest[32], const uint8_t signature[64]) {
  if (!g.ok()) return kSignBadKey;
  Mpi ym(MpiFromLe(y, yLen));
  if (!g.IsGroupElement(ym)) return kSignBadKey;
  Mpi r(MpiFromLe(signature, 32)), s(MpiFromLe(signature + 32, 32)), e(MpiFromLe(digest, 32));
  if (!r.get() || !s.get() || !e.get()) return kSignBad;
  if (gcry_mpi_cmp_ui(r, 0) == 0) return kSignZeroR;
  if (gcry_mpi_cmp(r, g.q) >= 0) return kSignBadR;
  if (gcry_mpi_cmp_ui(s, 0) == 0) return kSignZeroS;
  if (gcry_mpi_cmp(s, g.q) >= 0) return kSignBadS;
  gcry_mpi_mod(e.get(), e, g.q);
  if (gcry_mpi_cmp_ui(e, 0) == 0) gcry_mpi_set_ui(e.get(), 1);

  Mpi v, z1, z2, u, t, qm2(gcry_mpi_copy(g.q));
  gcry_mpi_sub_ui(qm2.get(), qm2, 2);
  gcry_mpi_powm(v.get(), e, qm2, g.q);
  gcry_mpi_mulm(z1.get(), s, v, g.q);
  gcry_mpi_sub(z2.get(), g.q, r);
  gcry_mpi_mulm(z2.get(), z2, v, g.q);
  gcry_mpi_powm(u.get(), g.a, z1, g.p);
  gcry_mpi_powm(t.get(), ym, z2, g.p);
  gcry_mpi_mulm(u.get(), u, t, g.p);
  gcry_mpi_mod(u.get(), u, g.q);
  return gcry_mpi_cmp(u, r) == 0 ? kSignOk : kSignBad;
}

}  // namespace

namespace r3410_94 {

void Parameters(uint8_t p[128], uint8_t q[32], uint8_t a[128]) {
  Group g;
  MpiToLe(g.p, p, 128);
  MpiToLe(g.q, q, 32);
  MpiToLe(g.a, a, 128);
}

int GenerateSecret(uint8_t x[32]) {
  Group g;
  if (!g.ok()) return kSignBadKey;
  Mpi k(g.RandomScalar());
  return k.get() && MpiToLe(k, x, 32) ? kSignOk : kSignBadKey;
}

int PublicFromSecret(const uint8_t x[32], uint8_t y[128]) { return PublicFromSecretWith(Group(), x, y, 128); }

int Sign(const uint8_t x[32], const uint8_t digest[32], uint8_t signature[64]) {
  return SignWith(Group(), x, digest, nullptr, signature);
}

int Verify(const uint8_t y[128], const uint8_t digest[32], const uint8_t signature[64]) {
  return VerifyWith(Group(), y, 128, digest, signature);
}

int PublicFromSecret(const ParameterSet& Set, const uint8_t x[32], uint8_t* y, size_t yLen) {
  return PublicFromSecretWith(Group(Set), x, y, yLen);
}

int Sign(const ParameterSet& Set, const uint8_t x[32], const uint8_t digest[32], const uint8_t k[32],
         uint8_t signature[64]) {
  return SignWith(Group(Set), x, digest, k, signature);
}

int Verify(const ParameterSet& Set, const uint8_t* y, size_t yLen, const uint8_t digest[32],
           const uint8_t signature[64]) {
  return VerifyWith(Group(Set), y, yLen, digest, signature);
}

}  // namespace r3410_94

namespace dh1024 {
namespace {
// A secret is any 128-byte number that is not a multiple of q (those give the neutral element).
bool LoadSecret(const Group& g, const uint8_t x[128], Mpi& out) {
  gcry_mpi_t v = MpiFromLe(x, 128);
  if (v == nullptr) return false;
  gcry_mpi_set(out.get(), v);
  gcry_mpi_release(v);
  Mpi t;
  gcry_mpi_mod(t.get(), out, g.q);
  return gcry_mpi_cmp_ui(t, 0) != 0;
}
}  // namespace

int GenerateSecret(uint8_t x[128]) {
  Group g;
  if (!g.ok()) return kSignBadKey;
  Mpi k(g.RandomScalar());
  return k.get() && MpiToLe(k, x, 128) ? kSignOk : kSignBadKey;
}

int PublicFromSecret(const uint8_t x[128], uint8_t y[128]) {
  Group g;
  Mpi xm, ym;
  if (!g.ok() || !LoadSecret(g, x, xm)) return kSignBadKey;
  gcry_mpi_powm(ym.get(), g.a, xm, g.p);
  return MpiToLe(ym, y, 128) ? kSignOk : kSignBadKey;
}

int Agree(const uint8_t x[128], const uint8_t peerY[128], uint8_t out[128]) {
  Group g;
  Mpi xm, peer(MpiFromLe(peerY, 128)), z;
  if (!g.ok() || !LoadSecret(g, x, xm) || !g.IsGroupElement(peer)) return kSignBadKey;
  gcry_mpi_powm(z.get(), peer, xm, g.p);
  return MpiToLe(z, out, 128) ? kSignOk : kSignBadKey;
}

}  // namespace dh1024
}  // namespace gost
