// The registry semantics the extension relies on, pinned on both systems: the
// native store and, under Wine, the real registry must agree on every case.

#include <cstring>
#include <map>
#include <string>
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
  uint32_t value = 0;
  uint32_t size = sizeof(value);
  EXPECT_EQ(kRegSuccess, key.QueryValue("some VALUE", nullptr, &value, &size));
  EXPECT_EQ(7u, value);

  // Rewriting under another spelling replaces the value and keeps its name.
  uint32_t eight = 8;
  EXPECT_EQ(kRegSuccess, key.SetValue("SOME VALUE", kRegDword, &eight, sizeof(eight)));
  uint32_t subkeys = 99;
  uint32_t values = 99;
  EXPECT_EQ(kRegSuccess, key.QueryInfo(&subkeys, &values));
  EXPECT_EQ(0u, subkeys);
  EXPECT_EQ(1u, values);
  std::string name;
  std::vector<uint8_t> data;
  uint32_t type = 0;
  EXPECT_EQ(kRegSuccess, key.EnumValue(0, &name, &type, &data));
  EXPECT_EQ("Some Value", name);
  EXPECT_EQ(std::vector<uint8_t>({8, 0, 0, 0}), data);

  RegKey base = OpenBase();
  EXPECT_EQ(kRegSuccess, base.EnumSubKey(0, &name));
  EXPECT_EQ("Mixed Case", name);

  // Creating an existing key under another spelling opens it.
  bool created = true;
  RegKey again;
  EXPECT_EQ(kRegSuccess, again.Create(RegKey::LocalMachine(), Path("mixed CASE"), kKeyAllAccess,
                                      nullptr, &created));
  EXPECT_FALSE(created);
  EXPECT_EQ(kRegSuccess, base.QueryInfo(&subkeys, nullptr));
  EXPECT_EQ(1u, subkeys);
}

TEST_F(RegKeyTest, ShortBufferGivesMoreDataAndLeavesTheBufferAlone) {
  const std::vector<uint8_t> qword = {1, 2, 3, 4, 5, 6, 7, 8};
  SetRaw(kBase, "Big", kRegQword, qword);
  RegKey key = OpenBase(kKeyRead);

  uint32_t buffer = 0xAAAAAAAA;
  uint32_t size = sizeof(buffer);
  uint32_t type = 0;
  EXPECT_EQ(kRegMoreData, key.QueryValue("Big", &type, &buffer, &size));
  EXPECT_EQ(8u, size);
  EXPECT_EQ(0xAAAAAAAAu, buffer);
  EXPECT_EQ(static_cast<uint32_t>(kRegQword), type);

  // Without a type and without a buffer: only the size.
  size = 0;
  EXPECT_EQ(kRegSuccess, key.QueryValue("Big", nullptr, nullptr, &size));
  EXPECT_EQ(8u, size);

  uint8_t whole[16] = {};
  size = sizeof(whole);
  EXPECT_EQ(kRegSuccess, key.QueryValue("Big", nullptr, whole, &size));
  EXPECT_EQ(8u, size);
  EXPECT_EQ(0, std::memcmp(whole, qword.data(), 8));
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
  EXPECT_EQ(2u, size);
  EXPECT_EQ(0x00011234u, number);
  EXPECT_EQ(static_cast<uint32_t>(kRegBinary), type);

  size = 4;
  EXPECT_EQ(kRegSuccess, key.QueryValue("Empty", &type, &number, &size));
  EXPECT_EQ(0u, size);
  EXPECT_EQ(static_cast<uint32_t>(kRegNone), type);

  char text[64] = {};
  size = sizeof(text);
  EXPECT_EQ(kRegSuccess, key.QueryValue("", &type, text, &size));
  EXPECT_EQ(static_cast<uint32_t>(kRegSz), type);
  EXPECT_EQ(14u, size);
  EXPECT_STREQ("default value", text);
}

TEST_F(RegKeyTest, MissingKeysAndValuesAreNotFound) {
  RegKey key;
  EXPECT_EQ(kRegFileNotFound, key.Open(RegKey::LocalMachine(), Path("Nowhere"), kKeyRead));
  EXPECT_FALSE(key.is_open());

  CreateKey(kBase);
  key = OpenBase();
  uint32_t value = 5;
  uint32_t size = sizeof(value);
  EXPECT_EQ(kRegFileNotFound, key.QueryValue("Missing", nullptr, &value, &size));
  EXPECT_EQ(5u, value);
  EXPECT_EQ(kRegFileNotFound, key.DeleteValue("Missing"));
  EXPECT_EQ(kRegFileNotFound, key.DeleteSubKey("Missing"));

  RegKey closed;
  EXPECT_EQ(kRegInvalidHandle, closed.QueryValue("x", nullptr, &value, &size));
  EXPECT_EQ(kRegInvalidHandle, key.Open(closed, "x", kKeyRead));
  EXPECT_FALSE(key.is_open());
}

