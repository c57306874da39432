// RC5-32 against Rivest's 12-round vectors and the RFC 2040 CBC table, plus a 16-round vector (the
// engine's setting) that a second, separately written implementation below also produces.
#include "engines/openssl/rc5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using zk::ossl::Rc5Key;

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string Hex(const Bytes& b) {
  std::string s;
  char t[3];
  for (uint8_t v : b) {
    std::snprintf(t, sizeof(t), "%02x", v);
    s += t;
  }
  return s;
}

// The second implementation: written from the paper's pseudo-code in a different shape. P32 and Q32
// are derived from e and the golden ratio, S and L live in vectors, rotations go through a doubled
// 64-bit word.
class ReferenceRc5 {
 public:
  ReferenceRc5(const Bytes& key, int rounds) : r_(rounds) {
    const uint32_t p = Odd((2.71828182845904523536L - 2) * 4294967296.0L);
    const uint32_t q = Odd((1.61803398874989484820L - 1) * 4294967296.0L);
    const size_t c = std::max<size_t>(1, (key.size() + 3) / 4);
    std::vector<uint32_t> l(c, 0);
    for (size_t i = 0; i < key.size(); ++i) l[i / 4] |= uint32_t(key[i]) << (8 * (i % 4));
    s_.resize(2 * r_ + 2);
    for (size_t i = 0; i < s_.size(); ++i) s_[i] = p + uint32_t(i) * q;
    uint32_t a = 0, b = 0;
    for (size_t k = 0; k < 3 * std::max(s_.size(), c); ++k) {
      uint32_t& si = s_[k % s_.size()];
      uint32_t& lj = l[k % c];
      si = RotL(si + a + b, 3);
      a = si;
      lj = RotL(lj + a + b, (a + b) % 32);
      b = lj;
    }
  }

  Bytes Ecb(const Bytes& in) const {
    Bytes out;
    for (size_t off = 0; off < in.size(); off += 8) Append(out, Block(Word(in, off), Word(in, off + 4)));
    return out;
  }

  Bytes Cbc(const Bytes& in, const Bytes& iv) const {
    Bytes out, chain = iv;
    for (size_t off = 0; off < in.size(); off += 8) {
      Bytes x(8);
      for (int k = 0; k < 8; ++k) x[k] = in[off + k] ^ chain[k];
      Bytes y;
      Append(y, Block(Word(x, 0), Word(x, 4)));
      out.insert(out.end(), y.begin(), y.end());
      chain = y;
    }
    return out;
  }

 private:
  static uint32_t Odd(long double x) {
    const uint64_t f = uint64_t(std::floor(x));
    return uint32_t(f % 2 == 1 ? f : f + 1);
  }
  static uint32_t RotL(uint32_t x, uint32_t n) {
    const uint64_t doubled = (uint64_t(x) << 32) | x;
    return uint32_t(doubled >> (32 - n % 32));
  }
  static uint32_t Word(const Bytes& b, size_t off) {
    return b[off] + 256u * (b[off + 1] + 256u * (b[off + 2] + 256u * b[off + 3]));
  }
  static void Append(Bytes& out, std::pair<uint32_t, uint32_t> ab) {
    for (uint32_t w : {ab.first, ab.second})
      for (int k = 0; k < 4; ++k) out.push_back(uint8_t(w >> (8 * k)));
  }
  std::pair<uint32_t, uint32_t> Block(uint32_t a, uint32_t b) const {
    a += s_[0];
    b += s_[1];
    for (int i = 1; i <= r_; ++i) {
      a = RotL(a ^ b, b % 32) + s_[2 * i];
      b = RotL(b ^ a, a % 32) + s_[2 * i + 1];
    }
    return {a, b};
  }

  int r_;
  std::vector<uint32_t> s_;
};

Bytes EncryptEcb(const Bytes& key, int rounds, const Bytes& plain) {
  Rc5Key ks(key.data(), key.size(), rounds);
  Bytes out(plain.size());
  zk::ossl::Rc5EcbEncrypt(ks, plain.data(), out.data(), out.size());
  return out;
}

Bytes EncryptCbc(const Bytes& key, int rounds, Bytes iv, const Bytes& plain) {
  Rc5Key ks(key.data(), key.size(), rounds);
  Bytes out(plain.size());
  zk::ossl::Rc5CbcEncrypt(ks, plain.data(), out.data(), out.size(), iv.data());
  return out;
}

