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
  // Implementation details are private to rwsyncs.cpp.
  std::recursive_mutex guard_;
  std::mutex eventMutex_;
  std::condition_variable_any eventChanged_;
  bool noReaders_ = true;
  std::atomic<int32_t> readerCount_{0};
  int32_t savedReaderCount_ = 0;
  std::vector<ActiveThread> readers_;
  std::atomic<uint32_t> waiterThreadId_{0};
  std::atomic<uint32_t> spinLock_{0};
  std::atomic<bool> writing_{false};

  void TakeSpinLock();
  void ReleaseSpinLock();
  bool AllEntriesBelongTo(uint32_t threadId) const;
  void SignalNoReaders();
  void ResetNoReaders();
  void WaitNoReaders();
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
