// Several engines of one type on several threads, each signing, verifying, encrypting and
// decrypting, while one more thread adds and removes a correspondent. Built as its own program so
// that the ThreadSanitizer stage runs it (scripts/tsan.sh).
#include <atomic>
#include <thread>

#include "conformance/suite.h"

namespace zk::suite {
namespace {

using Concurrency = Suite;

constexpr int kWorkers = 4;
constexpr int kRounds = 8;

TEST_P(Concurrency, EnginesOnThreadsWhileCorrespondentsComeAndGo) {
  std::vector<std::unique_ptr<Engine>> senders, readers;
  for (int i = 0; i < kWorkers; ++i) {
    senders.push_back(EngineFor(i % 2 ? "alice" : "carol"));
    readers.push_back(EngineFor("bob"));
  }
  auto keeper = EngineFor("alice");
  Bytes strangerSignature;
  const Bytes data = RandomBytes(3000, 41);
  if (caps_.keyManagement) strangerSignature = Sign(*EngineFor("stranger"), data).signature;
  const std::string senderUid[2] = {Uid("carol"), Uid("alice")};

  std::atomic<int> failures{0}, keeperFailures{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < kWorkers; ++i) {
    threads.emplace_back([&, i] {
      ZkEngine sender = *senders[i];
      ZkEngine reader = *readers[i];
      for (int round = 0; round < kRounds; ++round) {
        const SignResult s = Sign(sender, data);
        const VerifyResult v = Verify(reader, data, s.signature);
        const CodecResult e = Encode(sender, data, Uid("bob").c_str());
        const CodecResult d = Decode(reader, e.data);
        if (s.code != 0 || v.code != 0 || v.signer != (caps_.signatures ? senderUid[i % 2] : "") || e.code != 0 ||
            d.code != 0 || d.data != data) {
          ++failures;
        }
      }
    });
  }
  if (caps_.keyManagement) {
    threads.emplace_back([&] {
      const std::string file = provisioner_->PublicKeyFile("stranger");
      while (!done) {
        if (IncludePublicKey(*keeper, file.c_str()) != 0) ++keeperFailures;
        if (Verify(*keeper, data, strangerSignature).code != 0) ++keeperFailures;
        if (RemoveCertificate(*keeper, Uid("stranger").c_str()) != 0) ++keeperFailures;
      }
    });
  }
  for (int i = 0; i < kWorkers; ++i) threads[static_cast<size_t>(i)].join();
  done = true;
  if (caps_.keyManagement) threads.back().join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(keeperFailures, 0);
}

ZK_SUITE_INSTANTIATE(Concurrency);

}  // namespace
}  // namespace zk::suite
