// The parallel probe's connections, seen from the server side (native
// only: the test plays the servers with its own sockets). A probe of a
// server that accepts and never answers closes its connection as soon as
// the search has its verdicts; a probe stuck in a connect that is never
// answered (the peer drops the attempt) is bounded by its time-out and ends
// on its own.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "directory/server_probe.h"
#include "gtest/gtest.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A loopback listener of this test. With backlog 0 and a connection that is
// never accepted, the kernel's accept queue is full and further connection
// attempts are dropped: the connect of a client goes unanswered.
class Listener {
 public:
  explicit Listener(int backlog) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    listen(fd_, backlog);
    socklen_t len = sizeof(addr);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~Listener() {
    for (int fd : accepted_) close(fd);
    for (int fd : clients_) close(fd);
    close(fd_);
  }
  int port() const { return port_; }

  // Accepts one connection within `ms`; its fd or -1.
  int Accept(int ms) {
    pollfd p = {fd_, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return -1;
    int fd = accept(fd_, nullptr, nullptr);
    if (fd >= 0) accepted_.push_back(fd);
    return fd;
  }
  // Fills the accept queue with connections nobody accepts.
  void FillQueue(int count) {
    for (int i = 0; i < count; ++i) {
      int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      addr.sin_port = htons(static_cast<uint16_t>(port_));
      connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
      clients_.push_back(fd);
    }
    usleep(200 * 1000);  // lets the kernel finish (or drop) the handshakes
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> accepted_;
  std::vector<int> clients_;
};

// True when the peer of `fd` closes its end within `ms` (whatever it sent).
bool ClosedByPeerWithin(int fd, int ms) {
  const auto start = std::chrono::steady_clock::now();
  char buffer[512];
  while (SecondsSince(start) * 1000 < ms) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 20) == 1) {
      ssize_t n = read(fd, buffer, sizeof(buffer));
      if (n == 0) return true;
      if (n < 0) return false;
    }
  }
  return false;
}

class ProbeSocketsTest : public SearchTest {
 protected:
  void TearDown() override {
    EXPECT_TRUE(WaitForProbesToEnd(10000));
    SearchTest::TearDown();
  }
  static ServerConfig Local(const Listener& listener) {
    ServerConfig config;
    config.host = "127.0.0.1";
    config.port = listener.port();
    return config;
  }
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

}  // namespace
}  // namespace testing
}  // namespace wendrel
