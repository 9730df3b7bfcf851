// The configuration readers against the registry of each build: options,
// servers with their settings, trees and the context lists.

#include <iterator>
#include <tuple>
#include <vector>

#include "config/ldap_config_options.h"
#include "config/ldap_pruning.h"
#include "config/ldap_server.h"
#include "config/ldap_tree.h"
#include "config/registry_paths.h"
#include "config/tree_list.h"
#include "gtest/gtest.h"
#include "tests/unit/support/option_table.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace {

using Texts = std::vector<std::string>;
using testing::kEveryOption;
using Option = testing::OptionGetter;
using ConfigTest = testing::RegistryTest;

// Every getter's answer (with `defaults`, every default) in the table's order.
std::vector<int32_t> ReadAll(bool defaults = false) {
  LDAPConfigOptions options;
  std::vector<int32_t> values;
  for (const Option& o : kEveryOption) {
    values.push_back(defaults ? o.default_value : o.get(options));
  }
  return values;
}

// A missing key throws, an empty one gives every default; each value name is
// read by its own getter and by no other (a misspelt or swapped name).
TEST_F(ConfigTest, OptionsKeyMissingEmptyAndEachValueFeedingItsOwnGetter) {
  EXPECT_THROW(LDAPConfigOptions(), LDAPConfigOptions::BadReg);
  CreateKey("Software\\Tarvos\\Graphical Login\\QZLGE");  // the parent alone
  EXPECT_THROW(LDAPConfigOptions(), LDAPConfigOptions::BadReg);
  CreateKey(kOptionsKeyPath);
  EXPECT_EQ(ReadAll(true), ReadAll());
  for (size_t set = 0; set < std::size(kEveryOption); ++set) {
    const Option& option = kEveryOption[set];
    // Non-default for the booleans; a distinctive number for the integers.
    const uint32_t stored = option.integer ? 7 : option.default_value == 0 ? 1 : 0;
    SetDword(kOptionsKeyPath, option.value_name, stored);
    std::vector<int32_t> expected = ReadAll(true);
    expected[set] = static_cast<int32_t>(stored);
    EXPECT_EQ(expected, ReadAll()) << "set " << option.value_name;
    DeleteValue(kOptionsKeyPath, option.value_name);
  }
}

// Values are read without a type into 4 bytes holding the default: what fits
// overwrites the low bytes, what does not leaves the default; read afresh.
TEST_F(ConfigTest, OptionValuesAreReadRawIntoFourBytes) {
  using platform::kRegBinary;
  using platform::kRegDword;
  using platform::kRegQword;
  using platform::kRegSz;
  const struct {
    const char* name;
    uint32_t type;
    std::vector<uint8_t> data;
    int32_t expected;
  } cases[] = {
      {"Search Alias", kRegSz, {'0', 0}, 1},                      // '0' is 0x30: true
      {"User Search Failure", kRegSz, {'0', 0}, 0x30},
      {"Search All Scopes", kRegSz, {'a', 'b', 'c', 0}, 0x00636261},  // "abc\0" fits
      {"Search Email", kRegSz, {'a', 'b', 'c', 'd', 0}, 0},       // five bytes: default
      {"Search Username", kRegQword, {0, 0, 0, 0, 0, 0, 0, 0}, 1},  // eight: default 1
      {"Display Context", kRegBinary, {0}, 0},                    // low byte of 1
      {"User Search Failure", kRegBinary, {0x34, 0x12}, 0x1234},
      {"Search All Scopes", kRegDword, {0xFF, 0xFF, 0xFF, 0xFF}, -1},
      {"Escape Search Filter", kRegSz, {'0', 0}, 1},
      {"Probe Servers In Parallel", kRegQword, {1, 0, 0, 0, 0, 0, 0, 0}, 0},
      {"Unreachable Server Retry Seconds", kRegBinary, {0x3C}, 60},
  };
  CreateKey(kOptionsKeyPath);
  LDAPConfigOptions options;
  for (const auto& c : cases) {
    SetRaw(kOptionsKeyPath, c.name, c.type, c.data);
    for (const Option& option : kEveryOption) {
      if (option.value_name == std::string(c.name)) {
        EXPECT_EQ(c.expected, option.get(options)) << c.name << " " << c.data.size();
      }
    }
  }
  DeleteValue(kOptionsKeyPath, "User Search Failure");
  EXPECT_EQ(1, options.UserSearchFailure());

  // Wildcards rule out the cache.
  const std::pair<uint32_t, uint32_t> cache_wildcards[] = {{1, 0}, {1, 1}, {0, 0}};
  std::vector<bool> cached;
  for (const auto& c : cache_wildcards) {
    SetDword(kOptionsKeyPath, "UseCachedResults", c.first);
    SetDword(kOptionsKeyPath, "Allow Wildcards", c.second);
    cached.push_back(options.UseCachedResults());
  }
  EXPECT_EQ((std::vector<bool>{true, false, false}), cached);
}

