// The timing loop that the engine-against-raw benchmarks share: real time and this thread's CPU
// time of one operation, with an untimed warm-up.
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace zkbench {

// The name of the counter that holds the CPU time of one operation, in seconds.
inline const char kCpuSecondsPerOp[] = "cpu_s_per_op";

// This thread's CPU time in seconds.
inline double ThreadCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Runs op once per iteration and times only op, in real time and in this thread's CPU time (the
// steadier figure when other programs share the machine); prepare (not timed) restores what op
// overwrote. op returns 0 on success. One untimed run comes first: whatever the engine loads on
// first use (its certificate model, the key file), perhaps emptied by the benchmark that ran
// before, would otherwise land in the first iteration and, with random interleaving, in the
// iteration count.
template <typename Prepare, typename Op>
void TimeEach(benchmark::State& state, int64_t bytesPerOp, Prepare prepare, Op op) {
  using Clock = std::chrono::steady_clock;
  prepare();
  if (const int32_t code = op(); code != 0) {
    state.SkipWithError(("warm-up failed with code " + std::to_string(code)).c_str());
    return;
  }
  double cpuSeconds = 0;
  for (auto _ : state) {
    prepare();
    // The CPU clock is read outside the real-time interval: it costs a system call.
    const double cpuStart = ThreadCpuSeconds();
    const Clock::time_point start = Clock::now();
    const int32_t code = op();
    const Clock::time_point end = Clock::now();
    cpuSeconds += ThreadCpuSeconds() - cpuStart;
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    if (code != 0) {
      state.SkipWithError(("operation failed with code " + std::to_string(code)).c_str());
      break;
    }
  }
  state.counters[kCpuSecondsPerOp] = benchmark::Counter(cpuSeconds, benchmark::Counter::kAvgIterations);
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * bytesPerOp);
}

inline void NoPrepare() {}

}  // namespace zkbench
