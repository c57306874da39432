// The Validata engine on the stand-in: signatures and their reports, envelopes for several
// recipients, the settings and the shared bindings, and the checks of arguments.
#include <algorithm>
#include <cstring>

#include "frame/cp1251.h"
#include "frame/mimecode.h"

#include "validata/vldt_fixture.h"

namespace vtest {
namespace {

using zk::validata::kErrArguments;
using zk::validata::kErrCertChoice;

class ValidataEngine : public ::testing::Test {
 protected:
  void SetUp() override { StandIn::Get().Control("reset"); }
  zk::test::TempDir stores_;
  std::string Stores() const { return stores_.Dir(); }

  Bytes Sign(zk::TCryptoEngine& engine, const Bytes& data, int32_t expect = 0) {
    Bytes sig(2048);
    int32_t len = 0;
    EXPECT_EQ(engine.SignData(data.data(), static_cast<int32_t>(data.size()), sig.data(), &len, ""), expect);
    sig.resize(static_cast<size_t>(len));
    return sig;
  }
  int32_t Verify(zk::TCryptoEngine& engine, const Bytes& data, const Bytes& sig, std::string& result) {
    std::vector<char> out(4096, 0);
    std::memcpy(out.data(), result.c_str(), result.size() + 1);
    const int32_t r = engine.VerifyData(data.data(), static_cast<int32_t>(data.size()), sig.data(),
                                        static_cast<int32_t>(sig.size()), out.data());
    result = out.data();
    return r;
  }
};

TEST_F(ValidataEngine, SignAndVerifyReports) {
  auto alice = EngineFor("alice", Stores());
  auto bob = EngineFor("bob", Stores());
  char uid[4096] = {};
  ASSERT_EQ(alice->GetCurrentUID(uid), 0);
  EXPECT_STREQ(uid, "alice");
  const Bytes data = {'p', 'a', 'y', ' ', '1', '0', '0'};
  const Bytes sig = Sign(*alice, data);
  ASSERT_FALSE(sig.empty());
  std::string result;
  EXPECT_EQ(Verify(*bob, data, sig, result), 0);
  EXPECT_EQ(result, "alice");

  result = "ShowCertificate_OnSuccess";
  EXPECT_EQ(Verify(*bob, data, sig, result), 0);
  EXPECT_EQ(result, "alice");
  EXPECT_EQ(StandIn::Get().Calls("VCERT_ShowCertificate"), 1);

  result = "GetCertificateProperties_OnSuccess";
  EXPECT_EQ(Verify(*bob, data, sig, result), 0);
  EXPECT_EQ(result.substr(0, 33), "ICN=Root\r\nIO=Bank\r\nIC=RU\r\nSN=0A01");
  EXPECT_NE(result.find("\r\nCN=alice\r\nO=Bank\r\nC=RU\r\nPKeyAlg=rsaEncryption\r\nNotBefore="), std::string::npos);
  EXPECT_NE(result.find("\r\nSKU=DigitalSignature;KeyEncipherment(A0)\r\n"), std::string::npos);

  result = "GetCertificate_OnSuccess";
  EXPECT_EQ(Verify(*bob, data, sig, result), 0);
  const std::string head = "-----BEGIN CERTIFICATE-----\r\n", tail = "\r\n-----END CERTIFICATE-----";
  ASSERT_EQ(result.substr(0, head.size()), head);
  ASSERT_EQ(result.substr(result.size() - tail.size()), tail);
  EXPECT_EQ(result.find('\n', head.size()), result.size() - tail.size() + 1) << "one line of Base64";

  // Any change of data or signature is refused; the result buffer keeps the caller's text.
  Bytes changed = data;
  changed[0] ^= 1;
  result = "";
  EXPECT_NE(Verify(*bob, changed, sig, result), 0);
  Bytes broken = sig;
  broken[broken.size() - 5] ^= 0x10;
  EXPECT_NE(Verify(*bob, data, broken, result), 0);
  // Not a signature at all.
  EXPECT_NE(Verify(*bob, data, data, result), 0);
}

TEST_F(ValidataEngine, SignerChecks) {
  auto alice = EngineFor("alice", Stores());
  const Bytes data = {1, 2, 3};
  Bytes sig(2048);
  int32_t len = 0;
  // Only the own key signs.
  EXPECT_EQ(alice->SignData(data.data(), 3, sig.data(), &len, "bob"), kErrCertChoice);
  EXPECT_EQ(alice->SignData(data.data(), 3, sig.data(), &len, "alice"), 0);
  EXPECT_EQ(alice->SignData(data.data(), 0, sig.data(), &len, ""), kErrArguments);
  EXPECT_EQ(alice->SignData(data.data(), 3, sig.data(), nullptr, ""), kErrArguments);
  // Sign EKU restrictions: a signer listing usages must carry one of them; one listing none passes.
  auto erin = EngineFor("erin", Stores());
  auto dave = EngineFor("dave", Stores());
  const Bytes byErin = Sign(*erin, data), byDave = Sign(*dave, data), byAlice = Sign(*alice, data);
  auto checker = EngineFor("bob", Stores());
  Configure(*checker, kSignEku, "1.3.6.1.5.5.7.3.4;1.2.3.4");
  std::string result;
  EXPECT_EQ(Verify(*checker, data, byErin, result), zk::validata::kErrEku);
  EXPECT_EQ(Verify(*checker, data, byAlice, result), 0);
  EXPECT_EQ(Verify(*checker, data, byDave, result), 0);
  EXPECT_EQ(result, "dave");
}

TEST_F(ValidataEngine, EnvelopeForSeveral) {
  auto alice = EngineFor("alice", Stores());
  // Correspondents' certificates: DER, and PEM armour with line breaks.
  ASSERT_EQ(alice->IncludePublicKey(Pki::Get().Cert("bob").c_str()), 0);
  const std::string carolPem = Stores() + "/carol.pem";
  {
    const Bytes der = ReadBytes(Pki::Get().Cert("carol"));
    uint8_t* b64 = nullptr;
    int32_t n = 0;
    zk::MimeEncode(der.data(), static_cast<int32_t>(der.size()), &b64, &n);
    std::string text = "junk before\n-----BEGIN CERTIFICATE-----\n";
    for (int32_t i = 0; i < n; i += 64) text += std::string(reinterpret_cast<char*>(b64) + i, std::min(64, n - i)) + "\n";
    text += "-----END CERTIFICATE-----\n";
    zk::MimeFree(b64);
    WriteBytes(carolPem, Bytes(text.begin(), text.end()));
  }
  ASSERT_EQ(alice->IncludePublicKey(carolPem.c_str()), 0);

  const Bytes plain = {'s', 'e', 'c', 'r', 'e', 't', '!'};
  Bytes buf(plain.size() + 4096);
  std::copy(plain.begin(), plain.end(), buf.begin());
  int32_t len = static_cast<int32_t>(plain.size());
  // A recipient without a certificate: refused, the data untouched.
  EXPECT_EQ(alice->EncodeData(buf.data(), &len, "bob;nobody"), kErrCertChoice);
  EXPECT_EQ(len, 7);
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), buf.begin()));
  // "Ivan" must not reach "Ivanov": whole common names only.
  EXPECT_EQ(alice->EncodeData(buf.data(), &len, "bo"), kErrCertChoice);
  EXPECT_EQ(alice->EncodeData(buf.data(), &len, ""), zk::validata::kErrNoUID);
  // An envelope larger than the room the caller was told of (DataLen + 4096) is refused whole.
  std::string many;
  for (int i = 0; i < 16; ++i) many += "bob;";
  EXPECT_EQ(alice->EncodeData(buf.data(), &len, many.c_str()), zk::validata::kErrTooLarge);
  EXPECT_EQ(len, 7);
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), buf.begin()));
  Configure(*alice, kEncryptFor, "bob;carol");
  ASSERT_EQ(alice->EncodeData(buf.data(), &len, nullptr), 0);
  const Bytes envelope(buf.begin(), buf.begin() + len);

  for (const char* user : {"bob", "carol"}) {
    auto reader = EngineFor(user, Stores());
    Bytes copy = envelope;
    int32_t n = static_cast<int32_t>(copy.size());
    char sender[8] = "garbage";
    ASSERT_EQ(reader->DecodeData(copy.data(), &n, sender), 0) << user;
    EXPECT_EQ(Bytes(copy.begin(), copy.begin() + n), plain);
    EXPECT_STREQ(sender, "");
  }
  Bytes copy = envelope;
  int32_t n = static_cast<int32_t>(copy.size());
  char sender[8];
  EXPECT_EQ(EngineFor("dave", Stores())->DecodeData(copy.data(), &n, sender), 9) << "not a recipient";
  EXPECT_EQ(n, static_cast<int32_t>(envelope.size()));
}

