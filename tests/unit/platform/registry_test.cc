// The registry semantics the extension relies on, pinned on both systems: the
// native store and, under Wine, the real registry must agree on every case.

#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/security_descriptor.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace platform {
namespace {

constexpr char kBase[] = "Software\\Tarvos\\RegistryTest";

std::string Path(const std::string& below) { return std::string(kBase) + "\\" + below; }
using testing::Dword;
using testing::ReadAllValues;
using testing::ReadStored;
using testing::RegCounts;
using testing::Sz;
using Values = std::map<std::string, testing::StoredValue>;

class RegKeyTest : public testing::RegistryTest {
 protected:
  RegKey OpenBase(uint32_t access = kKeyAllAccess) {
    RegKey key;
    EXPECT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), kBase, access));
    return key;
  }
};

TEST_F(RegKeyTest, NamesIgnoreCaseAndKeepTheirCase) {
  SetDword(Path("Mixed Case"), "Some Value", 7);
  RegKey key;
  ASSERT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(),
                                  "SOFTWARE\\tarvos\\registrytest\\MIXED case", kKeyAllAccess));
  EXPECT_EQ(Dword(7), ReadStored(key, "some VALUE"));

  // Rewriting under another spelling replaces the value and keeps its name.
  uint32_t eight = 8;
  EXPECT_EQ(kRegSuccess, key.SetValue("SOME VALUE", kRegDword, &eight, sizeof(eight)));
  EXPECT_EQ(std::make_pair(0u, 1u), RegCounts(key));
  EXPECT_EQ((Values{{"Some Value", Dword(8)}}), ReadAllValues(key));
  RegKey base = OpenBase();
  std::string name;
  EXPECT_EQ(kRegSuccess, base.EnumSubKey(0, &name));
  EXPECT_EQ("Mixed Case", name);

  // Creating an existing key under another spelling opens it.
  bool created = true;
  RegKey again;
  EXPECT_EQ(kRegSuccess, again.Create(RegKey::LocalMachine(), Path("mixed CASE"), kKeyAllAccess,
                                      nullptr, &created));
  EXPECT_FALSE(created);
  EXPECT_EQ(1u, RegCounts(base).first);
}

TEST_F(RegKeyTest, ShortBufferGivesMoreDataAndLeavesTheBufferAlone) {
  const std::vector<uint8_t> qword = {1, 2, 3, 4, 5, 6, 7, 8};
  SetRaw(kBase, "Big", kRegQword, qword);
  SetString(kBase, "Text", std::string(200, 'x'));  // longer than one request's first try
  RegKey key = OpenBase(kKeyRead);

  uint32_t buffer = 0xAAAAAAAA;
  uint32_t size = sizeof(buffer);
  uint32_t type = 0;
  EXPECT_EQ(kRegMoreData, key.QueryValue("Big", &type, &buffer, &size));
  EXPECT_EQ(std::make_tuple(8u, 0xAAAAAAAAu, uint32_t{kRegQword}),
            std::make_tuple(size, buffer, type));
  // Without a type and without a buffer: only the size.
  size = 0;
  EXPECT_EQ(kRegSuccess, key.QueryValue("Big", nullptr, nullptr, &size));
  EXPECT_EQ(8u, size);
  uint8_t whole[16] = {};
  size = sizeof(whole);
  EXPECT_EQ(kRegSuccess, key.QueryValue("Big", nullptr, whole, &size));
  EXPECT_EQ(qword, std::vector<uint8_t>(whole, whole + size));
  // A string short of room for its terminator alone.
  char text[200];
  std::memset(text, 'A', sizeof text);
  size = sizeof(text);
  EXPECT_EQ(kRegMoreData, key.QueryValue("Text", &type, text, &size));
  EXPECT_EQ(std::make_tuple(201u, std::string(200, 'A'), uint32_t{kRegSz}),
            std::make_tuple(size, std::string(text, sizeof text), type));
}

