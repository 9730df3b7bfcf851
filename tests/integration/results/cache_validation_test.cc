// ValidateCachedUser against real servers: the directory-services stand-in
// reads the cached entry on the configured servers of the cached tree.

#include <chrono>
#include <string>

#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "platform/ldap.h"
#include "platform/registry.h"
#include "results/user_data.h"
#include "standins/directory_services.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

using platform::RegKey;

const std::string kCache = kCachedResultsKeyPath;

class CacheValidationTest : public SearchTest {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    CreateKey(kOptionsKeyPath);
  }

  // Stores a found user for `name` in `tree` as the driver would.
  static void Store(const std::string& name, const std::string& tree, const std::string& fdn,
                    const std::string& context_fdn) {
    UserData data(name, tree);
    data.SetServerName("cached-server");
    data.AddUser(name, fdn, "", context_fdn);
    ASSERT_TRUE(data.CacheFirstUser());
  }

  static bool Valid(const std::string& name, const std::string& tree) {
    return UserData(name, tree).ValidateCachedUser();
  }

  // A directory-services context for tree ACME and ou=sales.o=ACME.
  static uint32_t Context() {
    uint32_t context = 0;
    EXPECT_EQ(0u, QZDSCreateContext(&context));
    EXPECT_EQ(0u, QZDSSetContext(context, kDsSettingTreeName, "ACME"));
    EXPECT_EQ(0u, QZDSSetContext(context, kDsSettingNameContext, "ou=sales.o=ACME"));
    return context;
  }

  static bool KeyExists(const std::string& path) {
    RegKey key;
    return key.Open(RegKey::LocalMachine(), path, platform::kKeyRead) == platform::kRegSuccess;
  }
};

TEST_F(CacheValidationTest, EntriesAreConfirmedOnAServerOfTheCachedTreeOrRemoved) {
  // Both plain servers hold cn=jdoe,ou=sales,o=acme; only the second is of ACME.
  ASSERT_TRUE(dir_.Start({"OTHER:suffix=o=acme", "ACME:suffix=o=acme",
                          "ACME:suffix=o=acme.example:tls=good"}))
      << dir_.error();
  ReplaceServers({Plain(0)});
  Store("jdoe", "ACME", "cn=jdoe", "ou=sales.o=acme");
  // Only a server of another tree is configured: nothing confirms the user.
  EXPECT_FALSE(Valid("jdoe", "ACME"));
  EXPECT_FALSE(KeyExists(kCache + "\\ACME\\JDOE"));

  ReplaceServers({Plain(0), Plain(1)});
  // The tree is compared ignoring case; the cached tree is what is checked.
  Store("jdoe", "acme", "cn=jdoe", "ou=sales.o=acme");
  UserData data("JDoe", "acme");
  EXPECT_TRUE(data.ValidateCachedUser());
  EXPECT_EQ("acme/cached-server/0", data.GetTreeName() + "/" + data.GetServerName() + "/" +
                                         std::to_string(data.GetUserCount()));
  EXPECT_TRUE(KeyExists(kCache + "\\acme\\JDOE"));

  // A stale entry goes; the tree key and the other entries stay.
  Store("gone", "acme", "cn=gone", "ou=sales.o=acme");
  EXPECT_FALSE(Valid("gone", "acme"));
  EXPECT_FALSE(KeyExists(kCache + "\\acme\\GONE"));
  EXPECT_TRUE(KeyExists(kCache + "\\acme"));
  EXPECT_TRUE(Valid("jdoe", "acme"));

  // An entry without its user passes the check but cannot be loaded.
  DeleteValue(kCache + "\\acme\\JDOE", "User");
  EXPECT_TRUE(Valid("jdoe", "acme"));
  UserData loaded("jdoe", "acme");
  EXPECT_FALSE(loaded.ReadCachedUser());
  EXPECT_EQ(0, loaded.GetUserCount());
  EXPECT_TRUE(KeyExists(kCache + "\\acme\\JDOE"));

  // Dotted values, over TLS.
  ReplaceServers({Tls(2)});
  Store("jdoe", "ACME", "cn=jdoe", "ou=sales.o=acme.example");
#ifdef _WIN32
  // Wine's wldap32 refuses the server-certificate check, so the TLS server
  // is not used there: the entry cannot be confirmed and goes.
  EXPECT_FALSE(Valid("jdoe", "ACME"));
#else
  EXPECT_TRUE(Valid("jdoe", "ACME"));
#endif
}

TEST_F(CacheValidationTest, NoServerAnsweringCountsAsUnknownWithinBoundedTime) {
  ASSERT_TRUE(dir_.Start({"ACME"})) << dir_.error();
  // Refused, silent after connecting, and stopped: each is given up on
  // within its own bound.
  SetServers({Plain(0), Closed(), Silent()});
  ASSERT_TRUE(dir_.Stop(0));
  Store("jdoe", "ACME", "cn=jdoe", "ou=sales.o=ACME");

  uint32_t context = Context();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kDsTreeUnreachable, QZDSLookupName(context, "cn=jdoe", nullptr, nullptr));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(3 * kDsWaitSeconds));
  EXPECT_GE(elapsed, std::chrono::seconds(kDsWaitSeconds - 1));  // the silent one was waited for
  EXPECT_EQ(0u, QZDSFreeContext(context));

  // The cache cannot tell a silent directory from one that forgot the user:
  // the entry goes, and the next login searches.
  EXPECT_FALSE(Valid("jdoe", "ACME"));
  EXPECT_FALSE(KeyExists(kCache + "\\ACME\\JDOE"));

  // Back up, the directory answers again; a name it does not know is
  // reported as such. (The silent server leaves the list to keep the test
  // short.)
  ASSERT_TRUE(dir_.Restart(0));
  ReplaceServers({Plain(0), Closed()});
  context = Context();
  EXPECT_EQ(0u, QZDSLookupName(context, "cn=jdoe", nullptr, nullptr));
  EXPECT_EQ(kDsNoSuchObject, QZDSLookupName(context, "cn=nobody", nullptr, nullptr));
  // A network time-out the process set itself is used and left as it was.
  const platform::LdapTimeval five = {5, 0};
  ASSERT_EQ(platform::kLdapSuccess,
            platform::LdapSetOption(nullptr, platform::kLdapOptNetworkTimeout, &five));
  EXPECT_EQ(0u, QZDSLookupName(context, "cn=jdoe", nullptr, nullptr));
  platform::LdapTimeval* kept = nullptr;
  platform::LdapGetOption(nullptr, platform::kLdapOptNetworkTimeout, &kept);
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(5, static_cast<int>(kept->tv_sec));
  platform::LdapMemFree(kept);
  platform::LdapSetOption(nullptr, platform::kLdapOptNetworkTimeout, nullptr);
  // Without a server list no directory can be asked.
  DeleteTree(kServersKeyPath);
  EXPECT_EQ(kDsTreeUnreachable, QZDSLookupName(context, "cn=jdoe", nullptr, nullptr));
  EXPECT_EQ(0u, QZDSFreeContext(context));
  EXPECT_EQ(kDsBadContext, QZDSLookupName(context, "cn=jdoe", nullptr, nullptr));
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
