// The report of one run: Google Benchmark's console table as it goes, then
// each figure beside its floor, as a ratio, with its target.

#ifndef WENDREL_BENCH_RATIO_REPORT_H_
#define WENDREL_BENCH_RATIO_REPORT_H_

#include <map>
#include <string>
#include <vector>

#include "bench/benchmarks.h"
#include "benchmark/benchmark.h"

namespace wendrel {
namespace bench {

// Keeps the real time per iteration of every benchmark (the median when
// runs are repeated) while the console shows the runs.
class FigureCollector : public benchmark::ConsoleReporter {
 public:
  // Colours only for a terminal: scripts and logs get plain text.
  explicit FigureCollector(bool color)
      : ConsoleReporter(color ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override;

  // Seconds per iteration; false when the benchmark did not run or failed.
  bool Seconds(const std::string& name, double* seconds) const;
  // The child processor seconds per run (kChildCpuCounter), likewise.
  bool ChildCpuSeconds(const std::string& name, double* seconds) const;
  // The ratio a paired benchmark measured (kPairedRatioCounter), likewise.
  bool PairedRatio(const std::string& name, double* ratio) const;
  const std::vector<std::string>& errors() const { return errors_; }

 private:
  std::map<std::string, double> seconds_;
  std::map<std::string, double> child_cpu_seconds_;
  std::map<std::string, double> paired_ratios_;
  std::map<std::string, bool> from_median_;
  std::vector<std::string> errors_;
};

// Prints the figures against their floors and targets; true when every
// figure that ran met its target.
bool PrintRatios(const FigureCollector& figures, int users, const MemoryFigures& memory);

}  // namespace bench
}  // namespace wendrel

#endif  // WENDREL_BENCH_RATIO_REPORT_H_
