// The Verba-OW engine against the stand-in toolkit's own calls doing the same work, made directly
// with the key already in the driver:
//   encode   CryptoInit, EnCryptMem for one recipient, CryptoDone
//   decode   CryptoInit, GetMemSenderID, DeCryptMem on a copy, CryptoDone
//   sign     SignInit, SignMemSeparateEx, SignDone
//   verify   SignInit, CheckMemSeparate, FreeMemory, SignDone
// sign/paired: the engine's SignData and the raw sign calls in turns in one loop.
// SignData also on one thread, and on two threads with an engine (and a user) each. Every Verba-OW
// engine of a process holds one lock around its toolkit calls (the toolkit's services and key
// driver are the process's), so two threads are not expected to go faster than one; the figure
// shows what that lock costs. The raw calls share the same services, so they run on one thread only.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>

#include "bench_compare.h"
#include "engines/verbaow/verba_engine.h"
#include "engines/verbaow/wbotho_api.h"
#include "frame/zexroot.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr int64_t kSmall = zkbench::kSmallOp;

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

struct Toolkit {
  zk::verbaow::WbothoApi api;
  int (*MakeKeySet)(const char*, const char*, const char*, const char*, int) = nullptr;
};

const Toolkit& StandIn() {
  static const Toolkit toolkit = [] {
    Toolkit t;
    const zk::platform::ModuleHandle module = zk::LoadToolkitLibrary("wbotho.dll");
    Check(module != nullptr, "wbotho.dll is not beside the benchmark");
#define X(name) t.api.name = reinterpret_cast<decltype(t.api.name)>(zk::platform::FindSymbol(module, #name));
    ZK_VERBAOW_FUNCTIONS
#undef X
    t.MakeKeySet = reinterpret_cast<decltype(t.MakeKeySet)>(zk::platform::FindSymbol(module, "VOW_StandIn_MakeKeySet"));
    Check(t.MakeKeySet != nullptr, "not the stand-in");
    return t;
  }();
  return toolkit;
}

const zk::verbaow::WbothoApi& Api() { return StandIn().api; }

Bytes RandomBytes(int64_t size) {
  std::mt19937 gen(42);
  Bytes out(static_cast<size_t>(size));
  for (uint8_t& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

// Users 0001 (A) and 0002 (B), each with a key set, a public-key directory holding the other's
// key, and an engine.
class World {
 public:
  World() {
    root_ = fs::temp_directory_path() / ("zk_bench_vow_" + std::to_string(std::random_device()()));
    for (int n : {1, 2}) {
      for (const char* sub : {"device", "secret", "public"}) fs::create_directories(Dir(n, sub));
      Check(StandIn().MakeKeySet(Dir(n, "device").c_str(), EncId(n).c_str(), SignId(n).c_str(),
                                 Dir(n, "self.pk").c_str(), 0) == 0,
            "key set");
      auto engine = std::make_unique<zk::TVerbaOW4Engine>();
      const std::pair<int32_t, std::string> params[] = {
          {1, Dir(n, "secret")}, {2, Dir(n, "public")}, {4, EncId(n)}, {5, SignId(n)}, {7, Dir(n, "device")},
          {8, "600"},            {9, "60"}};
      for (const auto& [index, value] : params) engine->SetCryptoParamValue(index, value.c_str());
      engines_.push_back(std::move(engine));
    }
    Check(engines_[0]->IncludePublicKey(Dir(2, "self.pk").c_str()) == 0, "include B");
    Check(engines_[1]->IncludePublicKey(Dir(1, "self.pk").c_str()) == 0, "include A");
  }
  ~World() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  zk::TVerbaOW4Engine& Engine(int n) { return *engines_[n - 1]; }
  std::string Dir(int n, const char* name) const { return (root_ / ("user" + std::to_string(n)) / name).string(); }
  static std::string EncId(int n) { return "000" + std::to_string(n) + "000777"; }
  static std::string SignId(int n) { return EncId(n) + "01"; }

 private:
  fs::path root_;
  std::vector<std::unique_ptr<zk::TVerbaOW4Engine>> engines_;
};

World& TheWorld() {
  static World world;
  return world;
}

// The raw calls run after the engine's: its key is in the driver then.
struct Service {
  Service(bool sign, int user) : sign_(sign) {
    const std::string secret = TheWorld().Dir(user, "secret"), pub = TheWorld().Dir(user, "public");
    ok = (sign ? Api().SignInit(secret.c_str(), pub.c_str()) : Api().CryptoInit(secret.c_str(), pub.c_str())) == 0;
  }
  ~Service() { sign_ ? Api().SignDone() : Api().CryptoDone(); }
  bool ok = false;

 private:
  bool sign_;
};

// ---- encryption of 1 MiB ----------------------------------------------------------------------

void EncodeEngine(benchmark::State& state, int64_t bytes) {
  zkbench::TimeInPlace(state, bytes, RandomBytes(bytes), 255, [](uint8_t* buffer, int32_t* length) {
    return TheWorld().Engine(1).EncodeData(buffer, length, "0002");
  });
}

// A's key set in the driver, as the engine leaves it.
void LoadKeyOfA() {
  uint8_t data[16] = {}, signature[256];
  int32_t length = 0;
  Check(TheWorld().Engine(1).SignData(data, sizeof data, signature, &length, nullptr) == 0, "A's key in the driver");
}

void EncodeRaw(benchmark::State& state, int64_t bytes) {
  LoadKeyOfA();
  const Bytes plain = RandomBytes(bytes);
  Bytes out(plain.size() + 37 + 48);
  const uint16_t recipients[] = {2, 0};
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    Service service(false, 1);
    return service.ok ? Api().EnCryptMem(plain.data(), static_cast<uint32_t>(bytes), out.data(), 1, recipients, "") : 8;
  });
}

