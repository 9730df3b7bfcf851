// The trusted certificate file belongs to the connection, not to the
// process: searches and parallel probes run at once on threads of their own
// against two TLS servers of different CAs, each server configured with its
// own CA's file, a few hundred times over. Every connection is checked
// against its own server's file: each search finds its user and each probe
// finds both servers usable. (Under Wine every TLS server with a file is
// refused before it is contacted; tls_handle_check_win32_test judges the
// handles there.)

#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "directory/server_probe.h"
#include "gtest/gtest.h"
#include "results/user_data.h"
#include "search/ldap_search_user.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

ServerEndpoint Endpoint(const ServerConfig& config) {
  ServerEndpoint endpoint;
  endpoint.host = config.host;
  endpoint.port = config.port;
  endpoint.use_ssl = config.use_ssl;
  endpoint.certificate = config.certificate;
  endpoint.connection_timeout = config.connection_timeout;
  return endpoint;
}

// How one search ended: its user count and server, or its error.
std::string SearchOutcome(const std::string& tree) {
  UserData request("jdoe", tree);
  try {
    LDAPSearchUser search;
    search.SearchForAUser(request);
  } catch (const std::string& text) {
    return text;
  }
  return std::to_string(request.GetUserCount()) + " on " + request.GetServerName();
}

std::string ProbeResult(const std::vector<ServerEndpoint>& endpoints) {
  ServerProbes probes(endpoints, nullptr);
  probes.Wait();
  std::string outcome;
  for (size_t i = 0; i < endpoints.size(); ++i) outcome += probes.Failed(i) ? "failed " : "usable ";
  return outcome;
}

class TrustedFileThreadsTest : public SearchTest {
 protected:
  void TearDown() override {
    EXPECT_TRUE(WaitForProbesToEnd(10000));
    SearchTest::TearDown();
  }
};

TEST_F(TrustedFileThreadsTest, SearchesAndProbesAtOnceEachCheckTheirServersOwnFile) {
  ASSERT_TRUE(dir_.Start({"Good:tls=good", "Other:tls=otherca"})) << dir_.error();
  ServerConfig good = Tls(0);
  ServerConfig other = Tls(1);
  other.certificate = dir_.OtherCaCertPath();
  // Generous, for the sanitizers: only a wrong file may fail a server here.
  good.connection_timeout = other.connection_timeout = 10;
  SetOptions({});
  SetServers({good, other});
  const std::vector<ServerEndpoint> endpoints = {Endpoint(good), Endpoint(other)};

  // The search for tree Other connects to both servers in turn (Good is of
  // another tree), the search for tree Good to the first only.
  constexpr int kRounds = 50;
  const std::vector<std::function<std::string()>> jobs = {
      [] { return SearchOutcome("Other"); },
      [] { return SearchOutcome("Good"); },
      [&endpoints] { return ProbeResult(endpoints); },
      [&endpoints] { return ProbeResult(endpoints); },
  };
  std::vector<std::map<std::string, int>> tallies(jobs.size());
  std::vector<std::thread> threads;
  for (size_t j = 0; j < jobs.size(); ++j) {
    threads.emplace_back([&, j] {
      for (int round = 0; round < kRounds; ++round) ++tallies[j][jobs[j]()];
    });
  }
  for (std::thread& thread : threads) thread.join();

  const std::vector<std::map<std::string, int>> expected = {
      {{"2 on " + other.host, kRounds}},
      {{"2 on " + good.host, kRounds}},
      {{"usable usable ", kRounds}},
      {{"usable usable ", kRounds}},
  };
  EXPECT_EQ(expected, tallies);
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
