// Signatures, key agreement, the cipher and MAC, and the hash of the stand-in.
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "ccom_fixture.h"
#include "utils/temp_dir.h"

namespace ccomtest {
namespace {

namespace fs = std::filesystem;

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 3));
  return b;
}

// Two users, each with its key loaded the adapter's way.
class CcomKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(kit.StandIn_Control("reset"), 0);
    const User a = MakeUser(fs::path(temp_.Dir()), "ann");
    const User b = MakeUser(fs::path(temp_.Dir()), "ben");
    ASSERT_EQ(ReadKey(a.secretDir, a.secretDir / "KEYS" / "1.sec", ctxA_), 1);
    ASSERT_EQ(ReadKey(b.secretDir, b.secretDir / "KEYS" / "1.sec", ctxB_), 1);
    keyA = kit.PSE_CTX_get_pse(ctxA_.get());
    keyB = kit.PSE_CTX_get_pse(ctxB_.get());
    ASSERT_NE(keyA, nullptr);
    ASSERT_NE(keyB, nullptr);
    publicA = ParsePublicFile(ReadBytes(a.publicFile)).key;
    publicB = ParsePublicFile(ReadBytes(b.publicFile)).key;
  }
  Toolkit& kit = Ccom();
  zk::test::TempDir temp_;
  PseCtx ctxA_, ctxB_;
  CCOM_PSE* keyA = nullptr;
  CCOM_PSE* keyB = nullptr;
  Bytes publicA, publicB;
};

TEST_F(CcomKeys, SignaturesVerifyAndForgeriesFail) {
  const Bytes message = Pattern(1000, 3);
  const Bytes signature = Sign(keyA, message);
  ASSERT_EQ(signature.size(), 64u);
  EXPECT_EQ(Verify(publicA, message, signature), 1);

  // Fed in pieces, the same message verifies.
  CCOM_ECGOST_SIGN* ctx = kit.ECGOST_SIGN_new();
  ASSERT_NE(ctx, nullptr);
  ASSERT_EQ(kit.ECGOST_verify_init(ctx, publicA.data(), 65), 1);
  EXPECT_EQ(kit.ECGOST_update(ctx, message.data(), 1), 1);
  EXPECT_EQ(kit.ECGOST_update(ctx, message.data() + 1, 0), 1);
  EXPECT_EQ(kit.ECGOST_update(ctx, message.data() + 1, 998), 1);
  EXPECT_EQ(kit.ECGOST_update(ctx, message.data() + 999, 1), 1);
  EXPECT_EQ(kit.ECGOST_verify_final(ctx, signature.data(), 64), 1);
  // Finished: no more data without a new init.
  EXPECT_EQ(kit.ECGOST_update(ctx, message.data(), 1), 0);
  kit.ECGOST_SIGN_free(ctx);

  int error = 0;
  EXPECT_EQ(Verify(publicB, message, signature, &error), 0);
  EXPECT_EQ(error, zk::ccom3x::kErrBadSignature);
  Bytes tampered = message;
  tampered[500] ^= 0x02;
  EXPECT_EQ(Verify(publicA, tampered, signature, &error), 0);
  EXPECT_EQ(error, zk::ccom3x::kErrBadSignature);
  EXPECT_EQ(Verify(publicA, Bytes(message.begin(), message.end() - 1), signature), 0);
  EXPECT_EQ(Verify(publicA, message, Bytes(signature.begin(), signature.end() - 1), &error), 0);
  EXPECT_EQ(error, zk::ccom3x::kErrBadSignature);
  EXPECT_EQ(Verify(publicA, message, Bytes(64, 0)), 0);
  // r and s swapped
  Bytes swapped(signature.begin() + 32, signature.end());
  swapped.insert(swapped.end(), signature.begin(), signature.begin() + 32);
  EXPECT_EQ(Verify(publicA, message, swapped), 0);
  // Another key's signature of the same message
  EXPECT_EQ(Verify(publicA, message, Sign(keyB, message)), 0);

  // Signing is randomised; both signatures hold.
  const Bytes again = Sign(keyA, message);
  EXPECT_NE(again, signature);
  EXPECT_EQ(Verify(publicA, message, again), 1);
  // The empty message is a message too.
  EXPECT_EQ(Verify(publicA, {}, Sign(keyA, {})), 1);
}

