// The results cache against the real registry of each build: the native
// store, and Wine's registry under the Windows build; and the directory-services
// stand-in that checks cached users, with how a cached context becomes a DN
// again. No directory server is configured here, so every directory check
// fails; the integration tests cover the checks that pass.

#include <cstdint>
#include <string>
#include <vector>

#include "config/ldap_config_options.h"
#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "platform/registry.h"
#include "results/cache_entry_path.h"
#include "results/user_data.h"
#include "standins/directory_services.h"
#include "tests/unit/support/registry_fixture.h"
#include "tests/unit/support/user_records.h"

namespace wendrel {
namespace {

using testing::Collection;
using testing::CollectionOf;
using testing::ReadStored;
using testing::RegKeyExists;
using testing::StoredValue;

const std::string kCache = kCachedResultsKeyPath;
const std::string kAcmeSmith = kCache + "\\ACME\\JSMITH";
const testing::UserRecord kSmith{"jsmith", "cn=jsmith", "sales.acme", "ou=sales.o=acme", {}};
constexpr char kCacheSddl[] = "D:(A;;KA;;;WD)(A;;KA;;;BA)";

class CacheTest : public testing::RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    SetTreeless(false);
  }

  void SetTreeless(bool on) { SetDword(kOptionsKeyPath, "Treeless Login Enabled", on ? 1 : 0); }

  // A complete entry as the extension writes it.
  static void StoreEntry(const std::string& name, const std::string& tree,
                         const std::string& server) {
    UserData data(name, tree);
    data.SetServerName(server);
    data.AddUser("jsmith", "cn=jsmith", "sales.acme", "ou=sales.o=acme");
    ASSERT_TRUE(data.CacheFirstUser());
  }

  // What a read of the entry gives: whether it succeeded, and the collection.
  static std::pair<bool, Collection> Load(const std::string& name, const std::string& tree,
                                          const std::string& server = "") {
    UserData data(name, tree);
    data.SetServerName(server);
    const bool read = data.ReadCachedUser();
    return {read, CollectionOf(data)};
  }
};

TEST_F(CacheTest, StoreAndLoadInBothModes) {
  StoreEntry("jsmith", "Acme", "10.0.0.1");
  // The tree part is the tree as given; the name is upper-cased.
  EXPECT_TRUE(RegKeyExists(kCache + "\\Acme\\JSMITH"));
  EXPECT_EQ(std::make_pair(true, Collection{"Acme", "10.0.0.1", {kSmith}}),
            Load("jsmith", "Acme"));
  // Another tree has no entry for the name.
  EXPECT_EQ(std::make_pair(false, Collection{"OTHER", "", {}}), Load("jsmith", "OTHER"));

  // Treeless login: one tree part for all trees; the tree found comes back.
  SetTreeless(true);
  StoreEntry("jsmith", "Acme", "10.0.0.2");
  EXPECT_TRUE(RegKeyExists(kCache + "\\+.TreeLess\\JSMITH"));
  EXPECT_EQ(std::make_pair(true, Collection{"Acme", "10.0.0.2", {kSmith}}), Load("jsmith", ""));

  // The entries of the other mode stay where they were.
  SetTreeless(false);
  EXPECT_EQ(std::make_pair(true, Collection{"Acme", "10.0.0.1", {kSmith}}),
            Load("jsmith", "Acme"));
}

TEST_F(CacheTest, NamesDifferingInCaseOfAsciiLettersShareAnEntry) {
  StoreEntry("jSmith", "ACME", "first");
  StoreEntry("JSMITH", "ACME", "second");
  EXPECT_EQ("second", Load("jsmith", "ACME").second.server);

  // Only a-z change: the rest of the name is kept, written in the ANSI code
  // page (Windows-1252 on both builds here).
  std::string part;
  ASSERT_TRUE(CacheNamePart("j.o-s\xC3\xA9_1", &part));
  EXPECT_EQ("J.O-S\xE9_1", part);
  StoreEntry("j.o-s\xC3\xA9_1", "ACME", "third");
  EXPECT_TRUE(RegKeyExists(kCache + "\\ACME\\J.O-S\xE9_1"));
}