// The first context and the `next` ones after it.
Texts Walk(LDAPPruning& pruning, int next) {
  Texts contexts = {pruning.FirstContext()};
  while (next-- > 0) contexts.push_back(pruning.NextContext());
  return contexts;
}

// Nothing configured is no context and the subtree; a list ends at a gap, an
// empty or an overlong entry, where the counter stays. (Per-tree lists and
// subtree flags are driven against real servers by the context-scope tests.)
TEST_F(ConfigTest, ContextListsEndAtAGapEmptyOrOverlongEntry) {
  LDAPPruning nothing(0);
  EXPECT_EQ((Texts{"", ""}), Walk(nothing, 1));
  EXPECT_TRUE(nothing.SearchSubtree());
  CreateKey(kContextsKeyPath);
  LDAPPruning key_alone(0);
  EXPECT_EQ((Texts{""}), Walk(key_alone, 0));
  EXPECT_TRUE(key_alone.SearchSubtree());

  const std::string tree0 = std::string(kContextsKeyPath) + "\\0";
  SetString(tree0, "0", "o=a");
  SetString(tree0, "2", "o=behind-gap");
  LDAPPruning pruning(0);
  EXPECT_EQ((Texts{"o=a", ""}), Walk(pruning, 1));
  SetString(tree0, "1", "");
  EXPECT_EQ((Texts{"o=a", ""}), Walk(pruning, 1));
  SetString(tree0, "0", std::string(260, 'x'));
  SetString(tree0, "1", std::string(261, 'y'));
  EXPECT_EQ((Texts{std::string(260, 'x'), "", ""}), Walk(pruning, 2));
  SetString(tree0, "1", "ou=late");  // read afresh: the walk picks it up
  EXPECT_EQ("ou=late", pruning.NextContext());
  EXPECT_EQ("", LDAPPruning(2).FirstContext());
}

// Connection and search timeouts, proxy name and password, TLS, certificate
// and port of the current server.
using Settings = std::tuple<int32_t, int32_t, std::string, std::string, bool, std::string, int32_t>;
const Settings kDefaults{5, 20, "", "", false, "", 389};

Settings SettingsOf(const LDAPServer& s) {
  return Settings{s.ConnectionTimeout(), s.SearchTimeout(), s.ProxyUsername(), s.ProxyPassword(),
                  s.UseSSL(),            s.Certificate(),   s.Port()};
}

