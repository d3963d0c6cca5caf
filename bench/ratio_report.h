// Ratios of benchmarks measured in the same run, printed after the usual
// table: each ratio names a numerator and a denominator benchmark by their
// base names, and is given for every argument (size) both were run with,
// from their CPU time per iteration. A difference ratio sets a numerator
// less a subtrahend against the denominator. A ratio is only meaningful
// side by side: both cases ran minutes apart at most, on the same input.
#ifndef VELKO_BENCH_RATIO_REPORT_H
#define VELKO_BENCH_RATIO_REPORT_H

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

struct bench_ratio {
  std::string numerator;   /* base name, such as "BM_WritingWalk" */
  std::string denominator; /* base name, such as "BM_LoadAndCommit" */
  std::string target;      /* what the ratio should stay under, as text */
  std::string subtrahend;  /* a difference ratio's: taken from the numerator */
};

/* The ratios main() prints; each benchmark file adds its own at start-up. */
std::vector<bench_ratio>& BenchRatios();

/* Adds a ratio to the report; returns true so that it can initialise a
 * namespace-scope constant. */
bool AddBenchRatio(const char* numerator, const char* denominator, const char* target);
/* Adds (numerator - subtrahend) / denominator, of CPU times, to the report. */
bool AddBenchDifferenceRatio(const char* numerator, const char* subtrahend,
                             const char* denominator, const char* target);

/* The console report, then the ratios of the runs it saw. */
class ratio_reporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

private:
  /* CPU time per iteration by base name, then argument text. */
  std::map<std::string, std::map<std::string, double>> times_;
};

#endif
