// The timing loop that the engine-against-raw benchmarks share: real time and this thread's CPU
// time of one operation, with an untimed warm-up.
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace zkbench {

// The name of the counter that holds the CPU time of one operation, in seconds.
inline const char kCpuSecondsPerOp[] = "cpu_s_per_op";

// This thread's CPU time in seconds.
inline double ThreadCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The span of a run that several threads share, from the first operation that any of them
// starts to the last that any of them ends. A two-thread rate over each thread's own operations
// would count the time one thread spends waiting for the other only once, and so credit a speed-up
// to engines behind a lock that lets one thread do all its work first.
class RunSpan {
 public:
  using Clock = std::chrono::steady_clock;

  // Called by the run's thread 0 before its timed loop, which no thread enters before every
  // thread has come to it: no thread of this run has marked anything yet.
  void Reset() {
    first_.store(std::numeric_limits<int64_t>::max());
    last_.store(std::numeric_limits<int64_t>::min());
  }
  void Mark(Clock::time_point start, Clock::time_point end) {
    Lower(first_, Ticks(start));
    Raise(last_, Ticks(end));
  }
  // Valid once every thread has left its timed loop, which ends for all of them together.
  double Seconds() const { return static_cast<double>(last_.load() - first_.load()) * 1e-9; }

 private:
  static int64_t Ticks(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
  }
  static void Lower(std::atomic<int64_t>& bound, int64_t value) {
    for (int64_t seen = bound.load(); value < seen && !bound.compare_exchange_weak(seen, value);) {
    }
  }
  static void Raise(std::atomic<int64_t>& bound, int64_t value) {
    for (int64_t seen = bound.load(); value > seen && !bound.compare_exchange_weak(seen, value);) {
    }
  }
  std::atomic<int64_t> first_{0}, last_{0};
};

namespace detail {
// Runs execute one after another, so one span serves them all.
inline RunSpan& SharedRunSpan() {
  static RunSpan span;
  return span;
}
// Set for the calls of a case registered to be timed as a whole run (see RegisterScaling).
inline thread_local bool timeWholeRun = false;
}  // namespace detail

// Times what `body` runs with TimeEach as whole runs: each thread reports the span of the whole
// run, so a run's rate is all threads' operations over the time from the first start to the last
// end, on one thread and on several alike.
template <typename Body>
void AsWholeRun(benchmark::State& state, Body body) {
  struct Flag {
    Flag() { detail::timeWholeRun = true; }
    ~Flag() { detail::timeWholeRun = false; }
  } flag;
  body(state);
}

// Runs op once per iteration and times only op, in real time and in this thread's CPU time (the
// steadier figure when other programs share the machine); prepare (not timed) restores what op
// overwrote. op returns 0 on success. One untimed run comes first: whatever the engine loads on
// first use (its certificate model, the key file), perhaps emptied by the benchmark that ran
// before, would otherwise land in the first iteration and, with random interleaving, in the
// iteration count. Under AsWholeRun a thread's time is instead the run's span, which also holds
// prepare and any wait for the other threads.
template <typename Prepare, typename Op>
void TimeEach(benchmark::State& state, int64_t bytesPerOp, Prepare prepare, Op op) {
  using Clock = RunSpan::Clock;
  prepare();
  if (const int32_t code = op(); code != 0) {
    state.SkipWithError(("warm-up failed with code " + std::to_string(code)).c_str());
    return;
  }
  const bool wholeRun = detail::timeWholeRun;
  RunSpan& span = detail::SharedRunSpan();
  if (wholeRun && state.thread_index() == 0) span.Reset();
  double cpuSeconds = 0, opSeconds = 0;
  for (auto _ : state) {
    prepare();
    // The CPU clock is read outside the real-time interval: it costs a system call.
    const double cpuStart = ThreadCpuSeconds();
    const Clock::time_point start = Clock::now();
    const int32_t code = op();
    const Clock::time_point end = Clock::now();
    cpuSeconds += ThreadCpuSeconds() - cpuStart;
    const double seconds = std::chrono::duration<double>(end - start).count();
    opSeconds += seconds;
    state.SetIterationTime(seconds);
    if (wholeRun) span.Mark(start, end);
    if (code != 0) {
      state.SkipWithError(("operation failed with code " + std::to_string(code)).c_str());
      break;
    }
  }
  // The loop ends for every thread together: each has marked all its operations by now.
  if (wholeRun && !state.error_occurred()) state.SetIterationTime(span.Seconds() - opSeconds);
  state.counters[kCpuSecondsPerOp] = benchmark::Counter(cpuSeconds, benchmark::Counter::kAvgIterations);
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * bytesPerOp);
}

inline void NoPrepare() {}

// TimeEach for an operation that works in place, as EncodeData and DecodeData do: before each run
// (untimed) `input` is copied into a buffer with `room` bytes to spare, and op(buffer, &length)
// gets the buffer and its data's length.
template <typename Op>
void TimeInPlace(benchmark::State& state, int64_t bytesPerOp, const std::vector<uint8_t>& input, size_t room, Op op) {
  std::vector<uint8_t> buffer(input.size() + room);
  int32_t length = 0;
  TimeEach(
      state, bytesPerOp,
      [&] {
        std::memcpy(buffer.data(), input.data(), input.size());
        length = static_cast<int32_t>(input.size());
      },
      [&] { return op(buffer.data(), &length); });
}

}  // namespace zkbench
