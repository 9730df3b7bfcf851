// The probes and searches natively, seen from servers the test plays with
// its own sockets: a silent server's probe connection is closed once the
// verdicts are in, an unanswered connect is bounded by its time-out; and the
// trusted certificate file belongs to the connection, not the process.

#include <poll.h>
#include <unistd.h>

#include <chrono>
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
#include "tests/integration/support/loopback_listener.h"

namespace wendrel {
namespace testing {
namespace {

// True when the peer of `fd` closes its end within `ms` (whatever it sent).
bool ClosedByPeerWithin(int fd, int ms) {
  const auto start = std::chrono::steady_clock::now();
  char buffer[512];
  while (SecondsSince(start) * 1000 < ms) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 20) == 1) {
      const ssize_t n = read(fd, buffer, sizeof(buffer));
      if (n <= 0) return n == 0;
    }
  }
  return false;
}

class ProbeSocketsTest : public SearchTest {
 protected:
  static ServerConfig Local(const Listener& listener) { return At("127.0.0.1", listener.port()); }
  SearchOutcome Found() const {
    return {"", dir_.server(0).host, "A", {"jdoe@sales.A", "jdoe@eng.A"}};
  }
};

TEST_F(ProbeSocketsTest, SilentServersConnectionIsClosedWhenTheVerdictsAreIn) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  Listener silent(8);
  SetServers({Local(silent), Plain(0)});
  SetOptions({{"Probe Servers In Parallel", 1}});
  EXPECT_EQ(Found(), RunUserSearch("jdoe", "A"));
  // Only the probe connected: the walk skipped the server.
  int probe = silent.Accept(0);
  ASSERT_GE(probe, 0);
  EXPECT_EQ(-1, silent.Accept(0));
  EXPECT_TRUE(ClosedByPeerWithin(probe, 500));
}

TEST_F(ProbeSocketsTest, UnansweredConnectIsBoundedByItsTimeOut) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  Listener dropping(0);
  dropping.FillQueue(4);
  SetServers({Local(dropping), Plain(0)});
  for (uint32_t probe : {0u, 1u}) {
    SCOPED_TRACE(probe ? "with the probe" : "without the probe");
    SetOptions({{"Probe Servers In Parallel", probe}});
    const SearchOutcome outcome = RunUserSearch("jdoe", "A");
    EXPECT_EQ(Found(), outcome);
    EXPECT_GE(outcome.seconds, 0.9);  // the dropped attempt was really waited for
    EXPECT_LT(outcome.seconds, 3.0);
  }
}

// Searches and parallel probes at once, on threads of their own, against two
// TLS servers of different CAs, each configured with its own CA's file, a few
// hundred times over: every connection is checked against its own server's
// file. (certificates_win32_test judges the handles under Wine.)
ServerEndpoint Endpoint(const ServerConfig& c) {
  return {c.host, c.port, c.use_ssl, c.certificate, "", "", c.connection_timeout};
}

// How one search ended: its user count and server, or its error.
std::string SearchEnd(const std::string& tree) {
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

using TrustedFileThreadsTest = ProbeSocketsTest;

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
      [] { return SearchEnd("Other"); },
      [] { return SearchEnd("Good"); },
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
