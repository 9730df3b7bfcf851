// The configuration readers against the registry of each build: options,
// servers with their settings, trees and the context lists.

#include <string>
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

// ---- Options ----------------------------------------------------------------

using OptionsTest = testing::RegistryTest;

using testing::kEveryOption;
using Option = testing::OptionGetter;

// Every getter's answer, by value name.
std::vector<int32_t> ReadAll() {
  LDAPConfigOptions options;
  std::vector<int32_t> values;
  for (const Option& option : kEveryOption) values.push_back(option.get(options));
  return values;
}

TEST_F(OptionsTest, MissingKeyThrowsAndEmptyKeyGivesEveryDefault) {
  EXPECT_THROW(LDAPConfigOptions(), LDAPConfigOptions::BadReg);
  CreateKey("Software\\Tarvos\\Graphical Login\\QZLGE");  // the parent alone
  EXPECT_THROW(LDAPConfigOptions(), LDAPConfigOptions::BadReg);
  CreateKey(kOptionsKeyPath);
  std::vector<int32_t> defaults;
  for (const Option& option : kEveryOption) defaults.push_back(option.default_value);
  EXPECT_EQ(defaults, ReadAll());
}

// Each value name is read by its own getter and by no other: catches a
// misspelt or swapped name.
TEST_F(OptionsTest, EachValueFeedsItsOwnGetter) {
  CreateKey(kOptionsKeyPath);
  for (size_t set = 0; set < std::size(kEveryOption); ++set) {
    const Option& option = kEveryOption[set];
    const std::string name = option.value_name;
    // Non-default for the booleans; a distinctive number for the integers.
    const uint32_t stored = option.integer ? 7 : option.default_value == 0 ? 1 : 0;
    SetDword(kOptionsKeyPath, name, stored);
    std::vector<int32_t> expected;
    for (const Option& other : kEveryOption) expected.push_back(other.default_value);
    expected[set] = static_cast<int32_t>(stored);
    EXPECT_EQ(expected, ReadAll()) << "set " << name;
    DeleteValue(kOptionsKeyPath, name);
  }
}