TEST_F(CcomKeys, VerificationRefusesPublicValuesOffTheCurve) {
  CCOM_ECGOST_SIGN* ctx = kit.ECGOST_SIGN_new();
  ASSERT_NE(ctx, nullptr);
  auto init = [&](const Bytes& key, int len) {
    kit.ERR_set_last_error(0);
    return kit.ECGOST_verify_init(ctx, key.data(), len) == 1 ? 0 : kit.ERR_get_last_error();
  };
  EXPECT_EQ(init(publicA, 65), 0);
  EXPECT_EQ(init(publicA, 64), 17);
  Bytes compressed = publicA;
  compressed[0] = 0x02;
  EXPECT_EQ(init(compressed, 65), 17);
  Bytes offCurve = publicA;
  offCurve[64] ^= 0x01;
  EXPECT_EQ(init(offCurve, 65), 17);
  Bytes huge(65, 0xFF);
  huge[0] = 0x04;
  EXPECT_EQ(init(huge, 65), 17);
  EXPECT_EQ(init(Bytes(65, 0), 65), 17);
  EXPECT_EQ(kit.ECGOST_verify_init(ctx, nullptr, 65), 0);
  // A refused init leaves nothing to verify against.
  EXPECT_EQ(kit.ECGOST_update(ctx, "x", 1), 0);
  EXPECT_EQ(kit.ECGOST_sign_init(ctx, nullptr), 0);
  EXPECT_EQ(kit.ERR_get_last_error(), 8);
  kit.ECGOST_SIGN_free(ctx);
}

TEST_F(CcomKeys, KeyAgreementAgreesInBothDirections) {
  auto generate = [&](CCOM_ECGOST_DH* dh, CCOM_PSE* key) {
    Bytes pub(65);
    EXPECT_EQ(kit.ECGOST_DH_generate_key(dh, key, pub.data()), 1);
    return pub;
  };
  auto agree = [&](CCOM_ECGOST_DH* dh, const Bytes& peer) {
    Bytes agreed(64);
    EXPECT_EQ(kit.ECGOST_DH_compute_key(dh, peer.data(), agreed.data()), 1) << kit.ERR_get_last_error();
    return agreed;
  };
  using Dh = std::unique_ptr<CCOM_ECGOST_DH, void (*)(CCOM_ECGOST_DH*)>;
  Dh ephemeral(kit.ECGOST_DH_new(), kit.ECGOST_DH_free), ownA(kit.ECGOST_DH_new(), kit.ECGOST_DH_free),
      ownB(kit.ECGOST_DH_new(), kit.ECGOST_DH_free), other(kit.ECGOST_DH_new(), kit.ECGOST_DH_free);
  ASSERT_TRUE(ephemeral && ownA && ownB && other);

  // Not before a key is in.
  Bytes agreed(64);
  EXPECT_EQ(kit.ECGOST_DH_compute_key(ownA.get(), publicB.data(), agreed.data()), 0);

  // A PSE key gives the public key of the PSE.
  EXPECT_EQ(generate(ownA.get(), keyA), publicA);
  EXPECT_EQ(generate(ownB.get(), keyB), publicB);
  // Static-static, both ways.
  const Bytes ab = agree(ownA.get(), publicB);
  EXPECT_EQ(ab, agree(ownB.get(), publicA));
  // Ephemeral (sender) to static (recipient), both ways, as an envelope uses it.
  const Bytes senderValue = generate(ephemeral.get(), nullptr);
  EXPECT_NE(senderValue, publicA);
  const Bytes es = agree(ephemeral.get(), publicB);
  EXPECT_EQ(es, agree(ownB.get(), senderValue));
  EXPECT_NE(es, ab);
  // The agreed value is a whole point, X then Y: as a public value it lies on the curve.
  for (const Bytes& point : {ab, es}) {
    Bytes asPublic = {0x04};
    asPublic.insert(asPublic.end(), point.begin(), point.end());
    CCOM_ECGOST_SIGN* check = kit.ECGOST_SIGN_new();
    EXPECT_EQ(kit.ECGOST_verify_init(check, asPublic.data(), 65), 1);
    kit.ECGOST_SIGN_free(check);
  }
  EXPECT_NE(agree(ephemeral.get(), publicA), es);
  // A fresh ephemeral key differs.
  EXPECT_NE(generate(other.get(), nullptr), senderValue);

  Bytes offCurve = publicB;
  offCurve[40] ^= 0x20;
  Bytes guard(64, 0x5A);
  EXPECT_EQ(kit.ECGOST_DH_compute_key(ownA.get(), offCurve.data(), guard.data()), 0);
  EXPECT_EQ(kit.ERR_get_last_error(), 17);
  EXPECT_EQ(guard, Bytes(64, 0x5A));
}

