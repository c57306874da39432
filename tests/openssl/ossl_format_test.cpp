// Signatures and envelopes read field by field by code that shares nothing with the engine but
// the pinned SHA-0 and RC5: OpenSSL decrypts the key blocks, checks the RSA signatures and runs
// RC4 and RC2.
#include <openssl/md5.h>
#include <openssl/objects.h>

#include "openssl/ossl_fixture.h"

namespace ossltest {
namespace {

struct SignCase {
  const char* user;
  const char* hash;
  uint8_t hash_id;
  int key_bytes;
};

class OsslSignatureFormat : public OsslTest, public ::testing::WithParamInterface<SignCase> {};

TEST_P(OsslSignatureFormat, FieldsAndRsaPartCheckedWithOpenSSL) {
  const SignCase c = GetParam();
  auto signer = EngineFor(*box_, c.user);
  Configure(*signer, kHashMethod, c.hash);
  const Bytes data = RandomBytes(1000, 7);
  const SignResult signed_ = Sign(*signer, data);
  ASSERT_EQ(signed_.code, 0) << ErrorString(*signer, signed_.code);

  const SignatureFields fields = SplitSignature(signed_.signature);
  EXPECT_EQ(fields.uid, User(c.user).uid);
  EXPECT_EQ(fields.hash_id, c.hash_id);
  EXPECT_EQ(fields.rsa.size(), static_cast<size_t>(c.key_bytes));
  EXPECT_EQ(signed_.signature.size(), fields.uid.size() + 2 + fields.rsa.size());
  EXPECT_EQ(CheckSignatureIndependently(User(c.user).cert.get(), c.hash_id, data, fields.rsa), "");
  Bytes other = data;
  other[500] ^= 1;
  EXPECT_NE(CheckSignatureIndependently(User(c.user).cert.get(), c.hash_id, other, fields.rsa), "");

  // Another user's engine verifies it and names the signer.
  auto verifier = EngineFor(*box_, "carol");
  const VerifyResult verified = Verify(*verifier, data, signed_.signature);
  EXPECT_EQ(verified.code, 0) << ErrorString(*verifier, verified.code);
  EXPECT_EQ(verified.signer, User(c.user).uid);
}

INSTANTIATE_TEST_SUITE_P(, OsslSignatureFormat,
                         ::testing::Values(SignCase{"alice", "SHA", 1, 128}, SignCase{"alice", "md5", 2, 128},
                                           SignCase{"bob", "sha", 1, 256}, SignCase{"bob", "MD5", 2, 256}));

// Signatures whose RSA block is built by hand: the block RSA_sign(0, ...) signs and the standard
// identifiers of the same digest verify; a block of another digest, or of a digest whose length
// does not match the hash byte, does not.
TEST_F(OsslTest, VerifyAcceptsTheSignedBlockAndStandardIdentifiersOfTheSameDigestOnly) {
  const Bytes data = RandomBytes(500, 11);
  Bytes sha_cut = SignedBlock(2, data);  // the SHA-0 digest cut to MD5's length under the MD5 header
  const Bytes sha = SignedBlock(1, data);
  std::copy(sha.end() - 20, sha.end() - 4, sha_cut.end() - 16);
  Bytes sha1_oid = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
  sha1_oid.insert(sha1_oid.end(), sha.end() - 20, sha.end());
  struct Case {
    uint8_t hash_id;
    Bytes block;
    int32_t code;
  };
  const Case cases[] = {
      {1, SignedBlock(1, data), 0},        {1, SignedBlock(1, data, true), 0}, {2, SignedBlock(2, data), 0},
      {2, SignedBlock(2, data, true), 0},  {1, SignedBlock(2, data), -59},     {2, SignedBlock(1, data), -59},
      {1, sha_cut, -59},                   {2, sha_cut, -59},                  {1, sha1_oid, -59},
  };
  RSA* rsa = EVP_PKEY_get1_RSA(User("alice").key.get());
  auto verifier = EngineFor(*box_, "bob");
  for (const Case& c : cases) {
    Bytes signature(User("alice").uid.begin(), User("alice").uid.end());
    signature.push_back(0);
    signature.push_back(c.hash_id);
    Bytes rsa_part(static_cast<size_t>(RSA_size(rsa)));
    ASSERT_EQ(RSA_private_encrypt(static_cast<int>(c.block.size()), c.block.data(), rsa_part.data(), rsa, RSA_PKCS1_PADDING),
              RSA_size(rsa));
    signature.insert(signature.end(), rsa_part.begin(), rsa_part.end());
    EXPECT_EQ(Verify(*verifier, data, signature).code, c.code) << &c - cases;
  }
  RSA_free(rsa);
}

// UIDs are the serial's DER content bytes: a top-bit serial keeps its leading 00, a negative one is
// in two's complement. A 16-byte top-bit serial gives 34 hex digits, more than GetMaxUIDLength (32)
// holds: such a user still signs, encrypts and decrypts, but no UID of that length is written into
// a caller's UID buffer.
class OsslSerialUids : public OsslTest {
 protected:
  kit::SandboxOptions Options() const override {
    kit::SandboxOptions options = OsslTest::Options();
    Bytes sixteen = {0x00, 0x80};
    for (uint8_t i = 1; i < 16; ++i) sixteen.push_back(i);
    options.users.push_back({"top", 1024, {0x80, 0xA2}});
    options.users.back().serial.insert(options.users.back().serial.begin(), 0x00);
    options.users.push_back({"negative", 1024, {0x80, 0x01}});
    options.users.push_back({"sixteen", 1024, sixteen});
    return options;
  }
};

TEST_F(OsslSerialUids, UidIsTheSerialsContentBytes) {
  const struct {
    const char* user;
    std::string uid;
  } cases[] = {{"top", "0080A2"}, {"negative", "8001"}, {"sixteen", "0080" + std::string("0102030405060708090A0B0C0D0E0F")}};
  auto peer = EngineFor(*box_, "alice");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.user);
    EXPECT_EQ(User(c.user).uid, c.uid);
    auto engine = EngineFor(*box_, c.user);
    const SignResult signed_ = Sign(*engine, Bytes{1, 2, 3});
    ASSERT_EQ(signed_.code, 0) << "the UID is written into the signature only";
    EXPECT_EQ(SplitSignature(signed_.signature).uid, c.uid);
    const CodecResult sealed = Encode(*peer, Bytes{4, 5}, c.uid.c_str());
    ASSERT_EQ(sealed.code, 0);
    EXPECT_EQ(Decode(*engine, sealed.data).data, (Bytes{4, 5}));
    char uid[64] = {};
    const VerifyResult verified = Verify(*peer, Bytes{1, 2, 3}, signed_.signature);
    if (c.uid.size() < 32) {
      EXPECT_EQ(verified.code, 0);
      EXPECT_EQ(verified.signer, c.uid);
      EXPECT_EQ(engine->GetCurrentUID(uid), 0);
      EXPECT_EQ(uid, c.uid);
    } else {
      EXPECT_EQ(verified.code, -24) << "good, but the signer's UID does not fit the caller's buffer";
      EXPECT_EQ(engine->GetCurrentUID(uid), -24);
      EXPECT_EQ(uid[0], '\0');
      Bytes forged = signed_.signature;
      forged.back() ^= 1;
      EXPECT_NE(Verify(*peer, Bytes{1, 2, 3}, forged).code, -24) << "a bad signature is reported as such";
    }
  }
}

