// The user search against real servers: the tree match, the continue
// question, context scopes, wildcards and aliases, configuration failures.

#include <string>
#include <vector>

#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "results/user_data.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

using Options = std::vector<std::pair<std::string, uint32_t>>;
const std::string kNoServer = Composed("No LDAP server specified.");
const ShownBox kMissingContext = {"wendrel",
                                  "Invalid scope context specified. Searching will continue.",
                                  0x10};

using SearchUserTest = SearchTest;

TEST_F(SearchUserTest, TreeModeSearchesOnlyTheWholeWantedTreeAndStopsAtItsFirstServer) {
  const std::string tree = "ALONGTREENAMETHATDOESNOTFITTHIRTYTWOBYTES";
  const std::string cut = tree.substr(0, 32);
  ASSERT_TRUE(dir_.Start({"B", "A", "A", tree, cut})) << dir_.error();
  SetOptions({});
  SetServers({Plain(0), Plain(1), Plain(2)});
  // Tree names compare without case.
  EXPECT_EQ((SearchOutcome{"", dir_.server(1).host, "a", {"asmith@eng.A"}}),
            RunUserSearch("asmith", "a"));
  // No such user: only the first server of tree A is listed, B never is.
  EXPECT_EQ(NotFound({dir_.server(1).host}), RunUserSearch("nobody", "A").error);
  EXPECT_EQ(kNoServer, RunUserSearch("jdoe", "ELSEWHERE").error);
  // A name longer than the tree buffer is used whole: a cut copy must not
  // pass for the tree that happens to be its first 32 characters, nor the
  // other way.
  ReplaceServers({Plain(4), Plain(3)});
  EXPECT_EQ(dir_.server(3).host, RunUserSearch("asmith", tree).server);
  ReplaceServers({Plain(3), Plain(4)});
  EXPECT_EQ(dir_.server(4).host, RunUserSearch("asmith", cut).server);
  SetOptions({{"Treeless Login Enabled", 1}});
  EXPECT_EQ(tree, RunUserSearch("asmith", "").tree);
  EXPECT_TRUE(presenter_.boxes.empty());
}

TEST_F(SearchUserTest, TreelessSearchFailureSettings) {
  ASSERT_TRUE(dir_.Start({"A", "B"})) << dir_.error();
  SetServers({Plain(0), Plain(1)});
  const std::string a = dir_.server(0).host, b = dir_.server(1).host;
  const ShownBox question = {
      "wendrel",
      Composed("User not found in first available tree. Continue searching other trees?"),
      0x14};
  // 0 stops after the first searched server.
  SetOptions({{"Treeless Login Enabled", 1}, {"User Search Failure", 0}});
  EXPECT_EQ((SearchOutcome{NotFound({a}), a, "A"}), RunUserSearch("nobody", ""));
  // 2 goes on without asking.
  SetOptions({{"Treeless Login Enabled", 1}, {"User Search Failure", 2}});
  EXPECT_EQ((SearchOutcome{NotFound({a, b}), b, "B"}), RunUserSearch("nobody", ""));
  // Answered no: cancelled before any other server is touched; frozen, the
  // next one would cost its time-out.
  SetOptions({{"Treeless Login Enabled", 1}, {"User Search Failure", 1}});
  ASSERT_TRUE(dir_.Freeze(1));
  const SearchOutcome outcome = RunUserSearch("nobody", "");
  EXPECT_EQ((SearchOutcome{"<cancelled>", a, "A", {}, {question}}), outcome);
  EXPECT_LT(outcome.seconds, 0.9);
}

