// How long a private key read from its medium may stay in memory: "Key request time out" seconds
// after it was read and "Last operation key time out" seconds after its last use. The times come
// from a monotonic clock, so neither a changed wall clock nor midnight stretches or shortens them;
// a time-out of 0 or less means the key is read again for every operation.
#pragma once

#include <cstdint>

namespace zk {

class TKeyTimeouts {
 public:
  // Milliseconds of a clock that never goes back.
  using Clock = uint64_t (*)();
  // Replaces the clock of every key holder (null restores the monotonic one), so tests need not
  // sleep.
  static void SetClockForTesting(Clock clock);
  static uint64_t Now();

  // True when a held key must be read again: the time-outs of this call and those in force when
  // the key was read and last used must all allow its reuse.
  bool Expired(int32_t KeyTimeout, int32_t LastOpTimeout, uint64_t Now) const;
  // The key was read at Now under KeyTimeout.
  void Loaded(int32_t KeyTimeout, uint64_t Now);
  // The key was used at Now under LastOpTimeout.
  void Used(int32_t LastOpTimeout, uint64_t Now);
  void Reset() { *this = TKeyTimeouts(); }

 private:
  uint64_t loadTime_ = 0;
  uint64_t lastUse_ = 0;
  int32_t keyTimeout_ = 0;
  int32_t lastOpTimeout_ = 0;
};

}  // namespace zk
