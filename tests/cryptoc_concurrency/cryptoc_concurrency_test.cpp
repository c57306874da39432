// Engines with the same settings on several threads share one binding, its keys and its caches,
// and every operation still gives the right answer.
#include <atomic>
#include <thread>

#include "cryptoc/cryptoc_fixture.h"
#include "engines/cryptoc/crypc_registry.h"
#include "frame/fileutils.h"

namespace cctest {
namespace {

constexpr int kThreads = 8;

zk::cryptoc::KeySettings SettingsOf(const Sandbox& box, const std::string& uid) {
  zk::cryptoc::KeySettings settings;
  settings.PublicKeyFile = box.PublicKeyPath(uid);
  settings.SecretKeyFile = box.SecretKeyPath(uid);
  settings.AbonentsDir = zk::IncludeDirDelimiter(box.AbonentsDir());
  settings.CADir = zk::IncludeDirDelimiter(box.Root() + "/ca");
  return settings;
}

TEST(CryptoCConcurrency, EnginesWithTheSameSettingsShareOneBinding) {
  Sandbox box;
  box.AddUser("Alice");
  std::vector<zk::cryptoc::TCryptoC_DLL*> seen(kThreads, nullptr);
  std::vector<int32_t> codes(kThreads, -1);
  std::vector<std::thread> threads;
  const int loadsBefore = Toolkit().Calls("CrypC_Random_Fill");
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto engine = box.Engine("Alice");
      codes[t] = Sign(*engine, Bytes(10, static_cast<uint8_t>(t))).code;
      zk::cryptoc::FetchBinding(SettingsOf(box, "Alice"), nullptr, seen[t]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(codes[t], 0);
    ASSERT_NE(seen[t], nullptr);
    EXPECT_EQ(seen[t], seen[0]);
  }
  // One binding, so one secret key loaded for all eight (each load draws one mask).
  EXPECT_EQ(Toolkit().Calls("CrypC_Random_Fill") - loadsBefore, 1);
  // Other settings, another binding.
  box.AddUser("Bob");
  zk::cryptoc::TCryptoC_DLL* other = nullptr;
  ASSERT_EQ(zk::cryptoc::FetchBinding(SettingsOf(box, "Bob"), nullptr, other), 0);
  EXPECT_NE(other, seen[0]);
}

TEST(CryptoCConcurrency, SignVerifyEncodeDecodeAtOnce) {
  Sandbox box;
  for (const char* uid : {"Alice", "Bob", "Carol"}) box.AddUser(uid);
  std::atomic<int> failures{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const char* self = t % 2 == 0 ? "Alice" : "Bob";
      const char* peer = t % 2 == 0 ? "Bob" : "Alice";
      auto engine = box.Engine(self);
      auto reader = box.Engine(peer);
      if (t % 4 == 1) {  // some engines read the key for every operation
        Configure(*engine, kKeyTimeout, "0");
        Configure(*engine, kLastOpTimeout, "0");
      }
      Configure(*engine, kEncryptMethod, std::to_string(t % 2));
      for (int i = 0; i < 12; ++i) {
        const Bytes data = RandomBytes(static_cast<size_t>(200 + 37 * i), static_cast<uint32_t>(t * 100 + i));
        const SignResult signature = Sign(*engine, data);
        const VerifyResult verified = Verify(*reader, data, signature.signature);
        if (signature.code != 0 || verified.code != 0 || verified.signer != self) ++failures;
        const CodecResult sealed = Encode(*engine, data, (std::string(peer) + ";Carol").c_str());
        const CodecResult opened = Decode(*reader, sealed.data);
        if (sealed.code != 0 || opened.code != 0 || opened.data != data) ++failures;
      }
    });
  }
  // Meanwhile the caches are refreshed and emptied.
  std::thread janitor([&] {
    auto engine = box.Engine("Carol");
    for (int i = 0; !stop.load(); ++i) {
      if (engine->UpdateCertificateCash(i % 2 ? "Alice" : "Bob") != 0) ++failures;
      if (i % 5 == 0) engine->ClearCash();
      std::this_thread::yield();
    }
  });
  for (std::thread& thread : threads) thread.join();
  stop = true;
  janitor.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace cctest
