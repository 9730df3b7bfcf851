// wendrel_bench: the extension against the LDAP floor, on a generated
// directory in a real slapd.
//
//   wendrel_bench [--users N] [--no-unreachable] [Google Benchmark flags]
//   wendrel_bench --windows MINGW_BUILD_DIR [--users N] [--runs R] [--logins L]
//
// With --windows it measures the Windows build of MINGW_BUILD_DIR under Wine
// instead (bench/windows_report.h), without Google Benchmark.
//
// Runs are repeated and interleaved at random by default, so that a figure
// and its floor see the same machine; the report ends with each figure as a
// ratio to its floor. Exit status 1 when the environment could not be set up
// or a benchmark failed; a missed target is reported, not an error.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_environment.h"
#include "bench/benchmarks.h"
#include "bench/ratio_report.h"
#include "bench/windows_report.h"

namespace {

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

int RunWindows(int users, const wendrel::bench::WindowsOptions& windows) {
  using namespace wendrel::bench;
  if (windows.runs < 1 || windows.logins < 2) {
    std::fprintf(stderr, "wendrel_bench: --runs needs at least 1, --logins at least 2\n");
    return 2;
  }
  std::printf("wendrel_bench --windows: %d users; load average %s\n", users,
              LoadAverage().c_str());
  std::fflush(stdout);
  Environment& env = TheEnvironment();
  if (!env.Start(users)) {
    std::fprintf(stderr, "wendrel_bench: %s\n", env.error().c_str());
    return 1;
  }
  const bool ok = RunWindowsReport(env, windows);
  std::printf("load average at the end: %s\n", LoadAverage().c_str());
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace wendrel::bench;
  int users = 10000;
  RunOptions options;
  WindowsOptions windows;
  // Defaults first, so that flags given on the command line win.
  std::vector<std::string> flags = {argv[0], "--benchmark_repetitions=5",
                                    "--benchmark_enable_random_interleaving=true",
                                    "--benchmark_report_aggregates_only=true"};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--users" && i + 1 < argc) {
      users = std::atoi(argv[++i]);
    } else if (arg == "--windows" && i + 1 < argc) {
      windows.build_dir = argv[++i];
    } else if (arg == "--runs" && i + 1 < argc) {
      windows.runs = std::atoi(argv[++i]);
    } else if (arg == "--logins" && i + 1 < argc) {
      windows.logins = std::atoi(argv[++i]);
    } else if (arg == "--no-unreachable") {
      options.unreachable = false;
    } else {
      flags.push_back(arg);
    }
  }
  if (users < 2) {
    std::fprintf(stderr, "wendrel_bench: --users needs at least 2\n");
    return 2;
  }
  if (!windows.build_dir.empty()) return RunWindows(users, windows);
  std::vector<char*> gbench_argv;
  for (std::string& f : flags) gbench_argv.push_back(f.data());
  int gbench_argc = static_cast<int>(gbench_argv.size());
  benchmark::Initialize(&gbench_argc, gbench_argv.data());
  if (benchmark::ReportUnrecognizedArguments(gbench_argc, gbench_argv.data())) return 2;

  std::printf("wendrel_bench: %d users; load average %s\n", users, LoadAverage().c_str());
  std::fflush(stdout);
  Environment& env = TheEnvironment();
  if (!env.Start(users)) {
    std::fprintf(stderr, "wendrel_bench: %s\n", env.error().c_str());
    return 1;
  }
  RegisterLoginBenchmarks(options);
  RegisterConversionBenchmarks(options);
  RegisterProcessBenchmarks(options);
  RegisterFailoverBenchmarks(options);

  FigureCollector figures(isatty(STDOUT_FILENO) != 0);
  benchmark::RunSpecifiedBenchmarks(&figures);
  const MemoryFigures memory = MeasurePeakMemory();
  PrintRatios(figures, users, memory);
  std::printf("load average at the end: %s\n", LoadAverage().c_str());
  benchmark::Shutdown();
  return figures.errors().empty() && memory.ok ? 0 : 1;
}
