// One resolution through LoginExtCallback (event 1296) in this process,
// against the same LDAP work done directly with OpenLDAP.

#include "bench/benchmarks.h"

#include "bench/bench_environment.h"
#include "bench/ldap_floor.h"

namespace wendrel {
namespace bench {
namespace {

// Runs 1296 for `user` until the state says stop; every run must resolve.
void ResolveRepeatedly(benchmark::State& state, const std::string& user) {
  InProcessHost host(user);
  for (auto _ : state) {
    if (!host.TabData()) {
      state.SkipWithError(("no user written back: " + host.TakeMessages()).c_str());
      return;
    }
  }
}

void ColdResolution(benchmark::State& state) {
  Environment& env = TheEnvironment();
  env.Configure({env.directory()}, /*use_cache=*/false, /*allow_wildcards=*/false);
  ResolveRepeatedly(state, env.SingleUser());
}

void ColdResolutionFloor(benchmark::State& state) {
  Environment& env = TheEnvironment();
  const std::string filter = Environment::FilterFor(env.SingleUser());
  for (auto _ : state) {
    if (ResolveDirectly(env.directory(), env.bind_dn(), env.password(), filter) != 1) {
      state.SkipWithError("the direct resolution did not find exactly one user");
      return;
    }
  }
}

void CachedResolution(benchmark::State& state) {
  Environment& env = TheEnvironment();
  env.Configure({env.directory()}, /*use_cache=*/true, /*allow_wildcards=*/false);
  // The first resolution searches and stores the entry; every one measured
  // is then answered from the cache.
  InProcessHost(env.SingleUser()).TabData();
  ResolveRepeatedly(state, env.SingleUser());
}

// The first configured server unreachable, the directory second.
void UnreachableFirst(benchmark::State& state, const Endpoint& first) {
  Environment& env = TheEnvironment();
  env.Configure({first, env.directory()}, /*use_cache=*/false, /*allow_wildcards=*/false);
  ResolveRepeatedly(state, env.SingleUser());
}

}  // namespace

void RegisterLoginBenchmarks(const RunOptions& options) {
  benchmark::RegisterBenchmark(names::kCold, ColdResolution)->UseRealTime()->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark(names::kColdFloor, ColdResolutionFloor)->UseRealTime()->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark(names::kCached, CachedResolution)->UseRealTime()->Unit(benchmark::kMicrosecond);
  if (!options.unreachable) return;
  benchmark::RegisterBenchmark(names::kClosedFirst, [](benchmark::State& state) {
    UnreachableFirst(state, TheEnvironment().closed());
  })->UseRealTime()->Unit(benchmark::kMicrosecond);
  // A second per iteration: a few are enough.
  benchmark::RegisterBenchmark(names::kSilentFirst, [](benchmark::State& state) {
    UnreachableFirst(state, TheEnvironment().silent());
  })->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);
}

}  // namespace bench
}  // namespace wendrel
