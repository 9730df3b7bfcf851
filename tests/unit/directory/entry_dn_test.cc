// The DN split the found-user records are made from, through the LDAP port
// of this build (on Windows wldap32's library beneath it).

#include "directory/entry_dn.h"

#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"

namespace wendrel {
namespace {

using Pieces = std::vector<std::string>;

// Typed and value RDNs in DN order; non-ASCII bytes kept and escapes removed
// from the values; an empty or broken DN gives no pieces.
TEST(ExplodeEntryDnTest, GivesTypedAndValueRdnsInDnOrder) {
  const struct {
    const char* dn;
    Pieces typed, values;
  } cases[] = {
      {"cn=jsmith,ou=sales,o=acme",
       {"cn=jsmith", "ou=sales", "o=acme"},
       {"jsmith", "sales", "acme"}},
      {"cn=Zo\xC3\xAB\\, Smith,o=acme", {"cn=Zo\xC3\xAB\\, Smith", "o=acme"},
       {"Zo\xC3\xAB, Smith", "acme"}},
      {nullptr, {}, {}}, {"", {}, {}}, {"cn", {}, {}}, {"cn=a,,o=b", {}, {}}, {"=x", {}, {}}};
  for (const auto& c : cases) {
    Pieces typed = {"stale"}, values = {"stale"};
    ExplodeEntryDn(c.dn, &typed, &values);
    EXPECT_EQ(std::make_pair(c.typed, c.values), std::make_pair(typed, values))
        << (c.dn != nullptr ? c.dn : "(null)");
  }
}

}  // namespace
}  // namespace wendrel
