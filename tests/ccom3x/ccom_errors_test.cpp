// Every error path of the engine, each reached for a real reason, and the texts hosts read.
#include <filesystem>

#include "ccom3x/ccom_fixture.h"
#include "engines/ccom3x/ccom_codes.h"

namespace ccomtest {
namespace {

namespace fs = std::filesystem;
using namespace zk::ccom3x;

class CcomErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    StandIn::Get().Control("reset");
    box_.AddUser("alice", "Alice UID");
    box_.AddUser("bob", "Bob UID");
    box_.AddUser("carol", "Carol UID");
    box_.GiveKey("alice", "bob");
    box_.GiveKey("alice", "carol");
    box_.GiveKey("bob", "alice");
  }
  void TearDown() override { StandIn::Get().Control("reset"); }
  Bytes EnvelopeForBob(const Bytes& data) {
    auto alice = EngineFor(box_, "alice");
    CodecResult e = Encode(*alice, data, "Bob UID");
    EXPECT_EQ(e.code, 0);
    return e.data;
  }
  Sandbox box_;
};

TEST_F(CcomErrors, EnvelopeForSomeoneElseIsMinus16) {
  auto alice = EngineFor(box_, "alice");
  CodecResult e = Encode(*alice, Text("for carol"), "Carol UID");
  ASSERT_EQ(e.code, 0);
  auto bob = EngineFor(box_, "bob");
  EXPECT_EQ(Decode(*bob, e.data).code, kErrNotForUs);
}

TEST_F(CcomErrors, AlteredHeaderIsMinus17AndAlteredBodyMinus18) {
  const Bytes data = RandomBytes(300, 5);
  const Bytes envelope = EnvelopeForBob(data);
  const EnvelopeFields f = SplitEnvelope(envelope);
  ASSERT_TRUE(f.ok);
  auto bob = EngineFor(box_, "bob");
  ASSERT_EQ(Decode(*bob, envelope).data, data);
  const size_t entryAt = 8 + f.sender.size() + 1 + f.entries[0].uid.size() + 1;
  struct Case {
    size_t offset;
    int32_t code;
    const char* what;
  } cases[] = {
      {entryAt, kErrHeaderIntegrity, "entry MAC"},
      {entryAt + 4 + 7, kErrHeaderIntegrity, "wrapped session key"},
      {f.tailAt, kErrHeaderIntegrity, "vector (the session key unwraps differently)"},
      {f.tailAt + 8 + 4 + 40, kErrHeaderIntegrity, "sender's key-agreement value"},
      {f.tailAt + 8 + 1, kErrDataIntegrity, "body MAC"},
      {f.tailAt + 77 + 150, kErrDataIntegrity, "cipher text"},
      {envelope.size() - 1, kErrDataIntegrity, "last cipher byte"},
  };
  for (const Case& c : cases) {
    Bytes altered = envelope;
    altered[c.offset] ^= 0x20;
    EXPECT_EQ(Decode(*bob, altered).code, c.code) << c.what;
  }
}

TEST_F(CcomErrors, UnknownMethodIsMinus19BeforeAnyKeyIsTouched) {
  auto alice = EngineFor(box_, "alice");
  const StandIn& s = StandIn::Get();
  for (const char* method : {"CBC", "", "GAMMA ", "GFB2"}) {
    alice->ClearCash();
    s.Control("reset");
    Configure(*alice, kEncryptMethod, method);
    EXPECT_EQ(Encode(*alice, Text("data"), "Bob UID").code, kErrBadMethod) << method;
    EXPECT_EQ(s.Calls("PSE_CTX_read"), 0) << method;
    EXPECT_EQ(s.Calls("RAND_bytes"), 0) << method;
    EXPECT_EQ(s.Calls("ECGOST_DH_compute_key"), 0) << method;
  }
  // An envelope that names a method of neither kind.
  Bytes envelope = EnvelopeForBob(Text("data"));
  envelope[4] = 3;
  auto bob = EngineFor(box_, "bob");
  EXPECT_EQ(Decode(*bob, envelope).code, kErrBadMethod);
}

