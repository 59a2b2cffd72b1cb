#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

// Console output plus the per-iteration time of every benchmark, so that a run can print how
// our figures compare with their reference.
class RecordingReporter final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
        nanosPerIteration[run.benchmark_name()] =
            run.GetAdjustedRealTime() * toNanos(run.time_unit);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  double nanos(const std::string& name) const {
    const auto it = nanosPerIteration.find(name);
    return it == nanosPerIteration.end() ? 0.0 : it->second;
  }

  std::map<std::string, double> nanosPerIteration;

 private:
  static double toNanos(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kSecond:
        return 1e9;
      case benchmark::kMillisecond:
        return 1e6;
      case benchmark::kMicrosecond:
        return 1e3;
      default:
        return 1.0;
    }
  }
};
