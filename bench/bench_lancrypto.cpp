// The LAN Crypto engine against the stand-in toolkit's calls doing the same work, made directly:
//   sign    key file read and filled; GOST R 34.11-94 of the data; GOST R 34.10-2001 signature
//   verify  the digest and the check against the public key already read (as the engine's cache has it)
//   encode  key file read and filled; vault and recipient read; content key agreed and wrapped;
//           gamma with feedback over the data in pieces of 16 KiB
//   decode  the same for the recipient, the data in pieces of 4 KiB
// and SignData on one engine per thread, one thread against two.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>

#include "bench_report.h"
#include "bench_scaling.h"
#include "bench_timing.h"
#include "engines/lancrypto/vesta_dll.h"
#include "engines/lancrypto/vesta_engine.h"
#include "frame/zexroot.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using zk::lancrypto::Ct512Api;

constexpr int64_t kSmall = 1024;
constexpr int64_t kLarge = 1 << 20;

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

struct World {
  Ct512Api api;
  fs::path dir;
  std::string signKey, encKey, signVault, encVault;
  std::unique_ptr<zk::TVesta235Engine> engine;
  Bytes small, large, signature, envelope;
};

World& TheWorld() {
  static World w = [] {
    World w;
    const zk::platform::ModuleHandle module = zk::LoadToolkitLibrary("ct512.dll");
    Check(module != nullptr, "ct512.dll is not beside the benchmark");
#define X(name, required) w.api.name = reinterpret_cast<decltype(w.api.name)>(zk::platform::FindSymbol(module, #name));
    ZK_CT512_FUNCTIONS
#undef X
    using MakeUser = int (*)(const char*, const char*, const char*, const char*, const char*, const char*, const char*, int);
    using AddFn = int (*)(const char*, const char*);
    auto make = reinterpret_cast<MakeUser>(zk::platform::FindSymbol(module, "CT_StandIn_MakeUser"));
    auto addSign = reinterpret_cast<AddFn>(zk::platform::FindSymbol(module, "CT_StandIn_AddToSignVault"));
    auto addEnc = reinterpret_cast<AddFn>(zk::platform::FindSymbol(module, "CT_StandIn_AddToEncryptVault"));
    Check(make && addSign && addEnc, "not the stand-in");
    w.dir = fs::temp_directory_path() / "zk_bench_lancrypto";
    fs::create_directories(w.dir);
    auto at = [&](const char* name) { return (w.dir / name).string(); };
    w.signKey = at("sign.key");
    w.encKey = at("priv.key");
    w.signVault = at("not512.vlt");
    w.encVault = at("ves512.vlt");
    Check(make("Bench user", "BENCH", "", w.signKey.c_str(), w.encKey.c_str(), nullptr, at("full.pub").c_str(), 0) == 0,
          "key files");
    Check(addSign(at("full.pub").c_str(), w.signVault.c_str()) == 0 && addEnc(at("full.pub").c_str(), w.encVault.c_str()) == 0,
          "vaults");
    w.engine = std::make_unique<zk::TVesta235Engine>();
    const std::pair<int32_t, std::string> params[] = {{1, w.signKey}, {2, w.signVault}, {4, "Bench user"}, {5, w.encKey},
                                                      {6, w.encVault}, {8, "Bench user"}};
    for (const auto& p : params) w.engine->SetCryptoParamValue(p.first, p.second.c_str());
    std::mt19937 gen(42);
    w.small.resize(kSmall);
    w.large.resize(kLarge);
    for (uint8_t& b : w.small) b = static_cast<uint8_t>(gen());
    for (uint8_t& b : w.large) b = static_cast<uint8_t>(gen());
    // What verify and decode read, made before any case runs (cases run in any order).
    uint8_t signature[256];
    int32_t length = 0;
    Check(w.engine->SignData(w.small.data(), kSmall, signature, &length, nullptr) == 0 && length == 92, "signature");
    w.signature.assign(signature, signature + length);
    w.envelope = w.large;
    w.envelope.resize(w.large.size() + 255);
    length = kLarge;
    Check(w.engine->EncodeData(w.envelope.data(), &length, nullptr) == 0, "envelope");
    w.envelope.resize(static_cast<size_t>(length));
    return w;
  }();
  return w;
}

// --- the engine ---

void SignEngine(benchmark::State& state) {
  World& w = TheWorld();
  uint8_t signature[256];
  int32_t length = 0;
  zkbench::TimeEach(state, kSmall, zkbench::NoPrepare, [&] {
    return w.engine->SignData(w.small.data(), kSmall, signature, &length, nullptr);
  });
}

