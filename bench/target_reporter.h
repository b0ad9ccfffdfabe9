// Console output of Google Benchmark, plus each benchmark's mean wall time per iteration so a
// program can print its figures against their targets.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace hcf_bench {

class TargetReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> micros;
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      micros[r.benchmark_name()] =
          r.real_accumulated_time * 1e6 / static_cast<double>(r.iterations);
    }
  }

  /// Prints "name  µs  < target  met|MISSED" for each measured target.
  void printTargets(const char* heading,
                    const std::vector<std::pair<const char*, double>>& targets) const {
    std::printf("\n%-36s %10s %10s\n", heading, "µs", "target");
    for (const auto& [name, target] : targets) {
      const auto it = micros.find(name);
      if (it == micros.end()) continue;
      std::printf("%-36s %10.2f %7s %.0f %s\n", name, it->second, "<", target,
                  it->second < target ? "met" : "MISSED");
    }
  }
};

}  // namespace hcf_bench
