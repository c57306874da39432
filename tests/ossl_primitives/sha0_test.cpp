// SHA-0 against the published answers of FIPS 180 and across every way of splitting the input.
#include "engines/openssl/sha0.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

using zk::ossl::kSha0DigestSize;

std::string Hex(const uint8_t* p, size_t n) {
  std::string s;
  char b[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof(b), "%02x", p[i]);
    s += b;
  }
  return s;
}

std::string Sha0Hex(const std::string& text) {
  uint8_t d[kSha0DigestSize];
  zk::ossl::Sha0(reinterpret_cast<const uint8_t*>(text.data()), text.size(), d);
  return Hex(d, sizeof(d));
}

std::string Sha0HexInPieces(const std::string& text, size_t piece) {
  zk::ossl::Sha0Context ctx;
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  for (size_t off = 0; off < text.size(); off += piece)
    ctx.Update(p + off, std::min(piece, text.size() - off));
  uint8_t d[kSha0DigestSize];
  ctx.Final(d);
  return Hex(d, sizeof(d));
}

TEST(Sha0, PublishedVectors) {
  EXPECT_EQ(Sha0Hex(""), "f96cea198ad1dd5617ac084a3d92c6107708c0ef");
  EXPECT_EQ(Sha0Hex("abc"), "0164b8a914cd2a5e74c4f7ff082c4d97f1edf880");
  // 56 bytes: the length no longer fits the first block, padding spills into a second one.
  EXPECT_EQ(Sha0Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "d2516ee1acfa5baf33dfc1c471e438449ef134c8");
}

TEST(Sha0, MillionAFedInUnevenPieces) {
  const std::string million(1000000, 'a');
  const char* expected = "3232affa48628a26653b5aaa44541fd90d690603";
  EXPECT_EQ(Sha0Hex(million), expected);
  EXPECT_EQ(Sha0HexInPieces(million, 997), expected);  // prime: pieces straddle every block offset
}

TEST(Sha0, NullPointerWithZeroLengthIsTheEmptyMessage) {
  uint8_t d[kSha0DigestSize];
  zk::ossl::Sha0(nullptr, 0, d);
  EXPECT_EQ(Hex(d, sizeof(d)), "f96cea198ad1dd5617ac084a3d92c6107708c0ef");
}

// Lengths around the padding boundaries (55/56, 63/64, 119/120) split at every piece size must agree
// with the one-shot digest.
TEST(Sha0, PieceSizesAndPaddingBoundariesAgree) {
  for (size_t len : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 121u, 128u}) {
    std::string text;
    for (size_t i = 0; i < len; ++i) text += char('A' + i % 26);
    const std::string whole = Sha0Hex(text);
    for (size_t piece = 1; piece <= 65; ++piece)
      ASSERT_EQ(Sha0HexInPieces(text, piece), whole) << "len " << len << " piece " << piece;
  }
}

}  // namespace
