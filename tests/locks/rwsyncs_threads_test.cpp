// TRWCriticalSection between threads: who waits for whom, upgrades that meet other writers,
// many readers at once, calls for locks other threads hold, destruction, and a mixed workload.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "frame/errors.h"
#include "frame/rwsyncs.h"
#include "lock_probe.h"

namespace {

using locktest::Barrier;
using locktest::Flag;
using locktest::RunOnOtherThread;
using locktest::WaitsForRelease;
using zk::EAssertionFailed;
using zk::TRWCriticalSection;

// A thread that takes the lock one way, holds it until told, then releases it.
class Holder {
 public:
  Holder(TRWCriticalSection& lock, bool write)
      : thread_([this, &lock, write] {
          write ? lock.BeginWrite() : lock.BeginRead();
          held_.Raise();
          release_.Wait();
          write ? lock.EndWrite() : lock.EndRead();
        }) {
    held_.Wait();
  }
  ~Holder() { Release(); }
  void Release() {
    if (!thread_.joinable()) return;
    release_.Raise();
    thread_.join();
  }

 private:
  Flag held_, release_;
  std::thread thread_;
};

class RWThreads : public locktest::LockTest {
 protected:
  TRWCriticalSection lock;
};

TEST_F(RWThreads, WriterWaitsForReaderOfAnotherThread) {
  Holder reader(lock, false);
  EXPECT_TRUE(WaitsForRelease([&] { lock.BeginWrite(); }, [&] { lock.EndWrite(); }, [&] { reader.Release(); }));
}

TEST_F(RWThreads, ReadersAndWritersWaitForWriterOfAnotherThread) {
  Holder writer(lock, true);
  EXPECT_TRUE(WaitsForRelease([&] { lock.BeginRead(); }, [&] { lock.EndRead(); }, [&] { writer.Release(); }));
  Holder writer2(lock, true);
  EXPECT_TRUE(WaitsForRelease([&] { lock.BeginWrite(); }, [&] { lock.EndWrite(); }, [&] { writer2.Release(); }));
}

TEST_F(RWThreads, ReadersShareTheLock) {
  Holder first(lock, false);
  Holder second(lock, false);  // would never return if readers excluded each other
  RunOnOtherThread([&] {
    lock.BeginRead();
    lock.EndRead();
  });
}

TEST_F(RWThreads, UpgradeWaitsForReadersOfOtherThreads) {
  Holder reader(lock, false);
  EXPECT_TRUE(WaitsForRelease(
      [&] {
        lock.BeginRead();
        lock.BeginWrite();
      },
      [&] {
        lock.EndWrite();
        lock.EndRead();
      },
      [&] { reader.Release(); }));
}

TEST_F(RWThreads, UpgradeWhileAnotherWriterWaitsGoesFirst) {
  lock.BeginRead();
  std::atomic<bool> upgradeDone{false};
  std::atomic<bool> writerSawUpgradeDone{false};
  Flag writerStarting;
  std::thread writer([&] {
    writerStarting.Raise();
    lock.BeginWrite();  // waits for this thread's read
    writerSawUpgradeDone = upgradeDone.load();
    lock.EndWrite();
  });
  writerStarting.Wait();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // lets the writer start waiting
  lock.BeginWrite();  // deadlocks (watchdog) unless the waiting writer makes way
  lock.EndWrite();
  upgradeDone = true;
  lock.EndRead();
  writer.join();
  EXPECT_TRUE(writerSawUpgradeDone.load());
}

TEST_F(RWThreads, SecondOfTwoConcurrentUpgradesIsRefused) {
  Barrier bothRead(2);
  std::atomic<int> refused{0}, written{0};
  auto upgrader = [&] {
    lock.BeginRead();
    bothRead.ArriveAndWait();
    try {
      lock.BeginWrite();
      ++written;
      lock.EndWrite();
    } catch (const EAssertionFailed&) {
      ++refused;
    }
    lock.EndRead();
  };
  std::thread a(upgrader), b(upgrader);
  a.join();
  b.join();
  EXPECT_EQ(refused.load(), 1);
  EXPECT_EQ(written.load(), 1);
  RunOnOtherThread([&] {
    lock.BeginWrite();
    lock.EndWrite();
  });
}

TEST_F(RWThreads, UnmatchedEndReadDoesNotReleaseAnotherThreadsRead) {
  Holder reader(lock, false);
  EXPECT_THROW(lock.EndRead(), EAssertionFailed);
  EXPECT_TRUE(WaitsForRelease([&] { lock.BeginWrite(); }, [&] { lock.EndWrite(); }, [&] { reader.Release(); }));
}

TEST_F(RWThreads, EndCallsForAnotherThreadsWriteAreRefused) {
  Holder writer(lock, true);
  EXPECT_THROW(lock.EndRead(), EAssertionFailed);
  EXPECT_THROW(lock.EndWrite(), EAssertionFailed);
  EXPECT_TRUE(WaitsForRelease([&] { lock.BeginRead(); }, [&] { lock.EndRead(); }, [&] { writer.Release(); }));
}

// The table of reading threads starts with one entry and grows; no reader may be lost on the way.
TEST_F(RWThreads, ManyConcurrentReadersAllKeepWritersOut) {
  constexpr int kReaders = 14;
  for (int round = 0; round < 2; ++round) {  // the second round reuses the freed entries
    std::vector<std::unique_ptr<Holder>> readers;
    for (int i = 0; i < kReaders; ++i) readers.push_back(std::make_unique<Holder>(lock, false));
    std::atomic<int> stillReading{kReaders};
    std::atomic<int> readersSeenByWriter{-1};
    Flag writerStarting;
    std::thread writer([&] {
      writerStarting.Raise();
      lock.BeginWrite();
      readersSeenByWriter = stillReading.load();
      lock.EndWrite();
    });
    writerStarting.Wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // lets the writer start waiting
    for (auto& reader : readers) {
      std::this_thread::yield();
      --stillReading;
      reader->Release();
    }
    writer.join();
    EXPECT_EQ(readersSeenByWriter.load(), 0) << "round " << round;
  }
}

TEST_F(RWThreads, DestructionWaitsForReaders) {
  auto owned = std::make_unique<TRWCriticalSection>();
  TRWCriticalSection* shared = owned.get();
  Holder reader(*shared, false);
  EXPECT_TRUE(WaitsForRelease([&] { owned.reset(); }, [] {}, [&] { reader.Release(); }));
}

// Threads mix every kind of call over a plain counter; counters of active readers and writers
// check exclusion at every step.
class MixedWorkload {
 public:
  explicit MixedWorkload(TRWCriticalSection& lock) : lock_(lock) {}

