// The user search against real slapd servers, on both builds: which servers
// are tried, skipped and listed, the continue question, context scopes, and
// the exact texts of every failure.

#include "search/ldap_search_user.h"

#include <chrono>
#include <string>
#include <vector>

#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "results/user_data.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

constexpr char kMissingContextText[] =
    "Invalid scope context specified. Searching will continue.";
constexpr char kContinueQuestion[] =
    "User not found in first available tree. Continue searching other trees?";

// Outcome of one search: "" when it returned, else the thrown text or
// "<cancelled>".
struct Outcome {
  std::string error;
  double seconds = 0;
};

Outcome Search(UserData& request) {
  Outcome outcome;
  const auto start = std::chrono::steady_clock::now();
  try {
    LDAPSearchUser search;
    search.SearchForAUser(request);
  } catch (const std::string& text) {
    outcome.error = text;
  } catch (const LDAPSearchUser::SearchCancelled&) {
    outcome.error = "<cancelled>";
  }
  outcome.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return outcome;
}

std::vector<std::string> Contexts(UserData& request) {
  std::vector<std::string> out;
  for (UserObj* user = request.GetFirstUser(); user != nullptr; user = request.GetNextUser()) {
    out.push_back(user->GetUser() + "@" + user->GetUserContext());
  }
  return out;
}

using SearchUserTest = SearchTest;

TEST_F(SearchUserTest, DeadServersCostTheirConnectionTimeoutAndAreSkippedSilently) {
  ASSERT_TRUE(dir_.Start({"A", "A"})) << dir_.error();
  const ServerConfig closed = Closed();
  const ServerConfig silent = Silent();
  ASSERT_TRUE(dir_.Freeze(0));
  SetOptions({});
  SetServers({closed, silent, Plain(0), Plain(1)});

  UserData request("jdoe", "A");
  Outcome outcome = Search(request);
  EXPECT_EQ("", outcome.error);
  EXPECT_EQ(std::vector<std::string>({"jdoe@sales.A", "jdoe@eng.A"}), Contexts(request));
  EXPECT_EQ(dir_.server(1).host, request.GetServerName());
  EXPECT_EQ("A", request.GetTreeName());
  EXPECT_TRUE(presenter_.boxes.empty());
  // Two servers of one second each, and a refused connection.
  EXPECT_LT(outcome.seconds, 12.0);

  // With the answering server gone too, nothing was searched: 26, not 28.
  ASSERT_TRUE(dir_.Kill(1));
  UserData again("jdoe", "A");
  outcome = Search(again);
  EXPECT_EQ(Composed("No LDAP server specified."), outcome.error);
  EXPECT_LT(outcome.seconds, 15.0);
  EXPECT_TRUE(presenter_.boxes.empty());
}

TEST_F(SearchUserTest, TreeModeSearchesOnlyTheWantedTreeAndStopsAtItsFirstServer) {
  ASSERT_TRUE(dir_.Start({"B", "A", "A"})) << dir_.error();
  SetOptions({});
  SetServers({Plain(0), Plain(1), Plain(2)});

  UserData found("asmith", "a");  // tree names compare without case
  EXPECT_EQ("", Search(found).error);
  EXPECT_EQ(std::vector<std::string>({"asmith@eng.A"}), Contexts(found));
  EXPECT_EQ(dir_.server(1).host, found.GetServerName());
  EXPECT_EQ("a", found.GetTreeName());

  // No such user: only the first server of tree A is listed, B never is.
  UserData missing("nobody", "A");
  EXPECT_EQ(NotFound({dir_.server(1).host}), Search(missing).error);

  // A tree no configured server serves.
  UserData other("jdoe", "ELSEWHERE");
  EXPECT_EQ(Composed("No LDAP server specified."), Search(other).error);
  EXPECT_TRUE(presenter_.boxes.empty());
}

class TreelessTest : public SearchUserTest {
 protected:
  void StartThreeTrees() {
    ASSERT_TRUE(dir_.Start({"A", "B", "C"})) << dir_.error();
    SetServers({Plain(0), Plain(1), Plain(2)});
  }
  std::vector<std::string> AllHosts() const {
    return {dir_.server(0).host, dir_.server(1).host, dir_.server(2).host};
  }
};