Bytes Envelope(int64_t bytes) {
  Bytes buffer = RandomBytes(bytes);
  buffer.resize(buffer.size() + 255);
  int32_t length = static_cast<int32_t>(bytes);
  Check(TheWorld().Engine(1).EncodeData(buffer.data(), &length, "0002") == 0, "envelope");
  buffer.resize(static_cast<size_t>(length));
  return buffer;
}

void DecodeEngine(benchmark::State& state, int64_t bytes) {
  char sender[256];
  zkbench::TimeInPlace(state, bytes, Envelope(bytes), 0, [&](uint8_t* buffer, int32_t* length) {
    return TheWorld().Engine(2).DecodeData(buffer, length, sender);
  });
}

void DecodeRaw(benchmark::State& state, int64_t bytes) {
  const Bytes envelope = Envelope(bytes);
  TheWorld().Engine(2).ClearCash();
  Bytes probe(envelope);
  int32_t length = static_cast<int32_t>(probe.size());
  char sender[256];
  Check(TheWorld().Engine(2).DecodeData(probe.data(), &length, sender) == 0, "B's key in the driver");
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    Service service(false, 2);
    if (!service.ok) return 8;
    char id[64];
    uint32_t n = static_cast<uint32_t>(envelope.size());
    if (int code = Api().GetMemSenderID(envelope.data(), n, id)) return code;
    Bytes copy(envelope);
    return static_cast<int>(Api().DeCryptMem(copy.data(), &n, 2));
  });
}

// ---- signatures over 1 KiB --------------------------------------------------------------------

// Each thread signs with the engine of its own user.
void SignEngine(benchmark::State& state, int64_t bytes) {
  zk::TVerbaOW4Engine& engine = TheWorld().Engine(state.thread_index() % 2 + 1);
  const Bytes data = RandomBytes(bytes);
  uint8_t signature[256];
  int32_t length = 0;
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    return engine.SignData(data.data(), static_cast<int32_t>(bytes), signature, &length, nullptr);
  });
}

void SignRaw(benchmark::State& state, int64_t bytes) {
  LoadKeyOfA();
  const Bytes data = RandomBytes(bytes);
  uint8_t signature[4096];
  uint32_t length = 0;
  const std::string signer = World::SignId(1);
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    Service service(true, 1);
    return service.ok ? Api().SignMemSeparateEx(data.data(), static_cast<uint32_t>(bytes), signature, signer.c_str(), &length) : 8;
  });
}

