// Runs a program to its end, as the whole-process figures need: no shell,
// standard input, output and error on /dev/null, the environment of this
// process.

#ifndef WENDREL_BENCH_CHILD_PROCESS_H_
#define WENDREL_BENCH_CHILD_PROCESS_H_

#include <string>
#include <vector>

namespace wendrel {
namespace bench {

struct ChildOutcome {
  bool exited_zero = false;
  long peak_rss_kib = 0;  // the child's maximum resident set
  double cpu_seconds = 0;  // the child's user and system time
};

ChildOutcome RunChild(const std::vector<std::string>& argv);

// The same, with the child's standard output and error written to files.
ChildOutcome RunChildKeepingOutput(const std::vector<std::string>& argv,
                                   const std::string& stdout_path,
                                   const std::string& stderr_path);

}  // namespace bench
}  // namespace wendrel

#endif  // WENDREL_BENCH_CHILD_PROCESS_H_
