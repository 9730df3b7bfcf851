// The directory-services stand-in that checks cached users: its contexts and
// how a cached context becomes a DN again.

#include <string>

#include "gtest/gtest.h"
#include "standins/directory_services.h"

namespace wendrel {
namespace {

std::string Dn(const std::string& name, const std::string& context) {
  std::string dn = "unset";
  EXPECT_TRUE(ContextToDn(name, context, &dn));
  return dn;
}

TEST(DirectoryLookupTest, CachedContextBecomesADn) {
  EXPECT_EQ("cn=jsmith,ou=sales,o=acme", Dn("cn=jsmith", "ou=sales.o=acme"));
  EXPECT_EQ("cn=jsmith", Dn("cn=jsmith", ""));
  // A "." inside a value stays when no attribute type and "=" follow it.
  EXPECT_EQ("cn=j.smith,ou=example.com,dc=x-1", Dn("cn=j.smith", "ou=example.com.dc=x-1"));
  EXPECT_EQ("cn=a,ou=v1.2,o=x", Dn("cn=a", "ou=v1.2.o=x"));
  EXPECT_EQ("cn=a,ou=a\\,b.c,o=x", Dn("cn=a", "ou=a\\,b.c.o=x"));
  // The known limit: "." then a type and "=" inside a value reads as two RDNs.
  EXPECT_EQ("cn=a,ou=a,b=c", Dn("cn=a", "ou=a.b=c"));
  std::string dn = "unset";
  EXPECT_FALSE(ContextToDn("", "o=acme", &dn));
  EXPECT_EQ("unset", dn);
}

TEST(DirectoryLookupTest, ContextsCheckTheirArguments) {
  uint32_t context = 0;
  EXPECT_EQ(kDsBadParameter, QZDSCreateContext(nullptr));
  ASSERT_EQ(0u, QZDSCreateContext(&context));
  EXPECT_NE(0u, context);
  EXPECT_EQ(kDsBadParameter, QZDSSetContext(context, 4, "x"));
  EXPECT_EQ(kDsBadParameter, QZDSSetContext(context, kDsSettingTreeName, nullptr));
  int reserved = 0;
  EXPECT_EQ(kDsBadParameter, QZDSLookupName(context, "cn=a", &reserved, nullptr));
  EXPECT_EQ(kDsBadParameter, QZDSLookupName(context, nullptr, nullptr, nullptr));
  // No tree set: there is nothing to ask.
  EXPECT_EQ(kDsBadName, QZDSLookupName(context, "cn=a", nullptr, nullptr));
  EXPECT_EQ(0u, QZDSFreeContext(context));
  EXPECT_EQ(kDsBadContext, QZDSFreeContext(context));
  EXPECT_EQ(kDsBadContext, QZDSSetContext(context, kDsSettingTreeName, "ACME"));
}

}  // namespace
}  // namespace wendrel