// A walk stops at a gap or an empty entry, the index moving on past it all the
// same (only a caller ignoring the end sees what is behind); First restarts.
TEST_F(ConfigTest, ServerListMissingOrEndingAtAGap) {
  EXPECT_THROW(LDAPServer(), LDAPServer::BadReg);
  CreateKey("Software\\Tarvos\\LDAP");
  EXPECT_THROW(LDAPServer(), LDAPServer::BadReg);
  CreateKey(kServersKeyPath);
  EXPECT_EQ("", LDAPServer().FirstServer());
  SetString(kServersKeyPath, "0", "first");
  SetString(kServersKeyPath, "2", "behind-gap");
  LDAPServer server;
  EXPECT_EQ(kDefaults, SettingsOf(server));  // missing settings give the defaults
  EXPECT_EQ((Texts{"first", "", "behind-gap", "", "", "first"}),
            (Texts{server.FirstServer(), server.NextServer(), server.NextServer(),
                   server.NextServer(), server.NextServer(), server.FirstServer()}));
  SetString(kServersKeyPath, "1", "");
  SetString(kServersKeyPath, "2", "third");
  EXPECT_EQ((Texts{"first", ""}), (Texts{server.FirstServer(), server.NextServer()}));
}

TEST_F(ConfigTest, ServerNamesAndSettingsUpTo260Characters) {
  const std::string longest(260, 'a');
  SetString(kServersKeyPath, "0", longest);
  SetString(kServersKeyPath, "1", std::string(261, 'b'));
  SetString(kServersKeyPath, "2", "unreached");
  // Stored without a terminator: the text is the stored bytes.
  SetRaw(kServerSettingsKeyPath, "Proxy Password 0", platform::kRegSz, {'p', 'w'});
  SetRaw(kServerSettingsKeyPath, "Proxy Username 1", platform::kRegSz,
         std::vector<uint8_t>(261, 'e'));
  SetString(kServerSettingsKeyPath, "Proxy Username 0", std::string(261, 'c'));
  SetString(kServerSettingsKeyPath, "Certificate 0", std::string(260, 'd'));
  LDAPServer server;
  EXPECT_EQ(longest, server.FirstServer());
  EXPECT_EQ(Settings(5, 20, "", "pw", false, std::string(260, 'd'), 389), SettingsOf(server));
  EXPECT_EQ("", server.NextServer());
  EXPECT_EQ("", server.ProxyUsername());  // 261 characters, none of them a terminator
}

TEST_F(ConfigTest, ServerSettingsFollowTheCurrentIndex) {
  SetString(kServersKeyPath, "0", "zero");
  SetString(kServersKeyPath, "1", "one");
  // Server 0 keeps the defaults; server 1 sets everything.
  SetDword(kServerSettingsKeyPath, "ConnectionTimeout 1", 7);
  SetDword(kServerSettingsKeyPath, "Search Timeout 1", 45);
  SetString(kServerSettingsKeyPath, "Proxy Username 1", "cn=proxy,o=acme");
  SetString(kServerSettingsKeyPath, "Proxy Password 1", "secret");
  SetString(kServerSettingsKeyPath, "Certificate 1", "C:\\certs\\ca.pem");
  SetDword(kServerSettingsKeyPath, "Clear Text 1", 0);
  SetDword(kServerSettingsKeyPath, "SSL Port 1", 1636);
  // Spelt the other way round: not the values the settings are read from.
  SetDword(kServerSettingsKeyPath, "Connection Timeout 0", 99);
  SetDword(kServerSettingsKeyPath, "SearchTimeout 0", 99);

  LDAPServer server;
  EXPECT_EQ(kDefaults, SettingsOf(server));  // before the walk: server 0's
  EXPECT_EQ("zero", server.FirstServer());
  EXPECT_EQ(kDefaults, SettingsOf(server));
  EXPECT_EQ("one", server.NextServer());
  EXPECT_EQ(Settings(7, 45, "cn=proxy,o=acme", "secret", true, "C:\\certs\\ca.pem", 1636),
            SettingsOf(server));
  // Past the end the getters read the settings of the indexes beyond it.
  EXPECT_EQ("", server.NextServer());
  EXPECT_EQ(389, server.Port());
  SetDword(kServerSettingsKeyPath, "Port 2", 2389);
  EXPECT_EQ(2389, server.Port());
}

