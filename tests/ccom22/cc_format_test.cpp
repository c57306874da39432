// The engine's formats, opened independently: signatures checked with libgcrypt against the key
// in the signer's certificate text, and packages parsed field by field and opened with the
// toolkit's own calls.
#include <gcrypt.h>

#include <algorithm>
#include <cstring>

#include "ccom22/cc_fixture.h"
#include "gost.h"

namespace cctest {
namespace {

// A little-endian number as libgcrypt takes it.
gcry_mpi_t MpiLe(const uint8_t* le, size_t len) {
  std::vector<uint8_t> be(le, le + len);
  std::reverse(be.begin(), be.end());
  gcry_mpi_t v = nullptr;
  gcry_mpi_scan(&v, GCRYMPI_FMT_USG, be.data(), be.size(), nullptr);
  return v;
}

// GOST R 34.10-2001 on the CryptoPro-A curve straight through libgcrypt: key X || Y and r || s
// little-endian as the stand-in's files and signatures hold them, the digest read as a
// little-endian number.
bool LibgcryptVerifies(const uint8_t key[64], const uint8_t digest[32], const uint8_t rs[64]) {
  gost::InitLibgcrypt();
  uint8_t point[65] = {4};
  for (int i = 0; i < 32; ++i) {
    point[1 + i] = key[31 - i];
    point[33 + i] = key[63 - i];
  }
  gcry_mpi_t e = MpiLe(digest, 32), r = MpiLe(rs, 32), s = MpiLe(rs + 32, 32);
  gcry_sexp_t pub = nullptr, data = nullptr, sig = nullptr;
  bool ok = gcry_sexp_build(&pub, nullptr, "(public-key (ecc (curve GOST2001-CryptoPro-A) (q %b)))", 65, point) == 0 &&
            gcry_sexp_build(&data, nullptr, "(data (flags gost) (value %m))", e) == 0 &&
            gcry_sexp_build(&sig, nullptr, "(sig-val (gost (r %m) (s %m)))", r, s) == 0 &&
            gcry_pk_verify(sig, data, pub) == 0;
  for (gcry_mpi_t m : {e, r, s}) gcry_mpi_release(m);
  for (gcry_sexp_t x : {pub, data, sig}) gcry_sexp_release(x);
  return ok;
}

class CcFormat : public ::testing::Test {
 protected:
  void SetUp() override {
    box.AddUser("A", 11);
    box.AddUser("B", 12);
    box.AddUser("C", 13);
    for (const char* holder : {"A", "B", "C"}) {
      for (const char* owner : {"A", "B", "C"}) {
        if (std::strcmp(holder, owner) != 0) box.GiveCert(holder, owner);
      }
    }
    a = EngineFor(box, "A");
    b = EngineFor(box, "B");
    c = EngineFor(box, "C");
  }
  void TearDown() override {
    a->ClearCash();
    StandIn::Get().SetSignatureLength(0);
  }
  // A "Name=" field of a key-file text.
  std::string Field(const std::string& file, const std::string& name) {
    const Bytes text = ReadFileBytes(file);
    const std::string s(text.begin(), text.end());
    const size_t at = s.find("\n" + name + "=");
    return at == std::string::npos ? std::string() : s.substr(at + name.size() + 2, s.find('\n', at + 1) - at - name.size() - 2);
  }
  static Bytes Hex(const std::string& hex) {
    Bytes out(hex.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    return out;
  }

  Sandbox box;
  std::unique_ptr<zk::TCcom22Engine> a, b, c;
};

TEST_F(CcFormat, SignatureIsSignerBlockThenToolkitSignatureCheckedIndependently) {
  const Bytes data = RandomBytes(1000, 1);
  const Result sig = Sign(*a, data);
  ASSERT_EQ(sig.code, 0);
  ASSERT_EQ(sig.data.size(), 32u + 72u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(sig.data.data())), "A.1");
  for (size_t i = 4; i < 32; ++i) EXPECT_EQ(sig.data[i], 0) << "signer block byte " << i;
  const uint8_t* t = sig.data.data() + 32;
  EXPECT_EQ(t[0], 'Z');
  EXPECT_EQ(t[1], 'S');
  EXPECT_EQ(t[2] | t[3] << 8, 72);
  EXPECT_EQ(Le32(t + 4), 11u);

  // r and s over the GOST R 34.11-94 digest of data and signer block, with A's certified key.
  Bytes signed_ = data;
  signed_.insert(signed_.end(), sig.data.begin(), sig.data.begin() + 32);
  uint8_t digest[32];
  gost::R3411Hash hash;
  ASSERT_TRUE(hash.InitCryptoPro());
  hash.Update(signed_.data(), signed_.size());
  hash.Final(digest);
  const Bytes key = Hex(Field(box.SelfCert("A"), "Key"));
  ASSERT_EQ(key.size(), 64u);
  EXPECT_TRUE(LibgcryptVerifies(key.data(), digest, t + 8));
  digest[0] ^= 1;
  EXPECT_FALSE(LibgcryptVerifies(key.data(), digest, t + 8));

