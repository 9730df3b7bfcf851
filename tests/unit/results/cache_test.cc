// The results cache against the registry of each build, and the
// directory-services stand-in that checks cached users. No directory server is
// configured here, so every directory check fails (integration tests pass them).

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
using testing::RegKeyExists;
using testing::StoredValue;
using Loaded = std::pair<bool, Collection>;

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

  // A complete entry as the extension writes it; whether it was stored.
  static bool StoreEntry(const std::string& name, const std::string& tree,
                         const std::string& server) {
    UserData data(name, tree);
    data.SetServerName(server);
    data.AddUser("jsmith", "cn=jsmith", "sales.acme", "ou=sales.o=acme");
    return data.CacheFirstUser();
  }

  // Whether a read of the entry succeeded, and the collection it gave.
  static Loaded Load(const std::string& name, const std::string& tree,
                     const std::string& server = "") {
    UserData data(name, tree);
    data.SetServerName(server);
    const bool read = data.ReadCachedUser();
    return {read, testing::CollectionOf(data)};
  }
};

TEST_F(CacheTest, StoreAndLoadInBothModes) {
  ASSERT_TRUE(StoreEntry("jsmith", "Acme", "10.0.0.1"));
  // The tree part as given, the name upper-cased; another tree has no entry.
  EXPECT_TRUE(RegKeyExists(kCache + "\\Acme\\JSMITH"));
  EXPECT_EQ((std::vector<Loaded>{{true, {"Acme", "10.0.0.1", {kSmith}}},
                                 {false, {"OTHER", "", {}}}}),
            (std::vector<Loaded>{Load("jsmith", "Acme"), Load("jsmith", "OTHER")}));

  // Treeless login: one tree part for all trees; the tree found comes back.
  SetTreeless(true);
  ASSERT_TRUE(StoreEntry("jsmith", "Acme", "10.0.0.2"));
  EXPECT_TRUE(RegKeyExists(kCache + "\\+.TreeLess\\JSMITH"));
  EXPECT_EQ(Loaded(true, {"Acme", "10.0.0.2", {kSmith}}), Load("jsmith", ""));
  // The entries of the other mode stay where they were.
  SetTreeless(false);
  EXPECT_EQ(Loaded(true, {"Acme", "10.0.0.1", {kSmith}}), Load("jsmith", "Acme"));
}

TEST_F(CacheTest, NamesDifferingInCaseOfAsciiLettersShareAnEntry) {
  StoreEntry("jSmith", "ACME", "first");
  StoreEntry("JSMITH", "ACME", "second");
  EXPECT_EQ("second", Load("jsmith", "ACME").second.server);
  // Only a-z change; the rest is kept, in the ANSI code page (Windows-1252).
  std::string part;
  ASSERT_TRUE(CacheNamePart("j.o-s\xC3\xA9_1", &part));
  EXPECT_EQ("J.O-S\xE9_1", part);
  StoreEntry("j.o-s\xC3\xA9_1", "ACME", "third");
  EXPECT_TRUE(RegKeyExists(kCache + "\\ACME\\J.O-S\xE9_1"));
}

TEST_F(CacheTest, NamesAndTreesWithoutASingleEntryKeyAreNotCached) {
  std::string path;
  // A name the code page cannot hold would be written with '?' and share the
  // entry of every Cyrillic name of its length.
  const std::pair<const char*, const char*> refused[] = {
      {"\xD0\x96\xD0\xB0", "ACME"}, {"a\\b", "ACME"}, {"", "ACME"}, {"jsmith", ""},
      {"jsmith", "AC\\ME"}};
  for (const auto& name_tree : refused) {
    EXPECT_FALSE(FormatCacheEntryPath(name_tree.first, name_tree.second, false, &path))
        << name_tree.first << " in " << name_tree.second;
  }
  // Treeless, the tree does not matter; a name is cut after 260 UTF-16 units.
  ASSERT_TRUE(FormatCacheEntryPath("jsmith", "", true, &path));
  EXPECT_EQ(kCache + "\\+.TreeLess\\JSMITH", path);
  std::string part;
  ASSERT_TRUE(CacheNamePart(std::string(300, 'x'), &part));
  EXPECT_EQ(std::string(260, 'X'), part);

  for (const char* tree : {"", "AC\\ME"}) {
    UserData data("jsmith", tree);
    data.AddUser("jsmith", "cn=jsmith", "sales.acme", "ou=sales.o=acme");
    EXPECT_FALSE(data.CacheFirstUser() || data.ReadCachedUser() || data.ValidateCachedUser())
        << tree;
  }
  // A collection without records stores nothing either.
  EXPECT_FALSE(UserData("jsmith", "ACME").CacheFirstUser());
  EXPECT_FALSE(RegKeyExists(kCache));
}

