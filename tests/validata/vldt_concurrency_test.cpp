// Engines on several threads sharing bindings and the process-wide locks, while ClearCash
// releases the bindings under them (run also under ThreadSanitizer, -DZK_SANITIZE=thread).
#include <atomic>
#include <thread>

#include "validata/vldt_fixture.h"

namespace vtest {
namespace {

TEST(ValidataConcurrency, OperationsWhileCachesAreCleared) {
  zk::test::TempDir stores;
  zk::TValidataEngine().ClearCash();  // earlier tests' bindings
  StandIn::Get().Control("reset");
  std::atomic<int> failures{0};
  std::atomic<bool> stop{false};
  auto worker = [&](const char* user, bool server) {
    auto engine = EngineFor(user, stores.Dir());
    if (server) Configure(*engine, kServerMode, "SERVER");
    const uint8_t data[] = {'d', 'o', 'c'};
    for (int i = 0; i < 5; ++i) {
      uint8_t sig[2048];
      int32_t len = 0;
      char who[4096] = {};
      if (engine->SignData(data, 3, sig, &len, "") != 0 || engine->VerifyData(data, 3, sig, len, who) != 0 ||
          std::string(who) != user)
        ++failures;
    }
  };
  std::thread clearer([&] {
    zk::TValidataEngine engine;
    while (!stop) {
      engine.ClearCash();
      std::this_thread::yield();
    }
  });
  std::thread t1(worker, "alice", false), t2(worker, "bob", false), t3(worker, "alice", true), t4(worker, "carol", true);
  t1.join();
  t2.join();
  t3.join();
  t4.join();
  stop = true;
  clearer.join();
  zk::TValidataEngine().ClearCash();  // the bindings made after the last clearing
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(StandIn::Get().Calls("VCERT_InitializeEx"), StandIn::Get().Calls("VCERT_Uninitialize"))
      << "every context made was released";
}

}  // namespace
}  // namespace vtest
