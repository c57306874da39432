// GOST R 34.10-2001 on libgcrypt's GOST curves. The scheme itself is written out over libgcrypt's
// point arithmetic, so that a caller's nonce can be used (known-answer tests) and the statuses are
// the toolkit's.
#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "gost.h"
#include "gost_internal.h"

namespace gost {
namespace r3410_2001 {
namespace {

using detail::Mpi;
using detail::MpiFromLe;
using detail::MpiToLe;

const char* CurveName(Curve c) {
  switch (c) {
    case Curve::Test:
      return "GOST2001-test";  // the example curve of RFC 5832
    case Curve::CryptoProA:
      return "GOST2001-CryptoPro-A";
  }
  return nullptr;
}

class Point2 {
 public:
  Point2() : p_(gcry_mpi_point_new(0)) {}
  explicit Point2(gcry_mpi_point_t p) : p_(p) {}
  ~Point2() { gcry_mpi_point_release(p_); }
  Point2(const Point2&) = delete;
  Point2& operator=(const Point2&) = delete;
  gcry_mpi_point_t get() const { return p_; }

 private:
  gcry_mpi_point_t p_;
};

// One curve's context with its field prime p, group order q and base point G.
class Ec {
 public:
  explicit Ec(Curve c) {
    InitLibgcrypt();
    const char* name = CurveName(c);
    if (name == nullptr || gcry_mpi_ec_new(&ctx_, nullptr, name) != 0) {
      ctx_ = nullptr;
      return;
    }
    p_ = gcry_mpi_ec_get_mpi("p", ctx_, 1);
    q_ = gcry_mpi_ec_get_mpi("n", ctx_, 1);
    g_ = gcry_mpi_ec_get_point("g", ctx_, 1);
  }
  ~Ec() {
    gcry_mpi_release(p_);
    gcry_mpi_release(q_);
    gcry_mpi_point_release(g_);
    gcry_ctx_release(ctx_);
  }
  Ec(const Ec&) = delete;
  Ec& operator=(const Ec&) = delete;

  bool ok() const { return ctx_ && p_ && q_ && g_; }
  gcry_ctx_t ctx() const { return ctx_; }
  gcry_mpi_t p() const { return p_; }
  gcry_mpi_t q() const { return q_; }
  gcry_mpi_point_t g() const { return g_; }

  bool InScalarRange(gcry_mpi_t k) const {  // 1..q-1
    return k && gcry_mpi_cmp_ui(k, 0) > 0 && gcry_mpi_cmp(k, q_) < 0;
  }

  // k * P as affine coordinates; false for the point at infinity.
  bool MulAffine(gcry_mpi_t k, gcry_mpi_point_t pt, gcry_mpi_t x, gcry_mpi_t y) const {
    Point2 r;
    gcry_mpi_ec_mul(r.get(), k, pt, ctx_);
    return gcry_mpi_ec_get_affine(x, y, r.get(), ctx_) == 0;
  }

  // A caller's point, or nullptr when a coordinate is not below p or it is not on the curve.
  gcry_mpi_point_t Import(const Point& pt) const {
    Mpi x(MpiFromLe(pt.x, 32)), y(MpiFromLe(pt.y, 32));
    if (!x.get() || !y.get() || gcry_mpi_cmp(x, p_) >= 0 || gcry_mpi_cmp(y, p_) >= 0) return nullptr;
    Mpi one(gcry_mpi_set_ui(nullptr, 1));
    gcry_mpi_point_t r = gcry_mpi_point_set(nullptr, x, y, one);
    if (!gcry_mpi_ec_curve_point(r, ctx_)) {
      gcry_mpi_point_release(r);
      return nullptr;
    }
    return r;
  }

  // A random scalar in 1..q-1.
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

  // The digest as a little-endian number mod q; 1 in place of 0.
  gcry_mpi_t DigestNumber(const uint8_t digest[32]) const {
    gcry_mpi_t e = MpiFromLe(digest, 32);
    if (e == nullptr) return nullptr;
    gcry_mpi_mod(e, e, q_);
    if (gcry_mpi_cmp_ui(e, 0) == 0) gcry_mpi_set_ui(e, 1);
    return e;
  }

