// The contract every engine shares: round trips, the UIDs it reports, refusals of what was made
// for someone else or by someone unknown, null handles and pointers, key management.
#include <climits>

#include "conformance/suite.h"
#include "support/guard.h"

namespace zk::suite {
namespace {

class Contract : public Suite {
 protected:
  // The UID under which the engine knows the encryption key of the signer `uid`.
  static std::string EncodeUid(ZkEngine engine, const std::string& uid) {
    GuardedBuffer out(static_cast<size_t>(GetMaxUIDLength(engine)), 0x7F);
    EXPECT_EQ(GetEncodeUIDBySignUID(engine, uid.c_str(), out.chars()), 0);
    return out.Str();
  }
  void ExpectDecodes(ZkEngine reader, const Bytes& envelope, const Bytes& data, const std::string& what) {
    const CodecResult d = Decode(reader, envelope);
    ASSERT_EQ(d.code, 0) << what << ": " << ErrorString(reader, d.code);
    EXPECT_EQ(d.data, data) << what;
    switch (caps_.sender) {
      case SenderReport::kUntouched: EXPECT_FALSE(d.senderWritten) << what; break;
      case SenderReport::kEmpty: EXPECT_TRUE(d.senderWritten && d.sender.empty()) << what; break;
      case SenderReport::kUid: EXPECT_EQ(d.sender, EncodeUid(reader, Uid("alice"))) << what; break;
    }
  }
};

TEST_P(Contract, SignaturesRoundTripAtEveryLength) {
  auto alice = EngineFor("alice");
  auto bob = EngineFor("bob");
  for (size_t length : Lengths()) {
    const Bytes data = RandomBytes(length, static_cast<uint32_t>(length));
    const SignResult s = Sign(*alice, data);
    if (length == 0 && !caps_.signsEmptyData) {
      ExpectExplained(*alice, s.code, "signing no data");
      continue;
    }
    ASSERT_EQ(s.code, 0) << length << ": " << ErrorString(*alice, s.code);
    if (caps_.signatures) {
      EXPECT_GT(s.signature.size(), 0u) << length;
    }
    const VerifyResult v = Verify(*bob, data, s.signature);
    EXPECT_EQ(v.code, 0) << length << ": " << ErrorString(*bob, v.code);
    EXPECT_TRUE(v.signerWritten) << length;
    EXPECT_EQ(v.signer, Uid("alice")) << length;
    if (caps_.signatures && length > 0) {
      Bytes changed = data;
      changed.back() ^= 1;
      ExpectExplained(*bob, Verify(*bob, changed, s.signature).code, "changed data");
    }
  }
}

// With every cipher the engine offers.
TEST_P(Contract, EnvelopesRoundTripAtEveryLengthForOneAndSeveral) {
  auto alice = EngineFor("alice");
  auto bob = EngineFor("bob");
  auto carol = EngineFor("carol");
  for (const std::string& method : Methods()) {
    UseMethod(*alice, method);
    for (const std::string& recipients : {Uid("bob"), SeveralRecipients()}) {
      for (size_t length : Lengths()) {
        const std::string what = method + " " + std::to_string(length) + " for " + recipients;
        const Bytes data = RandomBytes(length, static_cast<uint32_t>(length) + 7);
        const CodecResult e = Encode(*alice, data, recipients.c_str());
        if (length == 0 && !caps_.encryptsEmptyData) {
          ExpectExplained(*alice, e.code, "encrypting no data");
          ExpectExplained(*bob, Decode(*bob, data).code, "decrypting no data");
          continue;
        }
        ASSERT_EQ(e.code, 0) << what << ": " << ErrorString(*alice, e.code);
        if (caps_.encryption && length > 0) {
          EXPECT_NE(e.data, data) << what;
        }
        std::vector<ZkEngine> readers = {*bob};
        if (recipients != Uid("bob")) readers.push_back(*carol);
        for (ZkEngine reader : readers) ExpectDecodes(reader, e.data, data, what);
      }
    }
  }
}

TEST_P(Contract, CurrentUserAndEncodeUids) {
  for (const char* user : {"alice", "bob", "carol"}) {
    auto engine = EngineFor(user);
    int32_t code = -1;
    EXPECT_EQ(CurrentUID(*engine, &code), Uid(user));
    EXPECT_EQ(code, 0) << ErrorString(*engine, code);
    GuardedBuffer encodeUid(static_cast<size_t>(GetMaxUIDLength(*engine)), 0x7F);
    EXPECT_EQ(GetEncodeUIDBySignUID(*engine, Uid(user).c_str(), encodeUid.chars()), 0);
    bool terminated = false;
    encodeUid.Str(&terminated);
    EXPECT_TRUE(terminated);
  }
}

TEST_P(Contract, MadeForSomeoneElseOrBySomeoneUnknownIsRefused) {
  auto alice = EngineFor("alice");
  auto carol = EngineFor("carol");
  auto stranger = EngineFor("stranger");
  const Bytes data = RandomBytes(100, 1);
  if (caps_.signatures) {
    const SignResult s = Sign(*stranger, data);
    ASSERT_EQ(s.code, 0) << ErrorString(*stranger, s.code);
    ExpectExplained(*alice, Verify(*alice, data, s.signature).code, "signed by a stranger");
  }
  if (caps_.encryption) {
    const CodecResult e = Encode(*alice, data, Uid("bob").c_str());
    ASSERT_EQ(e.code, 0) << ErrorString(*alice, e.code);
    ExpectExplained(*carol, Decode(*carol, e.data).code, "addressed to bob, read by carol");
    ExpectExplained(*stranger, Decode(*stranger, e.data).code, "addressed to bob, read by a stranger");
    ExpectExplained(*alice, Encode(*alice, data, Uid("stranger").c_str()).code, "for an unknown recipient");
  }
}

TEST_P(Contract, NullHandleGivesMinusOneOrNothing) {
  char text[300] = "keep";
  uint8_t data[16] = {};
  int32_t length = 4;
  EXPECT_EQ(EncodeData(nullptr, data, &length, nullptr), -1);
  EXPECT_EQ(DecodeData(nullptr, data, &length, text), -1);
  EXPECT_EQ(SignData(nullptr, data, 4, data, &length, nullptr), -1);
  EXPECT_EQ(VerifyData(nullptr, data, 4, data, 4, text), -1);
  EXPECT_EQ(GetCurrentUserUID(nullptr, text), -1);
  EXPECT_EQ(GetEncodeUIDBySignUID(nullptr, "x", text), -1);
  EXPECT_EQ(IncludePublicKey(nullptr, "x"), -1);
  EXPECT_EQ(IncludeCRL(nullptr, "x"), -1);
  EXPECT_EQ(RemoveCertificate(nullptr, "x"), -1);
  EXPECT_EQ(UpdateCertificateCash(nullptr, "x"), -1);
  GetCryptoErrorString(nullptr, -1, text);
  EXPECT_STREQ(text, "keep");
  EXPECT_EQ(length, 4);
}

// Every pointer an operation needs, null in turn: an error code, never a fault; outputs the
// engine does not fill may be null.
TEST_P(Contract, NullPointersGiveCodesNotFaults) {
  auto alice = EngineFor("alice");
  ZkEngine e = *alice;
  const Bytes data = RandomBytes(32, 2);
  const SignResult s = Sign(e, data);
  ASSERT_EQ(s.code, 0);
  const CodecResult sealed = Encode(e, data, Uid("alice").c_str());
  Bytes buffer(data.size() + static_cast<size_t>(GetMaxEncodeAddition(e)) + 64);
  Bytes signature(static_cast<size_t>(GetMaxSignatureLength(e)) + 1);
  std::vector<char> uid(static_cast<size_t>(GetMaxUIDLength(e)) + 1);
  int32_t length = static_cast<int32_t>(data.size());
  const uint8_t* sig = s.signature.empty() ? data.data() : s.signature.data();
  const int32_t sigLen = static_cast<int32_t>(s.signature.size());
  if (caps_.encryption) {
    ExpectExplained(e, EncodeData(e, nullptr, &length, nullptr), "EncodeData of null data");
    ExpectExplained(e, EncodeData(e, buffer.data(), nullptr, nullptr), "EncodeData of a null length");
    ExpectExplained(e, DecodeData(e, nullptr, &length, uid.data()), "DecodeData of null data");
    ExpectExplained(e, DecodeData(e, buffer.data(), nullptr, uid.data()), "DecodeData of a null length");
  }
  // An output the engine only fills when given may be null: a code or success, never a fault.
  std::copy(sealed.data.begin(), sealed.data.end(), buffer.begin());
  length = static_cast<int32_t>(sealed.data.size());
  if (DecodeData(e, buffer.data(), &length, nullptr) == 0) {
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + length), data);
  }
  GetCurrentUserUID(e, nullptr);
  GetEncodeUIDBySignUID(e, Uid("alice").c_str(), nullptr);
  GetEncodeUIDBySignUID(e, nullptr, uid.data());
  if (caps_.signatures) {
    ExpectExplained(e, SignData(e, nullptr, 5, signature.data(), &length, nullptr), "SignData of null data");
    ExpectExplained(e, SignData(e, data.data(), 5, nullptr, &length, nullptr), "SignData into null");
    ExpectExplained(e, VerifyData(e, nullptr, 5, sig, sigLen, uid.data()), "VerifyData of null data");
    ExpectExplained(e, VerifyData(e, data.data(), 32, nullptr, 5, uid.data()), "VerifyData of a null signature");
  }
  ExpectExplained(e, SignData(e, data.data(), 5, signature.data(), nullptr, nullptr), "SignData without a length");
  ExpectExplained(e, VerifyData(e, data.data(), 32, sig, sigLen, nullptr), "VerifyData without a signer buffer");
  // Procedures with a null output return and write nothing.
  GetCryptoErrorString(e, -1, nullptr);
  GetCryptoEngineType(e, nullptr);
  GetCryptoParamName(e, 1, nullptr);
  GetCryptoParamValue(e, 1, nullptr);
  // Optional operations with null names: a code, or -1 for not supported.
  if (caps_.keyManagement) {
    EXPECT_NE(IncludePublicKey(e, nullptr), 0);
    EXPECT_NE(RemoveCertificate(e, nullptr), 0);
  }
  if (caps_.crls) {
    EXPECT_NE(IncludeCRL(e, nullptr), 0);
  }
  // The engine still works.
  EXPECT_EQ(Sign(e, data).code, 0);
}

