// Each test gets an empty registry: natively a store file of its own
// ($WENDREL_REGISTRY), under Wine the prefix's registry with HKLM\Software\Tarvos
// removed before and after (the Wine test programs take turns).

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

  // Writes under HKLM\<key>, creating the keys as needed; each asserts success.
  void SetDword(const std::string& key, const std::string& name, uint32_t value);
  void SetString(const std::string& key, const std::string& name, const std::string& value);
  void SetRaw(const std::string& key, const std::string& name, uint32_t type,
              const std::vector<uint8_t>& data);
  void CreateKey(const std::string& key);
  void DeleteValue(const std::string& key, const std::string& name);
  // HKLM\<key> with everything below it; a missing key is fine.
  static void DeleteTree(const std::string& key);

  // Native only: the store file (empty under Wine), and a directory beside
  // it removed afterwards whatever permissions the test left on it.
  const std::string& store_path() const { return store_path_; }
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
StoredValue Sz(const std::string& text);
StoredValue Dword(uint32_t value);

// Reads of a key that cannot be opened give kNoValue, {~0, ~0} and "".
bool RegKeyExists(const std::string& key);
StoredValue ReadStored(const platform::RegKey& key, const std::string& name);
StoredValue ReadStored(const std::string& key, const std::string& name);
std::map<std::string, StoredValue> ReadAllValues(const platform::RegKey& key);
// {subkeys, values} of a key.
std::pair<uint32_t, uint32_t> RegCounts(const platform::RegKey& key);
std::pair<uint32_t, uint32_t> RegCounts(const std::string& key);
// The key's security descriptor in SDDL.
std::string RegSddl(const std::string& key);
// A DWORD read through `key`: the status, and the value in *value.
int32_t QueryDword(const platform::RegKey& key, const std::string& name, uint32_t* value);

}  // namespace testing
}  // namespace wendrel

#endif  // WENDREL_TESTS_UNIT_SUPPORT_REGISTRY_FIXTURE_H_
