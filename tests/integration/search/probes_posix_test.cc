// The probes and searches natively, seen from the server side: the test
// plays servers with its own sockets. A probe of a server that accepts and
// never answers closes its connection as soon as the search has its
// verdicts; a probe stuck in a connect that is never answered (the peer
// drops the attempt) is bounded by its time-out and ends on its own. And
// the trusted certificate file belongs to the connection, not the process.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
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

namespace wendrel {
namespace testing {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  return addr;
}

// A loopback listener of this test. With backlog 0 and connections that are
// never accepted, the accept queue is full and further connection attempts
// are dropped: a client's connect goes unanswered.
class Listener {
 public:
  explicit Listener(int backlog) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in addr = Loopback(0);
    socklen_t len = sizeof(addr);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), len);
    listen(fd_, backlog);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~Listener() {
    for (int fd : fds_) close(fd);
    close(fd_);
  }
  int port() const { return port_; }

  // Accepts one connection within `ms`; its fd or -1.
  int Accept(int ms) {
    pollfd p = {fd_, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return -1;
    fds_.push_back(accept(fd_, nullptr, nullptr));
    return fds_.back();
  }
  // Fills the accept queue with connections nobody accepts.
  void FillQueue(int count) {
    for (int i = 0; i < count; ++i) {
      fds_.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
      const sockaddr_in addr = Loopback(port_);
      connect(fds_.back(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
    }
    usleep(200 * 1000);  // lets the kernel finish (or drop) the handshakes
  }

 private:
  int fd_;
  int port_ = 0;
  std::vector<int> fds_;  // accepted and connecting
};

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

// The trusted certificate file belongs to the connection, not to the
// process: searches and parallel probes run at once on threads of their own
// against two TLS servers of different CAs, each server configured with its
// own CA's file, a few hundred times over. Every connection is checked
// against its own server's file: each search finds its user and each probe
// finds both servers usable. (Under Wine every TLS server with a file is
// refused before it is contacted; certificates_win32_test judges the handles
// there.)
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
