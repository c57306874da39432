// Every error path of the engine, each reached for a real reason, and its text.
#include <cstring>
#include <filesystem>

#include "cryptoc/cryptoc_fixture.h"

namespace cctest {
namespace {

namespace fs = std::filesystem;

class CryptoCErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* uid : {"Alice", "Bob", "Carol"}) box.AddUser(uid);
    alice = box.Engine("Alice");
    bob = box.Engine("Bob");
    carol = box.Engine("Carol");
  }
  Bytes SealedForBob(int method = 1) {
    Configure(*alice, kEncryptMethod, std::to_string(method));
    const CodecResult sealed = Encode(*alice, plain, "Bob");
    EXPECT_EQ(sealed.code, 0);
    return sealed.data;
  }
  Sandbox box;
  std::unique_ptr<zk::TCryptoCEngine> alice, bob, carol;
  const Bytes plain = RandomBytes(300, 5);
};

TEST(CryptoCEngine, TypeLimitsAndParameters) {
  zk::TCryptoCEngine engine;
  char type[100] = {};
  engine.GetCryptoEngineType(type);
  EXPECT_STREQ(type, "Crypto-C");
  EXPECT_EQ(engine.GetMaxUIDLength(), 254);
  EXPECT_EQ(engine.GetMaxSignatureLength(), 319);
  EXPECT_EQ(engine.GetMaxEncodeAddition(), 30579);
  const char* const expected[][2] = {
      {"User PKey/Certificate", "A:\\self.pub"}, {"User Secret key", "A:\\self.sec"},
      {"Abonents dir", "A:\\ABONENTS"},          {"CA dir", "A:\\CA"},
      {"Encrypt Method", "1"},                   {"Encrypt for UID", "User1"},
      {"Key request time out", "60"},            {"Last operation key time out", "5"},
      {"Key gen - GOST", "2001"},                {"Key gen - UID", "User2"},
      {"Key gen - PKey filename", "A:\\new.pub"}, {"Key gen - SKey filename", "A:\\new.sec"},
      {"Hash method", ""}};
  ASSERT_EQ(engine.GetCryptoParamNumber(), 13);
  for (int32_t i = 0; i < 13; ++i) {
    char name[256], value[1024];
    engine.GetCryptoParamName(i + 1, name);
    engine.GetCryptoParamValue(i + 1, value);
    EXPECT_STREQ(name, expected[i][0]);
    EXPECT_STREQ(value, expected[i][1]);
  }
  EXPECT_EQ(engine.IncludeCRL("x.crl"), -1);
}

TEST_F(CryptoCErrors, TextsOfToolkitStatusesAndEngineCodes) {
  EXPECT_EQ(ErrorTextUtf8(*alice, 5), "Подпись проверена, результат проверки отрицательный.");
  EXPECT_EQ(ErrorTextUtf8(*alice, 14), "Некорректная работа с криптографическим контекстом.");
  EXPECT_EQ(ErrorTextUtf8(*alice, -17), "Невозможно расшифровать данные. Данные зашифрованы на других пользователей.");
  EXPECT_EQ(ErrorTextUtf8(*alice, -13),
            "Неверно заданы числовые параметры. Параметры \"Encrypt Method\",\"Key request time out\" и "
            "\"Last operation key time out\" должны быть целыми положительными числами.");
  for (int32_t none : {16, -34, -100, 1000}) EXPECT_EQ(ErrorTextUtf8(*alice, none), "") << none;
  // The whole buffer is zero-filled behind the text.
  char text[255];
  std::memset(text, 0x7F, sizeof(text));
  alice->GetCryptoErrorString(-1, text);
  EXPECT_EQ(std::strlen(text), 130u);
  for (size_t i = 130; i < sizeof(text); ++i) EXPECT_EQ(text[i], 0) << i;
}

TEST_F(CryptoCErrors, ExceptionsAreCapturedWithTheLeadIn) {
  // Only a fault the engine raises itself reaches -3; a null type buffer is one.
  alice->GetCryptoEngineType(nullptr);
  const std::string text = ErrorTextUtf8(*alice, -3);
  EXPECT_EQ(text.rfind("Критический сбой при выполнении функции библиотеки! TCryptoCEngine.GetCryptoEngineType: "
                       "EAccessViolation: ", 0),
            0u)
      << text;
}

