#include "search/user_filter.h"

#include <cstring>
#include <string>

#include "config/ldap_config_options.h"
#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "results/user_data.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace {

constexpr char kPrefixMessage[] = "LDAP Contextless Login: ";

class UserFilterTest : public testing::RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    CreateKey(kOptionsKeyPath);
  }
  void Option(const char* name, uint32_t value) { SetDword(kOptionsKeyPath, name, value); }

  std::string Filter(const std::string& name) {
    LDAPConfigOptions options;
    return BuildUserFilter(options, name);
  }
  // The name after the policy ran, or the thrown text prefixed with "!".
  std::string Policy(const std::string& typed) {
    LDAPConfigOptions options;
    UserData request(typed, "ACME");
    try {
      ApplyWildcardPolicy(options, request);
    } catch (const std::string& text) {
      return "!" + text;
    }
    return request.GetLoginName();
  }
};

TEST_F(UserFilterTest, TermsInFixedOrderWithEitherPrefix) {
  EXPECT_EQ("(&(objectClass=inetOrgPerson)(|(cn=jdoe)))", Filter("jdoe"));

  Option("Search Alias", 1);
  Option("Search Email", 1);
  EXPECT_EQ("(&(|(objectClass=inetOrgPerson)(objectClass=aliasObject))(|(mail=jdoe)(cn=jdoe)))",
            Filter("jdoe"));

  Option("Search Alias", 0);
  Option("Search Email", 0);
  Option("Search Username", 0);
  Option("Search Full Name", 1);
  Option("Search Surname", 1);
  Option("Search Unique ID", 2);  // any non-zero value is on
  EXPECT_EQ("(&(objectClass=inetOrgPerson)(|(fullName=jdoe)(surname=jdoe)(uid=jdoe)))",
            Filter("jdoe"));

  for (const char* name : {"Search Email", "Search Given Name", "Search Telephone Number",
                           "Search Username"}) {
    Option(name, 1);
  }
  EXPECT_EQ("(&(objectClass=inetOrgPerson)(|(mail=x)(fullName=x)(givenName=x)(surname=x)"
            "(telephoneNumber=x)(uid=x)(cn=x)))",
            Filter("x"));
}

TEST_F(UserFilterTest, NameIsCopiedWithoutEscaping) {
  EXPECT_EQ("(&(objectClass=inetOrgPerson)(|(cn=j(d\\oe*)))", Filter("j(d\\oe*"));
}

// "Escape Search Filter": RFC 4515 escapes in the filter text only, after
// the wildcard policy, with the policy's stars left as wildcards.
TEST_F(UserFilterTest, EscapedNamesKeepTheirWildcards) {
  Option("Escape Search Filter", 1);
  EXPECT_EQ("(&(objectClass=inetOrgPerson)(|(cn=Lee \\28Ana\\29)))", Filter("Lee (Ana)"));
  EXPECT_EQ("(&(objectClass=inetOrgPerson)(|(cn=a\\5cb\\00c)))",
            Filter(std::string("a\\b\0c", 5)));
  EXPECT_EQ("(&(objectClass=inetOrgPerson)(|(cn=plain)))", Filter("plain"));
  // Every term gets the escaped name.
  Option("Search Email", 1);
  EXPECT_EQ("(&(objectClass=inetOrgPerson)(|(mail=\\29*)(cn=\\29*)))", Filter(")*"));
  Option("Search Email", 0);

  // The policy runs first and is not changed: a star with wildcards off is
  // still message 29; with wildcards on, the name the request keeps is the
  // unescaped one, and its stars stay wildcards in the filter.
  EXPECT_EQ(std::string("!") + kPrefixMessage + "Wildcard not allowed", Policy("*)(cn=*"));
  Option("Allow Wildcards", 1);
  EXPECT_EQ("*)(cn=*", Policy("*)(cn=*"));
  EXPECT_EQ("(&(objectClass=inetOrgPerson)(|(cn=*\\29\\28cn=*)))", Filter(Policy("*)(cn=*")));
  EXPECT_EQ("Lee (Ana*", Policy("Lee (Ana"));
  EXPECT_EQ("(&(objectClass=inetOrgPerson)(|(cn=Lee \\28Ana*)))", Filter(Policy("Lee (Ana")));
}

TEST_F(UserFilterTest, OnlyThePlainEmptyFilterIsRefused) {
  Option("Search Username", 0);
  try {
    Filter("jdoe");
    FAIL() << "no term enabled, yet a filter was built";
  } catch (const std::string& text) {
    EXPECT_EQ(std::string(kPrefixMessage) + "No search options specified", text);
  }
  // With aliases on, the empty OR passes the check and goes to the servers.
  Option("Search Alias", 1);
  EXPECT_EQ("(&(|(objectClass=inetOrgPerson)(objectClass=aliasObject))(|))", Filter("jdoe"));
}

TEST_F(UserFilterTest, WildcardPolicy) {
  EXPECT_EQ(std::string("!") + kPrefixMessage + "Wildcard not allowed", Policy("jd*oe"));
  EXPECT_EQ(std::string("!") + kPrefixMessage + "Wildcard not allowed", Policy("*"));
  EXPECT_EQ("jdoe", Policy("jdoe"));

  Option("Allow Wildcards", 7);
  EXPECT_EQ("jdoe*", Policy("jdoe"));
  EXPECT_EQ("jd*oe", Policy("jd*oe"));  // the user's own pattern stays as typed
  EXPECT_EQ("*jdoe", Policy("*jdoe"));
  EXPECT_EQ("*", Policy("   "));       // empty after trimming: matches anything
  EXPECT_EQ("(&(objectClass=inetOrgPerson)(|(cn=jd*oe)))", Filter(Policy("jd*oe")));
}

TEST(RequestedAttributesTest, SixNamesThenNull) {
  const char* const expected[] = {"mail", "fullName", "givenName", "surname", "telephoneNumber",
                                  "uid"};
  for (int i = 0; i < 6; ++i) EXPECT_STREQ(expected[i], kRequestedAttributes[i]);
  EXPECT_EQ(nullptr, kRequestedAttributes[6]);
}

}  // namespace
}  // namespace wendrel
