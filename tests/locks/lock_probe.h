// Thread helpers for the lock tests: one-shot flags, a barrier, a deadlock watchdog and a probe
// that tells whether an acquisition on another thread waited for a release on this one.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

namespace locktest {

class Flag {
 public:
  void Raise() {
    std::lock_guard<std::mutex> hold(mutex_);
    raised_ = true;
    changed_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait(hold, [&] { return raised_; });
  }
  bool WaitFor(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, limit, [&] { return raised_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool raised_ = false;
};

class Barrier {
 public:
  explicit Barrier(int parties) : parties_(parties) {}
  void ArriveAndWait() {
    std::unique_lock<std::mutex> hold(mutex_);
    if (++arrived_ == parties_) changed_.notify_all();
    changed_.wait(hold, [&] { return arrived_ >= parties_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int parties_;
  int arrived_ = 0;
};

// A lock test that deadlocks would hang ctest; this ends the program with a message instead.
class DeadlockWatchdog {
 public:
  explicit DeadlockWatchdog(std::chrono::seconds limit = std::chrono::seconds(120))
      : thread_([this, limit] {
          if (!done_.WaitFor(limit)) {
            std::fprintf(stderr, "lock test did not finish: deadlock\n");
            std::abort();
          }
        }) {}
  ~DeadlockWatchdog() {
    done_.Raise();
    thread_.join();
  }

 private:
  Flag done_;
  std::thread thread_;
};

class LockTest : public ::testing::Test {
 private:
  DeadlockWatchdog watchdog_;
};

// Runs `enter` then `leave` on another thread and `release` on this one once that thread is about
// to enter. True when `enter` returned only after `release` had begun. The pause only gives a
// faulty lock the chance to let the other thread in early; no assertion depends on its length.
inline bool WaitsForRelease(const std::function<void()>& enter, const std::function<void()>& leave,
                            const std::function<void()>& release) {
  std::atomic<bool> released{false};
  std::atomic<bool> enteredAfterRelease{false};
  Flag starting;
  std::thread other([&] {
    starting.Raise();
    enter();
    enteredAfterRelease = released.load();
    leave();
  });
  starting.Wait();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  released = true;
  release();
  other.join();
  return enteredAfterRelease.load();
}

// Runs `body` on another thread and waits for it; a deadlock is caught by the watchdog.
inline void RunOnOtherThread(const std::function<void()>& body) {
  std::thread other(body);
  other.join();
}

}  // namespace locktest
