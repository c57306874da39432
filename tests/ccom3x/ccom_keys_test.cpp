// The user's keys under the two time-outs, ClearCash, and bindings shared by settings.
#include <atomic>

#include "ccom3x/ccom_fixture.h"
#include "engines/ccom3x/ccom_codes.h"
#include "engines/ccom3x/ccom_dll.h"

namespace ccomtest {
namespace {

using namespace zk::ccom3x;

std::atomic<uint64_t> g_now{1000000};
uint64_t FakeClock() { return g_now.load(); }
void Advance(int seconds) { g_now += static_cast<uint64_t>(seconds) * 1000u; }

class CcomKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    box_.AddUser("alice", "Alice UID");
    box_.AddUser("bob", "Bob UID");
    box_.GiveKey("alice", "bob");
    box_.GiveKey("bob", "alice");
    zk::TKeyTimeouts::SetClockForTesting(&FakeClock);
    StandIn::Get().Control("reset");
  }
  void TearDown() override {
    zk::TKeyTimeouts::SetClockForTesting(nullptr);
    StandIn::Get().Control("reset");
  }
  // PSE reads caused by one signature.
  int ReadsForOneSignature(zk::TCryptoEngine& engine) {
    const StandIn& s = StandIn::Get();
    const int before = s.Calls("PSE_CTX_read");
    EXPECT_EQ(Sign(engine, Text("order")).code, 0);
    return s.Calls("PSE_CTX_read") - before;
  }
  Sandbox box_;
};

TEST_F(CcomKeys, ZeroTimeOutsReadTheKeysForEveryOperation) {
  auto alice = EngineFor(box_, "alice");
  Configure(*alice, kKeyTimeout, "0");
  Configure(*alice, kLastOpTimeout, "0");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadsForOneSignature(*alice), 2) << "the PSE and the key file";
  auto bob = EngineFor(box_, "bob");
  CodecResult e = Encode(*bob, Text("to alice"), "Alice UID");
  ASSERT_EQ(e.code, 0);
  const StandIn& s = StandIn::Get();
  const int before = s.Calls("PSE_CTX_read");
  EXPECT_EQ(Decode(*alice, e.data).code, 0);
  EXPECT_EQ(Decode(*alice, e.data).code, 0);
  EXPECT_EQ(s.Calls("PSE_CTX_read") - before, 4);
  Configure(*alice, kKeyTimeout, "60");
  EXPECT_EQ(ReadsForOneSignature(*alice), 2) << "the last-operation time-out alone still forbids keeping";
}

TEST_F(CcomKeys, KeysAreKeptWithinBothTimeOutsOnFullTimes) {
  auto alice = EngineFor(box_, "alice");  // 60 and 5 seconds
  EXPECT_EQ(ReadsForOneSignature(*alice), 2);
  EXPECT_EQ(ReadsForOneSignature(*alice), 0);
  Advance(5);
  EXPECT_EQ(ReadsForOneSignature(*alice), 0) << "5 seconds are still within 5";
  Advance(6);
  EXPECT_EQ(ReadsForOneSignature(*alice), 2) << "idle for 6 seconds";
  // Used every 4 seconds: the key request time-out of 60 ends the keeping.
  int reads = 0;
  for (int i = 0; i < 15; ++i) {
    Advance(4);
    reads += ReadsForOneSignature(*alice);
  }
  EXPECT_EQ(reads, 0) << "60 seconds not yet passed";
  Advance(4);
  EXPECT_EQ(ReadsForOneSignature(*alice), 2) << "64 seconds after loading";
  // A day later at the same time of day is a day later.
  EXPECT_EQ(ReadsForOneSignature(*alice), 0);
  Advance(86400);
  EXPECT_EQ(ReadsForOneSignature(*alice), 2);
}

TEST_F(CcomKeys, TimeOutsStoredWithTheKeysAlsoCount) {
  auto shortLived = EngineFor(box_, "alice");
  auto longLived = EngineFor(box_, "alice");  // the same binding
  Configure(*shortLived, kKeyTimeout, "10");
  Configure(*shortLived, kLastOpTimeout, "10");
  Configure(*longLived, kKeyTimeout, "3600");
  Configure(*longLived, kLastOpTimeout, "3600");
  EXPECT_EQ(ReadsForOneSignature(*shortLived), 2);
  Advance(9);
  EXPECT_EQ(ReadsForOneSignature(*longLived), 0);
  Advance(9);
  EXPECT_EQ(ReadsForOneSignature(*longLived), 2) << "loaded under a 10-second key request time-out";
  Advance(20);
  EXPECT_EQ(ReadsForOneSignature(*longLived), 0) << "now loaded under 3600";
  EXPECT_EQ(ReadsForOneSignature(*shortLived), 2) << "20 seconds idle is beyond the caller's own 10";
}

