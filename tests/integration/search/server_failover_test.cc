// "Probe Servers In Parallel" and "Unreachable Server Retry Seconds" against
// real servers, on both builds: silent, closed and stopped servers at
// several places in the list, each option alone and together, in tree and
// treeless mode. Whatever the options, the outcome (found users, server,
// tree, message and its list of searched servers, boxes) is the one the
// plain sequential walk gives.

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "config/registry_paths.h"
#include "directory/server_probe.h"
#include "directory/unreachable_servers.h"
#include "gtest/gtest.h"
#include "results/user_data.h"
#include "search/ldap_search_user.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

struct Result {
  std::string error;  // "" when users were found
  std::string server;
  std::string tree;
  std::vector<std::string> users;
  size_t boxes = 0;
  double seconds = 0;

  bool operator==(const Result& o) const {
    return error == o.error && server == o.server && tree == o.tree && users == o.users &&
           boxes == o.boxes;
  }
};

std::ostream& operator<<(std::ostream& out, const Result& r) {
  out << "{error \"" << r.error << "\", server " << r.server << ", tree " << r.tree << ", users";
  for (const std::string& u : r.users) out << " " << u;
  return out << ", boxes " << r.boxes << "}";
}

struct Mode {
  const char* name;
  uint32_t probe;
  uint32_t retry_seconds;
};
const Mode kModes[] = {{"probe", 1, 0}, {"retry", 0, 60}, {"probe and retry", 1, 60}};

class FailoverTest : public SearchTest {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    UnreachableServers::Instance().Clear();
  }
  void TearDown() override {
    // Every probe ends: cancelled ones at once, others by their time-out.
    EXPECT_TRUE(WaitForProbesToEnd(10000));
    UnreachableServers::Instance().Clear();
    SearchTest::TearDown();
  }

  ServerConfig Silent() const {
    ServerConfig s;
    s.host = dir_.silent_host();
    s.port = dir_.silent_port();
    return s;
  }
  ServerConfig Closed() const {
    ServerConfig s;
    s.host = dir_.closed_host();
    s.port = dir_.closed_port();
    return s;
  }
  // Replaces the whole server list (SetServers leaves longer lists' tails).
  void ReplaceServers(const std::vector<ServerConfig>& servers) {
    DeleteTree(kServersKeyPath);
    SetServers(servers);
  }

  Result Run(const std::string& name, const std::string& tree) {
    const size_t boxes_before = presenter_.boxes.size();
    UserData request(name, tree);
    Result result;
    const auto start = std::chrono::steady_clock::now();
    try {
      LDAPSearchUser search;
      search.SearchForAUser(request);
    } catch (const std::string& text) {
      result.error = text;
    } catch (const LDAPSearchUser::SearchCancelled&) {
      result.error = "<cancelled>";
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.server = request.GetServerName();
    result.tree = request.GetTreeName();
    for (UserObj* u = request.GetFirstUser(); u != nullptr; u = request.GetNextUser()) {
      result.users.push_back(u->GetUser() + "@" + u->GetUserContext());
    }
    result.boxes = presenter_.boxes.size() - boxes_before;
    return result;
  }

  // The sequential walk's outcome, then each mode's, twice in a row (the
  // second search of a mode with retry memory skips what the first could
  // not reach): all the same.
  // expect_skips: some server answers, so a second search with retry memory
  // skips every dead one (with all of them dead, all are tried again).
  void ExpectSameOutcomeInEveryMode(const std::vector<std::pair<std::string, uint32_t>>& base,
                                    const std::string& name, const std::string& tree,
                                    bool expect_skips = true) {
    SetOptions(base);
    SetDword(kOptionsKeyPath, "Probe Servers In Parallel", 0);
    SetDword(kOptionsKeyPath, "Unreachable Server Retry Seconds", 0);
    const Result sequential = Run(name, tree);
    for (const Mode& mode : kModes) {
      SCOPED_TRACE(mode.name);
      UnreachableServers::Instance().Clear();
      SetDword(kOptionsKeyPath, "Probe Servers In Parallel", mode.probe);
      SetDword(kOptionsKeyPath, "Unreachable Server Retry Seconds", mode.retry_seconds);
      const Result first = Run(name, tree);
      EXPECT_EQ(sequential, first);
      const Result second = Run(name, tree);
      EXPECT_EQ(sequential, second);
      if (mode.retry_seconds != 0 && expect_skips) {
        // Every dead server costs a time-out of 1 s unless it is skipped.
        EXPECT_LT(second.seconds, 0.9) << "a remembered server was tried again";
      }
    }
  }
};