TEST_F(RegKeyTest, ValuesKeepTypeAndBytes) {
  SetRaw(kBase, "Short", kRegBinary, {0x34, 0x12});
  SetRaw(kBase, "Empty", kRegNone, {});
  SetString(kBase, "", "default value");
  RegKey key = OpenBase(kKeyRead);

  // Data shorter than the buffer fill its start; the rest keeps the default.
  uint32_t number = 0x00010001;
  uint32_t size = sizeof(number);
  uint32_t type = 0;
  EXPECT_EQ(kRegSuccess, key.QueryValue("Short", &type, &number, &size));
  EXPECT_EQ(std::make_tuple(2u, 0x00011234u, uint32_t{kRegBinary}),
            std::make_tuple(size, number, type));
  size = 4;
  EXPECT_EQ(kRegSuccess, key.QueryValue("Empty", &type, &number, &size));
  EXPECT_EQ(std::make_tuple(0u, uint32_t{kRegNone}), std::make_tuple(size, type));
  char text[64] = {};
  size = sizeof(text);
  EXPECT_EQ(kRegSuccess, key.QueryValue("", &type, text, &size));
  EXPECT_EQ(std::make_tuple(14u, uint32_t{kRegSz}, std::string("default value")),
            std::make_tuple(size, type, std::string(text)));
}

TEST_F(RegKeyTest, MissingKeysAndValuesAreNotFound) {
  RegKey key;
  EXPECT_EQ(kRegFileNotFound, key.Open(RegKey::LocalMachine(), Path("Nowhere"), kKeyRead));
  EXPECT_FALSE(key.is_open());

  CreateKey(kBase);
  key = OpenBase();
  uint32_t value = 5;
  EXPECT_EQ(kRegFileNotFound, testing::QueryDword(key, "Missing", &value));
  EXPECT_EQ(5u, value);
  EXPECT_EQ(kRegFileNotFound, key.DeleteValue("Missing"));
  EXPECT_EQ(kRegFileNotFound, key.DeleteSubKey("Missing"));

  RegKey closed;
  EXPECT_EQ(kRegInvalidHandle, testing::QueryDword(closed, "x", &value));
  EXPECT_EQ(kRegInvalidHandle, key.Open(closed, "x", kKeyRead));
  EXPECT_FALSE(key.is_open());
}

TEST_F(RegKeyTest, KeysWithSubkeysAreNotDeleted) {
  SetDword(Path("Child\\Grandchild"), "Deep", 1);
  SetDword(Path("Child"), "Kept", 2);
  RegKey base = OpenBase();

  EXPECT_EQ(kRegAccessDenied, base.DeleteSubKey("Child"));
  EXPECT_EQ(Dword(2), ReadStored(Path("Child"), "Kept"));
  EXPECT_EQ(kRegSuccess, base.DeleteSubKey("Child\\Grandchild"));
  EXPECT_EQ(kRegSuccess, base.DeleteSubKey("child"));
  RegKey child;
  EXPECT_EQ(kRegFileNotFound, child.Open(base, "Child", kKeyRead));

  // A key created again in its place starts without the old values.
  CreateKey(Path("Child"));
  ASSERT_EQ(kRegSuccess, child.Open(base, "Child", kKeyRead));
  EXPECT_EQ(0u, RegCounts(child).second);
}

TEST_F(RegKeyTest, EnumeratesSubkeysByNameAndEveryValue) {
  for (const char* name : {"beta", "Alpha", "gamma"}) CreateKey(Path(name));
  SetDword(kBase, "One", 1);
  SetString(kBase, "Two", "2");
  SetRaw(kBase, "", kRegBinary, {9});
  RegKey base = OpenBase(kKeyRead);

  std::vector<std::string> keys;
  std::string name;
  uint32_t index = 0;
  for (; base.EnumSubKey(index, &name) == kRegSuccess; ++index) keys.push_back(name);
  EXPECT_EQ(std::vector<std::string>({"Alpha", "beta", "gamma"}), keys);
  EXPECT_EQ(kRegNoMoreItems, base.EnumSubKey(index, &name));
  EXPECT_EQ((Values{{"One", Dword(1)}, {"Two", Sz("2")}, {"", {kRegBinary, {9}}}}),
            ReadAllValues(base));
  EXPECT_EQ(kRegNoMoreItems, base.EnumValue(3, &name, nullptr, nullptr));
  EXPECT_EQ(std::make_pair(3u, 3u), RegCounts(base));
}

