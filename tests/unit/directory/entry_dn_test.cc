// The DN split the found-user records are made from, through the LDAP port
// of this build (on Windows wldap32's library beneath it).

#include "directory/entry_dn.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace wendrel {
namespace {

using Pieces = std::vector<std::string>;

TEST(ExplodeEntryDnTest, GivesTypedAndValueRdnsInDnOrder) {
  Pieces typed, values;
  ExplodeEntryDn("cn=jsmith,ou=sales,o=acme", &typed, &values);
  EXPECT_EQ((Pieces{"cn=jsmith", "ou=sales", "o=acme"}), typed);
  EXPECT_EQ((Pieces{"jsmith", "sales", "acme"}), values);
}

TEST(ExplodeEntryDnTest, KeepsNonAsciiBytesAndRemovesEscapesFromValues) {
  Pieces typed, values;
  ExplodeEntryDn("cn=Zo\xC3\xAB\\, Smith,o=acme", &typed, &values);
  EXPECT_EQ((Pieces{"cn=Zo\xC3\xAB\\, Smith", "o=acme"}), typed);
  EXPECT_EQ((Pieces{"Zo\xC3\xAB, Smith", "acme"}), values);
}

TEST(ExplodeEntryDnTest, NoDnAndAnEmptyOrBrokenDnGiveNoPieces) {
  Pieces typed = {"stale"}, values = {"stale"};
  ExplodeEntryDn(nullptr, &typed, &values);
  EXPECT_TRUE(typed.empty() && values.empty());
  for (const char* dn : {"", "cn", "cn=a,,o=b", "=x"}) {
    typed = {"stale"};
    values = {"stale"};
    ExplodeEntryDn(dn, &typed, &values);
    EXPECT_TRUE(typed.empty()) << dn;
    EXPECT_TRUE(values.empty()) << dn;
  }
}

}  // namespace
}  // namespace wendrel
