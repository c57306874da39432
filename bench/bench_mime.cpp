// Base64 throughput of the codec against OpenSSL's block functions, with the ratio per case.
// Bytes per second count the binary side (the data encoded, or the data the text decodes to).
// Our functions allocate their output on every call; OpenSSL writes into a buffer made once.
#include "bench_report.h"
#include "frame/mimecode.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
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

void PrintRatios(const zkbench::MedianReporter& reporter) {
  std::printf("\n%-8s %10s %14s %14s %8s\n", "case", "size", "ours MB/s", "OpenSSL MB/s", "ratio");
  for (const char* name : {"encode", "decode"}) {
    const std::string op = name;
    for (const std::string& size : reporter.ArgsOf(op + "/zk")) {
      const double a = reporter.Median(op + "/zk", size, "bytes_per_second");
      const double b = reporter.Median(op + "/openssl", size, "bytes_per_second");
      if (a <= 0 || b <= 0) continue;
      std::printf("%-8s %10s %14.1f %14.1f %8.2f\n", op.c_str(), size.c_str(), a / 1e6, b / 1e6, a / b);
    }
  }
  std::printf("(medians over repetitions; ratio = ours / OpenSSL)\n");
}

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
  zkbench::MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintRatios(reporter);
  benchmark::Shutdown();
  return 0;
}