TEST_F(CryptoCErrors, DecodeRefusesForeignDamagedTruncatedAndUnknownPackages) {
  const Bytes sealed = SealedForBob();
  EXPECT_EQ(Decode(*carol, sealed).code, -17);
  ASSERT_EQ(Decode(*bob, sealed).data, plain);

  const size_t entry = 8 + 6 + 4;  // Bob's S, M and wrapped key
  const size_t body = entry + 48;  // body S, M, cipher text
  for (size_t at : {entry, entry + 8, entry + 16, entry + 47, body, body + 8, body + 16, sealed.size() - 1}) {
    Bytes damaged = sealed;
    damaged[at] ^= 0x20;
    EXPECT_EQ(Decode(*bob, damaged).code, -15) << at;
  }
  // The walk runs past the end: the package holds fewer entries than it claims.
  Bytes more = sealed;
  PutWordAt(more, 0, 10);
  Bytes none = sealed;
  PutWordAt(none, 0, 0);
  EXPECT_EQ(Decode(*carol, more).code, -4);
  EXPECT_EQ(Decode(*bob, none).code, -17);
  EXPECT_EQ(Decode(*bob, Bytes(sealed.begin(), sealed.begin() + static_cast<std::ptrdiff_t>(entry + 20))).code, -4);
  EXPECT_EQ(Decode(*bob, Bytes(sealed.begin(), sealed.begin() + static_cast<std::ptrdiff_t>(body + 10))).code, -4);
  // Cut within the cipher text: the MAC no longer matches.
  EXPECT_EQ(Decode(*bob, Bytes(sealed.begin(), sealed.end() - 1)).code, -15);

  for (uint32_t method : {2u, 3u, 0xFFFFFFFFu}) {
    Bytes unknown = sealed;
    PutWordAt(unknown, 4, method);
    EXPECT_EQ(Decode(*bob, unknown).code, -16) << method;
  }
  // The method field is not protected on its own, but the wrong mode fails the MAC.
  Bytes otherMethod = sealed;
  PutWordAt(otherMethod, 4, 0);
  EXPECT_EQ(Decode(*bob, otherMethod).code, -15);
  // A sender whose key Bob does not have.
  fs::remove(box.PublishedPath("Alice"));
  bob->ClearCash();
  EXPECT_EQ(Decode(*bob, sealed).code, -11);
}

TEST_F(CryptoCErrors, EncodeSettingsAndRecipients) {
  Configure(*alice, kEncryptMethod, "2");
  EXPECT_EQ(Encode(*alice, plain, "Bob").code, -16);
  Configure(*alice, kEncryptMethod, "x");
  EXPECT_EQ(Encode(*alice, plain, "Bob").code, -13);
  Configure(*alice, kEncryptMethod, " 0 ");
  const CodecResult trimmed = Encode(*alice, plain, "Bob");
  ASSERT_EQ(trimmed.code, 0);
  EXPECT_EQ(WordAt(trimmed.data, 4), 0u);

  Configure(*alice, kKeyTimeout, "");  // empty: the default
  EXPECT_EQ(Encode(*alice, plain, "Bob").code, 0);
  for (const char* bad : {"x", "-1", "5s", "99999999999"}) {
    Configure(*alice, kKeyTimeout, bad);
    EXPECT_EQ(Encode(*alice, plain, "Bob").code, -13) << bad;
    EXPECT_EQ(Sign(*alice, plain).code, -13) << bad;
  }
  Configure(*alice, kKeyTimeout, "60");
  Configure(*alice, kLastOpTimeout, "y");
  EXPECT_EQ(Decode(*alice, trimmed.data).code, -13);
  Configure(*alice, kLastOpTimeout, "5");

  EXPECT_EQ(Encode(*alice, plain, "Bob;").code, -11);  // the empty second recipient
  EXPECT_EQ(Encode(*alice, plain, "Dave").code, -11);
  Configure(*alice, kEncryptForUID, "  Bob ");
  const CodecResult byDefault = Encode(*alice, plain, nullptr);
  ASSERT_EQ(byDefault.code, 0);
  EXPECT_EQ(Decode(*bob, byDefault.data).data, plain);
  Configure(*alice, kEncryptForUID, "  ");
  EXPECT_EQ(Encode(*alice, plain, nullptr).code, -7);
  EXPECT_EQ(Encode(*alice, plain, "").code, -7);
}

