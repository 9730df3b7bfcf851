// The login driver driven in-process as the login host drives it (the host
// double of host_double.h). The search runs against real slapd servers.

#include "core/login_driver.h"

#include <cstring>
#include <string>
#include <vector>

#include "config/registry_paths.h"
#include "core/login_host.h"
#include "core/wendrel_app.h"
#include "directory/unreachable_servers.h"
#include "gtest/gtest.h"
#include "tests/integration/core/host_double.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

class LoginDriverTest : public HostedLoginTest {
 protected:
  void StartServers() {
    ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
    SetServers({Plain(0)});
    SetTrees({"A"});
  }
};

TEST_F(LoginDriverTest, HandshakeInstallsTheCallbackAndKeepsTheHostHandler) {
  EXPECT_EQ(LoadEventHandler(g_host_service_table), &LoginExtCallback);
  EXPECT_EQ(ChainedHandler(), &HostHandler);
  EXPECT_EQ(0, std::memcmp(KeptHostTable(), g_host_service_table, 2 * sizeof(void*)));
}

TEST_F(LoginDriverTest, OneMatchIsWrittenBackMarkedAndNotified) {
  StartServers();
  SetOptions({{"Contextless Login Enabled", 1}});
  HostRecord record("  asmith ", "A");
  EXPECT_EQ(Send(kEventStart, record), 42);
  EXPECT_EQ(StartInfoRecord(), record.data());
  EXPECT_EQ(Send(kEventTabData, record), 42);

  EXPECT_EQ(record.Text(kStartInfoUser), "asmith");
  EXPECT_EQ(record.Text(kStartInfoContext), "eng.A");
  EXPECT_EQ(record.Text(kStartInfoTree), "A");
  EXPECT_EQ(record.Text(kStartInfoField24), "PRESET");  // only treeless login clears it
  EXPECT_EQ(record.calling_module(), kCallingModuleMark);
  EXPECT_EQ(g_notified, std::vector<uint32_t>({kNotifyResolved}));
  EXPECT_TRUE(presenter_.boxes.empty());
  ASSERT_EQ(g_chained.size(), 2u);
  EXPECT_EQ(g_chained[1].event, kEventTabData);
  EXPECT_EQ(g_chained[1].record, record.data());
  // The rest of the buffer is zero-filled.
  for (size_t i = 6; i < record.user_buffer().size(); ++i) ASSERT_EQ(record.user_buffer()[i], 0);
}

TEST_F(LoginDriverTest, TreelessLoginReplacesTheTreeAndClearsTheFieldBeforeIt) {
  StartServers();
  SetOptions({{"Treeless Login Enabled", 1}});
  HostRecord record("asmith", "");
  Send(kEventStart, record);
  Send(kEventTabData, record);
  EXPECT_EQ(record.Text(kStartInfoTree), "A");
  EXPECT_EQ(record.Text(kStartInfoUser), "asmith");
  for (char byte : record.field24()) ASSERT_EQ(byte, 0);
  EXPECT_EQ(g_notified.size(), 1u);
}

TEST_F(LoginDriverTest, NoMatchShowsOneStopBoxAndNotifiesNothing) {
  StartServers();
  SetOptions({{"Contextless Login Enabled", 1}});
  HostRecord record("nobody", "A");
  Send(kEventStart, record);
  EXPECT_EQ(Send(kEventTabData, record), 42);
  ASSERT_EQ(presenter_.boxes.size(), 1u);
  EXPECT_EQ(presenter_.boxes[0].style, platform::kMbIconHand);
  EXPECT_FALSE(presenter_.boxes[0].text.empty());
  EXPECT_TRUE(g_notified.empty());
  EXPECT_EQ(record.Text(kStartInfoContext), "");
  EXPECT_EQ(record.calling_module(), kCallingModuleUnset);
  EXPECT_EQ(g_chained.size(), 2u);
}

TEST_F(LoginDriverTest, LocalLoginAndUnconfiguredTreesSkipTheSearch) {
  StartServers();
  SetOptions({{"Contextless Login Enabled", 1}});
  HostRecord record("asmith", "A");
  Send(kEventStart, record);

  SetDword(kLoginKeyPath, kLocalLoginValueName, 1);
  EXPECT_EQ(Send(kEventTabData, record), 42);
  EXPECT_EQ(record.Text(kStartInfoContext), "");
  EXPECT_TRUE(g_notified.empty());

  // Zero lets the login go on, but a tree that is neither configured nor
  // resolvable stops it quietly.
  SetDword(kLoginKeyPath, kLocalLoginValueName, 0);
  HostRecord elsewhere("asmith", "NOTATREE");
  Send(kEventStart, elsewhere);
  EXPECT_EQ(Send(kEventTabData, elsewhere), 42);
  EXPECT_EQ(elsewhere.Text(kStartInfoContext), "");
  EXPECT_TRUE(g_notified.empty());
  EXPECT_TRUE(presenter_.boxes.empty());
  EXPECT_EQ(g_chained.size(), 4u);
}

