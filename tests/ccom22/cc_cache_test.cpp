// The key-file cache through the stand-in's call counts and the files on disk: reuse within both
// time-outs (on a test clock), reload when one runs out, after ClearCash and with time-outs of 0,
// and the random file written back after each reload.
#include <filesystem>
#include <fstream>

#include "ccom22/cc_fixture.h"
#include "frame/keytimeouts.h"

namespace cctest {
namespace {

namespace fs = std::filesystem;

uint64_t g_now = 1000000;
uint64_t TestClock() { return g_now; }

class CcCache : public ::testing::Test {
 protected:
  void SetUp() override {
    zk::TKeyTimeouts::SetClockForTesting(&TestClock);
    box.AddUser("A", 11);
    a = EngineFor(box, "A");
    a->ClearCash();
    StandIn::Get().Control("reset");
  }
  void TearDown() override {
    a->ClearCash();
    zk::TKeyTimeouts::SetClockForTesting(nullptr);
  }
  int32_t SignOnce() { return Sign(*a, Bytes(16, 3)).code; }
  int Reloads() const { return StandIn::Get().Calls("RandWriteFile"); }

  Sandbox box;
  std::unique_ptr<zk::TCcom22Engine> a;
};

TEST_F(CcCache, ReuseWithinTheTimeOutsAndReloadAfterThem) {
  ASSERT_EQ(SignOnce(), 0);  // first load: the pool is read, nothing to write back yet
  EXPECT_EQ(Reloads(), 0);
  g_now += 4000;
  ASSERT_EQ(SignOnce(), 0);
  EXPECT_EQ(Reloads(), 0) << "within both time-outs the cache serves";

  // The secret key leaves the disk: the cached copy still serves until a time-out runs out.
  const std::string secret = box.SecretDir("A") + "/11.sec";
  const Bytes key = ReadFileBytes(secret);
  fs::remove(secret);
  g_now += 4000;
  EXPECT_EQ(SignOnce(), 0);
  g_now += 6000;  // past "Last operation key time out" (5 s)
  EXPECT_EQ(SignOnce(), 120) << "reloaded from disk, where the key is gone";
  EXPECT_EQ(Reloads(), 1);

  std::ofstream(secret, std::ios::binary).write(reinterpret_cast<const char*>(key.data()), key.size());
  const Bytes randomBefore = ReadFileBytes(box.UserDir("A") + "/rand");
  g_now += 6000;
  ASSERT_EQ(SignOnce(), 0);
  EXPECT_EQ(Reloads(), 2);
  EXPECT_NE(ReadFileBytes(box.UserDir("A") + "/rand"), randomBefore) << "the random file is written back";
}

TEST_F(CcCache, ClearCashAndZeroTimeOutsReload) {
  ASSERT_EQ(SignOnce(), 0);
  ASSERT_EQ(SignOnce(), 0);
  EXPECT_EQ(Reloads(), 0);
  a->ClearCash();
  EXPECT_EQ(Reloads(), 1) << "ClearCash writes the random file back once";
  fs::remove(box.SecretDir("A") + "/11.sec");
  EXPECT_EQ(SignOnce(), 120) << "after ClearCash the key is read again";

  box.AddUser("A", 11);
  a->ClearCash();
  Configure(*a, kKeyTimeout, "0");
  ASSERT_EQ(SignOnce(), 0);
  const int before = Reloads();
  ASSERT_EQ(SignOnce(), 0);
  ASSERT_EQ(SignOnce(), 0);
  EXPECT_EQ(Reloads(), before + 2) << "with a time-out of 0 every operation reloads";
}

}  // namespace
}  // namespace cctest
