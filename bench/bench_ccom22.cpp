// The Crypto COM 2.2 engine against the stand-in toolkit's raw calls doing the same work:
// EncodeData and DecodeData of 1 MiB (one recipient), SignData and VerifyData of 1 KiB; then
// SignData on two engines in two threads against one. Tables of ratios end the output.
//
// The raw side makes the toolkit calls the engine's formats need and nothing else: a context
// with the algorithms, the generator seeded, the session key for the recipient's certificate and
// the cipher in pieces of 65528 bytes (decryption: the session key unwrapped with the secret key
// and the cipher); for signatures the digest of data and signer block and the final call. The
// key files are read once beforehand, as the engine's cache holds them.
//
// Two threads: the engines of the process share one operation lock around key loading and the
// toolkit's work (the toolkit's single generator is seeded for each operation), so two engines
// on two threads are not expected to run faster than one; the table shows the measured ratio.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_report.h"
#include "bench_timing.h"
#include "engines/ccom22/cc_api.h"
#include "engines/ccom22/cc_dll.h"
#include "engines/ccom22/cc_engine.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
constexpr size_t kSmall = 1024, kLarge = 1 << 20, kPiece = 65528;

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

Bytes RandomData(size_t n) {
  std::mt19937 generator(42);
  Bytes data(n);
  for (auto& b : data) b = static_cast<uint8_t>(generator());
  return data;
}

std::string ReadText(const std::string& path) {
  std::vector<uint8_t> data;
  Check(zk::platform::ReadWholeFile(path, data), "cannot read " + path);
  return std::string(data.begin(), data.end());
}

// The stand-in, loaded by its full name first, so that the engine's search finds this module.
struct Toolkit {
  zk::ccom22::CcApi api;
  int (*makeAuthority)(const char*, int32_t, char*) = nullptr;
  int (*makeUser)(const char*, int32_t, const char*, int32_t, int64_t, int64_t, const char*, const char*,
                  const char*) = nullptr;
  int (*makeRandom)(const char*, int32_t) = nullptr;