TEST_F(OsslTest, SignatureOfSerial2AStartsWithItsUid) {
  auto signer = EngineFor(*box_, "carol");
  const SignResult signed_ = Sign(*signer, Bytes{'a', 'b', 'c'});
  ASSERT_EQ(signed_.code, 0);
  ASSERT_GE(signed_.signature.size(), 4u);
  EXPECT_EQ(Bytes(signed_.signature.begin(), signed_.signature.begin() + 4), (Bytes{'2', 'A', 0, 1}));
  EXPECT_EQ(signed_.signature.size(), 4u + 128u);
}

TEST_F(OsslTest, EmptyDataSignsAndVerifies) {
  auto engine = EngineFor(*box_, "alice");
  const SignResult signed_ = Sign(*engine, Bytes{});
  ASSERT_EQ(signed_.code, 0);
  EXPECT_EQ(Verify(*engine, Bytes{}, signed_.signature).code, 0);
  EXPECT_EQ(CheckSignatureIndependently(User("alice").cert.get(), 1, Bytes{}, SplitSignature(signed_.signature).rsa),
            "");
}

class OsslEnvelopeFormat : public OsslTest, public ::testing::WithParamInterface<const char*> {
 protected:
  uint32_t Algorithm() const {
    const std::string name = GetParam();
    const char* names[] = {"RC4", "RC2_ECB", "RC2_CBC", "RC5_ECB", "RC5_CBC"};
    std::string upper = name;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (uint32_t i = 0; i < 5; ++i) {
      if (upper == names[i]) return i + 1;
    }
    return 0;
  }
};