// Rivest's table: each vector's ciphertext is the next one's plaintext.
TEST(Rc5, PaperVectorsTwelveRounds) {
  const struct { const char *key, *plain, *cipher; } vectors[] = {
      {"00000000000000000000000000000000", "0000000000000000", "21a5dbee154b8f6d"},
      {"915f4619be41b2516355a50110a9ce91", "21a5dbee154b8f6d", "f7c013ac5b2b8952"},
      {"783348e75aeb0f2fd7b169bb8dc16787", "f7c013ac5b2b8952", "2f42b3b70369fc92"},
      {"dc49db1375a5584f6485b413b5f12baf", "2f42b3b70369fc92", "65c178b284d197cc"},
      {"5269f149d41ba0152497574d7f153125", "65c178b284d197cc", "eb44e415da319824"},
  };
  for (const auto& v : vectors) {
    const Bytes key = FromHex(v.key);
    EXPECT_EQ(Hex(EncryptEcb(key, 12, FromHex(v.plain))), v.cipher) << v.key;
    Rc5Key ks(key.data(), key.size(), 12);
    Bytes back = FromHex(v.cipher);
    ks.DecryptBlock(back.data(), back.data());
    EXPECT_EQ(Hex(back), v.plain) << v.key;
  }
}

// RFC 2040's RC5-CBC table: one block each, over rounds 0 to 16 and keys of 1 to 16 bytes.
TEST(Rc5, Rfc2040CbcVectors) {
  const struct { int rounds; const char *key, *iv, *plain, *cipher; } vectors[] = {
      {0, "00", "0000000000000000", "0000000000000000", "7a7bba4d79111d1e"},
      {0, "00", "0000000000000000", "ffffffffffffffff", "797bba4d78111d1e"},
      {0, "00", "0000000000000001", "0000000000000000", "7a7bba4d79111d1f"},
      {0, "00", "0000000000000000", "0000000000000001", "7a7bba4d79111d1f"},
      {0, "00", "0102030405060708", "1020304050607080", "8b9ded91ce7794a6"},
      {1, "11", "0000000000000000", "0000000000000000", "2f759fe7ad86a378"},
      {2, "00", "0000000000000000", "0000000000000000", "dca2694bf40e0788"},
      {2, "00000000", "0000000000000000", "0000000000000000", "dca2694bf40e0788"},
      {8, "00", "0000000000000000", "0000000000000000", "dcfe098577eca5ff"},
      {8, "00", "0102030405060708", "1020304050607080", "9646fb77638f9ca8"},
      {12, "00", "0102030405060708", "1020304050607080", "b2b3209db6594da4"},
      {16, "00", "0102030405060708", "1020304050607080", "545f7f32a5fc3836"},
      {8, "01020304", "0000000000000000", "ffffffffffffffff", "8285e7c1b5bc7402"},
      {12, "01020304", "0000000000000000", "ffffffffffffffff", "fc586f92f7080934"},
      {16, "01020304", "0000000000000000", "ffffffffffffffff", "cf270ef9717ff7c4"},
      {12, "0102030405060708", "0000000000000000", "ffffffffffffffff", "e493f1c1bb4d6e8c"},
      {8, "0102030405060708", "0102030405060708", "1020304050607080", "5c4c041e0f217ac3"},
      {12, "0102030405060708", "0102030405060708", "1020304050607080", "921f12485373b4f7"},
      {16, "0102030405060708", "0102030405060708", "1020304050607080", "5ba0ca6bbe7f5fad"},
      {8, "01020304050607081020304050607080", "0102030405060708", "1020304050607080", "c533771cd0110e63"},
      {12, "01020304050607081020304050607080", "0102030405060708", "1020304050607080", "294ddb46b3278d60"},
      {16, "01020304050607081020304050607080", "0102030405060708", "1020304050607080", "dad6bda9dfe8f7e8"},
      {8, "0102030405", "0000000000000000", "ffffffffffffffff", "7875dbf6738c6478"},
      {12, "0102030405", "0000000000000000", "ffffffffffffffff", "97e0787837ed317f"},
  };
  for (const auto& v : vectors) {
    const Bytes key = FromHex(v.key);
    Rc5Key ks(key.data(), key.size(), v.rounds);
    Bytes iv = FromHex(v.iv), block = FromHex(v.plain);
    zk::ossl::Rc5CbcEncrypt(ks, block.data(), block.data(), 8, iv.data());
    EXPECT_EQ(Hex(block), v.cipher) << v.rounds << " rounds, key " << v.key;
    EXPECT_EQ(Hex(iv), v.cipher) << "the IV must advance to the last ciphertext block";
    iv = FromHex(v.iv);
    zk::ossl::Rc5CbcDecrypt(ks, block.data(), block.data(), 8, iv.data());
    EXPECT_EQ(Hex(block), v.plain) << v.rounds << " rounds, key " << v.key;
  }
}