TEST_F(ValidataEngine, SharedBindingsAndContexts) {
  const StandIn& s = StandIn::Get();
  auto a1 = EngineFor("alice", Stores());
  auto a2 = EngineFor("alice", Stores());
  a1->ClearCash();
  s.Control("reset");
  char uid[4096];
  ASSERT_EQ(a1->GetCurrentUID(uid), 0);
  ASSERT_EQ(a2->GetCurrentUID(uid), 0);
  EXPECT_EQ(s.Calls("VCERT_InitializeEx"), 1) << "equal settings share one binding and context";
  Configure(*a2, kCashId, "second");
  ASSERT_EQ(a2->GetCurrentUID(uid), 0);
  EXPECT_EQ(s.Calls("VCERT_InitializeEx"), 2);
  // A time-out of 0: a fresh context for every operation.
  Configure(*a2, kLastOpTimeout, "0");
  ASSERT_EQ(a2->GetCurrentUID(uid), 0);
  ASSERT_EQ(a2->GetCurrentUID(uid), 0);
  EXPECT_EQ(s.Calls("VCERT_InitializeEx"), 4);
  EXPECT_EQ(s.Calls("VCERT_Uninitialize"), 2);
  Configure(*a2, kLastOpTimeout, "five");
  EXPECT_EQ(a2->GetCurrentUID(uid), zk::validata::kErrException);
  EXPECT_NE(Text(*a2, zk::validata::kErrException).find("TValidataEngine.GetCurrentUID: "), std::string::npos);
  // A failed re-initialisation keeps no context: the next call initialises again.
  Configure(*a2, kLastOpTimeout, "0");
  s.Control("answer VCERT_InitializeEx 8 1");
  EXPECT_EQ(a2->GetCurrentUID(uid), 8);
  ASSERT_EQ(a2->GetCurrentUID(uid), 0);
  a1->ClearCash();
  EXPECT_EQ(s.Calls("VCERT_Uninitialize"), 5) << "every binding's context is released";
}