TEST_F(TreelessTest, QuestionAnsweredYesIsAskedOnceAndAllTreesAreSearched) {
  StartThreeTrees();
  SetOptions({{"Treeless Login Enabled", 1}, {"User Search Failure", 1}});
  presenter_.question_answer = platform::kIdYes;

  UserData request("nobody", "");
  EXPECT_EQ(NotFound(AllHosts()), Search(request).error);
  ASSERT_EQ(1u, presenter_.boxes.size());
  EXPECT_EQ(Composed(kContinueQuestion), presenter_.boxes[0].text);
  EXPECT_EQ(0x14u, presenter_.boxes[0].style);
  EXPECT_EQ("wendrel", presenter_.boxes[0].caption);
  // The request keeps the last searched server's tree and name.
  EXPECT_EQ("C", request.GetTreeName());
  EXPECT_EQ(dir_.server(2).host, request.GetServerName());
}

TEST_F(TreelessTest, QuestionAnsweredNoCancelsWithoutTouchingOtherServers) {
  StartThreeTrees();
  SetOptions({{"Treeless Login Enabled", 1}});  // "User Search Failure" defaults to 1
  presenter_.question_answer = platform::kIdNo;
  // A later server must not be contacted: a frozen one would cost its time-out.
  ASSERT_TRUE(dir_.Freeze(1));

  UserData request("nobody", "");
  Outcome outcome = Search(request);
  EXPECT_EQ("<cancelled>", outcome.error);
  EXPECT_EQ(1u, presenter_.boxes.size());
  EXPECT_EQ("A", request.GetTreeName());
  EXPECT_EQ(dir_.server(0).host, request.GetServerName());
  EXPECT_LT(outcome.seconds, 0.9);
}

TEST_F(TreelessTest, UserSearchFailureZeroStopsAndTwoGoesOnWithoutAsking) {
  StartThreeTrees();
  SetOptions({{"Treeless Login Enabled", 1}, {"User Search Failure", 0}});
  UserData stop("nobody", "");
  EXPECT_EQ(NotFound({dir_.server(0).host}), Search(stop).error);

  SetOptions({{"Treeless Login Enabled", 1}, {"User Search Failure", 2}});
  UserData all("nobody", "");
  EXPECT_EQ(NotFound(AllHosts()), Search(all).error);
  EXPECT_TRUE(presenter_.boxes.empty());
}

TEST_F(TreelessTest, UserFoundOnALaterServerTakesThatServersTree) {
  const std::string empty = WriteLdif("empty", "dn: o=A\nobjectClass: organization\no: A\n");
  ASSERT_TRUE(dir_.Start({"A:ldif=" + empty, "B"})) << dir_.error();
  SetServers({Plain(0), Plain(1)});
  SetOptions({{"Treeless Login Enabled", 1}, {"User Search Failure", 2}});

  UserData request("asmith", "typed");
  EXPECT_EQ("", Search(request).error);
  EXPECT_EQ(std::vector<std::string>({"asmith@eng.B"}), Contexts(request));
  EXPECT_EQ("B", request.GetTreeName());
  EXPECT_EQ(dir_.server(1).host, request.GetServerName());
}

TEST_F(SearchUserTest, TreeNamesLongerThanTheTreeBufferAreUsedWhole) {
  const std::string tree = "ALONGTREENAMETHATDOESNOTFITTHIRTYTWOBYTES";
  const std::string cut = tree.substr(0, 32);
  ASSERT_TRUE(dir_.Start({tree, cut})) << dir_.error();
  SetServers({Plain(0), Plain(1)});
  SetOptions({{"Treeless Login Enabled", 1}});
  UserData treeless("asmith", "");
  EXPECT_EQ("", Search(treeless).error);
  EXPECT_EQ(tree, treeless.GetTreeName());

  // In tree mode a cut copy of the wanted name must not pass for another
  // tree that happens to be its first 32 characters, nor the other way.
  SetOptions({{"Treeless Login Enabled", 0}});
  SetServers({Plain(1), Plain(0)});
  UserData whole("asmith", tree);
  EXPECT_EQ("", Search(whole).error);
  EXPECT_EQ(dir_.server(0).host, whole.GetServerName());
  SetServers({Plain(0), Plain(1)});
  UserData shorter("asmith", cut);
  EXPECT_EQ("", Search(shorter).error);
  EXPECT_EQ(dir_.server(1).host, shorter.GetServerName());
}

