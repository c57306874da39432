// The OpenSSL engine's SignData, VerifyData, EncodeData and DecodeData (through the exports, as a
// host calls them) against raw libcrypto doing the same primitive work, on 1 KiB and 1 MiB with
// 2048-bit keys; then the engine's certificate model with 10 and with 10,000 correspondents'
// certificates in the abonents directory: the first operation (which builds the model) and the
// steady VerifyData rate. A table of ratios ends the output.
//
// Both sides hash with MD5: the engine's default "SHA" is SHA-0, which libcrypto no longer offers,
// and SHA-1 in its place would be different work. Envelopes use RC4, the engine's default.
// Only the operation is timed: restoring a buffer that an in-place operation overwrote is not
// counted on either side. What the raw side does is listed in bench_openssl_raw.cpp.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "bench_openssl_world.h"
#include "bench_report.h"
#include "bench_scaling.h"
#include "zk_mint.h"

namespace {

using namespace zkbench::ossl;

// ---- the engine ------------------------------------------------------------------------------

void SignEngine(benchmark::State& state) {
  const World& world = WorldOf(kFewCorrespondents);
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  Bytes signature(static_cast<size_t>(GetMaxSignatureLength(world.alice())));
  int32_t length = 0;
  TimeEach(state, state.range(0), NoPrepare, [&] {
    return SignData(world.alice(), data.data(), static_cast<int32_t>(data.size()), signature.data(), &length, nullptr);
  });
}

void VerifyEngine(benchmark::State& state) {
  const World& world = WorldOf(kFewCorrespondents);
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  const Bytes signature = EngineSign(world.alice(), data);
  std::string signer(static_cast<size_t>(GetMaxUIDLength(world.bob())), '\0');
  TimeEach(state, state.range(0), NoPrepare, [&] {
    return VerifyData(world.bob(), data.data(), static_cast<int32_t>(data.size()), signature.data(),
                      static_cast<int32_t>(signature.size()), signer.data());
  });
}

void EncodeEngine(benchmark::State& state) {
  const World& world = WorldOf(kFewCorrespondents);
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  const std::string recipient = world.user("bob").uid;
  Bytes buffer(data.size() + static_cast<size_t>(GetMaxEncodeAddition(world.alice())));
  int32_t length = 0;
  TimeEach(
      state, state.range(0),
      [&] {
        std::memcpy(buffer.data(), data.data(), data.size());
        length = static_cast<int32_t>(data.size());
      },
      [&] { return EncodeData(world.alice(), buffer.data(), &length, recipient.c_str()); });
}

void DecodeEngine(benchmark::State& state) {
  const World& world = WorldOf(kFewCorrespondents);
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  const Bytes envelope = EngineEnvelope(world, data);
  Bytes buffer(envelope.size());
  int32_t length = 0;
  std::string sender(static_cast<size_t>(GetMaxUIDLength(world.bob())), '\0');
  TimeEach(
      state, state.range(0),
      [&] {
        std::memcpy(buffer.data(), envelope.data(), envelope.size());
        length = static_cast<int32_t>(envelope.size());
      },
      [&] { return DecodeData(world.bob(), buffer.data(), &length, sender.data()); });
  Check(state.error_occurred() ||
            (length == static_cast<int32_t>(data.size()) && std::memcmp(buffer.data(), data.data(), data.size()) == 0),
        "DecodeData gave something else than the plaintext");
}

// ---- the certificate model -------------------------------------------------------------------

// The first VerifyData after the model was emptied: it loads every certificate of the directories.
void ModelBuild(benchmark::State& state) {
  const World& world = WorldOf(state.range(0));
  const Bytes data = RandomData(kSmall);
  const Bytes signature = EngineSign(world.correspondent(), data);
  std::string signer(static_cast<size_t>(GetMaxUIDLength(world.bob())), '\0');
  TimeEach(
      state, kSmall, [&] { ClearCash(world.bob()); },
      [&] {
        return VerifyData(world.bob(), data.data(), kSmall, signature.data(), static_cast<int32_t>(signature.size()),
                          signer.data());
      });
}

// VerifyData of a correspondent's signature once the model is built.
void VerifySteady(benchmark::State& state) {
  const World& world = WorldOf(state.range(0));
  const Bytes data = RandomData(kSmall);
  const Bytes signature = EngineSign(world.correspondent(), data);
  std::string signer(static_cast<size_t>(GetMaxUIDLength(world.bob())), '\0');
  TimeEach(state, kSmall, NoPrepare, [&] {
    return VerifyData(world.bob(), data.data(), kSmall, signature.data(), static_cast<int32_t>(signature.size()),
                      signer.data());
  });
}

// ---- two engines on two threads ----------------------------------------------------------------

// Thread 0 works as alice with bob as the peer, thread 1 the other way round. Each thread opens its
// own engines: the one it times, and the peer's, which only makes the data the timed one reads.
struct Side {
  EnginePtr self, peer;
  std::string peerUid;
};

Side SideOf(benchmark::State& state) {
  const World& world = WorldOf(kFewCorrespondents);
  const char* me = state.thread_index() == 0 ? "alice" : "bob";
  const char* other = state.thread_index() == 0 ? "bob" : "alice";
  return Side{world.Open(me), world.Open(other), world.user(other).uid};
}

Bytes Envelope(void* sender, const std::string& recipient, const Bytes& data) {
  Bytes buffer(data.size() + static_cast<size_t>(GetMaxEncodeAddition(sender)));
  std::memcpy(buffer.data(), data.data(), data.size());
  int32_t length = static_cast<int32_t>(data.size());
  Check(EncodeData(sender, buffer.data(), &length, recipient.c_str()) == 0, "EncodeData");
  buffer.resize(static_cast<size_t>(length));
  return buffer;
}

void ScaleSign(benchmark::State& state) {
  const Side side = SideOf(state);
  const Bytes data = RandomData(zkbench::kScalingBytes);
  Bytes signature(static_cast<size_t>(GetMaxSignatureLength(side.self.get())));
  int32_t length = 0;
  TimeEach(state, zkbench::kScalingBytes, NoPrepare, [&] {
    return SignData(side.self.get(), data.data(), static_cast<int32_t>(data.size()), signature.data(), &length,
                    nullptr);
  });
}

void ScaleVerify(benchmark::State& state) {
  const Side side = SideOf(state);
  const Bytes data = RandomData(zkbench::kScalingBytes);
  const Bytes signature = EngineSign(side.peer.get(), data);
  std::string signer(static_cast<size_t>(GetMaxUIDLength(side.self.get())), '\0');
  TimeEach(state, zkbench::kScalingBytes, NoPrepare, [&] {
    return VerifyData(side.self.get(), data.data(), static_cast<int32_t>(data.size()), signature.data(),
                      static_cast<int32_t>(signature.size()), signer.data());
  });
}

void ScaleEncode(benchmark::State& state) {
  const Side side = SideOf(state);
  const Bytes data = RandomData(zkbench::kScalingBytes);
  Bytes buffer(data.size() + static_cast<size_t>(GetMaxEncodeAddition(side.self.get())));
  int32_t length = 0;
  TimeEach(
      state, zkbench::kScalingBytes,
      [&] {
        std::memcpy(buffer.data(), data.data(), data.size());
        length = static_cast<int32_t>(data.size());
      },
      [&] { return EncodeData(side.self.get(), buffer.data(), &length, side.peerUid.c_str()); });
}

void ScaleDecode(benchmark::State& state) {
  const Side side = SideOf(state);
  const Bytes data = RandomData(zkbench::kScalingBytes);
  const std::string ownUid = WorldOf(kFewCorrespondents).user(state.thread_index() == 0 ? "alice" : "bob").uid;
  const Bytes envelope = Envelope(side.peer.get(), ownUid, data);
  Bytes buffer(envelope.size());
  int32_t length = 0;
  std::string sender(static_cast<size_t>(GetMaxUIDLength(side.self.get())), '\0');
  TimeEach(
      state, zkbench::kScalingBytes,
      [&] {
        std::memcpy(buffer.data(), envelope.data(), envelope.size());
        length = static_cast<int32_t>(envelope.size());
      },
      [&] { return DecodeData(side.self.get(), buffer.data(), &length, sender.data()); });
}

// ---- registration and the summary ------------------------------------------------------------

void RegisterAll() {
  const std::pair<const char*, void (*)(benchmark::State&)> primitives[] = {
      {"sign/engine", SignEngine},     {"sign/raw", SignRaw},           {"verify/engine", VerifyEngine},
      {"verify/raw", VerifyRaw},       {"verify/raw_chain", VerifyRawChain},
      {"encode/engine", EncodeEngine}, {"encode/raw", EncodeRaw},       {"decode/engine", DecodeEngine},
      {"decode/raw", DecodeRaw}};
  for (const auto& [name, fn] : primitives) {
    benchmark::RegisterBenchmark(name, fn)->Arg(kSmall)->Arg(kLarge)->UseManualTime()->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("model_build/engine", ModelBuild)
      ->Arg(kFewCorrespondents)
      ->Arg(kManyCorrespondents)
      ->Iterations(3)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("verify_steady/engine", VerifySteady)
      ->Arg(kFewCorrespondents)
      ->Arg(kManyCorrespondents)
      ->UseManualTime()
      ->Unit(benchmark::kMicrosecond);
  zkbench::RegisterScaling("sign", ScaleSign);
  zkbench::RegisterScaling("verify", ScaleVerify);
  zkbench::RegisterScaling("encode", ScaleEncode);
  zkbench::RegisterScaling("decode", ScaleDecode);
  // Each thread parses its own copy of the key; nothing else of these raw cases is shared.
  zkbench::RegisterScaling("sign", SignRaw, "raw");
  zkbench::RegisterScaling("encode", EncodeRaw, "raw");
}

const char* Verdict(double value, double goal) { return value >= goal ? "met" : "MISSED"; }

// Operations per second by real time and by CPU time; 0 when the benchmark did not run.
struct Rates {
  double wall = 0;
  double cpu = 0;
};

Rates RatesOf(const zkbench::MedianReporter& r, const std::string& name, const std::string& args) {
  const double cpuSeconds = r.Median(name, args, kCpuSecondsPerOp);
  return {r.Median(name, args, "items_per_second"), cpuSeconds > 0 ? 1 / cpuSeconds : 0};
}

void PrintPrimitiveTable(const zkbench::MedianReporter& r) {
  struct Row {
    const char* op;
    const char* raw;
    int64_t size;
    double goal;  // 0: no goal for this case
  };
  const Row rows[] = {{"sign", "raw", kSmall, 0.7},         {"sign", "raw", kLarge, 0},
                      {"verify", "raw", kSmall, 0.7},       {"verify", "raw", kLarge, 0},
                      {"verify", "raw_chain", kSmall, 0.7}, {"verify", "raw_chain", kLarge, 0},
                      {"encode", "raw", kSmall, 0},         {"encode", "raw", kLarge, 0.95},
                      {"decode", "raw", kSmall, 0},         {"decode", "raw", kLarge, 0.95}};
  std::printf("\n%-7s %-10s %6s %12s %12s %8s %8s   %s\n", "op", "raw side", "size", "engine op/s", "raw op/s",
              "ratio", "cpu", "goal: real, cpu");
  for (const Row& row : rows) {
    const std::string args = std::to_string(row.size);
    const Rates engine = RatesOf(r, std::string(row.op) + "/engine", args);
    const Rates raw = RatesOf(r, std::string(row.op) + "/" + row.raw, args);
    if (engine.wall <= 0 || raw.wall <= 0 || engine.cpu <= 0 || raw.cpu <= 0) continue;
    const double wallRatio = engine.wall / raw.wall, cpuRatio = engine.cpu / raw.cpu;
    std::printf("%-7s %-10s %6s %12.1f %12.1f %8.3f %8.3f", row.op, row.raw, row.size == kSmall ? "1 KiB" : "1 MiB",
                engine.wall, raw.wall, wallRatio, cpuRatio);
    if (row.goal > 0) {
      std::printf("   >=%.2f %s, %s", row.goal, Verdict(wallRatio, row.goal), Verdict(cpuRatio, row.goal));
    }
    std::printf("\n");
  }
  std::printf("(medians over repetitions; MD5, RC4, 2048-bit RSA; ratio = engine / raw throughput in real time,\n"
              " cpu = the same in CPU time of the operation; raw_chain = raw plus a full certificate check on every\n"
              " verification, which the engine runs only when its remembered result has lapsed: the 1 KiB verify\n"
              " goal is shown against raw with and without it)\n");
}

void PrintModelTable(const zkbench::MedianReporter& r) {
  const std::string few = std::to_string(kFewCorrespondents), many = std::to_string(kManyCorrespondents);
  const double buildFew = r.Median("model_build/engine", few, zkbench::kSecondsPerIteration);
  const double buildMany = r.Median("model_build/engine", many, zkbench::kSecondsPerIteration);
  const Rates rateFew = RatesOf(r, "verify_steady/engine", few);
  const Rates rateMany = RatesOf(r, "verify_steady/engine", many);
  if (buildFew <= 0 || buildMany <= 0 || rateFew.cpu <= 0 || rateMany.cpu <= 0) return;
  std::printf("\n%-16s %20s %20s %20s\n", "correspondents", "first VerifyData ms", "steady VerifyData/s",
              "by CPU time /s");
  std::printf("%-16s %20.2f %20.1f %20.1f\n", few.c_str(), buildFew * 1e3, rateFew.wall, rateFew.cpu);
  std::printf("%-16s %20.2f %20.1f %20.1f\n", many.c_str(), buildMany * 1e3, rateMany.wall, rateMany.cpu);
  const double wallRatio = rateMany.wall / rateFew.wall, cpuRatio = rateMany.cpu / rateFew.cpu;
  std::printf("%s/%s: first operation %.1f times longer; steady verify rate %.3f (cpu %.3f), goal >=0.90 %s, %s\n",
              many.c_str(), few.c_str(), buildMany / buildFew, wallRatio, cpuRatio, Verdict(wallRatio, 0.9),
              Verdict(cpuRatio, 0.9));
  std::printf("(first VerifyData = the first after ClearCash, which builds the certificate model from the files)\n");
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  int status = 0;
  try {
    // Built here: the two-thread cases must not race to build it.
    WorldOf(kFewCorrespondents);
    zkbench::MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintPrimitiveTable(reporter);
    PrintModelTable(reporter);
    zkbench::PrintScalingTable(reporter, "OpenSSL");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark set-up failed: %s\n", e.what());
    status = 1;
  }
  ReleaseWorlds();
  benchmark::Shutdown();
  return status;
}
