// The Excellence 4.0 engine against the GOST primitives the stand-in cryst.dll is built on, called
// directly to do the same work. Per operation:
//   sign     GOST R 34.11-94 of the data; GOST R 34.10-2001 signature
//   verify   the digest; verification with the signer's public key
//   encode   a content key, UKM and IV; for the sender and one recipient VKO key agreement and the
//            RFC 4357 key wrap; MAC and gamma with feedback of the data
//   decode   VKO and unwrap for the recipient; the data decrypted and its MAC checked
// sign_threads: SignData on one thread, and on two threads with an engine each (alice, bob).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "bench_report.h"
#include "engines/excellence/ce_exc4.h"
#include "frame/zexroot.h"
#include "gost.h"
#include "keywrap.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using gost::r3410_2001::Point;

constexpr int64_t kSmall = 1024;
constexpr int64_t kLarge = 1 << 20;
constexpr auto kCurve = gost::r3410_2001::Curve::CryptoProA;
const char kPassword[] = "bench";

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

int32_t ZK_STDCALL AnswerPassword(char* buffer, int32_t size) {
  std::snprintf(buffer, static_cast<size_t>(size), "%s", kPassword);
  return 1;
}

Bytes RandomBytes(size_t size) {
  std::mt19937 gen(42);
  Bytes out(size);
  for (uint8_t& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

// Alice and Bob, each with a secret-key directory and a public-key directory knowing the other.
class World {
 public:
  World() {
    root_ = fs::temp_directory_path() / ("zk_bench_exc4_" + std::to_string(std::random_device()()));
    const zk::platform::ModuleHandle module = zk::LoadToolkitLibrary("cryst.dll");
    Check(module != nullptr, "cryst.dll is not beside the benchmark");
    using MakeUser = int (*)(const char*, const char*, const char*, const char*);
    const auto make = reinterpret_cast<MakeUser>(zk::platform::FindSymbol(module, "EXC_StandIn_MakeUser"));
    Check(make != nullptr, "not the stand-in");
    for (const char* user : {"alice", "bob"}) {
      fs::create_directories(root_ / user / "PUBLIC");
      Check(make(Dir(user, "SECRET").c_str(), user, kPassword, (root_ / (std::string(user) + ".pub")).string().c_str()) == 0,
            "provision");
    }
    for (const auto& [holder, owner] : {std::pair{"alice", "bob"}, {"bob", "alice"}}) {
      Check(Engine(holder)->IncludePublicKey((root_ / (std::string(owner) + ".pub")).string().c_str()) == 0, "include");
    }
  }
  ~World() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::unique_ptr<zk::TExc4CryptoEngine> Engine(const std::string& user) const {
    auto engine = std::make_unique<zk::TExc4CryptoEngine>();
    engine->SetCryptoParamValue(2, Dir(user, "SECRET").c_str());
    engine->SetCryptoParamValue(3, Dir(user, "PUBLIC").c_str());
    engine->SetPasswordRequestFunc(&AnswerPassword);
    return engine;
  }

 private:
  std::string Dir(const std::string& user, const char* name) const { return (root_ / user / name).string(); }
  fs::path root_;
};

World& TheWorld() {
  static World world;
  return world;
}

// Keys of the same kind for the raw side.
struct RawParty {
  uint8_t signD[32], exchangeD[32];
  Point sign, exchange;
  RawParty() {
    gost::r3410_2001::GenerateSecret(kCurve, signD);
    gost::r3410_2001::GenerateSecret(kCurve, exchangeD);
    gost::r3410_2001::PublicFromSecret(kCurve, signD, sign);
    gost::r3410_2001::PublicFromSecret(kCurve, exchangeD, exchange);
  }
};

void Digest(const Bytes& data, uint8_t out[32]) {
  gost::R3411Hash h;
  h.InitCryptoPro();
  h.Update(data.data(), data.size());
  h.Final(out);
}

void Mac(const uint8_t key[32], const uint8_t* data, size_t len, uint8_t out[8]) {
  gost::Gost28147 cipher;
  cipher.SetKey(key, gost::kSboxR3411TestParams);
  gost::MacMode mac;
  mac.Init(&cipher);
  mac.Update(data, len);
  mac.Final(out);
}

void Feedback(bool encrypt, const uint8_t key[32], const uint8_t iv[8], const uint8_t* in, uint8_t* out, size_t len) {
  gost::Gost28147 cipher;
  cipher.SetKey(key, gost::kSboxR3411TestParams);
  gost::GammaFeedbackMode mode;
  mode.Init(&cipher, iv);
  encrypt ? mode.Encrypt(in, out, len) : mode.Decrypt(in, out, len);
}

void SignEngine(benchmark::State& state) {
  auto engine = TheWorld().Engine(state.thread_index() == 0 ? "alice" : "bob");
  const Bytes data = RandomBytes(static_cast<size_t>(state.range(0)));
  uint8_t signature[1024];
  int32_t length = 0;
  for (auto _ : state) {
    Check(engine->SignData(data.data(), static_cast<int32_t>(data.size()), signature, &length, nullptr) == 0, "sign");
  }
  state.SetItemsProcessed(state.iterations());
}

void SignRaw(benchmark::State& state) {
  const RawParty alice;
  const Bytes data = RandomBytes(static_cast<size_t>(state.range(0)));
  uint8_t digest[32], signature[64];
  for (auto _ : state) {
    Digest(data, digest);
    Check(gost::r3410_2001::Sign(kCurve, alice.signD, digest, signature) == 0, "raw sign");
  }
  state.SetItemsProcessed(state.iterations());
}

void VerifyEngine(benchmark::State& state) {
  const Bytes data = RandomBytes(static_cast<size_t>(state.range(0)));
  Bytes signature(1024);
  int32_t length = 0;
  Check(TheWorld().Engine("alice")->SignData(data.data(), static_cast<int32_t>(data.size()), signature.data(), &length,
                                             nullptr) == 0,
        "sign");
  auto engine = TheWorld().Engine("bob");
  char signer[256];
  for (auto _ : state) {
    Check(engine->VerifyData(data.data(), static_cast<int32_t>(data.size()), signature.data(), length, signer) == 0,
          "verify");
  }
  state.SetItemsProcessed(state.iterations());
}

void VerifyRaw(benchmark::State& state) {
  const RawParty alice;
  const Bytes data = RandomBytes(static_cast<size_t>(state.range(0)));
  uint8_t digest[32], signature[64];
  Digest(data, digest);
  gost::r3410_2001::Sign(kCurve, alice.signD, digest, signature);
  for (auto _ : state) {
    Digest(data, digest);
    Check(gost::r3410_2001::Verify(kCurve, alice.sign, digest, signature) == 0, "raw verify");
  }
  state.SetItemsProcessed(state.iterations());
}

Bytes EnvelopeForBob(int64_t size) {
  Bytes envelope = RandomBytes(static_cast<size_t>(size));
  envelope.resize(envelope.size() + zk::TExc4CryptoEngine::kMaxEncodeAddition);
  int32_t length = static_cast<int32_t>(size);
  Check(TheWorld().Engine("alice")->EncodeData(envelope.data(), &length, "bob") == 0, "encode");
  envelope.resize(static_cast<size_t>(length));
  return envelope;
}

void EncodeEngine(benchmark::State& state) {
  auto engine = TheWorld().Engine("alice");
  const Bytes plain = RandomBytes(static_cast<size_t>(state.range(0)));
  Bytes buffer(plain.size() + zk::TExc4CryptoEngine::kMaxEncodeAddition);
  for (auto _ : state) {
    std::memcpy(buffer.data(), plain.data(), plain.size());
    int32_t length = static_cast<int32_t>(plain.size());
    Check(engine->EncodeData(buffer.data(), &length, "bob") == 0, "encode");
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void EncodeRaw(benchmark::State& state) {
  const RawParty alice, bob;
  const Bytes plain = RandomBytes(static_cast<size_t>(state.range(0)));
  Bytes out(plain.size() + 124);
  for (auto _ : state) {
    uint8_t cek[32], ukm[8], kek[32], mac[8];
    gost::SystemRandom(cek, sizeof(cek));
    gost::SystemRandom(ukm, sizeof(ukm));
    for (const Point* recipient : {&alice.exchange, &bob.exchange}) {
      Check(gost::Vko2001(kCurve, alice.exchangeD, *recipient, ukm, kek) == 0, "raw vko");
      gost::WrapKey(kek, ukm, cek, gost::kSboxR3411TestParams, out.data() + 32);
    }
    gost::SystemRandom(out.data() + 112, 8);
    Mac(cek, plain.data(), plain.size(), mac);
    Feedback(true, cek, out.data() + 112, plain.data(), out.data() + 124, plain.size());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void DecodeEngine(benchmark::State& state) {
  auto engine = TheWorld().Engine("bob");
  const Bytes envelope = EnvelopeForBob(state.range(0));
  Bytes buffer(envelope.size());
  char sender[256];
  for (auto _ : state) {
    std::memcpy(buffer.data(), envelope.data(), envelope.size());
    int32_t length = static_cast<int32_t>(envelope.size());
    Check(engine->DecodeData(buffer.data(), &length, sender) == 0, "decode");
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void DecodeRaw(benchmark::State& state) {
  const RawParty alice, bob;
  const Bytes plain = RandomBytes(static_cast<size_t>(state.range(0)));
  uint8_t cek[32], ukm[8] = {1, 2, 3, 4, 5, 6, 7, 8}, iv[8] = {8, 7, 6, 5, 4, 3, 2, 1}, kek[32], wrapped[36], mac[8];
  gost::SystemRandom(cek, sizeof(cek));
  Check(gost::Vko2001(kCurve, alice.exchangeD, bob.exchange, ukm, kek) == 0, "raw vko");
  gost::WrapKey(kek, ukm, cek, gost::kSboxR3411TestParams, wrapped);
  Bytes body(plain.size()), out(plain.size());
  Feedback(true, cek, iv, plain.data(), body.data(), body.size());
  for (auto _ : state) {
    uint8_t key[32];
    Check(gost::Vko2001(kCurve, bob.exchangeD, alice.exchange, ukm, kek) == 0, "raw vko");
    Check(gost::UnwrapKey(kek, ukm, wrapped, gost::kSboxR3411TestParams, key), "raw unwrap");
    Feedback(false, key, iv, body.data(), out.data(), out.size());
    Mac(key, out.data(), out.size(), mac);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void RegisterAll() {
  for (auto [name, fn] : {std::pair{"sign/engine", &SignEngine}, {"sign/raw", &SignRaw},
                          {"verify/engine", &VerifyEngine}, {"verify/raw", &VerifyRaw}}) {
    benchmark::RegisterBenchmark(name, fn)->Arg(kSmall)->Unit(benchmark::kMicrosecond);
  }
  for (auto [name, fn] : {std::pair{"encode/engine", &EncodeEngine}, {"encode/raw", &EncodeRaw},
                          {"decode/engine", &DecodeEngine}, {"decode/raw", &DecodeRaw}}) {
    benchmark::RegisterBenchmark(name, fn)->Arg(kLarge)->Unit(benchmark::kMillisecond);
  }
  for (int threads : {1, 2}) {
    benchmark::RegisterBenchmark(threads == 1 ? "sign_threads/1" : "sign_threads/2", &SignEngine)
        ->Arg(kSmall)
        ->Threads(threads)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
  }
}

const char* Verdict(double value, double goal) { return value >= goal ? "met" : "MISSED"; }

void PrintTable(const zkbench::MedianReporter& r) {
  struct Row {
    const char* op;
    int64_t size;
    double goal;
  };
  const Row rows[] = {{"sign", kSmall, 0.9}, {"verify", kSmall, 0.9}, {"encode", kLarge, 0.95}, {"decode", kLarge, 0.95}};
  std::printf("\n%-7s %6s %12s %12s %8s   %s\n", "op", "size", "engine op/s", "raw op/s", "ratio", "goal");
  for (const Row& row : rows) {
    const std::string args = std::to_string(row.size);
    const double engine = r.Median(std::string(row.op) + "/engine", args, "items_per_second");
    const double raw = r.Median(std::string(row.op) + "/raw", args, "items_per_second");
    if (engine <= 0 || raw <= 0) continue;
    std::printf("%-7s %6s %12.1f %12.1f %8.3f   >=%.2f %s\n", row.op, row.size == kSmall ? "1 KiB" : "1 MiB", engine,
                raw, engine / raw, row.goal, Verdict(engine / raw, row.goal));
  }
  const double one = r.Median("sign_threads/1", std::to_string(kSmall), "items_per_second");
  const double two = r.Median("sign_threads/2", std::to_string(kSmall), "items_per_second");
  if (one > 0 && two > 0) {
    std::printf("SignData/s on one thread %.1f, on two %.1f: %.2fx, goal >=1.80 %s\n", one, two, two / one,
                Verdict(two / one, 1.8));
  }
  std::printf("(medians over repetitions; ratio = engine / raw)\n");
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
  benchmark::Shutdown();
  return status;
}
