// Whole processes: qzlogin running one login (load, handshake, event 0,
// 1296, 18) against ldapsearch -x doing the same bind and search, and
// qzlogin's peak memory for the large result.

#include <string>
#include <vector>

#include "bench/bench_environment.h"
#include "bench/benchmarks.h"
#include "bench/child_process.h"
#include "bench/ldap_floor.h"
#include "search/user_filter.h"

namespace wendrel {
namespace bench {
namespace {

// Set by bench/CMakeLists.txt.
constexpr char kQzlogin[] = WENDREL_QZLOGIN_PATH;
constexpr char kExtension[] = WENDREL_EXTENSION_PATH;
constexpr char kLdapsearch[] = "/usr/bin/ldapsearch";

std::vector<std::string> QzloginCommand(const std::string& user) {
  // --cancel: a selection list is answered, never shown at a terminal.
  return {kQzlogin, "--extension", kExtension, "--user", user, "--tree", kTree,
          "--json", "--cancel"};
}

std::vector<std::string> LdapsearchCommand(const std::string& filter) {
  Environment& env = TheEnvironment();
  const Endpoint server = env.directory();
  std::vector<std::string> command = {
      kLdapsearch, "-x", "-H", "ldap://" + server.host + ":" + std::to_string(server.port),
      "-D", env.bind_dn(), "-w", env.password(), "-b", "", filter};
  for (const char* const* a = kRequestedAttributes; *a != nullptr; ++a) command.push_back(*a);
  return command;
}

// Also counts the child's own processor time: on a busy machine the real
// time mostly measures the wait for a processor, the same for both.
void RunRepeatedly(benchmark::State& state, const std::vector<std::string>& command) {
  double cpu_seconds = 0;
  for (auto _ : state) {
    const ChildOutcome outcome = RunChild(command);
    if (!outcome.exited_zero) {
      state.SkipWithError((command[0] + " failed").c_str());
      return;
    }
    cpu_seconds += outcome.cpu_seconds;
  }
  state.counters[kChildCpuCounter] =
      benchmark::Counter(cpu_seconds, benchmark::Counter::kAvgIterations);
}

void Qzlogin(benchmark::State& state) {
  Environment& env = TheEnvironment();
  env.Configure({env.directory()}, /*use_cache=*/false, /*allow_wildcards=*/false);
  RunRepeatedly(state, QzloginCommand(env.SingleUser()));
}

void Ldapsearch(benchmark::State& state) {
  RunRepeatedly(state, LdapsearchCommand(Environment::FilterFor(TheEnvironment().SingleUser())));
}

}  // namespace

void RegisterProcessBenchmarks(const RunOptions&) {
  benchmark::RegisterBenchmark(names::kProcess, Qzlogin)
      ->UseRealTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(names::kProcessFloor, Ldapsearch)
      ->UseRealTime()->Unit(benchmark::kMillisecond);
}

MemoryFigures MeasurePeakMemory() {
  MemoryFigures figures;
  Environment& env = TheEnvironment();
  env.Configure({env.directory()}, /*use_cache=*/false, /*allow_wildcards=*/false);
  ChildOutcome single = RunChild(QzloginCommand(env.SingleUser()));
  env.Configure({env.directory()}, /*use_cache=*/false, /*allow_wildcards=*/true);
  ChildOutcome bulk = RunChild(QzloginCommand(env.BulkPattern()));

  LdapPtr ld = BindDirectly(env.directory(), env.bind_dn(), env.password());
  MessagePtr result =
      ld != nullptr ? SearchDirectly(ld.get(), Environment::FilterFor(env.BulkPattern()))
                    : nullptr;
  if (result != nullptr) {
    std::vector<PlainEntry> entries;
    figures.bulk_data_bytes = WalkPlainly(ld.get(), result.get(), &entries);
    figures.bulk_entries = static_cast<int>(entries.size());
  }
  figures.ok = single.exited_zero && bulk.exited_zero && result != nullptr;
  figures.single_rss_kib = single.peak_rss_kib;
  figures.bulk_rss_kib = bulk.peak_rss_kib;
  return figures;
}

}  // namespace bench
}  // namespace wendrel
