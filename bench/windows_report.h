// The Windows build's figures (wendrel_bench --windows): qzlogin.exe with
// wendrel.dll under Wine, timed from here as whole processes, against floors
// run under the same Wine prefix in the same run (Google Benchmark is not
// built for mingw). Each per-login figure is the difference between a
// process of many logins and one of a single login, so that process start
// cancels out; the median over several runs is reported.

#ifndef WENDREL_BENCH_WINDOWS_REPORT_H_
#define WENDREL_BENCH_WINDOWS_REPORT_H_

#include <string>

#include "bench/bench_environment.h"

namespace wendrel {
namespace bench {

struct WindowsOptions {
  std::string build_dir;  // the mingw build tree: its bin/ and wine-run
  // Each figure is the median of this many runs.
  int runs = 7;
  // Logins of the long process (the short one has 1). Under Wine a process
  // start varies by a hundred milliseconds or more between runs; spread over
  // 200 logins that is under a millisecond a login.
  int logins = 201;
};

// Measures and prints the Windows section against `env`'s directory. False
// when a program failed or could not be run; a missed target is reported,
// not a failure.
bool RunWindowsReport(Environment& env, const WindowsOptions& options);

}  // namespace bench
}  // namespace wendrel

#endif  // WENDREL_BENCH_WINDOWS_REPORT_H_
