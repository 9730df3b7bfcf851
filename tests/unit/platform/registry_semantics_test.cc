// The registry semantics the extension relies on, on which the native store
// and Wine's registry must agree; the calls the port counts; the security
// descriptors of access lists.

#include <array>
#include <cstring>
#include <map>
#include <tuple>
#include <vector>

#include "gtest/gtest.h"
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
using Statuses = std::vector<int32_t>;

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
  EXPECT_EQ(std::make_pair(false, 1u), std::make_pair(created, RegCounts(base).first));
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
  RegKey key, closed;
  EXPECT_EQ(kRegFileNotFound, key.Open(RegKey::LocalMachine(), Path("Nowhere"), kKeyRead));
  EXPECT_FALSE(key.is_open());
  CreateKey(kBase);
  key = OpenBase();
  uint32_t value = 5;
  EXPECT_EQ((Statuses{kRegFileNotFound, kRegFileNotFound, kRegFileNotFound, kRegInvalidHandle,
                      kRegInvalidHandle}),
            (Statuses{testing::QueryDword(key, "Missing", &value), key.DeleteValue("Missing"),
                      key.DeleteSubKey("Missing"), testing::QueryDword(closed, "x", &value),
                      key.Open(closed, "x", kKeyRead)}));
  EXPECT_EQ(5u, value);
  EXPECT_FALSE(key.is_open());
}

TEST_F(RegKeyTest, KeysWithSubkeysAreNotDeleted) {
  SetDword(Path("Child\\Grandchild"), "Deep", 1);
  SetDword(Path("Child"), "Kept", 2);
  RegKey base = OpenBase();

  EXPECT_EQ(kRegAccessDenied, base.DeleteSubKey("Child"));
  EXPECT_EQ(Dword(2), ReadStored(Path("Child"), "Kept"));
  RegKey child;
  EXPECT_EQ((Statuses{kRegSuccess, kRegSuccess, kRegFileNotFound}),
            (Statuses{base.DeleteSubKey("Child\\Grandchild"), base.DeleteSubKey("child"),
                      child.Open(base, "Child", kKeyRead)}));

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
  EXPECT_EQ((Values{{"One", Dword(1)}, {"Two", Sz("2")}, {"", {kRegBinary, {9}}}}),
            ReadAllValues(base));
  EXPECT_EQ((Statuses{kRegNoMoreItems, kRegNoMoreItems}),
            (Statuses{base.EnumSubKey(index, &name), base.EnumValue(3, &name, nullptr, nullptr)}));
  EXPECT_EQ(std::make_pair(3u, 3u), RegCounts(base));
}

TEST_F(RegKeyTest, HandleRightsAreEnforced) {
  SetDword(kBase, "Value", 1);
  RegKey read_only = OpenBase(kKeyRead), query_only = OpenBase(kKeyQueryValue);
  uint32_t two = 2;
  std::string name;
  EXPECT_EQ((Statuses{kRegAccessDenied, kRegAccessDenied, kRegAccessDenied}),
            (Statuses{read_only.SetValue("Value", kRegDword, &two, sizeof(two)),
                      read_only.DeleteValue("Value"), query_only.EnumSubKey(0, &name)}));
  EXPECT_EQ(Dword(1), ReadStored(query_only, "Value"));
}

TEST_F(RegKeyTest, HandleOfADeletedKeyReportsIt) {
  SetDword(Path("Doomed"), "Value", 1);
  RegKey doomed;
  ASSERT_EQ(kRegSuccess, doomed.Open(RegKey::LocalMachine(), Path("Doomed"), kKeyAllAccess));
  ASSERT_EQ(kRegSuccess, OpenBase().DeleteSubKey("Doomed"));

  uint32_t value = 0;
  RegKey below;
  const Statuses stale = {testing::QueryDword(doomed, "Value", &value),
                          doomed.SetValue("Value", kRegDword, &value, sizeof(value)),
                          below.Create(doomed, "Below", kKeyAllAccess, nullptr, nullptr)};
  EXPECT_EQ(Statuses(3, kRegKeyDeleted), stale);
  // A new key of the same name is another key: the old handle stays stale.
  CreateKey(Path("Doomed"));
  EXPECT_EQ(kRegKeyDeleted, testing::QueryDword(doomed, "Value", &value));
}

