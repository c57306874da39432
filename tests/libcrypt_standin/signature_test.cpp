// Signatures, key agreement and the engine's key files through the stand-in's exports, checked
// against the shared primitives; key-slot statuses of the contexts.
#include "libcrypt_module.h"

namespace libcrypt_test {
namespace {

using gost::r3410_2001::Curve;
using gost::r3410_2001::Point;

// CryptoPro-A base point order, little-endian; confirmed against the curve below.
const uint8_t kOrder2001[32] = {0x93, 0xB8, 0x61, 0xB7, 0x09, 0x1B, 0x84, 0x45, 0x00, 0xD1, 0x5A,
                                0x99, 0x70, 0x10, 0x61, 0x6C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

uint32_t LE32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// Little-endian minus one (the value must not be zero).
std::vector<uint8_t> MinusOne(std::vector<uint8_t> v) {
  for (uint8_t& b : v) {
    if (b-- != 0) break;
  }
  return v;
}

struct KeyPair {
  int type = 0;
  std::string uid;
  std::vector<uint8_t> secretFile, publicFile;
  // Views into the files.
  std::vector<uint8_t> signSecret() const { return {secretFile.begin() + 4, secretFile.begin() + 36}; }
  std::vector<uint8_t> agreeSecret() const { return {secretFile.begin() + 36, secretFile.end()}; }
  size_t S() const { return type == 0 ? 128 : 100; }
  std::vector<uint8_t> signPublic() const {
    auto at = publicFile.begin() + uid.size() + 5;
    return {at, at + S()};
  }
  std::vector<uint8_t> agreePublic() const {
    auto at = publicFile.begin() + uid.size() + 5 + S();
    return {at, at + 128};
  }
};

class SignatureTest : public LibcryptFilesTest {
 protected:
  KeyPair Make(int type, const std::string& uid) {
    KeyPair k;
    k.type = type;
    k.uid = uid;
    const std::string base = uid + "_" + std::to_string(counter_++);
    EXPECT_EQ(L().CrypC_StandIn_WriteKeyFiles(type, uid.c_str(), Path(base + ".key").c_str(),
                                              Path(base + ".pub").c_str()),
              0);
    k.secretFile = Read(base + ".key");
    k.publicFile = Read(base + ".pub");
    return k;
  }

  // As the adapter signs: parameters, secret key, sign, clear.
  int Sign(const KeyPair& k, const uint8_t digest[32], uint8_t signature[64]) {
    auto work = WorkBlock();
    const auto secret = k.signSecret();
    int s = k.type == 0 ? L().CrypC_LR34_10_1994_set_parms(work.data(), nullptr, 32, 128)
                        : L().CrypC_LR34_10_2001_set_parms(work.data(), nullptr, 32, 32);
    if (s == 0)
      s = k.type == 0 ? L().CrypC_LR34_10_1994_set_secret_key(work.data(), secret.data())
                      : L().CrypC_LR34_10_2001_set_secret_key(work.data(), secret.data());
    if (s == 0)
      s = k.type == 0 ? L().CrypC_LR34_10_1994_sign(work.data(), digest, signature)
                      : L().CrypC_LR34_10_2001_sign(work.data(), digest, signature);
    const int c = k.type == 0 ? L().CrypC_LR34_10_1994_clear(work.data()) : L().CrypC_LR34_10_2001_clear(work.data());
    return s != 0 ? s : c;
  }

  int Verify(int type, const std::vector<uint8_t>& publicKey, const uint8_t digest[32], const uint8_t* signature,
             uint32_t len = 64) {
    auto work = WorkBlock();
    int s = type == 0 ? L().CrypC_LR34_10_1994_set_parms(work.data(), nullptr, 32, 128)
                      : L().CrypC_LR34_10_2001_set_parms(work.data(), nullptr, 32, 32);
    if (s == 0)
      s = type == 0 ? L().CrypC_LR34_10_1994_set_public_key(work.data(), publicKey.data())
                    : L().CrypC_LR34_10_2001_set_public_key(work.data(), publicKey.data());
    if (s == 0)
      s = type == 0 ? L().CrypC_LR34_10_1994_verify(work.data(), digest, signature, len)
                    : L().CrypC_LR34_10_2001_verify(work.data(), digest, signature, len);
    type == 0 ? L().CrypC_LR34_10_1994_clear(work.data()) : L().CrypC_LR34_10_2001_clear(work.data());
    return s;
  }

  static Point PointOf(const std::vector<uint8_t>& public100) {
    Point q;
    std::memcpy(q.x, public100.data() + 4, 32);
    std::memcpy(q.y, public100.data() + 36, 32);
    return q;
  }

  int counter_ = 0;
};

TEST_F(SignatureTest, KeyFilesHaveTheEngineLayoutAndMatchingHalves) {
  for (int type : {0, 1}) {
    SCOPED_TRACE(type);
    const KeyPair k = Make(type, "Operator " + std::to_string(type));
    ASSERT_EQ(k.secretFile.size(), 164u);
    ASSERT_EQ(k.publicFile.size(), k.uid.size() + (type == 0 ? 261 : 233));
    EXPECT_EQ(LE32(k.secretFile.data()), uint32_t(type));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(k.publicFile.data())), k.uid);
    EXPECT_EQ(LE32(k.publicFile.data() + k.uid.size() + 1), uint32_t(type));

    const auto secret = k.signSecret();
    if (type == 0) {
      std::vector<uint8_t> y(128);
      ASSERT_EQ(gost::r3410_94::PublicFromSecret(secret.data(), y.data()), 0);
      EXPECT_EQ(k.signPublic(), y);
    } else {
      const auto pub = k.signPublic();
      EXPECT_EQ(LE32(pub.data()), 1u);
      EXPECT_EQ(std::vector<uint8_t>(pub.begin() + 68, pub.end()), std::vector<uint8_t>(32, 0));
      Point q;
      ASSERT_EQ(gost::r3410_2001::PublicFromSecret(Curve::CryptoProA, secret.data(), q), 0);
      EXPECT_EQ(std::memcmp(pub.data() + 4, q.x, 32), 0);
      EXPECT_EQ(std::memcmp(pub.data() + 36, q.y, 32), 0);
    }
    std::vector<uint8_t> agreePublic(128);
    ASSERT_EQ(gost::dh1024::PublicFromSecret(k.agreeSecret().data(), agreePublic.data()), 0);
    EXPECT_EQ(k.agreePublic(), agreePublic);

    const KeyPair other = Make(type, "Operator " + std::to_string(type));
    EXPECT_NE(other.signSecret(), k.signSecret());
    EXPECT_NE(other.agreeSecret(), k.agreeSecret());
  }
}

TEST_F(SignatureTest, SignaturesFromKeyFilesVerifyAndFailWhenAnythingChanges) {
  for (int type : {0, 1}) {
    SCOPED_TRACE(type);
    const KeyPair k = Make(type, "signer");
    const KeyPair stranger = Make(type, "stranger");
    auto digest = RandomBytes(32);
    uint8_t signature[68];
    std::memset(signature, 0x3C, sizeof signature);
    ASSERT_EQ(Sign(k, digest.data(), signature), 0);
    for (int i = 64; i < 68; ++i) EXPECT_EQ(signature[i], 0x3C) << "written past the signature";
    EXPECT_EQ(Verify(type, k.signPublic(), digest.data(), signature), 0);
    // The primitive agrees.
    if (type == 0) {
      EXPECT_EQ(gost::r3410_94::Verify(k.signPublic().data(), digest.data(), signature), 0);
    } else {
      EXPECT_EQ(gost::r3410_2001::Verify(Curve::CryptoProA, PointOf(k.signPublic()), digest.data(), signature), 0);
    }

    EXPECT_EQ(Verify(type, stranger.signPublic(), digest.data(), signature), 5);
    for (int at : {0, 17, 31, 32, 50, 63}) {
      uint8_t altered[64];
      std::memcpy(altered, signature, 64);
      altered[at] ^= 0x10;
      const int s = Verify(type, k.signPublic(), digest.data(), altered);
      EXPECT_TRUE(s == 5 || s == 8 || s == 9) << "byte " << at << ": " << s;
    }
    auto changed = digest;
    changed[9] ^= 0x01;
    EXPECT_EQ(Verify(type, k.signPublic(), changed.data(), signature), 5);
  }
}

TEST_F(SignatureTest, SignaturesOfThePrimitiveVerifyThroughTheToolkit) {
  auto digest = RandomBytes(32);
  uint8_t signature[64];
  const KeyPair k94 = Make(0, "a"), k01 = Make(1, "b");
  ASSERT_EQ(gost::r3410_94::Sign(k94.signSecret().data(), digest.data(), signature), 0);
  EXPECT_EQ(Verify(0, k94.signPublic(), digest.data(), signature), 0);
  ASSERT_EQ(gost::r3410_2001::Sign(Curve::CryptoProA, k01.signSecret().data(), digest.data(), signature), 0);
  EXPECT_EQ(Verify(1, k01.signPublic(), digest.data(), signature), 0);
  EXPECT_NE(Verify(0, k94.signPublic(), digest.data(), signature), 0);  // the other scheme's
}

TEST_F(SignatureTest, AShortSignatureIsCheckedWithItsMissingBytesAsZero) {
  for (int type : {0, 1}) {
    SCOPED_TRACE(type);
    const KeyPair k = Make(type, "short");
    auto digest = RandomBytes(32);
    uint8_t signature[64], zeroed[64];
    ASSERT_EQ(Sign(k, digest.data(), signature), 0);
    for (uint32_t len : {63u, 40u, 32u, 1u}) {
      SCOPED_TRACE(len);
      std::memset(zeroed, 0, 64);
      std::memcpy(zeroed, signature, len);
      const int expected = type == 0 ? gost::r3410_94::Verify(k.signPublic().data(), digest.data(), zeroed)
                                     : gost::r3410_2001::Verify(Curve::CryptoProA, PointOf(k.signPublic()),
                                                                digest.data(), zeroed);
      EXPECT_EQ(Verify(type, k.signPublic(), digest.data(), signature, len), expected);
    }
    EXPECT_EQ(Verify(type, k.signPublic(), digest.data(), signature, 0), 14);
    EXPECT_EQ(Verify(type, k.signPublic(), digest.data(), signature, 65), 14);
  }
}

TEST_F(SignatureTest, SignatureComponentsOutOfRangeAreNamed) {
  for (int type : {0, 1}) {
    SCOPED_TRACE(type);
    const KeyPair k = Make(type, "range");
    auto digest = RandomBytes(32);
    uint8_t signature[64];
    ASSERT_EQ(Sign(k, digest.data(), signature), 0);
    uint8_t bad[64];
    std::memcpy(bad, signature, 64);
    std::memset(bad, 0, 32);
    EXPECT_EQ(Verify(type, k.signPublic(), digest.data(), bad), 6);  // r zero
    std::memset(bad, 0xFF, 32);
    EXPECT_EQ(Verify(type, k.signPublic(), digest.data(), bad), 8);  // r not below q
    std::memcpy(bad, signature, 64);
    std::memset(bad + 32, 0, 32);
    EXPECT_EQ(Verify(type, k.signPublic(), digest.data(), bad), 7);  // s zero
    EXPECT_EQ(Verify(type, k.signPublic(), digest.data(), signature, 32), 7) << "s missing altogether";
    std::memset(bad + 32, 0xFF, 32);
    EXPECT_EQ(Verify(type, k.signPublic(), digest.data(), bad), 9);  // s not below q
  }
}

TEST_F(SignatureTest, KeySlotsMustBeFilledOnceAndBeforeUse) {
  uint8_t digest[32] = {1}, signature[64] = {}, out[128];
  {
    auto work = WorkBlock();
    void* w = work.data();
    ASSERT_EQ(L().CrypC_LR34_10_1994_set_parms(w, nullptr, 32, 128), 0);
    EXPECT_EQ(L().CrypC_LR34_10_1994_sign(w, digest, signature), 3);
    EXPECT_EQ(L().CrypC_LR34_10_1994_verify(w, digest, signature, 64), 3);
    EXPECT_EQ(L().CrypC_LR34_10_1994_gen_public_key(w), 3);
    EXPECT_EQ(L().CrypC_LR34_10_1994_get_secret_key(w, out), 3);
    EXPECT_EQ(L().CrypC_LR34_10_1994_get_public_key(w, out), 3);
    ASSERT_EQ(L().CrypC_LR34_10_1994_gen_secret_key(w), 0);
    EXPECT_EQ(L().CrypC_LR34_10_1994_gen_secret_key(w), 4);
    std::vector<uint8_t> x(32), y(128), expectedY(128);
    ASSERT_EQ(L().CrypC_LR34_10_1994_get_secret_key(w, x.data()), 0);
    EXPECT_EQ(L().CrypC_LR34_10_1994_set_secret_key(w, x.data()), 4);
    ASSERT_EQ(L().CrypC_LR34_10_1994_gen_public_key(w), 0);
    EXPECT_EQ(L().CrypC_LR34_10_1994_gen_public_key(w), 4);
    EXPECT_EQ(L().CrypC_LR34_10_1994_set_public_key(w, y.data()), 4);
    ASSERT_EQ(L().CrypC_LR34_10_1994_get_public_key(w, y.data()), 0);
    ASSERT_EQ(gost::r3410_94::PublicFromSecret(x.data(), expectedY.data()), 0);
    EXPECT_EQ(y, expectedY);
    // A generated pair signs and verifies within one context.
    ASSERT_EQ(L().CrypC_LR34_10_1994_sign(w, digest, signature), 0);
    EXPECT_EQ(L().CrypC_LR34_10_1994_verify(w, digest, signature, 64), 0);
    // Emptied slots can be filled again.
    ASSERT_EQ(L().CrypC_LR34_10_1994_clear_secret_key(w), 0);
    EXPECT_EQ(L().CrypC_LR34_10_1994_sign(w, digest, signature), 3);
    EXPECT_EQ(L().CrypC_LR34_10_1994_set_secret_key(w, x.data()), 0);
    ASSERT_EQ(L().CrypC_LR34_10_1994_clear_public_key(w), 0);
    EXPECT_EQ(L().CrypC_LR34_10_1994_verify(w, digest, signature, 64), 3);
    EXPECT_EQ(L().CrypC_LR34_10_1994_set_public_key(w, y.data()), 0);
    EXPECT_EQ(L().CrypC_LR34_10_1994_verify(w, digest, signature, 64), 0);
    EXPECT_EQ(L().CrypC_LR34_10_1994_clear(w), 0);
  }
  {
    auto work = WorkBlock();
    void* w = work.data();
    ASSERT_EQ(L().CrypC_LR34_10_2001_set_parms(w, nullptr, 32, 32), 0);
    EXPECT_EQ(L().CrypC_LR34_10_2001_sign(w, digest, signature), 3);
    EXPECT_EQ(L().CrypC_LR34_10_2001_verify(w, digest, signature, 64), 3);
    EXPECT_EQ(L().CrypC_LR34_10_2001_gen_public_key(w), 3);
    EXPECT_EQ(L().CrypC_LR34_10_2001_get_secret_key(w, out), 3);
    EXPECT_EQ(L().CrypC_LR34_10_2001_get_public_key(w, out), 3);
    ASSERT_EQ(L().CrypC_LR34_10_2001_gen_secret_key(w), 0);
    EXPECT_EQ(L().CrypC_LR34_10_2001_gen_secret_key(w), 4);
    std::vector<uint8_t> d(32), pub(104, 0xD7);
    ASSERT_EQ(L().CrypC_LR34_10_2001_get_secret_key(w, d.data()), 0);
    EXPECT_EQ(L().CrypC_LR34_10_2001_set_secret_key(w, d.data()), 4);
    ASSERT_EQ(L().CrypC_LR34_10_2001_gen_public_key(w), 0);
    EXPECT_EQ(L().CrypC_LR34_10_2001_gen_public_key(w), 4);
    ASSERT_EQ(L().CrypC_LR34_10_2001_get_public_key(w, pub.data()), 0);
    EXPECT_EQ(L().CrypC_LR34_10_2001_set_public_key(w, pub.data()), 4);
    for (int i = 100; i < 104; ++i) EXPECT_EQ(pub[i], 0xD7) << "written past the public key";
    Point q;
    ASSERT_EQ(gost::r3410_2001::PublicFromSecret(Curve::CryptoProA, d.data(), q), 0);
    EXPECT_EQ(LE32(pub.data()), 1u);
    EXPECT_EQ(std::memcmp(pub.data() + 4, q.x, 32), 0);
    EXPECT_EQ(std::memcmp(pub.data() + 36, q.y, 32), 0);
    EXPECT_EQ(std::vector<uint8_t>(pub.begin() + 68, pub.begin() + 100), std::vector<uint8_t>(32, 0));
    ASSERT_EQ(L().CrypC_LR34_10_2001_sign(w, digest, signature), 0);
    EXPECT_EQ(L().CrypC_LR34_10_2001_verify(w, digest, signature, 64), 0);
    ASSERT_EQ(L().CrypC_LR34_10_2001_clear_secret_key(w), 0);
    EXPECT_EQ(L().CrypC_LR34_10_2001_sign(w, digest, signature), 3);
    EXPECT_EQ(L().CrypC_LR34_10_2001_set_secret_key(w, d.data()), 0);
    EXPECT_EQ(L().CrypC_LR34_10_2001_clear(w), 0);
  }
}

TEST_F(SignatureTest, SecretKeysOutsideOneToTheOrderAreUnusable) {
  // The order used by the toolkit really is the curve's: q * Q is the point at infinity.
  const KeyPair k = Make(1, "order");
  Point q = PointOf(k.signPublic()), out;
  EXPECT_EQ(gost::r3410_2001::Multiply(Curve::CryptoProA, kOrder2001, q, out), 3);
  const std::vector<uint8_t> order(kOrder2001, kOrder2001 + 32);
  EXPECT_EQ(gost::r3410_2001::Multiply(Curve::CryptoProA, MinusOne(order).data(), q, out), 0);

  uint8_t p[128], q94[32], a[128];
  gost::r3410_94::Parameters(p, q94, a);
  const std::vector<uint8_t> order94(q94, q94 + 32);
  struct Case {
    int type;
    std::vector<uint8_t> key;
    int expected;
  } cases[] = {
      {1, std::vector<uint8_t>(32, 0), 3}, {1, order, 3}, {1, std::vector<uint8_t>(32, 0xFF), 3},
      {1, MinusOne(order), 0},             {0, std::vector<uint8_t>(32, 0), 3}, {0, order94, 3},
      {0, MinusOne(order94), 0},
  };
  for (const Case& c : cases) {
    auto work = WorkBlock();
    if (c.type == 0) {
      ASSERT_EQ(L().CrypC_LR34_10_1994_set_parms(work.data(), nullptr, 32, 128), 0);
      EXPECT_EQ(L().CrypC_LR34_10_1994_set_secret_key(work.data(), c.key.data()), c.expected);
      L().CrypC_LR34_10_1994_clear(work.data());
    } else {
      ASSERT_EQ(L().CrypC_LR34_10_2001_set_parms(work.data(), nullptr, 32, 32), 0);
      EXPECT_EQ(L().CrypC_LR34_10_2001_set_secret_key(work.data(), c.key.data()), c.expected);
      L().CrypC_LR34_10_2001_clear(work.data());
    }
  }
}

TEST_F(SignatureTest, MalformedPublicKeysAreUnusable) {
  const KeyPair k01 = Make(1, "pub");
  auto good = k01.signPublic();
  auto otherId = good, padded = good, offCurve = good;
  otherId[0] = 2;
  padded[99] = 1;
  offCurve[40] ^= 1;  // Y changed
  auto work = WorkBlock();
  ASSERT_EQ(L().CrypC_LR34_10_2001_set_parms(work.data(), nullptr, 32, 32), 0);
  for (auto* bad : {&otherId, &padded, &offCurve}) EXPECT_EQ(L().CrypC_LR34_10_2001_set_public_key(work.data(), bad->data()), 3);
  EXPECT_EQ(L().CrypC_LR34_10_2001_set_public_key(work.data(), good.data()), 0);
  L().CrypC_LR34_10_2001_clear(work.data());

  uint8_t p[128], q[32], a[128];
  gost::r3410_94::Parameters(p, q, a);
  std::vector<uint8_t> zero(128, 0), one(128, 0), modulus(p, p + 128);
  one[0] = 1;
  ASSERT_EQ(L().CrypC_LR34_10_1994_set_parms(work.data(), nullptr, 32, 128), 0);
  for (auto* bad : {&zero, &one, &modulus}) EXPECT_EQ(L().CrypC_LR34_10_1994_set_public_key(work.data(), bad->data()), 3);
  L().CrypC_LR34_10_1994_clear(work.data());
}

TEST_F(SignatureTest, ParameterSettingTakesOnlyTheToolkitsOwnSet) {
  auto work = WorkBlock();
  void* w = work.data();
  const uint8_t params[300] = {};
  EXPECT_EQ(L().CrypC_LR34_10_1994_set_parms(w, params, 32, 128), 14);
  EXPECT_EQ(L().CrypC_LR34_10_1994_set_parms(w, nullptr, 32, 64), 14);
  EXPECT_EQ(L().CrypC_LR34_10_1994_set_parms(w, nullptr, 31, 128), 14);
  EXPECT_EQ(L().CrypC_LR34_10_2001_set_parms(w, nullptr, 32, 128), 14);
  EXPECT_EQ(L().CrypC_LR34_10_2001_set_parms(w, params, 32, 32), 14);
  EXPECT_EQ(L().CrypC_LDH_PKA_set_parms(w, nullptr, 64), 14);
  EXPECT_EQ(L().CrypC_LDH_PKA_set_parms(w, params, 128), 14);
  EXPECT_EQ(L().CrypC_LR34_10_1994_gen_secret_key(w), 1) << "a refused set-up leaves no context";
  EXPECT_EQ(L().CrypC_LR34_10_1994_set_parms(nullptr, nullptr, 32, 128), 15);

  uint8_t p[128], q[32], a[128];
  gost::r3410_94::Parameters(p, q, a);
  std::vector<uint8_t> expected(p, p + 128);
  expected.insert(expected.end(), q, q + 32);
  expected.insert(expected.end(), a, a + 128);
  for (int agreement : {0, 1}) {
    SCOPED_TRACE(agreement);
    auto getParms = agreement ? L().CrypC_LDH_PKA_get_parms : L().CrypC_LR34_10_1994_get_parms;
    ASSERT_EQ(agreement ? L().CrypC_LDH_PKA_set_parms(w, nullptr, 128) : L().CrypC_LR34_10_1994_set_parms(w, nullptr, 32, 128), 0);
    uint32_t size = 0;
    ASSERT_EQ(getParms(w, nullptr, &size), 0);
    EXPECT_EQ(size, 288u);
    std::vector<uint8_t> out(300, 0xB1);
    size = 287;
    EXPECT_EQ(getParms(w, out.data(), &size), 14);
    EXPECT_EQ(size, 288u);
    EXPECT_EQ(out, std::vector<uint8_t>(300, 0xB1)) << "nothing written into a short buffer";
    size = 300;
    ASSERT_EQ(getParms(w, out.data(), &size), 0);
    EXPECT_EQ(size, 288u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 288), expected);
    EXPECT_EQ(out[288], 0xB1);
    EXPECT_EQ(getParms(w, out.data(), nullptr), 15);
  }
  L().CrypC_LDH_PKA_clear(w);
}

