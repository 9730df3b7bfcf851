// The port counts every call it makes, by kind, on both systems: the Windows
// benchmark's registry calls per login stand on these counts.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace platform {
namespace {

constexpr char kKey[] = "Software\\Tarvos\\RegistryCallCountTest";

// Opens, queries, writes, closes made since `before`.
std::array<uint64_t, 4> CallsSince(const RegistryCallCounts& before) {
  const RegistryCallCounts now = RegistryCalls();
  return {now.opens - before.opens, now.queries - before.queries, now.writes - before.writes,
          now.closes - before.closes};
}

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
  EXPECT_EQ((std::array<uint64_t, 4>{3, 5, 3, 2}), CallsSince(before));
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
