// The Excellence engine's own behaviour against the stand-in: its formats checked independently
// (libgcrypt for signatures, an envelope opened by hand), recipients, earlier key generations,
// codes and texts, bounds on the toolkit's output, the touch-memory wait and key upkeep.
#include <gcrypt.h>

#include <algorithm>
#include <cstring>

#include "excellence/exc4_fixture.h"
#include "frame/cp1251.h"
#include "gost.h"
#include "keywrap.h"

namespace exctest {
namespace {

class Exc4Engine : public ExcTest {
 protected:
  void SetUp() override {
    ExcTest::SetUp();
    box.AddUser("ALICE", "secret");
    box.AddUser("BOB", "secret");
    box.ExchangeKeys({"ALICE", "BOB"});
    Prompts().answers = {"secret"};
    alice = box.Engine("ALICE");
    bob = box.Engine("BOB");
  }
  Sandbox box;
  std::unique_ptr<zk::TExc4CryptoEngine> alice, bob;
};

void Digest(const Bytes& data, uint8_t out[32]) {
  gost::R3411Hash h;
  h.InitCryptoPro();
  h.Update(data.data(), data.size());
  h.Final(out);
}

gcry_mpi_t MpiLe(const uint8_t* le, size_t len) {
  std::vector<uint8_t> be(le, le + len);
  std::reverse(be.begin(), be.end());
  gcry_mpi_t v = nullptr;
  gcry_mpi_scan(&v, GCRYMPI_FMT_USG, be.data(), be.size(), nullptr);
  return v;
}

// r (LE, at 20) and s (at 52) of the signature block over GOST R 34.11-94 of the data, checked by
// libgcrypt with the signer's key from the stand-in's provisioning export.
bool LibgcryptAccepts(const std::string& secretDir, const Bytes& data, const Bytes& signature) {
  uint8_t sign[64], exchange[64], digest[32];
  if (StandIn::Get().PublicKey(secretDir.c_str(), 0, sign, exchange) != 0 || signature.size() != 84) return false;
  Digest(data, digest);
  uint8_t point[65] = {4};
  for (int i = 0; i < 32; ++i) {
    point[1 + i] = sign[31 - i];
    point[33 + i] = sign[63 - i];
  }
  gost::InitLibgcrypt();
  gcry_mpi_t e = MpiLe(digest, 32), r = MpiLe(signature.data() + 20, 32), s = MpiLe(signature.data() + 52, 32);
  gcry_sexp_t pub = nullptr, hash = nullptr, sig = nullptr;
  gcry_sexp_build(&pub, nullptr, "(public-key (ecc (curve GOST2001-CryptoPro-A) (q %b)))", 65, point);
  gcry_sexp_build(&hash, nullptr, "(data (flags gost) (value %m))", e);
  gcry_sexp_build(&sig, nullptr, "(sig-val (gost (r %m) (s %m)))", r, s);
  const bool good = gcry_pk_verify(sig, hash, pub) == 0;
  for (gcry_mpi_t m : {e, r, s}) gcry_mpi_release(m);
  for (gcry_sexp_t x : {pub, hash, sig}) gcry_sexp_release(x);
  return good;
}

TEST_F(Exc4Engine, SignaturesVerifyForCorrespondentsAndWithLibgcrypt) {
  const Bytes order = Text("Payment order 17: 1000.00 RUB");
  const SignResult signed_ = Sign(*alice, order);
  ASSERT_EQ(signed_.code, 0);
  EXPECT_EQ(signed_.signature.size(), 84u);
  EXPECT_TRUE(LibgcryptAccepts(box.SecretDir("ALICE"), order, signed_.signature));
  const VerifyResult checked = Verify(*bob, order, signed_.signature);
  EXPECT_EQ(checked.code, 0);
  EXPECT_EQ(checked.signer, "ALICE");
  for (size_t bit : {0u, 37u, 100u, 140u, 200u, 500u, 671u}) {
    Bytes forged = signed_.signature;
    forged[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    EXPECT_NE(Verify(*bob, order, forged).code, 0) << bit;
  }
  Bytes changed = order;
  changed[3] ^= 0x10;
  EXPECT_EQ(Verify(*bob, changed, signed_.signature).code, 12);
  EXPECT_FALSE(LibgcryptAccepts(box.SecretDir("ALICE"), changed, signed_.signature));
  box.AddUser("CAROL", "secret");
  EXPECT_EQ(Verify(*box.Engine("CAROL"), order, signed_.signature).code, 11) << "Alice is unknown to Carol";
}

// Bob's exchange secret out of his key file by its documented layout, then the envelope for him.
Bytes OpenByHand(const Sandbox& box, const std::string& password, const Bytes& envelope) {
  Bytes file(249);
  FILE* in = std::fopen((box.SecretDir("BOB") + "/exc001.key").c_str(), "rb");
  if (in == nullptr || std::fread(file.data(), 1, file.size(), in) != file.size()) return {};
  std::fclose(in);
  uint8_t kek[32], secrets[64];
  gost::R3411Hash h;
  h.InitCryptoPro();
  h.Update(file.data() + 161, 8);
  h.Update(reinterpret_cast<const uint8_t*>(password.data()), password.size());
  h.Final(kek);
  gost::Gost28147 cipher;
  cipher.SetKey(kek, gost::kSboxR3411TestParams);
  gost::GammaFeedbackMode cfb;
  cfb.Init(&cipher, file.data() + 169);
  cfb.Decrypt(file.data() + 177, secrets, 64);

  uint8_t sign[64], exchange[64];
  StandIn::Get().PublicKey(box.SecretDir("ALICE").c_str(), 0, sign, exchange);
  gost::r3410_2001::Point sender;
  std::memcpy(sender.x, exchange, 32);
  std::memcpy(sender.y, exchange + 32, 32);
  const size_t n = envelope[4];
  const uint8_t* ukm = envelope.data() + 16;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* entry = envelope.data() + 24 + 44 * i;
    uint8_t agreed[32], cek[32];
    if (gost::Vko2001(gost::r3410_2001::Curve::CryptoProA, secrets + 32, sender, ukm, agreed) != 0 ||
        !gost::UnwrapKey(agreed, ukm, entry + 8, gost::kSboxR3411TestParams, cek)) {
      continue;
    }
    const uint8_t* iv = envelope.data() + 24 + 44 * n;
    Bytes plain(envelope.size() - (24 + 44 * n + 12));
    gost::Gost28147 body;
    body.SetKey(cek, gost::kSboxR3411TestParams);
    gost::GammaFeedbackMode mode;
    mode.Init(&body, iv);
    mode.Decrypt(iv + 12, plain.data(), plain.size());
    return plain;
  }
  return {};
}

TEST_F(Exc4Engine, EnvelopesOpenForTheirRecipientsOnlyAndByHand) {
  const Bytes statement = Text("Statement for account 40702810900000000017");
  const CodecResult sealed = Encode(*alice, statement, "BOB");
  ASSERT_EQ(sealed.code, 0);
  EXPECT_EQ(sealed.data.size(), statement.size() + 36 + 44 * 2) << "the sender and Bob";
  EXPECT_EQ(OpenByHand(box, "secret", sealed.data), statement);
  for (auto* reader : {bob.get(), alice.get()}) {
    const CodecResult opened = Decode(*reader, sealed.data);
    EXPECT_EQ(opened.code, 0);
    EXPECT_EQ(opened.data, statement);
    EXPECT_EQ(opened.sender, "ALICE");
  }
  box.AddUser("CAROL", "secret");
  EXPECT_EQ(Decode(*box.Engine("CAROL"), sealed.data).code, 13);
  // Any bit: Alice's entry, Bob's, the head, the MAC, the body.
  for (size_t bit = 0; bit < sealed.data.size() * 8; bit += 37) {
    Bytes damaged = sealed.data;
    damaged[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    EXPECT_NE(Decode(*bob, damaged).code, 0) << bit;
  }
}

TEST_F(Exc4Engine, RecipientsComeFromTheListOrTheParameter) {
  const Bytes note = Text("note");
  // Without recipients only the sender can read it.
  const CodecResult own = Encode(*alice, note, nullptr);
  ASSERT_EQ(own.code, 0);
  EXPECT_EQ(Decode(*bob, own.data).code, 13);
  Configure(*alice, kEncryptForUID, "  BOB ");
  const CodecResult forBob = Encode(*alice, note, "");
  ASSERT_EQ(forBob.code, 0);
  EXPECT_EQ(Decode(*bob, forBob.data).code, 0);
  EXPECT_EQ(Encode(*alice, note, "BOB;CAROL").code, 11) << "the lookup of the unknown second";
  EXPECT_EQ(ErrorString(*alice, 11), "User or key not found");
  EXPECT_EQ(Encode(*alice, note, "BOB;").code, -107);
}

TEST_F(Exc4Engine, EarlierKeysDecodeWithUsePreviousKeys) {
  const Bytes old = Text("sent before Bob renewed his keys");
  const CodecResult sealed = Encode(*alice, old, "BOB");
  ASSERT_EQ(sealed.code, 0);
  box.AddUser("BOB", "secret");  // generation 2
  EXPECT_EQ(Decode(*bob, sealed.data).code, 13);
  for (const char* previous : {"-1", "1"}) {
    Configure(*bob, kPreviousKeys, previous);
    const CodecResult opened = Decode(*bob, sealed.data);
    EXPECT_EQ(opened.code, 0) << previous;
    EXPECT_EQ(opened.data, old);
  }
  Configure(*bob, kPreviousKeys, "-3");
  EXPECT_EQ(Decode(*bob, sealed.data).code, -108);
  Configure(*bob, kPreviousKeys, "last");
  EXPECT_EQ(Decode(*bob, sealed.data).code, -108);
}

TEST_F(Exc4Engine, CodesAndTexts) {
  char type[32];
  alice->GetCryptoEngineType(type);
  EXPECT_STREQ(type, "Excellence/4.0");
  const Bytes data = Text("data");
  for (const char* length : {"abc", "70000", "-1"}) {
    Configure(*alice, kSigKeyLen, length);
    EXPECT_EQ(Sign(*alice, data).code, -110) << length;
  }
  Configure(*alice, kSigKeyLen, "");
  Configure(*alice, kPort, "COM1");
  EXPECT_EQ(Sign(*alice, data).code, -111);
  EXPECT_EQ(ErrorString(*alice, -111), "\"Device type\" and \"Port number\" parameters must contain numeric value");
  Configure(*alice, kPort, "");
  EXPECT_EQ(Verify(*alice, data, Bytes(1025, 1)).code, -101);
  EXPECT_EQ(alice->SignData(data.data(), 4, Bytes(1024).data(), nullptr, nullptr), -102);
  EXPECT_EQ(ErrorString(*alice, -102).rfind("An exception in the function TExc4CryptoEngine.SignData: EAccessViolation", 0),
            0u);
  // Null outputs are refused before any work, and a UID too long for the toolkit's key buffer.
  Bytes buffer(data.begin(), data.end());
  int32_t length = static_cast<int32_t>(buffer.size());
  EXPECT_EQ(bob->DecodeData(buffer.data(), &length, nullptr), -101);
  EXPECT_EQ(bob->VerifyData(data.data(), 4, Bytes(84, 1).data(), 84, nullptr), -101);
  EXPECT_EQ(Encode(*alice, data, std::string(300, 'U').c_str()).code, -9);
  Configure(*alice, kLanguage, "RU");
  EXPECT_EQ(Encode(*alice, data, "CAROL").code, 11);
  EXPECT_EQ(zk::Cp1251ToUtf8(ErrorString(*alice, 11)), "Пользователь или ключ не найден");
}

// Ten settings before every operation (no work directory); a master key file instead of the three device settings
// even when a device DLL is set; a refused setting gives the binding's -8.
TEST_F(Exc4Engine, SettingsArePushedBeforeEveryOperation) {
  const auto pushed = [&](const char* masterKey, const char* deviceDll) {
    Configure(*alice, 13, masterKey);
    Configure(*alice, kDeviceDll, deviceDll);
    StandIn::Get().Control("reset");
    char uid[256];
    alice->GetCurrentUID(uid);
    return StandIn::Get().Calls("SetUserSettings");
  };
  EXPECT_EQ(pushed("", ""), 10);
  EXPECT_EQ(pushed("", "tm.dll"), 13);
  EXPECT_EQ(pushed(box.PublicFile("ALICE").c_str(), "tm.dll"), 11);
  Configure(*alice, 13, "");
  Configure(*alice, kDeviceDll, "");
  StandIn::Get().Control("fail SetUserSettings 3 1");
  EXPECT_EQ(Sign(*alice, Text("x")).code, -8);
  EXPECT_EQ(ErrorString(*alice, -8), "Can't set crypto parameters");
  EXPECT_EQ(ErrorString(*alice, -2), "Error -2") << "not the binding's own code: the toolkit's text";
}

TEST_F(Exc4Engine, FailedOpeningFailsTheEngineForGood) {
  StandIn::Get().Control("answer OpenCrypto 1 1");
  const int opened = StandIn::Get().Calls("OpenCrypto");
  zk::TExc4CryptoEngine engine;
  char uid[256];
  EXPECT_EQ(engine.GetCurrentUID(uid), -100);
  EXPECT_EQ(ErrorString(engine, -100), "Library not initialized\r\nCan't get crypto data from library");
  EXPECT_EQ(Sign(engine, Text("x")).code, -100);
  EXPECT_EQ(StandIn::Get().Calls("OpenCrypto"), opened + 1);
}

TEST_F(Exc4Engine, OutputThatWouldNotFitIsRefused) {
  const Bytes data = Text("payment");
  StandIn::Get().Control("answer CryptoMemoryToNewMemory.pad 401 1");
  EXPECT_EQ(Encode(*alice, data, "BOB").code, -101);
  StandIn::Get().Control("answer CryptoMemoryToNewMemory.pad 941 1");
  EXPECT_EQ(Sign(*alice, data).code, -101);
  const CodecResult sealed = Encode(*alice, data, "BOB");
  ASSERT_EQ(sealed.code, 0);
  StandIn::Get().Control("answer CryptoMemoryToNewMemory.pad 200 1");
  EXPECT_EQ(Decode(*bob, sealed.data).code, -101);
}

TEST_F(Exc4Engine, TouchMemoryKeyIsWaitedForWithThePrompt) {
  Configure(*alice, kSecretKeyDir, box.Root() + "/nowhere");
  Configure(*alice, kDeviceDll, "tm.dll");
  Configure(*alice, kPort, "1");
  EXPECT_EQ(Sign(*alice, Text("x")).code, 92) << "no key attached, no prompt: at once";
  StandIn::Get().AttachDevice(1, box.SecretDir("ALICE").c_str());
  EXPECT_EQ(Sign(*alice, Text("x")).code, 0);
  alice->TMRequestFunc = &RecordTMState;
  StandIn::Get().Control("answer CryptoMemoryToNewMemory 92 2");
  EXPECT_EQ(Sign(*alice, Text("x")).code, 0);
  EXPECT_EQ(TMStates(), (std::vector<int32_t>{0, 1}));
  // A key that never comes: the window time-out of 2 s, then 92, the prompt closed.
  Configure(*alice, kTMTimeout, "2");
  TMStates().clear();
  StandIn::Get().Control("reset");
  StandIn::Get().Control("answer CryptoMemoryToNewMemory 92 1000");
  EXPECT_EQ(Sign(*alice, Text("x")).code, 92);
  EXPECT_EQ(TMStates(), (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(StandIn::Get().Calls("CryptoMemoryToNewMemory"), 6) << "at 0, 0.5, ... 2.5 s";
}

// One flipped bit in the owner's key file, in its public part or in the wrapped secrets: the store
// is damaged (18), not mistaken for a wrong password; put back, the key works again.
TEST_F(Exc4Engine, DamagedKeyFileFails) {
  const std::string path = box.SecretDir("ALICE") + "/exc001.key";
  for (const auto& [at, code] : {std::pair{40, 18}, {200, 18}}) {
    Bytes file(249);
    FILE* in = std::fopen(path.c_str(), "rb");
    ASSERT_EQ(std::fread(file.data(), 1, file.size(), in), file.size());
    std::fclose(in);
    file[at] ^= 0x01;
    FILE* out = std::fopen(path.c_str(), "wb");
    std::fwrite(file.data(), 1, file.size(), out);
    std::fclose(out);
    Prompts().answers = {"secret"};
    EXPECT_EQ(Sign(*alice, Text("x")).code, code) << at;
    file[at] ^= 0x01;
    out = std::fopen(path.c_str(), "wb");
    std::fwrite(file.data(), 1, file.size(), out);
    std::fclose(out);
  }
  EXPECT_EQ(Sign(*alice, Text("x")).code, 0);
}

TEST_F(Exc4Engine, PublicKeysAreIncludedAndRemoved) {
  EXPECT_EQ(alice->IncludePublicKey((box.Root() + "/none.pub").c_str()), -112);
  EXPECT_EQ(alice->IncludePublicKey(box.PublicFile("ALICE").c_str()), 20) << "the own key";
  box.AddUser("CAROL", "secret");
  Bytes forged(225);
  FILE* in = std::fopen(box.PublicFile("CAROL").c_str(), "rb");
  ASSERT_EQ(std::fread(forged.data(), 1, forged.size(), in), forged.size());
  std::fclose(in);
  forged[200] ^= 1;
  FILE* out = std::fopen((box.Root() + "/forged.pub").c_str(), "wb");
  std::fwrite(forged.data(), 1, forged.size(), out);
  std::fclose(out);
  EXPECT_EQ(alice->IncludePublicKey((box.Root() + "/forged.pub").c_str()), 12);
  EXPECT_EQ(alice->RemoveCertificate("ALICE"), 20) << "the own key stays";
  EXPECT_EQ(alice->RemoveCertificate("BOB"), 0);
  EXPECT_EQ(Encode(*alice, Text("x"), "BOB").code, 11);
}

}  // namespace
}  // namespace exctest