TEST_F(CcomErrors, PublicKeyFileWhoseLengthWordDiffersIsMinus9) {
  auto alice = EngineFor(box_, "alice");
  Bytes file = ReadFileBytes(box_.PublicKeyFile("alice"));
  file[0] ^= 1;
  WriteFileBytes(box_.PublicKeyFile("alice"), file);
  int32_t code = 0;
  CurrentUID(*alice, &code);
  EXPECT_EQ(code, kErrBadPublicKeyFile);
  EXPECT_EQ(Sign(*alice, Text("x")).code, kErrBadPublicKeyFile);
  // One byte more at the end (the length word then no longer matches either).
  file[0] ^= 1;
  file.push_back(0);
  WriteFileBytes(box_.PublicKeyFile("alice"), file);
  EXPECT_EQ(Sign(*alice, Text("x")).code, kErrBadPublicKeyFile);
  Configure(*alice, kPublicKeyFile, box_.UserDir("alice") + "/missing.pub");
  EXPECT_EQ(Sign(*alice, Text("x")).code, kErrBadPublicKeyFile);
}

TEST_F(CcomErrors, NoMatchingKeyIsMinus10AndOddSizedKeyFilesAreIgnored) {
  const std::string keys = box_.SecretDir("alice") + "/KEYS";
  auto alice = EngineFor(box_, "alice");
  Configure(*alice, kKeyTimeout, "0");
  ASSERT_EQ(Sign(*alice, Text("x")).code, 0);
  const Bytes key = ReadFileBytes(keys + "/1.sec");
  // Files of 35 and 37 bytes beside the key: ignored, the key still works.
  WriteFileBytes(keys + "/0.sec", Bytes(key.begin(), key.end() - 1));
  Bytes longer = key;
  longer.push_back(0);
  WriteFileBytes(keys + "/2.sec", longer);
  const StandIn& s = StandIn::Get();
  s.Control("reset");
  EXPECT_EQ(Sign(*alice, Text("x")).code, 0);
  EXPECT_EQ(s.Calls("PSE_CTX_read"), 2) << "the PSE and the one 36-byte key, nothing else";
  // Without the 36-byte key nothing matches.
  fs::remove(keys + "/1.sec");
  EXPECT_EQ(Sign(*alice, Text("x")).code, kErrNoMatchingKey);
  // Bob's key under alice's PSE does not unwrap; carol's PSE with alice's key does not match.
  CopyFileBytes(box_.SecretDir("bob") + "/KEYS/1.sec", keys + "/5.sec");
  EXPECT_EQ(Sign(*alice, Text("x")).code, kErrNoMatchingKey);
  Configure(*alice, kSecretKeyDir, box_.SecretDir("carol"));
  EXPECT_EQ(Sign(*alice, Text("x")).code, kErrNoMatchingKey);
  Configure(*alice, kSecretKeyDir, box_.UserDir("alice") + "/nowhere");
  EXPECT_EQ(Sign(*alice, Text("x")).code, kErrNoMatchingKey);
  // The user's key restored under another number is found again.
  WriteFileBytes(keys + "/7.sec", key);
  Configure(*alice, kSecretKeyDir, box_.SecretDir("alice"));
  EXPECT_EQ(Sign(*alice, Text("x")).code, 0);
}

