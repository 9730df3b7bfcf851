// "Escape Search Filter" against a real directory, on both builds: names
// with the filter's special characters are found, a typed filter fragment
// matches only itself, and the request keeps the name as typed.

#include <string>
#include <vector>

#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "results/user_data.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

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
  const std::vector<std::string> not_found = {"error: " + NotFound({dir_.server(0).host})};
  using Options = std::vector<std::pair<std::string, uint32_t>>;
  const Options escape = {{"Escape Search Filter", 1}}, wildcards = {{"Allow Wildcards", 1}};
  const Options both = {{"Allow Wildcards", 1}, {"Escape Search Filter", 1}};
  struct Case {
    Options options;
    std::string name;
    std::vector<std::string> found;  // the users' names, or the error
    std::string kept;                // the name the request keeps, when checked
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
    std::vector<std::string> found = {"error: " + outcome.error};
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