// VKO through the toolkit for the holder of `own` towards `peer`.
int Vko(const Api& l, const KeyPair& own, const std::vector<uint8_t>& peerPublic, const uint8_t ukm[8], uint8_t out[32]) {
  auto work = WorkBlock();
  int s = l.CrypC_LR34_10_2001_set_parms(work.data(), nullptr, 32, 32);
  if (s == 0) s = l.CrypC_LR34_10_2001_set_secret_key(work.data(), own.signSecret().data());
  if (s == 0) s = l.CrypC_LR34_10_2001_gen_mutual_key(work.data(), peerPublic.data(), ukm, out);
  l.CrypC_LR34_10_2001_clear(work.data());
  return s;
}

TEST_F(SignatureTest, VkoIsSymmetricDependsOnTheUkmAndHashesThePoint) {
  const KeyPair a = Make(1, "alice"), b = Make(1, "bob");
  const uint8_t ukm[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x08};
  uint8_t ab[36], ba[32];
  std::memset(ab, 0xE4, sizeof ab);
  ASSERT_EQ(Vko(L(), a, b.signPublic(), ukm, ab), 0);
  for (int i = 32; i < 36; ++i) EXPECT_EQ(ab[i], 0xE4) << "written past the key";
  ASSERT_EQ(Vko(L(), b, a.signPublic(), ukm, ba), 0);
  EXPECT_EQ(std::memcmp(ab, ba, 32), 0);

  // The digest (test table) of X || Y of ukm * (dA * QB).
  uint8_t k[32] = {};
  std::memcpy(k, ukm, 8);
  Point shared, point;
  ASSERT_EQ(gost::r3410_2001::Multiply(Curve::CryptoProA, a.signSecret().data(), PointOf(b.signPublic()), shared), 0);
  ASSERT_EQ(gost::r3410_2001::Multiply(Curve::CryptoProA, k, shared, point), 0);
  gost::R3411Hash hash;
  ASSERT_TRUE(hash.Init(gost::kSboxR3411TestParams));
  hash.Update(point.x, 32);
  hash.Update(point.y, 32);
  uint8_t expected[32];
  hash.Final(expected);
  EXPECT_EQ(std::memcmp(ab, expected, 32), 0);

  uint8_t other[32], zeroKey[32], oneKey[32];
  uint8_t ukm2[8];
  std::memcpy(ukm2, ukm, 8);
  ukm2[7] ^= 0x40;
  ASSERT_EQ(Vko(L(), a, b.signPublic(), ukm2, other), 0);
  EXPECT_NE(std::memcmp(ab, other, 32), 0);
  const uint8_t zero[8] = {}, one[8] = {1};
  ASSERT_EQ(Vko(L(), a, b.signPublic(), zero, zeroKey), 0);
  ASSERT_EQ(Vko(L(), a, b.signPublic(), one, oneKey), 0);
  EXPECT_EQ(std::memcmp(zeroKey, oneKey, 32), 0) << "a zero UKM counts as 1";

  auto offCurve = b.signPublic();
  offCurve[10] ^= 4;
  EXPECT_EQ(Vko(L(), a, offCurve, ukm, other), 3);
  auto work = WorkBlock();
  ASSERT_EQ(L().CrypC_LR34_10_2001_set_parms(work.data(), nullptr, 32, 32), 0);
  EXPECT_EQ(L().CrypC_LR34_10_2001_gen_mutual_key(work.data(), b.signPublic().data(), ukm, other), 3) << "no secret";
  EXPECT_EQ(L().CrypC_LR34_10_2001_gen_mutual_key(work.data(), b.signPublic().data(), nullptr, other), 15);
  L().CrypC_LR34_10_2001_clear(work.data());
}