TEST_F(CcomErrors, BrokenSelfSignatureIsMinus13) {
  // Bob's file in alice's directory with one character of its description changed.
  const std::string copy = box_.AbonentsDir("alice") + "/bob.pub";
  Bytes file = ReadFileBytes(copy);
  const size_t textAt = 8 + 2 + 7 + 2;
  ASSERT_GT(file.size(), textAt);
  file[textAt] ^= 0x01;
  WriteFileBytes(copy, file);
  auto bob = EngineFor(box_, "bob");
  SignResult s = Sign(*bob, Text("order"));
  ASSERT_EQ(s.code, 0);
  auto alice = EngineFor(box_, "alice");
  EXPECT_EQ(Verify(*alice, Text("order"), s.signature).code, kErrPublicKeyIntegrity);
  EXPECT_EQ(Encode(*alice, Text("order"), "Bob UID").code, kErrPublicKeyIntegrity);
  EXPECT_EQ(Verify(*alice, Text("order"), s.signature).code, kErrPublicKeyIntegrity) << "remembered";
  auto carol = EngineFor(box_, "carol");
  EXPECT_EQ(carol->IncludePublicKey(copy.c_str()), kErrPublicKeyIntegrity);
  EXPECT_FALSE(fs::exists(box_.AbonentsDir("carol") + "/Bob UID.pub"));
}

TEST_F(CcomErrors, SignatureBlocksOfTheWrongShapeAreMinus12) {
  auto alice = EngineFor(box_, "alice");
  auto bob = EngineFor(box_, "bob");
  const Bytes data = Text("payment");
  SignResult s = Sign(*bob, data);
  ASSERT_EQ(s.code, 0);
  ASSERT_EQ(Verify(*alice, data, s.signature).code, 0);
  Bytes shorter(s.signature.begin(), s.signature.end() - 1);
  EXPECT_EQ(Verify(*alice, data, shorter).code, kErrBadSignatureFormat) << "63 bytes after the UID";
  Bytes longer = s.signature;
  longer.push_back(0);
  EXPECT_EQ(Verify(*alice, data, longer).code, kErrBadSignatureFormat) << "65 bytes after the UID";
  Bytes noUid(s.signature.begin() + 7, s.signature.end());
  EXPECT_EQ(Verify(*alice, data, noUid).code, kErrBadSignatureFormat) << "empty UID";
  Bytes longUid(255, 'u');
  longUid.push_back(0);
  longUid.insert(longUid.end(), s.signature.end() - 64, s.signature.end());
  EXPECT_EQ(Verify(*alice, data, longUid).code, kErrBadSignatureFormat) << "UID of 255 characters";
  EXPECT_EQ(Verify(*alice, data, Bytes(70, 'u')).code, kErrBadSignatureFormat) << "no zero";
  EXPECT_EQ(Verify(*alice, data, Bytes()).code, kErrBadSignatureFormat) << "empty";
  // A well-formed block of a signer nobody has.
  Bytes stranger = Text("Stranger");
  stranger.push_back(0);
  stranger.insert(stranger.end(), s.signature.end() - 64, s.signature.end());
  EXPECT_EQ(Verify(*alice, data, stranger).code, kErrBadPublicKeyFile);
}

TEST_F(CcomErrors, ToolkitFailuresPassTheirCodeThrough) {
  auto alice = EngineFor(box_, "alice");
  const StandIn& s = StandIn::Get();
  ASSERT_EQ(Sign(*alice, Text("warm-up")).code, 0);
  s.Control("fail ECGOST_sign_final 1 16");
  EXPECT_EQ(Sign(*alice, Text("x")).code, 16);
  s.Control("fail GOSTE_update 1 33");
  EXPECT_EQ(Encode(*alice, Text("x"), "Bob UID").code, 33);
  s.Control("fail ECGOST_DH_compute_key 1 19");
  Configure(*alice, kKeyDevice, "OTHER");  // a fresh binding: no pairwise key cached yet
  EXPECT_EQ(Encode(*alice, Text("x"), "Bob UID").code, 19);
  // A last error that would read as one of the engine's own codes becomes "internal error" (12).
  s.Control("fail GOSTH_final 1 33");
  s.Control("answer ERR_get_last_error -16 1");
  Configure(*alice, kKeyDevice, "THIRD");
  EXPECT_EQ(Encode(*alice, Text("x"), "Bob UID").code, 12);
}

