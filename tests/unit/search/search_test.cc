// The search's texts and filters: the catalogue's messages and labels (own and
// a language module's), their formats, and the user filter with the wildcards.

#include <climits>
#include <vector>

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

using Texts = std::vector<std::string>;

class MessageCatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetCurrentResourceModule(nullptr); }
};

TEST_F(MessageCatalogueTest, ComposedMessagesAndDialogLabels) {
  const std::string prefix = "LDAP Contextless Login: ";
  const std::string long_tree(5000, 't');
  // The tree is data, never a format; a missing id leaves the prefix alone.
  EXPECT_EQ((Texts{prefix + "Timeout exceeded while searching for user.",
                   prefix + "User not found after searching the trees on the following LDAP "
                            "server(s):",
                   prefix, prefix + prefix, "Context Selection for tree: ACME",
                   "Context Selection for tree: ", "Context Selection for tree: A%sB%n%x",
                   "Context Selection for tree: " + long_tree, "User Name", "Telephone Number",
                   ""}),
            (Texts{ComposeMessage(kMsgSearchTimeout), ComposeMessage(kMsgUserNotFound),
                   ComposeMessage(38), ComposeMessage(kMsgPrefix),
                   LoadDialogLabel(kMsgContextSelection, "ACME"),
                   LoadDialogLabel(kMsgContextSelection, ""),
                   LoadDialogLabel(kMsgContextSelection, "A%sB%n%x"),
                   LoadDialogLabel(kMsgContextSelection, long_tree),
                   LoadDialogLabel(kMsgUserName, "ACME"),
                   LoadDialogLabel(kMsgTelephoneNumber, "ACME"), LoadDialogLabel(38, "ACME")}));
}

TEST_F(MessageCatalogueTest, LdapErrorTextsOfEveryCode) {
  const std::pair<int, const char*> mapped[] = {
      {0, "LDAP Successful"}, {16, "No such attribute."},
      {32, "Invalid scope context specified. Searching will continue."},
      {33, "Alias problem."}, {36, "Alias dereferencing problem."},
      {48, "Inappropriate authorization."}, {49, "Invalid credentials."},
      {50, "Insufficient access."}, {51, "LDAP is busy."}, {52, "Unavailable."},
      {81, "LDAP Server is unavailable."}, {85, "Timeout exceeded while searching for user."},
      {90, "No memory."},
      // Other codes show their hexadecimal value.
      {87, "LDAP Error: 0x57"}, {1, "LDAP Error: 0x1"}, {80, "LDAP Error: 0x50"},
      {53, "LDAP Error: 0x35"}, {-1, "LDAP Error: 0xffffffff"}, {-7, "LDAP Error: 0xfffffff9"},
      {INT_MIN, "LDAP Error: 0x80000000"}, {INT_MAX, "LDAP Error: 0x7fffffff"},
  };
  for (const auto& m : mapped) EXPECT_EQ(m.second, LdapErrorText(m.first)) << m.first;
  EXPECT_EQ(std::make_pair(kMsgLdapError, kMsgSearchTimeout),
            std::make_pair(LdapErrorMessageId(-5), LdapErrorMessageId(0x55)));
}

TEST_F(MessageCatalogueTest, LanguageModuleTextsAreNeverTrustedAsFormats) {
  testing::ScopedTestLanguage language;
  ASSERT_TRUE(language.loaded()) << language.error();
  // Id 8 is "Fehler %s %n 0x%x %x 100%%" (the first integer directive takes
  // the code), id 3 "Baum %s %d %n %s %%"; ids the module lacks are empty.
  EXPECT_EQ((Texts{"Fehler %s %n 0x57 %x 100%", "Baum ACME %d %n %s %", "", "", "Anmeldung: ",
                   "Anmeldung: Nicht gefunden auf\nServern:", "Anmeldung: Zeit\tabgelaufen"}),
            (Texts{LdapErrorText(87), LoadDialogLabel(kMsgContextSelection, "ACME"),
                   LdapErrorText(0), LoadDialogLabel(kMsgUserContext, "ACME"),
                   ComposeMessage(kMsgUserContext), ComposeMessage(kMsgUserNotFound),
                   ComposeMessage(kMsgSearchTimeout)}));
}

TEST(MessageFormatTest, IntegerAndTextDirectives) {
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
  EXPECT_EQ((Texts{"  ACM|", "ACME  |", "%d ACME %s", "no directive", ""}),
            (Texts{FormatWithText("%5.3s|", "ACME"), FormatWithText("%-6s|", "ACME"),
                   FormatWithText("%d %s %s", "ACME"), FormatWithText("no directive", "ACME"),
                   FormatWithText("", "ACME")}));
}

constexpr char kWildcardRefused[] = "!LDAP Contextless Login: Wildcard not allowed";
constexpr char kPlain[] = "(&(objectClass=inetOrgPerson)(|";
constexpr char kAlias[] = "(&(|(objectClass=inetOrgPerson)(objectClass=aliasObject))(|";