void VerifyEngine(benchmark::State& state) {
  World& w = TheWorld();
  char signer[256];
  zkbench::TimeEach(state, kSmall, zkbench::NoPrepare, [&] {
    return w.engine->VerifyData(w.small.data(), kSmall, w.signature.data(), 92, signer);
  });
}

void EncodeEngine(benchmark::State& state) {
  World& w = TheWorld();
  Bytes buffer(kLarge + 255);
  int32_t length = 0;
  zkbench::TimeEach(
      state, kLarge, [&] { std::memcpy(buffer.data(), w.large.data(), kLarge), length = kLarge; },
      [&] { return w.engine->EncodeData(buffer.data(), &length, nullptr); });
}

void DecodeEngine(benchmark::State& state) {
  World& w = TheWorld();
  Bytes buffer(w.envelope.size());
  int32_t length = 0;
  char sender[256];
  zkbench::TimeEach(
      state, kLarge, [&] { std::memcpy(buffer.data(), w.envelope.data(), buffer.size()), length = static_cast<int32_t>(buffer.size()); },
      [&] { return w.engine->DecodeData(buffer.data(), &length, sender); });
}

// --- the same work, straight through the toolkit ---

struct Context {
  const Ct512Api& api;
  void* ctx;
  bool sign;
  Context(const Ct512Api& a, bool s) : api(a), ctx(s ? a.CTN_SignConstructor() : a.CTV_VestaConstructor()), sign(s) {}
  ~Context() { sign ? api.CTN_SignDestructor(ctx) : api.CTV_VestaDestructor(ctx); }
  uint8_t* bytes() const { return static_cast<uint8_t*>(ctx); }
};

int32_t FilledKey(const Ct512Api& api, Context& c, const std::string& file) {
  static const char empty[] = "";
  int32_t r = c.sign ? api.CTN_GetPrivateKeyFile(c.ctx, file.c_str()) : api.CTV_GetPrivateKeyFile(c.ctx, file.c_str());
  zk::lancrypto::SetContextPassword(c.ctx, c.sign ? zk::lancrypto::kSignPassword : zk::lancrypto::kVestaPassword, empty);
  if (r == 0) r = c.sign ? api.CTN_FillPrivateKeyStructure(c.ctx) : api.CTV_FillPrivateKeyStructure(c.ctx);
  zk::lancrypto::SetContextPassword(c.ctx, c.sign ? zk::lancrypto::kSignPassword : zk::lancrypto::kVestaPassword, nullptr);
  return r;
}

int32_t RawSign(World& w) {
  Context c(w.api, true);
  int32_t r = FilledKey(w.api, c, w.signKey);
  void* hash = c.bytes() + zk::lancrypto::kSignHashContext;
  if (r == 0) r = w.api.CTN_HashInit(hash, 256);
  if (r == 0) r = w.api.CTN_HashBuffer(hash, w.small.data(), kSmall);
  if (r == 0) r = w.api.CTN_HashEnd(hash);
  return r == 0 ? w.api.CTN_Sign(c.ctx, 256) : r;
}

void SignRaw(benchmark::State& state) {
  World& w = TheWorld();
  zkbench::TimeEach(state, kSmall, zkbench::NoPrepare, [&] { return RawSign(w); });
}

void VerifyRaw(benchmark::State& state) {
  World& w = TheWorld();
  Context c(w.api, true);
  Check(w.api.CTN_RetrieveInfoFromVault(c.ctx, w.signVault.c_str()) == 0 &&
            w.api.CTN_ReadPublicKeyFromVault(c.ctx, "Bench user", 256) == 0, "vault");
  zkbench::TimeEach(state, kSmall, zkbench::NoPrepare, [&]() -> int32_t {
    std::memcpy(c.bytes() + zk::lancrypto::kSignSignature, w.signature.data(), 92);
    void* hash = c.bytes() + zk::lancrypto::kSignHashContext;
    int32_t r = w.api.CTN_HashInit(hash, 256);
    if (r == 0) r = w.api.CTN_HashBuffer(hash, w.small.data(), kSmall);
    if (r == 0) r = w.api.CTN_HashEnd(hash);
    return r == 0 ? w.api.CTN_Not(c.ctx) : r;
  });
}

