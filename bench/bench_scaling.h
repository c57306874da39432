// Do independent engines scale with threads? The same operation on 1 KiB, run by one thread with
// one engine, and by two threads with an engine each (engines of different users, so that they
// share no binding). Every program registers its four cases here and prints the table at its end.
//
// A case's function runs in each thread; state.thread_index() (0 or 1) picks the thread's engines.
// The rate of a two-thread run is the sum over both threads; the goal is two threads at 1.8 times
// the rate of one. Only two cores may not be enough to show it on a busy machine: the table
// therefore also gives the CPU time per operation, which shows a lock that makes the threads wait
// (CPU time per operation stays, real time grows) apart from a machine that has no core to spare.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <thread>

#include "bench_report.h"
#include "bench_timing.h"

namespace zkbench {

inline constexpr int64_t kScalingBytes = 1024;
inline constexpr double kScalingGoal = 1.8;
inline const char* const kScalingOps[] = {"sign", "verify", "encode", "decode"};

// "scale_<op>/engine", with kScalingBytes, on one and on two threads.
inline void RegisterScaling(const std::string& op, void (*fn)(benchmark::State&)) {
  benchmark::RegisterBenchmark(("scale_" + op + "/engine").c_str(), fn)
      ->Arg(kScalingBytes)
      ->Threads(1)
      ->Threads(2)
      ->UseManualTime()
      ->Unit(benchmark::kMicrosecond);
}

inline void PrintScalingTable(const MedianReporter& r, const char* engine) {
  const std::string one = std::to_string(kScalingBytes) + "/threads:1";
  const std::string two = std::to_string(kScalingBytes) + "/threads:2";
  bool header = false;
  for (const char* op : kScalingOps) {
    const std::string name = std::string("scale_") + op + "/engine";
    const double rate1 = r.Median(name, one, "items_per_second"), rate2 = r.Median(name, two, "items_per_second");
    const double cpu1 = r.Median(name, one, kCpuSecondsPerOp), cpu2 = r.Median(name, two, kCpuSecondsPerOp);
    if (rate1 <= 0 || rate2 <= 0) continue;
    if (!header) {
      std::printf("\n%s engine, two independent engines on two threads against one (1 KiB):\n", engine);
      std::printf("%-7s %12s %12s %8s %14s %14s   %s\n", "op", "1 thread/s", "2 threads/s", "ratio", "cpu us/op 1t",
                  "cpu us/op 2t", "goal");
      header = true;
    }
    const double ratio = rate2 / rate1;
    std::printf("%-7s %12.1f %12.1f %8.3f %14.1f %14.1f   >=%.1f %s\n", op, rate1, rate2, ratio, cpu1 * 1e6,
                cpu2 * 1e6, kScalingGoal, ratio >= kScalingGoal ? "met" : "MISSED");
  }
  if (header) {
    std::printf("(medians over repetitions; %u hardware threads; a MISSED ratio with the CPU time per operation\n"
                " unchanged means the threads waited for each other or for another program)\n",
                std::thread::hardware_concurrency());
  }
}

}  // namespace zkbench