class UserFilterTest : public testing::RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    CreateKey(kOptionsKeyPath);
  }
  void Options(const std::vector<std::pair<const char*, uint32_t>>& options) {
    for (const auto& option : options) SetDword(kOptionsKeyPath, option.first, option.second);
  }
  // The filter (the name after the policy ran), or the thrown text after "!".
  std::string Filter(const std::string& name) {
    try {
      return BuildUserFilter(LDAPConfigOptions(), name);
    } catch (const std::string& text) {
      return "!" + text;
    }
  }
  std::string Policy(const std::string& typed) {
    UserData request(typed, "ACME");
    try {
      ApplyWildcardPolicy(LDAPConfigOptions(), request);
    } catch (const std::string& text) {
      return "!" + text;
    }
    return request.GetLoginName();
  }
};

// Each row adds its options to those of the rows before it.
TEST_F(UserFilterTest, TermsInFixedOrderWithEitherPrefix) {
  const struct {
    std::vector<std::pair<const char*, uint32_t>> options;
    std::string name, filter;
  } cases[] = {
      {{}, "jdoe", std::string(kPlain) + "(cn=jdoe)))"},
      {{}, "j(d\\oe*", std::string(kPlain) + "(cn=j(d\\oe*)))"},  // copied without escaping
      {{{"Search Alias", 1}, {"Search Email", 1}}, "jdoe",
       std::string(kAlias) + "(mail=jdoe)(cn=jdoe)))"},
      // Any non-zero value is on.
      {{{"Search Alias", 0}, {"Search Email", 0}, {"Search Username", 0},
        {"Search Full Name", 1}, {"Search Surname", 1}, {"Search Unique ID", 2}},
       "jdoe", std::string(kPlain) + "(fullName=jdoe)(surname=jdoe)(uid=jdoe)))"},
      {{{"Search Email", 1}, {"Search Given Name", 1}, {"Search Telephone Number", 1},
        {"Search Username", 1}},
       "x", std::string(kPlain) +
                "(mail=x)(fullName=x)(givenName=x)(surname=x)(telephoneNumber=x)(uid=x)(cn=x)))"},
      // Only the plain empty filter is refused: with aliases on, the empty
      // OR goes to the servers.
      {{{"Search Email", 0}, {"Search Full Name", 0}, {"Search Given Name", 0},
        {"Search Surname", 0}, {"Search Telephone Number", 0}, {"Search Unique ID", 0},
        {"Search Username", 0}},
       "jdoe", "!LDAP Contextless Login: No search options specified"},
      {{{"Search Alias", 1}}, "jdoe", std::string(kAlias) + "))"},
  };
  for (const auto& c : cases) {
    Options(c.options);
    EXPECT_EQ(c.filter, Filter(c.name)) << c.name;
  }
}

TEST_F(UserFilterTest, WildcardPolicy) {
  EXPECT_EQ((Texts{kWildcardRefused, kWildcardRefused, "jdoe"}),
            (Texts{Policy("jd*oe"), Policy("*"), Policy("jdoe")}));
  Options({{"Allow Wildcards", 7}});
  // The user's own pattern stays as typed; empty after trimming matches all.
  EXPECT_EQ((Texts{"jdoe*", "jd*oe", "*jdoe", "*", std::string(kPlain) + "(cn=jd*oe)))"}),
            (Texts{Policy("jdoe"), Policy("jd*oe"), Policy("*jdoe"), Policy("   "),
                   Filter(Policy("jd*oe"))}));
}

// "Escape Search Filter": RFC 4515 escapes in the filter text only, after
// the wildcard policy, with the policy's stars left as wildcards.
TEST_F(UserFilterTest, EscapedNamesKeepTheirWildcards) {
  Options({{"Escape Search Filter", 1}});
  EXPECT_EQ((Texts{std::string(kPlain) + "(cn=Lee \\28Ana\\29)))",
                   std::string(kPlain) + "(cn=a\\5cb\\00c)))", std::string(kPlain) + "(cn=plain)))",
                   kWildcardRefused}),
            (Texts{Filter("Lee (Ana)"), Filter(std::string("a\\b\0c", 5)), Filter("plain"),
                   Policy("*)(cn=*")}));
  Options({{"Search Email", 1}});  // every term gets the escaped name
  EXPECT_EQ(std::string(kPlain) + "(mail=\\29*)(cn=\\29*)))", Filter(")*"));
  // The name the request keeps is the unescaped one.
  Options({{"Search Email", 0}, {"Allow Wildcards", 1}});
  EXPECT_EQ((Texts{"*)(cn=*", std::string(kPlain) + "(cn=*\\29\\28cn=*)))", "Lee (Ana*",
                   std::string(kPlain) + "(cn=Lee \\28Ana*)))"}),
            (Texts{Policy("*)(cn=*"), Filter(Policy("*)(cn=*")), Policy("Lee (Ana"),
                   Filter(Policy("Lee (Ana"))}));
}

// The list handed to the search must end in its null.
TEST(RequestedAttributesTest, SixNamesThenNull) {
  EXPECT_EQ((Texts{"mail", "fullName", "givenName", "surname", "telephoneNumber", "uid"}),
            Texts(kRequestedAttributes, kRequestedAttributes + 6));
  EXPECT_EQ(nullptr, kRequestedAttributes[6]);
}

}  // namespace
}  // namespace wendrel