TEST_F(CacheTest, EveryValueHas260BytesAndLongTextsLoseTheirTerminator) {
  UserData data("jsmith", "ACME");
  data.SetServerName("ldap.acme.example");
  const std::string long_fdn = "cn=" + std::string(297, 'q');  // 300 bytes
  const std::string exact = std::string(260, 'c');             // 260 bytes
  data.AddUser("", long_fdn, exact, "o=acme");
  ASSERT_TRUE(data.CacheFirstUser());

  auto padded = [](const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.resize(260, 0);
    return StoredValue{platform::kRegSz, bytes};
  };
  platform::RegKey key;
  ASSERT_EQ(platform::kRegSuccess,
            key.Open(platform::RegKey::LocalMachine(), kAcmeSmith, platform::kKeyRead));
  EXPECT_EQ((std::map<std::string, StoredValue>{
                {"UserTree", padded("ACME")}, {"UserServer", padded("ldap.acme.example")},
                {"User", padded("")}, {"UserContext", padded(exact)},
                {"UserFDN", padded(long_fdn.substr(0, 260))},
                {"UserContextFDN", padded("o=acme")}}),
            testing::ReadAllValues(key));
  // Read back, a cut text is its 260 bytes.
  EXPECT_EQ(Loaded(true, {"ACME", "ldap.acme.example",
                          {{"", long_fdn.substr(0, 260), exact, "o=acme"}}}),
            Load("jsmith", "ACME"));
}

TEST_F(CacheTest, ReadingAcceptsAnyTypeUpTo265BytesAndStopsAtTheFirstZero) {
  StoreEntry("jsmith", "ACME", "server");
  SetRaw(kAcmeSmith, "User", platform::kRegBinary, {'a', 'b', 0, 'c'});
  // No zero at all, yet 265 bytes fit.
  SetRaw(kAcmeSmith, "UserContext", platform::kRegDword, std::vector<uint8_t>(265, 'u'));
  EXPECT_EQ(Loaded(true, {"ACME", "server",
                          {{"ab", "cn=jsmith", std::string(265, 'u'), "ou=sales.o=acme"}}}),
            Load("jsmith", "ACME"));
  // 266 bytes do not fit: the entry counts as incomplete.
  SetRaw(kAcmeSmith, "UserContext", platform::kRegSz, std::vector<uint8_t>(266, 'v'));
  EXPECT_EQ(Loaded(false, {"ACME", "server", {}}), Load("jsmith", "ACME"));
}

TEST_F(CacheTest, FailedReadKeepsTheCachedTreeAndServerAndRemovesNothing) {
  SetTreeless(true);
  StoreEntry("jsmith", "Acme", "10.0.0.9");
  const std::string entry = kCache + "\\+.TreeLess\\JSMITH";
  DeleteValue(entry, "User");
  EXPECT_EQ(Loaded(false, {"Acme", "10.0.0.9", {}}), Load("jsmith", "typed"));
  EXPECT_NE(StoredValue(), testing::ReadStored(entry, "UserFDN"));
  // Missing "UserServer": the tree read first stays; the server is left alone.
  DeleteValue(entry, "UserServer");
  EXPECT_EQ(Loaded(false, {"Acme", "before", {}}), Load("jsmith", "typed", "before"));
  // An incomplete entry is not validated, and stays.
  EXPECT_FALSE(UserData("jsmith", "Acme").ValidateCachedUser());
  EXPECT_TRUE(RegKeyExists(entry));
}