class ContextScopeTest : public SearchUserTest {
 protected:
  void StartWithContexts(const std::vector<std::string>& contexts, uint32_t all_scopes,
                         bool subtree = true) {
    ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
    SetServers({Plain(0)});
    SetTrees({"Z", "A"});
    SetContexts(1, contexts, subtree);
    SetOptions({{"Context Search Scope Enabled", 1}, {"Search All Scopes", all_scopes}});
  }
};

TEST_F(ContextScopeTest, SearchAllScopesOffStopsAtTheFirstContextWithUsers) {
  StartWithContexts({"ou=sales,o=A", "ou=eng,o=A"}, 0);
  UserData first("jdoe", "A");
  EXPECT_EQ("", Search(first).error);
  EXPECT_EQ(std::vector<std::string>({"jdoe@sales.A"}), Contexts(first));

  UserData second("asmith", "A");  // only under the second context
  EXPECT_EQ("", Search(second).error);
  EXPECT_EQ(std::vector<std::string>({"asmith@eng.A"}), Contexts(second));
}

TEST_F(ContextScopeTest, SearchAllScopesOnKeepsDuplicatesOfOverlappingContexts) {
  StartWithContexts({"o=A", "ou=sales,o=A"}, 1);
  UserData request("jdoe", "A");
  EXPECT_EQ("", Search(request).error);
  EXPECT_EQ(std::vector<std::string>({"jdoe@sales.A", "jdoe@eng.A", "jdoe@sales.A"}),
            Contexts(request));
}

TEST_F(ContextScopeTest, OneLevelScopeDoesNotReachDeeperEntries) {
  StartWithContexts({"o=A"}, 1, /*subtree=*/false);
  UserData request("jdoe", "A");
  EXPECT_EQ(NotFound({dir_.server(0).host}), Search(request).error);
}

TEST_F(ContextScopeTest, MissingContextIsShownOnceAndTheOthersAreStillSearched) {
  StartWithContexts({"ou=sales,o=A", "ou=nothere,o=A", "ou=eng,o=A"}, 1);
  UserData request("jdoe", "A");
  EXPECT_EQ("", Search(request).error);
  EXPECT_EQ(std::vector<std::string>({"jdoe@sales.A", "jdoe@eng.A"}), Contexts(request));
  ASSERT_EQ(1u, presenter_.boxes.size());
  EXPECT_EQ(kMissingContextText, presenter_.boxes[0].text);
  EXPECT_EQ(0x10u, presenter_.boxes[0].style);
}

TEST_F(ContextScopeTest, UnconfiguredTreeSearchesTheWholeDirectory) {
  StartWithContexts({"ou=sales,o=A"}, 1);
  DeleteTree(kTreesKeyPath);
  SetTrees({"Z"});  // A is no longer a configured tree
  UserData request("jdoe", "A");
  EXPECT_EQ("", Search(request).error);
  EXPECT_EQ(2, request.GetUserCount());
}

TEST_F(ContextScopeTest, SearchTimeLimitGivesPrefixedMessage19AndKeepsEarlierRecords) {
  StartWithContexts({"ou=sales,o=A", "ou=nothere,o=A", "ou=eng,o=A"}, 1);
  ServerConfig server = Plain(0);
  server.search_timeout = 1;
  SetServers({server});
  // The missing context's box comes between two searches of the same
  // connection: freezing the server there makes the next search wait out
  // its time limit.
  presenter_.on_show = [this](const ShownBox&) { ASSERT_TRUE(dir_.Freeze(0)); };

  UserData request("jdoe", "A");
  Outcome outcome = Search(request);
  dir_.Thaw(0);
  EXPECT_EQ(Composed("Timeout exceeded while searching for user."), outcome.error);
  EXPECT_EQ(std::vector<std::string>({"jdoe@sales.A"}), Contexts(request));
  EXPECT_EQ(dir_.server(0).host, request.GetServerName());
  EXPECT_LT(outcome.seconds, 15.0);
}

