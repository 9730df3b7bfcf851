#include "bench/ratio_report.h"

#include <cstdio>

namespace wendrel {
namespace bench {
namespace {

// The silent server is given "ConnectionTimeout 0" = 1 (see Environment).
constexpr double kSilentTimeoutSeconds = 1.0;
constexpr double kClosedPortBudgetSeconds = 0.020;

class Table {
 public:
  explicit Table(const FigureCollector& figures) : figures_(figures) {}

  // A paired benchmark's own ratio <= limit: its figure and its baseline
  // measured side by side in the same run.
  void Paired(const char* what, const char* figure, double limit) {
    double f = 0, ratio = 0;
    if (!figures_.Seconds(figure, &f) || !figures_.PairedRatio(figure, &ratio) || ratio <= 0) {
      std::printf("  %-44s  not measured\n", what);
      return;
    }
    Line(what, f, f / ratio, ratio, limit);
  }

  // figure / floor <= limit.
  void Ratio(const char* what, const char* figure, const char* floor, double limit) {
    double f = 0, base = 0;
    if (!figures_.Seconds(figure, &f) || !figures_.Seconds(floor, &base) || base <= 0) {
      std::printf("  %-44s  not measured\n", what);
      return;
    }
    Line(what, f, base, f / base, limit);
  }

  // (figure - floor) / unit <= limit: what one more step costs.
  void Cost(const char* what, const char* figure, const char* floor, double unit, double limit) {
    double f = 0, base = 0;
    if (!figures_.Seconds(figure, &f) || !figures_.Seconds(floor, &base)) {
      std::printf("  %-44s  not measured\n", what);
      return;
    }
    const double cost = f - base;
    Line(what, cost, unit, cost / unit, limit);
  }

  // Like Cost, printed for comparison only: no target.
  void Info(const char* what, const char* figure, const char* floor, double unit) {
    double f = 0, base = 0;
    if (!figures_.Seconds(figure, &f) || !figures_.Seconds(floor, &base)) {
      std::printf("  %-44s  not measured\n", what);
      return;
    }
    std::printf("  %-44s %10.3f ms %10.3f ms %8.3fx  (for comparison)\n", what, (f - base) * 1e3,
                unit * 1e3, (f - base) / unit);
  }

  bool all_met() const { return all_met_; }

 private:
  void Line(const char* what, double figure, double floor, double ratio, double limit) {
    const bool met = ratio <= limit;
    all_met_ = all_met_ && met;
    std::printf("  %-44s %10.3f ms %10.3f ms %8.3fx  <= %.2fx  %s\n", what, figure * 1e3,
                floor * 1e3, ratio, limit, met ? "met" : "MISSED");
  }

  const FigureCollector& figures_;
  bool all_met_ = true;
};

}  // namespace

void FigureCollector::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    const std::string name = run.run_name.function_name;
    if (run.error_occurred) {
      errors_.push_back(name + ": " + run.error_message);
      continue;
    }
    const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
    const bool single = run.run_type == Run::RT_Iteration;
    // A median replaces single runs; single runs (no repetitions) stand alone.
    if (median || (single && !from_median_[name])) {
      seconds_[name] = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      from_median_[name] = median;
      auto cpu = run.counters.find(kChildCpuCounter);
      if (cpu != run.counters.end()) child_cpu_seconds_[name] = cpu->second.value;
      auto paired = run.counters.find(kPairedRatioCounter);
      if (paired != run.counters.end()) paired_ratios_[name] = paired->second.value;
    }
  }
}

bool FigureCollector::Seconds(const std::string& name, double* seconds) const {
  auto it = seconds_.find(name);
  if (it == seconds_.end()) return false;
  *seconds = it->second;
  return true;
}

bool FigureCollector::PairedRatio(const std::string& name, double* ratio) const {
  auto it = paired_ratios_.find(name);
  if (it == paired_ratios_.end()) return false;
  *ratio = it->second;
  return true;
}

bool FigureCollector::ChildCpuSeconds(const std::string& name, double* seconds) const {
  auto it = child_cpu_seconds_.find(name);
  if (it == child_cpu_seconds_.end()) return false;
  *seconds = it->second;
  return true;
}

bool PrintRatios(const FigureCollector& figures, int users, const MemoryFigures& memory) {
  std::printf("\nFigures against their floors, %d users (real time per run, medians):\n", users);
  std::printf("  %-44s %13s %13s %9s  %7s\n", "", "figure", "floor", "ratio", "target");
  Table table(figures);
  table.Ratio("cold resolution (1296, cache off) / OpenLDAP", names::kCold, names::kColdFloor,
              1.2);
  table.Ratio("cached resolution / OpenLDAP cold", names::kCached, names::kColdFloor, 0.2);
  table.Ratio("GetResults / plain walk (bulk result)", names::kConversion,
              names::kConversionFloor, 1.5);
  table.Cost("closed port first: cost / 20 ms", names::kClosedFirst, names::kCold,
             kClosedPortBudgetSeconds, 1.0);
  table.Cost("silent server first: cost / its time-out", names::kSilentFirst, names::kCold,
             kSilentTimeoutSeconds, 1.1);
  table.Ratio("qzlogin / ldapsearch -x (whole process)", names::kProcess, names::kProcessFloor,
              1.3);
  double cpu = 0, cpu_floor = 0;
  if (figures.ChildCpuSeconds(names::kProcess, &cpu) &&
      figures.ChildCpuSeconds(names::kProcessFloor, &cpu_floor) && cpu_floor > 0) {
    std::printf("  %-44s %10.3f ms %10.3f ms %8.3fx  (no target)\n",
                "  the same, processor time of the process", cpu * 1e3, cpu_floor * 1e3,
                cpu / cpu_floor);
  }
  // Two silent servers ahead of the directory, against the same login
  // without them.
  table.Cost("2 silent first, probe: cost / time-out", names::kTwoSilentProbed,
             names::kCold, kSilentTimeoutSeconds, 1.1);
  table.Paired("2 silent first, retry: 2nd login / login", names::kTwoSilentRemembered, 1.2);
  table.Info("2 silent first, sequential: cost / time-out", names::kTwoSilentSequential,
             names::kCold, kSilentTimeoutSeconds);
  if (memory.ok) {
    // The growth against its floor, the data itself (no target).
    const long growth = memory.bulk_rss_kib - memory.single_rss_kib;
    const double data_kib = static_cast<double>(memory.bulk_data_bytes) / 1024;
    std::printf("  qzlogin peak memory: %ld KiB for one match, %ld KiB for %d entries "
                "(%zu KiB of DNs and values): %+ld KiB, %.2fx the data\n",
                memory.single_rss_kib, memory.bulk_rss_kib, memory.bulk_entries,
                memory.bulk_data_bytes / 1024, growth, data_kib > 0 ? growth / data_kib : 0.0);
  } else {
    std::printf("  qzlogin peak memory: not measured (a qzlogin run failed)\n");
  }
  for (const std::string& error : figures.errors()) std::printf("  ERROR %s\n", error.c_str());
  return table.all_met();
}

}  // namespace bench
}  // namespace wendrel
