// The benchmarks of this program, registered by main after the environment
// is up, and the names under which the report pairs each figure with its
// floor.

#ifndef WENDREL_BENCH_BENCHMARKS_H_
#define WENDREL_BENCH_BENCHMARKS_H_

#include <cstddef>

#include "benchmark/benchmark.h"

namespace wendrel {
namespace bench {

struct RunOptions {
  // The unreachable-server figures: independent of the directory's size,
  // and the silent one costs a second per run.
  bool unreachable = true;
};

namespace names {
constexpr char kCold[] = "cold_resolution/extension";
constexpr char kColdFloor[] = "cold_resolution/openldap";
constexpr char kCached[] = "cached_resolution/extension";
constexpr char kClosedFirst[] = "closed_port_first/extension";
constexpr char kSilentFirst[] = "silent_server_first/extension";
constexpr char kConversion[] = "conversion/GetResults";
constexpr char kConversionFloor[] = "conversion/plain_walk";
constexpr char kProcess[] = "whole_process/qzlogin";
constexpr char kProcessFloor[] = "whole_process/ldapsearch";
constexpr char kTwoSilentSequential[] = "two_silent_first/sequential";
constexpr char kTwoSilentProbed[] = "two_silent_first/parallel_probe";
constexpr char kTwoSilentRemembered[] = "two_silent_first/retry_memory_second_login";
}  // namespace names

// The counter of the whole-process benchmarks that holds the child's
// processor time per run, in seconds.
constexpr char kChildCpuCounter[] = "child_cpu_s";

// The counter of a paired benchmark that holds its figure as a ratio to the
// baseline measured beside it (the median of its pairs).
constexpr char kPairedRatioCounter[] = "paired_ratio";

// Peak resident memory of qzlogin for one match and for the large result
// (the selection list cancelled), and the size of that result's data: its
// DNs and attribute values.
struct MemoryFigures {
  bool ok = false;
  long single_rss_kib = 0;
  long bulk_rss_kib = 0;
  int bulk_entries = 0;
  size_t bulk_data_bytes = 0;
};
MemoryFigures MeasurePeakMemory();

void RegisterLoginBenchmarks(const RunOptions& options);
void RegisterConversionBenchmarks(const RunOptions& options);
void RegisterProcessBenchmarks(const RunOptions& options);
void RegisterFailoverBenchmarks(const RunOptions& options);

}  // namespace bench
}  // namespace wendrel

#endif  // WENDREL_BENCH_BENCHMARKS_H_
