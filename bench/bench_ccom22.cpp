// The Crypto COM 2.2 engine against the stand-in toolkit's raw calls doing the same work:
// EncodeData and DecodeData of 1 MiB (one recipient), SignData and VerifyData of 1 KiB; and
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

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_compare.h"
#include "engines/ccom22/cc_api.h"
#include "engines/ccom22/cc_dll.h"
#include "engines/ccom22/cc_engine.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
constexpr size_t kPiece = 65528;

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

Bytes RandomData(int64_t n) {
  std::mt19937 generator(42);
  Bytes data(static_cast<size_t>(n));
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

void EncodeEngine(benchmark::State& state, int64_t bytes) {
  World& w = World::Get();
  zkbench::TimeInPlace(state, bytes, RandomData(bytes), 4104,
                       [&](uint8_t* buffer, int32_t* length) { return w.a->EncodeData(buffer, length, "B.1"); });
}

void EncodeRaw(benchmark::State& state, int64_t bytes) {
  World& w = World::Get();
  const Bytes data = RandomData(bytes);
  Bytes out(data.size() + 4104);
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&]() -> int32_t {
    RawContext raw;
    uint8_t *key = nullptr, *aux = nullptr, *wrapped = nullptr;
    int32_t wrappedLen = 0;
    if (int32_t s = raw.api.SessionKeyEncrypt(raw.ctx, w.certB.c_str(), &key, &aux, &wrapped, &wrappedLen)) return s;
    uint8_t iv[8];
    size_t n = 0;
    const int32_t s = raw.Cipher(key, 0, iv, data.data(), data.size(), out.data() + 16, n);
    std::memcpy(out.data() + 16 + n, wrapped, static_cast<size_t>(wrappedLen));
    raw.api.BufferCleanFree(key, 32);
    raw.api.BufferFree(aux);
    raw.api.BufferFree(wrapped);
    return s;
  });
}

// A record of `bytes` from A for B, in a buffer with room to spare.
Bytes RecordForB(int64_t bytes) {
  Bytes record = RandomData(bytes);
  record.resize(record.size() + 4104);
  int32_t len = static_cast<int32_t>(bytes);
  Check(World::Get().a->EncodeData(record.data(), &len, "B.1") == 0, "encode for B");
  record.resize(static_cast<size_t>(len));
  return record;
}

void DecodeEngine(benchmark::State& state, int64_t bytes) {
  World& w = World::Get();
  zkbench::TimeInPlace(state, bytes, RecordForB(bytes), 0,
                       [&](uint8_t* buffer, int32_t* length) { return w.b->DecodeData(buffer, length, nullptr); });
}

void DecodeRaw(benchmark::State& state, int64_t bytes) {
  World& w = World::Get();
  const Bytes record = RecordForB(bytes);
  Bytes out(record.size());
  const uint32_t c = record[4] | record[5] << 8 | record[6] << 16 | record[7] << 24;
  const uint32_t k = record[8] | record[9] << 8 | record[10] << 16 | record[11] << 24;
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&]() -> int32_t {
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

// On two threads the second signs with an engine of B's.
void SignEngine(benchmark::State& state, int64_t bytes) {
  World& w = World::Get();
  zk::TCcom22Engine& engine = state.thread_index() == 0 ? *w.a : *w.a2;
  const Bytes data = RandomData(bytes);
  Bytes signature(544);
  int32_t len = 0;
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare,
                    [&] { return engine.SignData(data.data(), static_cast<int32_t>(bytes), signature.data(), &len, nullptr); });
}

void SignRaw(benchmark::State& state, int64_t bytes) {
  World& w = World::Get();
  Bytes data = RandomData(bytes);
  data.resize(data.size() + 32, 0);
  std::memcpy(data.data() + bytes, "A.1", 3);
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&]() -> int32_t {
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

void VerifyEngine(benchmark::State& state, int64_t bytes) {
  World& w = World::Get();
  const Bytes data = RandomData(bytes);
  Bytes signature(544);
  int32_t len = 0;
  Check(w.a->SignData(data.data(), static_cast<int32_t>(bytes), signature.data(), &len, nullptr) == 0, "sign");
  char signer[256];
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare,
                    [&] { return w.b->VerifyData(data.data(), static_cast<int32_t>(bytes), signature.data(), len, signer); });
}

void VerifyRaw(benchmark::State& state, int64_t bytes) {
  World& w = World::Get();
  const Bytes data = RandomData(bytes);
  Bytes signature(544);
  int32_t len = 0;
  Check(w.a->SignData(data.data(), static_cast<int32_t>(bytes), signature.data(), &len, nullptr) == 0, "sign");
  Bytes signed_ = data;
  signed_.insert(signed_.end(), signature.begin(), signature.begin() + 32);
  Bytes tail(512, 0);
  std::memcpy(tail.data(), signature.data() + 32, static_cast<size_t>(len - 32));
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&]() -> int32_t {
    RawContext raw;
    if (int32_t s = raw.api.BufferVerifyInit(raw.ctx, w.certA.c_str())) return s;
    if (int32_t s = raw.api.BufferSignUpdate(raw.ctx, signed_.data(), static_cast<uint16_t>(signed_.size()))) return s;
    return raw.api.BufferVerifyFinal(raw.ctx, tail.data());
  });
}

void PrintLockNote(const zkbench::MedianReporter&) {
  std::printf("The process-wide operation lock serialises key loading and toolkit work, so two engines on two\n"
              "threads are not expected to run faster than one; the two-thread row below shows the measured ratio.\n");
}

}  // namespace

int main(int argc, char** argv) {
  using zkbench::Threads;
  zkbench::RegisterUsualOperations({SignEngine, SignRaw, Threads::kEngine}, {VerifyEngine, VerifyRaw, Threads::kNeither},
                                   {EncodeEngine, EncodeRaw, Threads::kNeither},
                                   {DecodeEngine, DecodeRaw, Threads::kNeither});
  return zkbench::RunComparison(argc, argv, "Crypto COM 2.2", [] { World::Get(); }, PrintLockNote);
}
