#include "BenchRatios.h"

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

namespace bench {
namespace {

struct Pair {
  std::string name, reference, goal;
};

std::vector<Pair>& Pairs() {
  static std::vector<Pair> pairs;
  return pairs;
}

// Keeps each run's time per iteration while the console shows the usual table.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && run.iterations > 0)
        times[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

void Ratio(const std::string& name, const std::string& reference, const std::string& goal) {
  Pairs().push_back({name, reference, goal});
}

int Main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nRatios (same run):\n");
  for (const Pair& p : Pairs()) {
    auto a = reporter.times.find(p.name);
    auto b = reporter.times.find(p.reference);
    if (a == reporter.times.end() || b == reporter.times.end() || b->second <= 0) continue;
    std::printf("  %-40s / %-40s = %6.3f%s%s\n", p.name.c_str(), p.reference.c_str(),
                a->second / b->second, p.goal.empty() ? "" : "   goal ", p.goal.c_str());
  }
  benchmark::Shutdown();
  return 0;
}

std::string MakeScratchFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string root = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/velmora-bench-XXXXXX";
  if (::mkdtemp(root.data()) == nullptr) std::abort();
  return root;
}

std::size_t CountNames(const std::string& folder) {
  DIR* d = ::opendir(folder.c_str());
  if (d == nullptr) std::abort();
  std::size_t names = 0;
  while (const dirent* e = ::readdir(d)) names += e->d_name[0] != '.';
  ::closedir(d);
  return names;
}

}  // namespace bench
