// Splitting DNs the way both LDAP backends hand RDNs to the directory code.

#include "platform/ldap_dn.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace wendrel {
namespace platform {
namespace {

std::vector<std::string> Split(const std::string& dn, bool notypes) {
  std::vector<std::string> rdns;
  EXPECT_TRUE(ExplodeDn(dn, notypes, &rdns)) << dn;
  return rdns;
}

using List = std::vector<std::string>;

TEST(LdapDnTest, ValuesAreUnescapedAndTypedFormsKeepOnlyNeededEscapes) {
  EXPECT_EQ(Split("cn=jdoe,ou=sales,o=corp", true), (List{"jdoe", "sales", "corp"}));
  EXPECT_EQ(Split("cn=jdoe,ou=sales,o=corp", false), (List{"cn=jdoe", "ou=sales", "o=corp"}));
  // Hex pairs become bytes (here UTF-8), escaped specials become themselves.
  EXPECT_EQ(Split("cn=Zo\\C3\\AB,ou=Doe\\, J\\+K,o=A", true),
            (List{"Zo\xC3\xAB", "Doe, J+K", "A"}));
  EXPECT_EQ(Split("cn=Zo\\C3\\AB,ou=Doe\\2C J,o=A", false),
            (List{"cn=Zo\xC3\xAB", "ou=Doe\\, J", "o=A"}));
  // Multi-valued RDNs, spaces around separators, old-style quotes and ';'.
  EXPECT_EQ(Split(" cn = a + sn=b , o=\"x, y\" ; c=de ", true), (List{"a+b", "x, y", "de"}));
  EXPECT_EQ(Split("cn=a+sn=b,o=\"x, y\"", false), (List{"cn=a+sn=b", "o=x\\, y"}));
  // Escaped edge spaces and a leading '#' survive; BER values stay as written.
  EXPECT_EQ(Split("cn=\\ a\\ ,cn=\\#1,cn=#04024869", false),
            (List{"cn=\\ a\\ ", "cn=\\#1", "cn=#04024869"}));
  EXPECT_EQ(Split("", true), List{});
}

// One pass gives what the two splits give, failures included.
TEST(LdapDnTest, BothWaysAtOnceEqualsEachSplit) {
  for (const char* dn : {"cn=jdoe,ou=sales,o=corp", "cn=Zo\\C3\\AB,ou=Doe\\, J\\+K,o=A",
                         " cn = a + sn=b , o=\"x, y\" ; c=de ", "cn=\\ a\\ ,cn=#04024869", "",
                         "cn=a,", "cn=a=b"}) {
    std::vector<std::string> values{"old"}, typed{"old"}, expect_values, expect_typed;
    const bool ok = ExplodeDn(dn, true, &expect_values);
    EXPECT_EQ(ok, ExplodeDn(dn, false, &expect_typed)) << dn;
    EXPECT_EQ(ok, ExplodeDnBothWays(dn, &values, &typed)) << dn;
    EXPECT_EQ(expect_values, values) << dn;
    EXPECT_EQ(expect_typed, typed) << dn;
  }
}

TEST(LdapDnTest, RejectsWhatIsNotADn) {
  std::vector<std::string> rdns{"left over"};
  for (const char* bad : {"no dn here", "cn=a,", "=a", "cn=a\\", "cn=\"open", "cn=a=b",
                          "cn=#123", ",o=a"}) {
    EXPECT_FALSE(ExplodeDn(bad, true, &rdns)) << bad;
    EXPECT_TRUE(rdns.empty()) << bad;
  }
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