// Key agreement as the adapter does it: parameters, own secret, the peer's public value.
int Agree(const Api& l, const std::vector<uint8_t>& secret, const std::vector<uint8_t>& peer, uint8_t out[128]) {
  auto work = WorkBlock();
  int s = l.CrypC_LDH_PKA_set_parms(work.data(), nullptr, 128);
  if (s == 0) s = l.CrypC_LDH_PKA_set_secret_key(work.data(), secret.data());
  if (s == 0) s = l.CrypC_LDH_PKA_gen_mutual_key(work.data(), peer.data(), out);
  l.CrypC_LDH_PKA_clear(work.data());
  return s;
}

TEST_F(SignatureTest, AgreementFromKeyFilesGivesOneValueBothWays) {
  const KeyPair a = Make(0, "alice"), b = Make(1, "bob");
  uint8_t ab[132], ba[128], direct[128];
  std::memset(ab, 0x6D, sizeof ab);
  ASSERT_EQ(Agree(L(), a.agreeSecret(), b.agreePublic(), ab), 0);
  for (int i = 128; i < 132; ++i) EXPECT_EQ(ab[i], 0x6D) << "written past the value";
  ASSERT_EQ(Agree(L(), b.agreeSecret(), a.agreePublic(), ba), 0);
  EXPECT_EQ(std::memcmp(ab, ba, 128), 0);
  ASSERT_EQ(gost::dh1024::Agree(a.agreeSecret().data(), b.agreePublic().data(), direct), 0);
  EXPECT_EQ(std::memcmp(ab, direct, 128), 0);
  const KeyPair c = Make(0, "carol");
  ASSERT_EQ(Agree(L(), c.agreeSecret(), b.agreePublic(), direct), 0);
  EXPECT_NE(std::memcmp(ab, direct, 128), 0);
}