TEST_F(RegKeyTest, BadAccessListCreatesNothing) {
  const std::vector<KeyAccessEntry> acl = {{"S-1-bogus", kTrusteeIsGroup, kKeyAllAccess}};
  RegKey key;
  bool created = true;
  EXPECT_NE(kRegSuccess,
            key.Create(RegKey::LocalMachine(), Path("Secured"), kKeyAllAccess, &acl, &created));
  EXPECT_FALSE(created || key.is_open());
  EXPECT_EQ(kRegFileNotFound, key.Open(RegKey::LocalMachine(), kBase, kKeyRead));
}

// The port counts every call by kind (the Windows benchmark's registry calls
// per login stand on these counts).
constexpr char kKey[] = "Software\\Tarvos\\RegistryCallCountTest";
using RegistryCallCountTest = testing::RegistryTest;

TEST_F(RegistryCallCountTest, EveryCallIsCountedByKindFailedOnesIncluded) {
  SetDword(kKey, "Value", 1);
  const RegistryCallCounts before = RegistryCalls();
  {
    RegKey key;
    ASSERT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), kKey, kKeyAllAccess));
    uint32_t value = 0;
    uint32_t size = sizeof value;
    key.QueryValue("Value", nullptr, &value, &size);
    size = sizeof value;
    key.QueryValue("Missing", nullptr, &value, &size);
    key.SetValue("Other", kRegDword, &value, sizeof value);
    key.DeleteValue("Other");
    std::string name;
    std::vector<uint8_t> data;
    key.EnumValue(0, &name, nullptr, &data);
    key.EnumSubKey(0, &name);
    key.QueryInfo(nullptr, nullptr);
    RegKey created;
    created.Create(key, "Sub", kKeyAllAccess, nullptr, nullptr);
    created.Close();
    key.DeleteSubKey("Sub");
    // A failed open is a call too, and leaves nothing to close.
    RegKey absent;
    EXPECT_NE(kRegSuccess, absent.Open(key, "Absent", kKeyRead));
  }
  const RegistryCallCounts now = RegistryCalls();  // opens, queries, writes, closes
  EXPECT_EQ((std::array<uint64_t, 4>{3, 5, 3, 2}),
            (std::array<uint64_t, 4>{now.opens - before.opens, now.queries - before.queries,
                                     now.writes - before.writes, now.closes - before.closes}));
}

const std::vector<KeyAccessEntry> kCacheAcl = {
    {"S-1-1-0", kTrusteeIsWellKnownGroup, kKeyAllAccess},
    {"S-1-5-32-544", kTrusteeIsGroup, kKeyAllAccess},
};

TEST(SecurityDescriptorTest, BuildsTheWindowsLayout) {
  std::vector<uint8_t> sd;
  ASSERT_TRUE(BuildSecurityDescriptor(kCacheAcl, &sd));
  // Header: revision 1, control DACL_PRESENT | SELF_RELATIVE, DACL right
  // after; ACL: revision 2, size 8 + (8 + 12) + (8 + 16), two ACEs; each ACE
  // allowed, no flags, its size, KEY_ALL_ACCESS and the SID (S-1-1-0,
  // S-1-5-32-544).
  EXPECT_EQ((std::vector<uint8_t>{1, 0, 4, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0,
                                  2, 0, 52, 0, 2, 0, 0, 0,
                                  0, 0, 20, 0, 0x3F, 0, 0x0F, 0, 1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0,
                                  0, 0, 24, 0, 0x3F, 0, 0x0F, 0, 1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0,
                                  0, 0x20, 2, 0, 0}),
            sd);
  EXPECT_EQ("D:(A;;KA;;;WD)(A;;KA;;;BA)", SecurityDescriptorToSddl(sd));
}