TEST_F(CryptoCErrors, OutputBeyondTheAnnouncedRoomIsRefused) {
  std::string many = "Bob";
  for (int i = 1; i < 100; ++i) many += ";Bob";
  const CodecResult hundred = Encode(*alice, plain, many.c_str());
  ASSERT_EQ(hundred.code, 0);
  EXPECT_EQ(WordAt(hundred.data, 0), 100u);
  EXPECT_EQ(Encode(*alice, plain, (many + ";Bob").c_str()).code, -4);
  EXPECT_EQ(Encode(*alice, plain, std::string(255, 'L').c_str()).code, -4);

  // Sender and 100 recipients with UIDs of 254 characters fill the room exactly.
  const std::string longest(254, 'L');
  box.AddUser(longest);
  auto engine = box.Engine(longest);
  std::string list = longest;
  for (int i = 1; i < 100; ++i) list += ";" + longest;
  const CodecResult full = Encode(*engine, plain, list.c_str());
  ASSERT_EQ(full.code, 0);
  EXPECT_EQ(full.data.size(), plain.size() + 30579);
  // Such a user cannot be named in a 254-byte UID buffer: refused, the buffer untouched.
  char uid[300];
  std::memset(uid, 0x7F, sizeof(uid));
  EXPECT_EQ(engine->GetCurrentUID(uid), -4);
  EXPECT_EQ(uid[0], 0x7F);
  EXPECT_EQ(engine->GetEncodeUIDBySignUID(longest.c_str(), uid), -4);
  EXPECT_EQ(uid[0], 0x7F);
  const SignResult signed254 = Sign(*engine, plain);
  ASSERT_EQ(signed254.code, 0);
  EXPECT_EQ(signed254.signature.size(), 319u);
  ASSERT_EQ(alice->UpdateCertificateCash(longest.c_str()), 0);
  const VerifyResult verified = Verify(*alice, plain, signed254.signature);
  EXPECT_EQ(verified.code, -4);
  EXPECT_FALSE(verified.signerWritten);

  const std::string fits(253, 'M');
  box.AddUser(fits);
  EXPECT_EQ(box.Engine(fits)->GetCurrentUID(uid), 0);
  EXPECT_EQ(std::string(uid), fits);
}

TEST_F(CryptoCErrors, BrokenKeyFiles) {
  const Bytes secret = ReadFile(box.SecretKeyPath("Alice"));
  const Bytes publicKey = ReadFile(box.PublicKeyPath("Alice"));
  ASSERT_EQ(secret.size(), 164u);
  ASSERT_EQ(publicKey.size(), 5u + 233u);
  Configure(*alice, kKeyTimeout, "0");
  Configure(*alice, kLastOpTimeout, "0");

  Bytes type2 = secret;
  PutWordAt(type2, 0, 2);
  WriteFile(box.SecretKeyPath("Alice"), type2);
  EXPECT_EQ(Sign(*alice, plain).code, -10);
  WriteFile(box.SecretKeyPath("Alice"), Bytes(secret.begin(), secret.end() - 1));
  EXPECT_EQ(Sign(*alice, plain).code, -10);
  Bytes longer = secret;
  longer.push_back(0);
  WriteFile(box.SecretKeyPath("Alice"), longer);
  EXPECT_EQ(Sign(*alice, plain).code, -10);
  fs::remove(box.SecretKeyPath("Alice"));
  EXPECT_EQ(Sign(*alice, plain).code, -10);
  WriteFile(box.SecretKeyPath("Alice"), secret);
  ASSERT_EQ(Sign(*alice, plain).code, 0);

  // A type-1 public key the size of a type-0 one.
  Bytes padded = publicKey;
  padded.resize(5 + 261, 0);
  WriteFile(box.PublicKeyPath("Alice"), padded);
  EXPECT_EQ(Sign(*alice, plain).code, -11);
  Bytes mismatch = publicKey;
  PutWordAt(mismatch, 6, 0);
  WriteFile(box.PublicKeyPath("Alice"), mismatch);
  EXPECT_EQ(Sign(*alice, plain).code, -12);
  WriteFile(box.PublicKeyPath("Alice"), Bytes{0, 1, 0, 0, 0});
  EXPECT_EQ(Sign(*alice, plain).code, -11);
  WriteFile(box.PublicKeyPath("Alice"), Bytes(300, 'A'));  // no terminator within 255 bytes
  char uid[300];
  EXPECT_EQ(alice->GetCurrentUID(uid), -11);
  fs::remove(box.PublicKeyPath("Alice"));
  EXPECT_EQ(alice->GetCurrentUID(uid), -11);

  // A correspondent's file of the wrong size is cached but never served.
  Bytes bobPadded = ReadFile(box.PublishedPath("Bob"));
  bobPadded.push_back(0);
  WriteFile(box.PublishedPath("Bob"), bobPadded);
  EXPECT_EQ(Encode(*carol, plain, "Bob").code, -11);
}

