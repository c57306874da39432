// Several threads, several OpenSSL engines with equal and with different settings, at once: the
// binding cache, the certificate models, the key caches and the random generator are shared, and
// every result must still be right. Meant to run under -DZK_SANITIZE=thread too.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engines/openssl/ossl_api.h"
#include "openssl/ossl_fixture.h"

namespace ossltest {
namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 12;

// Lets all threads start their first operation together, so the first seeding and the first
// loading of the shared library and bindings race.
class StartLine {
 public:
  explicit StartLine(int count) : waiting_(count) {}
  void Arrive() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (--waiting_ == 0) go_.notify_all();
    go_.wait(lock, [this] { return waiting_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable go_;
  int waiting_;
};

class OsslConcurrency : public OsslTest {
 protected:
  void SetUp() override {
    OsslTest::SetUp();
    zk::ossl::FinalizeOpenSSLAdapter();
    kit::WriteFile(box_->root() + "/rand.seed", RandomBytes(1024, 1));
  }

  // Thread t works as alice or carol, sometimes with the same settings as another thread and
  // sometimes with settings that differ only in how a directory is spelled.
  std::unique_ptr<zk::TOSSLEngine> EngineOfThread(int t) {
    auto engine = EngineFor(*box_, t % 2 == 0 ? "alice" : "carol");
    if (t >= 2) Configure(*engine, kAbonentsDir, box_->abonents_dir() + "/");
    Configure(*engine, kEncryptMethod, kCiphers[t % 5]);
    Configure(*engine, kHashMethod, t % 2 == 0 ? "SHA" : "MD5");
    return engine;
  }

  static constexpr const char* kCiphers[] = {"RC4", "RC2_CBC", "RC5_ECB", "RC2_ECB", "RC5_CBC"};
};

TEST_F(OsslConcurrency, EnginesOnManyThreadsGetCorrectResults) {
  StartLine start(kThreads + 1);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto engine = EngineOfThread(t);
      auto peer = EngineOfThread(t + 1);
      const std::string self = User(t % 2 == 0 ? "alice" : "carol").uid;
      const std::string other = User(t % 2 == 0 ? "carol" : "alice").uid;
      start.Arrive();
      for (int round = 0; round < kRounds; ++round) {
        const Bytes data = RandomBytes(100 + static_cast<size_t>(round) * 37, static_cast<uint32_t>(t * 1000 + round));
        const SignResult signed_ = Sign(*engine, data);
        const VerifyResult verified = Verify(*peer, data, signed_.signature);
        const CodecResult encoded = Encode(*engine, data, (other + ";" + self).c_str());
        const CodecResult mine = Decode(*engine, encoded.data);
        const CodecResult theirs = Decode(*peer, encoded.data);
        const bool ok = signed_.code == 0 && verified.code == 0 && verified.signer == self && encoded.code == 0 &&
                        mine.data == data && theirs.data == data;
        if (!ok) ++failures;
        if (round % 5 == 4) engine->ClearCash();
      }
    });
  }
  // Meanwhile the stock changes: a correspondent comes and goes.
  threads.emplace_back([&] {
    auto engine = EngineFor(*box_, "bob");
    kit::CertSpec spec;
    spec.serial = box_->NextSerial();
    kit::PkeyPtr key = kit::PooledRsaKey(1024, "dave");
    const std::string dave = dir_ + "/dave.cer";
    kit::X509Ptr cert = box_->Issue(spec, key.get());
    kit::WriteCert(dave, cert.get());
    const std::string uid = kit::SerialUid(cert.get());
    start.Arrive();
    for (int round = 0; round < kRounds; ++round) {
      if (engine->IncludePublicKey(dave.c_str()) != 0) ++failures;
      if (Encode(*engine, Bytes{1, 2}, uid.c_str()).code != 0) ++failures;
      if (engine->RemoveCertificate(uid.c_str()) != 0) ++failures;
      if (Encode(*engine, Bytes{1, 2}, uid.c_str()).code != -32) ++failures;
    }
  });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST_F(OsslConcurrency, OneEnginePerThreadAllWithTheSameSettings) {
  StartLine start(kThreads);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  const std::string bob = User("bob").uid;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto engine = EngineFor(*box_, "bob");
      char uid[32];
      start.Arrive();
      for (int round = 0; round < kRounds; ++round) {
        const Bytes data = RandomBytes(64, static_cast<uint32_t>(t * 100 + round));
        const CodecResult encoded = Encode(*engine, data, bob.c_str());
        if (encoded.code != 0 || Decode(*engine, encoded.data).data != data) ++failures;
        if (engine->GetCurrentUID(uid) != 0 || bob != uid) ++failures;
        if (round == t) engine->UpdateCertificateCash(bob.c_str());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

// A host that unloads the library while a call is still in flight: the call reads libcrypto's
// function table without a lock, so unloading must leave the table where it is.
TEST(OsslLibraryUnload, FunctionTableStaysReadableWhileTheLibraryUnloads) {
  using zk::ossl::TOpenSSLLibrary;
  ASSERT_TRUE(TOpenSSLLibrary::Acquire().FunctionsPresent);
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0};
  std::thread reader([&] {
    while (!stop.load()) {
      volatile auto function = TOpenSSLLibrary::Api().ERR_get_error;
      (void)function;
      ++reads;
    }
  });
  while (reads.load() < 100) std::this_thread::yield();
  TOpenSSLLibrary::Finalize();
  const int readsBefore = reads.load();
  while (reads.load() < readsBefore + 100) std::this_thread::yield();
  stop = true;
  reader.join();
  EXPECT_TRUE(TOpenSSLLibrary::Acquire().FunctionsPresent);
}

}  // namespace
}  // namespace ossltest
