// The engine's own behaviour: what fails as a real toolkit would (wrong key, forged signature, a
// flipped bit), its limits and codes, the certificate directory on disk, and its texts.
#include <atomic>
#include <filesystem>
#include <thread>

#include "ccom22/cc_fixture.h"
#include "engines/ccom22/cc_codes.h"
#include "frame/cp1251.h"
#include "platform/platform.h"

namespace cctest {
namespace {

namespace fs = std::filesystem;

class CcEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    box.AddUser("A", 11);
    box.AddUser("B", 12);
    box.GiveCert("A", "B");
    box.GiveCert("B", "A");
    a = EngineFor(box, "A");
    b = EngineFor(box, "B");
  }
  void TearDown() override {
    a->ClearCash();
    StandIn::Get().SetSignatureLength(0);
    StandIn::Get().Control("reset");
    zk::platform::SetFileFaultHookForTesting(nullptr);
  }
  Sandbox box;
  std::unique_ptr<zk::TCcom22Engine> a, b;
};

TEST_F(CcEngine, TamperingFailsAsWithTheToolkit) {
  const Bytes data = RandomBytes(700, 4);
  const Result sig = Sign(*a, data);
  ASSERT_EQ(sig.code, 0);
  Bytes changed = data;
  changed[350] ^= 0x10;
  EXPECT_EQ(Verify(*b, changed, sig.data).code, -65);
  for (size_t at : {size_t{3}, size_t{40}, size_t{80}, sig.data.size() - 1}) {
    Bytes forged = sig.data;
    forged[at] ^= 0x01;
    EXPECT_NE(Verify(*b, data, forged).code, 0) << "bit flipped at " << at;
  }
  EXPECT_EQ(Verify(*b, data, Bytes(sig.data.begin(), sig.data.end() - 1)).code, -65);
  EXPECT_EQ(Verify(*b, data, Bytes(sig.data.begin(), sig.data.begin() + 32)).code, 106);

  const Result rec = Encode(*a, data, "B.1");
  ASSERT_EQ(rec.code, 0);
  EXPECT_EQ(Decode(*b, rec.data).data, data);
  EXPECT_EQ(Decode(*a, rec.data).code, 120) << "A holds no key with B's number";
  for (size_t at : {size_t{20}, size_t{16 + 704 + 50}, rec.data.size() - 3}) {
    Bytes flipped = rec.data;
    flipped[at] ^= 0x04;
    EXPECT_NE(Decode(*b, flipped).code, 0) << "bit flipped at " << at;
  }
  Bytes wrongLength = rec.data;
  wrongLength[4] ^= 0x01;  // C no longer adds up: refused before any toolkit call
  EXPECT_EQ(Decode(*b, wrongLength).code, 4);
}

TEST_F(CcEngine, LimitsOfSignaturesUpdatesAndPackages) {
  const StandIn& s = StandIn::Get();
  // 65496 bytes and the 32-byte signer block make one 16-bit update; one byte more, two.
  for (size_t size : {size_t{65496}, size_t{65497}}) {
    s.Control("reset");
    ASSERT_EQ(Sign(*a, Bytes(size, 7)).code, 0);
    EXPECT_EQ(s.Calls("BufferSignUpdate"), size == 65496 ? 1 : 2) << size;
  }
  ASSERT_EQ(s.SetSignatureLength(512), 0);
  const Result longest = Sign(*a, Bytes(10, 1));
  ASSERT_EQ(longest.code, 0);
  EXPECT_EQ(longest.data.size(), 544u);
  EXPECT_EQ(Verify(*b, Bytes(10, 1), longest.data).code, 0);
  ASSERT_EQ(s.SetSignatureLength(513), 0);
  EXPECT_EQ(Sign(*a, Bytes(10, 1)).code, 5);
  s.SetSignatureLength(0);

  const Bytes data = RandomBytes(64, 5);
  std::string fifteen = "B.1";
  for (int i = 0; i < 14; ++i) fifteen += ";B.1";
  EXPECT_EQ(Encode(*a, data, fifteen.c_str()).code, 104) << "the package would outgrow its room";
  EXPECT_EQ(Encode(*a, data, "B.1;").code, 112) << "a trailing ';' names an empty recipient";
  EXPECT_EQ(Encode(*a, data, "B.1;0123456789012345678901234567890.1").code, 110);
  const Result fourteen = Encode(*a, data, fifteen.substr(4).c_str());
  ASSERT_EQ(fourteen.code, 0);
  EXPECT_EQ(fourteen.data.size(), 8 + 288 * 14 + 12 + 64 + 4 + 8u);
  EXPECT_EQ(Decode(*b, fourteen.data).data, data);

  Bytes huge = fourteen.data;
  huge[4] = 0xFF;  // N far beyond the data
  EXPECT_EQ(Decode(*b, huge).code, 4);
  Bytes slot = fourteen.data;
  slot[8 + 32 * 14] = 0xFD;  // a key-slot length beyond its slot
  EXPECT_EQ(Decode(*b, slot).code, 4);
}