TEST_F(CryptoCErrors, OwnKeyCannotBeIncludedOrRemoved) {
  EXPECT_EQ(alice->IncludePublicKey(box.PublicKeyPath("Alice").c_str()), -20);
  EXPECT_EQ(alice->RemoveCertificate("Alice"), -21);
  EXPECT_TRUE(fs::exists(box.PublishedPath("Alice")));
}

TEST_F(CryptoCErrors, MalformedSignatureBlocks) {
  const SignResult good = Sign(*alice, plain);
  ASSERT_EQ(good.code, 0);
  Bytes longTail = good.signature;
  longTail.push_back(0);
  EXPECT_EQ(Verify(*bob, plain, longTail).code, -14);
  Bytes noTail(good.signature.begin(), good.signature.begin() + 6);
  EXPECT_EQ(Verify(*bob, plain, noTail).code, -14);
  Bytes noUid = good.signature;
  noUid.erase(noUid.begin(), noUid.begin() + 5);
  EXPECT_EQ(Verify(*bob, plain, noUid).code, -14);
  EXPECT_EQ(Verify(*bob, plain, Bytes(300, 'A')).code, -14);

  // Well-formed: the signer is reported whatever the verdict.
  Bytes unknown = good.signature;
  unknown[0] = 'E';
  const VerifyResult stranger = Verify(*bob, plain, unknown);
  EXPECT_EQ(stranger.code, -11);
  EXPECT_EQ(stranger.signer, "Elice");
  Bytes forged = good.signature;
  forged.back() ^= 1;
  const VerifyResult bad = Verify(*bob, plain, forged);
  EXPECT_EQ(bad.code, 5);
  EXPECT_EQ(bad.signer, "Alice");
  // A shorter signature is checked as given and fails.
  const VerifyResult shorter = Verify(*bob, plain, Bytes(good.signature.begin(), good.signature.end() - 1));
  EXPECT_EQ(shorter.code, 5);
}

TEST_F(CryptoCErrors, NullPointersGiveCodes) {
  uint8_t data[64] = {1};
  int32_t length = 1;
  char uid[300];
  EXPECT_EQ(alice->EncodeData(nullptr, &length, "Bob"), -4);
  EXPECT_EQ(alice->EncodeData(data, nullptr, "Bob"), -4);
  EXPECT_EQ(alice->DecodeData(nullptr, &length, uid), -4);
  EXPECT_EQ(alice->DecodeData(data, nullptr, uid), -4);
  int32_t negative = -1;
  EXPECT_EQ(alice->EncodeData(data, &negative, "Bob"), -4);
  uint8_t signature[400];
  int32_t signatureLength = 0;
  EXPECT_EQ(alice->SignData(nullptr, 1, signature, &signatureLength, nullptr), -4);
  EXPECT_EQ(alice->SignData(data, 1, nullptr, &signatureLength, nullptr), -4);
  EXPECT_EQ(alice->SignData(data, 1, signature, nullptr, nullptr), -4);
  EXPECT_EQ(alice->SignData(data, 0, signature, &signatureLength, nullptr), -4);
  EXPECT_EQ(alice->VerifyData(data, 1, signature, 70, nullptr), -4);
  EXPECT_EQ(alice->VerifyData(nullptr, 1, signature, 70, uid), -4);
  EXPECT_EQ(alice->VerifyData(data, 1, nullptr, 70, uid), -14);
  EXPECT_EQ(alice->GetCurrentUID(nullptr), -4);
  EXPECT_EQ(alice->GetEncodeUIDBySignUID(nullptr, uid), -4);
  EXPECT_EQ(alice->GetEncodeUIDBySignUID("Bob", nullptr), -4);
  EXPECT_EQ(alice->IncludePublicKey(nullptr), -4);
  EXPECT_EQ(alice->RemoveCertificate(nullptr), -7);
  EXPECT_EQ(alice->UpdateCertificateCash(nullptr), -7);
  EXPECT_EQ(alice->RemoveCertificate(""), -7);
  alice->GetCryptoErrorString(-4, nullptr);
  ASSERT_EQ(alice->GetEncodeUIDBySignUID("Bob", uid), 0);
  EXPECT_STREQ(uid, "Bob");
}

}  // namespace
}  // namespace cctest