TEST_F(RegKeyTest, HandleRightsAreEnforced) {
  SetDword(kBase, "Value", 1);
  RegKey read_only = OpenBase(kKeyRead);
  uint32_t two = 2;
  EXPECT_EQ(kRegAccessDenied, read_only.SetValue("Value", kRegDword, &two, sizeof(two)));
  EXPECT_EQ(kRegAccessDenied, read_only.DeleteValue("Value"));

  RegKey query_only = OpenBase(kKeyQueryValue);
  std::string name;
  EXPECT_EQ(kRegAccessDenied, query_only.EnumSubKey(0, &name));
  EXPECT_EQ(Dword(1), ReadStored(query_only, "Value"));
}

TEST_F(RegKeyTest, HandleOfADeletedKeyReportsIt) {
  SetDword(Path("Doomed"), "Value", 1);
  RegKey doomed;
  ASSERT_EQ(kRegSuccess, doomed.Open(RegKey::LocalMachine(), Path("Doomed"), kKeyAllAccess));
  ASSERT_EQ(kRegSuccess, OpenBase().DeleteSubKey("Doomed"));

  uint32_t value = 0;
  EXPECT_EQ(kRegKeyDeleted, testing::QueryDword(doomed, "Value", &value));
  EXPECT_EQ(kRegKeyDeleted, doomed.SetValue("Value", kRegDword, &value, sizeof(value)));
  RegKey below;
  EXPECT_EQ(kRegKeyDeleted, below.Create(doomed, "Below", kKeyAllAccess, nullptr, nullptr));
  // A new key of the same name is another key: the old handle stays stale.
  CreateKey(Path("Doomed"));
  EXPECT_EQ(kRegKeyDeleted, testing::QueryDword(doomed, "Value", &value));
}

TEST_F(RegKeyTest, KeyCreatedWithAnAccessListKeepsIt) {
  const std::vector<KeyAccessEntry> acl = {
      {"S-1-1-0", kTrusteeIsWellKnownGroup, kKeyAllAccess},
      {"S-1-5-32-544", kTrusteeIsGroup, kKeyAllAccess},
  };
  const std::string path = "Software\\Tarvos\\LDAP\\CachedResults\\ACME\\JSMITH";
  RegKey key;
  bool created = false;
  ASSERT_EQ(kRegSuccess, key.Create(RegKey::LocalMachine(), path, kKeyAllAccess, &acl, &created));
  EXPECT_TRUE(created);
  EXPECT_EQ("D:(A;;KA;;;WD)(A;;KA;;;BA)", testing::RegSddl(key));

  // Opening it again, without a list, creates nothing and keeps it.
  RegKey again;
  ASSERT_EQ(kRegSuccess,
            again.Create(RegKey::LocalMachine(), path, kKeyAllAccess, nullptr, &created));
  EXPECT_FALSE(created);
  EXPECT_EQ("D:(A;;KA;;;WD)(A;;KA;;;BA)", testing::RegSddl(again));
}

TEST_F(RegKeyTest, BadAccessListCreatesNothing) {
  const std::vector<KeyAccessEntry> acl = {{"S-1-bogus", kTrusteeIsGroup, kKeyAllAccess}};
  RegKey key;
  bool created = true;
  EXPECT_NE(kRegSuccess,
            key.Create(RegKey::LocalMachine(), Path("Secured"), kKeyAllAccess, &acl, &created));
  EXPECT_FALSE(created);
  EXPECT_FALSE(key.is_open());
  EXPECT_EQ(kRegFileNotFound, key.Open(RegKey::LocalMachine(), kBase, kKeyRead));
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