TEST_F(FailoverTest, TreeModeDecisionsAreTheSequentialWalks) {
  ASSERT_TRUE(dir_.Start({"A", "A", "B"})) << dir_.error();
  ASSERT_TRUE(dir_.Freeze(0));
  // Dead servers ahead of, between and after the answering ones.
  ReplaceServers({Silent(), Plain(2), Closed(), Plain(0), Plain(1), Silent()});
  ExpectSameOutcomeInEveryMode({}, "jdoe", "A");
  // No such user: message 28 names only the first server of tree A searched.
  ExpectSameOutcomeInEveryMode({}, "nobody", "A");
  // Every server of the tree dead: message 26.
  ReplaceServers({Closed(), Plain(0), Silent()});
  ExpectSameOutcomeInEveryMode({}, "jdoe", "A", false);
}

TEST_F(FailoverTest, TreelessDecisionsAreTheSequentialWalks) {
  ASSERT_TRUE(dir_.Start({"A", "B", "C"})) << dir_.error();
  ASSERT_TRUE(dir_.Stop(1));  // a stopped server: its port is closed
  ReplaceServers({Plain(1), Silent(), Plain(0), Closed(), Plain(2)});
  // Searched servers listed one per line, dead ones left out.
  ExpectSameOutcomeInEveryMode({{"Treeless Login Enabled", 1}, {"User Search Failure", 2}},
                               "nobody", "");
  // The continue question still comes once, after the first searched server.
  presenter_.question_answer = platform::kIdYes;
  ExpectSameOutcomeInEveryMode({{"Treeless Login Enabled", 1}, {"User Search Failure", 1}},
                               "nobody", "");
  // Found on the first answering server.
  ExpectSameOutcomeInEveryMode({{"Treeless Login Enabled", 1}}, "asmith", "");
}

// A probe must fail a server whose process is hung as surely as one that
// refuses: three of them ahead of the directory cost one time-out, not three.
TEST_F(FailoverTest, ProbeWaitsOneTimeOutForAllSilentServers) {
  ASSERT_TRUE(dir_.Start({"A", "A"})) << dir_.error();
  ASSERT_TRUE(dir_.Freeze(0));
  ServerConfig silent = Silent();
  silent.connection_timeout = 2;
  ServerConfig frozen = Plain(0);
  frozen.connection_timeout = 2;
  ReplaceServers({silent, frozen, silent, Plain(1)});
  SetOptions({{"Probe Servers In Parallel", 1}});
  const Result result = Run("jdoe", "A");
  EXPECT_EQ("", result.error);
  EXPECT_EQ(dir_.server(1).host, result.server);
  // Sequentially this takes 6 s.
  EXPECT_LT(result.seconds, 4.5);
}

