#include "resources/message_catalogue.h"

#include <climits>
#include <string>

#include "gtest/gtest.h"
#include "platform/resources.h"
#include "resources/message_format.h"
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

TEST_F(MessageCatalogueTest, LdapErrorTextsOfTheMappedCodes) {
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
  };
  for (const auto& m : mapped) EXPECT_EQ(m.text, LdapErrorText(m.code)) << m.code;
}

TEST_F(MessageCatalogueTest, OtherCodesShowTheirHexadecimalValue) {
  EXPECT_EQ("LDAP Error: 0x57", LdapErrorText(87));
  EXPECT_EQ("LDAP Error: 0x1", LdapErrorText(1));
  EXPECT_EQ("LDAP Error: 0x50", LdapErrorText(80));
  EXPECT_EQ("LDAP Error: 0x35", LdapErrorText(53));
  EXPECT_EQ("LDAP Error: 0xffffffff", LdapErrorText(-1));
  EXPECT_EQ("LDAP Error: 0xfffffff9", LdapErrorText(-7));
  EXPECT_EQ("LDAP Error: 0x80000000", LdapErrorText(INT_MIN));
  EXPECT_EQ("LDAP Error: 0x7fffffff", LdapErrorText(INT_MAX));
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
  EXPECT_EQ("000000FF", FormatWithInteger("%08X", 255));
  EXPECT_EQ("[-1   ]", FormatWithInteger("[%-5d]", -1));
  EXPECT_EQ("4294967295", FormatWithInteger("%u", -1));
  EXPECT_EQ("0x1f", FormatWithInteger("%#x", 31));
  EXPECT_EQ("87", FormatWithInteger("%ld", 87));
  EXPECT_EQ("127", FormatWithInteger("%o", 87));
  EXPECT_EQ("a % b", FormatWithInteger("a %% b", 87));
  // What is not a complete, bounded integer directive stays as written.
  EXPECT_EQ("%", FormatWithInteger("%", 87));
  EXPECT_EQ("x%", FormatWithInteger("x%", 87));
  EXPECT_EQ("%*d 57", FormatWithInteger("%*d %x", 87));
  EXPECT_EQ("%1000d", FormatWithInteger("%1000d", 87));
  EXPECT_EQ("%s %n %c %p 57 %x", FormatWithInteger("%s %n %c %p %x %x", 87));
  EXPECT_EQ(999u, FormatWithInteger("%999d", 87).size());
  EXPECT_EQ("%.", FormatWithInteger("%.", 1));
  EXPECT_EQ("%-", FormatWithInteger("%-", 1));
}

TEST(MessageFormatTest, TextDirectives) {
  EXPECT_EQ("  ACM|", FormatWithText("%5.3s|", "ACME"));
  EXPECT_EQ("ACME  |", FormatWithText("%-6s|", "ACME"));
  EXPECT_EQ("%d ACME %s", FormatWithText("%d %s %s", "ACME"));
  EXPECT_EQ("no directive", FormatWithText("no directive", "ACME"));
  EXPECT_EQ("", FormatWithText("", "ACME"));
}

}  // namespace
}  // namespace wendrel
