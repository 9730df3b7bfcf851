// The driver's events beyond the plain tab-data login, driven in-process as
// the login host drives them (host_double.h), against real slapd servers:
// the search event's connectivity wait, the terminate event and TLS, a TLS
// client that cannot start, and the results cache refreshed by a hit.

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "config/registry_paths.h"
#include "core/login_driver.h"
#include "core/login_host.h"
#include "core/worker_state.h"
#include "core/workers.h"
#include "gtest/gtest.h"
#include "platform/ldap.h"
#include "platform/registry.h"
#include "tests/integration/core/host_double.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class LoginDriverEventsTest : public HostedLoginTest {
 protected:
  void TearDown() override {
    SetConnectivityPauseForTesting(kConnectivityPauseMs);
    platform::FailSslClientInitForTesting(false);
    HostedLoginTest::TearDown();
  }

  // A TLS server of tree A first, so that the search starts the TLS client,
  // and a plain one of the same tree after it. Whether the TLS server itself
  // can be used depends on the build (under Wine its certificate cannot be
  // verified); either way one of the two answers.
  void StartTlsThenPlain() {
    ASSERT_TRUE(dir_.Start({"A:tls=good", "A"})) << dir_.error();
    ServerConfig tls;
    tls.host = dir_.server(0).host;
    tls.port = dir_.server(0).tls_port;
    tls.use_ssl = true;
    tls.certificate = dir_.CaCertPath();
    SetServers({tls, Plain(1)});
    SetTrees({"A"});
    SetOptions({{"Contextless Login Enabled", 1}});
    GetWorkerState().tls_initialized.store(0);
  }
};

// Event 102 waits, pass after pass, until a server takes a bind, and only
// then searches; event 1296 does not wait at all.
TEST_F(LoginDriverEventsTest, SearchEventWaitsForAServerThenSearches) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  SetServers({Plain(0)});
  SetTrees({"A"});
  SetOptions({{"Contextless Login Enabled", 1}});
  ASSERT_TRUE(dir_.Stop(0)) << dir_.error();

  HostRecord now("asmith", "A");
  Send(kEventStart, now);
  Send(kEventTabData, now);
  ASSERT_EQ(presenter_.boxes.size(), 1u);
  EXPECT_EQ(presenter_.boxes[0].text, Composed("No LDAP server specified."));
  presenter_.boxes.clear();

  bool restarted = false;
  std::thread back([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    restarted = dir_.Restart(0);
  });
  HostRecord record("asmith", "A");
  Send(kEventStart, record);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Send(kEventSearch, record), 42);
  double waited = SecondsSince(start);
  back.join();
  ASSERT_TRUE(restarted) << dir_.error();
  // Waited for the restart, and ended on it well before 35 passes of 1 s
  // would have run out (after which the search would find the user too).
  EXPECT_GE(waited, 2.5);
  EXPECT_LT(waited, 25.0);
  EXPECT_EQ(record.Text(kStartInfoContext), "eng.A");
  EXPECT_EQ(g_notified, std::vector<uint32_t>({kNotifyResolved}));
  EXPECT_TRUE(presenter_.boxes.empty());
}

// With no server answering, the wait gives up after its 35 passes (each
// pause shortened here) and the search runs anyway, reporting its failure.
TEST_F(LoginDriverEventsTest, SearchEventGivesUpAfterItsPassesAndSearchesAnyway) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  ServerConfig closed;
  closed.host = dir_.closed_host();
  closed.port = dir_.closed_port();
  SetServers({closed});
  SetTrees({"A"});
  SetOptions({{"Contextless Login Enabled", 1}});
  SetConnectivityPauseForTesting(60);

  HostRecord record("asmith", "A");
  Send(kEventStart, record);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Send(kEventSearch, record), 42);
  double waited = SecondsSince(start);
  EXPECT_GE(waited, kConnectivityPasses * 0.06);
  EXPECT_LT(waited, 20.0);
  ASSERT_EQ(presenter_.boxes.size(), 1u);
  EXPECT_EQ(presenter_.boxes[0].text, Composed("No LDAP server specified."));
  EXPECT_EQ(presenter_.boxes[0].style, platform::kMbIconHand);
  EXPECT_TRUE(g_notified.empty());
}