// The two sides of "sign" in one loop, in turns (which goes first alternates): a busy machine
// slows both alike, so the ratio of their summed times is steadier than two runs apart.
void SignPaired(benchmark::State& state) {
  LoadKeyOfA();
  const Bytes data = RandomBytes(kSmall);
  uint8_t engineSignature[256], rawSignature[4096];
  int32_t engineLength = 0;
  uint32_t rawLength = 0;
  const std::string signer = World::SignId(1);
  auto engineOp = [&] { return TheWorld().Engine(1).SignData(data.data(), kSmall, engineSignature, &engineLength, nullptr); };
  auto rawOp = [&] {
    Service service(true, 1);
    return service.ok ? Api().SignMemSeparateEx(data.data(), kSmall, rawSignature, signer.c_str(), &rawLength) : 8;
  };
  double engineSeconds = 0, rawSeconds = 0;
  int64_t turn = 0;
  for (auto _ : state) {
    const auto timed = [](auto& op, double& total) {
      const auto start = std::chrono::steady_clock::now();
      const int code = op();
      total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      return code;
    };
    const bool engineFirst = turn++ % 2 == 0;
    const int first = engineFirst ? timed(engineOp, engineSeconds) : timed(rawOp, rawSeconds);
    const int second = engineFirst ? timed(rawOp, rawSeconds) : timed(engineOp, engineSeconds);
    if (first != 0 || second != 0) {
      state.SkipWithError("a signature failed");
      break;
    }
  }
  if (engineSeconds > 0) state.counters["engine_over_raw"] = rawSeconds / engineSeconds;
}

Bytes SignatureOfA(const Bytes& data) {
  uint8_t signature[256];
  int32_t length = 0;
  Check(TheWorld().Engine(1).SignData(data.data(), static_cast<int32_t>(data.size()), signature, &length, nullptr) == 0,
        "signature");
  return Bytes(signature, signature + length);
}

void VerifyEngine(benchmark::State& state, int64_t bytes) {
  const Bytes data = RandomBytes(bytes), signature = SignatureOfA(data);
  char signer[256];
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    return TheWorld().Engine(2).VerifyData(data.data(), static_cast<int32_t>(bytes), signature.data(),
                                           static_cast<int32_t>(signature.size()), signer);
  });
}

void VerifyRaw(benchmark::State& state, int64_t bytes) {
  const Bytes data = RandomBytes(bytes), signature = SignatureOfA(data);
  // B's own key: the directory entries are checked with it.
  char signer[256];
  Check(TheWorld().Engine(2).VerifyData(data.data(), static_cast<int32_t>(bytes), signature.data(),
                                        static_cast<int32_t>(signature.size()), signer) == 0,
        "B's key in the driver");
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    Service service(true, 2);
    if (!service.ok) return 8;
    uint8_t count = 0;
    uint8_t* block = nullptr;
    int code = Api().CheckMemSeparate(data.data(), static_cast<uint32_t>(bytes), signature.data(), &count, &block,
                                      static_cast<uint32_t>(signature.size()));
    if (code == 0 && (block == nullptr || block[135] != 0)) code = 1;
    if (block != nullptr) Api().FreeMemory(block);
    return code;
  });
}

void PrintPaired(const zkbench::MedianReporter& r) {
  if (const double paired = r.Median("sign/paired", "", "engine_over_raw"); paired > 0) {
    std::printf("sign    1 KiB, engine and raw in turns in one loop: ratio %.3f\n", paired);
  }
  std::printf("Every Verba-OW engine of a process holds one lock around its toolkit calls (the toolkit's\n"
              "services and key driver are the process's), so 1.8x on two threads is out of reach by design;\n"
              "the two-thread row below shows what that lock costs.\n");
}

}  // namespace

int main(int argc, char** argv) {
  using zkbench::Threads;
  zkbench::RegisterUsualOperations({SignEngine, SignRaw, Threads::kEngine}, {VerifyEngine, VerifyRaw, Threads::kNeither},
                                   {EncodeEngine, EncodeRaw, Threads::kNeither},
                                   {DecodeEngine, DecodeRaw, Threads::kNeither});
  benchmark::RegisterBenchmark("sign/paired", SignPaired)->Unit(benchmark::kMicrosecond);
  return zkbench::RunComparison(argc, argv, "Verba-OW", [] { TheWorld(); }, PrintPaired);
}
