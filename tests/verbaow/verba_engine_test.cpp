// The Verba-OW engine's own behaviour: the operations between two users, the refusals of a
// changed document, a foreign key and a changed envelope, parameter errors, and the texts.
#include <filesystem>

#include "verbaow/verba_fixture.h"

namespace vowtest {
namespace {

namespace fs = std::filesystem;

using VerbaEngine = VerbaPair;

TEST_F(VerbaEngine, SignaturesBetweenTwoUsersAndTheirRefusals) {
  const Bytes order = Text("Payment order 17: 1000.00 RUB from 0001 to 0002.");
  const Result signature = Sign(*ea, order);
  ASSERT_EQ(signature.code, 0);
  EXPECT_EQ(Verify(*eb, order, signature.data).uid, a->signId);
  EXPECT_EQ(Verify(*ea, order, signature.data).code, 1002) << "until the own key is in the directory";
  ASSERT_EQ(ea->IncludePublicKey(a->publicFile.c_str()), 0);
  EXPECT_EQ(Verify(*ea, order, signature.data).code, 0);

  Bytes changed = order;
  changed[5] ^= 0x01;
  EXPECT_EQ(Verify(*eb, changed, signature.data).code, 1001);
  Bytes forged = signature.data;
  forged[40] ^= 0x80;
  EXPECT_EQ(Verify(*eb, order, forged).code, 1001);
  for (size_t cut : {size_t{0}, size_t{1}, signature.data.size() - 1}) {
    const Bytes prefix(signature.data.begin(), signature.data.begin() + static_cast<long>(cut));
    EXPECT_NE(Verify(*eb, order, prefix.empty() ? Bytes{0} : prefix).code, 0) << cut;
  }
  // A signer whose key B never included.
  const User& c = sandbox.AddUser(3);
  auto ec = sandbox.Engine(c);
  const Result foreign = Sign(*ec, order);
  ASSERT_EQ(foreign.code, 0);
  EXPECT_EQ(Verify(*eb, order, foreign.data).code, 1002);
  EXPECT_EQ(ErrorText(*eb, 1002), "Не найден открытый ключ");
}

TEST_F(VerbaEngine, EnvelopesGrowByHeaderAndItemsAndOpenOnlyForRecipients) {
  const Bytes plain = Text("Statement for account 40702810900000000017.");
  const Result forBoth = Encode(*ea, plain, "0002;0001");
  ASSERT_EQ(forBoth.code, 0);
  EXPECT_EQ(forBoth.data.size(), plain.size() + 37 + 96);
  const Result opened = Decode(*eb, forBoth.data);
  ASSERT_EQ(opened.code, 0);
  EXPECT_EQ(opened.data, plain);
  EXPECT_EQ(opened.uid, a->signId) << "the sender as its signatures name it";
  EXPECT_EQ(Decode(*ea, forBoth.data).data, plain) << "the sender encrypted for itself too";

  // Default recipients; a user that is not among them; every kind of change.
  Configure(*ea, kRecipients, "0002");
  const Result forB = Encode(*ea, plain, nullptr);
  ASSERT_EQ(forB.code, 0);
  const User& c = sandbox.AddUser(3);
  auto ec = sandbox.Engine(c);
  ASSERT_EQ(ec->IncludePublicKey(a->publicFile.c_str()), 0);
  EXPECT_EQ(Decode(*ec, forB.data).code, 6);
  for (size_t at : {size_t{0}, size_t{5}, size_t{25}, size_t{40}, size_t{60}, forB.data.size() - 1}) {
    Bytes changed = forB.data;
    changed[at] ^= 0x04;
    EXPECT_NE(Decode(*eb, changed).code, 0) << at;  // Decode checks the ciphertext is left as it was
  }
  Bytes shorter(forB.data.begin(), forB.data.end() - 1);
  EXPECT_EQ(Decode(*eb, shorter).code, 10);
}

TEST_F(VerbaEngine, RecipientsAndParametersAreCheckedBeforeTheToolkit) {
  const Bytes plain = Text("x");
  EXPECT_EQ(Encode(*ea, plain, "0002;abc").code, -109);
  EXPECT_EQ(Encode(*ea, plain, "0000").code, -109) << "key number 0 would end the recipient list";
  EXPECT_EQ(Encode(*ea, plain, "0001;0002;0003;0004;0005").code, -11) << "more than the addition holds";
  EXPECT_EQ(Encode(*ea, plain, "0001;0002;0003;0004").code, 117) << "four fit; 0003 is unknown";
  Configure(*ea, kRecipients, "  ");
  EXPECT_EQ(Encode(*ea, plain, nullptr).code, -11);
  Configure(*ea, kEncodeUID, "00x1000777");
  EXPECT_EQ(Encode(*ea, plain, "0002").code, -109);

  ASSERT_EQ(Toolkit().Control("reset"), 0);
  Configure(*eb, kRequestTimeout, "abc");
  EXPECT_EQ(Sign(*eb, plain).code, -108);
  EXPECT_EQ(Verify(*eb, plain, Bytes(87, 1)).code, -108);
  EXPECT_EQ(Decode(*eb, Bytes(200, 1)).code, -108);
  EXPECT_EQ(eb->IncludePublicKey(a->publicFile.c_str()), -108);
  EXPECT_EQ(Toolkit().Calls("GetDrvInfo"), 0);

  Configure(*eb, kRequestTimeout, "60");
  Configure(*eb, kSignUID, b->signId.substr(0, 11));
  EXPECT_EQ(Sign(*eb, plain).code, -10);
  EXPECT_EQ(eb->RemoveCertificate(b->encId.c_str()), -111);
  EXPECT_EQ(eb->RemoveCertificate("000100077"), -10);

  char encode[256] = {};
  EXPECT_EQ(eb->GetEncodeUIDBySignUID("000100077701", encode), 0);
  EXPECT_STREQ(encode, "0001");
  EXPECT_EQ(eb->GetEncodeUIDBySignUID("00010007", encode), -105);
  EXPECT_EQ(eb->GetCurrentUID(encode), 0);
  EXPECT_EQ(std::string(encode), b->signId.substr(0, 11));
}

TEST_F(VerbaEngine, PublicKeyDirectoryOnDisk) {
  const fs::path entry = fs::path(b->publicDir) / "0001.vpk";
  EXPECT_TRUE(fs::exists(entry));
  EXPECT_EQ(eb->RemoveCertificate(b->signId.c_str()), -111);
  EXPECT_EQ(eb->RemoveCertificate(a->signId.c_str()), 0);
  EXPECT_FALSE(fs::exists(entry));
  EXPECT_EQ(eb->RemoveCertificate(a->signId.c_str()), 117);
  EXPECT_EQ(Encode(*eb, Text("x"), "0001").code, 117);

  const std::string odd = (fs::path(sandbox.Root()) / "odd.pk").string();
  Bytes key = ReadFile(a->publicFile);
  key.resize(300, 0);
  WriteFile(odd, key);
  EXPECT_EQ(eb->IncludePublicKey(odd.c_str()), -115);
  EXPECT_EQ(eb->IncludePublicKey((odd + ".none").c_str()), -8);
  Configure(*eb, kPublicPath, b->publicDir + "/none");
  EXPECT_EQ(eb->IncludePublicKey(a->publicFile.c_str()), -9);
  Configure(*eb, kPublicPath, b->publicDir);
  // A damaged key file and a directory entry changed behind the toolkit's back.
  Bytes damaged = ReadFile(a->publicFile);
  damaged[100] ^= 1;
  WriteFile(odd, damaged);
  EXPECT_EQ(eb->IncludePublicKey(odd.c_str()), 121);
  ASSERT_EQ(eb->IncludePublicKey(a->publicFile.c_str()), 0);
  Bytes stored = ReadFile(entry.string());
  stored[stored.size() - 20] ^= 1;
  WriteFile(entry.string(), stored);
  EXPECT_EQ(Encode(*eb, Text("x"), "0001").code, 111);
}

TEST_F(VerbaEngine, OversizeSignatureNeverReachesTheCaller) {
  ASSERT_EQ(Toolkit().Control("siglen 300"), 0);
  EXPECT_EQ(Sign(*ea, Text("doc")).code, -2);
  ASSERT_EQ(Toolkit().Control("siglen 255"), 0);
  EXPECT_EQ(Sign(*ea, Text("doc")).data.size(), 255u);
}

TEST_F(VerbaEngine, TextsOfEngineBindingAndToolkit) {
  EXPECT_EQ(ErrorText(*ea, -11), "Encoding abonent(s) isn't set or set incorrect.");
  EXPECT_EQ(ErrorText(*ea, -113), "Невозможно загрузить библиотеку ПБЗИ wbotho.dll");
  EXPECT_EQ(ErrorText(*ea, -10),
            "Ошибка в формате UID(ов), UID(ы) не задан(ы), либо его(их) невозможно определить.");
  EXPECT_EQ(ErrorText(*ea, 2), "Сбой криптографической функции или искаже-ние тела библиотеки");
  EXPECT_EQ(ErrorText(*ea, 38), "В драйвере ASYNCR нет свободных \"слотов\"");
  EXPECT_EQ(ErrorText(*ea, 1001), "Подпись не верна");
  EXPECT_EQ(ErrorText(*ea, 5), "Verba-OW error code: 5");
  EXPECT_EQ(ErrorText(*ea, 9), "Verba-OW error code: 9");
  EXPECT_EQ(ea->GetCurrentUID(nullptr), -2);
  char type[32] = {};
  ea->GetCryptoEngineType(type);
  EXPECT_STREQ(type, "Verba-OW/4");
  EXPECT_EQ(ea->GetCryptoParamNumber(), 12);
}

}  // namespace
}  // namespace vowtest