TEST(CcomCipher, GammaAndFeedbackRoundTripInAnyPieces) {
  Toolkit& kit = Ccom();
  const Bytes key = Pattern(32, 11), iv = Pattern(8, 99), plain = Pattern(301, 1);
  using Ctx = std::unique_ptr<CCOM_GOSTE_CTX, void (*)(CCOM_GOSTE_CTX*)>;
  auto run = [&](int mode, int encrypt, const Bytes& k, const Bytes& v, const Bytes& in,
                 std::initializer_list<size_t> pieces) {
    Ctx ctx(kit.GOSTE_new(), kit.GOSTE_free);
    EXPECT_EQ(kit.GOSTE_init(ctx.get(), mode, encrypt, k.data(), v.data()), 1);
    Bytes out(in.size());
    size_t done = 0;
    for (size_t piece : pieces) {
      EXPECT_EQ(kit.GOSTE_update(ctx.get(), out.data() + done, in.data() + done, piece), 1);
      done += piece;
    }
    EXPECT_EQ(kit.GOSTE_update(ctx.get(), out.data() + done, in.data() + done, in.size() - done), 1);
    return out;
  };
  for (int mode : {zk::ccom3x::kGosteModeGamma, zk::ccom3x::kGosteModeGammaFeedback}) {
    SCOPED_TRACE(mode);
    const Bytes cipher = run(mode, 1, key, iv, plain, {});
    EXPECT_NE(cipher, plain);
    EXPECT_EQ(run(mode, 1, key, iv, plain, {1, 7, 8, 13, 64, 3}), cipher);
    EXPECT_EQ(run(mode, 0, key, iv, cipher, {}), plain);
    EXPECT_EQ(run(mode, 0, key, iv, cipher, {5, 0, 11, 100}), plain);
    EXPECT_NE(run(mode, 0, Pattern(32, 12), iv, cipher, {}), plain);
    EXPECT_NE(run(mode, 1, key, Pattern(8, 98), plain, {}), cipher);
    // In place.
    Ctx ctx(kit.GOSTE_new(), kit.GOSTE_free);
    ASSERT_EQ(kit.GOSTE_init(ctx.get(), mode, 0, key.data(), iv.data()), 1);
    Bytes buffer = cipher;
    ASSERT_EQ(kit.GOSTE_update(ctx.get(), buffer.data(), buffer.data(), buffer.size()), 1);
    EXPECT_EQ(buffer, plain);
  }
  // The two modes differ, and feedback carries a changed byte into the next block.
  const Bytes gamma = run(1, 1, key, iv, plain, {}), feedback = run(2, 1, key, iv, plain, {});
  EXPECT_NE(gamma, feedback);
  Bytes corrupted = feedback;
  corrupted[20] ^= 0x01;
  const Bytes garbled = run(2, 0, key, iv, corrupted, {});
  EXPECT_EQ(Bytes(garbled.begin(), garbled.begin() + 16), Bytes(plain.begin(), plain.begin() + 16));
  EXPECT_NE(garbled[20], plain[20]);
  EXPECT_NE(Bytes(garbled.begin() + 24, garbled.begin() + 32), Bytes(plain.begin() + 24, plain.begin() + 32));
  EXPECT_EQ(Bytes(garbled.begin() + 32, garbled.end()), Bytes(plain.begin() + 32, plain.end()));

  Ctx ctx(kit.GOSTE_new(), kit.GOSTE_free);
  EXPECT_EQ(kit.GOSTE_init(ctx.get(), 3, 1, key.data(), iv.data()), 0);
  EXPECT_EQ(kit.ERR_get_last_error(), 10);
  EXPECT_EQ(kit.GOSTE_init(ctx.get(), 1, 1, key.data(), nullptr), 0);
  EXPECT_EQ(kit.ERR_get_last_error(), 1);
  Bytes out(8);
  EXPECT_EQ(kit.GOSTE_update(ctx.get(), out.data(), plain.data(), 8), 0);  // never initialised
  // A refused init leaves no earlier key in use.
  ASSERT_EQ(kit.GOSTE_init(ctx.get(), 1, 1, key.data(), iv.data()), 1);
  EXPECT_EQ(kit.GOSTE_init(ctx.get(), 1, 5, key.data(), iv.data()), 0);
  EXPECT_EQ(kit.ERR_get_last_error(), 1);
  EXPECT_EQ(kit.GOSTE_update(ctx.get(), out.data(), plain.data(), 8), 0);
  ASSERT_EQ(kit.GOSTE_init(ctx.get(), 0, 1, key.data(), nullptr), 1);
  EXPECT_EQ(kit.GOSTE_update(ctx.get(), out.data(), plain.data(), 8), 0);  // a MAC context
  EXPECT_EQ(kit.ERR_get_last_error(), 10);
}