TEST_F(CcEngine, ParametersAndRefusals) {
  Configure(*a, kKeyTimeout, "abc");
  EXPECT_EQ(Sign(*a, Bytes(5, 1)).code, 115);
  Configure(*a, kKeyTimeout, "");
  EXPECT_EQ(Sign(*a, Bytes(5, 1)).code, 0) << "an empty time-out counts as 0";
  EXPECT_EQ(a->RemoveCertificate("A.1"), 132);
  EXPECT_TRUE(fs::exists(box.SelfCert("A")));
  for (const char* uid : {"ABC", "a..b", "AB.1.2", "A. ", "../x.1", "A."}) {
    EXPECT_EQ(a->UpdateCertificateCash(uid), 103) << uid;
  }
  EXPECT_EQ(a->UpdateCertificateCash("Z.9"), 118);
  EXPECT_EQ(Sign(*a, Bytes(5, 1), "ABCDEFGHIJKLMNOPQRSTUVWXYZ.12345").code, 110) << "no room in the signer block";
  const uint8_t byte = 0;
  int32_t len = 0;
  EXPECT_EQ(a->EncodeData(const_cast<uint8_t*>(&byte), &len, "B.1"), 110);
  // Hardware random: the stand-in advapi32 answers the Intel provider on Linux; under Wine the
  // system refuses it.
  Configure(*a, kHardware, " yes ");
#if defined(_WIN32)
  EXPECT_EQ(Sign(*a, Bytes(5, 1)).code, 7);
#else
  EXPECT_EQ(Sign(*a, Bytes(5, 1)).code, 0);
  const std::string exe = zk::platform::HostExecutableFileName();
  auto advapi = zk::platform::LoadModule(exe.substr(0, exe.find_last_of('/') + 1) + "advapi32.dll");
  ASSERT_NE(advapi, nullptr);
  auto control = reinterpret_cast<int (*)(const char*)>(zk::platform::FindSymbol(advapi, "StandIn_Control"));
  ASSERT_NE(control, nullptr);
  ASSERT_EQ(control("answer CryptGenRandom 1 3"), 0);
  EXPECT_EQ(Sign(*a, Bytes(5, 1)).code, 7) << "a failed hardware request";
  control("reset");
#endif
}

TEST_F(CcEngine, ValidityIsEnforcedOnlyWhenAskedFor) {
  box.AddUser("E", 17, "1", -30, -1);  // expired yesterday
  auto e = EngineFor(box, "E");
  EXPECT_EQ(Sign(*e, Bytes(5, 1)).code, -79);
  // Only ASCII letters are upper-cased: "да" is not "ДА", so validity goes unchecked.
  Configure(*e, kVerifyValidity, zk::Utf8ToCp1251("да"));
  const Result sig = Sign(*e, Bytes(5, 1));
  ASSERT_EQ(sig.code, 0);
  box.GiveCert("A", "E");
  EXPECT_EQ(Verify(*a, Bytes(5, 1), sig.data).code, -79) << "A checks validity";
  Configure(*a, kVerifyValidity, zk::Utf8ToCp1251(" ДА "));
  EXPECT_EQ(Verify(*a, Bytes(5, 1), sig.data).code, -79);
  e->ClearCash();
}

