// The failover options against two silent servers ahead of the directory:
// the sequential walk pays both connection time-outs, the parallel probe
// one, and with retry memory a login after the first pays none.

#include "bench/benchmarks.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "bench/bench_environment.h"
#include "config/registry_paths.h"
#include "directory/unreachable_servers.h"
#include "platform/registry.h"

namespace wendrel {
namespace bench {
namespace {

// The retry figure's pairs: blocks of this many logins each, this many pairs
// a run. Long enough a block that the clock's and a configuration's cost
// vanish, enough pairs for a median.
constexpr int kPairedBlockLogins = 150;
constexpr int kPairedBlocks = 10;
// Longer than any run of this program: the silent servers stay remembered.
constexpr uint32_t kRememberSeconds = 3600;

void SetFailoverOptions(uint32_t probe, uint32_t retry_seconds) {
  platform::RegKey key;
  key.Create(platform::RegKey::LocalMachine(), kOptionsKeyPath, platform::kKeyAllAccess,
             nullptr, nullptr);
  key.SetValue("Probe Servers In Parallel", platform::kRegDword, &probe, sizeof probe);
  key.SetValue("Unreachable Server Retry Seconds", platform::kRegDword, &retry_seconds,
               sizeof retry_seconds);
}

// The options for one benchmark, back off (and nothing remembered) after
// it, so that the other benchmarks run the plain sequential walk.
class FailoverScope {
 public:
  FailoverScope(uint32_t probe, uint32_t retry_seconds) {
    Environment& env = TheEnvironment();
    env.Configure({env.silent(), env.silent(), env.directory()}, /*use_cache=*/false,
                  /*allow_wildcards=*/false);
    SetFailoverOptions(probe, retry_seconds);
    UnreachableServers::Instance().Clear();
  }
  ~FailoverScope() {
    SetFailoverOptions(0, 0);
    UnreachableServers::Instance().Clear();
  }
};

void Resolve(benchmark::State& state, InProcessHost& host) {
  for (auto _ : state) {
    if (!host.TabData()) {
      state.SkipWithError(("no user written back: " + host.TakeMessages()).c_str());
      return;
    }
  }
}

void TwoSilentSequential(benchmark::State& state) {
  FailoverScope scope(0, 0);
  InProcessHost host(TheEnvironment().SingleUser());
  Resolve(state, host);
}

void TwoSilentProbed(benchmark::State& state) {
  FailoverScope scope(1, 0);
  InProcessHost host(TheEnvironment().SingleUser());
  Resolve(state, host);
}

double SecondsOfLogins(InProcessHost& host, int logins, benchmark::State& state) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < logins; ++i) {
    if (!host.TabData()) {
      state.SkipWithError(("no user written back: " + host.TakeMessages()).c_str());
      return 0;
    }
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// A login with both silent servers remembered against the same login
// without them, as one ratio. The two are measured in alternating blocks of
// kPairedBlockLogins in this one benchmark, so that each pair sees the same
// machine, and the figure is the median of the pairs' ratios: two figures
// of a millisecond measured apart drifted by more than the difference asked
// about. Only a login that meets the silent servers pays their time-outs
// (two seconds), and it is never timed: the memory outlasts the benchmark,
// so later runs pay them again only when another benchmark cleared it.
void TwoSilentRemembered(benchmark::State& state) {
  Environment& env = TheEnvironment();
  const std::string key = UnreachableServerKey(env.silent().host, env.silent().port, false);
  std::vector<double> ratios;
  bool plain_first = true;
  for (auto _ : state) {
    double plain = 0, remembered = 0;
    // Which block goes first alternates, so that neither gains from the
    // other's warming up.
    for (int block = 0; block < 2; ++block) {
      if ((block == 0) == plain_first) {
        env.Configure({env.directory()}, /*use_cache=*/false, /*allow_wildcards=*/false);
        InProcessHost host(env.SingleUser());
        plain = SecondsOfLogins(host, kPairedBlockLogins, state);
        continue;
      }
      env.Configure({env.silent(), env.silent(), env.directory()}, /*use_cache=*/false,
                    /*allow_wildcards=*/false);
      SetFailoverOptions(0, kRememberSeconds);
      InProcessHost host(env.SingleUser());
      if (!UnreachableServers::Instance().IsRemembered(key) && !host.TabData()) {
        state.SkipWithError(("first login failed: " + host.TakeMessages()).c_str());
        return;
      }
      remembered = SecondsOfLogins(host, kPairedBlockLogins, state);
      SetFailoverOptions(0, 0);
    }
    plain_first = !plain_first;
    if (plain <= 0 || remembered <= 0) return;
    state.SetIterationTime(remembered / kPairedBlockLogins);
    ratios.push_back(remembered / plain);
  }
  if (!ratios.empty()) state.counters[kPairedRatioCounter] = Median(ratios);
}

}  // namespace

void RegisterFailoverBenchmarks(const RunOptions& options) {
  if (!options.unreachable) return;
  // One or two seconds per iteration: a few are enough.
  benchmark::RegisterBenchmark(names::kTwoSilentSequential, TwoSilentSequential)
      ->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(2);
  benchmark::RegisterBenchmark(names::kTwoSilentProbed, TwoSilentProbed)
      ->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);
  // Each iteration is a pair of blocks; the time is a login's.
  benchmark::RegisterBenchmark(names::kTwoSilentRemembered, TwoSilentRemembered)
      ->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(kPairedBlocks);
}

}  // namespace bench
}  // namespace wendrel