TEST_F(SignatureTest, AgreementWithGeneratedKeysAndRefusedPeers) {
  auto wa = WorkBlock(), wb = WorkBlock();
  std::vector<uint8_t> pa(128), pb(128), xa(128), ka(128), kb(128);
  for (auto* w : {&wa, &wb}) {
    ASSERT_EQ(L().CrypC_LDH_PKA_set_parms(w->data(), nullptr, 128), 0);
    EXPECT_EQ(L().CrypC_LDH_PKA_gen_public_key(w->data()), 3);
    EXPECT_EQ(L().CrypC_LDH_PKA_gen_mutual_key(w->data(), pa.data(), ka.data()), 3);
    ASSERT_EQ(L().CrypC_LDH_PKA_gen_secret_key(w->data()), 0);
    EXPECT_EQ(L().CrypC_LDH_PKA_gen_secret_key(w->data()), 4);
    EXPECT_EQ(L().CrypC_LDH_PKA_get_public_key(w->data(), pa.data()), 3);
    ASSERT_EQ(L().CrypC_LDH_PKA_gen_public_key(w->data()), 0);
  }
  ASSERT_EQ(L().CrypC_LDH_PKA_get_public_key(wa.data(), pa.data()), 0);
  ASSERT_EQ(L().CrypC_LDH_PKA_get_public_key(wb.data(), pb.data()), 0);
  ASSERT_EQ(L().CrypC_LDH_PKA_get_secret_key(wa.data(), xa.data()), 0);
  EXPECT_EQ(L().CrypC_LDH_PKA_set_secret_key(wa.data(), xa.data()), 4);
  std::vector<uint8_t> expectedPa(128);
  ASSERT_EQ(gost::dh1024::PublicFromSecret(xa.data(), expectedPa.data()), 0);
  EXPECT_EQ(pa, expectedPa);
  ASSERT_EQ(L().CrypC_LDH_PKA_gen_mutual_key(wa.data(), pb.data(), ka.data()), 0);
  ASSERT_EQ(L().CrypC_LDH_PKA_gen_mutual_key(wb.data(), pa.data(), kb.data()), 0);
  EXPECT_EQ(ka, kb);

  uint8_t p[128], q[32], a[128];
  gost::r3410_94::Parameters(p, q, a);
  std::vector<uint8_t> zero(128, 0), one(128, 0), modulus(p, p + 128);
  one[0] = 1;
  std::vector<uint8_t> minusOne = MinusOne(modulus);  // order 2, outside the subgroup
  for (const std::vector<uint8_t>* peer : {&zero, &one, &modulus, &minusOne})
    EXPECT_EQ(L().CrypC_LDH_PKA_gen_mutual_key(wa.data(), peer->data(), ka.data()), 3);
  ASSERT_EQ(L().CrypC_LDH_PKA_clear_secret_key(wa.data()), 0);
  EXPECT_EQ(L().CrypC_LDH_PKA_gen_mutual_key(wa.data(), pb.data(), ka.data()), 3);
  EXPECT_EQ(L().CrypC_LDH_PKA_set_secret_key(wa.data(), zero.data()), 3);
  EXPECT_EQ(L().CrypC_LDH_PKA_set_secret_key(wa.data(), xa.data()), 0);
  ASSERT_EQ(L().CrypC_LDH_PKA_clear_public_key(wa.data()), 0);
  EXPECT_EQ(L().CrypC_LDH_PKA_get_public_key(wa.data(), pa.data()), 3);
  EXPECT_EQ(L().CrypC_LDH_PKA_clear(wa.data()), 0);
  EXPECT_EQ(L().CrypC_LDH_PKA_clear(wb.data()), 0);
}

