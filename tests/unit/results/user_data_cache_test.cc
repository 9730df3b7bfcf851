// The results cache against the real registry of each build: the native
// store, and Wine's registry under the Windows build. No directory server is
// configured here, so every directory check fails; the integration tests
// cover the checks that pass.

#include <cstdint>
#include <string>
#include <vector>

#include "config/ldap_config_options.h"
#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/security_descriptor.h"
#include "results/cache_entry_path.h"
#include "results/user_data.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace {

using platform::RegKey;

const std::string kCache = kCachedResultsKeyPath;
const char* const kValueNames[] = {"UserTree", "UserServer", "User",
                                   "UserContext", "UserFDN", "UserContextFDN"};

class CacheTest : public testing::RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    SetTreeless(false);
  }

  void SetTreeless(bool on) { SetDword(kOptionsKeyPath, "Treeless Login Enabled", on ? 1 : 0); }

  static bool KeyExists(const std::string& path) {
    RegKey key;
    return key.Open(RegKey::LocalMachine(), path, platform::kKeyRead) == platform::kRegSuccess;
  }

  // The stored value: its type and raw data; false when it is missing.
  static bool RawValue(const std::string& path, const std::string& name, uint32_t* type,
                       std::vector<uint8_t>* data) {
    RegKey key;
    if (key.Open(RegKey::LocalMachine(), path, platform::kKeyRead) != platform::kRegSuccess) {
      return false;
    }
    uint32_t size = 0;
    if (key.QueryValue(name, type, nullptr, &size) != platform::kRegSuccess) return false;
    data->assign(size, 0xEE);
    return key.QueryValue(name, type, data->data(), &size) == platform::kRegSuccess;
  }

  // A complete entry as the extension writes it.
  void StoreEntry(const std::string& name, const std::string& tree, const std::string& server) {
    UserData data(name, tree);
    data.SetServerName(server);
    data.AddUser("jsmith", "cn=jsmith", "sales.acme", "ou=sales.o=acme");
    ASSERT_TRUE(data.CacheFirstUser());
  }
};

TEST_F(CacheTest, StoreAndLoadInBothModes) {
  StoreEntry("jsmith", "Acme", "10.0.0.1");
  // The tree part is the tree as given; the name is upper-cased.
  const std::string entry = kCache + "\\Acme\\JSMITH";
  EXPECT_TRUE(KeyExists(entry));

  UserData loaded("jsmith", "Acme");
  ASSERT_TRUE(loaded.ReadCachedUser());
  EXPECT_EQ("Acme", loaded.GetTreeName());
  EXPECT_EQ("10.0.0.1", loaded.GetServerName());
  ASSERT_EQ(1, loaded.GetUserCount());
  const UserObj* user = loaded.GetFirstUser();
  EXPECT_EQ("jsmith", user->GetUser());
  EXPECT_EQ("sales.acme", user->GetUserContext());
  EXPECT_EQ("cn=jsmith", user->GetUserFDN());
  EXPECT_EQ("ou=sales.o=acme", user->GetUserContextFDN());
  std::string mail = "unchanged";
  EXPECT_FALSE(user->GetAttribute("mail", &mail));
  EXPECT_EQ("unchanged", mail);

  // Another tree has no entry for the name.
  UserData other_tree("jsmith", "OTHER");
  EXPECT_FALSE(other_tree.ReadCachedUser());
  EXPECT_EQ(0, other_tree.GetUserCount());

  // Treeless login: one tree part for all trees; the tree found comes back.
  SetTreeless(true);
  StoreEntry("jsmith", "Acme", "10.0.0.2");
  EXPECT_TRUE(KeyExists(kCache + "\\+.TreeLess\\JSMITH"));
  UserData treeless("jsmith", "");
  ASSERT_TRUE(treeless.ReadCachedUser());
  EXPECT_EQ("Acme", treeless.GetTreeName());
  EXPECT_EQ("10.0.0.2", treeless.GetServerName());

  // The entries of the other mode stay where they were.
  SetTreeless(false);
  UserData back("jsmith", "Acme");
  ASSERT_TRUE(back.ReadCachedUser());
  EXPECT_EQ("10.0.0.1", back.GetServerName());
}

TEST_F(CacheTest, NamesDifferingInCaseOfAsciiLettersShareAnEntry) {
  StoreEntry("jSmith", "ACME", "first");
  StoreEntry("JSMITH", "ACME", "second");
  UserData lower("jsmith", "ACME");
  ASSERT_TRUE(lower.ReadCachedUser());
  EXPECT_EQ("second", lower.GetServerName());

  // Only a-z change: the rest of the name is kept, written in the ANSI code
  // page (Windows-1252 on both builds here).
  std::string part;
  ASSERT_TRUE(CacheNamePart("j.o-s\xC3\xA9_1", &part));
  EXPECT_EQ("J.O-S\xE9_1", part);
  StoreEntry("j.o-s\xC3\xA9_1", "ACME", "third");
  EXPECT_TRUE(KeyExists(kCache + "\\ACME\\J.O-S\xE9_1"));
}

