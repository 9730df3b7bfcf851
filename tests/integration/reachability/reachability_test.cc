// Reachability and tree discovery against real slapd servers, with the real
// ICMP service and the connection-services stand-in. Lookups outside
// /etc/hosts and pings of silent addresses run only in isolated_net's
// namespace (WENDREL_TEST_NET=isolated); WENDREL_TEST_PING=unavailable marks
// a run without the ping service.

#include "directory/reachability.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/environment.h"
#include "standins/connection_services.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace {

bool Isolated() { return platform::GetEnvironmentVariable("WENDREL_TEST_NET") == "isolated"; }
bool PingUnavailable() {
  return platform::GetEnvironmentVariable("WENDREL_TEST_PING") == "unavailable";
}

using testing::SecondsSince;

class ReachabilityTest : public testing::SearchTest {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    InitPing();
  }
  void TearDown() override {
    ClosePing();
    SearchTest::TearDown();
  }

  // Names `address` in the namespace's hosts file, so that its reverse
  // lookup succeeds without DNS.
  void NameInHosts(const std::string& address, const std::string& name) {
    std::ofstream hosts(platform::GetEnvironmentVariable("WENDREL_TEST_HOSTS_FILE"),
                        std::ios::app);
    ASSERT_TRUE(hosts) << "no writable hosts file";
    hosts << address << " " << name << "\n";
  }
};

TEST_F(ReachabilityTest, LoopbackAnswers) {
  if (PingUnavailable()) {
    EXPECT_FALSE(PingAvailable());
    GTEST_SKIP() << "ping service disabled in this run";
  }
#ifndef _WIN32
  // Natively the service needs ping sockets for our group or raw sockets.
  if (!Isolated() && !PingAvailable()) GTEST_SKIP() << "no ICMP sockets for this user";
#endif
  // Under Wine ICMP.DLL is always there; in the isolated runs we are root.
  ASSERT_TRUE(PingAvailable());
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Ping("127.0.0.1", 2), 0u);
  EXPECT_EQ(Ping("localhost", 2), 0u);  // forward lookup through the hosts file
  EXPECT_LT(SecondsSince(start), 1.5);
}

TEST_F(ReachabilityTest, ConnectionServicesReadTheTreeNameOfAnAddress) {
  ASSERT_TRUE(dir_.Start({"Stand_In_Tree", "OTHER", std::string(40, 'L')})) << dir_.error();
  const std::string host = dir_.server(0).host;
  // Server 0, another address, is never used; the second is not configured.
  const testing::ServerConfig elsewhere = At("10.9.9.9", 1);
  SetServers({elsewhere, Plain(0), Plain(2)});
  uint32_t handle = 0;
  auto open = [&](const std::string& name, uint32_t flags = 0x8002) {
    return QZCCOpenConnByName(0, name.c_str(), flags, 2, 0, &handle);
  };
  ASSERT_EQ(open(host), 0u);
  EXPECT_NE(handle, 0u);
  char info[34];
  std::memset(info, '#', sizeof(info));
  ASSERT_EQ(QZCCGetConnInfo(handle, 4, 33, info), 0u);
  EXPECT_EQ(std::string(info), "Stand_In_Tree" + std::string(19, '_'));
  EXPECT_EQ(info[33], '#');
  EXPECT_EQ(QZCCGetConnInfo(handle, 4, 32, info), kConnBadParameter);
  EXPECT_EQ(QZCCGetConnInfo(handle, 5, 33, info), kConnBadParameter);
  EXPECT_EQ(QZCCCloseConn(handle), 0u);
  EXPECT_EQ(QZCCGetConnInfo(handle, 4, 33, info), kConnBadHandle);
  EXPECT_EQ(QZCCCloseConn(handle), kConnBadHandle);

  // A tree name longer than the service hands out is cut.
  ASSERT_EQ(open(dir_.server(2).host), 0u);
  ASSERT_EQ(QZCCGetConnInfo(handle, 4, 33, info), 0u);
  EXPECT_EQ(std::string(info), std::string(32, 'L'));
  QZCCCloseConn(handle);

  // Not configured (plain LDAP on 389, where nothing listens here), a
  // configured address whose server is gone, a name, a wrong flag.
  SetServers({elsewhere, Plain(0), Plain(2), Closed()});
  EXPECT_EQ((std::vector<uint32_t>{open(dir_.server(1).host), open(dir_.closed_host()),
                                   open("ACME"), open(host, 0x8001)}),
            (std::vector<uint32_t>{kConnServerUnreachable, kConnServerUnreachable,
                                   kConnUnknownName, kConnBadParameter}));
}

TEST_F(ReachabilityTest, AddressOfAServerGivesItsTreeName) {
  if (!Isolated() && !PingUnavailable()) {
    GTEST_SKIP() << "the reverse lookup of a fixture address needs the isolated network";
  }
  ASSERT_TRUE(dir_.Start({"Wanted_Tree"})) << dir_.error();
  SetServers({Plain(0)});
  if (Isolated()) NameInHosts(dir_.server(0).host, "wanted.reach.test");

  std::string name = dir_.server(0).host;
  char tree[33];
  std::memset(tree, '#', sizeof(tree));
  ASSERT_EQ(GetTree(name, tree, sizeof(tree), 2), 0u);
  EXPECT_STREQ(tree, "Wanted_Tree");
  // A smaller buffer gets a cut name, never more.
  name = dir_.server(0).host;
  ASSERT_EQ(GetTree(name, tree, 6, 2), 0u);
  EXPECT_EQ(std::string(tree, 7), std::string("Wante\0_", 7));

  // An address that answers pings but serves no directory.
  name = dir_.closed_host();
  if (Isolated()) NameInHosts(name, "closed.reach.test");
  std::memset(tree, '#', sizeof(tree));
  EXPECT_EQ(GetTree(name, tree, sizeof(tree), 2), kConnServerUnreachable);
  EXPECT_EQ(tree[0], '#');
}

TEST_F(ReachabilityTest, AddressThatDoesNotAnswerIsGivenUpAfterTheTimeOut) {
  if (!Isolated() || PingUnavailable()) GTEST_SKIP() << "needs the isolated network and ping";
  std::string name = "192.0.2.1";  // named in the hosts file, routed to nowhere
  char tree[33];
  std::memset(tree, '#', sizeof(tree));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(GetTree(name, tree, sizeof(tree), 1), kPingUnreachable);
  double waited = SecondsSince(start);
  EXPECT_GE(waited, 0.9);
  EXPECT_LT(waited, 3.0);
  EXPECT_EQ(tree[0], '#');

  // An address without a name: the reverse lookup fails (no DNS here), so
  // it is unreachable without any echo.
  name = "127.0.77.77";
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(GetTree(name, tree, sizeof(tree), 5), kPingUnreachable);
  EXPECT_LT(SecondsSince(start), 2.0);
  EXPECT_EQ(Ping("no-such-host.reach.test", 1), kPingUnreachable);
}

TEST_F(ReachabilityTest, WithoutPingEveryHostIsReachable) {
  if (!PingUnavailable()) GTEST_SKIP() << "the ping service is available in this run";
  ASSERT_FALSE(PingAvailable());
  EXPECT_EQ(Ping("no-such-host.reach.test", 1), 0u);
  EXPECT_EQ(Ping("192.0.2.1", 1), 0u);
}

}  // namespace
}  // namespace wendrel
