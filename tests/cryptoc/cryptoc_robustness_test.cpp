// Whatever bytes arrive as a package or a signature, the engine answers with a code: every prefix
// of a valid one, damaged fields and random bytes (run under AddressSanitizer as well).
#include "cryptoc/cryptoc_fixture.h"

namespace cctest {
namespace {

class CryptoCRobustness : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* uid : {"Alice", "Bob"}) box.AddUser(uid);
    alice = box.Engine("Alice");
    bob = box.Engine("Bob");
  }
  Sandbox box;
  std::unique_ptr<zk::TCryptoCEngine> alice, bob;
};

TEST_F(CryptoCRobustness, EveryPrefixOfAnEnvelopeIsRefused) {
  const Bytes plain = RandomBytes(40, 2);
  const CodecResult sealed = Encode(*alice, plain, "Alice;Bob");
  ASSERT_EQ(sealed.code, 0);
  for (size_t cut = 0; cut < sealed.data.size(); ++cut) {
    const Bytes prefix(sealed.data.begin(), sealed.data.begin() + static_cast<std::ptrdiff_t>(cut));
    const int32_t code = Decode(*bob, prefix).code;
    // Within the body a shorter cipher text fails its MAC; before it the structure is broken.
    EXPECT_TRUE(code == -4 || code == -15) << cut << ": " << code;
  }
  EXPECT_EQ(Decode(*bob, sealed.data).data, plain);
}

TEST_F(CryptoCRobustness, EveryPrefixOfASignatureIsRefused) {
  const Bytes data = RandomBytes(70000, 3);
  const SignResult good = Sign(*alice, data);
  ASSERT_EQ(good.code, 0);
  for (size_t cut = 0; cut < good.signature.size(); ++cut) {
    const Bytes prefix(good.signature.begin(), good.signature.begin() + static_cast<std::ptrdiff_t>(cut));
    const int32_t code = Verify(*bob, data, prefix).code;
    // A short signature is checked as given: refused as bad or as having a zero or bad component.
    EXPECT_TRUE(cut <= 6 ? code == -14 : code >= 5 && code <= 9) << cut << ": " << code;
  }
}

TEST_F(CryptoCRobustness, RandomAndMutatedInputGiveCodes) {
  const Bytes data = RandomBytes(100, 4);
  for (uint32_t seed = 0; seed < 300; ++seed) {
    const Bytes noise = RandomBytes(seed % 97 * 7, seed);
    EXPECT_NE(Decode(*bob, noise).code, 0) << seed;
    EXPECT_NE(Verify(*bob, data, noise).code, 0) << seed;
  }
  // Plausible heads with absurd counts and methods.
  const CodecResult sealed = Encode(*alice, data, "Bob");
  ASSERT_EQ(sealed.code, 0);
  for (uint32_t count : {0xFFFFFFFFu, 0x80000000u, 1000u}) {
    Bytes p = sealed.data;
    PutWordAt(p, 0, count);
    // Bob's entry comes first, so only the walk over the rest can fail.
    EXPECT_EQ(Decode(*bob, p).code, -4) << count;
    EXPECT_EQ(Decode(*alice, p).code, -4) << count;
  }
  for (size_t at = 0; at < sealed.data.size(); at += 3) {
    Bytes p = sealed.data;
    p[at] = static_cast<uint8_t>(p[at] + 0x55);
    EXPECT_NE(Decode(*bob, p).code, 0) << at;
  }
}

}  // namespace
}  // namespace cctest