// Values are read without a type into 4 bytes holding the default: whatever
// fits overwrites the low bytes, whatever does not leaves the default.
TEST_F(OptionsTest, ValuesAreReadRawIntoFourBytes) {
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
  LDAPConfigOptions options;  // every call reads the registry afresh
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

// ---- Context lists ----------------------------------------------------------

using PruningTest = testing::RegistryTest;

const std::string kTree0 = std::string(kContextsKeyPath) + "\\0";
const std::string kTree1 = std::string(kContextsKeyPath) + "\\1";

// The first context and the `next` ones after it.
Texts Walk(LDAPPruning& pruning, int next) {
  Texts contexts = {pruning.FirstContext()};
  while (next-- > 0) contexts.push_back(pruning.NextContext());
  return contexts;
}

TEST_F(PruningTest, NothingConfiguredMeansNoContextsAndSubtree) {
  LDAPPruning pruning(0);
  EXPECT_EQ((Texts{"", ""}), Walk(pruning, 1));
  EXPECT_TRUE(pruning.SearchSubtree());
  CreateKey(kContextsKeyPath);  // the contexts key alone, without the tree's subkey
  LDAPPruning again(0);
  EXPECT_EQ((Texts{""}), Walk(again, 0));
  EXPECT_TRUE(again.SearchSubtree());
}

TEST_F(PruningTest, ContextsPerTreeIndex) {
  SetString(kTree0, "0", "ou=sales,o=acme");
  SetString(kTree0, "1", "ou=it,o=acme");
  SetString(kTree1, "0", "o=other");
  LDAPPruning tree0(0);
  EXPECT_EQ((Texts{"ou=sales,o=acme", "ou=it,o=acme", "", ""}), Walk(tree0, 3));
  SetString(kTree0, "2", "ou=late,o=acme");  // read afresh: the walk picks it up
  EXPECT_EQ("ou=late,o=acme", tree0.NextContext());
  EXPECT_EQ("ou=sales,o=acme", tree0.FirstContext());  // restart
  LDAPPruning tree1(1);
  EXPECT_EQ((Texts{"o=other", ""}), Walk(tree1, 1));
  EXPECT_EQ("", LDAPPruning(2).FirstContext());
}

TEST_F(PruningTest, ListEndsAtGapEmptyOrOverlongEntry) {
  SetString(kTree0, "0", "o=a");
  SetString(kTree0, "2", "o=behind-gap");
  LDAPPruning pruning(0);
  EXPECT_EQ((Texts{"o=a", ""}), Walk(pruning, 1));
  SetString(kTree0, "1", "");
  EXPECT_EQ((Texts{"o=a", ""}), Walk(pruning, 1));
  SetString(kTree0, "0", std::string(260, 'x'));
  SetString(kTree0, "1", std::string(261, 'y'));
  // The counter stays at the bad entry.
  EXPECT_EQ((Texts{std::string(260, 'x'), "", ""}), Walk(pruning, 2));
}

TEST_F(PruningTest, SubtreeFlagPerTreeIndex) {
  SetDword(kContextsKeyPath, "Search Context And Subtree 1", 0);
  LDAPPruning tree0(0), tree1(1);
  EXPECT_EQ(std::make_pair(true, false), std::make_pair(tree0.SearchSubtree(),
                                                        tree1.SearchSubtree()));
  SetDword(kContextsKeyPath, "Search Context And Subtree 0", 0);
  SetDword(kContextsKeyPath, "Search Context And Subtree 1", 2);
  EXPECT_EQ(std::make_pair(false, true), std::make_pair(tree0.SearchSubtree(),
                                                        tree1.SearchSubtree()));
}

// ---- Servers ----------------------------------------------------------------

using ServerTest = testing::RegistryTest;

// Connection and search timeouts, proxy name and password, TLS, certificate
// and port of the current server.
using Settings = std::tuple<int32_t, int32_t, std::string, std::string, bool, std::string, int32_t>;
const Settings kDefaults{5, 20, "", "", false, "", 389};

Settings SettingsOf(const LDAPServer& s) {
  return Settings{s.ConnectionTimeout(), s.SearchTimeout(), s.ProxyUsername(), s.ProxyPassword(),
                  s.UseSSL(),            s.Certificate(),   s.Port()};
}

TEST_F(ServerTest, MissingListThrowsButMissingSettingsGiveDefaults) {
  EXPECT_THROW(LDAPServer(), LDAPServer::BadReg);
  CreateKey("Software\\Tarvos\\LDAP");
  EXPECT_THROW(LDAPServer(), LDAPServer::BadReg);
  SetString(kServersKeyPath, "0", "ldap.example.com");
  LDAPServer server;
  EXPECT_EQ("ldap.example.com", server.FirstServer());
  EXPECT_EQ(kDefaults, SettingsOf(server));
}

TEST_F(ServerTest, WalkEndsAtFirstGapOrEmptyEntry) {
  SetString(kServersKeyPath, "0", "first");
  SetString(kServersKeyPath, "2", "behind-gap");
  LDAPServer server;
  // A walk stops at the gap; the index moved on past it all the same: only a
  // caller that ignores the end of the walk would see the entry behind it.
  // FirstServer restarts at 0.
  EXPECT_EQ((Texts{"first", "", "behind-gap", "", "", "first"}),
            (Texts{server.FirstServer(), server.NextServer(), server.NextServer(),
                   server.NextServer(), server.NextServer(), server.FirstServer()}));
  SetString(kServersKeyPath, "1", "");
  SetString(kServersKeyPath, "2", "third");
  EXPECT_EQ((Texts{"first", ""}), (Texts{server.FirstServer(), server.NextServer()}));
  DeleteTree(kServersKeyPath);
  CreateKey(kServersKeyPath);
  EXPECT_EQ("", LDAPServer().FirstServer());
}

TEST_F(ServerTest, ServerNamesUpTo260Characters) {
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

TEST_F(ServerTest, SettingsFollowTheCurrentIndex) {
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

// "Clear Text" missing or any non-zero value is plain LDAP on the stored
// port; 0 is TLS, where the plain port does not matter and the TLS port
// defaults to 636. Changes between calls are seen at once.
TEST_F(ServerTest, ClearTextChoosesThePort) {
  SetString(kServersKeyPath, "0", "host");
  SetDword(kServerSettingsKeyPath, "Port 0", 1389);
  LDAPServer server;
  server.FirstServer();
  const struct {
    const char* name;
    int32_t value;  // -1: deleted
    bool tls;
    int32_t port;
  } steps[] = {{"Clear Text 0", 5, false, 1389}, {"Clear Text 0", 0, true, 636},
               {"SSL Port 0", 1636, true, 1636}, {"Clear Text 0", -1, false, 1389}};
  EXPECT_EQ(std::make_pair(false, 1389), std::make_pair(server.UseSSL(), server.Port()));
  for (const auto& s : steps) {
    if (s.value < 0) DeleteValue(kServerSettingsKeyPath, s.name);
    else SetDword(kServerSettingsKeyPath, s.name, static_cast<uint32_t>(s.value));
    EXPECT_EQ(std::make_pair(s.tls, s.port), std::make_pair(server.UseSSL(), server.Port()))
        << s.name << " " << s.value;
  }
}

// ---- Trees ------------------------------------------------------------------

using TreeTest = testing::RegistryTest;

TEST_F(TreeTest, MissingOrEmptyListThrows) {
  EXPECT_THROW(LDAPTree("ACME"), LDAPTree::BadReg);
  EXPECT_THROW(ListConfiguredTrees(), LDAPTree::BadReg);
  CreateKey(kTreesKeyPath);
  EXPECT_THROW(LDAPTree("ACME"), LDAPTree::BadReg);
  EXPECT_THROW(LDAPTree(""), LDAPTree::BadReg);
  EXPECT_EQ(Texts{}, ListConfiguredTrees());
}

TEST_F(TreeTest, FirstMatchIgnoringCaseWins) {
  SetString(kTreesKeyPath, "0", "Acme");
  SetString(kTreesKeyPath, "1", "ACME");
  SetString(kTreesKeyPath, "2", "Other_Tree");
  EXPECT_EQ(0, LDAPTree("aCmE").GetIndex());
  EXPECT_EQ(2, LDAPTree("other_tree").GetIndex());
  EXPECT_THROW(LDAPTree("ACM"), LDAPTree::BadReg);
  EXPECT_THROW(LDAPTree("ACMEX"), LDAPTree::BadReg);
  EXPECT_EQ((Texts{"Acme", "ACME", "Other_Tree"}), ListConfiguredTrees());
}

TEST_F(TreeTest, LookupStopsAtGapOrOverlongEntry) {
  SetString(kTreesKeyPath, "0", "");  // passed over, not the end
  SetString(kTreesKeyPath, "1", "ONE");
  SetString(kTreesKeyPath, "3", "BEHIND_GAP");
  EXPECT_EQ(1, LDAPTree("one").GetIndex());
  EXPECT_EQ(0, LDAPTree("").GetIndex());
  EXPECT_THROW(LDAPTree("BEHIND_GAP"), LDAPTree::BadReg);
  EXPECT_EQ((Texts{"", "ONE"}), ListConfiguredTrees());

  const std::string longest(260, 'T');
  SetString(kTreesKeyPath, "2", longest);
  EXPECT_EQ(2, LDAPTree(std::string(260, 't')).GetIndex());
  EXPECT_EQ(3, LDAPTree("BEHIND_GAP").GetIndex());
  SetString(kTreesKeyPath, "2", longest + "T");  // 261: unreadable, ends the list
  EXPECT_THROW(LDAPTree("BEHIND_GAP"), LDAPTree::BadReg);
  EXPECT_THROW(LDAPTree(longest + "T"), LDAPTree::BadReg);
  EXPECT_EQ((Texts{"", "ONE"}), ListConfiguredTrees());
}

TEST_F(TreeTest, FoldsAsciiOnly) {
  EXPECT_EQ("ACME-1_\xE9", ToUpperAscii("acMe-1_\xE9"));
  EXPECT_TRUE(EqualsIgnoringCase("acme", "ACME"));
  EXPECT_FALSE(EqualsIgnoringCase("acme", "ACM"));
  EXPECT_FALSE(EqualsIgnoringCase("\xE9", "\xC9"));
}

}  // namespace
}  // namespace wendrel
