// One program per toolkit build: without the toolkit (ZK_EXPECTED_LOAD_CODE -113), with a
// function left out (-114), and at each key-file generation (ZK_EXPECTED_GENERATION), whose
// first test finds keys already in the driver: the driver is the process's, and only the first
// key load of a process adopts them.
#include "frame/cp1251.h"

#if defined(ZK_EXPECTED_LOAD_CODE)
#include <gtest/gtest.h>

#include "engines/verbaow/verba_engine.h"

namespace {

TEST(VerbaVariant, ToolkitNotUsable) {
  zk::TVerbaOW4Engine engine;
  uint8_t data[16] = {1};
  uint8_t signature[256];
  int32_t length = 0;
  EXPECT_EQ(engine.SignData(data, 16, signature, &length, nullptr), ZK_EXPECTED_LOAD_CODE);
  int32_t dataLen = 16;
  EXPECT_EQ(engine.EncodeData(data, &dataLen, "0001"), ZK_EXPECTED_LOAD_CODE);
  char text[256];
  engine.GetCryptoErrorString(7, text);
  EXPECT_EQ(zk::Cp1251ToUtf8(text),
            "Невозможно получить информацию об ошибке. Криптоядро не проинициализировано.");
}

}  // namespace

#else
#include "engines/verbaow/verba_dll.h"
#include "verbaow/verba_fixture.h"

namespace vowtest {
namespace {

class VerbaGeneration : public VerbaTest {};

TEST_F(VerbaGeneration, AdoptsKeysPreloadedInTheDriver) {
  const User& a = sandbox.AddUser(1);
  ASSERT_EQ(Toolkit().InitKey(a.device.c_str(), ""), 0);
  auto engine = sandbox.Engine(a);
  Configure(*engine, kResetOnStart, "no");
  ASSERT_EQ(Sign(*engine, Text("doc")).code, 0);
  ASSERT_EQ(Encode(*engine, Text("doc"), "0001").code, 0);
  EXPECT_EQ(Toolkit().Calls("InitKey"), 1) << "only the preloading call";
  EXPECT_EQ(Toolkit().Calls("ResetKeyEx"), 0);
}

TEST_F(VerbaGeneration, GenerationFromTheFileVersion) {
  EXPECT_EQ(zk::verbaow::TVerbaODLL::Generation(), ZK_EXPECTED_GENERATION);
  const User& a = sandbox.AddUser(1);
  const User& b = sandbox.AddUser(2);
  auto ea = sandbox.Engine(a);
  auto eb = sandbox.Engine(b);
  EXPECT_EQ(ReadFile(a.publicFile).size(), ZK_EXPECTED_GENERATION == 4 ? 240u : 304u);
  PairUp(*ea, a, *eb, b);
  const Bytes doc = Text("Payment order");
  const Result signature = Sign(*ea, doc);
  ASSERT_EQ(signature.code, 0);
  EXPECT_EQ(Verify(*eb, doc, signature.data).uid, a.signId);
  const Result sealed = Encode(*eb, doc, "0001");
  ASSERT_EQ(sealed.code, 0);
  EXPECT_EQ(Decode(*ea, sealed.data).data, doc);

  // Key files of the other size: generation 4 takes only 240 bytes, 5 only 304, 6 both.
  const User& c = sandbox.AddUser(3, ZK_EXPECTED_GENERATION == 4 ? 5 : 4);
  const int32_t other = ea->IncludePublicKey(c.publicFile.c_str());
  EXPECT_EQ(other, ZK_EXPECTED_GENERATION == 6 ? 0 : -115);

  // Later generations report a 16-bit value before the slot number; slots read the same.
  uint8_t raw[16 * 32] = {};
  int32_t count = 0;
  ASSERT_EQ(Toolkit().GetDrvInfo(raw, &count), 0);
  ASSERT_GE(count, 1);
  EXPECT_EQ(raw[26] != 0, ZK_EXPECTED_GENERATION >= 5);
  Configure(*eb, kSlotZero, zk::Utf8ToCp1251("Да"));  // as the host writes it
  ASSERT_EQ(Verify(*eb, doc, signature.data).code, 0);
  EXPECT_EQ(DriverSlots().front(), std::make_pair(b.encId, 0));
}

}  // namespace
}  // namespace vowtest
#endif
