// A test fixture that gives each test an empty registry to fill.
//
// Natively each test gets a store file of its own ($WENDREL_REGISTRY points
// at a fresh file in the temporary directory, removed afterwards). Under Wine
// the prefix's real registry is used: HKLM\Software\Tarvos is removed before
// and after each test (the Wine test programs take turns, see
// cmake/wendrel.cmake).

#ifndef WENDREL_TESTS_UNIT_SUPPORT_REGISTRY_FIXTURE_H_
#define WENDREL_TESTS_UNIT_SUPPORT_REGISTRY_FIXTURE_H_

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "platform/registry.h"

namespace wendrel {
namespace testing {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Write a value under HKLM\<key>, creating the key (and keys above it) as
  // needed. Each asserts success.
  void SetDword(const std::string& key, const std::string& name, uint32_t value);
  void SetString(const std::string& key, const std::string& name, const std::string& value);
  void SetRaw(const std::string& key, const std::string& name, uint32_t type,
              const std::vector<uint8_t>& data);
  void CreateKey(const std::string& key);
  void DeleteValue(const std::string& key, const std::string& name);

  // Deletes HKLM\<key> with everything below it; a missing key is fine.
  static void DeleteTree(const std::string& key);

  // Native only: the store file this test uses (empty under Wine).
  const std::string& store_path() const { return store_path_; }

  // Native only: a directory of this test's own beside its store, removed
  // afterwards (with whatever permissions the test left on it).
  const std::string& Scratch();

 private:
  std::string store_path_;
  std::string scratch_;
};

// A value as the registry holds it; type kNoValue when it cannot be read.
struct StoredValue {
  static constexpr uint32_t kNoValue = 0xFFFFFFFF;
  uint32_t type = kNoValue;
  std::vector<uint8_t> data;
  bool operator==(const StoredValue& o) const { return type == o.type && data == o.data; }
  bool operator!=(const StoredValue& o) const { return !(*this == o); }
};
void PrintTo(const StoredValue& value, std::ostream* out);

// The bytes Windows programs write for a string (with its zero) and a DWORD.
std::vector<uint8_t> SzBytes(const std::string& text);
std::vector<uint8_t> DwordBytes(uint32_t value);
StoredValue Sz(const std::string& text);
StoredValue Dword(uint32_t value);

bool RegKeyExists(const std::string& key);
StoredValue ReadStored(const platform::RegKey& key, const std::string& name);
StoredValue ReadStored(const std::string& key, const std::string& name);
// Every value of a key by name, as its enumeration gives them.
std::map<std::string, StoredValue> ReadAllValues(const platform::RegKey& key);
// {subkeys, values} of a key; {~0, ~0} when they cannot be read.
std::pair<uint32_t, uint32_t> RegCounts(const platform::RegKey& key);
std::pair<uint32_t, uint32_t> RegCounts(const std::string& key);
// The key's security descriptor in SDDL, empty when it cannot be read.
std::string RegSddl(const platform::RegKey& key);
std::string RegSddl(const std::string& key);
// A DWORD read through `key`: the status, and the value in *value.
int32_t QueryDword(const platform::RegKey& key, const std::string& name, uint32_t* value);

}  // namespace testing
}  // namespace wendrel

#endif  // WENDREL_TESTS_UNIT_SUPPORT_REGISTRY_FIXTURE_H_