TEST_F(SearchUserTest, ContextScopes) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  SetServers({Plain(0)});
  const std::string host = dir_.server(0).host;
  const std::string sales = "ou=sales,o=A", eng = "ou=eng,o=A", nothere = "ou=nothere,o=A";
  const std::vector<std::string> both = {"jdoe@sales.A", "jdoe@eng.A"};
  struct Case {
    std::vector<std::string> trees;  // tree 1 holds the contexts
    std::vector<std::string> contexts;
    bool subtree;
    uint32_t all_scopes;
    std::string name;
    SearchOutcome expected;
  } cases[] = {
      // "Search All Scopes" off stops at the first context with users.
      {{"Z", "A"}, {sales, eng}, true, 0, "jdoe", {"", host, "A", {"jdoe@sales.A"}}},
      {{"Z", "A"}, {sales, eng}, true, 0, "asmith", {"", host, "A", {"asmith@eng.A"}}},
      // On, overlapping contexts give duplicates.
      {{"Z", "A"}, {"o=A", sales}, true, 1, "jdoe",
       {"", host, "A", {"jdoe@sales.A", "jdoe@eng.A", "jdoe@sales.A"}}},
      // One level does not reach deeper entries.
      {{"Z", "A"}, {"o=A"}, false, 1, "jdoe", {NotFound({host}), host, "A"}},
      // A missing context is shown once and the others are still searched.
      {{"Z", "A"}, {sales, nothere, eng}, true, 1, "jdoe",
       {"", host, "A", both, {kMissingContext}}},
      // A tree that is not configured is searched whole.
      {{"Z"}, {sales}, true, 1, "jdoe", {"", host, "A", both}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name + " in " + test.contexts[0]);
    DeleteTree(kTreesKeyPath);
    DeleteTree(kContextsKeyPath);
    SetTrees(test.trees);
    SetContexts(1, test.contexts, test.subtree);
    SetOptions({{"Context Search Scope Enabled", 1}, {"Search All Scopes", test.all_scopes}});
    EXPECT_EQ(test.expected, RunUserSearch(test.name, "A"));
  }

  // The missing context's box comes between two searches of the same
  // connection: freezing the server there makes the next search wait out
  // its time limit, message 19, prefixed; the earlier records stay.
  ServerConfig server = Plain(0);
  server.search_timeout = 1;
  SetServers({server});
  DeleteTree(kTreesKeyPath);
  SetTrees({"Z", "A"});
  SetContexts(1, {sales, nothere, eng}, true);
  presenter_.on_show = [this](const ShownBox&) { ASSERT_TRUE(dir_.Freeze(0)); };
  const SearchOutcome outcome = RunUserSearch("jdoe", "A");
  dir_.Thaw(0);
  EXPECT_EQ((SearchOutcome{Composed("Timeout exceeded while searching for user."), host, "A",
                           {"jdoe@sales.A"}, {kMissingContext}}),
            outcome);
  EXPECT_LT(outcome.seconds, 15.0);
}

// Wildcards and aliases on one server: the name the request keeps, and
// the entries found.
TEST_F(SearchUserTest, WildcardsAndAliases) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  SetServers({Plain(0)});
  const std::string not_found = NotFound({dir_.server(0).host});
  const Options wildcards = {{"Allow Wildcards", 1}};
  struct Case {
    Options options;
    std::string name;
    std::string error;
    std::vector<std::string> users;
    std::string login;
  } cases[] = {
      // A wildcard name stays extended after a failure.
      {wildcards, "nob", not_found, {}, "nob*"},
      // jo* matches johnny's cn, but johnny is only an alias.
      {wildcards, "jo", not_found, {}, "jo*"},
      {{{"Allow Wildcards", 1}, {"Search Alias", 1}}, "jo", "", {"johnny@sales.A"}, "jo*"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    DeleteTree(kOptionsKeyPath);
    SetOptions(test.options);
    UserData request(test.name, "A");
    const SearchOutcome outcome = RunUserSearch(request);
    EXPECT_EQ((SearchOutcome{test.error, outcome.server, "A", test.users}), outcome);
    EXPECT_EQ(test.login, request.GetLoginName());
  }
}

TEST_F(SearchUserTest, ConfigurationFailuresBeforeAnyServer) {
  EXPECT_EQ(Composed("Bad options configuration"), RunUserSearch("jdoe", "A").error);
  SetOptions({});
  CreateKey(kServersKeyPath);  // a list without entries
  EXPECT_EQ(kNoServer, RunUserSearch("jdoe", "A").error);
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