void EncodeRaw(benchmark::State& state) {
  World& w = TheWorld();
  Bytes buffer(kLarge);
  zkbench::TimeEach(
      state, kLarge, [&] { std::memcpy(buffer.data(), w.large.data(), kLarge); },
      [&]() -> int32_t {
        Context c(w.api, false);
        int32_t r = FilledKey(w.api, c, w.encKey);
        if (r == 0) r = w.api.CTV_RetrieveInfoFromVault(c.ctx, w.encVault.c_str());
        if (r == 0) r = w.api.CTV_ReadPublicKeyFromVault(c.ctx, "Bench user", 16);
        if (r == 0) r = w.api.CTV_CryptoInit(c.ctx, 16, 0);
        for (int64_t done = 0; r == 0 && done < kLarge; done += 16384) r = w.api.CTV_CryptoBuffer(c.ctx, buffer.data() + done, 2048);
        return r;
      });
}

void DecodeRaw(benchmark::State& state) {
  World& w = TheWorld();
  Bytes buffer(w.envelope.size());
  zkbench::TimeEach(
      state, kLarge, [&] { std::memcpy(buffer.data(), w.envelope.data(), buffer.size()); },
      [&]() -> int32_t {
        Context c(w.api, false);
        int32_t r = FilledKey(w.api, c, w.encKey);
        std::memcpy(c.bytes() + zk::lancrypto::kVestaHeader, buffer.data() + 4, 60);
        char shortName[9] = {};
        std::memcpy(shortName, buffer.data() + 16, 8);
        if (r == 0) r = w.api.CTV_RetrieveInfoFromVault(c.ctx, w.encVault.c_str());
        if (r == 0) r = w.api.CTV_ReadPublicKeyFromVaultByShortName(c.ctx, shortName, 16);
        if (r == 0) r = w.api.CTV_DecryptoInit(c.ctx, 16, 0);
        for (int64_t done = 0; r == 0 && done < kLarge; done += 4096) r = w.api.CTV_DecryptoBuffer(c.ctx, buffer.data() + 64 + done, 512);
        return r;
      });
}

// --- scaling: one engine per thread ---

void ScaleSign(benchmark::State& state) {
  World& w = TheWorld();
  zk::TVesta235Engine engine;
  const std::pair<int32_t, std::string> params[] = {{1, w.signKey}, {4, "Bench user"}};
  for (const auto& p : params) engine.SetCryptoParamValue(p.first, p.second.c_str());
  uint8_t signature[256];
  int32_t length = 0;
  zkbench::TimeEach(state, kSmall, zkbench::NoPrepare,
                    [&] { return engine.SignData(w.small.data(), kSmall, signature, &length, nullptr); });
}

void ScaleSignRaw(benchmark::State& state) {
  World& w = TheWorld();
  zkbench::TimeEach(state, kSmall, zkbench::NoPrepare, [&] { return RawSign(w); });
}

void RegisterAll() {
  for (auto [name, fn] : {std::pair{"sign/engine", SignEngine}, {"sign/raw", SignRaw}, {"verify/engine", VerifyEngine},
                          {"verify/raw", VerifyRaw}, {"encode/engine", EncodeEngine}, {"encode/raw", EncodeRaw},
                          {"decode/engine", DecodeEngine}, {"decode/raw", DecodeRaw}}) {
    benchmark::RegisterBenchmark(name, fn)->UseManualTime();
  }
  zkbench::RegisterScaling("sign", ScaleSignRaw, "raw");
  zkbench::RegisterScaling("sign", ScaleSign);
}

// Ratios of this thread's CPU time per operation: steadier than real time when other programs
// share the machine.
void PrintTable(const zkbench::MedianReporter& r) {
  std::printf("\n%-7s %14s %14s %8s   %s\n", "op", "engine cpu ms", "raw cpu ms", "ratio", "goal");
  for (auto [op, goal] : {std::pair{"sign", 0.9}, {"verify", 0.9}, {"encode", 0.95}, {"decode", 0.95}}) {
    const double engine = r.Median(std::string(op) + "/engine", "", zkbench::kCpuSecondsPerOp);
    const double raw = r.Median(std::string(op) + "/raw", "", zkbench::kCpuSecondsPerOp);
    if (engine > 0 && raw > 0)
      std::printf("%-7s %14.3f %14.3f %8.3f   >=%.2f %s\n", op, engine * 1e3, raw * 1e3, raw / engine, goal,
                  raw / engine >= goal ? "met" : "MISSED");
  }
  zkbench::PrintScalingTable(r, "LAN Crypto");
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  int status = 0;
  try {
    TheWorld();
    zkbench::MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintTable(reporter);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    status = 1;
  }
  std::error_code ignored;
  fs::remove_all(TheWorld().dir, ignored);
  benchmark::Shutdown();
  return status;
}