TEST_F(CacheTest, ChosenUserIsStoredOverTheEntry) {
  StoreEntry("jdoe", "ACME", "old");
  UserData data("jdoe", "ACME");
  data.SetServerName("new");
  data.AddUser("jdoe", "cn=jdoe", "sales.acme", "ou=sales.o=acme");
  const UserObj& second = data.AddUser("jdoe", "uid=jdoe", "eng.acme", "ou=eng.o=acme");
  ASSERT_TRUE(data.CacheChosenUser(second));
  EXPECT_EQ(Loaded(true, {"ACME", "new", {{"jdoe", "uid=jdoe", "eng.acme", "ou=eng.o=acme"}}}),
            Load("JDOE", "ACME"));
  // CacheFirstUser leaves the cursor on the first record.
  EXPECT_TRUE(data.CacheFirstUser());
  EXPECT_EQ(&second, data.GetNextUser());
}

TEST_F(CacheTest, CreatedKeysGetTheCacheAccessListExistingOnesKeepTheirs) {
  // Every key the one create makes gets the list, not only the entry.
  ASSERT_FALSE(RegKeyExists(kCache));
  StoreEntry("jsmith", "ACME", "server");
  for (const std::string& path : {kCache, kCache + "\\ACME", kAcmeSmith}) {
    EXPECT_EQ(kCacheSddl, testing::RegSddl(path)) << path;
  }
  // An entry key made beforehand without an access list keeps its security.
  const std::string existing = kCache + "\\ACME\\JDOE";
  CreateKey(existing);
  const std::string before = testing::RegSddl(existing);
  StoreEntry("jdoe", "ACME", "server");
  EXPECT_EQ(before, testing::RegSddl(existing));
  EXPECT_NE(kCacheSddl, before);
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
  EXPECT_EQ(std::make_pair(true, 1), std::make_pair(RegKeyExists(kAcmeSmith), data.GetUserCount()));
}

TEST(DirectoryLookupTest, CachedContextBecomesADnAndContextsCheckTheirArguments) {
  // A "." inside a value stays unless a type and "=" follow it (then, the
  // known limit, it reads as two RDNs).
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"cn=jsmith", "ou=sales.o=acme", "cn=jsmith,ou=sales,o=acme"}, {"cn=jsmith", "", "cn=jsmith"},
      {"cn=j.smith", "ou=example.com.dc=x-1", "cn=j.smith,ou=example.com,dc=x-1"},
      {"cn=a", "ou=v1.2.o=x", "cn=a,ou=v1.2,o=x"},
      {"cn=a", "ou=a\\,b.c.o=x", "cn=a,ou=a\\,b.c,o=x"},
      {"cn=a", "ou=a.b=c", "cn=a,ou=a,b=c"}, {"", "o=acme", "unset"}};
  for (const auto& c : cases) {
    std::string dn = "unset";
    EXPECT_EQ(std::get<0>(c)[0] != '\0', ContextToDn(std::get<0>(c), std::get<1>(c), &dn));
    EXPECT_EQ(std::get<2>(c), dn);
  }

  uint32_t context = 0;
  EXPECT_EQ(kDsBadParameter, QZDSCreateContext(nullptr));
  ASSERT_EQ(0u, QZDSCreateContext(&context));
  EXPECT_NE(0u, context);
  int reserved = 0;
  // No tree set: there is nothing to ask.
  EXPECT_EQ((std::vector<uint32_t>{kDsBadParameter, kDsBadParameter, kDsBadParameter,
                                   kDsBadParameter, kDsBadName, 0, kDsBadContext, kDsBadContext}),
            (std::vector<uint32_t>{QZDSSetContext(context, 4, "x"),
                                   QZDSSetContext(context, kDsSettingTreeName, nullptr),
                                   QZDSLookupName(context, "cn=a", &reserved, nullptr),
                                   QZDSLookupName(context, nullptr, nullptr, nullptr),
                                   QZDSLookupName(context, "cn=a", nullptr, nullptr),
                                   QZDSFreeContext(context), QZDSFreeContext(context),
                                   QZDSSetContext(context, kDsSettingTreeName, "ACME")}));
}

}  // namespace
}  // namespace wendrel