  static const Toolkit& Get() {
    static const Toolkit toolkit = [] {
      Toolkit t;
      zk::platform::ModuleHandle m = zk::platform::LoadModule(ZK_CC_STANDIN);
      Check(m != nullptr, "cannot load " ZK_CC_STANDIN);
#define BENCH_BIND(name, bytes)                                                                        \
  t.api.name = reinterpret_cast<decltype(t.api.name)>(zk::platform::FindSymbol(m, "_" #name "@" #bytes));
      ZK_CC_FUNCTIONS(BENCH_BIND)
#undef BENCH_BIND
      t.makeAuthority = reinterpret_cast<decltype(t.makeAuthority)>(zk::platform::FindSymbol(m, "CC_StandIn_MakeAuthority"));
      t.makeUser = reinterpret_cast<decltype(t.makeUser)>(zk::platform::FindSymbol(m, "CC_StandIn_MakeUser"));
      t.makeRandom = reinterpret_cast<decltype(t.makeRandom)>(zk::platform::FindSymbol(m, "CC_StandIn_MakeRandomFile"));
      Check(t.makeUser != nullptr && t.api.BufferCipherUpdate != nullptr, "stand-in exports");
      return t;
    }();
    return toolkit;
  }
};

// Users A (key 1) and B (key 2) of one authority, each holding the other's certificate.
struct World {
  fs::path dir = fs::temp_directory_path() / ("zk_bench_ccom22_" + std::to_string(std::time(nullptr)));
  std::string certA, secretA, certB, secretB;
  std::unique_ptr<zk::TCcom22Engine> a, b, a2;

  World() {
    const Toolkit& t = Toolkit::Get();
    char authority[65] = {};
    fs::create_directories(dir / "auth");
    Check(t.makeAuthority((dir / "auth").string().c_str(), 1, authority) == 0, "authority");
    const int64_t now = std::time(nullptr);
    int32_t number = 1;
    for (const char* name : {"A", "B"}) {
      const fs::path home = dir / name;
      fs::create_directories(home / "crt");
      fs::create_directories(home / "sec");
      Check(t.makeUser(authority, 1, (std::string(name) + ".1").c_str(), number++, now - 86400, now + 86400 * 365,
                       (home / "crt").string().c_str(), (home / "sec").string().c_str(),
                       (home / "self.crt").string().c_str()) == 0,
            "user");
      Check(t.makeRandom((home / "rand").string().c_str(), 2048) == 0, "random file");
    }
    fs::create_directories(dir / "A" / "crt" / "B" / "@");
    fs::create_directories(dir / "B" / "crt" / "A" / "@");
    fs::copy_file(dir / "B" / "self.crt", dir / "A" / "crt" / "B" / "@" / "1.crt");
    fs::copy_file(dir / "A" / "self.crt", dir / "B" / "crt" / "A" / "@" / "1.crt");
    certA = ReadText((dir / "A" / "self.crt").string());
    certB = ReadText((dir / "B" / "self.crt").string());
    secretA = ReadText((dir / "A" / "sec" / "1.sec").string());
    secretB = ReadText((dir / "B" / "sec" / "2.sec").string());
    a = Engine("A");
    b = Engine("B");
    a2 = Engine("B");
  }
  ~World() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  std::unique_ptr<zk::TCcom22Engine> Engine(const std::string& name) const {
    auto e = std::make_unique<zk::TCcom22Engine>();
    const fs::path home = dir / name;
    e->SetCryptoParamValue(2, (home / "sec").string().c_str());
    e->SetCryptoParamValue(3, (home / "crt").string().c_str());
    e->SetCryptoParamValue(4, (name + ".1").c_str());
    e->SetCryptoParamValue(7, (home / "rand").string().c_str());
    e->SetCryptoParamValue(10, "600");
    e->SetCryptoParamValue(19, (home / "self.crt").string().c_str());
    return e;
  }
  static World& Get() {
    static World world;
    return world;
  }
};

// The raw side's context with the generator seeded, as one operation has it.
struct RawContext {
  const zk::ccom22::CcApi& api = Toolkit::Get().api;
  HCCCTX ctx = nullptr;
  explicit RawContext(const char* cipher = "28147") {
    static const uint8_t seed[1024] = {1};
    api.InitRand();
    api.RandSeed(seed, sizeof seed);
    ctx = api.InitCryptCtx();
    api.SetCipherAlgorithm(ctx, cipher);
    api.SetHashAlgorithm(ctx, "34.11");
  }
  ~RawContext() {
    api.FreeCryptCtx(ctx);
    api.FreeRand();
  }
  int32_t Cipher(const uint8_t* key, int32_t direction, uint8_t* iv, const uint8_t* in, size_t len, uint8_t* out,
                 size_t& outLen) {
    if (int32_t s = api.BufferCipherInit(ctx, key, direction, iv)) return s;
    outLen = 0;
    for (size_t at = 0; at < len; at += kPiece) {
      int32_t got = 0;
      const size_t piece = std::min(kPiece, len - at);
      if (int32_t s = api.BufferCipherUpdate(ctx, in + at, static_cast<uint16_t>(piece), out + outLen, &got)) return s;
      outLen += static_cast<size_t>(got);
    }
    int32_t got = 0;
    if (int32_t s = api.BufferCipherFinal(ctx, out + outLen, &got)) return s;
    outLen += static_cast<size_t>(got);
    return 0;
  }
};

void EncodeEngine(benchmark::State& state) {
  World& w = World::Get();
  const Bytes data = RandomData(kLarge);
  Bytes buffer(kLarge + 4104);
  int32_t len = 0;
  zkbench::TimeEach(
      state, kLarge, [&] { std::memcpy(buffer.data(), data.data(), kLarge), len = static_cast<int32_t>(kLarge); },
      [&] { return w.a->EncodeData(buffer.data(), &len, "B.1"); });
}

void EncodeRaw(benchmark::State& state) {
  World& w = World::Get();
  const Bytes data = RandomData(kLarge);
  Bytes out(kLarge + 4104);
  zkbench::TimeEach(state, kLarge, zkbench::NoPrepare, [&]() -> int32_t {
    RawContext raw;
    uint8_t *key = nullptr, *aux = nullptr, *wrapped = nullptr;
    int32_t wrappedLen = 0;
    if (int32_t s = raw.api.SessionKeyEncrypt(raw.ctx, w.certB.c_str(), &key, &aux, &wrapped, &wrappedLen)) return s;
    uint8_t iv[8];
    size_t n = 0;
    const int32_t s = raw.Cipher(key, 0, iv, data.data(), kLarge, out.data() + 16, n);
    std::memcpy(out.data() + 16 + n, wrapped, static_cast<size_t>(wrappedLen));
    raw.api.BufferCleanFree(key, 32);
    raw.api.BufferFree(aux);
    raw.api.BufferFree(wrapped);
    return s;
  });
}

void DecodeEngine(benchmark::State& state) {
  World& w = World::Get();
  Bytes record = RandomData(kLarge);
  record.resize(kLarge + 4104);
  int32_t len = static_cast<int32_t>(kLarge);
  Check(w.a->EncodeData(record.data(), &len, "B.1") == 0, "encode for B");
  const Bytes sealed(record.begin(), record.begin() + len);
  zkbench::TimeEach(
      state, kLarge, [&] { std::memcpy(record.data(), sealed.data(), sealed.size()), len = static_cast<int32_t>(sealed.size()); },
      [&] { return w.b->DecodeData(record.data(), &len, nullptr); });
}

void DecodeRaw(benchmark::State& state) {
  World& w = World::Get();
  Bytes record = RandomData(kLarge);
  record.resize(kLarge + 4104);
  int32_t len = static_cast<int32_t>(kLarge);
  Check(w.a->EncodeData(record.data(), &len, "B.1") == 0, "encode for B");
  Bytes out(kLarge + 4104);
  const uint32_t c = record[4] | record[5] << 8 | record[6] << 16 | record[7] << 24;
  const uint32_t k = record[8] | record[9] << 8 | record[10] << 16 | record[11] << 24;
  zkbench::TimeEach(state, kLarge, zkbench::NoPrepare, [&]() -> int32_t {
    RawContext raw;
    uint8_t* key = nullptr;
    if (int32_t s = raw.api.SessionKeyDecrypt(raw.ctx, w.secretB.c_str(), record.data() + 16 + c, static_cast<int32_t>(k), &key))
      return s;
    uint8_t iv[8];
    std::memcpy(iv, record.data() + 16 + c + k, 8);
    size_t n = 0;
    const int32_t s = raw.Cipher(key, 1, iv, record.data() + 16, c, out.data(), n);
    raw.api.BufferCleanFree(key, 32);
    return s;
  });
}

void SignEngine(benchmark::State& state) {
  World& w = World::Get();
  const Bytes data = RandomData(kSmall);
  Bytes signature(544);
  int32_t len = 0;
  zkbench::TimeEach(state, kSmall, zkbench::NoPrepare,
                    [&] { return w.a->SignData(data.data(), static_cast<int32_t>(kSmall), signature.data(), &len, nullptr); });
}

void SignRaw(benchmark::State& state) {
  World& w = World::Get();
  Bytes data = RandomData(kSmall);
  data.resize(kSmall + 32, 0);
  std::memcpy(data.data() + kSmall, "A.1", 3);
  zkbench::TimeEach(state, kSmall, zkbench::NoPrepare, [&]() -> int32_t {
    RawContext raw;
    if (int32_t s = raw.api.BufferSignInit(raw.ctx, w.secretA.c_str())) return s;
    if (int32_t s = raw.api.BufferSignUpdate(raw.ctx, data.data(), static_cast<uint16_t>(data.size()))) return s;
    uint8_t* sig = nullptr;
    int32_t sigLen = 0;
    const int32_t s = raw.api.BufferSignFinal(raw.ctx, &sig, &sigLen);
    raw.api.BufferFree(sig);
    return s;
  });
}

void VerifyEngine(benchmark::State& state) {
  World& w = World::Get();
  const Bytes data = RandomData(kSmall);
  Bytes signature(544);
  int32_t len = 0;
  Check(w.a->SignData(data.data(), static_cast<int32_t>(kSmall), signature.data(), &len, nullptr) == 0, "sign");
  char signer[256];
  zkbench::TimeEach(state, kSmall, zkbench::NoPrepare,
                    [&] { return w.b->VerifyData(data.data(), static_cast<int32_t>(kSmall), signature.data(), len, signer); });
}

void VerifyRaw(benchmark::State& state) {
  World& w = World::Get();
  const Bytes data = RandomData(kSmall);
  Bytes signature(544);
  int32_t len = 0;
  Check(w.a->SignData(data.data(), static_cast<int32_t>(kSmall), signature.data(), &len, nullptr) == 0, "sign");
  Bytes signed_ = data;
  signed_.insert(signed_.end(), signature.begin(), signature.begin() + 32);
  Bytes tail(512, 0);
  std::memcpy(tail.data(), signature.data() + 32, static_cast<size_t>(len - 32));
  zkbench::TimeEach(state, kSmall, zkbench::NoPrepare, [&]() -> int32_t {
    RawContext raw;
    if (int32_t s = raw.api.BufferVerifyInit(raw.ctx, w.certA.c_str())) return s;
    if (int32_t s = raw.api.BufferSignUpdate(raw.ctx, signed_.data(), static_cast<uint16_t>(signed_.size()))) return s;
    return raw.api.BufferVerifyFinal(raw.ctx, tail.data());
  });
}

// SignData of 1 KiB, `threads` engines of different users each in its own thread; items per
// second over all threads.
void SignThreads(benchmark::State& state) {
  World& w = World::Get();
  const int threads = static_cast<int>(state.range(0));
  const Bytes data = RandomData(kSmall);
  constexpr int kPerThread = 20;
  for (auto _ : state) {
    std::vector<std::thread> workers;
    const auto start = std::chrono::steady_clock::now();
    for (int t = 0; t < threads; ++t) {
      zk::TCcom22Engine* engine = t == 0 ? w.a.get() : w.a2.get();
      workers.emplace_back([engine, &data] {
        Bytes signature(544);
        int32_t len = 0;
        for (int i = 0; i < kPerThread; ++i)
          engine->SignData(data.data(), static_cast<int32_t>(kSmall), signature.data(), &len, nullptr);
      });
    }
    for (auto& worker : workers) worker.join();
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  state.SetItemsProcessed(state.iterations() * threads * kPerThread);
}

void PrintTables(const zkbench::MedianReporter& r) {
  auto ratio = [&](const char* raw, const char* engine, const char* figure) {
    const double e = r.Median(engine, "", figure), w = r.Median(raw, "", figure);
    return e > 0 ? w / e : 0.0;
  };
  std::printf("\nEngine speed as a share of the raw toolkit calls (median; real time, and this thread's CPU time):\n");
  const char* const rows[][3] = {{"EncodeData 1 MiB", "encode", "0.95"},
                                 {"DecodeData 1 MiB", "decode", "0.95"},
                                 {"SignData   1 KiB", "sign", "0.90"},
                                 {"VerifyData 1 KiB", "verify", "0.90"}};
  for (const auto& row : rows) {
    const std::string raw = std::string(row[1]) + "/raw", engine = std::string(row[1]) + "/engine";
    std::printf("  %s  real %.3f  cpu %.3f  (goal %s)\n", row[0],
                ratio(raw.c_str(), engine.c_str(), zkbench::kSecondsPerIteration),
                ratio(raw.c_str(), engine.c_str(), zkbench::kCpuSecondsPerOp), row[2]);
  }
  const double one = r.Median("sign/threads", "1", "items_per_second");
  const double two = r.Median("sign/threads", "2", "items_per_second");
  std::printf("Two engines on two threads against one (SignData): %.2fx -- the process-wide operation lock\n"
              "serialises key loading and toolkit work, so no gain is expected.\n",
              one > 0 ? two / one : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("encode/engine", EncodeEngine)->UseManualTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("encode/raw", EncodeRaw)->UseManualTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("decode/engine", DecodeEngine)->UseManualTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("decode/raw", DecodeRaw)->UseManualTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("sign/engine", SignEngine)->UseManualTime()->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("sign/raw", SignRaw)->UseManualTime()->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("verify/engine", VerifyEngine)->UseManualTime()->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("verify/raw", VerifyRaw)->UseManualTime()->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("sign/threads", SignThreads)->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  try {
    zkbench::MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintTables(reporter);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "zk_bench_ccom22: %s\n", error.what());
    return 1;
  }
  benchmark::Shutdown();
  return 0;
}
