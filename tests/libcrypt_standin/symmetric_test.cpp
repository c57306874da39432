// GOST 28147-89 modes, the MAC and the R 34.11-94 hash through the stand-in's exports, compared
// with the shared primitives on the same input; context handling of the work block.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "libcrypt_module.h"

namespace libcrypt_test {
namespace {

const std::vector<size_t> kPieces = {0, 1, 7, 8, 13, 64, 300};  // then the rest

class SymmetricTest : public LibcryptTest {};

TEST_F(SymmetricTest, BlockModeMatchesThePrimitiveBothWaysAndInPlace) {
  auto work = WorkBlock();
  const auto key = Bytes(32, 1), plain = Bytes(64, 2);
  ASSERT_EQ(L().CrypC_G28147_1989_block_init(work.data(), key.data()), 0);
  std::vector<uint8_t> enc(64), dec(64), expected(64);
  gost::Gost28147 cipher;
  cipher.SetKey(key.data(), gost::kSboxR3411TestParams);
  for (int i = 0; i < 64; i += 8) cipher.EncryptBlock(plain.data() + i, expected.data() + i);
  ASSERT_EQ(L().CrypC_G28147_1989_block_encrypt(work.data(), plain.data(), enc.data(), 64), 0);
  EXPECT_EQ(enc, expected);
  ASSERT_EQ(L().CrypC_G28147_1989_block_decrypt(work.data(), enc.data(), dec.data(), 64), 0);
  EXPECT_EQ(dec, plain);
  std::vector<uint8_t> inPlace = plain;
  ASSERT_EQ(L().CrypC_G28147_1989_block_encrypt(work.data(), inPlace.data(), inPlace.data(), 64), 0);
  EXPECT_EQ(inPlace, expected);
  // Only whole blocks; nothing is written for a refused length.
  std::vector<uint8_t> untouched(16, 0xEE);
  EXPECT_EQ(L().CrypC_G28147_1989_block_encrypt(work.data(), plain.data(), untouched.data(), 12), 14);
  EXPECT_EQ(untouched, std::vector<uint8_t>(16, 0xEE));
  EXPECT_EQ(L().CrypC_G28147_1989_block_decrypt(work.data(), plain.data(), untouched.data(), 7), 14);
  EXPECT_EQ(L().CrypC_G28147_1989_block_encrypt(work.data(), nullptr, nullptr, 0), 0);
  EXPECT_EQ(L().CrypC_G28147_1989_block_clear(work.data()), 0);
}

TEST_F(SymmetricTest, TheCipherUsesTheTableOfTheWorkBlock) {
  uint8_t sbox[128];
  std::memcpy(sbox, gost::kSboxR3411TestParams, 128);
  std::swap(sbox[120], sbox[121]);  // K1, entries 8 and 9
  std::swap(sbox[0], sbox[15]);     // K8
  const auto key = Bytes(32, 9), plain = Bytes(32, 4);
  std::vector<uint8_t> standard(32), altered(32), expected(32);
  for (auto* out : {&standard, &altered}) {
    auto work = WorkBlock(out == &standard ? gost::kSboxR3411TestParams : sbox);
    ASSERT_EQ(L().CrypC_G28147_1989_block_init(work.data(), key.data()), 0);
    ASSERT_EQ(L().CrypC_G28147_1989_block_encrypt(work.data(), plain.data(), out->data(), 32), 0);
    L().CrypC_G28147_1989_block_clear(work.data());
  }
  gost::Gost28147 cipher;
  cipher.SetKey(key.data(), sbox);
  for (int i = 0; i < 32; i += 8) cipher.EncryptBlock(plain.data() + i, expected.data() + i);
  EXPECT_EQ(altered, expected);
  EXPECT_NE(altered, standard);
}

// Feeds `in` through `step` in the pieces of kPieces, then the rest.
void Piecewise(const std::vector<uint8_t>& in, std::vector<uint8_t>& out,
               const std::function<int(const uint8_t*, uint8_t*, uint32_t)>& step) {
  out.assign(in.size(), 0);
  size_t at = 0;
  for (size_t piece : kPieces) {
    ASSERT_EQ(step(in.data() + at, out.data() + at, uint32_t(piece)), 0);
    at += piece;
  }
  ASSERT_EQ(step(in.data() + at, out.data() + at, uint32_t(in.size() - at)), 0);
}

TEST_F(SymmetricTest, GammaInPiecesEqualsTheOneShotPrimitiveAndUndoesItself) {
  auto work = WorkBlock();
  const auto key = Bytes(32, 5), iv = Bytes(8, 6), plain = RandomBytes(1001);
  gost::Gost28147 cipher;
  cipher.SetKey(key.data(), gost::kSboxR3411TestParams);
  gost::GammaMode mode;
  mode.Init(&cipher, iv.data());
  std::vector<uint8_t> expected(plain.size()), enc;
  mode.Crypt(plain.data(), expected.data(), plain.size());

  ASSERT_EQ(L().CrypC_G28147_1989_gamma_init(work.data(), key.data(), iv.data()), 0);
  Piecewise(plain, enc, [&](const uint8_t* in, uint8_t* out, uint32_t n) {
    return L().CrypC_G28147_1989_gamma_crypt(work.data(), in, out, n);
  });
  EXPECT_EQ(enc, expected);
  ASSERT_EQ(L().CrypC_G28147_1989_gamma_init(work.data(), key.data(), iv.data()), 0);
  ASSERT_EQ(L().CrypC_G28147_1989_gamma_crypt(work.data(), enc.data(), enc.data(), uint32_t(enc.size())), 0);
  EXPECT_EQ(enc, plain);
  ASSERT_EQ(L().CrypC_G28147_1989_gamma_clear(work.data()), 0);
}

TEST_F(SymmetricTest, FeedbackInPiecesEqualsTheOneShotPrimitiveBothWays) {
  auto work = WorkBlock();
  const auto key = Bytes(32, 7), iv = Bytes(8, 8), plain = RandomBytes(999);
  gost::Gost28147 cipher;
  cipher.SetKey(key.data(), gost::kSboxR3411TestParams);
  gost::GammaFeedbackMode mode;
  mode.Init(&cipher, iv.data());
  std::vector<uint8_t> expected(plain.size()), enc, dec;
  mode.Encrypt(plain.data(), expected.data(), plain.size());

  ASSERT_EQ(L().CrypC_G28147_1989_gamma_ofb_init(work.data(), key.data(), iv.data()), 0);
  Piecewise(plain, enc, [&](const uint8_t* in, uint8_t* out, uint32_t n) {
    return L().CrypC_G28147_1989_gamma_ofb_encrypt(work.data(), in, out, n);
  });
  EXPECT_EQ(enc, expected);
  ASSERT_EQ(L().CrypC_G28147_1989_gamma_ofb_init(work.data(), key.data(), iv.data()), 0);
  Piecewise(enc, dec, [&](const uint8_t* in, uint8_t* out, uint32_t n) {
    return L().CrypC_G28147_1989_gamma_ofb_decrypt(work.data(), in, out, n);
  });
  EXPECT_EQ(dec, plain);
  // A wrong vector garbles the start (the feedback recovers later, as the mode does).
  auto wrongIv = iv;
  wrongIv[0] ^= 1;
  ASSERT_EQ(L().CrypC_G28147_1989_gamma_ofb_init(work.data(), key.data(), wrongIv.data()), 0);
  ASSERT_EQ(L().CrypC_G28147_1989_gamma_ofb_decrypt(work.data(), enc.data(), dec.data(), uint32_t(enc.size())), 0);
  EXPECT_NE(std::vector<uint8_t>(dec.begin(), dec.begin() + 8), std::vector<uint8_t>(plain.begin(), plain.begin() + 8));
  ASSERT_EQ(L().CrypC_G28147_1989_gamma_ofb_clear(work.data()), 0);
}

std::vector<uint8_t> PrimitiveMac(const std::vector<uint8_t>& key, const uint8_t* data, size_t len) {
  gost::Gost28147 cipher;
  cipher.SetKey(key.data(), gost::kSboxR3411TestParams);
  gost::MacMode mac;
  mac.Init(&cipher);
  mac.Update(data, len);
  std::vector<uint8_t> out(8);
  mac.Final(out.data());
  return out;
}

TEST_F(SymmetricTest, MacInPiecesEqualsThePrimitiveAndReachesBothOutputs) {
  const auto key = Bytes(32, 11);
  const auto data = RandomBytes(700);
  for (size_t len : {size_t(0), size_t(5), size_t(8), size_t(16), size_t(17), data.size()}) {
    SCOPED_TRACE(len);
    auto work = WorkBlock();
    uint8_t remembered[12], given[12];
    std::memset(remembered, 0xC3, sizeof remembered);
    std::memset(given, 0xC3, sizeof given);
    ASSERT_EQ(L().CrypC_G28147_1989_mac_init(work.data(), key.data(), remembered), 0);
    size_t at = 0;
    for (size_t piece : kPieces) {
      if (at + piece > len) break;
      ASSERT_EQ(L().CrypC_G28147_1989_mac_update(work.data(), data.data() + at, uint32_t(piece)), 0);
      at += piece;
    }
    ASSERT_EQ(L().CrypC_G28147_1989_mac_update(work.data(), data.data() + at, uint32_t(len - at)), 0);
    ASSERT_EQ(L().CrypC_G28147_1989_mac_final(work.data(), given), 0);
    const auto expected = PrimitiveMac(key, data.data(), len);
    EXPECT_EQ(std::vector<uint8_t>(given, given + 8), expected);
    EXPECT_EQ(std::vector<uint8_t>(remembered, remembered + 8), expected);
    for (int i = 8; i < 12; ++i) EXPECT_EQ(given[i], 0xC3) << "written past the 8-byte MAC";
    for (int i = 8; i < 12; ++i) EXPECT_EQ(remembered[i], 0xC3) << "written past the 8-byte MAC";
    // The computation is over once final answered.
    EXPECT_EQ(L().CrypC_G28147_1989_mac_update(work.data(), data.data(), 8), 14);
    EXPECT_EQ(L().CrypC_G28147_1989_mac_final(work.data(), given), 14);
    EXPECT_EQ(L().CrypC_G28147_1989_mac_clear(work.data()), 0);
  }
}

TEST_F(SymmetricTest, MacNoticesOneFlippedBitAndNeedsSomewhereToWrite) {
  const auto key = Bytes(32, 12);
  auto data = Bytes(40, 13);
  auto work = WorkBlock();
  uint8_t first[8], second[8];
  ASSERT_EQ(L().CrypC_G28147_1989_mac_init(work.data(), key.data(), nullptr), 0);
  ASSERT_EQ(L().CrypC_G28147_1989_mac_update(work.data(), data.data(), 40), 0);
  EXPECT_EQ(L().CrypC_G28147_1989_mac_final(work.data(), nullptr), 15);  // no output at all
  ASSERT_EQ(L().CrypC_G28147_1989_mac_final(work.data(), first), 0);
  data[39] ^= 0x80;
  ASSERT_EQ(L().CrypC_G28147_1989_mac_init(work.data(), key.data(), second), 0);
  ASSERT_EQ(L().CrypC_G28147_1989_mac_update(work.data(), data.data(), 40), 0);
  ASSERT_EQ(L().CrypC_G28147_1989_mac_final(work.data(), nullptr), 0);  // the remembered output
  EXPECT_NE(std::memcmp(first, second, 8), 0);
  EXPECT_EQ(L().CrypC_G28147_1989_mac_clear(work.data()), 0);
}

using MacFileTest = LibcryptFilesTest;

TEST_F(MacFileTest, FileMacEqualsTheMacOfItsContent) {
  const auto key = Bytes(32, 21);
  auto work = WorkBlock();
  for (size_t size : {size_t(0), size_t(3), size_t(16384), size_t(70001)}) {
    SCOPED_TRACE(size);
    const auto content = RandomBytes(size);
    const std::string path = Write("data" + std::to_string(size) + ".bin", content);
    uint8_t mac[10];
    std::memset(mac, 0x77, sizeof mac);
    ASSERT_EQ(L().CrypC_G28147_1989_mac_file_const(work.data(), key.data(), path.c_str(), mac), 0);
    EXPECT_EQ(std::vector<uint8_t>(mac, mac + 8), PrimitiveMac(key, content.data(), content.size()));
    EXPECT_EQ(mac[8], 0x77);
  }
  // The one-shot call leaves a context of the block alone.
  ASSERT_EQ(L().CrypC_G28147_1989_gamma_init(work.data(), key.data(), key.data()), 0);
  uint8_t mac[8];
  const std::string path = Write("more.bin", Bytes(100, 3));
  ASSERT_EQ(L().CrypC_G28147_1989_mac_file_const(work.data(), key.data(), path.c_str(), mac), 0);
  uint8_t byte = 1;
  EXPECT_EQ(L().CrypC_G28147_1989_gamma_crypt(work.data(), &byte, &byte, 1), 0);
  EXPECT_EQ(L().CrypC_G28147_1989_gamma_clear(work.data()), 0);
}

TEST_F(MacFileTest, FileErrorsAreReportedNotHashed) {
  const auto key = Bytes(32, 22);
  auto work = WorkBlock();
  uint8_t mac[8] = {};
  const std::string missing = Path("absent.bin");
  EXPECT_EQ(L().CrypC_G28147_1989_mac_file_const(work.data(), key.data(), missing.c_str(), mac), 10);
  // A directory opens on some systems and then fails to read; either way no MAC.
  const int status = L().CrypC_G28147_1989_mac_file_const(work.data(), key.data(), dir_.string().c_str(), mac);
  EXPECT_TRUE(status == 10 || status == 12) << status;
  EXPECT_EQ(L().CrypC_G28147_1989_mac_file_const(work.data(), key.data(), nullptr, mac), 15);
}

TEST_F(SymmetricTest, HashGivesTheRfcExampleAndEqualsThePrimitiveInPieces) {
  auto work = WorkBlock();
  // RFC 5831, test parameter set.
  const char* message = "Suppose the original message has length = 50 bytes";
  const uint8_t expected[32] = {0x47, 0x1a, 0xba, 0x57, 0xa6, 0x0a, 0x77, 0x0d, 0x3a, 0x76, 0x13,
                                0x06, 0x35, 0xc1, 0xfb, 0xea, 0x4e, 0xf1, 0x4d, 0xe5, 0x1f, 0x78,
                                0xb4, 0xae, 0x57, 0xdd, 0x89, 0x3b, 0x62, 0xf5, 0x52, 0x08};
  uint8_t digest[36];
  std::memset(digest, 0x99, sizeof digest);
  ASSERT_EQ(L().CrypC_R34_11_1994_init(work.data()), 0);
  ASSERT_EQ(L().CrypC_R34_11_1994_update(work.data(), reinterpret_cast<const uint8_t*>(message), 20), 0);
  ASSERT_EQ(L().CrypC_R34_11_1994_update(work.data(), reinterpret_cast<const uint8_t*>(message) + 20, 30), 0);
  ASSERT_EQ(L().CrypC_R34_11_1994_final(work.data(), digest), 0);
  EXPECT_EQ(std::memcmp(digest, expected, 32), 0);
  for (int i = 32; i < 36; ++i) EXPECT_EQ(digest[i], 0x99) << "written past the digest";
  EXPECT_EQ(L().CrypC_R34_11_1994_update(work.data(), digest, 1), 14);
  EXPECT_EQ(L().CrypC_R34_11_1994_final(work.data(), digest), 14);
  ASSERT_EQ(L().CrypC_R34_11_1994_clear(work.data()), 0);

  const auto data = RandomBytes(100000);
  ASSERT_EQ(L().CrypC_R34_11_1994_init(work.data()), 0);
  size_t at = 0;
  for (size_t piece : kPieces) {
    ASSERT_EQ(L().CrypC_R34_11_1994_update(work.data(), data.data() + at, uint32_t(piece)), 0);
    at += piece;
  }
  ASSERT_EQ(L().CrypC_R34_11_1994_update(work.data(), data.data() + at, uint32_t(data.size() - at)), 0);
  ASSERT_EQ(L().CrypC_R34_11_1994_final(work.data(), digest), 0);
  gost::R3411Hash hash;
  ASSERT_TRUE(hash.Init(gost::kSboxR3411TestParams));
  hash.Update(data.data(), data.size());
  uint8_t direct[32];
  hash.Final(direct);
  EXPECT_EQ(std::memcmp(digest, direct, 32), 0);
  ASSERT_EQ(L().CrypC_R34_11_1994_clear(work.data()), 0);
}

TEST_F(SymmetricTest, HashRefusesATableItHasNoParameterSetFor) {
  uint8_t sbox[128];
  std::memcpy(sbox, gost::kSboxR3411TestParams, 128);
  std::swap(sbox[64], sbox[65]);
  auto work = WorkBlock(sbox);
  EXPECT_EQ(L().CrypC_R34_11_1994_init(work.data()), 3);
  uint8_t byte = 0;
  EXPECT_EQ(L().CrypC_R34_11_1994_update(work.data(), &byte, 1), 1);  // nothing was set up
}

// ---- the work block's context ----

struct Family {
  const char* name;
  std::function<int(void*)> init;
  std::function<int(void*)> use;
  std::function<int(void*)> clear;
};

std::vector<Family> Families(const Api& l) {
  static const auto key = Bytes(32, 31), iv = Bytes(8, 32);
  static uint8_t buffer[64], out[128];
  static uint32_t size = 0;
  return {
      {"block", [&l](void* w) { return l.CrypC_G28147_1989_block_init(w, key.data()); },
       [&l](void* w) { return l.CrypC_G28147_1989_block_encrypt(w, buffer, buffer, 8); },
       [&l](void* w) { return l.CrypC_G28147_1989_block_clear(w); }},
      {"gamma", [&l](void* w) { return l.CrypC_G28147_1989_gamma_init(w, key.data(), iv.data()); },
       [&l](void* w) { return l.CrypC_G28147_1989_gamma_crypt(w, buffer, buffer, 5); },
       [&l](void* w) { return l.CrypC_G28147_1989_gamma_clear(w); }},
      {"feedback", [&l](void* w) { return l.CrypC_G28147_1989_gamma_ofb_init(w, key.data(), iv.data()); },
       [&l](void* w) { return l.CrypC_G28147_1989_gamma_ofb_decrypt(w, buffer, buffer, 5); },
       [&l](void* w) { return l.CrypC_G28147_1989_gamma_ofb_clear(w); }},
      {"mac", [&l](void* w) { return l.CrypC_G28147_1989_mac_init(w, key.data(), nullptr); },
       [&l](void* w) { return l.CrypC_G28147_1989_mac_update(w, buffer, 9); },
       [&l](void* w) { return l.CrypC_G28147_1989_mac_clear(w); }},
      {"hash", [&l](void* w) { return l.CrypC_R34_11_1994_init(w); },
       [&l](void* w) { return l.CrypC_R34_11_1994_update(w, buffer, 9); },
       [&l](void* w) { return l.CrypC_R34_11_1994_clear(w); }},
      {"1994", [&l](void* w) { return l.CrypC_LR34_10_1994_set_parms(w, nullptr, 32, 128); },
       [&l](void* w) { size = sizeof out; return l.CrypC_LR34_10_1994_get_parms(w, nullptr, &size); },
       [&l](void* w) { return l.CrypC_LR34_10_1994_clear(w); }},
      {"2001", [&l](void* w) { return l.CrypC_LR34_10_2001_set_parms(w, nullptr, 32, 32); },
       [&l](void* w) { return l.CrypC_LR34_10_2001_clear_public_key(w); },
       [&l](void* w) { return l.CrypC_LR34_10_2001_clear(w); }},
      {"agreement", [&l](void* w) { return l.CrypC_LDH_PKA_set_parms(w, nullptr, 128); },
       [&l](void* w) { size = sizeof out; return l.CrypC_LDH_PKA_get_parms(w, nullptr, &size); },
       [&l](void* w) { return l.CrypC_LDH_PKA_clear(w); }},
  };
}

TEST_F(SymmetricTest, EachFamilyRefusesABlockItDidNotSetUp) {
  const auto families = Families(L());
  for (const Family& own : families) {
    SCOPED_TRACE(own.name);
    auto work = WorkBlock();
    EXPECT_EQ(own.use(work.data()), 1) << "never initialised";
    ASSERT_EQ(own.init(work.data()), 0);
    EXPECT_EQ(own.use(work.data()), 0);
    for (const Family& other : families) {
      if (&other == &own) continue;
      SCOPED_TRACE(other.name);
      EXPECT_EQ(other.use(work.data()), 2);
      EXPECT_EQ(other.clear(work.data()), 2);  // and leaves it alive:
      EXPECT_EQ(own.use(work.data()), 0);
    }
    ASSERT_EQ(own.clear(work.data()), 0);
    EXPECT_EQ(own.use(work.data()), 1) << "cleared";
    EXPECT_EQ(own.clear(work.data()), 0) << "clearing twice is harmless";
  }
}

TEST_F(SymmetricTest, ACopyOfABlockWhoseContextWasReleasedIsRefused) {
  for (const Family& f : Families(L())) {
    SCOPED_TRACE(f.name);
    auto work = WorkBlock();
    ASSERT_EQ(f.init(work.data()), 0);
    auto copy = work;
    ASSERT_EQ(f.clear(work.data()), 0);
    EXPECT_EQ(f.use(copy.data()), 1);
    EXPECT_EQ(f.clear(copy.data()), 0);
  }
}

TEST_F(SymmetricTest, StrayBytesInTheContextAreaAreNoContext) {
  auto work = WorkBlock();
  for (size_t i = 128; i < 144; ++i) work[i] = uint8_t(0xA5 ^ i);
  for (const Family& f : Families(L())) EXPECT_EQ(f.use(work.data()), 1) << f.name;
  // Right magic, unknown id.
  const uint8_t header[16] = {0x4C, 0x43, 0x43, 0x31, 2, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  std::memcpy(work.data() + 128, header, 16);
  for (const Family& f : Families(L())) EXPECT_EQ(f.use(work.data()), 1) << f.name;
}

TEST_F(SymmetricTest, InitOverALiveContextReplacesIt) {
  const auto families = Families(L());
  auto work = WorkBlock();
  for (size_t i = 0; i < families.size(); ++i) {
    const Family& previous = families[(i + families.size() - 1) % families.size()];
    const Family& next = families[i];
    ASSERT_EQ(previous.init(work.data()), 0) << previous.name;
    ASSERT_EQ(next.init(work.data()), 0) << next.name;
    EXPECT_EQ(next.use(work.data()), 0) << next.name;
    if (&previous != &next) {
      EXPECT_EQ(previous.use(work.data()), 2) << previous.name;
    }
    ASSERT_EQ(next.clear(work.data()), 0);
  }
}

TEST_F(SymmetricTest, OnlyTheContextHeaderOfTheBlockIsWritten) {
  auto work = WorkBlock();
  for (size_t i = 144; i < size_t(zk::cryptoc::kRandomStateOffset); ++i) work[i] = uint8_t(i * 7 + 1);
  const auto before = work;
  for (const Family& f : Families(L())) {
    SCOPED_TRACE(f.name);
    ASSERT_EQ(f.init(work.data()), 0);
    ASSERT_EQ(f.use(work.data()), 0);
    EXPECT_TRUE(std::equal(work.begin(), work.begin() + 128, before.begin()));
    EXPECT_TRUE(std::equal(work.begin() + 144, work.end(), before.begin() + 144));
    ASSERT_EQ(f.clear(work.data()), 0);
    EXPECT_TRUE(std::equal(work.begin() + 128, work.begin() + 144, std::vector<uint8_t>(16, 0).begin()));
  }
}

// The table of live contexts is shared by all blocks: threads with blocks of their own must not
// disturb each other. Contexts without cryptography keep the table busy.
TEST_F(SymmetricTest, BlocksOfDifferentThreadsWorkSideBySide) {
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < failures.size(); ++t) {
    threads.emplace_back([&, t] {
      auto work = WorkBlock();
      for (int round = 0; round < 20000; ++round) {
        const bool ok = L().CrypC_LR34_10_2001_set_parms(work.data(), nullptr, 32, 32) == 0 &&
                        L().CrypC_LR34_10_2001_clear_public_key(work.data()) == 0 &&
                        L().CrypC_LDH_PKA_clear(work.data()) == 2 &&
                        L().CrypC_LR34_10_2001_clear(work.data()) == 0 &&
                        L().CrypC_LR34_10_2001_clear_public_key(work.data()) == 1;
        if (!ok) ++failures[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(failures.size(), 0));
}

TEST_F(SymmetricTest, NullPointersAreRefusedAndEmptyDataIsNot) {
  auto work = WorkBlock();
  const auto key = Bytes(32, 41), iv = Bytes(8, 42);
  uint8_t buf[64] = {};
  void* w = work.data();
  // Nulls are checked before the context.
  EXPECT_EQ(L().CrypC_G28147_1989_block_init(nullptr, key.data()), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_block_init(w, nullptr), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_block_encrypt(w, nullptr, buf, 8), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_block_decrypt(w, buf, nullptr, 8), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_block_clear(nullptr), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_gamma_init(w, key.data(), nullptr), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_gamma_init(w, nullptr, iv.data()), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_gamma_crypt(w, buf, nullptr, 1), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_gamma_clear(nullptr), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_gamma_ofb_init(nullptr, key.data(), iv.data()), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_gamma_ofb_encrypt(w, nullptr, buf, 1), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_gamma_ofb_decrypt(w, buf, nullptr, 1), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_gamma_ofb_clear(nullptr), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_mac_init(w, nullptr, buf), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_mac_update(w, nullptr, 1), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_mac_final(nullptr, buf), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_mac_clear(nullptr), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_mac_file_const(w, key.data(), "x", nullptr), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_mac_file_const(w, nullptr, "x", buf), 15);
  EXPECT_EQ(L().CrypC_G28147_1989_mac_file_const(nullptr, key.data(), "x", buf), 15);
  EXPECT_EQ(L().CrypC_R34_11_1994_init(nullptr), 15);
  EXPECT_EQ(L().CrypC_R34_11_1994_update(w, nullptr, 1), 15);
  EXPECT_EQ(L().CrypC_R34_11_1994_final(w, nullptr), 15);
  EXPECT_EQ(L().CrypC_R34_11_1994_clear(nullptr), 15);
  EXPECT_EQ(L().CrypC_Random_Fill(nullptr, buf, 8), 15);
  EXPECT_EQ(L().CrypC_Random_Fill(buf, nullptr, 8), 15);

  // Nothing to read or write: null is fine.
  ASSERT_EQ(L().CrypC_G28147_1989_gamma_init(w, key.data(), iv.data()), 0);
  EXPECT_EQ(L().CrypC_G28147_1989_gamma_crypt(w, nullptr, nullptr, 0), 0);
  ASSERT_EQ(L().CrypC_R34_11_1994_init(w), 0);
  EXPECT_EQ(L().CrypC_R34_11_1994_update(w, nullptr, 0), 0);
  EXPECT_EQ(L().CrypC_R34_11_1994_clear(w), 0);
}

}  // namespace
}  // namespace libcrypt_test
