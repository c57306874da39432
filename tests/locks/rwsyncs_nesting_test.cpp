// TRWCriticalSection as one thread uses it: nesting, reads inside a write, upgrade, downgrade and
// unmatched calls. Whether the lock is still held is asked of another thread.
#include <gtest/gtest.h>

#include <string>

#include "frame/errors.h"
#include "frame/rwsyncs.h"
#include "lock_probe.h"

namespace {

using locktest::RunOnOtherThread;
using locktest::WaitsForRelease;
using zk::EAssertionFailed;
using zk::TRWCriticalSection;

class RWNesting : public locktest::LockTest {
 protected:
  // True when another thread's writer gets in only after `release`.
  bool WriterWaitsFor(const std::function<void()>& release) {
    return WaitsForRelease([&] { lock.BeginWrite(); }, [&] { lock.EndWrite(); }, release);
  }
  bool ReaderWaitsFor(const std::function<void()>& release) {
    return WaitsForRelease([&] { lock.BeginRead(); }, [&] { lock.EndRead(); }, release);
  }
  // Fails by deadlock (watchdog) when anything is still held.
  void ExpectFreeForOthers() {
    RunOnOtherThread([&] {
      lock.BeginWrite();
      lock.EndWrite();
      lock.BeginRead();
      lock.EndRead();
    });
  }

  TRWCriticalSection lock;
};

TEST_F(RWNesting, NestedReadsHoldUntilTheLastEndRead) {
  for (int i = 0; i < 3; ++i) lock.BeginRead();
  lock.EndRead();
  lock.EndRead();
  EXPECT_TRUE(WriterWaitsFor([&] { lock.EndRead(); }));
  EXPECT_THROW(lock.EndRead(), EAssertionFailed);
}

TEST_F(RWNesting, NestedWritesHoldUntilTheLastEndWrite) {
  for (int i = 0; i < 3; ++i) lock.BeginWrite();
  lock.EndWrite();
  lock.EndWrite();
  EXPECT_TRUE(ReaderWaitsFor([&] { lock.EndWrite(); }));
  ExpectFreeForOthers();
}

TEST_F(RWNesting, ReadsInsideWriteLeaveNothingBehind) {
  lock.BeginWrite();
  lock.BeginRead();
  lock.BeginRead();
  lock.EndRead();
  lock.EndRead();
  EXPECT_TRUE(ReaderWaitsFor([&] { lock.EndWrite(); }));
  EXPECT_THROW(lock.EndRead(), EAssertionFailed);
  ExpectFreeForOthers();
}

TEST_F(RWNesting, UpgradeDoesNotWaitForOwnReadsAndKeepsThemAfterward) {
  lock.BeginRead();
  lock.BeginRead();
  lock.BeginWrite();  // would hang here (watchdog) if its own reads made it wait
  lock.BeginRead();
  lock.EndRead();
  EXPECT_TRUE(ReaderWaitsFor([&] { lock.EndWrite(); }));
  lock.EndRead();
  EXPECT_TRUE(WriterWaitsFor([&] { lock.EndRead(); }));
  ExpectFreeForOthers();
}

TEST_F(RWNesting, ReadOpenedInsideWriteOutlivesIt) {
  lock.BeginWrite();
  lock.BeginRead();
  lock.EndWrite();  // the thread now only reads
  EXPECT_TRUE(WriterWaitsFor([&] { EXPECT_NO_THROW(lock.EndRead()); }));
  ExpectFreeForOthers();
}

TEST_F(RWNesting, ReadOpenedBeforeWriteMayEndInsideIt) {
  lock.BeginRead();
  lock.BeginWrite();
  lock.EndRead();
  lock.EndWrite();
  ExpectFreeForOthers();
  EXPECT_THROW(lock.EndRead(), EAssertionFailed);
}

TEST_F(RWNesting, UnmatchedEndReadNamesTheUnitAndLeavesTheLockUsable) {
  try {
    lock.EndRead();
    ADD_FAILURE() << "EndRead without BeginRead did not throw";
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(std::string(e.what()).find("Assertion failure (rwsyncs, line "), std::string::npos) << e.what();
  }
  lock.BeginRead();  // hangs if the spin lock was left taken
  EXPECT_TRUE(WriterWaitsFor([&] { lock.EndRead(); }));
  ExpectFreeForOthers();
}

TEST_F(RWNesting, UnmatchedEndWriteThrowsAndKeepsOwnReads) {
  EXPECT_THROW(lock.EndWrite(), EAssertionFailed);
  lock.BeginRead();
  EXPECT_THROW(lock.EndWrite(), EAssertionFailed);
  EXPECT_TRUE(WriterWaitsFor([&] { lock.EndRead(); }));
}

}  // namespace
