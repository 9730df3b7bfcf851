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
#include <string>
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

 private:
  std::string store_path_;
};

}  // namespace testing
}  // namespace wendrel

#endif  // WENDREL_TESTS_UNIT_SUPPORT_REGISTRY_FIXTURE_H_
