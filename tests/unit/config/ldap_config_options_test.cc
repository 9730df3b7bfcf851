#include "config/ldap_config_options.h"

#include <functional>
#include <string>
#include <vector>

#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace {

using OptionsTest = testing::RegistryTest;

struct Option {
  const char* value_name;
  std::function<int32_t(const LDAPConfigOptions&)> get;
  int32_t default_value;
};

#define WENDREL_OPTION(value, getter, def) \
  { value, [](const LDAPConfigOptions& o) { return static_cast<int32_t>(o.getter()); }, def }

const std::vector<Option>& AllOptions() {
  static const std::vector<Option> options = {
      WENDREL_OPTION("Contextless Login Enabled", ContextlessLoginEnabled, 0),
      WENDREL_OPTION("Treeless Login Enabled", TreelessLoginEnabled, 0),
      WENDREL_OPTION("Context Search Scope Enabled", ContextSearchScopeEnabled, 0),
      WENDREL_OPTION("Allow Wildcards", AllowWildcards, 0),
      WENDREL_OPTION("User Search Failure", UserSearchFailure, 1),
      WENDREL_OPTION("Search All Scopes", SearchAllScopes, 1),
      WENDREL_OPTION("Search Alias", SearchAlias, 0),
      WENDREL_OPTION("Search Email", SearchEmail, 0),
      WENDREL_OPTION("Search Full Name", SearchFullName, 0),
      WENDREL_OPTION("Search Given Name", SearchGivenName, 0),
      WENDREL_OPTION("Search Surname", SearchSurname, 0),
      WENDREL_OPTION("Search Telephone Number", SearchTelephoneNumber, 0),
      WENDREL_OPTION("Search Unique ID", SearchUniqueID, 0),
      WENDREL_OPTION("Search Username", SearchUsername, 1),
      WENDREL_OPTION("Display Context", DisplayContext, 1),
      WENDREL_OPTION("Display Email", DisplayEmail, 0),
      WENDREL_OPTION("Display Full Name", DisplayFullName, 0),
      WENDREL_OPTION("Display Given Name", DisplayGivenName, 0),
      WENDREL_OPTION("Display Surname", DisplaySurname, 0),
      WENDREL_OPTION("Display Telephone Number", DisplayTelephoneNumber, 0),
      WENDREL_OPTION("Display Unique ID", DisplayUniqueID, 0),
      WENDREL_OPTION("UseCachedResults", UseCachedResults, 0),
      WENDREL_OPTION("Probe Servers In Parallel", ProbeServersInParallel, 0),
      WENDREL_OPTION("Unreachable Server Retry Seconds", UnreachableServerRetrySeconds, 0),
      WENDREL_OPTION("Escape Search Filter", EscapeSearchFilter, 0),
      WENDREL_OPTION("Log Successful Logins", LogSuccessfulLogins, 0),
  };
  return options;
}

#undef WENDREL_OPTION

TEST_F(OptionsTest, MissingKeyThrowsBadReg) {
  EXPECT_THROW(LDAPConfigOptions(), LDAPConfigOptions::BadReg);
  // The parent alone is not enough.
  CreateKey("Software\\Tarvos\\Graphical Login\\QZLGE");
  EXPECT_THROW(LDAPConfigOptions(), LDAPConfigOptions::BadReg);
}

TEST_F(OptionsTest, EmptyKeyGivesEveryDefault) {
  CreateKey(kOptionsKeyPath);
  LDAPConfigOptions options;
  for (const Option& option : AllOptions()) {
    EXPECT_EQ(option.default_value, option.get(options)) << option.value_name;
  }
}