TEST_F(CcomErrors, NullPointersGiveMinus11) {
  auto alice = EngineFor(box_, "alice");
  uint8_t data[64] = {1, 2, 3};
  int32_t len = 3;
  char uid[256];
  EXPECT_EQ(alice->EncodeData(nullptr, &len, "Bob UID"), kErrBadPointer);
  EXPECT_EQ(alice->EncodeData(data, nullptr, "Bob UID"), kErrBadPointer);
  len = -1;
  EXPECT_EQ(alice->EncodeData(data, &len, "Bob UID"), kErrBadPointer);
  len = 3;
  EXPECT_EQ(alice->EncodeData(data, &len, ""), kErrBadPointer) << "an empty recipient list";
  EXPECT_EQ(alice->DecodeData(nullptr, &len, uid), kErrBadPointer);
  EXPECT_EQ(alice->DecodeData(data, nullptr, uid), kErrBadPointer);
  int32_t sigLen = 0;
  uint8_t sig[400];
  EXPECT_EQ(alice->SignData(nullptr, 3, sig, &sigLen, nullptr), kErrBadPointer);
  EXPECT_EQ(alice->SignData(data, 3, nullptr, &sigLen, nullptr), kErrBadPointer);
  EXPECT_EQ(alice->SignData(data, 3, sig, nullptr, nullptr), kErrBadPointer);
  EXPECT_EQ(alice->SignData(data, -1, sig, &sigLen, nullptr), kErrBadPointer);
  EXPECT_EQ(alice->VerifyData(nullptr, 3, sig, 10, uid), kErrBadPointer);
  EXPECT_EQ(alice->VerifyData(data, -1, sig, 10, uid), kErrBadPointer);
  EXPECT_EQ(alice->VerifyData(data, 3, nullptr, 10, uid), kErrBadPointer);
  EXPECT_EQ(alice->VerifyData(data, 3, sig, 10, nullptr), kErrBadPointer);
  EXPECT_EQ(alice->VerifyData(data, 3, sig, -5, uid), kErrBadSignatureFormat);
  EXPECT_EQ(alice->GetCurrentUID(nullptr), kErrBadPointer);
  EXPECT_EQ(alice->GetEncodeUIDBySignUID(nullptr, uid), kErrBadPointer);
  EXPECT_EQ(alice->GetEncodeUIDBySignUID("x", nullptr), kErrBadPointer);
  EXPECT_EQ(alice->IncludePublicKey(nullptr), kErrBadPointer);
  EXPECT_EQ(alice->RemoveCertificate(nullptr), kErrBadPointer);
  EXPECT_EQ(alice->UpdateCertificateCash(nullptr), kErrBadPointer);
  alice->GetCryptoErrorString(-2, nullptr);
}

TEST_F(CcomErrors, RecipientListsBeyondTheAnnouncedRoomAreRefusedUntouched) {
  auto alice = EngineFor(box_, "alice");
  std::string list;
  for (int i = 0; i < 101; ++i) list += (i ? ";" : "") + std::string("Bob UID");
  const Bytes data = RandomBytes(50, 6);
  EXPECT_EQ(Encode(*alice, data, list.c_str()).code, kErrBadRecipients) << "101 recipients";
  const std::string longUid(255, 'x');
  EXPECT_EQ(Encode(*alice, data, longUid.c_str()).code, kErrBadRecipients) << "a UID of 255 characters";
  EXPECT_EQ(Encode(*alice, data, "Bob UID;").code, kErrBadRecipients) << "an empty item";
  EXPECT_EQ(Encode(*alice, data, ";Bob UID").code, kErrBadRecipients) << "an empty item";
  EXPECT_EQ(Encode(*alice, data, "Nobody").code, kErrBadPublicKeyFile) << "an unknown recipient";
  EXPECT_EQ(Encode(*alice, data, "Bob UID;Nobody").code, kErrBadPublicKeyFile) << "one unknown recipient";
}