TEST_F(ValidataEngine, SettingsAndKeys) {
  zk::TValidataEngine engine;
  Configure(engine, kInitFlags, "noCrlUpdate;CheckExpired");
  Configure(engine, kServerMode, "server");
  Configure(engine, kUidLocation, "serialNumber");
  zk::validata::TValidataSettings s;
  ASSERT_EQ(engine.ReadSettings(s), 0);
  EXPECT_EQ(s.Flags, 3u);
  EXPECT_TRUE(s.Server);
  EXPECT_EQ(s.UidLocation, "SERIALNUMBER");
  EXPECT_EQ(s.RequestTimeout, 60);
  EXPECT_EQ(s.LastOpTimeout, 5);
  // Keys never run values together, and carry the flags.
  zk::validata::TValidataSettings a, b;
  a.Pse = "ab";
  a.Store = "c";
  b.Pse = "a";
  b.Store = "bc";
  EXPECT_NE(zk::validata::SettingsKey(a), zk::validata::SettingsKey(b));
  b = a;
  b.Flags = 2;
  EXPECT_NE(zk::validata::SettingsKey(a), zk::validata::SettingsKey(b));
  char type[64];
  engine.GetCryptoEngineType(type);
  EXPECT_EQ(std::strlen(type) + 1, 23u);
  EXPECT_EQ(engine.GetCryptoParamNumber(), 13);
}