  void Run(unsigned seed, int iterations) {
    std::mt19937 random(seed);
    for (int i = 0; i < iterations; ++i) {
      switch (random() % 6) {
        case 0: Read(1); break;
        case 1: Read(3); break;
        case 2: Write(1); break;
        case 3: Write(2); break;
        case 4: Upgrade(); break;
        default: Downgrade(); break;
      }
    }
  }

  long counter = 0;  // touched only under the write lock
  std::atomic<long> writes{0}, violations{0}, refusedUpgrades{0};

 private:
  void Read(int depth) {
    for (int i = 0; i < depth; ++i) lock_.BeginRead();
    ++activeReaders_;
    if (activeWriters_.load() != 0) ++violations;
    volatile long seen = counter;
    (void)seen;
    --activeReaders_;
    for (int i = 0; i < depth; ++i) lock_.EndRead();
  }

  // ownReads: reads this thread holds while it writes (they count in activeReaders_).
  void WriteBody(int ownReads) {
    if (++activeWriters_ != 1 || activeReaders_.load() != ownReads) ++violations;
    ++counter;
    ++writes;
    lock_.BeginRead();  // a read inside the write
    if (activeReaders_.load() != ownReads) ++violations;
    lock_.EndRead();
    --activeWriters_;
  }

  void Write(int depth) {
    for (int i = 0; i < depth; ++i) lock_.BeginWrite();
    WriteBody(0);
    for (int i = 0; i < depth; ++i) lock_.EndWrite();
  }

  void Upgrade() {
    lock_.BeginRead();
    ++activeReaders_;
    try {
      lock_.BeginWrite();
      WriteBody(1);
      lock_.EndWrite();
    } catch (const EAssertionFailed&) {
      ++refusedUpgrades;  // another reader was already upgrading
    }
    --activeReaders_;
    lock_.EndRead();
  }

  void Downgrade() {
    lock_.BeginWrite();
    WriteBody(0);
    lock_.BeginRead();
    lock_.EndWrite();
    ++activeReaders_;
    if (activeWriters_.load() != 0) ++violations;
    --activeReaders_;
    lock_.EndRead();
  }

  TRWCriticalSection& lock_;
  std::atomic<int> activeReaders_{0}, activeWriters_{0};
};

TEST_F(RWThreads, MixedWorkloadKeepsExclusionAndCountsEveryWrite) {
  constexpr int kThreads = 12;
  constexpr int kIterations = 5000;
  MixedWorkload work(lock);
  Barrier start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.ArriveAndWait();
      work.Run(1000u + t, kIterations);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(work.violations.load(), 0);
  EXPECT_EQ(work.counter, work.writes.load());
  EXPECT_GT(work.writes.load(), 0);
  RunOnOtherThread([&] {
    lock.BeginWrite();
    lock.EndWrite();
  });
  std::printf("writes %ld, refused upgrades %ld\n", work.writes.load(), work.refusedUpgrades.load());
}

}  // namespace
