// Do independent engines scale with threads? The same operation on 1 KiB, run by one thread with
// one engine, and by two threads with an engine each (engines of different users, so that they
// share no binding). Every program registers its cases here and prints the table at its end.
//
// A case's function runs in each thread; state.thread_index() (0 or 1) picks the thread's engines.
// Both threads start together and a run lasts until the last of them ends: its rate is the
// operations of both threads over that time (see AsWholeRun), so threads that take turns behind a
// lock show no speed-up. The goal is two threads at 1.8 times the rate of one. Two cores may not be
// enough to show it on a busy machine: the table therefore also gives the CPU time per operation,
// which tells a lock that makes the threads wait (CPU time per operation stays, real time grows)
// apart from a machine that has no core to spare.
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

// "scale_<op>/<side>", with kScalingBytes, on one and on two threads, each run timed as a whole.
// The side "engine" measures the goal; a side "raw" (the toolkit's primitives alone, where a
// program can run them on two threads) shows what the machine allows at the moment.
template <typename Case>
void RegisterScalingCase(const std::string& op, Case fn, const char* side) {
  benchmark::RegisterBenchmark(("scale_" + op + "/" + side).c_str(),
                               [fn](benchmark::State& state) { AsWholeRun(state, fn); })
      ->Arg(kScalingBytes)
      ->Threads(1)
      ->Threads(2)
      ->UseManualTime()
      ->Unit(benchmark::kMicrosecond);
}

inline void RegisterScaling(const std::string& op, void (*fn)(benchmark::State&), const char* side = "engine") {
  RegisterScalingCase(op, fn, side);
}

inline void PrintScalingTable(const MedianReporter& r, const char* engine) {
  const std::string one = std::to_string(kScalingBytes) + "/threads:1";
  const std::string two = std::to_string(kScalingBytes) + "/threads:2";
  bool header = false;
  auto ratioOf = [&](const std::string& name) {
    const double rate1 = r.Median(name, one, "items_per_second"), rate2 = r.Median(name, two, "items_per_second");
    return rate1 > 0 && rate2 > 0 ? rate2 / rate1 : 0.0;
  };
  for (const char* op : kScalingOps) {
    const std::string name = std::string("scale_") + op + "/engine";
    const double rate1 = r.Median(name, one, "items_per_second"), rate2 = r.Median(name, two, "items_per_second");
    const double cpu1 = r.Median(name, one, kCpuSecondsPerOp), cpu2 = r.Median(name, two, kCpuSecondsPerOp);
    if (rate1 <= 0 || rate2 <= 0) continue;
    if (!header) {
      std::printf("\n%s engine, two independent engines on two threads against one (1 KiB):\n", engine);
      std::printf("%-7s %12s %12s %8s %9s %14s %14s   %s\n", "op", "1 thread/s", "2 threads/s", "ratio", "raw ratio",
                  "cpu us/op 1t", "cpu us/op 2t", "goal");
      header = true;
    }
    const double ratio = rate2 / rate1, raw = ratioOf(std::string("scale_") + op + "/raw");
    const std::string rawText = raw > 0 ? std::to_string(raw).substr(0, 5) : "-";
    std::printf("%-7s %12.1f %12.1f %8.3f %9s %14.1f %14.1f   >=%.1f %s\n", op, rate1, rate2, ratio, rawText.c_str(),
                cpu1 * 1e6, cpu2 * 1e6, kScalingGoal, ratio >= kScalingGoal ? "met" : "MISSED");
  }
  if (header) {
    std::printf("(medians over repetitions; %u hardware threads; a rate is both threads' operations over the time\n"
                " from their common start to the last one's end; raw ratio = the toolkit's primitives alone on one\n"
                " and two threads, what the machine allowed meanwhile; a MISSED ratio with the CPU time per\n"
                " operation unchanged means the threads waited for each other or for another program)\n",
                std::thread::hardware_concurrency());
  }
}

}  // namespace zkbench