TEST_P(Contract, EveryErrorTextFitsItsBuffer) {
  auto alice = EngineFor("alice");
  for (int32_t code = -1000; code <= 1000; ++code) ErrorString(*alice, code);
  for (int32_t code : {INT32_MIN, INT32_MIN + 1, INT32_MAX}) ErrorString(*alice, code);
}

TEST_P(Contract, ParameterNamesValuesAndTypeFitTheirBuffers) {
  auto alice = EngineFor("alice");
  ZkEngine e = *alice;
  const size_t nameLimit = static_cast<size_t>(GetMaxCryptoParamNameLength(e));
  const size_t valueLimit = static_cast<size_t>(GetMaxCryptoParamValueLength(e));
  const int32_t count = GetCryptoParamNumber(e);
  EXPECT_GE(count, 0);
  for (int32_t i = 0; i <= count + 1; ++i) {
    GuardedBuffer name(nameLimit, 0x7F), value(valueLimit, 0x7F);
    GetCryptoParamName(e, i, name.chars());
    GetCryptoParamValue(e, i, value.chars());
    bool named = false, valued = false;
    const std::string kept = value.Str(&valued);
    EXPECT_EQ(name.Str(&named).empty(), i < 1 || i > count) << i;
    EXPECT_TRUE(named && valued) << i;
    if (i < 1 || i > count) continue;
    // A value longer than the limit comes back within it.
    ASSERT_EQ(SetCryptoParamValue(e, i, std::string(valueLimit + 100, 'v').c_str()), 0);
    GuardedBuffer longValue(valueLimit, 0x7F);
    GetCryptoParamValue(e, i, longValue.chars());
    longValue.Str(&valued);
    EXPECT_TRUE(valued) << i;
    ASSERT_EQ(SetCryptoParamValue(e, i, kept.c_str()), 0);
  }
  EXPECT_NE(SetCryptoParamValue(e, count + 1, "x"), 0);
  GuardedBuffer type(static_cast<size_t>(GetMaxCryptoEngineTypeLength()), 0x7F);
  GetCryptoEngineType(e, type.chars());
  bool terminated = false;
  EXPECT_FALSE(type.Str(&terminated).empty());
  EXPECT_TRUE(terminated);
}