TEST_F(CacheTest, NamesAndTreesWithoutASingleEntryKeyAreNotCached) {
  std::string path;
  // A name the ANSI code page cannot hold would be written with '?', and
  // every Cyrillic name of the same length would share the entry.
  const std::pair<const char*, const char*> refused[] = {
      {"\xD0\x96\xD0\xB0", "ACME"}, {"a\\b", "ACME"}, {"", "ACME"}, {"jsmith", ""},
      {"jsmith", "AC\\ME"}};
  for (const auto& name_tree : refused) {
    EXPECT_FALSE(FormatCacheEntryPath(name_tree.first, name_tree.second, false, &path))
        << name_tree.first << " in " << name_tree.second;
  }
  // In treeless login the tree does not matter.
  ASSERT_TRUE(FormatCacheEntryPath("jsmith", "", true, &path));
  EXPECT_EQ(kCache + "\\+.TreeLess\\JSMITH", path);
  // A name is cut after 260 UTF-16 units.
  std::string part;
  ASSERT_TRUE(CacheNamePart(std::string(300, 'x'), &part));
  EXPECT_EQ(std::string(260, 'X'), part);

  for (const char* tree : {"", "AC\\ME"}) {
    UserData data("jsmith", tree);
    data.AddUser("jsmith", "cn=jsmith", "sales.acme", "ou=sales.o=acme");
    EXPECT_FALSE(data.CacheFirstUser()) << tree;
    EXPECT_FALSE(data.ReadCachedUser()) << tree;
    EXPECT_FALSE(data.ValidateCachedUser()) << tree;
  }
  // A collection without records stores nothing either.
  EXPECT_FALSE(UserData("jsmith", "ACME").CacheFirstUser());
  EXPECT_FALSE(RegKeyExists(kCache));
}

TEST_F(CacheTest, EveryValueHas260BytesAndLongTextsLoseTheirTerminator) {
  UserData data("jsmith", "ACME");
  const std::string server = "ldap.acme.example";
  data.SetServerName(server);
  const std::string long_fdn = "cn=" + std::string(297, 'q');  // 300 bytes
  const std::string exact = std::string(260, 'c');             // 260 bytes
  data.AddUser("", long_fdn, exact, "o=acme");
  ASSERT_TRUE(data.CacheFirstUser());

  auto padded = [](const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.resize(260, 0);
    return StoredValue{platform::kRegSz, bytes};
  };
  const std::map<std::string, StoredValue> expected = {
      {"UserTree", padded("ACME")},           {"UserServer", padded(server)},
      {"User", padded("")},                   {"UserContext", padded(exact)},
      {"UserFDN", padded(long_fdn.substr(0, 260))}, {"UserContextFDN", padded("o=acme")}};
  for (const auto& value : expected) {
    EXPECT_EQ(value.second, ReadStored(kAcmeSmith, value.first)) << value.first;
  }
  // Read back, a cut text is its 260 bytes.
  EXPECT_EQ(std::make_pair(true, Collection{"ACME", server,
                                            {{"", long_fdn.substr(0, 260), exact, "o=acme"}}}),
            Load("jsmith", "ACME"));
}

TEST_F(CacheTest, ReadingAcceptsAnyTypeUpTo265BytesAndStopsAtTheFirstZero) {
  StoreEntry("jsmith", "ACME", "server");
  SetRaw(kAcmeSmith, "User", platform::kRegBinary, {'a', 'b', 0, 'c'});
  // No zero at all, yet 265 bytes fit.
  SetRaw(kAcmeSmith, "UserContext", platform::kRegDword, std::vector<uint8_t>(265, 'u'));
  EXPECT_EQ(std::make_pair(true, Collection{"ACME", "server",
                                            {{"ab", "cn=jsmith", std::string(265, 'u'),
                                              "ou=sales.o=acme"}}}),
            Load("jsmith", "ACME"));
  // 266 bytes do not fit: the entry counts as incomplete.
  SetRaw(kAcmeSmith, "UserContext", platform::kRegSz, std::vector<uint8_t>(266, 'v'));
  EXPECT_EQ(std::make_pair(false, Collection{"ACME", "server", {}}), Load("jsmith", "ACME"));
}

TEST_F(CacheTest, FailedReadKeepsTheCachedTreeAndServer) {
  SetTreeless(true);
  StoreEntry("jsmith", "Acme", "10.0.0.9");
  const std::string entry = kCache + "\\+.TreeLess\\JSMITH";
  DeleteValue(entry, "User");
  EXPECT_EQ(std::make_pair(false, Collection{"Acme", "10.0.0.9", {}}), Load("jsmith", "typed"));
  // A failed read removes nothing.
  EXPECT_NE(StoredValue(), ReadStored(entry, "UserFDN"));

  // Missing "UserServer": the tree was read first and stays; the server is
  // left as it was.
  DeleteValue(entry, "UserServer");
  EXPECT_EQ(std::make_pair(false, Collection{"Acme", "before", {}}),
            Load("jsmith", "typed", "before"));
}

