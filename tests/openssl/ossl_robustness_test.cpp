// No input makes the engine read outside what it was given: every prefix of a valid envelope and
// signature, single-byte changes and random bytes end in an error code (run under ASan/UBSan).
#include "openssl/ossl_fixture.h"

namespace ossltest {
namespace {

// Codes a damaged envelope may give, depending on where the damage is.
bool IsEnvelopeError(int32_t code) {
  for (int32_t expected : {-11, -12, -35, -36, -37, -38, -39}) {
    if (code == expected) return true;
  }
  return false;
}

bool IsSignatureError(int32_t code) {
  for (int32_t expected : {-24, -30, -31, -32, -59, -60}) {
    if (code == expected) return true;
  }
  return code > 0;  // the library's own code for a part that does not decrypt
}

class OsslRobustness : public OsslTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(OsslRobustness, EveryPrefixAndEveryByteFlipOfAnEnvelopeFails) {
  auto alice = EngineFor(*box_, "alice");
  Configure(*alice, kEncryptMethod, GetParam());
  const Bytes data = RandomBytes(40, 3);
  const CodecResult encoded = Encode(*alice, data, (User("bob").uid + ";" + User("alice").uid).c_str());
  ASSERT_EQ(encoded.code, 0);
  for (size_t length = 0; length < encoded.data.size(); ++length) {
    const int32_t code = Decode(*alice, Bytes(encoded.data.begin(), encoded.data.begin() + static_cast<long>(length))).code;
    EXPECT_TRUE(IsEnvelopeError(code)) << "prefix " << length << ": " << code;
  }
  // Bob's UID and key block are not alice's business: changes there leave her entry intact.
  const size_t bob_uid_end = 8 + User("bob").uid.size();
  const size_t bob_block_begin = bob_uid_end + 5, bob_block_end = bob_block_begin + 256;
  for (size_t at = 0; at < encoded.data.size(); ++at) {
    Bytes changed = encoded.data;
    changed[at] ^= 0x80;
    const CodecResult decoded = Decode(*alice, changed);
    if ((at >= 8 && at < bob_uid_end) || (at >= bob_block_begin && at < bob_block_end)) {
      EXPECT_EQ(decoded.data, data) << "byte " << at;
    } else {
      EXPECT_TRUE(IsEnvelopeError(decoded.code)) << "byte " << at << ": " << decoded.code;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(, OsslRobustness, ::testing::Values("RC4", "RC2_ECB", "RC2_CBC", "RC5_ECB", "RC5_CBC"));

TEST_F(OsslTest, EveryPrefixOfASignatureFails) {
  auto alice = EngineFor(*box_, "alice");
  const Bytes data = RandomBytes(100, 4);
  const SignResult signed_ = Sign(*alice, data);
  ASSERT_EQ(signed_.code, 0);
  for (size_t length = 0; length < signed_.signature.size(); ++length) {
    const int32_t code =
        Verify(*alice, data, Bytes(signed_.signature.begin(), signed_.signature.begin() + static_cast<long>(length))).code;
    EXPECT_TRUE(IsSignatureError(code)) << "prefix " << length << ": " << code;
  }
  Bytes longer = signed_.signature;
  longer.push_back(0);
  EXPECT_EQ(Verify(*alice, data, longer).code, -60);
}

TEST_F(OsslTest, RandomBytesAreNeitherEnvelopesNorSignatures) {
  auto alice = EngineFor(*box_, "alice");
  const Bytes data = RandomBytes(10, 5);
  for (uint32_t seed = 0; seed < 300; ++seed) {
    Bytes noise = RandomBytes(seed % 200, seed);
    EXPECT_TRUE(IsEnvelopeError(Decode(*alice, noise).code)) << seed;
    EXPECT_TRUE(IsSignatureError(Verify(*alice, data, noise).code)) << seed;
  }
  // Noise shaped like an envelope header around a real UID.
  for (uint32_t seed = 0; seed < 100; ++seed) {
    Bytes shaped = {1, 0, 0, 0, static_cast<uint8_t>(1 + seed % 5), 0, 0, 0};
    shaped.insert(shaped.end(), User("alice").uid.begin(), User("alice").uid.end());
    shaped.push_back(0);
    const Bytes tail = RandomBytes(4 + seed, seed);
    shaped.insert(shaped.end(), tail.begin(), tail.end());
    EXPECT_TRUE(IsEnvelopeError(Decode(*alice, shaped).code)) << seed;
  }
}

}  // namespace
}  // namespace ossltest
