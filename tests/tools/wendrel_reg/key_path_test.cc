#include "tools/wendrel-reg/key_path.h"

#include <string>

#include "gtest/gtest.h"

namespace wendrel {
namespace regtool {
namespace {

TEST(KeyPathTest, AcceptsBothSpellingsOfTheRootInAnyCase) {
  std::string subkey;
  std::string error;
  ASSERT_TRUE(ParseKeyPath("HKLM\\Software\\Tarvos", &subkey, &error));
  EXPECT_EQ("Software\\Tarvos", subkey);
  ASSERT_TRUE(ParseKeyPath("hkey_local_machine\\Software\\", &subkey, &error));
  EXPECT_EQ("Software", subkey);
  ASSERT_TRUE(ParseKeyPath("hklm", &subkey, &error));
  EXPECT_EQ("", subkey);
  EXPECT_EQ("HKEY_LOCAL_MACHINE\\Software", FullKeyName("Software"));
  EXPECT_EQ("HKEY_LOCAL_MACHINE", FullKeyName(""));
}

TEST(KeyPathTest, RejectsOtherRootsRemoteKeysAndEmptyNames) {
  std::string subkey = "unchanged";
  std::string error;
  EXPECT_FALSE(ParseKeyPath("HKCU\\Software", &subkey, &error));
  EXPECT_NE(std::string::npos, error.find("Only HKEY_LOCAL_MACHINE"));
  EXPECT_FALSE(ParseKeyPath("HKEY_USERS\\.DEFAULT", &subkey, &error));
  EXPECT_NE(std::string::npos, error.find("Only HKEY_LOCAL_MACHINE"));
  EXPECT_FALSE(ParseKeyPath("\\\\server\\HKLM\\Software", &subkey, &error));
  EXPECT_NE(std::string::npos, error.find("Remote"));
  EXPECT_FALSE(ParseKeyPath("HKLMX\\Software", &subkey, &error));
  EXPECT_NE(std::string::npos, error.find("Invalid key name"));
  EXPECT_FALSE(ParseKeyPath("Software\\Tarvos", &subkey, &error));
  EXPECT_FALSE(ParseKeyPath("HKLM\\Software\\\\Tarvos", &subkey, &error));
  EXPECT_EQ("unchanged", subkey);
}

}  // namespace
}  // namespace regtool
}  // namespace wendrel
