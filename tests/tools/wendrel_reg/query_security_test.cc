// query /sec through the real binary: a key created with an access list shows
// its descriptor as SDDL, a key without one shows no security line.

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/environment.h"
#include "platform/registry.h"
#include "platform/security_descriptor.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace regtool {
namespace {

using platform::RegKey;

// Each test's store file is the fixture's; the tool inherits $WENDREL_REGISTRY.
class QuerySecurityTest : public testing::RegistryTest {
 protected:
  void TearDown() override {
    platform::RemoveFile(output());
    RegistryTest::TearDown();
  }
  std::string output() const { return store_path() + ".out"; }

  std::string Run(const std::string& arguments, int* status) {
    const std::string command = std::string("\"") + WENDREL_REG_BINARY + "\" " + arguments +
                                " >\"" + output() + "\" 2>&1 </dev/null";
    *status = std::system(command.c_str());
    std::ifstream in(output(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
};

TEST_F(QuerySecurityTest, ShowsTheDescriptorOfAKeyCreatedWithOne) {
  const std::vector<platform::KeyAccessEntry> acl = {
      {"S-1-1-0", platform::kTrusteeIsWellKnownGroup, platform::kKeyRead},
      {"S-1-5-32-544", platform::kTrusteeIsGroup, platform::kKeyAllAccess},
  };
  RegKey key;
  ASSERT_EQ(platform::kRegSuccess, key.Create(RegKey::LocalMachine(), "Software\\Tarvos",
                                              platform::kKeyAllAccess, &acl, nullptr));
  RegKey plain;
  ASSERT_EQ(platform::kRegSuccess, plain.Create(RegKey::LocalMachine(), "Software\\Plain",
                                                platform::kKeyAllAccess, nullptr, nullptr));
  std::vector<uint8_t> descriptor;
  ASSERT_EQ(platform::kRegSuccess, key.GetSecurity(&descriptor));
  const std::string sddl = platform::SecurityDescriptorToSddl(descriptor);
  ASSERT_FALSE(sddl.empty());
  EXPECT_NE(std::string::npos, sddl.find("WD")) << sddl;  // Everyone, by its alias
  key.Close();
  plain.Close();

  int status = -1;
  std::string out = Run("query HKLM\\\\Software\\\\Tarvos /sec", &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_EQ("\nHKEY_LOCAL_MACHINE\\Software\\Tarvos\n    (Security)    " + sddl + "\n\n", out);
  out = Run("query HKLM\\\\Software\\\\Tarvos", &status);
  EXPECT_EQ("\nHKEY_LOCAL_MACHINE\\Software\\Tarvos\n\n", out);
  out = Run("query HKLM\\\\Software\\\\Plain /sec", &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_EQ("\nHKEY_LOCAL_MACHINE\\Software\\Plain\n\n", out);
}

}  // namespace
}  // namespace regtool
}  // namespace wendrel
