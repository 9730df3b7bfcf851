// The user search against real slapd servers, on both builds: which servers
// are tried, skipped and listed, the continue question, context scopes,
// escaped filters, and the exact texts of every failure.

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
using Users = std::vector<std::string>;
const std::string kNoServer = Composed("No LDAP server specified.");
const ShownBox kMissingContext = {"wendrel",
                                  "Invalid scope context specified. Searching will continue.",
                                  0x10};

using SearchUserTest = SearchTest;

TEST_F(SearchUserTest, DeadServersCostTheirConnectionTimeoutAndAreSkippedSilently) {
  ASSERT_TRUE(dir_.Start({"A", "A"})) << dir_.error();
  ASSERT_TRUE(dir_.Freeze(0));
  SetOptions({});
  SetServers({Closed(), Silent(), Plain(0), Plain(1)});
  SearchOutcome outcome = RunUserSearch("jdoe", "A");
  EXPECT_EQ((SearchOutcome{"", dir_.server(1).host, "A", {"jdoe@sales.A", "jdoe@eng.A"}}),
            outcome);
  EXPECT_LT(outcome.seconds, 12.0);  // two servers of one second each, and a refused one

  // With the answering server gone too, nothing was searched: 26, not 28.
  ASSERT_TRUE(dir_.Kill(1));
  outcome = RunUserSearch("jdoe", "A");
  EXPECT_EQ(kNoServer, outcome.error);
  EXPECT_EQ(0u, outcome.boxes.size());
  EXPECT_LT(outcome.seconds, 15.0);
}

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
  // A tree no configured server serves.
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

TEST_F(SearchUserTest, TreelessContinueQuestionAndUserSearchFailure) {
  ASSERT_TRUE(dir_.Start({"A", "B", "C"})) << dir_.error();
  SetServers({Plain(0), Plain(1), Plain(2)});
  const std::string a = dir_.server(0).host, c = dir_.server(2).host;
  const std::string all = NotFound({a, dir_.server(1).host, c});
  const ShownBox question = {
      "wendrel",
      Composed("User not found in first available tree. Continue searching other trees?"),
      0x14};
  struct Case {
    uint32_t failure;
    int answer;
    SearchOutcome expected;  // the request keeps the last searched server's tree
  } cases[] = {{1, platform::kIdYes, {all, c, "C", {}, {question}}},
               {0, platform::kIdYes, {NotFound({a}), a, "A"}},
               {2, platform::kIdYes, {all, c, "C"}},
               // Answered no: cancelled before any other server is touched;
               // frozen, the next one would cost its time-out.
               {1, platform::kIdNo, {"<cancelled>", a, "A", {}, {question}}}};
  for (const Case& test : cases) {
    SCOPED_TRACE(std::to_string(test.failure) + (test.answer == platform::kIdNo ? " no" : ""));
    SetOptions({{"Treeless Login Enabled", 1}, {"User Search Failure", test.failure}});
    presenter_.question_answer = test.answer;
    if (test.answer == platform::kIdNo) {
      ASSERT_TRUE(dir_.Freeze(1));
    }
    const SearchOutcome outcome = RunUserSearch("nobody", "");
    EXPECT_EQ(test.expected, outcome);
    if (test.answer == platform::kIdNo) {
      EXPECT_LT(outcome.seconds, 0.9);
    }
  }
  // "User Search Failure" defaults to 1.
  DeleteTree(kOptionsKeyPath);
  SetOptions({{"Treeless Login Enabled", 1}});
  EXPECT_EQ("<cancelled>", RunUserSearch("nobody", "").error);
}

TEST_F(SearchUserTest, TreelessUserFoundOnALaterServerTakesThatServersTree) {
  const std::string empty = WriteLdif("empty", "dn: o=A\nobjectClass: organization\no: A\n");
  ASSERT_TRUE(dir_.Start({"A:ldif=" + empty, "B"})) << dir_.error();
  SetServers({Plain(0), Plain(1)});
  SetOptions({{"Treeless Login Enabled", 1}, {"User Search Failure", 2}});
  EXPECT_EQ((SearchOutcome{"", dir_.server(1).host, "B", {"asmith@eng.B"}}),
            RunUserSearch("asmith", "typed"));
}

