// The re-entrant reader-writer lock.
//
// Readers are recorded per thread in readers_, so that a thread's nested reads never wait (not even
// behind a queued writer) and a thread that reads can take the write lock without waiting for
// itself. A writer holds guard_ while it waits and while it writes, which keeps new readers out.
//
// One case cannot be served: two threads that both read and both ask to write would each wait for
// the other's reads for ever. The second one is refused with an assertion failure, changing
// nothing, and has to end its reads; the first then proceeds. A writer that holds no reads and
// waits for a reader that asks to write makes way for it instead of deadlocking.
#include "frame/rwsyncs.h"

#include <thread>

#include "frame/errors.h"
#include "platform/platform.h"

namespace zk {

namespace {

constexpr size_t kReadersGrowth = 3;

uint32_t OwnThreadId() {
  thread_local const uint32_t id = platform::CurrentThreadId();
  return id;
}

}  // namespace

// Held only for a few instructions and never while blocking.
class TRWCriticalSection::SpinHold {
 public:
  SpinHold(std::atomic<uint32_t>& spin, uint32_t self) : spin_(spin) {
    while (spin_.exchange(self, std::memory_order_acquire) != 0) std::this_thread::yield();
  }
  ~SpinHold() { spin_.store(0, std::memory_order_release); }
  SpinHold(const SpinHold&) = delete;
  SpinHold& operator=(const SpinHold&) = delete;

 private:
  std::atomic<uint32_t>& spin_;
};

// Notifying under the mutex keeps the waiter from returning, and perhaps destroying the lock,
// before this thread is done with the condition variable.
void TRWCriticalSection::ReadersGoneEvent::Signal() {
  std::lock_guard<std::mutex> hold(mutex_);
  changed_.notify_all();
}

TRWCriticalSection::TRWCriticalSection() : readers_(1) {}

TRWCriticalSection::~TRWCriticalSection() {
  // Whoever still reads or writes finishes before the lock goes away.
  try {
    BeginWrite();
    EndWrite();
  } catch (...) {
  }
}

void TRWCriticalSection::BeginRead() {
  const uint32_t self = OwnThreadId();
  if (writerThreadId_.load() == self) {
    ++readsInsideWrite_;
    return;
  }
  {
    SpinHold spin(spinLock_, self);
    if (ActiveThread* own = FindEntry(self)) {
      ++own->count;
      ++readerCount_;
      return;
    }
  }
  std::lock_guard<std::recursive_mutex> hold(guard_);  // waits while another thread writes
  SpinHold spin(spinLock_, self);
  RecordReads(self, 1);
  ++readerCount_;
}

void TRWCriticalSection::EndRead() {
  const uint32_t self = OwnThreadId();
  if (writerThreadId_.load() == self) {
    EndReadInsideWrite(self);
    return;
  }
  bool wakeWaiter = false;
  {
    SpinHold spin(spinLock_, self);
    ActiveThread* own = FindEntry(self);
    ZK_ASSERT(own != nullptr, "rwsyncs");
    if (--own->count == 0) own->threadId = 0;
    --readerCount_;
    wakeWaiter = waiterThreadId_ != 0 && OnlyReadsOf(waiterThreadId_);
  }
  if (wakeWaiter) noReaders_.Signal();
}

void TRWCriticalSection::BeginWrite() {
  const uint32_t self = OwnThreadId();
  if (writerThreadId_.load() == self) {
    guard_.lock();
    ++readerCount_;
    return;
  }
  const bool upgrading = ClaimUpgrade(self);
  for (;;) {
    guard_.lock();
    if (WaitForOtherReaders(self, upgrading)) break;
    guard_.unlock();
    WaitForUpgradeToFinish(self);
  }
  BecomeWriter(self, upgrading);
}

void TRWCriticalSection::EndWrite() {
  const uint32_t self = OwnThreadId();
  ZK_ASSERT(writerThreadId_.load() == self, "rwsyncs");
  if (--readerCount_ == 0) StopWriting(self);
  guard_.unlock();
}

TRWCriticalSection::ActiveThread* TRWCriticalSection::FindEntry(uint32_t threadId) {
  for (ActiveThread& entry : readers_) {
    if (entry.threadId == threadId) return &entry;
  }
  return nullptr;
}

bool TRWCriticalSection::OnlyReadsOf(uint32_t threadId) {
  const ActiveThread* own = FindEntry(threadId);
  return readerCount_.load() == (own != nullptr ? own->count : 0);
}

void TRWCriticalSection::RecordReads(uint32_t threadId, int32_t count) {
  ActiveThread* slot = FindEntry(threadId);
  if (slot == nullptr) slot = FindEntry(0);
  if (slot == nullptr) {
    const size_t firstNew = readers_.size();
    readers_.resize(firstNew + kReadersGrowth);
    slot = &readers_[firstNew];
  }
  slot->threadId = threadId;
  slot->count += count;
}

bool TRWCriticalSection::ClaimUpgrade(uint32_t self) {
  {
    SpinHold spin(spinLock_, self);
    if (FindEntry(self) == nullptr) return false;
    // Another reader already waits to write and waits for our reads too: refuse this one.
    ZK_ASSERT(upgraderThreadId_ == 0, "rwsyncs");
    upgraderThreadId_ = self;
  }
  noReaders_.Signal();  // a writer holding guard_ and waiting for our reads must make way
  return true;
}

bool TRWCriticalSection::WaitForOtherReaders(uint32_t self, bool upgrading) {
  {
    SpinHold spin(spinLock_, self);
    waiterThreadId_ = self;
  }
  bool makeWay = false;
  noReaders_.WaitUntil([&] {
    SpinHold spin(spinLock_, self);
    makeWay = !upgrading && upgraderThreadId_ != 0;
    return makeWay || OnlyReadsOf(self);
  });
  SpinHold spin(spinLock_, self);
  waiterThreadId_ = 0;
  return !makeWay;
}

void TRWCriticalSection::WaitForUpgradeToFinish(uint32_t self) {
  noReaders_.WaitUntil([&] {
    SpinHold spin(spinLock_, self);
    return upgraderThreadId_ == 0;
  });
}

void TRWCriticalSection::BecomeWriter(uint32_t self, bool upgrading) {
  {
    SpinHold spin(spinLock_, self);
    savedReaderCount_ = readerCount_.exchange(1);  // from now on: the write nesting depth
    if (upgrading) upgraderThreadId_ = 0;
    writerThreadId_.store(self);
  }
  if (upgrading) noReaders_.Signal();  // writers that made way may queue for guard_ again
}

void TRWCriticalSection::EndReadInsideWrite(uint32_t self) {
  if (readsInsideWrite_ > 0) {
    --readsInsideWrite_;
    return;
  }
  // A read taken before the write, ended while writing.
  SpinHold spin(spinLock_, self);
  ActiveThread* own = FindEntry(self);
  ZK_ASSERT(own != nullptr, "rwsyncs");
  if (--own->count == 0) own->threadId = 0;
  --savedReaderCount_;
}

void TRWCriticalSection::StopWriting(uint32_t self) {
  SpinHold spin(spinLock_, self);
  // Reads taken inside the write and still open go on as ordinary reads (a downgrade).
  if (readsInsideWrite_ > 0) {
    RecordReads(self, readsInsideWrite_);
    savedReaderCount_ += readsInsideWrite_;
    readsInsideWrite_ = 0;
  }
  readerCount_ = savedReaderCount_;
  savedReaderCount_ = 0;
  writerThreadId_.store(0);
}

}  // namespace zk
