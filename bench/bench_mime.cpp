// Base64 throughput of the codec against OpenSSL's block functions, with the ratio per case.
// Bytes per second count the binary side (the data encoded, or the data the text decodes to).
// Our functions allocate their output on every call; OpenSSL writes into a buffer made once.
#include "frame/mimecode.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes RandomData(size_t size) {
  std::mt19937 rng(static_cast<unsigned>(size));
  Bytes data(size);
  for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
  return data;
}

Bytes EncodedText(const Bytes& data) {
  Bytes text(4 * ((data.size() + 2) / 3) + 1);
  const int len = EVP_EncodeBlock(text.data(), data.data(), static_cast<int>(data.size()));
  text.resize(static_cast<size_t>(len));
  return text;
}

void EncodeOurs(benchmark::State& state) {
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    uint8_t* out;
    int32_t outLen;
    zk::MimeEncode(data.data(), static_cast<int32_t>(data.size()), &out, &outLen);
    benchmark::DoNotOptimize(out);
    zk::MimeFree(out);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void EncodeOpenSSL(benchmark::State& state) {
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  Bytes out(4 * ((data.size() + 2) / 3) + 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVP_EncodeBlock(out.data(), data.data(), static_cast<int>(data.size())));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void DecodeOurs(benchmark::State& state) {
  const Bytes text = EncodedText(RandomData(static_cast<size_t>(state.range(0))));
  for (auto _ : state) {
    uint8_t* out;
    int32_t outLen;
    zk::MimeDecode(text.data(), static_cast<int32_t>(text.size()), &out, &outLen);
    benchmark::DoNotOptimize(out);
    zk::MimeFree(out);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void DecodeOpenSSL(benchmark::State& state) {
  const Bytes text = EncodedText(RandomData(static_cast<size_t>(state.range(0))));
  Bytes out(text.size() / 4 * 3);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVP_DecodeBlock(out.data(), text.data(), static_cast<int>(text.size())));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// Keeps the console output and remembers each run's throughput, so the ratios can be printed once
// every benchmark (and every repetition) has run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const auto rate = run.counters.find("bytes_per_second");
      if (run.error_occurred || rate == run.counters.end()) continue;
      auto& entry = rates_[run.run_name.function_name][run.run_name.args];
      if (run.run_type == Run::RT_Iteration) entry.samples.push_back(rate->second.value);
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") entry.median = rate->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintRatios() const {
    std::printf("\n%-8s %10s %14s %14s %8s\n", "case", "size", "ours MB/s", "OpenSSL MB/s", "ratio");
    for (const char* op : {"encode", "decode"}) {
      const auto ours = rates_.find(std::string(op) + "/zk");
      const auto theirs = rates_.find(std::string(op) + "/openssl");
      if (ours == rates_.end() || theirs == rates_.end()) continue;
      for (const auto& [size, ourRates] : ours->second) {
        const auto theirRates = theirs->second.find(size);
        if (theirRates == theirs->second.end()) continue;
        const double a = ourRates.Median(), b = theirRates->second.Median();
        std::printf("%-8s %10s %14.1f %14.1f %8.2f\n", op, size.c_str(), a / 1e6, b / 1e6, a / b);
      }
    }
    std::printf("(medians over repetitions; ratio = ours / OpenSSL)\n");
  }

 private:
  // The median aggregate when repetitions produced one (also with aggregates-only output),
  // otherwise the median of the runs seen.
  struct Rates {
    std::vector<double> samples;
    double median = 0;

    double Median() const {
      if (median > 0 || samples.empty()) return median;
      std::vector<double> sorted = samples;
      std::sort(sorted.begin(), sorted.end());
      const size_t n = sorted.size();
      return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    }
  };

  std::map<std::string, std::map<std::string, Rates>> rates_;
};

void RegisterAll() {
  const std::pair<const char*, void (*)(benchmark::State&)> cases[] = {
      {"encode/zk", EncodeOurs}, {"encode/openssl", EncodeOpenSSL},
      {"decode/zk", DecodeOurs}, {"decode/openssl", DecodeOpenSSL}};
  for (const auto& [name, fn] : cases) benchmark::RegisterBenchmark(name, fn)->Arg(1 << 10)->Arg(1 << 20);
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
