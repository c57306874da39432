// The engine's signatures and envelopes, read and rebuilt independently from the stand-in's raw
// primitives: what the engine writes is what the format says, and what the format says is what
// the engine reads.
#include <cstring>

#include "ccom3x/ccom_fixture.h"

namespace ccomtest {
namespace {

class CcomFormat : public ::testing::Test {
 protected:
  void SetUp() override {
    box_.AddUser("alice", "Alice UID");
    box_.AddUser("bob", "Bob UID");
    box_.AddUser("carol", "Carol UID");
    box_.GiveKey("alice", "bob");
    box_.GiveKey("alice", "carol");
    box_.GiveKey("bob", "alice");
    box_.GiveKey("carol", "alice");
  }
  Sandbox box_;
};

TEST_F(CcomFormat, SignatureIsUidZeroAndGostSignatureOfUidZeroData) {
  auto alice = EngineFor(box_, "alice");
  const Bytes data = RandomBytes(1000, 1);
  SignResult s = Sign(*alice, data);
  ASSERT_EQ(s.code, 0);
  const std::string uid = "Alice UID";
  ASSERT_EQ(s.signature.size(), uid.size() + 65);
  EXPECT_EQ(std::string(s.signature.begin(), s.signature.begin() + uid.size()), uid);
  EXPECT_EQ(s.signature[uid.size()], 0);
  // The 64 bytes check with the raw toolkit over UID, zero, data, under the key of alice's file.
  Bytes message = Text(uid);
  message.push_back(0);
  message.insert(message.end(), data.begin(), data.end());
  const Bytes value(s.signature.begin() + uid.size() + 1, s.signature.end());
  const Bytes key = ReadPublicKey(box_.PublicKeyFile("alice")).key;
  EXPECT_TRUE(RawVerify(key, message, value));
  EXPECT_FALSE(RawVerify(key, data, value)) << "the UID is part of the signed message";

  auto bob = EngineFor(box_, "bob");
  VerifyResult v = Verify(*bob, data, s.signature);
  EXPECT_EQ(v.code, 0);
  EXPECT_EQ(v.signer, uid);
  Bytes changed = data;
  changed[500] ^= 1;
  v = Verify(*bob, changed, s.signature);
  EXPECT_EQ(v.code, zk::ccom3x::kErrBadSignature);
  EXPECT_EQ(v.signer, uid) << "the signer is named even when the signature fails";
}

TEST_F(CcomFormat, EnvelopeFieldsAndHandDecryption) {
  auto alice = EngineFor(box_, "alice");
  const Bytes data = RandomBytes(777, 2);
  CodecResult e = Encode(*alice, data, "Bob UID;Carol UID");
  ASSERT_EQ(e.code, 0);
  EnvelopeFields f = SplitEnvelope(e.data);
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(f.count, 2u);
  EXPECT_EQ(f.method, 1u) << "GAMMA is the default";
  EXPECT_EQ(f.sender, "Alice UID");
  ASSERT_EQ(f.entries.size(), 2u);
  EXPECT_EQ(f.entries[0].uid, "Bob UID");
  EXPECT_EQ(f.entries[1].uid, "Carol UID");
  EXPECT_EQ(f.value.size(), 65u);
  EXPECT_EQ(f.value[0], 0x04);
  EXPECT_EQ(f.cipher.size(), data.size());
  EXPECT_EQ(e.data.size(), 8 + 10 + (7 + 37) + (9 + 37) + 77 + data.size());
  EXPECT_NE(f.cipher, data);

  // Each recipient, by hand: agreed value with the sender's value, key derivation, unwrap, MACs.
  for (const auto& [user, index] : {std::pair<std::string, int>{"bob", 0}, {"carol", 1}}) {
    const Bytes pairwise = RawDerive(AgreeWithUser(box_, user, f.value));
    const Bytes session = RawCrypt(1, false, pairwise, f.vector, f.entries[index].wrapped);
    EXPECT_EQ(RawMac(pairwise, session), f.entries[index].mac) << user;
    const Bytes plain = RawCrypt(1, false, session, f.vector, f.cipher);
    EXPECT_EQ(plain, data) << user;
    EXPECT_EQ(RawMac(session, plain), f.mac) << user;
  }
  auto bob = EngineFor(box_, "bob");
  CodecResult d = Decode(*bob, e.data);
  EXPECT_EQ(d.code, 0);
  EXPECT_EQ(d.data, data);
}

TEST_F(CcomFormat, HandBuiltEnvelopeIsDecryptedByTheEngine) {
  const StandIn& s = StandIn::Get();
  const Bytes data = RandomBytes(4097, 3);
  for (int method : {1, 2}) {
    CCOM_ECGOST_DH* dh = s.ECGOST_DH_new();
    Bytes value(65), agreed(64);
    ASSERT_EQ(s.ECGOST_DH_generate_key(dh, nullptr, value.data()), 1);
    ASSERT_EQ(s.ECGOST_DH_compute_key(dh, ReadPublicKey(box_.PublicKeyFile("bob")).key.data(), agreed.data()), 1);
    s.ECGOST_DH_free(dh);
    const Bytes pairwise = RawDerive(agreed);
    const Bytes session = RandomBytes(32, 10 + method), vector = RandomBytes(8, 20 + method);
    Bytes envelope;
    PutLe32(envelope, 2);
    PutLe32(envelope, static_cast<uint32_t>(method));
    for (const std::string& text : {std::string("Somebody"), std::string("Nobody")}) {
      envelope.insert(envelope.end(), text.begin(), text.end());
      envelope.push_back(0);
      if (text == "Somebody") continue;
      envelope.insert(envelope.end(), 36, 0x55);  // an entry for someone else, never opened
    }
    for (const std::string& text : {std::string("Bob UID")}) {
      envelope.insert(envelope.end(), text.begin(), text.end());
      envelope.push_back(0);
    }
    const Bytes mac = RawMac(pairwise, session), wrapped = RawCrypt(method, true, pairwise, vector, session);
    envelope.insert(envelope.end(), mac.begin(), mac.end());
    envelope.insert(envelope.end(), wrapped.begin(), wrapped.end());
    envelope.insert(envelope.end(), vector.begin(), vector.end());
    const Bytes bodyMac = RawMac(session, data), cipher = RawCrypt(method, true, session, vector, data);
    envelope.insert(envelope.end(), bodyMac.begin(), bodyMac.end());
    envelope.insert(envelope.end(), value.begin(), value.end());
    envelope.insert(envelope.end(), cipher.begin(), cipher.end());

    auto bob = EngineFor(box_, "bob");
    CodecResult d = Decode(*bob, envelope);
    EXPECT_EQ(d.code, 0) << "method " << method;
    EXPECT_EQ(d.data, data) << "method " << method;
  }
}

TEST_F(CcomFormat, MethodParameterSelectsGammaOrFeedback) {
  auto alice = EngineFor(box_, "alice");
  auto bob = EngineFor(box_, "bob");
  const Bytes data = RandomBytes(100, 4);
  for (const auto& [name, method] : {std::pair<std::string, uint32_t>{"gfb", 2}, {"GFB", 2}, {"Gamma", 1}}) {
    Configure(*alice, kEncryptMethod, name);
    CodecResult e = Encode(*alice, data, "Bob UID");
    ASSERT_EQ(e.code, 0) << name;
    EnvelopeFields f = SplitEnvelope(e.data);
    EXPECT_EQ(f.method, method) << name;
    const Bytes pairwise = RawDerive(AgreeWithUser(box_, "bob", f.value));
    const Bytes session = RawCrypt(static_cast<int>(method), false, pairwise, f.vector, f.entries[0].wrapped);
    EXPECT_EQ(RawCrypt(static_cast<int>(method), false, session, f.vector, f.cipher), data) << name;
    EXPECT_EQ(Decode(*bob, e.data).data, data) << name;
  }
}

TEST_F(CcomFormat, OneSenderValuePerBindingAlsoAfterClearCash) {
  auto alice = EngineFor(box_, "alice");
  auto twin = EngineFor(box_, "alice");
  const Bytes data = Text("statement");
  const Bytes first = SplitEnvelope(Encode(*alice, data, "Bob UID").data).value;
  ASSERT_EQ(first.size(), 65u);
  EXPECT_EQ(SplitEnvelope(Encode(*alice, data, "Carol UID").data).value, first);
  EXPECT_EQ(SplitEnvelope(Encode(*twin, data, "Bob UID").data).value, first) << "same settings, same binding";
  alice->ClearCash();
  CodecResult after = Encode(*alice, data, "Bob UID");
  ASSERT_EQ(after.code, 0);
  EXPECT_EQ(SplitEnvelope(after.data).value, first);
  auto bob = EngineFor(box_, "bob");
  EXPECT_EQ(Decode(*bob, after.data).data, data);

  // Another key device makes another binding with a value of its own.
  Configure(*twin, kKeyDevice, "floppy");
  CodecResult other = Encode(*twin, data, "Bob UID");
  ASSERT_EQ(other.code, 0);
  EXPECT_NE(SplitEnvelope(other.data).value, first);
  EXPECT_EQ(Decode(*bob, other.data).data, data);
}

TEST_F(CcomFormat, EmptyPlaintextAndDefaultRecipient) {
  auto alice = EngineFor(box_, "alice");
  Configure(*alice, kEncryptForUID, "Carol UID");
  CodecResult e = Encode(*alice, {}, nullptr);
  ASSERT_EQ(e.code, 0);
  EnvelopeFields f = SplitEnvelope(e.data);
  ASSERT_EQ(f.entries.size(), 1u);
  EXPECT_EQ(f.entries[0].uid, "Carol UID");
  EXPECT_TRUE(f.cipher.empty());
  auto carol = EngineFor(box_, "carol");
  CodecResult d = Decode(*carol, e.data);
  EXPECT_EQ(d.code, 0);
  EXPECT_TRUE(d.data.empty());
}

TEST(CcomEngine, TypeLimitsAndParameters) {
  zk::TCryptoCom3xEngine engine;
  char type[100] = {};
  engine.GetCryptoEngineType(type);
  EXPECT_STREQ(type, "CryptoCom 32x");
  EXPECT_EQ(engine.GetMaxUIDLength(), 255);
  EXPECT_EQ(engine.GetMaxSignatureLength(), 319);
  EXPECT_EQ(engine.GetMaxEncodeAddition(), 29451);
  const char* const expected[][2] = {
      {"User PKey/Certificate", "A:\\self.pub"}, {"User Secret key", "A:\\"}, {"Key Device", "DISK"},
      {"Abonents dir", "A:\\ABONENTS"}, {"Encrypt Method", "GAMMA"}, {"Encrypt for UID", "NewUser"},
      {"Key request time out", "60"}, {"Last operation key time out", "5"}, {"Key gen - UID", "NewUserUID"},
      {"Key gen - Common name", "NewUser"}, {"Key gen - Country/Region", "RU"}, {"Key gen - State", "Moscow region"},
      {"Key gen - City", "Moscow"}, {"Key gen - Company", "NewUser Company"},
      {"Key gen - Department", "NewUser Department"}, {"Key gen - Title", "NewUser Title"},
      {"Key gen - e-mail", "NewUser e-mail"}, {"Key gen - PKey filename", "A:\\new.pub"}, {"Key gen - SKey", "A:\\"},
      {"Key gen - Key device", "DISK"}};
  ASSERT_EQ(engine.GetCryptoParamNumber(), 20);
  for (int32_t i = 1; i <= 20; ++i) {
    char name[256] = {}, value[1024] = {};
    engine.GetCryptoParamName(i, name);
    engine.GetCryptoParamValue(i, value);
    EXPECT_STREQ(name, expected[i - 1][0]);
    EXPECT_STREQ(value, expected[i - 1][1]);
  }
}

}  // namespace
}  // namespace ccomtest