TEST_F(SearchUserTest, ContextScopes) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  SetServers({Plain(0)});
  const std::string host = dir_.server(0).host;
  const std::string sales = "ou=sales,o=A", eng = "ou=eng,o=A", nothere = "ou=nothere,o=A";
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
       {"", host, "A", {"jdoe@sales.A", "jdoe@eng.A"}, {kMissingContext}}},
      // A tree that is not configured is searched whole.
      {{"Z"}, {sales}, true, 1, "jdoe", {"", host, "A", {"jdoe@sales.A", "jdoe@eng.A"}}},
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

// One configured server per case; the servers are not changed by any case.
TEST_F(SearchUserTest, OneServerCases) {
  ASSERT_TRUE(dir_.Start({"A", "A:tls=good", "A:tls=otherca"})) << dir_.error();
  const std::string host = dir_.server(0).host;
  ServerConfig wrong_proxy = Plain(0);
  wrong_proxy.proxy_username = dir_.server(0).admin_dn;
  wrong_proxy.proxy_password = "not the password";
  const Users jdoe = {"jdoe@sales.A", "jdoe@eng.A"};
  struct Case {
    const char* what;
    ServerConfig server;
    Options options;
    std::string name;
    std::string error;
    Users users;
    std::string login;  // the name the request keeps
  } cases[] = {
      {"wrong proxy password", wrong_proxy, {}, "jdoe", "", jdoe, "jdoe"},
#ifdef _WIN32
      // Wine's wldap32 refuses the server-certificate check, so the trusted
      // file cannot be applied: the server is skipped as an unreachable one
      // is, never searched unverified.
      {"trusted TLS", Tls(1), {}, "jdoe", kNoServer, {}, "jdoe"},
#else
      {"trusted TLS", Tls(1), {}, "jdoe", "", jdoe, "jdoe"},
#endif
      // Under Wine too: a server that cannot be checked is not used.
      {"untrusted TLS", Tls(2), {}, "jdoe", kNoServer, {}, "jdoe"},
      {"malformed filter", Plain(0), {}, "jd(oe", "LDAP Error: 0x57", {}, "jd(oe"},
      // A wildcard name stays extended after a failure.
      {"wildcard", Plain(0), {{"Allow Wildcards", 1}}, "nob", NotFound({host}), {}, "nob*"},
      // jo* matches johnny's cn, but johnny is only an alias.
      {"alias", Plain(0), {{"Allow Wildcards", 1}}, "jo", NotFound({host}), {}, "jo*"},
      {"alias searched", Plain(0), {{"Allow Wildcards", 1}, {"Search Alias", 1}}, "jo", "",
       {"johnny@sales.A"}, "jo*"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    DeleteTree(kOptionsKeyPath);
    SetOptions(test.options);
    ReplaceServers({test.server});
    UserData request(test.name, "A");
    const SearchOutcome outcome = RunUserSearch(request);
    EXPECT_EQ(test.error, outcome.error);
    EXPECT_EQ(test.users, outcome.users);
    EXPECT_EQ(test.login, request.GetLoginName());
  }
  EXPECT_TRUE(presenter_.boxes.empty());
}

TEST_F(SearchUserTest, ConfigurationFailuresBeforeAnyServer) {
  EXPECT_EQ(Composed("Bad options configuration"), RunUserSearch("jdoe", "A").error);
  SetOptions({});
  EXPECT_EQ(Composed("Bad server configuration"), RunUserSearch("jdoe", "A").error);
  CreateKey(kServersKeyPath);  // a list without entries
  EXPECT_EQ(kNoServer, RunUserSearch("jdoe", "A").error);
  SetOptions({{"Search Username", 0}});
  EXPECT_EQ(Composed("No search options specified"), RunUserSearch("jdoe", "A").error);
  EXPECT_EQ(Composed("Wildcard not allowed"), RunUserSearch("j*", "A").error);
}

// "Escape Search Filter": names with the filter's special characters are
// found, a typed filter fragment matches only itself, and the request keeps
// the name as typed.
constexpr char kPeople[] =
    "dn: o=E\nobjectClass: organization\no: E\n\n"
    "dn: ou=people,o=E\nobjectClass: organizationalUnit\nou: people\n\n"
    "dn: cn=Lee (Ana),ou=people,o=E\nobjectClass: inetOrgPerson\ncn: Lee (Ana)\nsn: Lee\n\n"
    "dn: cn=Lee Ana,ou=people,o=E\nobjectClass: inetOrgPerson\ncn: Lee Ana\nsn: Lee\n\n"
    "dn: cn=back\\5Cslash,ou=people,o=E\nobjectClass: inetOrgPerson\ncn: back\\slash\nsn: B\n\n"
    "dn: cn=star*ry,ou=people,o=E\nobjectClass: inetOrgPerson\ncn: star*ry\nsn: S\n\n"
    "dn: cn=plain,ou=people,o=E\nobjectClass: inetOrgPerson\ncn: plain\nsn: P\n";

using EscapedFilterTest = SearchTest;
TEST_F(EscapedFilterTest, SpecialCharactersWithAndWithoutWildcards) {
  ASSERT_TRUE(dir_.Start({"E:ldif=" + WriteLdif("people", kPeople)})) << dir_.error();
  SetServers({Plain(0)});
  const Users not_found = {"error: " + NotFound({dir_.server(0).host})};
  const Options escape = {{"Escape Search Filter", 1}}, wildcards = {{"Allow Wildcards", 1}};
  const Options both = {{"Allow Wildcards", 1}, {"Escape Search Filter", 1}};
  struct Case {
    Options options;
    std::string name;
    Users found;       // the users' names, or the error
    std::string kept;  // the name the request keeps, when checked
  } cases[] = {
      // Off, the name breaks the filter: the library's own error, as before.
      {{}, "Lee (Ana)", {"error: LDAP Error: 0x57"}, ""},
      // Only the filter text is escaped.
      {escape, "Lee (Ana)", {"Lee (Ana)"}, "Lee (Ana)"},
      {escape, "back\\slash", {"back\\slash"}, ""},
      {escape, "Lee (Bob)", not_found, ""},
      {escape, "Lee Ana)", not_found, ""},
      // A star is still refused by the wildcard policy before anything is built.
      {escape, "*)(cn=*", {"error: LDAP Contextless Login: Wildcard not allowed"}, ""},
      // Off, a typed filter fragment lists everyone.
      {wildcards, "*)(cn=*", {"Lee (Ana)", "Lee Ana", "back\\slash", "star*ry", "plain"}, ""},
      {both, "*)(cn=*", not_found, ""},
      // The appended star stays a wildcard; the parenthesis is a character.
      {both, "Lee (", {"Lee (Ana)"}, "Lee (*"},
      {both, "Lee*Ana*", {"Lee (Ana)", "Lee Ana"}, ""},
      {both, "back\\", {"back\\slash"}, ""},
      {both, "back\\x", not_found, ""},
      {both, "sta*ry", {"star*ry"}, ""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    DeleteTree(kOptionsKeyPath);
    SetOptions(test.options);
    UserData request(test.name, "E");
    const SearchOutcome outcome = RunUserSearch(request);
    Users found = {"error: " + outcome.error};
    if (outcome.error.empty()) {
      found.clear();
      for (const std::string& user : outcome.users) found.push_back(user.substr(0, user.find('@')));
    }
    EXPECT_EQ(test.found, found);
    if (!test.kept.empty()) {
      EXPECT_EQ(test.kept, request.GetLoginName());
    }
  }
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
