// GOST R 34.11-94 on both parameter sets: the examples of RFC 5831 and the commonly published
// values, piecewise input, and refusal of tables libgcrypt has no parameter set for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gost.h"
#include "test_util.h"

namespace {

using gost_test::Hex;

std::string HashHex(bool cryptoPro, const std::string& text, size_t piece = 0) {
  gost::R3411Hash h;
  bool ok = cryptoPro ? h.InitCryptoPro() : h.Init(gost::kSboxR3411TestParams);
  EXPECT_TRUE(ok);
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  if (piece == 0) {
    h.Update(p, text.size());
  } else {
    for (size_t off = 0; off < text.size(); off += piece)
      h.Update(p + off, std::min(piece, text.size() - off));
  }
  uint8_t d[32];
  h.Final(d);
  return Hex(d, 32);
}

TEST(R3411Hash, TestParamSetPublishedValues) {
  // RFC 5831, section 7.3: the 32-byte and the 50-byte example.
  EXPECT_EQ("b1c466d37519b82e8319819ff32595e047a28cb6f83eff1c6916a815a637fffa",
            HashHex(false, "This is message, length=32 bytes"));
  EXPECT_EQ("471aba57a60a770d3a76130635c1fbea4ef14de51f78b4ae57dd893b62f55208",
            HashHex(false, "Suppose the original message has length = 50 bytes"));
  EXPECT_EQ("ce85b99cc46752fffee35cab9a7b0278abb4c2d2055cff685af4912c49490f8d", HashHex(false, ""));
  EXPECT_EQ("f3134348c44fb1b2a277729e2285ebb5cb5e0f29c975bc753b70497c06a4d51d", HashHex(false, "abc"));
  EXPECT_EQ("77b7fa410c9ac58a25f49bca7d0468c9296529315eaca76bd1a10f376d1f4294",
            HashHex(false, "The quick brown fox jumps over the lazy dog"));
}

TEST(R3411Hash, CryptoProParamSetPublishedValues) {
  EXPECT_EQ("981e5f3ca30c841487830f84fb433e13ac1101569b9c13584ac483234cd656c0", HashHex(true, ""));
  EXPECT_EQ("b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c", HashHex(true, "abc"));
  EXPECT_EQ("9004294a361a508c586fe53d1f1b02746765e71b765472786e4770d565830a76",
            HashHex(true, "The quick brown fox jumps over the lazy dog"));
}

TEST(R3411Hash, PiecesGiveTheOneShotDigestAndInitStartsAnew) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += char('a' + i * 7 % 26);
  for (bool cp : {false, true}) {
    std::string whole = HashHex(cp, text);
    for (size_t piece : {1, 3, 7, 31, 33, 65}) EXPECT_EQ(whole, HashHex(cp, text, piece)) << piece;
  }
  // Init after data was written forgets it.
  gost::R3411Hash h;
  ASSERT_TRUE(h.InitCryptoPro());
  h.Update(reinterpret_cast<const uint8_t*>("junk"), 4);
  ASSERT_TRUE(h.Init(gost::kSboxR3411TestParams));
  h.Update(reinterpret_cast<const uint8_t*>("abc"), 3);
  uint8_t d[32];
  h.Final(d);
  EXPECT_EQ("f3134348c44fb1b2a277729e2285ebb5cb5e0f29c975bc753b70497c06a4d51d", Hex(d, 32));
}

TEST(R3411Hash, RefusesTablesWithoutAParameterSet) {
  std::vector<uint8_t> table(gost::kSboxR3411TestParams, gost::kSboxR3411TestParams + 128);
  table[127] ^= 1;  // the last entry of K1
  gost::R3411Hash h;
  EXPECT_FALSE(h.Init(table.data()));
  EXPECT_FALSE(h.Init(nullptr));
  // No digest of a refused hash: the result is zero bytes, not garbage and not a crash.
  h.Update(reinterpret_cast<const uint8_t*>("abc"), 3);
  uint8_t d[32];
  std::fill(d, d + 32, 0xAA);
  h.Final(d);
  EXPECT_EQ(std::string(64, '0'), Hex(d, 32));
}

}  // namespace
