// The benchmarks' main: the usual console report, then the ratios that the
// benchmark files registered, for every size both sides ran with.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "bench/ratio_report.h"

std::vector<bench_ratio>& BenchRatios() {
  static std::vector<bench_ratio> ratios;
  return ratios;
}

bool AddBenchRatio(const char* numerator, const char* denominator, const char* target) {
  BenchRatios().push_back({numerator, denominator, target, ""});
  return true;
}

bool AddBenchDifferenceRatio(const char* numerator, const char* subtrahend,
                             const char* denominator, const char* target) {
  BenchRatios().push_back({numerator, denominator, target, subtrahend});
  return true;
}

namespace {

/* "BM_Load/5/min_time:1.000" -> base "BM_Load", argument "5". */
void SplitName(const std::string& name, std::string* base, std::string* argument) {
  const size_t slash = name.find('/');
  *base = name.substr(0, slash);
  *argument = "";
  if (slash == std::string::npos)
    return;
  const size_t next = name.find('/', slash + 1);
  const std::string rest = name.substr(slash + 1, next == std::string::npos ? next : next - slash - 1);
  if (rest.find(':') == std::string::npos)
    *argument = rest;
}

} // namespace

void ratio_reporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    if (run.error_occurred || run.run_type != Run::RT_Iteration || run.iterations == 0)
      continue;
    std::string base;
    std::string argument;
    SplitName(run.benchmark_name(), &base, &argument);
    // A benchmark that times itself (its own CPU time) gives that time.
    const bool manual = run.benchmark_name().find("/manual_time") != std::string::npos;
    times_[base][argument] = manual ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
  }
}

void ratio_reporter::Finalize() {
  ConsoleReporter::Finalize();
  bool header = false;
  for (const bench_ratio& ratio : BenchRatios()) {
    const bool difference = !ratio.subtrahend.empty();
    const auto numerator = times_.find(ratio.numerator);
    const auto denominator = times_.find(ratio.denominator);
    const auto subtrahend = times_.find(ratio.subtrahend);
    if (numerator == times_.end() || denominator == times_.end() ||
        (difference && subtrahend == times_.end()))
      continue;
    // Sizes in numeric order.
    std::vector<std::pair<std::string, double>> rows(numerator->second.begin(),
                                                     numerator->second.end());
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
      return std::strtod(a.first.c_str(), nullptr) < std::strtod(b.first.c_str(), nullptr);
    });
    const std::string name =
        difference ? "(" + ratio.numerator + " - " + ratio.subtrahend + ")" : ratio.numerator;
    for (auto [argument, time] : rows) {
      const auto other = denominator->second.find(argument);
      if (other == denominator->second.end() || other->second <= 0)
        continue;
      if (difference) {
        const auto less = subtrahend->second.find(argument);
        if (less == subtrahend->second.end())
          continue;
        time -= less->second;
      }
      if (!header) {
        std::printf("\nRatios of this run (CPU time per iteration):\n");
        header = true;
      }
      std::printf("  %-32s / %-28s %6s  %6.2f   (target %s)\n", name.c_str(),
                  ratio.denominator.c_str(), argument.c_str(), time / other->second,
                  ratio.target.c_str());
    }
  }
}

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  ratio_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