TEST_F(CacheTest, NamesAndTreesWithoutASingleEntryKeyAreNotCached) {
  std::string path;
  // A name the ANSI code page cannot hold: it would be written with '?', and
  // every Cyrillic name of the same length would share the entry.
  EXPECT_FALSE(FormatCacheEntryPath("\xD0\x96\xD0\xB0", "ACME", false, &path));
  EXPECT_FALSE(FormatCacheEntryPath("a\\b", "ACME", false, &path));
  EXPECT_FALSE(FormatCacheEntryPath("", "ACME", false, &path));
  EXPECT_FALSE(FormatCacheEntryPath("jsmith", "", false, &path));
  EXPECT_FALSE(FormatCacheEntryPath("jsmith", "AC\\ME", false, &path));
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
  EXPECT_FALSE(KeyExists(kCache));

  // A collection without records stores nothing.
  UserData empty("jsmith", "ACME");
  EXPECT_FALSE(empty.CacheFirstUser());
  EXPECT_FALSE(KeyExists(kCache));
}

TEST_F(CacheTest, EveryValueHas260BytesAndLongTextsLoseTheirTerminator) {
  UserData data("jsmith", "ACME");
  data.SetServerName("ldap.acme.example");
  const std::string long_fdn = "cn=" + std::string(297, 'q');  // 300 bytes
  const std::string exact = std::string(260, 'c');             // 260 bytes
  data.AddUser("", long_fdn, exact, "o=acme");
  ASSERT_TRUE(data.CacheFirstUser());

  const std::string entry = kCache + "\\ACME\\JSMITH";
  for (const char* name : kValueNames) {
    uint32_t type = 0;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(RawValue(entry, name, &type, &bytes)) << name;
    EXPECT_EQ(static_cast<uint32_t>(platform::kRegSz), type) << name;
    EXPECT_EQ(260u, bytes.size()) << name;
  }
  uint32_t type = 0;
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(RawValue(entry, "UserServer", &type, &bytes));
  const std::string server = "ldap.acme.example";
  EXPECT_EQ(server, std::string(bytes.begin(), bytes.begin() + server.size()));
  EXPECT_EQ(std::vector<uint8_t>(260 - server.size(), 0),
            std::vector<uint8_t>(bytes.begin() + server.size(), bytes.end()));
  ASSERT_TRUE(RawValue(entry, "User", &type, &bytes));
  EXPECT_EQ(std::vector<uint8_t>(260, 0), bytes);
  ASSERT_TRUE(RawValue(entry, "UserFDN", &type, &bytes));
  EXPECT_EQ(long_fdn.substr(0, 260), std::string(bytes.begin(), bytes.end()));

  // Read back, a cut text is its 260 bytes.
  UserData loaded("jsmith", "ACME");
  ASSERT_TRUE(loaded.ReadCachedUser());
  EXPECT_EQ(long_fdn.substr(0, 260), loaded.GetFirstUser()->GetUserFDN());
  EXPECT_EQ(exact, loaded.GetFirstUser()->GetUserContext());
  EXPECT_EQ("", loaded.GetFirstUser()->GetUser());
}

TEST_F(CacheTest, ReadingAcceptsAnyTypeUpTo265BytesAndStopsAtTheFirstZero) {
  StoreEntry("jsmith", "ACME", "server");
  const std::string entry = kCache + "\\ACME\\JSMITH";
  SetRaw(entry, "User", platform::kRegBinary, {'a', 'b', 0, 'c'});
  std::vector<uint8_t> full(265, 'u');  // no zero at all, yet 265 bytes fit
  SetRaw(entry, "UserContext", platform::kRegDword, full);
  UserData loaded("jsmith", "ACME");
  ASSERT_TRUE(loaded.ReadCachedUser());
  EXPECT_EQ("ab", loaded.GetFirstUser()->GetUser());
  EXPECT_EQ(std::string(265, 'u'), loaded.GetFirstUser()->GetUserContext());

  // 266 bytes do not fit: the entry counts as incomplete.
  SetRaw(entry, "UserContext", platform::kRegSz, std::vector<uint8_t>(266, 'v'));
  UserData too_long("jsmith", "ACME");
  EXPECT_FALSE(too_long.ReadCachedUser());
  EXPECT_EQ(0, too_long.GetUserCount());
}

