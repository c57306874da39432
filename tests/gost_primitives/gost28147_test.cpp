// GOST 28147-89 and its modes: the published Magma example, libgcrypt's own implementation of
// the cipher, its CFB mode and its MAC, a plain textbook implementation written below for
// arbitrary tables and for the counter mode, and piecewise input against one-shot input.
#include <gcrypt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "gost.h"
#include "test_util.h"

namespace {

using gost_test::Bytes;
using gost_test::FromHex;
using gost_test::Hex;

constexpr const char* kOidTestParams = "1.2.643.2.2.30.0";  // id-GostR3411-94-TestParamSet
constexpr const char* kOidParamZ = "1.2.643.7.1.2.5.1.1";   // id-tc26-gost-28147-param-Z

// id-tc26-gost-28147-param-Z (the table of GOST R 34.12-2015, pi0..pi7), in our layout K8 first.
const uint8_t kSboxParamZ[gost::kSboxSize] = {
    1,  7,  14, 13, 0,  5,  8,  3,  4,  15, 10, 6,  9,  12, 11, 2,   // pi7 = K8
    8,  14, 2,  5,  6,  9,  1,  12, 15, 4,  11, 0,  13, 10, 3,  7,   // pi6
    5,  13, 15, 6,  9,  2,  12, 10, 11, 7,  8,  1,  4,  3,  14, 0,   // pi5
    7,  15, 5,  10, 8,  1,  6,  13, 0,  9,  3,  14, 11, 4,  2,  12,  // pi4
    12, 8,  2,  1,  13, 4,  15, 6,  7,  0,  10, 5,  3,  14, 9,  11,  // pi3
    11, 3,  5,  8,  2,  15, 10, 13, 14, 1,  7,  4,  12, 9,  6,  0,   // pi2
    6,  8,  2,  3,  9,  10, 5,  12, 1,  14, 4,  7,  11, 13, 0,  15,  // pi1
    12, 4,  6,  2,  10, 5,  11, 9,  14, 8,  13, 7,  0,  3,  15, 1,   // pi0 = K1
};

// --- a textbook implementation, written the way the standard describes the rounds ------------

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint32_t RefF(const uint8_t* sbox, uint32_t x) {
  uint32_t y = 0;
  for (int k = 1; k <= 8; ++k) {  // nibble k-1 (counted from the least significant) through Kk
    uint32_t nibble = (x >> (4 * (k - 1))) & 15;
    y |= uint32_t(sbox[(8 - k) * 16 + nibble]) << (4 * (k - 1));
  }
  return y << 11 | y >> 21;
}

// rounds: the key word index of each round. The last round of the 32-round modes keeps N1.
void RefRounds(const uint8_t* key, const uint8_t* sbox, const std::vector<int>& rounds,
               bool lastSwaps, const uint8_t in[8], uint8_t out[8]) {
  uint32_t n1 = Le32(in), n2 = Le32(in + 4);
  for (size_t i = 0; i < rounds.size(); ++i) {
    uint32_t t = n2 ^ RefF(sbox, n1 + Le32(key + 4 * rounds[i]));
    if (i + 1 < rounds.size() || lastSwaps) {
      n2 = n1;
      n1 = t;
    } else {
      n2 = t;
    }
  }
  PutLe32(out, n1);
  PutLe32(out + 4, n2);
}

std::vector<int> EncryptOrder() {
  std::vector<int> r;
  for (int i = 0; i < 24; ++i) r.push_back(i % 8);
  for (int i = 7; i >= 0; --i) r.push_back(i);
  return r;
}

std::vector<int> DecryptOrder() {
  std::vector<int> r = EncryptOrder();
  std::reverse(r.begin(), r.end());
  return r;
}

std::vector<int> MacOrder() {
  std::vector<int> r;
  for (int i = 0; i < 16; ++i) r.push_back(i % 8);
  return r;
}

// Counter mode by the book: N3, N4 from E(S); per block N3 += C2 mod 2^32, N4 += C1 mod 2^32-1.
std::vector<uint8_t> RefGamma(const uint8_t* key, const uint8_t* sbox, const uint8_t iv[8],
                              const std::vector<uint8_t>& data) {
  uint8_t s[8];
  RefRounds(key, sbox, EncryptOrder(), false, iv, s);
  uint64_t n3 = Le32(s), n4 = Le32(s + 4);
  std::vector<uint8_t> out(data.size());
  for (size_t off = 0; off < data.size(); off += 8) {
    n3 = (n3 + 0x01010101) % 0x100000000ull;
    n4 = n4 + 0x01010104;
    if (n4 > 0xFFFFFFFFull) n4 -= 0xFFFFFFFFull;
    uint8_t c[8], g[8];
    PutLe32(c, uint32_t(n3));
    PutLe32(c + 4, uint32_t(n4));
    RefRounds(key, sbox, EncryptOrder(), false, c, g);
    for (size_t i = 0; i < 8 && off + i < data.size(); ++i) out[off + i] = data[off + i] ^ g[i];
  }
  return out;
}

std::vector<uint8_t> RandomSbox(std::mt19937& rng) {
  std::vector<uint8_t> s;
  for (int k = 0; k < 8; ++k) {
    std::vector<uint8_t> row(16);
    for (int i = 0; i < 16; ++i) row[i] = uint8_t(i);
    std::shuffle(row.begin(), row.end(), rng);
    s.insert(s.end(), row.begin(), row.end());
  }
  return s;
}

// Splits of a length into pieces of odd, uneven sizes (and an empty piece on the way).
std::vector<size_t> Pieces(size_t len, unsigned seed) {
  static const size_t kSizes[] = {1, 3, 0, 7, 5, 9, 13, 2, 11, 17};
  std::vector<size_t> p;
  size_t i = seed;
  while (len > 0) {
    size_t n = std::min(len, kSizes[i++ % 10]);
    p.push_back(n);
    len -= n;
  }
  return p;
}

// --- libgcrypt as the second opinion ----------------------------------------------------------

std::vector<uint8_t> GcryCipher(int mode, const char* oid, const uint8_t* key, const uint8_t* iv,
                                const std::vector<uint8_t>& in, bool encrypt) {
  gost::InitLibgcrypt();
  gcry_cipher_hd_t h;
  EXPECT_EQ(0u, gcry_cipher_open(&h, GCRY_CIPHER_GOST28147, mode, 0));
  EXPECT_EQ(0u, gcry_cipher_setkey(h, key, 32));
  EXPECT_EQ(0u, gcry_cipher_ctl(h, GCRYCTL_SET_SBOX, const_cast<char*>(oid), 0));
  if (iv) {
    EXPECT_EQ(0u, gcry_cipher_setiv(h, iv, 8));
  }
  std::vector<uint8_t> out(in.size());
  gcry_error_t e = encrypt ? gcry_cipher_encrypt(h, out.data(), out.size(), in.data(), in.size())
                           : gcry_cipher_decrypt(h, out.data(), out.size(), in.data(), in.size());
  EXPECT_EQ(0u, e);
  gcry_cipher_close(h);
  return out;
}

// --- the block cipher -------------------------------------------------------------------------

// GOST R 34.12-2015 prints the key k255..k0 and the blocks as big-endian numbers. Its round key
// K1 is the leading 32 bits, here the first little-endian key word, so each 4-byte group is
// reversed; its block a1||a0 has a0 (the half entering the first round, our N1) last, so the
// whole block is reversed.
TEST(Gost28147Cipher, PublishedMagmaExampleWithParamZ) {
  std::vector<uint8_t> keyBe =
      FromHex("ffeeddccbbaa99887766554433221100f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
  uint8_t key[32];
  for (int w = 0; w < 8; ++w)
    for (int i = 0; i < 4; ++i) key[4 * w + i] = keyBe[4 * w + 3 - i];
  std::vector<uint8_t> pt = FromHex("fedcba9876543210"), ct = FromHex("4ee901e5c2d8ca3d");
  std::reverse(pt.begin(), pt.end());
  std::reverse(ct.begin(), ct.end());

  gost::Gost28147 c;
  c.SetKey(key, kSboxParamZ);
  uint8_t out[8], back[8];
  c.EncryptBlock(pt.data(), out);
  EXPECT_EQ(Hex(ct.data(), 8), Hex(out, 8));
  c.DecryptBlock(ct.data(), back);
  EXPECT_EQ(Hex(pt.data(), 8), Hex(back, 8));
}

// libgcrypt's GOST 28147-89 in ECB mode, on both tables it knows by name, and the textbook
// rounds on random tables (which pins the K8-first layout for any caller table).
TEST(Gost28147Cipher, AgreesWithLibgcryptAndTextbookRounds) {
  std::mt19937 rng(2801);
  struct Named {
    const uint8_t* sbox;
    const char* oid;
  } named[] = {{gost::kSboxR3411TestParams, kOidTestParams}, {kSboxParamZ, kOidParamZ}};
  for (const Named& n : named) {
    for (int t = 0; t < 20; ++t) {
      std::vector<uint8_t> key = Bytes(rng, 32), data = Bytes(rng, 64);
      gost::Gost28147 c;
      c.SetKey(key.data(), n.sbox);
      std::vector<uint8_t> mine(64), back(64);
      for (size_t i = 0; i < 64; i += 8) c.EncryptBlock(&data[i], &mine[i]);
      EXPECT_EQ(Hex(GcryCipher(GCRY_CIPHER_MODE_ECB, n.oid, key.data(), nullptr, data, true).data(), 64),
                Hex(mine.data(), 64))
          << n.oid;
      for (size_t i = 0; i < 64; i += 8) c.DecryptBlock(&mine[i], &back[i]);
      EXPECT_EQ(data, back);
    }
  }
  for (int t = 0; t < 20; ++t) {
    std::vector<uint8_t> sbox = RandomSbox(rng), key = Bytes(rng, 32), block = Bytes(rng, 8);
    gost::Gost28147 c;
    c.SetKey(key.data(), sbox.data());
    uint8_t mine[8], ref[8], mac[8], refMac[8];
    c.EncryptBlock(block.data(), mine);
    RefRounds(key.data(), sbox.data(), EncryptOrder(), false, block.data(), ref);
    EXPECT_EQ(Hex(ref, 8), Hex(mine, 8));
    c.DecryptBlock(block.data(), mine);
    RefRounds(key.data(), sbox.data(), DecryptOrder(), false, block.data(), ref);
    EXPECT_EQ(Hex(ref, 8), Hex(mine, 8));
    std::memcpy(mac, block.data(), 8);
    c.MacRounds(mac);
    RefRounds(key.data(), sbox.data(), MacOrder(), true, block.data(), refMac);
    EXPECT_EQ(Hex(refMac, 8), Hex(mac, 8));
  }
}

// --- counter mode -----------------------------------------------------------------------------

std::vector<uint8_t> GammaPieces(const gost::Gost28147& c, const uint8_t iv[8],
                                 const std::vector<uint8_t>& data, unsigned seed) {
  gost::GammaMode g;
  g.Init(&c, iv);
  std::vector<uint8_t> out(data.size());
  size_t off = 0;
  for (size_t n : Pieces(data.size(), seed)) {
    g.Crypt(data.data() + off, out.data() + off, n);
    off += n;
  }
  return out;
}

TEST(Gost28147Gamma, AgreesWithTextbookCounterInPiecesAndInPlace) {
  std::mt19937 rng(2802);
  for (int t = 0; t < 12; ++t) {
    std::vector<uint8_t> sbox = t % 2 ? RandomSbox(rng)
                                      : std::vector<uint8_t>(gost::kSboxR3411TestParams,
                                                             gost::kSboxR3411TestParams + 128);
    std::vector<uint8_t> key = Bytes(rng, 32), iv = Bytes(rng, 8), data = Bytes(rng, 8 * t + t % 7);
    gost::Gost28147 c;
    c.SetKey(key.data(), sbox.data());
    std::vector<uint8_t> ref = RefGamma(key.data(), sbox.data(), iv.data(), data);
    EXPECT_EQ(ref, GammaPieces(c, iv.data(), data, t));
    std::vector<uint8_t> oneShot = data;
    gost::GammaMode g;
    g.Init(&c, iv.data());
    g.Crypt(oneShot.data(), oneShot.data(), oneShot.size());
    EXPECT_EQ(ref, oneShot);
    g.Init(&c, iv.data());
    g.Crypt(oneShot.data(), oneShot.data(), oneShot.size());
    EXPECT_EQ(data, oneShot);
  }
}

// Counter values where the modular additions wrap: N3 past 2^32, N4 past 2^32 - 1 (the carry
// comes back in) and N4 landing exactly on 0xFFFFFFFF. The IV is chosen so that E(S) gives them.
TEST(Gost28147Gamma, CounterWrapsAsTheTextbookAdders) {
  std::mt19937 rng(2803);
  std::vector<uint8_t> key = Bytes(rng, 32), data = Bytes(rng, 40);
  gost::Gost28147 c;
  c.SetKey(key.data(), gost::kSboxR3411TestParams);
  const uint32_t starts[][2] = {{0xFFFFFFFF, 0xFFFFFFFF}, {0xFEFEFEFF, 0xFEFEFEFB},
                                {0x12345678, 0xFEFEFEFC}, {0, 0}, {0xFFFFFFF0, 0xFDFDFDF7}};
  for (const auto& s : starts) {
    uint8_t n[8], iv[8];
    PutLe32(n, s[0]);
    PutLe32(n + 4, s[1]);
    c.DecryptBlock(n, iv);
    EXPECT_EQ(RefGamma(key.data(), gost::kSboxR3411TestParams, iv, data), GammaPieces(c, iv, data, 3))
        << std::hex << s[0] << " " << s[1];
  }
}

// --- gamma with feedback --------------------------------------------------------------------

TEST(Gost28147Cfb, AgreesWithLibgcryptCfbInPiecesBothWays) {
  std::mt19937 rng(2804);
  for (size_t len : {0, 1, 7, 8, 9, 16, 23, 64, 101}) {
    std::vector<uint8_t> key = Bytes(rng, 32), iv = Bytes(rng, 8), data = Bytes(rng, len);
    std::vector<uint8_t> expect =
        GcryCipher(GCRY_CIPHER_MODE_CFB, kOidTestParams, key.data(), iv.data(), data, true);
    gost::Gost28147 c;
    c.SetKey(key.data(), gost::kSboxR3411TestParams);
    for (unsigned seed = 0; seed < 3; ++seed) {
      gost::GammaFeedbackMode m;
      m.Init(&c, iv.data());
      std::vector<uint8_t> ct(len), pt(len);
      size_t off = 0;
      for (size_t n : Pieces(len, seed)) {
        m.Encrypt(data.data() + off, ct.data() + off, n);
        off += n;
      }
      EXPECT_EQ(expect, ct) << len;
      // Decrypt in place, in other pieces.
      pt = ct;
      m.Init(&c, iv.data());
      off = 0;
      for (size_t n : Pieces(len, seed + 5)) {
        m.Decrypt(pt.data() + off, pt.data() + off, n);
        off += n;
      }
      EXPECT_EQ(data, pt) << len;
    }
  }
}

// --- MAC --------------------------------------------------------------------------------------

std::vector<uint8_t> MacPieces(const gost::Gost28147& c, const std::vector<uint8_t>& data,
                               unsigned seed) {
  gost::MacMode m;
  m.Init(&c);
  size_t off = 0;
  for (size_t n : Pieces(data.size(), seed)) {
    m.Update(data.data() + off, n);
    off += n;
  }
  std::vector<uint8_t> out(8);
  m.Final(out.data());
  return out;
}

// The textbook MAC: zero-padded blocks, at least two of them, 16 rounds each.
std::vector<uint8_t> RefMac(const uint8_t* key, const uint8_t* sbox, std::vector<uint8_t> data) {
  data.resize(std::max<size_t>(16, (data.size() + 7) / 8 * 8), 0);
  uint8_t st[8] = {};
  for (size_t off = 0; off < data.size(); off += 8) {
    for (int i = 0; i < 8; ++i) st[i] ^= data[off + i];
    RefRounds(key, sbox, MacOrder(), true, st, st);
  }
  return std::vector<uint8_t>(st, st + 8);
}

TEST(Gost28147Mac, AgreesWithTextbookMacInPieces) {
  std::mt19937 rng(2805);
  for (size_t len = 0; len <= 41; ++len) {
    std::vector<uint8_t> sbox = len % 2 ? RandomSbox(rng)
                                        : std::vector<uint8_t>(gost::kSboxR3411TestParams,
                                                               gost::kSboxR3411TestParams + 128);
    std::vector<uint8_t> key = Bytes(rng, 32), data = Bytes(rng, len);
    gost::Gost28147 c;
    c.SetKey(key.data(), sbox.data());
    std::vector<uint8_t> ref = RefMac(key.data(), sbox.data(), data);
    for (unsigned seed = 0; seed < 3; ++seed) EXPECT_EQ(ref, MacPieces(c, data, seed)) << len;
  }
}

TEST(Gost28147Mac, AgreesWithLibgcryptImitovstavka) {
  gost::InitLibgcrypt();
  std::mt19937 rng(2806);
  for (size_t len = 1; len <= 41; ++len) {
    std::vector<uint8_t> key = Bytes(rng, 32), data = Bytes(rng, len);
    gcry_mac_hd_t h;
    ASSERT_EQ(0u, gcry_mac_open(&h, GCRY_MAC_GOST28147_IMIT, 0, nullptr));
    ASSERT_EQ(0u, gcry_mac_ctl(h, GCRYCTL_SET_SBOX, const_cast<char*>(kOidTestParams), 0));
    ASSERT_EQ(0u, gcry_mac_setkey(h, key.data(), 32));
    ASSERT_EQ(0u, gcry_mac_write(h, data.data(), data.size()));
    uint8_t theirs[4];
    size_t n = sizeof(theirs);
    ASSERT_EQ(0u, gcry_mac_read(h, theirs, &n));
    gcry_mac_close(h);
    ASSERT_EQ(4u, n);
    gost::Gost28147 c;
    c.SetKey(key.data(), gost::kSboxR3411TestParams);
    EXPECT_EQ(Hex(theirs, 4), Hex(MacPieces(c, data, 0).data(), 4)) << len;
  }
}

// --- published known answers -------------------------------------------------------------------
// GOST 28147-89 itself prints no examples of its modes. The known answers below are the ones the
// OpenSSL GOST engine publishes in its test suite (test/03-encrypt.t and test/02-mac.t), made
// with id-Gost28147-89-CryptoPro-A-ParamSet ("gost89-cnt", "gost-mac") and
// id-tc26-gost-28147-param-Z ("gost89-cnt-12", "gost-mac-12"). Below 1024 bytes the engine's key
// meshing never starts, so these are the plain modes.

// id-Gost28147-89-CryptoPro-A-ParamSet in our layout, K8 first.
const uint8_t kSboxCryptoProA[gost::kSboxSize] = {
    0xb, 0xa, 0xf, 0x5, 0x0, 0xc, 0xe, 0x8, 0x6, 0x2, 0x3, 0x9, 0x1, 0x7, 0xd, 0x4,  // K8
    0x1, 0xd, 0x2, 0x9, 0x7, 0xa, 0x6, 0x0, 0x8, 0xc, 0x4, 0x5, 0xf, 0x3, 0xb, 0xe,
    0x3, 0xa, 0xd, 0xc, 0x1, 0x2, 0x0, 0xb, 0x7, 0x5, 0x9, 0x4, 0x8, 0xf, 0xe, 0x6,
    0xb, 0x5, 0x1, 0x9, 0x8, 0xd, 0xf, 0x0, 0xe, 0x4, 0x2, 0x3, 0xc, 0x7, 0xa, 0x6,
    0xe, 0x7, 0xa, 0xc, 0xd, 0x1, 0x3, 0x9, 0x0, 0x2, 0xb, 0x4, 0xf, 0x8, 0x5, 0x6,
    0xe, 0x4, 0x6, 0x2, 0xb, 0x3, 0xd, 0x8, 0xc, 0xf, 0x5, 0xa, 0x0, 0x7, 0x1, 0x9,
    0x3, 0x7, 0xe, 0x9, 0x8, 0xa, 0xf, 0x0, 0x5, 0x2, 0x6, 0xc, 0xb, 0x4, 0xd, 0x1,
    0x9, 0x6, 0x3, 0x2, 0x8, 0xb, 0x1, 0x7, 0xa, 0x4, 0xe, 0xf, 0xc, 0x0, 0xd, 0x5,  // K1
};

TEST(Gost28147Published, CounterModeKnownAnswers) {
  const std::string text = "The quick brown fox jumps over the lazy dog\n";
  const std::vector<uint8_t> plain(text.begin(), text.end());
  const std::vector<uint8_t> key = FromHex(std::string("0123456789ABCDEF0123456789ABCDEF") + "0123456789ABCDEF0123456789ABCDEF");
  const uint8_t iv[8] = {};
  const struct {
    const uint8_t* sbox;
    const char* cipher;
  } cases[] = {
      {kSboxCryptoProA, "bcb821452e459f10f92019171e7c3b27b87f24b174306667f67704812c07b70b5e7420f74a9d54feb4897df8"},
      {kSboxParamZ, "cf3f5f713b3d10abd0c6f7bafb6aaffe13dfc12ef5c844f84873aeaaf6eb443a9747c9311b86f97ba3cdb5c4"},
  };
  for (const auto& c : cases) {
    gost::Gost28147 cipher;
    cipher.SetKey(key.data(), c.sbox);
    const std::vector<uint8_t> out = GammaPieces(cipher, iv, plain, 1);
    EXPECT_EQ(Hex(out.data(), out.size()), c.cipher);
  }
}

TEST(Gost28147Published, FullEightByteMacKnownAnswers) {
  const std::string keyText = "0123456789abcdef0123456789abcdef";  // the key is these 32 characters
  std::string text;
  for (int i = 0; i < 128; ++i) text += "12345670";
  const std::vector<uint8_t> data(text.begin(), text.end());
  const struct {
    const uint8_t* sbox;
    const char* mac;
  } cases[] = {{kSboxCryptoProA, "2ee8d13dff7f037d"}, {kSboxParamZ, "be4453ec1ec327be"}};
  for (const auto& c : cases) {
    gost::Gost28147 cipher;
    cipher.SetKey(reinterpret_cast<const uint8_t*>(keyText.data()), c.sbox);
    const std::vector<uint8_t> mac = MacPieces(cipher, data, 2);
    EXPECT_EQ(Hex(mac.data(), 8), c.mac);
  }
}

}  // namespace