// Each value name is read by its own getter and by no other: catches a
// misspelt or swapped name.
TEST_F(OptionsTest, EachValueFeedsItsOwnGetter) {
  CreateKey(kOptionsKeyPath);
  for (const Option& set : AllOptions()) {
    // Non-default for the booleans; a distinctive number for the two ints.
    uint32_t stored = set.default_value == 0 ? 1 : 0;
    if (std::string(set.value_name) == "User Search Failure" ||
        std::string(set.value_name) == "Search All Scopes") {
      stored = 7;
    }
    SetDword(kOptionsKeyPath, set.value_name, stored);
    LDAPConfigOptions options;
    for (const Option& read : AllOptions()) {
      int32_t expected = &read == &set ? static_cast<int32_t>(stored) : read.default_value;
      EXPECT_EQ(expected, read.get(options)) << "set " << set.value_name << ", read "
                                             << read.value_name;
    }
    DeleteValue(kOptionsKeyPath, set.value_name);
  }
}

// Values are read without a type into 4 bytes holding the default: whatever
// fits overwrites the low bytes, whatever does not leaves the default.
TEST_F(OptionsTest, ValuesAreReadRawIntoFourBytes) {
  SetString(kOptionsKeyPath, "Search Alias", "0");         // '0' is 0x30: true
  SetString(kOptionsKeyPath, "User Search Failure", "0");  // 0x30
  SetString(kOptionsKeyPath, "Search All Scopes", "abc");  // "abc\0" fits
  SetString(kOptionsKeyPath, "Search Email", "abcd");      // five bytes: default
  SetRaw(kOptionsKeyPath, "Search Username", platform::kRegQword,
         {0, 0, 0, 0, 0, 0, 0, 0});                        // eight bytes: default 1
  SetRaw(kOptionsKeyPath, "Display Context", platform::kRegBinary, {0});  // low byte of 1
  LDAPConfigOptions options;
  EXPECT_TRUE(options.SearchAlias());
  EXPECT_EQ(0x30, options.UserSearchFailure());
  EXPECT_EQ(0x00636261, options.SearchAllScopes());
  EXPECT_FALSE(options.SearchEmail());
  EXPECT_TRUE(options.SearchUsername());
  EXPECT_FALSE(options.DisplayContext());

  SetRaw(kOptionsKeyPath, "User Search Failure", platform::kRegBinary, {0x34, 0x12});
  SetRaw(kOptionsKeyPath, "Search All Scopes", platform::kRegDword, {0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(0x1234, options.UserSearchFailure());
  EXPECT_EQ(-1, options.SearchAllScopes());

  // The three failover and filter options are read the same way.
  SetString(kOptionsKeyPath, "Escape Search Filter", "0");                 // 0x30: on
  SetRaw(kOptionsKeyPath, "Probe Servers In Parallel", platform::kRegQword,
         {1, 0, 0, 0, 0, 0, 0, 0});                                        // default 0
  SetRaw(kOptionsKeyPath, "Unreachable Server Retry Seconds", platform::kRegBinary, {0x3C});
  EXPECT_TRUE(options.EscapeSearchFilter());
  EXPECT_FALSE(options.ProbeServersInParallel());
  EXPECT_EQ(60, options.UnreachableServerRetrySeconds());
}

TEST_F(OptionsTest, WildcardsRuleOutTheCache) {
  SetDword(kOptionsKeyPath, "UseCachedResults", 1);
  LDAPConfigOptions options;
  EXPECT_TRUE(options.UseCachedResults());
  SetDword(kOptionsKeyPath, "Allow Wildcards", 1);
  EXPECT_FALSE(options.UseCachedResults());
  SetDword(kOptionsKeyPath, "Allow Wildcards", 0);
  SetDword(kOptionsKeyPath, "UseCachedResults", 0);
  EXPECT_FALSE(options.UseCachedResults());
}

TEST_F(OptionsTest, EveryCallReadsTheRegistryAfresh) {
  CreateKey(kOptionsKeyPath);
  LDAPConfigOptions options;
  EXPECT_FALSE(options.ContextlessLoginEnabled());
  SetDword(kOptionsKeyPath, "Contextless Login Enabled", 1);
  EXPECT_TRUE(options.ContextlessLoginEnabled());
  SetDword(kOptionsKeyPath, "User Search Failure", 2);
  EXPECT_EQ(2, options.UserSearchFailure());
  DeleteValue(kOptionsKeyPath, "User Search Failure");
  EXPECT_EQ(1, options.UserSearchFailure());
}

}  // namespace
}  // namespace wendrel