TEST_F(CacheTest, FailedReadKeepsTheCachedTreeAndServer) {
  SetTreeless(true);
  StoreEntry("jsmith", "Acme", "10.0.0.9");
  const std::string entry = kCache + "\\+.TreeLess\\JSMITH";
  DeleteValue(entry, "User");
  UserData data("jsmith", "typed");
  EXPECT_FALSE(data.ReadCachedUser());
  EXPECT_EQ(0, data.GetUserCount());
  EXPECT_EQ("Acme", data.GetTreeName());
  EXPECT_EQ("10.0.0.9", data.GetServerName());
  // A failed read removes nothing.
  uint32_t type = 0;
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(RawValue(entry, "UserFDN", &type, &bytes));

  // Missing "UserServer": the tree was read first and stays; the server is
  // left as it was.
  DeleteValue(entry, "UserServer");
  UserData second("jsmith", "typed");
  second.SetServerName("before");
  EXPECT_FALSE(second.ReadCachedUser());
  EXPECT_EQ("Acme", second.GetTreeName());
  EXPECT_EQ("before", second.GetServerName());
}

TEST_F(CacheTest, ChosenUserIsStoredOverTheEntry) {
  StoreEntry("jdoe", "ACME", "old");
  UserData data("jdoe", "ACME");
  data.SetServerName("new");
  data.AddUser("jdoe", "cn=jdoe", "sales.acme", "ou=sales.o=acme");
  const UserObj& second = data.AddUser("jdoe", "uid=jdoe", "eng.acme", "ou=eng.o=acme");
  ASSERT_TRUE(data.CacheChosenUser(second));

  UserData loaded("JDOE", "ACME");
  ASSERT_TRUE(loaded.ReadCachedUser());
  const UserObj* user = loaded.GetFirstUser();
  EXPECT_EQ("jdoe", user->GetUser());
  EXPECT_EQ("eng.acme", user->GetUserContext());
  EXPECT_EQ("uid=jdoe", user->GetUserFDN());
  EXPECT_EQ("ou=eng.o=acme", user->GetUserContextFDN());
  EXPECT_EQ("new", loaded.GetServerName());

  // CacheFirstUser leaves the cursor on the first record.
  EXPECT_TRUE(data.CacheFirstUser());
  EXPECT_EQ(&second, data.GetNextUser());
}

TEST_F(CacheTest, CreatedKeysGetTheCacheAccessListExistingOnesKeepTheirs) {
  // Every key the store's create makes gets the list, not only the entry:
  // CachedResults and the tree key are created by the same call.
  ASSERT_FALSE(KeyExists(kCache));
  StoreEntry("jsmith", "ACME", "server");
  RegKey key;
  for (const std::string& path : {kCache, kCache + "\\ACME", kCache + "\\ACME\\JSMITH"}) {
    ASSERT_EQ(platform::kRegSuccess, key.Open(RegKey::LocalMachine(), path, platform::kKeyRead))
        << path;
    std::vector<uint8_t> descriptor;
    ASSERT_EQ(platform::kRegSuccess, key.GetSecurity(&descriptor)) << path;
    EXPECT_EQ("D:(A;;KA;;;WD)(A;;KA;;;BA)", platform::SecurityDescriptorToSddl(descriptor))
        << path;
  }

  // An entry key made beforehand without an access list keeps its security.
  const std::string existing = kCache + "\\ACME\\JDOE";
  CreateKey(existing);
  std::vector<uint8_t> before;
  ASSERT_EQ(platform::kRegSuccess,
            key.Open(RegKey::LocalMachine(), existing, platform::kKeyRead));
  ASSERT_EQ(platform::kRegSuccess, key.GetSecurity(&before));
  StoreEntry("jdoe", "ACME", "server");
  std::vector<uint8_t> after;
  ASSERT_EQ(platform::kRegSuccess,
            key.Open(RegKey::LocalMachine(), existing, platform::kKeyRead));
  ASSERT_EQ(platform::kRegSuccess, key.GetSecurity(&after));
  EXPECT_EQ(before, after);
  EXPECT_NE("D:(A;;KA;;;WD)(A;;KA;;;BA)", platform::SecurityDescriptorToSddl(after));
}

TEST_F(CacheTest, StaleEntryIsRemovedAndTheTreeKeyStays) {
  // No server is configured: the directory cannot confirm the user.
  StoreEntry("jsmith", "ACME", "server");
  StoreEntry("jdoe", "ACME", "server");
  UserData data("jsmith", "ACME");
  EXPECT_FALSE(data.ValidateCachedUser());
  EXPECT_FALSE(KeyExists(kCache + "\\ACME\\JSMITH"));
  EXPECT_TRUE(KeyExists(kCache + "\\ACME"));
  EXPECT_TRUE(KeyExists(kCache + "\\ACME\\JDOE"));
  EXPECT_EQ(0, data.GetUserCount());

  // An incomplete entry is left untouched, whatever the directory says.
  DeleteValue(kCache + "\\ACME\\JDOE", "UserContext");
  UserData incomplete("jdoe", "ACME");
  EXPECT_FALSE(incomplete.ValidateCachedUser());
  EXPECT_TRUE(KeyExists(kCache + "\\ACME\\JDOE"));
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
  EXPECT_TRUE(KeyExists(kCache + "\\ACME\\JSMITH"));
  EXPECT_EQ(1, data.GetUserCount());
}

}  // namespace
}  // namespace wendrel