TEST_F(RegKeyTest, KeysWithSubkeysAreNotDeleted) {
  SetDword(Path("Child\\Grandchild"), "Deep", 1);
  SetDword(Path("Child"), "Kept", 2);
  RegKey base = OpenBase();

  EXPECT_EQ(kRegAccessDenied, base.DeleteSubKey("Child"));
  RegKey child;
  ASSERT_EQ(kRegSuccess, child.Open(base, "Child", kKeyRead));
  uint32_t value = 0;
  uint32_t size = sizeof(value);
  EXPECT_EQ(kRegSuccess, child.QueryValue("Kept", nullptr, &value, &size));
  EXPECT_EQ(2u, value);
  child.Close();

  EXPECT_EQ(kRegSuccess, base.DeleteSubKey("Child\\Grandchild"));
  EXPECT_EQ(kRegSuccess, base.DeleteSubKey("child"));
  EXPECT_EQ(kRegFileNotFound, child.Open(base, "Child", kKeyRead));

  // A key created again in its place starts without the old values.
  CreateKey(Path("Child"));
  ASSERT_EQ(kRegSuccess, child.Open(base, "Child", kKeyRead));
  uint32_t values = 99;
  EXPECT_EQ(kRegSuccess, child.QueryInfo(nullptr, &values));
  EXPECT_EQ(0u, values);
}

TEST_F(RegKeyTest, EnumeratesSubkeysByNameAndEveryValue) {
  CreateKey(Path("beta"));
  CreateKey(Path("Alpha"));
  CreateKey(Path("gamma"));
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

  std::map<std::string, std::pair<uint32_t, std::vector<uint8_t>>> values;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  for (index = 0; base.EnumValue(index, &name, &type, &data) == kRegSuccess; ++index) {
    values[name] = {type, data};
  }
  EXPECT_EQ(kRegNoMoreItems, base.EnumValue(index, &name, &type, &data));
  ASSERT_EQ(3u, values.size());
  EXPECT_EQ(std::make_pair(uint32_t{kRegDword}, std::vector<uint8_t>({1, 0, 0, 0})),
            values["One"]);
  EXPECT_EQ(std::make_pair(uint32_t{kRegSz}, std::vector<uint8_t>({'2', 0})), values["Two"]);
  EXPECT_EQ(std::make_pair(uint32_t{kRegBinary}, std::vector<uint8_t>({9})), values[""]);

  uint32_t subkeys = 0;
  uint32_t count = 0;
  EXPECT_EQ(kRegSuccess, base.QueryInfo(&subkeys, &count));
  EXPECT_EQ(3u, subkeys);
  EXPECT_EQ(3u, count);
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
  uint32_t value = 0;
  uint32_t size = sizeof(value);
  EXPECT_EQ(kRegSuccess, query_only.QueryValue("Value", nullptr, &value, &size));
  EXPECT_EQ(1u, value);
}

TEST_F(RegKeyTest, HandleOfADeletedKeyReportsIt) {
  SetDword(Path("Doomed"), "Value", 1);
  RegKey doomed;
  ASSERT_EQ(kRegSuccess, doomed.Open(RegKey::LocalMachine(), Path("Doomed"), kKeyAllAccess));
  RegKey base = OpenBase();
  ASSERT_EQ(kRegSuccess, base.DeleteSubKey("Doomed"));

  uint32_t value = 0;
  uint32_t size = sizeof(value);
  EXPECT_EQ(kRegKeyDeleted, doomed.QueryValue("Value", nullptr, &value, &size));
  EXPECT_EQ(kRegKeyDeleted, doomed.SetValue("Value", kRegDword, &value, sizeof(value)));
  RegKey below;
  EXPECT_EQ(kRegKeyDeleted, below.Create(doomed, "Below", kKeyAllAccess, nullptr, nullptr));

  // A new key of the same name is another key: the old handle stays stale.
  CreateKey(Path("Doomed"));
  EXPECT_EQ(kRegKeyDeleted, doomed.QueryValue("Value", nullptr, &value, &size));
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
  std::vector<uint8_t> descriptor;
  ASSERT_EQ(kRegSuccess, key.GetSecurity(&descriptor));
  EXPECT_EQ("D:(A;;KA;;;WD)(A;;KA;;;BA)", SecurityDescriptorToSddl(descriptor));

  // Opening it again, with or without a list, creates nothing and keeps it.
  RegKey again;
  ASSERT_EQ(kRegSuccess,
            again.Create(RegKey::LocalMachine(), path, kKeyAllAccess, nullptr, &created));
  EXPECT_FALSE(created);
  descriptor.clear();
  ASSERT_EQ(kRegSuccess, again.GetSecurity(&descriptor));
  EXPECT_EQ("D:(A;;KA;;;WD)(A;;KA;;;BA)", SecurityDescriptorToSddl(descriptor));
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