 private:
  gcry_ctx_t ctx_ = nullptr;
  gcry_mpi_t p_ = nullptr;
  gcry_mpi_t q_ = nullptr;
  gcry_mpi_point_t g_ = nullptr;
};

// r = x(kG) mod q, s = (r d + k e) mod q.
int SignCore(const Ec& ec, gcry_mpi_t d, gcry_mpi_t e, gcry_mpi_t k, uint8_t signature[64]) {
  Mpi x, y, r, s, t;
  if (!ec.MulAffine(k, ec.g(), x, y)) return kSignZeroR;
  gcry_mpi_mod(r.get(), x, ec.q());
  if (gcry_mpi_cmp_ui(r, 0) == 0) return kSignZeroR;
  gcry_mpi_mulm(s.get(), r, d, ec.q());
  gcry_mpi_mulm(t.get(), k, e, ec.q());
  gcry_mpi_addm(s.get(), s, t, ec.q());
  if (gcry_mpi_cmp_ui(s, 0) == 0) return kSignZeroS;
  if (!MpiToLe(r, signature, 32) || !MpiToLe(s, signature + 32, 32)) return kSignBad;
  return kSignOk;
}

}  // namespace

int GenerateSecret(Curve curve, uint8_t d[32]) {
  Ec ec(curve);
  if (!ec.ok()) return kSignBadKey;
  Mpi k(ec.RandomScalar());
  if (!k.get() || !MpiToLe(k, d, 32)) return kSignBadKey;
  return kSignOk;
}

namespace {

// Products already computed, by the exact curve, scalar and point. Only when the process asks for
// it (ZK_GOST_MEMO set, as the fuzz targets do): a fuzzer repeats one key agreement with every
// input, and under its sanitizers each product costs about a millisecond of libgcrypt's
// allocations. A changed byte is another key, so what the caller sees does not change.
class Memo {
 public:
  static Memo* Get() {
    static Memo* memo = std::getenv("ZK_GOST_MEMO") != nullptr ? new Memo : nullptr;  // kept to exit
    return memo;
  }
  using Key = std::array<uint8_t, 97>;
  // `p` null for the base point.
  static Key KeyOf(Curve curve, const uint8_t k[32], const Point* p) {
    static const Point kNone{};
    if (p == nullptr) p = &kNone;
    Key key{};
    key[0] = static_cast<uint8_t>(static_cast<unsigned>(curve) | (p == &kNone ? 0x80u : 0u));
    std::memcpy(key.data() + 1, k, 32);
    std::memcpy(key.data() + 33, p->x, 32);
    std::memcpy(key.data() + 65, p->y, 32);
    return key;
  }
  bool Find(const Key& key, int& status, Point& out) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto it = products_.find(key);
    if (it == products_.end()) return false;
    status = it->second.status;
    out = it->second.product;
    return true;
  }
  void Add(const Key& key, int status, const Point& out) {
    std::lock_guard<std::mutex> hold(lock_);
    if (products_.size() >= kMaxProducts) Clear();
    products_[key] = Product{status, out};
  }

