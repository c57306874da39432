// Locks shared by the engines and toolkit caches.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>
#include <atomic>

namespace zk {

// Re-entrant reader-writer lock. A thread may nest read locks, nest the write lock, take read
// locks while it writes, and take the write lock while it reads (its own reads never make it
// wait); readers of other threads make a writer wait until they are gone.
class TRWCriticalSection {
 public:
  TRWCriticalSection();
  ~TRWCriticalSection();
  TRWCriticalSection(const TRWCriticalSection&) = delete;
  TRWCriticalSection& operator=(const TRWCriticalSection&) = delete;

  void BeginRead();
  void EndRead();
  void BeginWrite();
  void EndWrite();

 private:
  struct ActiveThread {
    uint32_t threadId = 0;  // 0 marks a free entry
    int32_t count = 0;
  };

  // Wakes threads that wait for readers to leave. Waiters pass the condition they need and
  // re-check it on every wake-up, so a stale signal never lets a writer in and a signal given
  // before the wait starts is never lost.
  class ReadersGoneEvent {
   public:
    void Signal();
    template <class Ready>
    void WaitUntil(Ready ready) {
      std::unique_lock<std::mutex> hold(mutex_);
      changed_.wait(hold, ready);
    }

   private:
    std::mutex mutex_;
    std::condition_variable changed_;
  };

  class SpinHold;

  // Held by a writer from BeginWrite to EndWrite and briefly by a thread taking its first read,
  // so new readers wait while a writer waits or writes.
  std::recursive_mutex guard_;
  ReadersGoneEvent noReaders_;
  // The sum of the counts in readers_; while a writer holds the lock, its nesting depth instead.
  std::atomic<int32_t> readerCount_{0};
  int32_t savedReaderCount_ = 0;  // the writer's own reads, put aside while it writes
  std::vector<ActiveThread> readers_;
  uint32_t waiterThreadId_ = 0;    // the thread inside BeginWrite waiting for readers to leave
  uint32_t upgraderThreadId_ = 0;  // a thread that holds reads and asked for the write lock
  // Taken by an atomic exchange with the own thread id, 0 when free. readers_, waiterThreadId_,
  // upgraderThreadId_, savedReaderCount_ and the reader count change only under it (the writer's
  // own nesting depth excepted).
  std::atomic<uint32_t> spinLock_{0};
  std::atomic<uint32_t> writerThreadId_{0};  // 0 when nobody writes
  int32_t readsInsideWrite_ = 0;             // owned by the writer; not recorded in readers_

  ActiveThread* FindEntry(uint32_t threadId);
  // True when every recorded read belongs to threadId (or there is none).
  bool OnlyReadsOf(uint32_t threadId);
  void RecordReads(uint32_t threadId, int32_t count);
  bool ClaimUpgrade(uint32_t self);
  bool WaitForOtherReaders(uint32_t self, bool upgrading);
  void WaitForUpgradeToFinish(uint32_t self);
  void BecomeWriter(uint32_t self, bool upgrading);
  void EndReadInsideWrite(uint32_t self);
  void StopWriting(uint32_t self);
};

class TSynchroObject {
 public:
  virtual ~TSynchroObject() = default;
  virtual void Enter() = 0;
  virtual void Leave() = 0;
};

// A plain re-entrant critical section; one per process-wide toolkit cache.
class TCriticalSection : public TSynchroObject {
 public:
  void Enter() override { mutex_.lock(); }
  void Leave() override { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};

// Scoped holders.
class ReadLock {
 public:
  explicit ReadLock(TRWCriticalSection& lock) : lock_(lock) { lock_.BeginRead(); }
  ~ReadLock() { lock_.EndRead(); }
  ReadLock(const ReadLock&) = delete;
  ReadLock& operator=(const ReadLock&) = delete;

 private:
  TRWCriticalSection& lock_;
};

class WriteLock {
 public:
  explicit WriteLock(TRWCriticalSection& lock) : lock_(lock) { lock_.BeginWrite(); }
  ~WriteLock() { lock_.EndWrite(); }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

 private:
  TRWCriticalSection& lock_;
};

class SectionLock {
 public:
  explicit SectionLock(TSynchroObject& section) : section_(section) { section_.Enter(); }
  ~SectionLock() { section_.Leave(); }
  SectionLock(const SectionLock&) = delete;
  SectionLock& operator=(const SectionLock&) = delete;

 private:
  TSynchroObject& section_;
};

}  // namespace zk