TEST_F(CcomKeys, ClearCashDropsKeysAndPublicKeysButKeepsTheSenderValue) {
  auto alice = EngineFor(box_, "alice");
  const Bytes first = SplitEnvelope(Encode(*alice, Text("a"), "Bob UID").data).value;
  ReadsForOneSignature(*alice);
  EXPECT_EQ(ReadsForOneSignature(*alice), 0);
  // A key put into the directory behind the engine's back is unknown until the cache is dropped.
  box_.AddUser("carol", "Carol UID");
  box_.GiveKey("alice", "carol");
  EXPECT_EQ(Encode(*alice, Text("a"), "Carol UID").code, kErrBadPublicKeyFile);
  alice->ClearCash();
  EXPECT_EQ(ReadsForOneSignature(*alice), 2);
  CodecResult e = Encode(*alice, Text("a"), "Carol UID");
  ASSERT_EQ(e.code, 0);
  EXPECT_EQ(SplitEnvelope(e.data).value, first);
  auto carol = EngineFor(box_, "carol");
  EXPECT_EQ(Decode(*carol, e.data).data, Text("a"));
  // ClearCash of any engine reaches every binding.
  EXPECT_EQ(ReadsForOneSignature(*alice), 0);
  carol->ClearCash();
  EXPECT_EQ(ReadsForOneSignature(*alice), 2);
}

TEST_F(CcomKeys, ReplacedCorrespondentKeyGetsANewPairwiseKey) {
  auto alice = EngineFor(box_, "alice");
  ASSERT_EQ(Encode(*alice, Text("a"), "Bob UID").code, 0);
  // Bob gets a new key pair; alice's file is replaced and her cache dropped.
  Sandbox other;
  other.AddUser("bob", "Bob UID");
  CopyFileBytes(other.PublicKeyFile("bob"), box_.AbonentsDir("alice") + "/bob.pub");
  alice->ClearCash();
  CodecResult e = Encode(*alice, Text("for the new bob"), "Bob UID");
  ASSERT_EQ(e.code, 0);
  auto newBob = EngineFor(other, "bob");
  EXPECT_EQ(Decode(*newBob, e.data).data, Text("for the new bob"));
  auto oldBob = EngineFor(box_, "bob");
  EXPECT_EQ(Decode(*oldBob, e.data).code, kErrHeaderIntegrity);
}

TEST_F(CcomKeys, EnginesSharingABindingKeepTheirOwnPublicKeyFile) {
  // Same secret-key directory, device and correspondents' directory: one binding for both, but
  // the user's public-key file is not part of the binding key.
  auto alice = EngineFor(box_, "alice");
  auto bob = EngineFor(box_, "bob");
  Configure(*bob, kSecretKeyDir, box_.SecretDir("alice"));
  Configure(*bob, kAbonentsDir, box_.AbonentsDir("alice"));
  EXPECT_EQ(CurrentUID(*alice), "Alice UID");
  EXPECT_EQ(CurrentUID(*bob), "Bob UID");
  EXPECT_EQ(Sign(*alice, Text("x")).code, 0);
  EXPECT_EQ(Sign(*bob, Text("x")).code, kErrNoMatchingKey) << "bob's key is not in alice's PSE";
  SignResult s = Sign(*alice, Text("x"));
  ASSERT_EQ(s.code, 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.signature.data())), "Alice UID");
}

TEST_F(CcomKeys, PathsWithTheRootMacro) {
  auto alice = std::make_unique<zk::TCryptoCom3xEngine>();
  alice->SetEngineRootPath(box_.Dir());
  Configure(*alice, kPublicKeyFile, "%ZEXRoot%\\alice\\self.pub");
  Configure(*alice, kSecretKeyDir, "%zexroot%\\alice\\SK");
  Configure(*alice, kAbonentsDir, "%ZEXROOT%\\alice\\ABONENTS");
  EXPECT_EQ(CurrentUID(*alice), "Alice UID");
  CodecResult e = Encode(*alice, Text("via the macro"), "Bob UID");
  ASSERT_EQ(e.code, 0);
  EXPECT_EQ(Decode(*EngineFor(box_, "bob"), e.data).data, Text("via the macro"));
}

// Settings whose texts run together alike must still get bindings of their own: a shared one
// would read the correspondents of the engine that created it.
TEST(CcomBindingKey, SettingsThatConcatenateAlikeDoNotShareABinding) {
  TCCom3x_UserParam a, b;
  a.SecretKeyDir = b.SecretKeyDir = "C:\\KEYS\\";
  a.KeyDevice = "DISK";
  a.AbonentsDir = "C:\\AB\\";
  b.KeyDevice = "";
  b.AbonentsDir = "DISKC:\\AB\\";
  EXPECT_NE(a.BindingKey(), b.BindingKey());
  b = a;
  b.KeyTimeout = a.KeyTimeout + 1;  // time-outs are per operation, not part of the binding
  EXPECT_EQ(a.BindingKey(), b.BindingKey());
}

}  // namespace
}  // namespace ccomtest