 private:
  static constexpr size_t kMaxProducts = 4096;
  struct Product {
    int status;
    Point product;
  };
  void Clear() {
    for (auto& entry : products_) {
      Wipe(const_cast<uint8_t*>(entry.first.data()), entry.first.size());
      Wipe(&entry.second, sizeof entry.second);
    }
    products_.clear();
  }
  std::mutex lock_;
  std::map<Key, Product> products_;
};

// The memo's answer when it has one, else `compute`'s, remembered.
template <typename Compute>
int Remembered(const Memo::Key& key, Point& out, Compute compute) {
  Memo* memo = Memo::Get();
  if (memo == nullptr) return compute();
  int status = kSignBadKey;
  if (memo->Find(key, status, out)) return status;
  status = compute();
  memo->Add(key, status, out);
  return status;
}

int PublicFromSecretNow(Curve curve, const uint8_t d[32], Point& q) {
  Ec ec(curve);
  if (!ec.ok()) return kSignBadKey;
  Mpi k(MpiFromLe(d, 32)), x, y;
  if (!ec.InScalarRange(k) || !ec.MulAffine(k, ec.g(), x, y)) return kSignBadKey;
  if (!MpiToLe(x, q.x, 32) || !MpiToLe(y, q.y, 32)) return kSignBadKey;
  return kSignOk;
}

}  // namespace

int PublicFromSecret(Curve curve, const uint8_t d[32], Point& q) {
  return Remembered(Memo::KeyOf(curve, d, nullptr), q, [&] { return PublicFromSecretNow(curve, d, q); });
}

int Sign(Curve curve, const uint8_t d[32], const uint8_t digest[32], uint8_t signature[64]) {
  Ec ec(curve);
  if (!ec.ok()) return kSignBadKey;
  Mpi dm(MpiFromLe(d, 32)), e(ec.DigestNumber(digest));
  if (!ec.InScalarRange(dm) || !e.get()) return kSignBadKey;
  // A zero r or s asks for another nonce; with q near 2^256 that practically never happens.
  for (int attempt = 0; attempt < 64; ++attempt) {
    Mpi k(ec.RandomScalar());
    if (!k.get()) return kSignBadKey;
    int rc = SignCore(ec, dm, e, k, signature);
    if (rc != kSignZeroR && rc != kSignZeroS) return rc;
  }
  return kSignBad;
}

int SignWithNonce(Curve curve, const uint8_t d[32], const uint8_t digest[32], const uint8_t k[32],
                  uint8_t signature[64]) {
  Ec ec(curve);
  if (!ec.ok()) return kSignBadKey;
  Mpi dm(MpiFromLe(d, 32)), e(ec.DigestNumber(digest)), km(MpiFromLe(k, 32));
  if (!ec.InScalarRange(dm) || !e.get() || !ec.InScalarRange(km)) return kSignBadKey;
  return SignCore(ec, dm, e, km, signature);
}

// v = e^-1, z1 = s v, z2 = -r v (mod q); the signature holds when x(z1 G + z2 Q) mod q == r.
int Verify(Curve curve, const Point& q, const uint8_t digest[32], const uint8_t signature[64]) {
  Ec ec(curve);
  if (!ec.ok()) return kSignBadKey;
  Point2 qp(ec.Import(q));
  if (qp.get() == nullptr) return kSignBadKey;
  Mpi r(MpiFromLe(signature, 32)), s(MpiFromLe(signature + 32, 32)), e(ec.DigestNumber(digest));
  if (!r.get() || !s.get() || !e.get()) return kSignBad;
  if (gcry_mpi_cmp_ui(r, 0) == 0) return kSignZeroR;
  if (gcry_mpi_cmp(r, ec.q()) >= 0) return kSignBadR;
  if (gcry_mpi_cmp_ui(s, 0) == 0) return kSignZeroS;
  if (gcry_mpi_cmp(s, ec.q()) >= 0) return kSignBadS;

  Mpi v, z1, z2, x, y;
  if (!gcry_mpi_invm(v.get(), e, ec.q())) return kSignBad;
  gcry_mpi_mulm(z1.get(), s, v, ec.q());
  gcry_mpi_sub(z2.get(), ec.q(), r);
  gcry_mpi_mulm(z2.get(), z2, v, ec.q());
  Point2 a, b, c;
  gcry_mpi_ec_mul(a.get(), z1, ec.g(), ec.ctx());
  gcry_mpi_ec_mul(b.get(), z2, qp.get(), ec.ctx());
  gcry_mpi_ec_add(c.get(), a.get(), b.get(), ec.ctx());
  if (gcry_mpi_ec_get_affine(x, y, c.get(), ec.ctx()) != 0) return kSignBad;
  gcry_mpi_mod(x.get(), x, ec.q());
  return gcry_mpi_cmp(x, r) == 0 ? kSignOk : kSignBad;
}

namespace {

int MultiplyNow(Curve curve, const uint8_t k[32], const Point& p, Point& out) {
  Ec ec(curve);
  if (!ec.ok()) return kSignBadKey;
  Point2 pp(ec.Import(p));
  if (pp.get() == nullptr) return kSignBadKey;
  Mpi km(MpiFromLe(k, 32)), x, y;
  if (!km.get() || !ec.MulAffine(km, pp.get(), x, y)) return kSignBadKey;
  if (!MpiToLe(x, out.x, 32) || !MpiToLe(y, out.y, 32)) return kSignBadKey;
  return kSignOk;
}

}  // namespace

int Multiply(Curve curve, const uint8_t k[32], const Point& p, Point& out) {
  return Remembered(Memo::KeyOf(curve, k, &p), out, [&] { return MultiplyNow(curve, k, p, out); });
}

}  // namespace r3410_2001
}  // namespace gost
