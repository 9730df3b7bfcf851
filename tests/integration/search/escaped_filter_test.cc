// "Escape Search Filter" against a real directory, on both builds: names
// with the filter's special characters are found, a typed filter fragment
// matches only itself, and the request keeps the name as typed.

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "results/user_data.h"
#include "search/ldap_search_user.h"
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

class EscapedFilterTest : public SearchTest {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    const std::string ldif = WriteLdif("people", kPeople);
    ASSERT_TRUE(dir_.Start({"E:ldif=" + ldif})) << dir_.error();
    SetServers({Plain(0)});
  }

  // The users found, or the error text.
  std::vector<std::string> Find(const std::string& name, std::string* kept = nullptr) {
    UserData request(name, "E");
    std::vector<std::string> found;
    try {
      LDAPSearchUser search;
      search.SearchForAUser(request);
      for (UserObj* u = request.GetFirstUser(); u != nullptr; u = request.GetNextUser()) {
        found.push_back(u->GetUser());
      }
    } catch (const std::string& text) {
      found.push_back("error: " + text);
    }
    if (kept != nullptr) *kept = request.GetLoginName();
    return found;
  }

  std::vector<std::string> NotFoundHere() const {
    return {"error: " + NotFound({dir_.server(0).host})};
  }
};

TEST_F(EscapedFilterTest, SpecialCharactersWithoutWildcards) {
  SetOptions({});
  // Off, the name breaks the filter: the library's own error, as before.
  EXPECT_EQ(std::vector<std::string>({"error: LDAP Error: 0x57"}), Find("Lee (Ana)"));

  SetOptions({{"Escape Search Filter", 1}});
  std::string kept;
  EXPECT_EQ(std::vector<std::string>({"Lee (Ana)"}), Find("Lee (Ana)", &kept));
  EXPECT_EQ("Lee (Ana)", kept);  // only the filter text is escaped
  EXPECT_EQ(std::vector<std::string>({"back\\slash"}), Find("back\\slash"));
  EXPECT_EQ(NotFoundHere(), Find("Lee (Bob)"));
  EXPECT_EQ(NotFoundHere(), Find("Lee Ana)"));
  // A star is still refused by the wildcard policy before anything is built.
  EXPECT_EQ(std::vector<std::string>({"error: LDAP Contextless Login: Wildcard not allowed"}),
            Find("*)(cn=*"));
}

TEST_F(EscapedFilterTest, SpecialCharactersWithWildcards) {
  SetOptions({{"Allow Wildcards", 1}});
  // Off, a typed filter fragment lists everyone.
  EXPECT_EQ(5u, Find("*)(cn=*").size());

  SetOptions({{"Allow Wildcards", 1}, {"Escape Search Filter", 1}});
  EXPECT_EQ(NotFoundHere(), Find("*)(cn=*"));
  // The appended star stays a wildcard; the parenthesis is a character.
  std::string kept;
  EXPECT_EQ(std::vector<std::string>({"Lee (Ana)"}), Find("Lee (", &kept));
  EXPECT_EQ("Lee (*", kept);
  EXPECT_EQ(std::vector<std::string>({"Lee (Ana)", "Lee Ana"}), Find("Lee*Ana*"));
  EXPECT_EQ(std::vector<std::string>({"back\\slash"}), Find("back\\"));
  EXPECT_EQ(NotFoundHere(), Find("back\\x"));
  EXPECT_EQ(std::vector<std::string>({"star*ry"}), Find("sta*ry"));
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
