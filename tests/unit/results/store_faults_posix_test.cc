// The configuration readers and the results cache on a failing native store:
// defaults or a missing configuration, nothing cached, and whatever was
// committed before is there once the fault clears.

#include <tuple>

#include "config/ldap_config_options.h"
#include "config/ldap_server.h"
#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "platform/environment.h"
#include "results/user_data.h"
#include "tests/unit/platform/store_probe_posix.h"
#include "tests/unit/support/registry_fixture.h"
#include "tests/unit/support/user_records.h"

namespace wendrel {
namespace {

namespace fs = std::filesystem;
using platform::Probe;
using platform::Quote;
using platform::ReadFile;

class StoreFaultsTest : public testing::RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    // What an administrator configured and a login cached, all committed.
    SetDword(kOptionsKeyPath, "Contextless Login Enabled", 1);
    SetDword(kOptionsKeyPath, "User Search Failure", 2);
    SetString(kServersKeyPath, "0", "ldap1.example");
    SetDword(kServerSettingsKeyPath, "Port 0", 1389);
    SetDword(kServerSettingsKeyPath, "Search Timeout 0", 7);
    UserData cached("jsmith", "ACME");
    cached.SetServerName("ldap1.example");
    cached.AddUser("jsmith", "cn=jsmith", "sales.acme", "ou=sales.o=acme");
    ASSERT_TRUE(cached.CacheFirstUser());
  }

  static void UseStore(const std::string& path) {
    platform::SetEnvironmentVariable("WENDREL_REGISTRY", path);
  }

  // Everything SetUp committed reads back as it was written.
  static void ExpectCommittedValues() {
    LDAPConfigOptions options;
    LDAPServer server;
    const std::string first = server.FirstServer();
    UserData read("jsmith", "ACME");
    const bool cached = read.ReadCachedUser();
    EXPECT_EQ(std::make_tuple(true, 2, std::string("ldap1.example"), 1389, 7, true,
                              testing::Collection{"ACME", "ldap1.example",
                                                  {{"jsmith", "cn=jsmith", "sales.acme",
                                                    "ou=sales.o=acme"}}}),
              std::make_tuple(options.ContextlessLoginEnabled(), options.UserSearchFailure(),
                              first, server.Port(), server.SearchTimeout(), cached,
                              testing::CollectionOf(read)));
  }

  // A resolution's attempt to cache a new user; true when it was stored.
  static bool CacheNewUser() {
    UserData found("adoe", "ACME");
    found.SetServerName("ldap1.example");
    found.AddUser("adoe", "cn=adoe", "eng.acme", "ou=eng.o=acme");
    return found.CacheFirstUser();
  }

  static bool NewUserCached() { return UserData("adoe", "ACME").ReadCachedUser(); }
};

TEST_F(StoreFaultsTest, FileThatIsNotAStoreReadsAsAMissingConfiguration) {
  const std::string junk = Scratch() + "/junk.db";
  {
    std::ofstream out(junk, std::ios::binary);
    for (int i = 0; i < 100; ++i) out << "not a registry store\n";
  }
  const std::string before = ReadFile(junk);
  UseStore(junk);
  // As for a missing key: initialisation stays passive, the search shows
  // its configuration message, and the cache, which reads the options
  // first, hands the same failure to the driver without touching the store.
  EXPECT_THROW(LDAPConfigOptions(), LDAPConfigOptions::BadReg);
  EXPECT_THROW(LDAPServer(), LDAPServer::BadReg);
  UserData read("jsmith", "ACME");
  EXPECT_THROW(read.ReadCachedUser(), LDAPConfigOptions::BadReg);
  EXPECT_EQ(read.GetUserCount(), 0);
  EXPECT_THROW(CacheNewUser(), LDAPConfigOptions::BadReg);
  EXPECT_TRUE(before == ReadFile(junk)) << "the file was written";

  UseStore(store_path());
  ExpectCommittedValues();
}

TEST_F(StoreFaultsTest, StoreCutShortGivesRightValuesDefaultsOrNothing) {
  const std::string cut = Scratch() + "/cut.db";
  fs::copy_file(store_path(), cut);
  fs::resize_file(cut, fs::file_size(cut) / 2);
  UseStore(cut);
  try {
    LDAPConfigOptions options;
    const int32_t failure = options.UserSearchFailure();
    EXPECT_TRUE(failure == 2 || failure == 1) << failure;  // the value or its default
  } catch (const LDAPConfigOptions::BadReg&) {
  }
  try {
    LDAPServer server;
    std::string name = server.FirstServer();
    EXPECT_TRUE(name.empty() || name == "ldap1.example") << name;
    EXPECT_TRUE(server.Port() == 1389 || server.Port() == 389) << server.Port();
  } catch (const LDAPServer::BadReg&) {
  }
  UserData read("jsmith", "ACME");
  try {
    if (read.ReadCachedUser()) {
      EXPECT_EQ(read.GetServerName(), "ldap1.example");
    } else {
      EXPECT_EQ(read.GetUserCount(), 0);
    }
  } catch (const LDAPConfigOptions::BadReg&) {
    EXPECT_EQ(read.GetUserCount(), 0);
  }

  UseStore(store_path());
  ExpectCommittedValues();
}

TEST_F(StoreFaultsTest, StoreHeldByAnotherWriterIsReadAndTheCacheGivesUpInBoundedTime) {
  const std::string ready = Scratch() + "/ready", release = Scratch() + "/release";
  ASSERT_EQ(0, Probe("hold " + Quote(store_path()) + " " + Quote(ready) + " " + Quote(release) +
                     " &"));
  ASSERT_TRUE(platform::WaitFor(ready, true, std::chrono::seconds(20)));

  ExpectCommittedValues();
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(CacheNewUser());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  EXPECT_FALSE(NewUserCached());

  { std::ofstream(release.c_str()); }
  ASSERT_TRUE(platform::WaitFor(ready, false, std::chrono::seconds(20)));
  ExpectCommittedValues();
  EXPECT_TRUE(CacheNewUser());
  EXPECT_TRUE(NewUserCached());
}

}  // namespace
}  // namespace wendrel