TEST_P(Contract, CorrespondentsComeAndGo) {
  if (!caps_.keyManagement) GTEST_SKIP() << "no key management";
  auto alice = EngineFor("alice");
  auto stranger = EngineFor("stranger");
  const Bytes data = RandomBytes(50, 3);
  const SignResult s = Sign(*stranger, data);
  ASSERT_EQ(s.code, 0);
  ExpectExplained(*alice, Verify(*alice, data, s.signature).code, "before the stranger is known");
  ASSERT_EQ(IncludePublicKey(*alice, provisioner_->PublicKeyFile("stranger").c_str()), 0)
      << ErrorString(*alice, IncludePublicKey(*alice, provisioner_->PublicKeyFile("stranger").c_str()));
  const VerifyResult known = Verify(*alice, data, s.signature);
  EXPECT_EQ(known.code, 0) << ErrorString(*alice, known.code);
  EXPECT_EQ(known.signer, Uid("stranger"));
  EXPECT_EQ(Encode(*alice, data, Uid("stranger").c_str()).code, 0);
  ASSERT_EQ(RemoveCertificate(*alice, Uid("stranger").c_str()), 0);
  ExpectExplained(*alice, Verify(*alice, data, s.signature).code, "after the stranger is removed");
  ExpectExplained(*alice, IncludePublicKey(*alice, (dir_->Dir() + "/no such file").c_str()), "a missing file");
}

TEST_P(Contract, RevocationListsAreTaken) {
  if (!caps_.crls) GTEST_SKIP() << "no revocation lists";
  auto alice = EngineFor("alice");
  const int32_t code = IncludeCRL(*alice, provisioner_->CrlFile().c_str());
  EXPECT_EQ(code, 0) << ErrorString(*alice, code);
  const std::string junk = dir_->Dir() + "/junk.crl";
  WriteFileBytes(junk, RandomBytes(300, 4));
  ExpectExplained(*alice, IncludeCRL(*alice, junk.c_str()), "a CRL of random bytes");
}

ZK_SUITE_INSTANTIATE(Contract);

}  // namespace
}  // namespace zk::suite
