// The key driver and the device wait, watched through the stand-in's call counts: keys reused
// within both time-outs and loaded again after them, after ClearCash or with time-outs of 0;
// slot 0 for verification; a full driver; and a touch memory attached while the engine waits.
#include <filesystem>

#include "verbaow/verba_fixture.h"

namespace vowtest {
namespace {

class VerbaDriver : public VerbaTest {
 protected:
  void SetUp() override {
    VerbaTest::SetUp();
    a = &sandbox.AddUser(1);
    ea = sandbox.Engine(*a);
  }
  int Loads() const { return Toolkit().Calls("InitKey"); }
  int Resets() const { return Toolkit().Calls("ResetKeyEx"); }
  const User* a = nullptr;
  std::unique_ptr<zk::TVerbaOW4Engine> ea;
  const Bytes doc = Text("Payment order");
};

TEST_F(VerbaDriver, KeysServeWithinBothTimeoutsAndAreLoadedAgainAfterThem) {
  ASSERT_EQ(Sign(*ea, doc).code, 0);
  EXPECT_EQ(Loads(), 1);
  Advance(4000);
  ASSERT_EQ(Sign(*ea, doc).code, 0);
  ASSERT_EQ(Encode(*ea, doc, "0001").code, 0) << "the companion key came with the set";
  EXPECT_EQ(Loads(), 1);
  EXPECT_EQ(Resets(), 0);

  Advance(5001);  // idle past "Last operation key time out"
  ASSERT_EQ(Sign(*ea, doc).code, 0);
  EXPECT_EQ(Loads(), 2);
  EXPECT_EQ(Resets(), 1);
  for (int i = 0; i < 16; ++i) {  // busy, but past "Key request time out" in the end
    Advance(4000);
    ASSERT_EQ(Sign(*ea, doc).code, 0);
  }
  EXPECT_EQ(Loads(), 3);

  ea->ClearCash();
  ASSERT_EQ(Sign(*ea, doc).code, 0);
  EXPECT_EQ(Loads(), 4);
  EXPECT_EQ(Resets(), 3);

  // Either time-out at 0: every operation loads the key again.
  const std::pair<const char*, const char*> zeroTimeouts[] = {{"60", "0"}, {"0", "5"}, {"", ""}};
  for (const auto& [request, lastOp] : zeroTimeouts) {
    Configure(*ea, kRequestTimeout, request);
    Configure(*ea, kLastOpTimeout, lastOp);
    const int before = Loads();
    ASSERT_EQ(Sign(*ea, doc).code, 0);
    ASSERT_EQ(Sign(*ea, doc).code, 0);
    EXPECT_EQ(Loads(), before + 2) << request << "/" << lastOp;
  }
  EXPECT_EQ(DriverSlots().size(), 1u) << "a reload never leaves a second copy";
}

TEST_F(VerbaDriver, SlotZeroForVerification) {
  const User& b = sandbox.AddUser(2);
  auto eb = sandbox.Engine(b);
  PairUp(*ea, *a, *eb, b);
  ASSERT_EQ(Toolkit().Control("reset"), 0);  // an empty driver again
  zk::verbaow::TVerbaODLL::ForgetKeys();
  const Result signature = Sign(*ea, doc);  // A's set takes slot 0
  ASSERT_EQ(signature.code, 0);
  ASSERT_EQ(Verify(*eb, doc, signature.data).code, 0);
  EXPECT_EQ(DriverSlots(), (std::vector<std::pair<std::string, int32_t>>{{a->encId, 0}, {b.encId, 1}}));

  Configure(*eb, kSlotZero, "Yes");
  ASSERT_EQ(Verify(*eb, doc, signature.data).code, 0);
  EXPECT_EQ(DriverSlots(), (std::vector<std::pair<std::string, int32_t>>{{b.encId, 0}}));
  const int loads = Loads();
  ASSERT_EQ(Verify(*eb, doc, signature.data).code, 0);
  EXPECT_EQ(Loads(), loads) << "already in slot 0: reused";
  // A's key left the driver behind A's back: loaded again, into the free slot.
  ASSERT_EQ(Sign(*ea, doc).code, 0);
  EXPECT_EQ(Loads(), loads + 1);
  EXPECT_EQ(DriverSlots().size(), 2u);
}

TEST_F(VerbaDriver, FullDriverGivesUpSlotZero) {
  std::vector<const User*> others;
  for (int n = 2; n <= 17; ++n) others.push_back(&sandbox.AddUser(n));
  for (int i = 0; i < 16; ++i) ASSERT_EQ(Toolkit().InitKey(others[i]->device.c_str(), ""), 0);
  EXPECT_EQ(Toolkit().InitKey(a->device.c_str(), ""), 38);
  ASSERT_EQ(Sign(*ea, doc).code, 0);
  const auto slots = DriverSlots();
  ASSERT_EQ(slots.size(), 16u);
  EXPECT_EQ(slots[0], std::make_pair(a->encId, 0)) << "the key of slot 0 made room";
}

TEST_F(VerbaDriver, DeviceHoldingAnotherKeySetIsNoSuccess) {
  const User& b = sandbox.AddUser(2);
  Configure(*ea, kKeyDevice, b.device);
  EXPECT_EQ(Sign(*ea, doc).code, 6);
  EXPECT_EQ(ErrorText(*ea, 6), "Ключ не найден или искажен");
}

// The host's touch-memory window.
std::vector<int32_t> g_states;
void ZK_STDCALL RecordState(int32_t state) { g_states.push_back(state); }

// A's key set on the medium of the reader "TM:COM1", which starts detached.
class VerbaDeviceWait : public VerbaDriver {
 protected:
  void SetUp() override {
    VerbaDriver::SetUp();
    g_states.clear();
    ASSERT_EQ(Toolkit().Control(("medium TM:COM1 " + a->device).c_str()), 0);
    ASSERT_EQ(Toolkit().Control("detach TM:COM1"), 0);
    Configure(*ea, kKeyDevice, "tm:com1");
    ea->TMRequestFunc = &RecordState;
  }
};

TEST_F(VerbaDeviceWait, TouchMemoryAttachedDuringTheWait) {
  ASSERT_EQ(Toolkit().Control("detach TM:COM1 3"), 0);  // attached at the fourth look
  ASSERT_EQ(Sign(*ea, doc).code, 0);
  EXPECT_EQ(g_states, (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(Loads(), 4) << "first call and three retries, 500 ms apart";

  // Taken away after loading: the signature waits for it again.
  ASSERT_EQ(Toolkit().Control("detach TM:COM1 1"), 0);
  g_states.clear();
  ASSERT_EQ(Sign(*ea, doc).code, 0);
  EXPECT_EQ(g_states, (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(Toolkit().Calls("SignMemSeparateEx"), 3);
}

TEST_F(VerbaDeviceWait, WindowTimeOutEndsTheWaitWithTheDeviceCode) {
  Configure(*ea, kWindowTimeout, "2");
  EXPECT_EQ(Sign(*ea, doc).code, 36);
  EXPECT_EQ(g_states, (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(Loads(), 6) << "calls at 0, 0.5, ... 2.5 s; the window ends past 2 s";
  // Without a host callback the wait still polls, silently.
  ea->TMRequestFunc = nullptr;
  g_states.clear();
  ASSERT_EQ(Toolkit().Control("detach TM:COM1 1"), 0);
  EXPECT_EQ(Sign(*ea, doc).code, 0);
  EXPECT_TRUE(g_states.empty());
  // A directory is no touch memory: its absence is answered at once.
  Configure(*ea, kKeyDevice, a->device + "/none");
  ea->ClearCash();
  const int loads = Loads();
  EXPECT_EQ(Sign(*ea, doc).code, 36);
  EXPECT_EQ(Loads(), loads + 1);
}

}  // namespace
}  // namespace vowtest
