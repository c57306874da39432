// Built once per variant of the stand-in, into the variant's directory, so that the toolkit the
// engine finds beside the program is that variant: without CADB_init the library counts as not
// loaded (-22), without ECGOST_SIGN_clean it is incomplete (-23), and without the optional
// GOSTH_file_digest everything works.
#include <cstring>

#include "ccom3x/ccom_fixture.h"
#include "engines/ccom3x/ccom_codes.h"
#include "platform/platform.h"

namespace ccomtest {
namespace {

using namespace zk::ccom3x;

#if defined(ZK_CCOM_VARIANT_NO_CADB) || defined(ZK_CCOM_VARIANT_MISSING)

#if defined(ZK_CCOM_VARIANT_NO_CADB)
constexpr int32_t kExpected = kErrLibraryMissing;
const char kText[] = "Невозможно загрузить библиотеку ПБЗИ ccom.dll";
#else
constexpr int32_t kExpected = kErrFunctionsMissing;
const char kText[] =
    "Библиотека ccom.dll не содержит всех необходимых для корректной работы функций. Проверьте версию ccom.dll";
#endif

TEST(CcomVariant, EveryOperationReportsTheToolkitProblem) {
  // The stand-in keeps its call bookkeeping for the life of the process (never destroyed, so that
  // exports may run during unload); this reference keeps it mapped past the adapter's unload step,
  // where LeakSanitizer would otherwise count that memory as lost.
  const std::string exe = zk::platform::HostExecutableFileName();
  zk::platform::LoadModule(exe.substr(0, exe.find_last_of("\\/") + 1) + "ccom.dll");
  zk::test::TempDir dir;
  zk::TCryptoCom3xEngine engine;
  Configure(engine, kPublicKeyFile, dir.Dir() + "/self.pub");
  Configure(engine, kSecretKeyDir, dir.Dir());
  Configure(engine, kAbonentsDir, dir.Dir());
  EXPECT_EQ(engine.GetMaxEncodeAddition(), kExpected);
  uint8_t data[64] = {1, 2, 3};
  int32_t len = 3, sigLen = 0;
  uint8_t sig[400];
  char uid[256];
  EXPECT_EQ(engine.SignData(data, 3, sig, &sigLen, nullptr), kExpected);
  EXPECT_EQ(engine.EncodeData(data, &len, "Somebody"), kExpected);
  EXPECT_EQ(len, 3);
  EXPECT_EQ(engine.DecodeData(data, &len, uid), kExpected);
  EXPECT_EQ(engine.VerifyData(data, 3, sig, 70, uid), kExpected);
  EXPECT_EQ(engine.GetCurrentUID(uid), kExpected);
  EXPECT_EQ(engine.IncludePublicKey("x.pub"), kExpected);
  EXPECT_EQ(engine.RemoveCertificate("Somebody"), kExpected);
  EXPECT_EQ(engine.UpdateCertificateCash("Somebody"), kExpected);
  engine.ClearCash();
  EXPECT_EQ(ErrorString(engine, kExpected), Cp1251(kText));
  // The second attempt gives the same answer (a failed load is retried, a failed binding is not kept).
  EXPECT_EQ(engine.GetMaxEncodeAddition(), kExpected);
}

#else

TEST(CcomVariant, WithoutTheOptionalFileDigestEverythingWorks) {
  Sandbox box;
  box.AddUser("alice", "Alice UID");
  box.AddUser("bob", "Bob UID");
  box.GiveKey("alice", "bob");
  box.GiveKey("bob", "alice");
  auto alice = EngineFor(box, "alice");
  auto bob = EngineFor(box, "bob");
  const Bytes data = RandomBytes(5000, 11);
  SignResult s = Sign(*alice, data);
  ASSERT_EQ(s.code, 0);
  VerifyResult v = Verify(*bob, data, s.signature);
  EXPECT_EQ(v.code, 0);
  EXPECT_EQ(v.signer, "Alice UID");
  CodecResult e = Encode(*alice, data, "Bob UID");
  ASSERT_EQ(e.code, 0);
  EXPECT_EQ(Decode(*bob, e.data).data, data);
  // The toolkit was initialised once for the process, however many bindings use it.
  EXPECT_EQ(StandIn::Get().Calls("CADB_init"), 1);
}

#endif

}  // namespace
}  // namespace ccomtest
