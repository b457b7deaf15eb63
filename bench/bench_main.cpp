// Runs every benchmark, then prints each result next to the memcpy of the same frame size.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// Collects real times per name while the console reporter prints as usual.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
      const std::string name = r.benchmark_name();
      if (!times_.count(name)) order_.push_back(name);
      times_[name] = r.GetAdjustedRealTime();
    }
  }
  void PrintRatios() const {
    std::printf("\nRatio to Memcpy of the same size:\n");
    for (const std::string& name : order_) {
      const size_t slash = name.find('/');
      if (slash == std::string::npos || name.compare(0, slash, "Memcpy") == 0) continue;
      const std::string size = name.substr(slash + 1, name.find('/', slash + 1) - slash - 1);
      auto base = times_.find("Memcpy/" + size);
      if (base == times_.end() || base->second <= 0) continue;
      std::printf("  %-32s %8.2fx\n", name.c_str(), times_.at(name) / base->second);
    }
  }

 private:
  std::map<std::string, double> times_;
  std::vector<std::string> order_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