TEST_F(CacheTest, ChosenUserIsStoredOverTheEntry) {
  StoreEntry("jdoe", "ACME", "old");
  UserData data("jdoe", "ACME");
  data.SetServerName("new");
  data.AddUser("jdoe", "cn=jdoe", "sales.acme", "ou=sales.o=acme");
  const UserObj& second = data.AddUser("jdoe", "uid=jdoe", "eng.acme", "ou=eng.o=acme");
  ASSERT_TRUE(data.CacheChosenUser(second));
  EXPECT_EQ(std::make_pair(true, Collection{"ACME", "new",
                                            {{"jdoe", "uid=jdoe", "eng.acme", "ou=eng.o=acme"}}}),
            Load("JDOE", "ACME"));
  // CacheFirstUser leaves the cursor on the first record.
  EXPECT_TRUE(data.CacheFirstUser());
  EXPECT_EQ(&second, data.GetNextUser());
}

TEST_F(CacheTest, CreatedKeysGetTheCacheAccessListExistingOnesKeepTheirs) {
  // Every key the store's create makes gets the list, not only the entry:
  // CachedResults and the tree key are created by the same call.
  ASSERT_FALSE(RegKeyExists(kCache));
  StoreEntry("jsmith", "ACME", "server");
  for (const std::string& path : {kCache, kCache + "\\ACME", kAcmeSmith}) {
    EXPECT_EQ(kCacheSddl, testing::RegSddl(path)) << path;
  }
  // An entry key made beforehand without an access list keeps its security.
  const std::string existing = kCache + "\\ACME\\JDOE";
  CreateKey(existing);
  auto security = [&existing] {
    platform::RegKey key;
    std::vector<uint8_t> descriptor;
    EXPECT_EQ(platform::kRegSuccess,
              key.Open(platform::RegKey::LocalMachine(), existing, platform::kKeyRead));
    EXPECT_EQ(platform::kRegSuccess, key.GetSecurity(&descriptor));
    return descriptor;
  };
  const std::vector<uint8_t> before = security();
  StoreEntry("jdoe", "ACME", "server");
  EXPECT_EQ(before, security());
  EXPECT_NE(kCacheSddl, testing::RegSddl(existing));
}

TEST_F(CacheTest, StaleEntryIsRemovedAndTheTreeKeyStays) {
  // No server is configured: the directory cannot confirm the user.
  StoreEntry("jsmith", "ACME", "server");
  StoreEntry("jdoe", "ACME", "server");
  UserData data("jsmith", "ACME");
  EXPECT_FALSE(data.ValidateCachedUser());
  EXPECT_EQ(0, data.GetUserCount());
  EXPECT_FALSE(RegKeyExists(kAcmeSmith));
  EXPECT_TRUE(RegKeyExists(kCache + "\\ACME"));
  EXPECT_TRUE(RegKeyExists(kCache + "\\ACME\\JDOE"));

  // An incomplete entry is left untouched, whatever the directory says.
  DeleteValue(kCache + "\\ACME\\JDOE", "UserContext");
  EXPECT_FALSE(UserData("jdoe", "ACME").ValidateCachedUser());
  EXPECT_TRUE(RegKeyExists(kCache + "\\ACME\\JDOE"));
}

TEST_F(CacheTest, MissingOptionsKeyThrowsBeforeTheCacheIsTouched) {
  StoreEntry("jsmith", "ACME", "server");
  DeleteTree(kOptionsKeyPath);
  UserData data("jsmith", "ACME");
  data.AddUser("x", "cn=x", "", "");
  EXPECT_THROW(data.ReadCachedUser(), LDAPConfigOptions::BadReg);
  EXPECT_THROW(data.ValidateCachedUser(), LDAPConfigOptions::BadReg);
  EXPECT_THROW(data.CacheFirstUser(), LDAPConfigOptions::BadReg);
  EXPECT_THROW(data.CacheChosenUser(*data.GetFirstUser()), LDAPConfigOptions::BadReg);
  EXPECT_TRUE(RegKeyExists(kAcmeSmith));
  EXPECT_EQ(1, data.GetUserCount());
}

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
