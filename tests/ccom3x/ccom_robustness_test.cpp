// Damaged input shaped by this engine's formats: the exact code of each prefix of an envelope,
// header counts and names that do not fit, damaged public-key files. Every prefix and bit flip of
// signatures and envelopes, random bytes, trailing bytes and huge claimed lengths are the
// conformance suite's (tests/conformance/bad_input_test.cpp).
#include "ccom3x/ccom_fixture.h"
#include "engines/ccom3x/ccom_codes.h"

namespace ccomtest {
namespace {

using namespace zk::ccom3x;

class CcomRobustness : public ::testing::Test {
 protected:
  void SetUp() override {
    box_.AddUser("alice", "Alice UID");
    box_.AddUser("bob", "Bob UID");
    box_.GiveKey("alice", "bob");
    box_.GiveKey("bob", "alice");
    alice_ = EngineFor(box_, "alice");
    bob_ = EngineFor(box_, "bob");
  }
  Sandbox box_;
  std::unique_ptr<zk::TCryptoCom3xEngine> alice_, bob_;
};

TEST_F(CcomRobustness, EveryPrefixOfAnEnvelopeIsRefused) {
  const Bytes data = RandomBytes(40, 8);
  CodecResult e = Encode(*alice_, data, "Someone;Bob UID");
  ASSERT_NE(e.code, 0) << "Someone is unknown";
  e = Encode(*alice_, data, "Bob UID;Bob UID");
  ASSERT_EQ(e.code, 0);
  ASSERT_EQ(Decode(*bob_, e.data).data, data);
  const size_t bodyAt = e.data.size() - data.size();
  for (size_t n = 0; n < e.data.size(); ++n) {
    const int32_t code = Decode(*bob_, Bytes(e.data.begin(), e.data.begin() + static_cast<std::ptrdiff_t>(n))).code;
    // Cut before the cipher text the structure does not fit; cut inside it the body MAC fails.
    EXPECT_EQ(code, n < bodyAt ? kErrBadEnvelope : kErrDataIntegrity) << "prefix of " << n << " bytes";
  }
}

TEST_F(CcomRobustness, HeaderCountsAndNamesThatDoNotFit) {
  CodecResult e = Encode(*alice_, RandomBytes(64, 9), "Bob UID");
  ASSERT_EQ(e.code, 0);
  for (uint32_t count : {0u, 2u, 1000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    Bytes altered = e.data;
    for (int i = 0; i < 4; ++i) altered[static_cast<size_t>(i)] = static_cast<uint8_t>(count >> (8 * i));
    EXPECT_NE(Decode(*bob_, altered).code, 0) << count;
  }
  // No zero after the sender's UID or the entry's UID anywhere in the data.
  Bytes noZero(e.data.begin(), e.data.begin() + 8);
  noZero.insert(noZero.end(), 200, 'A');
  EXPECT_EQ(Decode(*bob_, noZero).code, kErrBadEnvelope);
  // A valid signature with arbitrary trailing bytes is not a signature.
  SignResult s = Sign(*alice_, Text("x"));
  Bytes longer = s.signature;
  longer.insert(longer.end(), 10, 0);
  EXPECT_EQ(Verify(*bob_, Text("x"), longer).code, kErrBadSignatureFormat);
}

TEST_F(CcomRobustness, DamagedPublicKeyFilesAreSkipped) {
  const Bytes good = ReadFileBytes(box_.PublicKeyFile("bob"));
  // Every prefix and some altered length words of bob's file, as files of a third user's
  // directory: none is taken, bob's own good copy is.
  box_.AddUser("carol", "Carol UID");
  for (size_t n = 0; n < good.size(); n += 7)
    WriteFileBytes(box_.AbonentsDir("carol") + "/p" + std::to_string(n) + ".pub", Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)));
  const size_t t = Le32(good.data() + 4);
  for (size_t field : {size_t{0}, size_t{4}, 8 + t + 4, 8 + t + 8 + 65}) {  // total, T, K, G
    Bytes altered = good;
    altered[field] ^= 0x40;
    WriteFileBytes(box_.AbonentsDir("carol") + "/f" + std::to_string(field) + ".pub", altered);
  }
  auto carol = EngineFor(box_, "carol");
  EXPECT_EQ(Encode(*carol, Text("x"), "Bob UID").code, kErrBadPublicKeyFile);
  box_.GiveKey("carol", "bob");
  carol->ClearCash();
  EXPECT_EQ(Encode(*carol, Text("x"), "Bob UID").code, 0);
}

}  // namespace
}  // namespace ccomtest