TEST(CcomCipher, MacChangesWithEveryBitOfDataAndKey) {
  Toolkit& kit = Ccom();
  const Bytes key = Pattern(32, 5), data = Pattern(40, 77);
  auto mac = [&](const Bytes& k, const Bytes& d) {
    Bytes out(4);
    EXPECT_EQ(kit.GOSTE_mac(k.data(), d.data(), d.size(), out.data()), 1);
    return out;
  };
  const Bytes reference = mac(key, data);
  for (size_t bit = 0; bit < data.size() * 8; ++bit) {
    Bytes changed = data;
    changed[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    EXPECT_NE(mac(key, changed), reference) << "data bit " << bit;
  }
  for (size_t bit = 0; bit < 256; ++bit) {
    Bytes changed = key;
    changed[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    EXPECT_NE(mac(changed, data), reference) << "key bit " << bit;
  }

  // The context calls give the one-shot result, in any pieces; they write exactly 4 bytes.
  CCOM_GOSTE_CTX* ctx = kit.GOSTE_new();
  ASSERT_NE(ctx, nullptr);
  ASSERT_EQ(kit.GOSTE_init(ctx, 0, 1, key.data(), nullptr), 1);
  EXPECT_EQ(kit.GOSTE_mac_update(ctx, data.data(), 3), 1);
  EXPECT_EQ(kit.GOSTE_mac_update(ctx, data.data() + 3, 30), 1);
  EXPECT_EQ(kit.GOSTE_mac_update(ctx, data.data() + 33, 7), 1);
  Bytes out(6, 0xEE);
  ASSERT_EQ(kit.GOSTE_mac_final(ctx, out.data() + 1), 1);
  EXPECT_EQ(Bytes(out.begin() + 1, out.begin() + 5), reference);
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(out[5], 0xEE);
  // Finished until initialised again.
  EXPECT_EQ(kit.GOSTE_mac_update(ctx, data.data(), 1), 0);
  ASSERT_EQ(kit.GOSTE_init(ctx, 1, 1, key.data(), key.data()), 1);
  EXPECT_EQ(kit.GOSTE_mac_update(ctx, data.data(), 1), 0);
  EXPECT_EQ(kit.ERR_get_last_error(), 10);
  kit.GOSTE_free(ctx);
}

TEST(CcomHash, CryptoProDigestsAndParameterIds) {
  Toolkit& kit = Ccom();
  // Published GOST R 34.11-94 digests with the CryptoPro parameter set.
  const struct {
    std::string message, digest;
  } known[] = {
      {"", "981e5f3ca30c841487830f84fb433e13ac1101569b9c13584ac483234cd656c0"},
      {"abc", "b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c"},
      {"The quick brown fox jumps over the lazy dog",
       "9004294a361a508c586fe53d1f1b02746765e71b765472786e4770d565830a76"},
  };
  CCOM_GOSTH_CTX* ctx = kit.GOSTH_new();
  ASSERT_NE(ctx, nullptr);
  for (const auto& k : known) {
    Bytes streamed(32), oneShot(32);
    ASSERT_EQ(kit.GOSTH_hash_init(ctx, 21), 1);
    for (char c : k.message) ASSERT_EQ(kit.GOSTH_update(ctx, &c, 1), 1);
    ASSERT_EQ(kit.GOSTH_final(ctx, streamed.data()), 1);
    EXPECT_EQ(streamed, FromHex(k.digest)) << k.message;
    ASSERT_EQ(kit.GOSTH(21, k.message.data(), k.message.size(), oneShot.data()), 1);
    EXPECT_EQ(oneShot, FromHex(k.digest)) << k.message;
  }
  // Finished until initialised again.
  EXPECT_EQ(kit.GOSTH_update(ctx, "a", 1), 0);
  Bytes digest(32);
  EXPECT_EQ(kit.GOSTH_final(ctx, digest.data()), 0);
  for (int id : {0, 20, 22, -1}) {
    EXPECT_EQ(kit.GOSTH_hash_init(ctx, id), 0) << id;
    EXPECT_EQ(kit.ERR_get_last_error(), 13) << id;
    EXPECT_EQ(kit.GOSTH(id, "a", 1, digest.data()), 0) << id;
    EXPECT_EQ(kit.ERR_get_last_error(), 13) << id;
  }
  kit.GOSTH_free(ctx);
}

}  // namespace
}  // namespace ccomtest