// "Clear Text" missing or non-zero is plain LDAP on the stored port; 0 is TLS
// on the TLS port, by default 636. Changes between calls are seen at once.
TEST_F(ConfigTest, ClearTextChoosesThePort) {
  SetString(kServersKeyPath, "0", "host");
  SetDword(kServerSettingsKeyPath, "Port 0", 1389);
  LDAPServer server;
  server.FirstServer();
  const struct {
    const char* name;
    int32_t value;  // -1: deleted
    bool tls;
    int32_t port;
  } steps[] = {{"Clear Text 0", -2, false, 1389}, {"Clear Text 0", 5, false, 1389},
               {"Clear Text 0", 0, true, 636},    {"SSL Port 0", 1636, true, 1636},
               {"Clear Text 0", -1, false, 1389}};
  for (const auto& s : steps) {
    if (s.value == -1) DeleteValue(kServerSettingsKeyPath, s.name);
    if (s.value >= 0) SetDword(kServerSettingsKeyPath, s.name, static_cast<uint32_t>(s.value));
    EXPECT_EQ(std::make_pair(s.tls, s.port), std::make_pair(server.UseSSL(), server.Port()))
        << s.name << " " << s.value;
  }
}

// The first match ignoring ASCII case wins; an empty entry is passed over,
// a gap or an overlong entry ends the list.
TEST_F(ConfigTest, TreeLookupAndList) {
  EXPECT_THROW(LDAPTree("ACME"), LDAPTree::BadReg);
  EXPECT_THROW(ListConfiguredTrees(), LDAPTree::BadReg);
  CreateKey(kTreesKeyPath);
  EXPECT_THROW(LDAPTree("ACME"), LDAPTree::BadReg);
  EXPECT_THROW(LDAPTree(""), LDAPTree::BadReg);
  EXPECT_EQ(Texts{}, ListConfiguredTrees());

  SetString(kTreesKeyPath, "0", "");
  SetString(kTreesKeyPath, "1", "Acme");
  SetString(kTreesKeyPath, "2", "ACME");
  SetString(kTreesKeyPath, "3", std::string(260, 'T'));
  SetString(kTreesKeyPath, "5", "BEHIND_GAP");
  EXPECT_EQ((std::vector<int>{1, 0, 3}),
            (std::vector<int>{LDAPTree("aCmE").GetIndex(), LDAPTree("").GetIndex(),
                              LDAPTree(std::string(260, 't')).GetIndex()}));
  for (const char* absent : {"ACM", "ACMEX", "BEHIND_GAP"}) {
    EXPECT_THROW(LDAPTree{std::string(absent)}, LDAPTree::BadReg) << absent;
  }
  EXPECT_EQ((Texts{"", "Acme", "ACME", std::string(260, 'T')}), ListConfiguredTrees());
  SetString(kTreesKeyPath, "4", "Other_Tree");
  EXPECT_EQ(5, LDAPTree("BEHIND_GAP").GetIndex());
  SetString(kTreesKeyPath, "3", std::string(261, 'T'));  // unreadable: ends the list
  EXPECT_THROW(LDAPTree("other_tree"), LDAPTree::BadReg);
  EXPECT_THROW(LDAPTree(std::string(261, 'T')), LDAPTree::BadReg);
  EXPECT_EQ((Texts{"", "Acme", "ACME"}), ListConfiguredTrees());

  EXPECT_EQ("ACME-1_\xE9", ToUpperAscii("acMe-1_\xE9"));
  EXPECT_EQ((std::vector<bool>{true, false, false}),
            (std::vector<bool>{EqualsIgnoringCase("acme", "ACME"),
                               EqualsIgnoringCase("acme", "ACM"),
                               EqualsIgnoringCase("\xE9", "\xC9")}));
}

}  // namespace
}  // namespace wendrel