// The retry memory lives as long as the loaded extension's session with the
// host: what one session could not reach is not held against the next.
TEST_F(LoginDriverTest, TerminateForgetsEveryUnreachableServer) {
  SetOptions({{"Contextless Login Enabled", 1}});
  const std::string key = UnreachableServerKey("ldap.example", 389, false);
  UnreachableServers::Instance().Remember(key, 60);
  HostRecord record("asmith", "A");
  Send(kEventStart, record);
  EXPECT_TRUE(UnreachableServers::Instance().IsRemembered(key));
  EXPECT_EQ(Send(kEventTerminate, record), 42);
  EXPECT_FALSE(UnreachableServers::Instance().IsRemembered(key));
}

TEST_F(LoginDriverTest, OtherEventsAndEventsBeforeStartOnlyChain) {
  SetOptions({{"Contextless Login Enabled", 1}});
  HostRecord record("asmith", "A");
  // No event 0 yet: the search events have no record to work on.
  EXPECT_EQ(LoginExtCallback(host_, kEventTabData, 1, 2, record.data(), 3, 4), 42);
  EXPECT_EQ(LoginExtCallback(host_, 5, 7, 8, record.data(), 9, 10), 42);
  ASSERT_EQ(g_chained.size(), 2u);
  const ChainedCall& call = g_chained[1];
  EXPECT_EQ(call.host, static_cast<void*>(host_));
  EXPECT_EQ(call.event, 5u);
  EXPECT_EQ(call.a, 7u);
  EXPECT_EQ(call.b, 8u);
  EXPECT_EQ(call.record, record.data());
  EXPECT_EQ(call.c, 9u);
  EXPECT_EQ(call.d, 10u);
  EXPECT_EQ(record.Text(kStartInfoUser), "asmith");
  EXPECT_EQ(record.calling_module(), kCallingModuleUnset);
  EXPECT_TRUE(g_notified.empty());

  // Without a chained handler the result is 0.
  ResetKeptHostTableForTesting();
  EXPECT_EQ(LoginExtCallback(host_, 5, 0, 0, record.data(), 0, 0), 0);
}

TEST_F(LoginDriverTest, SmallBuffersAreCutWithATerminatorAndNeverOverrun) {
  StartServers();
  SetOptions({{"Contextless Login Enabled", 1}});
  HostRecord record("asmith", "A", 4);
  Send(kEventStart, record);
  Send(kEventTabData, record);
  // "asmith" does not fit in 4 bytes: the host holds "asm", which finds
  // nothing, so nothing was written.
  EXPECT_EQ(record.Text(kStartInfoUser), "asm");
  EXPECT_EQ(record.Text(kStartInfoContext), "");
  EXPECT_EQ(presenter_.boxes.size(), 1u);

  // A name that fits, with a context that is cut.
  HostRecord small("zoe", "A", 4);
  Send(kEventStart, small);
  Send(kEventTabData, small);
  EXPECT_EQ(small.Text(kStartInfoUser), "zoe");
  EXPECT_EQ(small.Text(kStartInfoContext), "sal");
  EXPECT_EQ(g_notified.size(), 1u);
}

TEST_F(LoginDriverTest, StartRunsPreloginOnlyForTheZelnetProviderAtStartUI5) {
  StartServers();
  SetOptions({{"Contextless Login Enabled", 1}, {"UseCachedResults", 1}});

  // Any one condition different: event 0 only chains.
  HostRecord other("asmith", "A");
  other.SetProvider("otherprovider");
  other.AddStartUI(5);
  Send(kEventStart, other);
  EXPECT_EQ(other.Text(kStartInfoContext), "");
  EXPECT_TRUE(g_notified.empty());

  // All three hold (provider in any case): prelogin finds no cached entry,
  // goes on with the tab-data checks and the search, and caches the result.
  HostRecord record("asmith", "A");
  record.SetProvider("ZelNetProvider");
  record.AddStartUI(5);
  EXPECT_NE(StartUIRecord(), nullptr);
  Send(kEventStart, record);
  EXPECT_EQ(record.Text(kStartInfoContext), "eng.A");
  EXPECT_EQ(g_notified.size(), 1u);

  // Prelogin again: the cached user is confirmed by the directory, so the
  // record is left as it is and nothing is notified.
  HostRecord again("asmith", "A");
  Send(kEventStart, again);
  EXPECT_EQ(Send(kEventPrelogin, again), 42);
  EXPECT_EQ(again.Text(kStartInfoContext), "");
  EXPECT_EQ(g_notified.size(), 1u);
}

TEST_F(LoginDriverTest, TabDataWithRunEapOrNoUserOnlyChains) {
  StartServers();
  SetOptions({{"Contextless Login Enabled", 1}});
  HostRecord eap("asmith", "A");
  eap.AddTabData(1);
  Send(kEventStart, eap);
  Send(kEventTabData, eap);
  HostRecord empty("", "A");
  Send(kEventStart, empty);
  Send(kEventTabData, empty);
  EXPECT_EQ(eap.Text(kStartInfoContext), "");
  EXPECT_TRUE(g_notified.empty());
  EXPECT_TRUE(presenter_.boxes.empty());
  EXPECT_EQ(g_chained.size(), 4u);
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