TEST(CcomLimits, HundredRecipientsOfTheLongestUidFitTheAnnouncedRoom) {
  Sandbox box;
  const std::string longA(254, 'a'), longB(254, 'b');
  box.AddUser("a", longA);
  box.AddUser("b", longB);
  box.GiveKey("a", "b", "b.pub");
  auto a = EngineFor(box, "a");
  std::string list;
  for (int i = 0; i < 100; ++i) list += (i ? ";" : "") + longB;
  const Bytes data = RandomBytes(10, 7);
  CodecResult e = Encode(*a, data, list.c_str());
  ASSERT_EQ(e.code, 0);
  EXPECT_EQ(e.data.size(), data.size() + 100 * 291 + 8 + 255 + 77);
  EXPECT_LE(e.data.size(), data.size() + 29451);
  auto b = EngineFor(box, "b");
  EXPECT_EQ(Decode(*b, e.data).data, data);
  // The signature of the longest UID fills GetMaxSignatureLength but for the UID's spare byte.
  SignResult s = Sign(*a, data);
  ASSERT_EQ(s.code, 0);
  EXPECT_EQ(s.signature.size(), 254u + 65u);
  char encodeUID[256];
  EXPECT_EQ(a->GetEncodeUIDBySignUID(longA.c_str(), encodeUID), 0);
  EXPECT_EQ(std::string(encodeUID), longA);
  EXPECT_EQ(a->GetEncodeUIDBySignUID(std::string(255, 'a').c_str(), encodeUID), kErrBadPointer);
}

TEST_F(CcomErrors, TextsOfCodes) {
  auto alice = EngineFor(box_, "alice");
  EXPECT_EQ(ErrorString(*alice, 0), Cp1251("Завершение без ошибок"));
  EXPECT_EQ(ErrorString(*alice, 7), Cp1251("Цифровая подпись не подтверждена"));
  EXPECT_EQ(ErrorString(*alice, 90), Cp1251("Переполнение данных"));
  EXPECT_EQ(ErrorString(*alice, -16), Cp1251("Данные зашифрованы на другого абонента"));
  EXPECT_EQ(ErrorString(*alice, -29), Cp1251("Отсутствует доступ к заданному каталогу/устройству секретных ключей"));
  for (int32_t code : {40, 50, 64, 70, 91, -30, -100, 2147483647}) {
    EXPECT_EQ(ErrorString(*alice, code),
              "Crypto Com 32x toolkit library unknown or reserved error code: " + std::to_string(code));
  }
  // -2 carries the stored text of the failed operation.
  Configure(*alice, kKeyTimeout, "sixty");
  EXPECT_EQ(Sign(*alice, Text("x")).code, kErrException);
  EXPECT_EQ(ErrorString(*alice, -2), Cp1251("Критический сбой при выполнении функции библиотеки! ") +
                                         "TCryptoCom3xEngine.GetCryptoAPI: EConvertError: 'sixty' is not a valid "
                                         "integer value");
  Configure(*alice, kKeyTimeout, "");
  EXPECT_EQ(Sign(*alice, Text("x")).code, 0) << "an empty time-out is the default";
  // A long text is cut to the buffer, with its terminator inside.
  Configure(*alice, kLastOpTimeout, std::string(400, '9') + "x");
  EXPECT_EQ(Sign(*alice, Text("x")).code, kErrException);
  const std::string text = ErrorString(*alice, -2);
  EXPECT_EQ(text.size(), static_cast<size_t>(alice->GetMaxErrorStringLength() - 1));
  EXPECT_EQ(text.substr(0, 20), Cp1251("Критический сбой при выполнении функции библиотеки! ").substr(0, 20));
}

}  // namespace
}  // namespace ccomtest
