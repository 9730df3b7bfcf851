// Native store only: a store file without write permission stands for an
// HKEY_LOCAL_MACHINE the caller may not write (Wine's registry grants the
// test programs every right, so the case cannot be made there).

#include <filesystem>
#include <string>

#include "core/registrar.h"
#include "core/self_registration.h"
#include "gtest/gtest.h"
#include "platform/registry.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace {

namespace fs = std::filesystem;
using platform::RegKey;

class SelfRegistrationStoreTest : public testing::RegistryTest {};

bool KeyExists(const std::string& path) {
  RegKey key;
  return key.Open(RegKey::LocalMachine(), path, platform::kKeyRead) == platform::kRegSuccess;
}

TEST_F(SelfRegistrationStoreTest, WithoutWriteAccessFailsWithAccessDeniedAndLeavesNothing) {
  SetDword("Software\\Tarvos\\LDAP\\Servers", "0", 1);
  fs::permissions(store_path(), fs::perms::owner_read | fs::perms::group_read);

  EXPECT_EQ(static_cast<int32_t>(0x80070005u), RegisterServer());
  EXPECT_FALSE(KeyExists("Software\\Tarvos\\Graphical Login"));
  EXPECT_TRUE(KeyExists("Software\\Tarvos\\LDAP\\Servers"));

  // Removal cannot delete anything either, and still reports success.
  fs::permissions(store_path(), fs::perms::owner_write, fs::perm_options::add);
  SetString("Software\\Tarvos\\Graphical Login\\QZLGE", "Kept", "yes");
  fs::permissions(store_path(), fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(kSOk, UnregisterServer());
  EXPECT_TRUE(KeyExists("Software\\Tarvos\\Graphical Login\\QZLGE"));
  fs::permissions(store_path(), fs::perms::owner_write, fs::perm_options::add);
}

// In a store that holds nothing else, even Software goes: only the root stays.
TEST_F(SelfRegistrationStoreTest, RemovalInAStoreOfNothingElseLeavesOnlyTheRoot) {
  ASSERT_EQ(kSOk, RegisterServer());
  EXPECT_EQ(kSOk, UnregisterServer());
  uint32_t subkeys = 1, values = 1;
  ASSERT_EQ(platform::kRegSuccess, RegKey::LocalMachine().QueryInfo(&subkeys, &values));
  EXPECT_EQ(0u, subkeys);
  EXPECT_EQ(0u, values);
}

TEST_F(SelfRegistrationStoreTest, RemovalWithoutAStoreCreatesNone) {
  ASSERT_FALSE(fs::exists(store_path()));
  EXPECT_EQ(kSOk, UnregisterServer());
  EXPECT_FALSE(fs::exists(store_path()));
}

}  // namespace
}  // namespace wendrel
