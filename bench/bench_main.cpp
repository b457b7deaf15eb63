// Runs every benchmark, then prints each result next to its baseline of the same size: the memcpy of the
// frame, or GStreamer alone playing the file for the open benchmark.
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
    std::printf("\nRatio to the baseline of the same size (Memcpy, or GstPlayFile for OpenFile):\n");
    for (const std::string& name : order_) {
      const size_t slash = name.find('/');
      if (slash == std::string::npos) continue;
      const std::string family = name.substr(0, slash);
      if (family == "Memcpy" || family == "GstPlayFile") continue;
      const std::string size = name.substr(slash + 1, name.find('/', slash + 1) - slash - 1);
      auto base = times_.find((family == "OpenFile" ? "GstPlayFile/" : "Memcpy/") + size);
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