  const Result ok = Verify(*b, data, sig.data);
  EXPECT_EQ(ok.code, 0);
  EXPECT_EQ(ok.uid, "A.1");
}

TEST_F(CcFormat, PackageLayoutAndItsSlotOpenedByHand) {
  const Bytes data = RandomBytes(3000, 2);
  const Result pkg = Encode(*a, data, "B.1;C.1");
  ASSERT_EQ(pkg.code, 0);
  const size_t n = 2, bodyAt = 8 + 288 * n;
  ASSERT_EQ(pkg.data.size(), bodyAt + 12 + data.size() + 4 + 8);
  EXPECT_EQ(Le32(pkg.data.data()), 0xFFFFFFFFu);
  EXPECT_EQ(Le32(pkg.data.data() + 4), n);
  EXPECT_STREQ(reinterpret_cast<const char*>(pkg.data.data() + 8), "B.1");
  EXPECT_STREQ(reinterpret_cast<const char*>(pkg.data.data() + 40), "C.1");
  const uint8_t* body = pkg.data.data() + bodyAt;
  EXPECT_EQ(Le32(body), data.size() + 4);  // cipher text and its MAC
  EXPECT_EQ(Le32(body + 4), 0u);
  EXPECT_EQ(Le32(body + 8), 8u);

  // B's slot: a session-key record of the 32-byte body key, for B's key number 12.
  const uint8_t* slot = pkg.data.data() + 8 + 32 * n;
  const uint32_t r = Le32(slot);
  ASSERT_LE(r, 252u);
  const uint8_t* rec = slot + 4;
  EXPECT_EQ(Le32(rec), 12u);
  const uint32_t cLen = Le32(rec + 4), kLen = Le32(rec + 8);
  EXPECT_EQ(cLen, 32u);
  EXPECT_EQ(Le32(rec + 12), 8u);
  EXPECT_EQ(16 + cLen + kLen + 8, r);

  const zk::ccom22::CcApi& api = StandIn::Get().Api;
  const Bytes secretText = ReadFileBytes(box.SecretDir("B") + "/12.sec");
  std::string secret(secretText.begin(), secretText.end());
  HCCCTX ctx = api.InitCryptCtx();
  ASSERT_NE(ctx, nullptr);
  ASSERT_EQ(api.SetCipherAlgorithm(ctx, "28147-ECB"), 0);
  uint8_t* sessionKey = nullptr;
  ASSERT_EQ(api.SessionKeyDecrypt(ctx, secret.c_str(), rec + 16 + cLen, static_cast<int32_t>(kLen), &sessionKey), 0);
  uint8_t vector[8];
  std::memcpy(vector, rec + 16 + cLen + kLen, 8);
  ASSERT_EQ(api.BufferCipherInit(ctx, sessionKey, 1, vector), 0);
  uint8_t bodyKey[32];
  int32_t got = 0, last = 0;
  ASSERT_EQ(api.BufferCipherUpdate(ctx, rec + 16, 32, bodyKey, &got), 0);
  ASSERT_EQ(api.BufferCipherFinal(ctx, bodyKey + got, &last), 0);
  ASSERT_EQ(got + last, 32);
  api.BufferCleanFree(sessionKey, 32);

  // The body under that key, with "28147" (cipher feedback and a 4-byte MAC).
  ASSERT_EQ(api.SetCipherAlgorithm(ctx, "28147"), 0);
  const uint32_t bodyLen = Le32(body);
  std::memcpy(vector, body + 12 + bodyLen, 8);
  ASSERT_EQ(api.BufferCipherInit(ctx, bodyKey, 1, vector), 0);
  Bytes plain(bodyLen);
  ASSERT_EQ(api.BufferCipherUpdate(ctx, body + 12, static_cast<uint16_t>(bodyLen), plain.data(), &got), 0);
  ASSERT_EQ(api.BufferCipherFinal(ctx, plain.data() + got, &last), 0);
  plain.resize(static_cast<size_t>(got + last));
  EXPECT_EQ(plain, data);
  api.FreeCryptCtx(ctx);

  EXPECT_EQ(Decode(*b, pkg.data).data, data);
  EXPECT_EQ(Decode(*c, pkg.data).data, data);
  EXPECT_EQ(Decode(*a, pkg.data).code, -35) << "A is not among the recipients";
}

TEST_F(CcFormat, SingleRecordLayout) {
  const Bytes data = RandomBytes(100, 3);
  const Result rec = Encode(*a, data, "B.1");
  ASSERT_EQ(rec.code, 0);
  EXPECT_EQ(Le32(rec.data.data()), 12u);
  const uint32_t cLen = Le32(rec.data.data() + 4), kLen = Le32(rec.data.data() + 8);
  EXPECT_EQ(cLen, 104u);
  EXPECT_EQ(Le32(rec.data.data() + 12), 8u);
  EXPECT_EQ(rec.data.size(), 16 + cLen + kLen + 8);
  EXPECT_EQ(Decode(*b, rec.data).data, data);
}

}  // namespace
}  // namespace cctest
