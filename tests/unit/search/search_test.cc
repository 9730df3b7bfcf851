// The search's texts and filters: messages and labels of the catalogue
// (the library's own and a language module's), their formats, and the user
// filter with the wildcard policy.

#include <climits>
#include <cstring>
#include <string>

#include "config/ldap_config_options.h"
#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "platform/resources.h"
#include "resources/message_catalogue.h"
#include "resources/message_format.h"
#include "results/user_data.h"
#include "search/user_filter.h"
#include "tests/unit/support/registry_fixture.h"
#include "tests/unit/support/test_language.h"

namespace wendrel {
namespace {

class MessageCatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetCurrentResourceModule(nullptr); }
};

TEST_F(MessageCatalogueTest, ComposedMessagesCarryThePrefix) {
  EXPECT_EQ("LDAP Contextless Login: Timeout exceeded while searching for user.",
            ComposeMessage(kMsgSearchTimeout));
  std::string shown = ComposeMessage(kMsgUserNotFound);
  for (const char* server : {"ldap1", "ldap2"}) shown += std::string("\n") + server;
  EXPECT_EQ(
      "LDAP Contextless Login: User not found after searching the trees on the following "
      "LDAP server(s):\nldap1\nldap2",
      shown);
  // A missing id leaves the prefix alone.
  EXPECT_EQ("LDAP Contextless Login: ", ComposeMessage(38));
  EXPECT_EQ("LDAP Contextless Login: LDAP Contextless Login: ", ComposeMessage(kMsgPrefix));
}

TEST_F(MessageCatalogueTest, LdapErrorTextsOfEveryCode) {
  const struct {
    int code;
    const char* text;
  } mapped[] = {
      {0, "LDAP Successful"},
      {16, "No such attribute."},
      {32, "Invalid scope context specified. Searching will continue."},
      {33, "Alias problem."},
      {36, "Alias dereferencing problem."},
      {48, "Inappropriate authorization."},
      {49, "Invalid credentials."},
      {50, "Insufficient access."},
      {51, "LDAP is busy."},
      {52, "Unavailable."},
      {81, "LDAP Server is unavailable."},
      {85, "Timeout exceeded while searching for user."},
      {90, "No memory."},
      // Other codes show their hexadecimal value.
      {87, "LDAP Error: 0x57"}, {1, "LDAP Error: 0x1"}, {80, "LDAP Error: 0x50"},
      {53, "LDAP Error: 0x35"}, {-1, "LDAP Error: 0xffffffff"}, {-7, "LDAP Error: 0xfffffff9"},
      {INT_MIN, "LDAP Error: 0x80000000"}, {INT_MAX, "LDAP Error: 0x7fffffff"},
  };
  for (const auto& m : mapped) EXPECT_EQ(m.text, LdapErrorText(m.code)) << m.code;
  EXPECT_EQ(kMsgLdapError, LdapErrorMessageId(-5));
  EXPECT_EQ(kMsgSearchTimeout, LdapErrorMessageId(0x55));
}


TEST_F(MessageCatalogueTest, DialogLabels) {
  EXPECT_EQ("Context Selection for tree: ACME", LoadDialogLabel(kMsgContextSelection, "ACME"));
  EXPECT_EQ("Context Selection for tree: ", LoadDialogLabel(kMsgContextSelection, ""));
  // The tree is data, never a format.
  EXPECT_EQ("Context Selection for tree: A%sB%n%x",
            LoadDialogLabel(kMsgContextSelection, "A%sB%n%x"));
  const std::string long_tree(5000, 't');
  EXPECT_EQ("Context Selection for tree: " + long_tree,
            LoadDialogLabel(kMsgContextSelection, long_tree));
  EXPECT_EQ("User Name", LoadDialogLabel(kMsgUserName, "ACME"));
  EXPECT_EQ("Telephone Number", LoadDialogLabel(kMsgTelephoneNumber, "ACME"));
  EXPECT_EQ("", LoadDialogLabel(38, "ACME"));
}

TEST_F(MessageCatalogueTest, LanguageModuleTextsAreNeverTrustedAsFormats) {
  testing::ScopedTestLanguage language;
  ASSERT_TRUE(language.loaded()) << language.error();
  // Module id 8 is "Fehler %s %n 0x%x %x 100%%": only the first integer
  // directive takes the code.
  EXPECT_EQ("Fehler %s %n 0x57 %x 100%", LdapErrorText(87));
  // Module id 3 is "Baum %s %d %n %s %%".
  EXPECT_EQ("Baum ACME %d %n %s %", LoadDialogLabel(kMsgContextSelection, "ACME"));
  // Ids the module lacks are empty, composed or not.
  EXPECT_EQ("", LdapErrorText(0));
  EXPECT_EQ("", LoadDialogLabel(kMsgUserContext, "ACME"));
  EXPECT_EQ("Anmeldung: ", ComposeMessage(kMsgUserContext));
  EXPECT_EQ("Anmeldung: Nicht gefunden auf\nServern:", ComposeMessage(kMsgUserNotFound));
  EXPECT_EQ("Anmeldung: Zeit\tabgelaufen", ComposeMessage(kMsgSearchTimeout));
}

TEST(MessageFormatTest, IntegerDirectives) {
  const struct {
    const char* format;
    int value;
    const char* expected;
  } cases[] = {
      {"%08X", 255, "000000FF"}, {"[%-5d]", -1, "[-1   ]"}, {"%u", -1, "4294967295"},
      {"%#x", 31, "0x1f"}, {"%ld", 87, "87"}, {"%o", 87, "127"}, {"a %% b", 87, "a % b"},
      // What is not a complete, bounded integer directive stays as written.
      {"%", 87, "%"}, {"x%", 87, "x%"}, {"%*d %x", 87, "%*d 57"}, {"%1000d", 87, "%1000d"},
      {"%s %n %c %p %x %x", 87, "%s %n %c %p 57 %x"}, {"%.", 1, "%."}, {"%-", 1, "%-"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, FormatWithInteger(c.format, c.value));
  EXPECT_EQ(999u, FormatWithInteger("%999d", 87).size());
}

TEST(MessageFormatTest, TextDirectives) {
  EXPECT_EQ("  ACM|", FormatWithText("%5.3s|", "ACME"));
  EXPECT_EQ("ACME  |", FormatWithText("%-6s|", "ACME"));
  EXPECT_EQ("%d ACME %s", FormatWithText("%d %s %s", "ACME"));
  EXPECT_EQ("no directive", FormatWithText("no directive", "ACME"));
  EXPECT_EQ("", FormatWithText("", "ACME"));
}

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
