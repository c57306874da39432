// An engine against its toolkit's own calls doing the same work. A program registers, per
// operation, the engine's case and the raw case as functions of the data size; each is run once on
// the operation's size ("<op>/engine", "<op>/raw") and, where it can run on two threads, as a
// scaling case on kScalingBytes (see bench_scaling.h). RunComparison then runs everything and
// prints both tables.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "bench_report.h"
#include "bench_scaling.h"
#include "bench_timing.h"

namespace zkbench {

inline constexpr int64_t kSmallOp = 1024;
inline constexpr int64_t kLargeOp = 1 << 20;

// A case that does its operation on `bytes` of data.
using SizedCase = void (*)(benchmark::State&, int64_t bytes);

// Which sides of an operation also run on one and two threads.
enum class Threads { kNeither, kEngine, kBoth };

struct Operation {
  const char* op;  // "sign", "verify", "encode" or "decode"
  int64_t bytes;
  double goal;  // the engine's rate as a share of the raw one; 0 for none
  SizedCase engine, raw;
  Threads threads = Threads::kBoth;
};

namespace detail {
inline std::vector<Operation>& Operations() {
  static std::vector<Operation> operations;
  return operations;
}
}  // namespace detail

inline void RegisterOperation(const Operation& o) {
  detail::Operations().push_back(o);
  for (const auto& [side, fn] : {std::pair{"engine", o.engine}, {"raw", o.raw}}) {
    benchmark::RegisterBenchmark((std::string(o.op) + "/" + side).c_str(),
                                 [fn = fn, bytes = o.bytes](benchmark::State& state) { fn(state, bytes); })
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
  }
  const auto atScalingSize = [](SizedCase fn) { return [fn](benchmark::State& state) { fn(state, kScalingBytes); }; };
  if (o.threads != Threads::kNeither) RegisterScalingCase(o.op, atScalingSize(o.engine), "engine");
  if (o.threads == Threads::kBoth) RegisterScalingCase(o.op, atScalingSize(o.raw), "raw");
}

// The engine's and the raw case of one operation, and which of them also run on two threads.
struct Sides {
  SizedCase engine, raw;
  Threads threads = Threads::kBoth;
};

// The four operations with their usual sizes and goals: sign and verify on 1 KiB at 0.9 of the
// raw rate (or `signatureGoal`; 0 for none), encode and decode on 1 MiB at 0.95.
inline void RegisterUsualOperations(const Sides& sign, const Sides& verify, const Sides& encode, const Sides& decode,
                                    double signatureGoal = 0.9) {
  RegisterOperation({"sign", kSmallOp, signatureGoal, sign.engine, sign.raw, sign.threads});
  RegisterOperation({"verify", kSmallOp, signatureGoal, verify.engine, verify.raw, verify.threads});
  RegisterOperation({"encode", kLargeOp, 0.95, encode.engine, encode.raw, encode.threads});
  RegisterOperation({"decode", kLargeOp, 0.95, decode.engine, decode.raw, decode.threads});
}

inline std::string SizeText(int64_t bytes) {
  return bytes % (1 << 20) == 0 ? std::to_string(bytes >> 20) + " MiB" : std::to_string(bytes >> 10) + " KiB";
}

inline void PrintComparisonTable(const MedianReporter& r, const char* engine) {
  std::printf("\n%s engine against the toolkit's own calls doing the same work:\n", engine);
  std::printf("%-7s %6s %12s %12s %8s %8s %13s %13s   %s\n", "op", "size", "engine op/s", "raw op/s", "ratio", "cpu",
              "engine cpu us", "raw cpu us", "goal (cpu)");
  for (const Operation& o : detail::Operations()) {
    const std::string e = std::string(o.op) + "/engine", raw = std::string(o.op) + "/raw";
    const double ew = r.Median(e, "", "items_per_second"), rw = r.Median(raw, "", "items_per_second");
    const double ec = r.Median(e, "", kCpuSecondsPerOp), rc = r.Median(raw, "", kCpuSecondsPerOp);
    if (ew <= 0 || rw <= 0 || ec <= 0 || rc <= 0) continue;
    std::printf("%-7s %6s %12.1f %12.1f %8.3f %8.3f %13.1f %13.1f", o.op, SizeText(o.bytes).c_str(), ew, rw, ew / rw,
                rc / ec, ec * 1e6, rc * 1e6);
    if (o.goal > 0) std::printf("   >=%.2f %s", o.goal, rc / ec >= o.goal ? "met" : "MISSED");
    std::printf("\n");
  }
  std::printf("(medians over repetitions; ratio = engine / raw rate in real time, cpu = the same in CPU time of\n"
              " the operation's thread, the steadier figure when other programs share the machine)\n");
}

// Runs the registered cases with the command line's options after setUp (which builds, before any
// case runs, what the two-thread cases must not race to build), then prints the comparison and
// scaling tables and whatever `more` adds.
inline int RunComparison(int argc, char** argv, const char* engine, void (*setUp)(),
                         void (*more)(const MedianReporter&) = nullptr) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  int status = 0;
  try {
    setUp();
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintComparisonTable(reporter, engine);
    if (more != nullptr) more(reporter);
    PrintScalingTable(reporter, engine);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    status = 1;
  }
  benchmark::Shutdown();
  return status;
}

}  // namespace zkbench
