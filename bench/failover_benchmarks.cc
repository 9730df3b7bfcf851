// The failover options against two silent servers ahead of the directory:
// the sequential walk pays both connection time-outs, the parallel probe
// one, and with retry memory a login after the first pays none.

#include "bench/benchmarks.h"

#include <string>

#include "bench/bench_environment.h"
#include "config/registry_paths.h"
#include "directory/unreachable_servers.h"
#include "platform/registry.h"

namespace wendrel {
namespace bench {
namespace {

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

// The first login of the process remembers both silent servers (not
// measured); every login measured comes after it.
void TwoSilentRemembered(benchmark::State& state) {
  FailoverScope scope(0, 60);
  InProcessHost host(TheEnvironment().SingleUser());
  if (!host.TabData()) {
    state.SkipWithError(("first login failed: " + host.TakeMessages()).c_str());
    return;
  }
  Resolve(state, host);
}

}  // namespace

void RegisterFailoverBenchmarks(const RunOptions& options) {
  if (!options.unreachable) return;
  // One or two seconds per iteration: a few are enough.
  benchmark::RegisterBenchmark(names::kTwoSilentSequential, TwoSilentSequential)
      ->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(2);
  benchmark::RegisterBenchmark(names::kTwoSilentProbed, TwoSilentProbed)
      ->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);
  benchmark::RegisterBenchmark(names::kTwoSilentRemembered, TwoSilentRemembered)
      ->UseRealTime()->Unit(benchmark::kMicrosecond);
}

}  // namespace bench
}  // namespace wendrel
