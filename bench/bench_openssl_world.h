// What the OpenSSL engine's benchmark works on: sandboxes of keys and certificates made at start,
// engines configured in them through the exports, and the timing loop every case shares.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "osslkit.h"

namespace zkbench::ossl {

namespace kit = zk::osslkit;
using Bytes = std::vector<uint8_t>;

constexpr int kKeyBits = 2048;
constexpr int64_t kSmall = 1 << 10;
constexpr int64_t kLarge = 1 << 20;
constexpr int64_t kFewCorrespondents = 10;
constexpr int64_t kManyCorrespondents = 10000;

// Throws std::runtime_error(what) unless ok: a broken set-up ends the program.
void Check(bool ok, const std::string& what);
// The same bytes for the same size, on both sides of a comparison.
Bytes RandomData(size_t size);

struct EngineCloser {
  void operator()(void* engine) const;
};
using EnginePtr = std::unique_ptr<void, EngineCloser>;

// A sandbox holding `count` correspondents' certificates: the users alice and bob, and count - 2
// certificates of one shared key. Engines work as alice, as bob and as one of the shared-key
// correspondents (from the middle of the directory). All hash with MD5 and encrypt with RC4;
// the other parameters keep their defaults.
class World {
 public:
  explicit World(int64_t count);
  ~World();

  const kit::Sandbox& box() const { return *box_; }
  const kit::SandboxUser& user(const std::string& name) const { return box_->user(name); }
  void* alice() const { return alice_.get(); }
  void* bob() const { return bob_.get(); }
  void* correspondent() const { return correspondent_.get(); }

 private:
  std::string root_;
  std::unique_ptr<kit::Sandbox> box_;
  EnginePtr alice_, bob_, correspondent_;
};

// The world of this many correspondents, built at first use (a filter may skip the 10,000).
World& WorldOf(int64_t count);
// Removes the worlds and their files; called before the program ends.
void ReleaseWorlds();

// The engine's signature of the data, and alice's envelope of the data for bob.
Bytes EngineSign(void* engine, const Bytes& data);
Bytes EngineEnvelope(const World& world, const Bytes& data);

// The name of the counter that holds the CPU time of one operation, in seconds.
inline const char kCpuSecondsPerOp[] = "cpu_s_per_op";

// This thread's CPU time in seconds.
double ThreadCpuSeconds();

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

// Raw libcrypto doing the engine's primitive work (bench_openssl_raw.cpp); range(0) is the size.
void SignRaw(benchmark::State& state);
void VerifyRaw(benchmark::State& state);
void VerifyRawChain(benchmark::State& state);
void EncodeRaw(benchmark::State& state);
void DecodeRaw(benchmark::State& state);

}  // namespace zkbench::ossl
