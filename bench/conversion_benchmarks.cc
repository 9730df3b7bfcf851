// Result conversion: GetResults turning one large search result into
// found-user records, against a plain walk of the same result that copies
// each DN and attribute value.

#include <string>
#include <vector>

#include "bench/bench_environment.h"
#include "bench/benchmarks.h"
#include "bench/ldap_floor.h"
#include "directory/ldap_conn.h"
#include "results/user_data.h"
#include "search/user_filter.h"

namespace wendrel {
namespace bench {
namespace {

void Conversion(benchmark::State& state) {
  Environment& env = TheEnvironment();
  const Endpoint server = env.directory();
  LDAPConn conn(false);
  // As the user search does: version 3 for every connection opened after.
  conn.SetOption(platform::kLdapOptProtocolVersion, 3);
  if (!conn.BindToServer(server.host, server.port, false, "", env.bind_dn(), env.password())) {
    state.SkipWithError("bind failed");
    return;
  }
  const platform::LdapTimeval limit = {20, 0};
  try {
    conn.Search("", Environment::FilterFor(env.BulkPattern()), platform::kLdapScopeSubtree,
                kRequestedAttributes, &limit);
  } catch (const std::string& text) {
    state.SkipWithError(("search failed: " + text).c_str());
    return;
  } catch (int message) {
    state.SkipWithError(("search failed with message " + std::to_string(message)).c_str());
    return;
  }
  // GetResults leaves the result in place: each iteration converts it anew.
  for (auto _ : state) {
    UserData users(env.BulkPattern(), kTree);
    conn.GetResults(users);
    if (users.GetUserCount() != env.BulkCount()) {
      state.SkipWithError("the result does not hold the bulk users");
      return;
    }
  }
}

void ConversionFloor(benchmark::State& state) {
  Environment& env = TheEnvironment();
  LdapPtr ld = BindDirectly(env.directory(), env.bind_dn(), env.password());
  MessagePtr result = ld != nullptr
                          ? SearchDirectly(ld.get(), Environment::FilterFor(env.BulkPattern()))
                          : nullptr;
  if (result == nullptr) {
    state.SkipWithError("direct search failed");
    return;
  }
  for (auto _ : state) {
    std::vector<PlainEntry> entries;
    WalkPlainly(ld.get(), result.get(), &entries);
    if (static_cast<int>(entries.size()) != env.BulkCount()) {
      state.SkipWithError("the result does not hold the bulk users");
      return;
    }
  }
}

}  // namespace

void RegisterConversionBenchmarks(const RunOptions&) {
  benchmark::RegisterBenchmark(names::kConversion, Conversion)
      ->UseRealTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(names::kConversionFloor, ConversionFloor)
      ->UseRealTime()->Unit(benchmark::kMillisecond);
}

}  // namespace bench
}  // namespace wendrel
