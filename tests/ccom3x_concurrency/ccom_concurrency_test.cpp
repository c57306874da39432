// Several threads, each with engines of the same settings, share one binding (keys, caches,
// pairwise keys, the key-agreement object) and run every operation at once; every result must
// still be right. Meant to run under -DZK_SANITIZE=thread too.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "ccom3x/ccom_fixture.h"
#include "engines/ccom3x/ccom_codes.h"

namespace ccomtest {
namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 8;

// Lets all threads start together, so the first loading of the bindings and keys races.
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

TEST(CcomConcurrency, ThreadsSharingOneBindingGetCorrectResults) {
  Sandbox box;
  box.AddUser("alice", "Alice UID");
  box.AddUser("bob", "Bob UID");
  box.AddUser("carol", "Carol UID");
  for (const char* holder : {"alice", "bob", "carol"})
    for (const char* owner : {"alice", "bob", "carol"})
      if (std::string(holder) != owner) box.GiveKey(holder, owner);

  StartLine start(kThreads);
  std::atomic<int> failures{0};
  std::mutex valuesLock;
  std::set<Bytes> senderValues;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Every thread works as alice (one binding) and has a peer of its own for the checks.
      auto alice = EngineFor(box, "alice");
      auto peer = EngineFor(box, t % 2 == 0 ? "bob" : "carol");
      const std::string peerUID = t % 2 == 0 ? "Bob UID" : "Carol UID";
      if (t == 3) {
        Configure(*alice, kKeyTimeout, "0");  // reads the keys again on every use, beside the others
        Configure(*alice, kEncryptMethod, "GFB");
      }
      start.Arrive();
      for (int round = 0; round < kRounds; ++round) {
        const Bytes data = RandomBytes(100 + static_cast<size_t>(round * 37 + t), static_cast<uint32_t>(t * 100 + round));
        SignResult s = Sign(*alice, data);
        VerifyResult v = Verify(*peer, data, s.signature);
        if (s.code != 0 || v.code != 0 || v.signer != "Alice UID") ++failures;
        CodecResult e = Encode(*alice, data, (peerUID + ";Bob UID").c_str());
        if (e.code != 0) {
          ++failures;
          continue;
        }
        if (Decode(*peer, e.data).data != data) ++failures;
        {
          std::lock_guard<std::mutex> hold(valuesLock);
          senderValues.insert(SplitEnvelope(e.data).value);
        }
        // Envelopes to alice from the peer, decrypted by alice's shared binding.
        CodecResult back = Encode(*peer, data, "Alice UID");
        if (back.code != 0 || Decode(*alice, back.data).data != data) ++failures;
        if (round == kRounds / 2 && t == 1) alice->ClearCash();
        if (round == kRounds / 2 && t == 2) {
          if (alice->UpdateCertificateCash(peerUID.c_str()) != 0) ++failures;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(senderValues.size(), 1u) << "one binding, one key-agreement value";
}

TEST(CcomConcurrency, FirstUseOfManyBindingsAtOnce) {
  Sandbox box;
  box.AddUser("alice", "Alice UID");
  box.AddUser("bob", "Bob UID");
  box.GiveKey("alice", "bob");
  box.GiveKey("bob", "alice");
  StartLine start(kThreads);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto alice = EngineFor(box, "alice");
      Configure(*alice, kKeyDevice, "DEVICE" + std::to_string(t % 2));  // two bindings
      auto bob = EngineFor(box, "bob");
      start.Arrive();
      const Bytes data = RandomBytes(64, static_cast<uint32_t>(t));
      CodecResult e = Encode(*alice, data, "Bob UID");
      if (e.code != 0 || Decode(*bob, e.data).data != data) ++failures;
      if (alice->GetMaxEncodeAddition() != 29451) ++failures;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace ccomtest
