// The LAN Crypto engine's signature and envelope, byte for byte, checked independently (libgcrypt
// for signatures, the GOST primitives by hand for envelopes), and refused when one bit changes.
#include <gcrypt.h>

#include <cstring>

#include "gost.h"
#include "lancrypto/vesta_fixture.h"

namespace vtest {
namespace {

uint32_t Le32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

gcry_mpi_t MpiLe(const uint8_t* p, size_t n) {
  uint8_t be[64];
  for (size_t i = 0; i < n; ++i) be[i] = p[n - 1 - i];
  gcry_mpi_t m = nullptr;
  gcry_mpi_scan(&m, GCRYMPI_FMT_USG, be, n, nullptr);
  return m;
}

// r and s over the GOST R 34.11-94 digest of the data, with the signer's public key, by libgcrypt.
bool LibgcryptAccepts(const Bytes& data, const Bytes& signature, const uint8_t pub[64]) {
  uint8_t digest[32];
  gcry_md_hash_buffer(GCRY_MD_GOSTR3411_94, digest, data.data(), data.size());
  uint8_t point[65] = {4};
  for (int i = 0; i < 32; ++i) {
    point[1 + i] = pub[31 - i];
    point[33 + i] = pub[63 - i];
  }
  gcry_mpi_t e = MpiLe(digest, 32), r = MpiLe(signature.data() + 22, 32), s = MpiLe(signature.data() + 54, 32);
  gcry_sexp_t key = nullptr, hash = nullptr, sig = nullptr;
  gcry_sexp_build(&key, nullptr, "(public-key (ecc (curve GOST2001-CryptoPro-A) (q %b)))", 65, point);
  gcry_sexp_build(&hash, nullptr, "(data (flags gost) (value %m))", e);
  gcry_sexp_build(&sig, nullptr, "(sig-val (gost (r %m) (s %m)))", r, s);
  const bool ok = gcry_pk_verify(sig, hash, key) == 0;
  for (gcry_sexp_t x : {key, hash, sig}) gcry_sexp_release(x);
  for (gcry_mpi_t x : {e, r, s}) gcry_mpi_release(x);
  return ok;
}

class VestaFormat : public ::testing::Test {
 protected:
  void SetUp() override {
    gost::InitLibgcrypt();
    a_ = &box_.AddUser("Client A", "CLA", "pw");
    b_ = &box_.AddUser("Client B", "CLB", "pw");
    box_.Introduce(*a_, *b_);
    box_.Introduce(*b_, *a_);
    ea_ = box_.Engine(*a_);
    eb_ = box_.Engine(*b_);
    Callbacks::Install(*ea_);
    Callbacks::Install(*eb_);
    Configure(*ea_, kTimeout, "600");
    Configure(*eb_, kTimeout, "600");
    Callbacks::Script(std::vector<std::string>(10, "pw"));
  }
  Sandbox box_;
  const User* a_ = nullptr;
  const User* b_ = nullptr;
  std::unique_ptr<zk::TVesta235Engine> ea_, eb_;
};

TEST_F(VestaFormat, SignatureIsTheUIDAndRAndSOverTheDigestAndTheMethod) {
  uint8_t pub[64];
  ASSERT_EQ(Toolkit().PublicKey(a_->SignKey().c_str(), pub), 0);
  // One byte, and more than one hash piece of 32767 bytes.
  for (size_t size : {size_t(1), size_t(1000), size_t(70001)}) {
    const Bytes data = RandomBytes(size, static_cast<uint32_t>(size));
    const SignResult signed_ = Sign(*ea_, data);
    ASSERT_EQ(signed_.code, 0) << ErrorText(*ea_, signed_.code);
    ASSERT_EQ(signed_.signature.size(), 92u);
    Bytes uid(22, 0);
    std::memcpy(uid.data(), "Client A", 8);
    EXPECT_EQ(Bytes(signed_.signature.begin(), signed_.signature.begin() + 22), uid);
    EXPECT_EQ(signed_.signature[86], 0);
    EXPECT_EQ(signed_.signature[87], 0);
    EXPECT_EQ(Le32(signed_.signature, 88), 256u);
    EXPECT_TRUE(LibgcryptAccepts(data, signed_.signature, pub)) << size;
    const VerifyResult checked = Verify(*eb_, data, signed_.signature);
    EXPECT_EQ(checked.code, 0) << ErrorText(*eb_, checked.code);
    EXPECT_EQ(checked.signer, "Client A");
  }
}

TEST_F(VestaFormat, EveryBitOfASignatureMatters) {
  const Bytes data = RandomBytes(300, 7);
  const SignResult good = Sign(*ea_, data);
  ASSERT_EQ(good.code, 0);
  for (size_t bit = 0; bit < 92 * 8; ++bit) {
    Bytes bad = good.signature;
    bad[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    EXPECT_NE(Verify(*eb_, data, bad).code, 0) << "bit " << bit;
  }
  Bytes changed = data;
  changed[299] ^= 1;
  EXPECT_EQ(Verify(*eb_, changed, good.signature).code, -100);
  EXPECT_EQ(Verify(*eb_, data, good.signature).code, 0);
}

TEST_F(VestaFormat, AnotherKeyCannotSignInAUsersName) {
  const User& c = box_.AddUser("Client C", "CLC", "pw");
  box_.Introduce(*b_, c);
  auto ec = box_.Engine(c);
  Callbacks::Install(*ec);
  const Bytes data = RandomBytes(64, 3);
  EXPECT_EQ(Sign(*ec, data, "Client A").code, 7) << "the key belongs to Client C";
  SignResult forged = Sign(*ec, data);
  ASSERT_EQ(forged.code, 0);
  std::memset(forged.signature.data(), 0, 22);
  std::memcpy(forged.signature.data(), "Client A", 8);
  EXPECT_EQ(Verify(*eb_, data, forged.signature).code, -100);
}

TEST_F(VestaFormat, EnvelopeIsLengthHeaderAndBodyAndOpensByHand) {
  for (const char* method : {"16", "1"}) {
    Configure(*ea_, kEncryptMethod, method);
    const Bytes plain = RandomBytes(20003, 11);
    const CodecResult sealed = Encode(*ea_, plain, "Client B");
    ASSERT_EQ(sealed.code, 0) << ErrorText(*ea_, sealed.code);
    const bool feedback = std::string(method) == "16";
    const size_t body = feedback ? 20008 : 20003;
    ASSERT_EQ(sealed.data.size(), 64 + body);
    EXPECT_EQ(Le32(sealed.data, 0), plain.size());
    EXPECT_EQ(Le32(sealed.data, 4), feedback ? 16u : 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&sealed.data[16]), 3), "CLA");

    // By hand: the content key, unwrapped under VKO(B's secret, A's public key, UKM), decrypts the body.
    uint8_t secret[32], senderPub[64], kek[32], cek[32];
    ASSERT_EQ(Toolkit().SecretKey(b_->EncryptKey().c_str(), "pw", secret), 0);
    ASSERT_EQ(Toolkit().PublicKey(a_->EncryptKey().c_str(), senderPub), 0);
    const uint8_t* header = sealed.data.data() + 4;
    gost::r3410_2001::Point peer, shared, scaled;
    std::memcpy(peer.x, senderPub, 32);
    std::memcpy(peer.y, senderPub + 32, 32);
    uint8_t ukm[32] = {};
    std::memcpy(ukm, header + 20, 8);
    ASSERT_EQ(gost::r3410_2001::Multiply(gost::r3410_2001::Curve::CryptoProA, secret, peer, shared), 0);
    ASSERT_EQ(gost::r3410_2001::Multiply(gost::r3410_2001::Curve::CryptoProA, ukm, shared, scaled), 0);
    gost::R3411Hash h;
    ASSERT_TRUE(h.InitCryptoPro());
    h.Update(scaled.x, 32);
    h.Update(scaled.y, 32);
    h.Final(kek);
    gost::Gost28147 wrap, content;
    wrap.SetKey(kek, gost::kSboxR3411TestParams);
    for (int i = 0; i < 32; i += 8) wrap.DecryptBlock(header + 28 + i, cek + i);
    content.SetKey(cek, gost::kSboxR3411TestParams);
    Bytes opened(sealed.data.begin() + 64, sealed.data.end());
    if (feedback) {
      gost::GammaFeedbackMode mode;
      mode.Init(&content, header + 20);
      mode.Decrypt(opened.data(), opened.data(), opened.size());
    } else {
      gost::GammaMode mode;
      mode.Init(&content, header + 20);
      mode.Crypt(opened.data(), opened.data(), opened.size());
    }
    opened.resize(plain.size());
    EXPECT_EQ(opened, plain) << "method " << method;

    const CodecResult open = Decode(*eb_, sealed.data);
    ASSERT_EQ(open.code, 0) << ErrorText(*eb_, open.code);
    EXPECT_EQ(open.data, plain);
    EXPECT_EQ(open.sender, "$Client A");
  }
}

// The plain length is checked against the body: exactly for the byte-exact gamma, up to the block
// padding for the feedback mode (so a whole number of blocks here).
TEST_F(VestaFormat, EveryBitOfTheHeaderMatters) {
  for (const char* method : {"1", "16"}) {
    Configure(*ea_, kEncryptMethod, method);
    const Bytes plain = RandomBytes(96, 5);
    const CodecResult sealed = Encode(*ea_, plain, "$Client B");
    ASSERT_EQ(sealed.code, 0);
    for (size_t bit = 0; bit < 64 * 8; ++bit) {
      Bytes bad = sealed.data;
      bad[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
      EXPECT_NE(Decode(*eb_, bad).code, 0) << "method " << method << ", bit " << bit;
    }
    EXPECT_EQ(Decode(*eb_, sealed.data).data, plain);
  }
}

TEST_F(VestaFormat, LengthsThatDisagreeWithTheEnvelopeAreRefusedBeforeDecrypting) {
  const CodecResult sealed = Encode(*ea_, RandomBytes(100, 6), "Client B");  // body 104
  ASSERT_EQ(sealed.code, 0);
  Toolkit().Control("reset");
  Bytes shorter(sealed.data.begin(), sealed.data.end() - 8), longer = sealed.data, stub(sealed.data.begin(), sealed.data.begin() + 63);
  longer.insert(longer.end(), 8, 0);
  Bytes negative = sealed.data;
  negative[3] = 0x80;
  for (const Bytes* bad : {&shorter, &longer, &stub, &negative}) EXPECT_EQ(Decode(*eb_, *bad).code, 4);
  EXPECT_EQ(Toolkit().Calls("CTV_DecryptoBuffer"), 0);
  EXPECT_EQ(Toolkit().Calls("CTV_FillPrivateKeyStructure"), 0) << "no password is asked for a malformed envelope";
}

TEST_F(VestaFormat, OnlyTheRecipientOpensAnEnvelope) {
  const User& c = box_.AddUser("Client C", "CLC", "pw");
  box_.Introduce(c, *a_);
  auto ec = box_.Engine(c);
  Callbacks::Install(*ec);
  const CodecResult sealed = Encode(*ea_, RandomBytes(40, 8), "Client B");
  ASSERT_EQ(sealed.code, 0);
  EXPECT_EQ(Decode(*ec, sealed.data).code, -202);
}

TEST_F(VestaFormat, DamagedFilesAreRefused) {
  const Bytes data = RandomBytes(50, 9);
  const SignResult good = Sign(*ea_, data);
  ASSERT_EQ(good.code, 0);
  Bytes vault = ReadFileBytes(b_->SignVault());
  vault[20] ^= 0x10;
  WriteFileBytes(b_->SignVault(), vault);
  EXPECT_EQ(Verify(*eb_, data, good.signature).code, -23) << "a vault changed since it was read is read again";
  Bytes key = ReadFileBytes(a_->SignKey());
  key[60] ^= 1;
  WriteFileBytes(a_->SignKey(), key);
  EXPECT_EQ(Sign(*ea_, data).code, -5);
}

}  // namespace
}  // namespace vtest