TEST(SecurityDescriptorTest, ParsesWhatItBuildsAndOtherRights) {
  std::vector<KeyAccessEntry> acl = {{"S-1-5-21-1-2-3-1001", kTrusteeIsGroup, 0x20019},
                                     {"S-1-5-18", kTrusteeIsWellKnownGroup, 0x1234}};
  std::vector<uint8_t> sd;
  ASSERT_TRUE(BuildSecurityDescriptor(acl, &sd));
  SecurityDescriptorInfo info;
  ASSERT_TRUE(ParseSecurityDescriptor(sd, &info));
  EXPECT_TRUE(info.dacl_present && info.owner.empty());
  std::vector<std::pair<std::string, uint32_t>> dacl;
  for (const auto& ace : info.dacl) dacl.emplace_back(ace.sid, ace.mask);
  EXPECT_EQ((std::vector<std::pair<std::string, uint32_t>>{{"S-1-5-21-1-2-3-1001", 0x20019},
                                                            {"S-1-5-18", 0x1234}}),
            dacl);
  EXPECT_EQ("D:(A;;KR;;;S-1-5-21-1-2-3-1001)(A;;0x1234;;;SY)", SecurityDescriptorToSddl(sd));

  std::vector<uint8_t> empty;
  ASSERT_TRUE(BuildSecurityDescriptor({}, &empty));
  EXPECT_EQ("D:", SecurityDescriptorToSddl(empty));
}

TEST(SecurityDescriptorTest, ShowsOwnerGroupAndInheritance) {
  // A descriptor as Windows hands one out: owner BA, group SY, a protected
  // DACL whose ACE is inherited to subkeys.
  std::vector<uint8_t> sd = {1, 0, 0x04, 0x90, 20, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0, 48, 0, 0, 0};
  const std::vector<uint8_t> ba = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
  const std::vector<uint8_t> sy = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  sd.insert(sd.end(), ba.begin(), ba.end());
  sd.insert(sd.end(), sy.begin(), sy.end());
  const std::vector<uint8_t> acl = {2, 0, 28, 0, 1, 0, 0, 0, 0, 0x0A, 20, 0, 0x19, 0, 2, 0,
                                    1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
  sd.insert(sd.end(), acl.begin(), acl.end());
  EXPECT_EQ("O:BAG:SYD:P(A;CIIO;KR;;;WD)", SecurityDescriptorToSddl(sd));
}

TEST(SecurityDescriptorTest, RejectsMalformedInput) {
  std::vector<uint8_t> sid;
  EXPECT_TRUE(SidFromString("S-1-5-32-544", &sid));
  for (const char* bad : {"", "S-1", "S-1-", "S-2-5", "S-1-5-x", "S-1-5--1", "X-1-5-32",
                          "S-1-281474976710656-1", "S-1-5-4294967296",
                          "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"}) {
    EXPECT_FALSE(SidFromString(bad, &sid)) << bad;
  }
  std::vector<uint8_t> sd;
  EXPECT_FALSE(BuildSecurityDescriptor({{"S-1-bogus", kTrusteeIsGroup, 1}}, &sd));

  // Every cut of a valid descriptor is refused, never read past its end.
  ASSERT_TRUE(BuildSecurityDescriptor(kCacheAcl, &sd));
  for (size_t size = 0; size < sd.size(); ++size) {
    std::vector<uint8_t> cut(sd.begin(), sd.begin() + size);
    SecurityDescriptorInfo info;
    EXPECT_FALSE(ParseSecurityDescriptor(cut, &info)) << size;
    EXPECT_EQ("", SecurityDescriptorToSddl(cut));
  }
  // Offsets and sizes pointing outside the data: the DACL offset, the ACL
  // size, the first ACE's size; and a descriptor that is not self-relative.
  for (const auto& patch : {std::make_pair(16, 0xF0), std::make_pair(22, 0xFF),
                            std::make_pair(30, 0xFF), std::make_pair(3, 0)}) {
    std::vector<uint8_t> wild = sd;
    wild[patch.first] = static_cast<uint8_t>(patch.second);
    EXPECT_EQ("", SecurityDescriptorToSddl(wild)) << "byte " << patch.first;
  }
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