TEST_F(CcEngine, CertificateDirectoryOnDisk) {
  box.AddUser("C", 13);
  const std::string target = Sandbox::CertPlace(box.CertDir("A"), "C.1");
  const std::string incoming = box.Dir() + "/incoming.crt";
  fs::copy_file(box.SelfCert("C"), incoming);
  ASSERT_EQ(a->IncludePublicKey(incoming.c_str()), 0);
  EXPECT_TRUE(fs::exists(target));
  EXPECT_FALSE(fs::exists(incoming)) << "an included file is moved";
  const Result forC = Encode(*a, Bytes(9, 9), "C.1");
  ASSERT_EQ(forC.code, 0);
  const Result opened = Decode(*EngineFor(box, "C"), forC.data);
  EXPECT_EQ(opened.code, 0);
  EXPECT_EQ(opened.data, Bytes(9, 9));

  // A second certificate for C: the first is kept as ".old".
  const Bytes first = ReadFileBytes(target);
  box.AddUser("C", 14);
  fs::copy_file(box.SelfCert("C"), incoming);
  ASSERT_EQ(a->IncludePublicKey(incoming.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(target.substr(0, target.size() - 3) + "old"), first);
  const Bytes second = ReadFileBytes(target);
  EXPECT_NE(second, first);

  // A move that fails loses nothing: the serving certificate and the file to include stay.
  box.AddUser("C", 15);
  fs::copy_file(box.SelfCert("C"), incoming);
  zk::platform::SetFileFaultHookForTesting(
      [](zk::platform::FileChange change, const std::string&) { return change != zk::platform::FileChange::Create; });
  EXPECT_EQ(a->IncludePublicKey(incoming.c_str()), 107);
  zk::platform::SetFileFaultHookForTesting(nullptr);
  EXPECT_EQ(ReadFileBytes(target), second);
  EXPECT_TRUE(fs::exists(incoming));

  EXPECT_EQ(a->RemoveCertificate("C.1"), 0);
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(a->RemoveCertificate("C.1"), -32);

  // A certificate whose owner would name another UID's file ("AB.1.2" is AB\@\1\.\2, that is
  // AB.12's) is not taken in.
  box.AddUser("AB", 16, "1.2");
  fs::remove(incoming);
  fs::copy_file(box.SelfCert("AB"), incoming);
  EXPECT_EQ(a->IncludePublicKey(incoming.c_str()), 103);
  EXPECT_TRUE(fs::exists(incoming));
  EXPECT_FALSE(fs::exists(Sandbox::CertPlace(box.CertDir("A"), "AB.12")));
}

TEST_F(CcEngine, ConcurrentClearCashNeverPullsKeysFromUnderAnOperation) {
  const Bytes data = RandomBytes(300, 6);
  std::atomic<int> failures{0};
  std::thread clearer([&] {
    auto other = EngineFor(box, "B");
    for (int i = 0; i < 40; ++i) other->ClearCash();
  });
  for (int i = 0; i < 40; ++i) {
    const Result sig = Sign(*a, data);
    if (sig.code != 0 || Verify(*a, data, sig.data).code != 0) ++failures;
  }
  clearer.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST_F(CcEngine, TextsAndTypes) {
  char type[32] = {};
  a->GetCryptoEngineType(type);
  EXPECT_STREQ(type, "Crypto COM/2.2");
  EXPECT_EQ(a->GetCryptoParamNumber(), 19);
  EXPECT_EQ(zk::ccom22::CodeTextCount(), 129u);
  EXPECT_EQ(ErrorString(*a, 0), "");
  EXPECT_EQ(ErrorString(*a, -35), zk::Utf8ToCp1251("Дешифрование невозможно"));
  EXPECT_EQ(ErrorString(*a, -79), ErrorString(*a, -77));
  EXPECT_EQ(ErrorString(*a, 999), zk::Utf8ToCp1251("Ошибка криптографической библиотеки Crypto COM 2.2: 999"));
  EXPECT_EQ(ErrorString(*a, 9), zk::Utf8ToCp1251("Неверно задан параметр \"Secret Path\"!"));
  char uid[256] = {};
  ASSERT_EQ(a->GetCurrentUID(uid), 0);
  EXPECT_STREQ(uid, "A.1");
  Configure(*a, kUserCertificate, box.Dir() + "/missing.crt");
  EXPECT_EQ(a->GetCurrentUID(uid), 116);
}

}  // namespace
}  // namespace cctest