TEST_P(OsslEnvelopeFormat, TwoRecipientsReadIndependently) {
  auto sender = EngineFor(*box_, "carol");
  Configure(*sender, kEncryptMethod, GetParam());
  const Bytes data = RandomBytes(1001, 11);
  const std::string recipients = User("bob").uid + ";" + User("alice").uid;
  const CodecResult encoded = Encode(*sender, data, recipients.c_str());
  ASSERT_EQ(encoded.code, 0) << ErrorString(*sender, encoded.code);

  const EnvelopeFields fields = SplitEnvelope(encoded.data);
  EXPECT_EQ(fields.count, 2u);
  EXPECT_EQ(fields.algorithm, Algorithm());
  ASSERT_EQ(fields.entries.size(), 2u);
  EXPECT_EQ(fields.entries[0].uid, User("bob").uid);
  EXPECT_EQ(fields.entries[1].uid, User("alice").uid);
  EXPECT_EQ(fields.entries[0].key_block.size(), 256u);
  EXPECT_EQ(fields.entries[1].key_block.size(), 128u);

  const Bytes block_bob = RsaDecryptKeyBlock(User("bob").key.get(), fields.entries[0].key_block);
  const Bytes block_alice = RsaDecryptKeyBlock(User("alice").key.get(), fields.entries[1].key_block);
  ASSERT_EQ(block_bob.size(), 32u);
  EXPECT_EQ(block_alice, block_bob) << "one session key for all recipients";
  unsigned char digest[MD5_DIGEST_LENGTH];
  MD5(data.data(), data.size(), digest);
  EXPECT_EQ(Bytes(block_bob.begin() + 16, block_bob.end()), Bytes(digest, digest + 16));
  EXPECT_EQ(DecryptIndependently(fields.algorithm, block_bob.data(), fields.ciphertext), data);

  for (const char* who : {"alice", "bob"}) {
    auto recipient = EngineFor(*box_, who);
    const CodecResult decoded = Decode(*recipient, encoded.data);
    EXPECT_EQ(decoded.code, 0) << who << ": " << ErrorString(*recipient, decoded.code);
    EXPECT_EQ(decoded.data, data) << who;
  }
}

TEST_P(OsslEnvelopeFormat, DefaultRecipientAndLowerCaseUid) {
  auto sender = EngineFor(*box_, "alice");
  Configure(*sender, kEncryptMethod, GetParam());
  Configure(*sender, kEncryptForUID, "  2a ");  // carol's UID, trimmed and in lower case
  const Bytes data = RandomBytes(64, 5);
  const CodecResult encoded = Encode(*sender, data, "");
  ASSERT_EQ(encoded.code, 0) << ErrorString(*sender, encoded.code);
  EXPECT_EQ(SplitEnvelope(encoded.data).entries.at(0).uid, "2a");
  auto carol = EngineFor(*box_, "carol");
  EXPECT_EQ(Decode(*carol, encoded.data).data, data);
}

INSTANTIATE_TEST_SUITE_P(, OsslEnvelopeFormat, ::testing::Values("RC4", "RC2_ECB", "rc2_cbc", "RC5_ECB", "RC5_CBC"));

TEST_F(OsslTest, BlockModesPadOneToEightBytesAfterTheLengthPrefix) {
  auto sender = EngineFor(*box_, "alice");
  auto alice = EngineFor(*box_, "alice");
  for (const char* cipher : {"RC2_CBC", "RC5_ECB"}) {
    Configure(*sender, kEncryptMethod, cipher);
    // 0 bytes: prefix + 4 pad bytes; 4 bytes: prefix + data is a whole block, so 8 more bytes.
    for (const auto& [length, expected] : std::vector<std::pair<size_t, size_t>>{{0, 8}, {3, 8}, {4, 16}, {12, 24}}) {
      const Bytes data = RandomBytes(length, 9);
      const CodecResult encoded = Encode(*sender, data, User("alice").uid.c_str());
      ASSERT_EQ(encoded.code, 0);
      EXPECT_EQ(SplitEnvelope(encoded.data).ciphertext.size(), expected) << cipher << " " << length;
      const CodecResult decoded = Decode(*alice, encoded.data);
      EXPECT_EQ(decoded.code, 0);
      EXPECT_EQ(decoded.data, data);
    }
  }
}

TEST_F(OsslTest, Rc4KeepsTheLengthAndCarriesEmptyData) {
  auto alice = EngineFor(*box_, "alice");
  const CodecResult empty = Encode(*alice, Bytes{}, User("alice").uid.c_str());
  ASSERT_EQ(empty.code, 0);
  EXPECT_TRUE(SplitEnvelope(empty.data).ciphertext.empty());
  const CodecResult decoded = Decode(*alice, empty.data);
  EXPECT_EQ(decoded.code, 0) << ErrorString(*alice, decoded.code);
  EXPECT_TRUE(decoded.data.empty());

  const Bytes data = RandomBytes(77, 1);
  const CodecResult first = Encode(*alice, data, User("alice").uid.c_str());
  const CodecResult second = Encode(*alice, data, User("alice").uid.c_str());
  EXPECT_EQ(SplitEnvelope(first.data).ciphertext.size(), 77u);
  EXPECT_NE(SplitEnvelope(first.data).ciphertext, SplitEnvelope(second.data).ciphertext) << "fresh session keys";
}

}  // namespace
}  // namespace ossltest