TEST_F(ValidataEngine, SerialLocationAndServerMode) {
  auto alice = EngineFor("alice", Stores());
  Configure(*alice, kUidLocation, "SN");
  char uid[4096];
  ASSERT_EQ(alice->GetCurrentUID(uid), 0);
  EXPECT_STREQ(uid, "0A01");
  ASSERT_EQ(alice->IncludePublicKey(Pki::Get().Cert("bob").c_str()), 0);
  Bytes buf(3 + 4096, 7);
  int32_t len = 3;
  ASSERT_EQ(alice->EncodeData(buf.data(), &len, "0a02"), 0) << "bob by serial, under alice's issuer";
  auto bob = EngineFor("bob", Stores());
  char sender[4];
  ASSERT_EQ(bob->DecodeData(buf.data(), &len, sender), 0);
  EXPECT_EQ(len, 3);
  // Server mode: the own certificate must carry the server EKU.
  Configure(*alice, kServerMode, "SERVER");
  Configure(*alice, kServerEku, "1.3.6.1.5.5.7.3.1");
  EXPECT_EQ(alice->GetCurrentUID(uid), zk::validata::kErrNoOwnCert);
  Configure(*alice, kServerEku, "1.3.6.1.5.5.7.3.4");
  EXPECT_EQ(alice->GetCurrentUID(uid), 0);
  const Bytes data = {1};
  EXPECT_FALSE(Sign(*alice, data).empty());
}

// The settings follow the root of the moment: a PSE under %ZEXRoot% is looked for there.
TEST_F(ValidataEngine, SettingsFollowTheRoot) {
  char own[4096], uid[4096];
  ASSERT_EQ(EngineFor("alice", Stores())->GetCurrentUID(own), 0);
  zk::TValidataEngine engine;
  Configure(engine, kPse, "%ZEXRoot%alice.pse");
  Configure(engine, kStore, Stores() + "/alice.store");
  for (const std::string& root : {Stores(), Pki::Get().Dir(), Stores()}) {
    engine.SetEngineRootPath(root);
    const int32_t r = engine.GetCurrentUID(uid);
    if (root == Stores()) {
      EXPECT_NE(r, 0) << "no PSE under " << root;
    } else {
      ASSERT_EQ(r, 0);
      EXPECT_STREQ(uid, own);
    }
  }
}

TEST_F(ValidataEngine, ArgumentsAndTexts) {
  zk::TValidataEngine engine;
  char uid[4096];
  EXPECT_EQ(engine.GetCurrentUID(nullptr), kErrArguments);
  EXPECT_EQ(engine.GetEncodeUIDBySignUID(nullptr, uid), kErrArguments);
  EXPECT_EQ(engine.GetEncodeUIDBySignUID("x", uid), 0);
  EXPECT_STREQ(uid, "x");
  EXPECT_EQ(engine.EncodeData(nullptr, nullptr, "a"), kErrArguments);
  EXPECT_EQ(engine.IncludePublicKey(""), zk::validata::kErrNoCertFile);
  EXPECT_EQ(engine.IncludeCRL(""), zk::validata::kErrNoCrlFile);
  EXPECT_EQ(Text(engine, -21), zk::Utf8ToCp1251("Невозможно загрузить библиотеку ПБЗИ cpki1.dll"));
  EXPECT_EQ(Text(engine, -1), zk::Utf8ToCp1251("Функция не поддерживается библиотекой."));
  const std::string five = Text(engine, -5);
  EXPECT_EQ(five.size(), zk::Utf8ToCp1251("Ошибка выбора сертификата. Либо найдено несколько сертификатов с заданным "
                                          "UID'ом, либо такие сертификаты отсутствуют.").size());
  // Toolkit codes: the toolkit's text (a default engine's PSE does not exist, its binding does).
  EXPECT_EQ(Text(engine, 6), "Certificate has been revoked");
}

}  // namespace
}  // namespace vtest
