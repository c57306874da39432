// Bad input shaped by this engine's envelope format. Every prefix and bit flip of signatures and
// envelopes with each cipher, random bytes and huge claimed lengths are the conformance suite's
// (tests/conformance/bad_input_test.cpp), with this engine's codes in its provisioner.
#include "openssl/ossl_fixture.h"

namespace ossltest {
namespace {

TEST_F(OsslTest, NoiseShapedLikeAnEnvelopeAroundARealUidIsRefused) {
  auto alice = EngineFor(*box_, "alice");
  for (uint32_t seed = 0; seed < 100; ++seed) {
    Bytes shaped = {1, 0, 0, 0, static_cast<uint8_t>(1 + seed % 5), 0, 0, 0};
    shaped.insert(shaped.end(), User("alice").uid.begin(), User("alice").uid.end());
    shaped.push_back(0);
    const Bytes tail = RandomBytes(4 + seed, seed);
    shaped.insert(shaped.end(), tail.begin(), tail.end());
    const int32_t code = Decode(*alice, shaped).code;
    EXPECT_TRUE(code == -11 || code == -12 || (code >= -39 && code <= -35)) << seed << ": " << code;
  }
}

TEST_F(OsslTest, ASignatureWithAByteMoreIsMalformed) {
  auto alice = EngineFor(*box_, "alice");
  const Bytes data = RandomBytes(100, 4);
  Bytes longer = Sign(*alice, data).signature;
  longer.push_back(0);
  EXPECT_EQ(Verify(*alice, data, longer).code, -60);
}

}  // namespace
}  // namespace ossltest