TEST_F(SignatureTest, NullPointersAreRefused) {
  auto work = WorkBlock();
  void* w = work.data();
  uint8_t buf[128] = {};
  ASSERT_EQ(L().CrypC_LR34_10_2001_set_parms(w, nullptr, 32, 32), 0);
  EXPECT_EQ(L().CrypC_LR34_10_2001_set_secret_key(w, nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_2001_set_public_key(w, nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_2001_get_secret_key(w, nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_2001_get_public_key(w, nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_2001_sign(w, nullptr, buf), 15);
  EXPECT_EQ(L().CrypC_LR34_10_2001_sign(w, buf, nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_2001_verify(w, buf, nullptr, 64), 15);
  EXPECT_EQ(L().CrypC_LR34_10_2001_verify(w, nullptr, buf, 64), 15);
  EXPECT_EQ(L().CrypC_LR34_10_2001_gen_mutual_key(w, nullptr, buf, buf), 15);
  EXPECT_EQ(L().CrypC_LR34_10_2001_gen_mutual_key(w, buf, buf, nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_2001_gen_secret_key(nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_2001_gen_public_key(nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_2001_clear_secret_key(nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_2001_clear_public_key(nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_2001_clear(nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_2001_clear(w), 0);
  ASSERT_EQ(L().CrypC_LR34_10_1994_set_parms(w, nullptr, 32, 128), 0);
  EXPECT_EQ(L().CrypC_LR34_10_1994_set_secret_key(w, nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_1994_set_public_key(w, nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_1994_get_secret_key(w, nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_1994_get_public_key(w, nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_1994_sign(w, buf, nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_1994_verify(w, buf, nullptr, 64), 15);
  EXPECT_EQ(L().CrypC_LR34_10_1994_gen_secret_key(nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_1994_gen_public_key(nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_1994_clear_secret_key(nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_1994_clear_public_key(nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_1994_clear(nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_1994_get_parms(nullptr, buf, nullptr), 15);
  EXPECT_EQ(L().CrypC_LR34_10_1994_clear(w), 0);
  ASSERT_EQ(L().CrypC_LDH_PKA_set_parms(w, nullptr, 128), 0);
  EXPECT_EQ(L().CrypC_LDH_PKA_set_secret_key(w, nullptr), 15);
  EXPECT_EQ(L().CrypC_LDH_PKA_get_secret_key(w, nullptr), 15);
  EXPECT_EQ(L().CrypC_LDH_PKA_get_public_key(w, nullptr), 15);
  EXPECT_EQ(L().CrypC_LDH_PKA_gen_mutual_key(w, nullptr, buf), 15);
  EXPECT_EQ(L().CrypC_LDH_PKA_gen_mutual_key(w, buf, nullptr), 15);
  EXPECT_EQ(L().CrypC_LDH_PKA_gen_secret_key(nullptr), 15);
  EXPECT_EQ(L().CrypC_LDH_PKA_gen_public_key(nullptr), 15);
  EXPECT_EQ(L().CrypC_LDH_PKA_clear_secret_key(nullptr), 15);
  EXPECT_EQ(L().CrypC_LDH_PKA_clear_public_key(nullptr), 15);
  EXPECT_EQ(L().CrypC_LDH_PKA_clear(nullptr), 15);
  EXPECT_EQ(L().CrypC_LDH_PKA_set_parms(nullptr, nullptr, 128), 15);
  EXPECT_EQ(L().CrypC_LDH_PKA_clear(w), 0);
}

}  // namespace
}  // namespace libcrypt_test