TEST_F(SearchUserTest, WrongProxyPasswordStillSearches) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  ServerConfig server = Plain(0);
  server.proxy_username = dir_.server(0).admin_dn;
  server.proxy_password = "not the password";
  SetOptions({});
  SetServers({server});
  UserData request("jdoe", "A");
  EXPECT_EQ("", Search(request).error);
  EXPECT_EQ(2, request.GetUserCount());
}

TEST_F(SearchUserTest, TlsWithTheRightCertificateAuthority) {
  ASSERT_TRUE(dir_.Start({"A:tls=good"})) << dir_.error();
  const ServerConfig server = Tls(0);
  SetOptions({});
  SetServers({server});
  UserData request("jdoe", "A");
#ifdef _WIN32
  // Wine's wldap32 refuses the server-certificate check, so the trusted file
  // cannot be applied: the server is skipped as an unreachable one is, never
  // searched unverified.
  EXPECT_EQ(Composed("No LDAP server specified."), Search(request).error);
  EXPECT_EQ(0, request.GetUserCount());
#else
  EXPECT_EQ("", Search(request).error);
  EXPECT_EQ(2, request.GetUserCount());
#endif
}

TEST_F(SearchUserTest, TlsWithAnUntrustedServerCertificateSkipsTheServer) {
  // Under Wine too: the check cannot be installed there, and a server that
  // cannot be checked is not used.
  ASSERT_TRUE(dir_.Start({"A:tls=otherca"})) << dir_.error();
  const ServerConfig server = Tls(0);
  SetOptions({});
  SetServers({server});
  UserData request("jdoe", "A");
  EXPECT_EQ(Composed("No LDAP server specified."), Search(request).error);
}

TEST_F(SearchUserTest, MalformedFilterGivesTheLibrarysErrorUnprefixed) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  SetOptions({});
  SetServers({Plain(0)});
  UserData request("jd(oe", "A");
  EXPECT_EQ("LDAP Error: 0x57", Search(request).error);
  EXPECT_TRUE(presenter_.boxes.empty());
}

TEST_F(SearchUserTest, WildcardNameStaysExtendedAfterAFailure) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  SetOptions({{"Allow Wildcards", 1}});
  SetServers({Plain(0)});
  UserData missing("nob", "A");
  EXPECT_EQ(NotFound({dir_.server(0).host}), Search(missing).error);
  EXPECT_EQ("nob*", missing.GetLoginName());

  UserData prefix("jo", "A");  // jo* matches johnny's cn, but johnny is only an alias
  EXPECT_EQ(NotFound({dir_.server(0).host}), Search(prefix).error);
  SetOptions({{"Allow Wildcards", 1}, {"Search Alias", 1}});
  UserData alias("jo", "A");
  EXPECT_EQ("", Search(alias).error);
  EXPECT_EQ(std::vector<std::string>({"johnny@sales.A"}), Contexts(alias));
}

TEST_F(SearchUserTest, ConfigurationFailuresBeforeAnyServer) {
  UserData request("jdoe", "A");
  EXPECT_EQ(Composed("Bad options configuration"), Search(request).error);
  SetOptions({});
  EXPECT_EQ(Composed("Bad server configuration"), Search(request).error);
  CreateKey(kServersKeyPath);  // a list without entries
  EXPECT_EQ(Composed("No LDAP server specified."), Search(request).error);
  SetOptions({{"Search Username", 0}});
  EXPECT_EQ(Composed("No search options specified"), Search(request).error);
  UserData wildcard("j*", "A");
  EXPECT_EQ(Composed("Wildcard not allowed"), Search(wildcard).error);
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
