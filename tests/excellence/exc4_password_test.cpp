// The password protocol of the Excellence engine through scripted prompts: how often the host is
// asked, what the process-wide cache keeps, and both of its time-outs on the test clock.
#include "excellence/exc4_fixture.h"

namespace exctest {
namespace {

class Exc4Passwords : public ExcTest {
 protected:
  void SetUp() override {
    ExcTest::SetUp();
    box.AddUser("ALICE", "secret");
  }
  int32_t SignOnce(zk::TCryptoEngine& engine) { return Sign(engine, Text("payment order")).code; }
  Sandbox box;
};

TEST_F(Exc4Passwords, TypedPasswordServesEveryEngineOfTheUserWhileBothTimeOutsHold) {
  auto first = box.Engine("ALICE");
  auto second = box.Engine("ALICE");
  Prompts().answers = {"secret"};
  EXPECT_EQ(SignOnce(*first), 0);
  EXPECT_EQ(Prompts().asked, 1);
  // Each use within "Last operation password time out" (5 s) keeps it; the 60 s since typing hold.
  for (int i = 0; i < 3; ++i) {
    Advance(4);
    EXPECT_EQ(SignOnce(i % 2 ? *first : *second), 0);
  }
  EXPECT_EQ(Prompts().asked, 1);
  Advance(6);
  EXPECT_EQ(SignOnce(*second), 0);
  EXPECT_EQ(Prompts().asked, 2) << "six idle seconds exceed the last-operation time-out";
}

TEST_F(Exc4Passwords, PasswordTimeOutCountsFromTypingWhateverTheUse) {
  auto engine = box.Engine("ALICE");
  Configure(*engine, kPasswordTimeout, "10");
  Configure(*engine, kLastOpTimeout, "100");
  Prompts().answers = {"secret"};
  EXPECT_EQ(SignOnce(*engine), 0);
  Advance(10);
  EXPECT_EQ(SignOnce(*engine), 0);
  EXPECT_EQ(Prompts().asked, 1);
  Advance(1);
  EXPECT_EQ(SignOnce(*engine), 0);
  EXPECT_EQ(Prompts().asked, 2);
}

TEST_F(Exc4Passwords, TimeOutsOfZeroAskForEveryOperation) {
  for (int32_t param : {kPasswordTimeout, kLastOpTimeout}) {
    auto engine = box.Engine("ALICE");
    Configure(*engine, param, "0");
    Prompts() = PromptScript{{"secret"}, 0};
    EXPECT_EQ(SignOnce(*engine), 0);
    EXPECT_EQ(SignOnce(*engine), 0);
    EXPECT_EQ(Prompts().asked, 2) << param;
    engine->ClearCash();
  }
}

TEST_F(Exc4Passwords, WrongPasswordsAreAskedFourTimesTriedAndNeverKept) {
  auto engine = box.Engine("ALICE");
  Prompts().answers = {"wrong"};
  EXPECT_EQ(SignOnce(*engine), 57);
  EXPECT_EQ(Prompts().asked, 4);
  // The empty password and each of the four typed ones.
  EXPECT_EQ(StandIn::Get().Calls("CryptoMemoryToNewMemory"), 5);
  Prompts().answers = {"secret"};
  EXPECT_EQ(SignOnce(*engine), 0);
  EXPECT_EQ(Prompts().asked, 5) << "a refused password is not reused";
}

TEST_F(Exc4Passwords, WrongThenRightKeepsTheRightOne) {
  auto engine = box.Engine("ALICE");
  Prompts().answers = {"wrong", "secret"};
  EXPECT_EQ(SignOnce(*engine), 0);
  EXPECT_EQ(Prompts().asked, 2);
  Prompts().answers = {"wrong"};
  EXPECT_EQ(SignOnce(*engine), 0);
  EXPECT_EQ(Prompts().asked, 2);
}

TEST_F(Exc4Passwords, CancelledPromptEndsTheOperationAndKeepsNothing) {
  auto engine = box.Engine("ALICE");
  EXPECT_EQ(SignOnce(*engine), 57);
  EXPECT_EQ(Prompts().asked, 1);
  Prompts().answers = {"secret"};
  EXPECT_EQ(SignOnce(*engine), 0);
  EXPECT_EQ(Prompts().asked, 2);
}

TEST_F(Exc4Passwords, RefusedCachedPasswordIsDroppedAndAskedFor) {
  auto engine = box.Engine("ALICE");
  Prompts().answers = {"secret"};
  EXPECT_EQ(SignOnce(*engine), 0);
  StandIn::Get().Control("answer CryptoMemoryToNewMemory 57 1");
  EXPECT_EQ(SignOnce(*engine), 0);
  EXPECT_EQ(Prompts().asked, 2);
}

TEST_F(Exc4Passwords, ClearCashOnAnyEngineForgetsForAll) {
  auto first = box.Engine("ALICE");
  Prompts().answers = {"secret"};
  EXPECT_EQ(SignOnce(*first), 0);
  zk::TExc4CryptoEngine().ClearCash();
  EXPECT_EQ(SignOnce(*first), 0);
  EXPECT_EQ(Prompts().asked, 2);
}

TEST_F(Exc4Passwords, UsersDoNotShareAPassword) {
  box.AddUser("BOB", "other");
  auto alice = box.Engine("ALICE");
  auto bob = box.Engine("BOB");
  Prompts().answers = {"secret"};
  EXPECT_EQ(SignOnce(*alice), 0);
  Prompts().answers = {"other"};
  EXPECT_EQ(SignOnce(*bob), 0);
  EXPECT_EQ(Prompts().asked, 2);
}

TEST_F(Exc4Passwords, WithoutAPromptThePasswordIsMissingAndVerificationNeedsNone) {
  auto engine = box.Engine("ALICE");
  engine->SetPasswordRequestFunc(nullptr);
  EXPECT_EQ(SignOnce(*engine), 57);
  engine->SetPasswordRequestFunc(&ScriptedPassword);
  Prompts().answers = {"secret"};
  const SignResult signed_ = Sign(*engine, Text("receipt"));
  ASSERT_EQ(signed_.code, 0);
  Prompts() = PromptScript();
  zk::TExc4CryptoEngine().ClearCash();
  EXPECT_EQ(Verify(*engine, Text("receipt"), signed_.signature).code, 0);
  EXPECT_EQ(Prompts().asked, 0);
}

}  // namespace
}  // namespace exctest
