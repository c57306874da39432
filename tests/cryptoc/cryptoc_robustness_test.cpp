// Bad input shaped by this engine's formats: the exact codes of each prefix of a signature over
// more than 65535 bytes, and package heads with absurd counts. Every prefix and bit flip of
// envelopes, random bytes and huge claimed lengths are the conformance suite's
// (tests/conformance/bad_input_test.cpp), with this engine's codes in its provisioner.
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

TEST_F(CryptoCRobustness, AbsurdCountsInAPlausibleHead) {
  const Bytes data = RandomBytes(100, 4);
  const CodecResult sealed = Encode(*alice, data, "Bob");
  ASSERT_EQ(sealed.code, 0);
  for (uint32_t count : {0xFFFFFFFFu, 0x80000000u, 1000u}) {
    Bytes p = sealed.data;
    PutWordAt(p, 0, count);
    // Bob's entry comes first, so only the walk over the rest can fail.
    EXPECT_EQ(Decode(*bob, p).code, -4) << count;
    EXPECT_EQ(Decode(*alice, p).code, -4) << count;
  }
}

}  // namespace
}  // namespace cctest
