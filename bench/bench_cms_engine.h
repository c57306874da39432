// The benchmark cases shared by the engines whose toolkits speak CMS with certificates (Message-PRO,
// Validata): each engine against libgcrypt doing the same work (bench_gcrypt_raw.h), EncodeData and
// VerifyData of 1 KiB with 10 and with 10,000 correspondents' certificates known to the encoder or
// verifier (encode_steady, verify_steady), and two engines of
// two users on two threads against one (scale_*). A program supplies its world of two users
// (user 1 and user 2, each with an engine knowing the other) and calls RunCmsEngineBenchmarks.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "bench_compare.h"
#include "bench_gcrypt_raw.h"
#include "frame/crypto_engine.h"

namespace zkbench {

class CmsWorld {
 public:
  virtual ~CmsWorld() = default;
  virtual zk::TCryptoEngine& Engine(int user) = 0;
  // The UID that names `user` as a recipient.
  virtual std::string Uid(int user) const = 0;
  // Makes `count` correspondents' certificates known to user 1 (copies of user 2's under other
  // names where the engine allows it); false when the world cannot. Counts only grow.
  virtual bool FillCertificates(int count) = 0;
};

namespace cms {

using Bytes = std::vector<uint8_t>;
inline constexpr int64_t kSmall = 1024;
inline constexpr int kFew = 10, kMany = 10000;

inline CmsWorld* g_world = nullptr;
inline CmsWorld& World() { return *g_world; }
inline const GcryptRaw& Raw() {
  static const GcryptRaw raw;
  return raw;
}

inline Bytes RandomBytes(size_t size) {
  std::mt19937 gen(42);
  Bytes out(size);
  for (uint8_t& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

inline int User(const benchmark::State& state) { return state.thread_index() % 2 + 1; }

inline void Encode(benchmark::State& state, int from, int to, int64_t size) {
  const Bytes plain = RandomBytes(static_cast<size_t>(size));
  Bytes buffer(plain.size() + static_cast<size_t>(World().Engine(from).GetMaxEncodeAddition()));
  int32_t length = 0;
  const std::string uid = World().Uid(to);
  TimeEach(
      state, size, [&] { std::memcpy(buffer.data(), plain.data(), plain.size()), length = static_cast<int32_t>(size); },
      [&] { return World().Engine(from).EncodeData(buffer.data(), &length, uid.c_str()); });
}

inline void Decode(benchmark::State& state, int from, int to, int64_t size) {
  Bytes envelope = RandomBytes(static_cast<size_t>(size));
  envelope.resize(envelope.size() + static_cast<size_t>(World().Engine(from).GetMaxEncodeAddition()));
  int32_t sealed = static_cast<int32_t>(size);
  if (World().Engine(from).EncodeData(envelope.data(), &sealed, World().Uid(to).c_str()) != 0) {
    state.SkipWithError("no envelope");
    return;
  }
  Bytes buffer(static_cast<size_t>(sealed));
  int32_t length = 0;
  char sender[4096];
  TimeEach(
      state, size, [&] { std::memcpy(buffer.data(), envelope.data(), buffer.size()), length = sealed; },
      [&] { return World().Engine(to).DecodeData(buffer.data(), &length, sender); });
}

inline void Sign(benchmark::State& state, int user) {
  const Bytes data = RandomBytes(kSmall);
  Bytes signature(static_cast<size_t>(World().Engine(user).GetMaxSignatureLength()));
  int32_t length = 0;
  TimeEach(state, kSmall, NoPrepare,
           [&] { return World().Engine(user).SignData(data.data(), kSmall, signature.data(), &length, ""); });
}

inline void Verify(benchmark::State& state, int signer, int verifier) {
  const Bytes data = RandomBytes(kSmall);
  Bytes signature(static_cast<size_t>(World().Engine(signer).GetMaxSignatureLength()));
  int32_t length = 0;
  if (World().Engine(signer).SignData(data.data(), kSmall, signature.data(), &length, "") != 0) {
    state.SkipWithError("no signature");
    return;
  }
  char uid[4096];
  TimeEach(state, kSmall, NoPrepare, [&] {
    return World().Engine(verifier).VerifyData(data.data(), kSmall, signature.data(), length, uid);
  });
}

// Each case as a function of its size: on one thread user 1's engine, on two threads one user's
// engine each (user 1 sends to or signs for user 2, and the other way round).
inline void EncodeEngine(benchmark::State& state, int64_t bytes) { Encode(state, User(state), 3 - User(state), bytes); }
inline void DecodeEngine(benchmark::State& state, int64_t bytes) { Decode(state, 3 - User(state), User(state), bytes); }
inline void SignEngine(benchmark::State& state, int64_t) { Sign(state, User(state)); }
inline void VerifyEngine(benchmark::State& state, int64_t) { Verify(state, 3 - User(state), User(state)); }

inline void EncodeRaw(benchmark::State& state, int64_t bytes) {
  const Bytes plain = RandomBytes(static_cast<size_t>(bytes));
  GcryptRaw::Envelope envelope;
  TimeEach(state, bytes, NoPrepare, [&] { return Raw().Encode(plain, envelope); });
}

inline void DecodeRaw(benchmark::State& state, int64_t bytes) {
  GcryptRaw::Envelope envelope;
  if (Raw().Encode(RandomBytes(static_cast<size_t>(bytes)), envelope) != 0) return state.SkipWithError("no raw envelope");
  Bytes plain;
  TimeEach(state, bytes, NoPrepare, [&] { return Raw().Decode(envelope, plain); });
}

inline void SignRaw(benchmark::State& state, int64_t) {
  const Bytes data = RandomBytes(kSmall);
  TimeEach(state, kSmall, NoPrepare, [&] {
    GcryptRaw::Sexp value;
    return Raw().Sign(data, value);
  });
}

inline void VerifyRaw(benchmark::State& state, int64_t) {
  const Bytes data = RandomBytes(kSmall);
  GcryptRaw::Signature s;
  Raw().SignWithCertificate(data, s);
  TimeEach(state, kSmall, NoPrepare, [&] { return Raw().Verify(data, s); });
}

inline void EncodeSteady(benchmark::State& state) {
  if (!World().FillCertificates(static_cast<int>(state.range(0)))) return state.SkipWithError("not measured");
  Encode(state, 1, 2, kSmall);
}

inline void VerifySteady(benchmark::State& state) {
  if (!World().FillCertificates(static_cast<int>(state.range(0)))) return state.SkipWithError("not measured");
  Verify(state, 2, 1);
}

inline void RegisterAll() {
  // The raw envelope cases stay on one thread: each draws from libgcrypt's process-wide random pool,
  // which two threads queue for.
  RegisterUsualOperations({SignEngine, SignRaw}, {VerifyEngine, VerifyRaw}, {EncodeEngine, EncodeRaw, Threads::kEngine},
                          {DecodeEngine, DecodeRaw, Threads::kEngine}, 0.85);
  // Every case with kFew before any with kMany: a world only ever adds certificates.
  for (int count : {kFew, kMany}) {
    for (const auto& [name, fn] : {std::pair{"encode_steady/engine", EncodeSteady}, std::pair{"verify_steady/engine", VerifySteady}})
      benchmark::RegisterBenchmark(name, fn)->Arg(count)->UseManualTime()->Unit(benchmark::kMicrosecond);
  }
}

// The rate with kMany certificates against the rate with kFew, and the CPU time per operation beside
// it: on a busy machine the steadier figure.
inline void PrintSteady(const MedianReporter& r, const char* op) {
  const std::string name = std::string(op) + "_steady/engine";
  const double few = r.Median(name, std::to_string(kFew), "items_per_second");
  const double many = r.Median(name, std::to_string(kMany), "items_per_second");
  if (few <= 0 || many <= 0) return;
  const double fewCpu = r.Median(name, std::to_string(kFew), kCpuSecondsPerOp);
  const double manyCpu = r.Median(name, std::to_string(kMany), kCpuSecondsPerOp);
  std::printf("steady %s/s with %d certificates %.1f, with %d certificates %.1f: ratio %.3f (cpu %.3f), goal >=0.90 %s\n",
              op, kFew, few, kMany, many, many / few, manyCpu > 0 ? fewCpu / manyCpu : 0.0,
              many / few >= 0.9 ? "met" : "MISSED");
}

inline void PrintAllSteady(const MedianReporter& r) {
  for (const char* op : {"encode", "verify"}) PrintSteady(r, op);
}

inline CmsWorld& (*g_makeWorld)() = nullptr;

}  // namespace cms

// Registers the cases, runs them with the command line's options and prints the tables.
inline int RunCmsEngineBenchmarks(int argc, char** argv, CmsWorld& (*world)(), const char* engine) {
  cms::RegisterAll();
  cms::g_makeWorld = world;
  return RunComparison(argc, argv, engine, [] { cms::g_world = &cms::g_makeWorld(); }, cms::PrintAllSteady);
}

}  // namespace zkbench
