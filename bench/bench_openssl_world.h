// What the OpenSSL engine's benchmark works on: sandboxes of keys and certificates made at start,
// engines configured in them through the exports, and the timing loop every case shares.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "osslkit.h"

namespace zkbench::ossl {

using zkbench::NoPrepare;
using zkbench::TimeEach;
using zkbench::kCpuSecondsPerOp;

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
  // A further engine of the user alice or bob, for a thread of its own.
  EnginePtr Open(const std::string& name) const;

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

// Raw libcrypto doing the engine's primitive work (bench_openssl_raw.cpp); range(0) is the size.
void SignRaw(benchmark::State& state);
void VerifyRaw(benchmark::State& state);
void VerifyRawChain(benchmark::State& state);
void EncodeRaw(benchmark::State& state);
void DecodeRaw(benchmark::State& state);

}  // namespace zkbench::ossl