// The engine's setting: 16 rounds, 16-byte key, CBC with the key's first 8 bytes as IV.
TEST(Rc5, SixteenRoundsAgreeWithTheIndependentImplementation) {
  // The reference first proves itself on published vectors of both round counts.
  EXPECT_EQ(Hex(ReferenceRc5(FromHex("915f4619be41b2516355a50110a9ce91"), 12).Ecb(FromHex("21a5dbee154b8f6d"))),
            "f7c013ac5b2b8952");
  EXPECT_EQ(Hex(ReferenceRc5(FromHex("01020304050607081020304050607080"), 16)
                    .Cbc(FromHex("1020304050607080"), FromHex("0102030405060708"))),
            "dad6bda9dfe8f7e8");

  const Bytes key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes iv(key.begin(), key.begin() + 8);
  const std::string text = "RC5 session payload, 32 bytes.!!";
  const Bytes plain(text.begin(), text.end());
  const char* ecb = "4f9d12ff87f89e9a83e2aa5e52678374a541a886b15a979cf963f24df9adc8d2";
  const char* cbc = "43f466f870d4b2705ebdc39436784655b18ed8d6ebb9252cb7873e774207f366";
  const ReferenceRc5 reference(key, 16);
  EXPECT_EQ(Hex(reference.Ecb(plain)), ecb);
  EXPECT_EQ(Hex(reference.Cbc(plain, iv)), cbc);
  EXPECT_EQ(Hex(EncryptEcb(key, 16, plain)), ecb);
  EXPECT_EQ(Hex(EncryptCbc(key, 16, iv, plain)), cbc);
}

TEST(Rc5, ModesRoundTripInPlaceAndCbcChainsAcrossCalls) {
  const Bytes key = FromHex("000102030405060708090a0b0c0d0e0f");
  Rc5Key ks(key.data(), key.size(), 16);
  Bytes plain(40);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 7 + 3);

  Bytes iv(8, 0x5A), whole(plain.size());
  zk::ossl::Rc5CbcEncrypt(ks, plain.data(), whole.data(), whole.size(), iv.data());
  Bytes chained_iv(8, 0x5A), pieces = plain;
  for (size_t off = 0; off < pieces.size(); off += 16)
    zk::ossl::Rc5CbcEncrypt(ks, pieces.data() + off, pieces.data() + off, std::min<size_t>(16, pieces.size() - off),
                            chained_iv.data());
  EXPECT_EQ(Hex(pieces), Hex(whole));
  EXPECT_EQ(Hex(chained_iv), Hex(iv));

  Bytes back_iv(8, 0x5A);
  zk::ossl::Rc5CbcDecrypt(ks, pieces.data(), pieces.data(), pieces.size(), back_iv.data());
  EXPECT_EQ(Hex(pieces), Hex(plain));

  Bytes ecb = plain;
  zk::ossl::Rc5EcbEncrypt(ks, ecb.data(), ecb.data(), ecb.size());
  EXPECT_NE(Hex(ecb), Hex(plain));
  zk::ossl::Rc5EcbDecrypt(ks, ecb.data(), ecb.data(), ecb.size());
  EXPECT_EQ(Hex(ecb), Hex(plain));
}

TEST(Rc5, PartialBlocksAreRefusedWithoutWriting) {
  const Bytes key(16, 1);
  Rc5Key ks(key.data(), key.size(), 16);
  const Bytes in(16, 0x33);
  for (size_t len : {1u, 7u, 9u, 15u}) {
    Bytes out(16, 0xEE), iv(8, 0);
    EXPECT_THROW(zk::ossl::Rc5EcbEncrypt(ks, in.data(), out.data(), len), std::invalid_argument);
    EXPECT_THROW(zk::ossl::Rc5CbcEncrypt(ks, in.data(), out.data(), len, iv.data()), std::invalid_argument);
    EXPECT_THROW(zk::ossl::Rc5CbcDecrypt(ks, in.data(), out.data(), len, iv.data()), std::invalid_argument);
    EXPECT_EQ(out, Bytes(16, 0xEE));
    EXPECT_EQ(iv, Bytes(8, 0));
  }
}

TEST(Rc5, KeyAndRoundLimits) {
  const Bytes long_key(256, 0x42);
  EXPECT_THROW(Rc5Key(long_key.data(), 256, 16), std::invalid_argument);
  EXPECT_THROW(Rc5Key(long_key.data(), 16, -1), std::invalid_argument);
  EXPECT_THROW(Rc5Key(long_key.data(), 16, 256), std::invalid_argument);

  // The largest table and the longest key still match the reference.
  const Bytes plain = FromHex("0011223344556677");
  const Bytes max_key(long_key.begin(), long_key.begin() + 255);
  EXPECT_EQ(Hex(EncryptEcb(max_key, 255, plain)), Hex(ReferenceRc5(max_key, 255).Ecb(plain)));
  EXPECT_EQ(Hex(EncryptEcb(Bytes(), 16, plain)), Hex(ReferenceRc5(Bytes(), 16).Ecb(plain)));
}

}  // namespace