// QZLG_TERMINATE shuts the TLS client down; a login after it starts TLS
// again and is served as before.
TEST_F(LoginDriverEventsTest, TerminateEndsTlsAndLaterEventsAreStillServed) {
  ASSERT_NO_FATAL_FAILURE(StartTlsThenPlain());

  HostRecord first("asmith", "A");
  Send(kEventStart, first);
  Send(kEventTabData, first);
  EXPECT_EQ(first.Text(kStartInfoContext), "eng.A");
  EXPECT_EQ(GetWorkerState().tls_initialized.load(), 1);

  EXPECT_EQ(Send(kEventTerminate, first), 42);
  EXPECT_EQ(GetWorkerState().tls_initialized.load(), 0);

  HostRecord second("asmith", "A");
  EXPECT_EQ(Send(kEventStart, second), 42);
  EXPECT_EQ(Send(kEventTabData, second), 42);
  EXPECT_EQ(second.Text(kStartInfoContext), "eng.A");
  EXPECT_EQ(GetWorkerState().tls_initialized.load(), 1);
  EXPECT_EQ(g_notified.size(), 2u);
  EXPECT_TRUE(presenter_.boxes.empty()) << presenter_.boxes[0].text;
  EXPECT_EQ(g_chained.size(), 5u);
  Send(kEventTerminate, second);
}

// A TLS client that cannot start: message 27 in the driver's stop box,
// nothing written; the next login tries the start again.
TEST_F(LoginDriverEventsTest, TlsClientThatCannotStartShowsMessage27) {
  ASSERT_NO_FATAL_FAILURE(StartTlsThenPlain());
  platform::FailSslClientInitForTesting(true);

  HostRecord record("asmith", "A");
  Send(kEventStart, record);
  EXPECT_EQ(Send(kEventTabData, record), 42);
  ASSERT_EQ(presenter_.boxes.size(), 1u);
  EXPECT_EQ(presenter_.boxes[0].text, Composed("LDAP client could not initialize."));
  EXPECT_EQ(presenter_.boxes[0].style, platform::kMbIconHand);
  EXPECT_EQ(record.Text(kStartInfoContext), "");
  EXPECT_EQ(record.calling_module(), kCallingModuleUnset);
  EXPECT_TRUE(g_notified.empty());
  EXPECT_EQ(GetWorkerState().tls_initialized.load(), 0);

  platform::FailSslClientInitForTesting(false);
  Send(kEventTabData, record);
  EXPECT_EQ(record.Text(kStartInfoContext), "eng.A");
  Send(kEventTerminate, record);
}

// A login answered from the cache stores the entry again: every value is
// rewritten at its full 260 bytes, though the entry held shorter ones.
TEST_F(LoginDriverEventsTest, CacheHitStoresItsEntryAgain) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  SetServers({Plain(0)});
  SetTrees({"A"});
  SetOptions({{"Contextless Login Enabled", 1}, {"UseCachedResults", 1}});
  const std::string entry = std::string(kCachedResultsKeyPath) + "\\A\\ASMITH";
  const std::vector<std::pair<std::string, std::string>> values = {
      {"UserTree", "A"},          {"UserServer", dir_.server(0).host},
      {"User", "asmith"},         {"UserContext", "eng.A"},
      {"UserFDN", "cn=asmith"},   {"UserContextFDN", "ou=eng.o=A"}};
  for (const auto& value : values) SetString(entry, value.first, value.second);
  // The directory is not asked: the answer comes from the cache alone.
  ASSERT_TRUE(dir_.Stop(0)) << dir_.error();

  HostRecord record("asmith", "A");
  Send(kEventStart, record);
  Send(kEventTabData, record);
  EXPECT_EQ(record.Text(kStartInfoContext), "eng.A");
  EXPECT_EQ(g_notified.size(), 1u);

  platform::RegKey key;
  ASSERT_EQ(key.Open(platform::RegKey::LocalMachine(), entry, platform::kKeyRead),
            platform::kRegSuccess);
  for (const auto& value : values) {
    uint32_t size = 0;
    ASSERT_EQ(key.QueryValue(value.first, nullptr, nullptr, &size), platform::kRegSuccess);
    EXPECT_EQ(size, 260u) << value.first;
    std::vector<char> data(size + 1, 0);
    ASSERT_EQ(key.QueryValue(value.first, nullptr, data.data(), &size), platform::kRegSuccess);
    EXPECT_EQ(std::string(data.data()), value.second) << value.first;
  }
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