TEST_F(FailoverTest, RememberedServerComesBackOnceItAnswers) {
  ASSERT_TRUE(dir_.Start({"A", "A"})) << dir_.error();
  const ServerConfig first = Plain(0);
  const ServerConfig second = Plain(1);
  ReplaceServers({first, second});
  const std::string first_key = UnreachableServerKey(first.host, first.port, false);
  const std::string second_key = UnreachableServerKey(second.host, second.port, false);
  for (uint32_t probe : {0u, 1u}) {
    SCOPED_TRACE(probe ? "with the probe" : "without the probe");
    UnreachableServers::Instance().Clear();
    SetOptions({{"Probe Servers In Parallel", probe}, {"Unreachable Server Retry Seconds", 60}});

    ASSERT_TRUE(dir_.Stop(0));
    EXPECT_EQ(second.host, Run("jdoe", "A").server);
    EXPECT_TRUE(UnreachableServers::Instance().IsRemembered(first_key));
    // Back within the window: still skipped, nobody has reached it yet.
    ASSERT_TRUE(dir_.Restart(0));
    EXPECT_EQ(second.host, Run("jdoe", "A").server);

    // The other one goes too: both are remembered...
    ASSERT_TRUE(dir_.Stop(1));
    EXPECT_EQ(Composed("No LDAP server specified."), Run("jdoe", "A").error);
    EXPECT_TRUE(UnreachableServers::Instance().IsRemembered(second_key));
    // ...so both are tried: the first answers and is forgotten.
    EXPECT_EQ(first.host, Run("jdoe", "A").server);
    EXPECT_FALSE(UnreachableServers::Instance().IsRemembered(first_key));
    EXPECT_TRUE(UnreachableServers::Instance().IsRemembered(second_key));
    ASSERT_TRUE(dir_.Restart(1));
  }
}

TEST_F(FailoverTest, RememberedServerIsTriedAgainWhenItsSecondsAreOver) {
  ASSERT_TRUE(dir_.Start({"A", "A"})) << dir_.error();
  ReplaceServers({Plain(0), Plain(1)});
  SetOptions({{"Unreachable Server Retry Seconds", 1}});
  ASSERT_TRUE(dir_.Stop(0));
  EXPECT_EQ(dir_.server(1).host, Run("jdoe", "A").server);
  const auto remembered_at = std::chrono::steady_clock::now();
  EXPECT_TRUE(UnreachableServers::Instance().IsRemembered(
      UnreachableServerKey(dir_.server(0).host, dir_.server(0).port, false)));
  // (Skipped while the second lasts: RememberedServerComesBackOnceItAnswers.)
  ASSERT_TRUE(dir_.Restart(0));
  std::this_thread::sleep_until(remembered_at + std::chrono::milliseconds(1100));
  EXPECT_EQ(dir_.server(0).host, Run("jdoe", "A").server);
}

// A server that answered anything is not remembered: here one whose
// certificate is refused, and one that rejects the proxy password.
TEST_F(FailoverTest, ServersThatAnswerAreNeverRemembered) {
  ASSERT_TRUE(dir_.Start({"A:tls=otherca", "A"})) << dir_.error();
  ServerConfig untrusted = Plain(0);
  untrusted.use_ssl = true;
  untrusted.port = dir_.server(0).tls_port;
  untrusted.certificate = dir_.CaCertPath();
  ServerConfig refusing = Plain(1);
  refusing.proxy_username = dir_.server(1).admin_dn;
  refusing.proxy_password = "not the password";
  ReplaceServers({untrusted, Silent(), refusing});
  for (uint32_t probe : {0u, 1u}) {
    SCOPED_TRACE(probe ? "with the probe" : "without the probe");
    UnreachableServers::Instance().Clear();
    SetOptions({{"Probe Servers In Parallel", probe}, {"Unreachable Server Retry Seconds", 60}});
    EXPECT_EQ("", Run("jdoe", "A").error);
    EXPECT_FALSE(UnreachableServers::Instance().IsRemembered(
        UnreachableServerKey(untrusted.host, untrusted.port, true)));
    // (Under Wine the TLS server is refused before it is contacted: the
    // trusted file cannot be applied there. Not unreachable either.)
    EXPECT_TRUE(UnreachableServers::Instance().IsRemembered(
        UnreachableServerKey(Silent().host, Silent().port, false)));
    EXPECT_FALSE(UnreachableServers::Instance().IsRemembered(
        UnreachableServerKey(refusing.host, refusing.port, false)));
  }
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
