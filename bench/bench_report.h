// A console reporter that also remembers every run's figures, so that a program can print its
// comparison tables once every benchmark (and every repetition) has run.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace zkbench {

// The figure taken from a run besides its counters: real time per iteration in seconds.
inline const char kSecondsPerIteration[] = "seconds_per_iteration";

class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool sample = run.run_type == Run::RT_Iteration;
      if (!sample && !(run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")) continue;
      auto& figures = figures_[run.run_name.function_name][ArgsKey(run.run_name)];
      for (const auto& [name, counter] : run.counters) figures[name].Add(counter.value, sample);
      const double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      figures[kSecondsPerIteration].Add(seconds, sample);
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // The median of a figure ("bytes_per_second", "items_per_second", kSecondsPerIteration, or a
  // user counter) of the benchmark `name` run with `args` ("1024"; "" without arguments; a run
  // with a set number of threads adds it: "1024/threads:2"); 0 when it did not run.
  double Median(const std::string& name, const std::string& args, const std::string& figure) const {
    const auto byName = figures_.find(name);
    if (byName == figures_.end()) return 0;
    const auto byArgs = byName->second.find(args);
    if (byArgs == byName->second.end()) return 0;
    const auto values = byArgs->second.find(figure);
    return values == byArgs->second.end() ? 0 : values->second.Median();
  }

  // The argument strings `name` ran with, in text order.
  std::vector<std::string> ArgsOf(const std::string& name) const {
    std::vector<std::string> args;
    const auto byName = figures_.find(name);
    if (byName != figures_.end()) {
      for (const auto& entry : byName->second) args.push_back(entry.first);
    }
    return args;
  }

 private:
  static std::string ArgsKey(const benchmark::BenchmarkName& name) {
    if (name.threads.empty()) return name.args;
    return name.args.empty() ? name.threads : name.args + "/" + name.threads;
  }

  // The median aggregate when repetitions produced one (also with aggregates-only output),
  // otherwise the median of the runs seen.
  struct Values {
    std::vector<double> samples;
    double median = 0;
    bool hasMedian = false;

    void Add(double value, bool sample) {
      if (sample) {
        samples.push_back(value);
      } else {
        median = value;
        hasMedian = true;
      }
    }

    double Median() const {
      if (hasMedian || samples.empty()) return median;
      std::vector<double> sorted = samples;
      std::sort(sorted.begin(), sorted.end());
      const size_t n = sorted.size();
      return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    }
  };

  std::map<std::string, std::map<std::string, std::map<std::string, Values>>> figures_;
};

}  // namespace zkbench
