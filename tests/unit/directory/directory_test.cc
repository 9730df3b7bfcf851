// The directory helpers that need no server: DN splits, addresses, trees
// without the network, tree-name padding, and the unreachable servers' memory.

#include <chrono>
#include <cstring>
#include <tuple>
#include <vector>

#include "directory/entry_dn.h"
#include "directory/reachability.h"
#include "directory/server_probe.h"
#include "directory/tree_name.h"
#include "directory/unreachable_servers.h"
#include "gtest/gtest.h"
#include "platform/icmp.h"
#include "platform/ldap.h"
#include "platform/ldap_dn.h"
#include "platform/threads.h"

namespace wendrel {
namespace {

using Pieces = std::vector<std::string>;
// Typed RDNs, value RDNs, and whether the DN parsed.
using Split = std::tuple<Pieces, Pieces, bool>;

// The one DN parser both LDAP backends hand RDNs through: each form alone,
// both in one pass, and the entry split (which leaves both empty on failure).
TEST(ExplodeDnTest, EachFormBothAtOnceAndTheEntrySplitAgree) {
  const struct {
    const char* dn;
    Pieces typed, values;
  } cases[] = {
      {"cn=jdoe,ou=sales,o=corp", {"cn=jdoe", "ou=sales", "o=corp"}, {"jdoe", "sales", "corp"}},
      {"cn=Zo\xC3\xAB\\, Smith,o=acme", {"cn=Zo\xC3\xAB\\, Smith", "o=acme"},
       {"Zo\xC3\xAB, Smith", "acme"}},
      // Hex pairs become bytes (here UTF-8), escaped specials become
      // themselves; typed forms keep only the escapes they need.
      {"cn=Zo\\C3\\AB,ou=Doe\\2C J\\+K,o=A", {"cn=Zo\xC3\xAB", "ou=Doe\\, J\\+K", "o=A"},
       {"Zo\xC3\xAB", "Doe, J+K", "A"}},
      // Multi-valued RDNs, spaces around separators, old-style quotes and ';'.
      {" cn = a + sn=b , o=\"x, y\" ; c=de ", {"cn=a+sn=b", "o=x\\, y", "c=de"},
       {"a+b", "x, y", "de"}},
      // Escaped edge spaces and a leading '#' survive; BER values stay as written.
      {"cn=\\ a\\ ,cn=\\#1,cn=#04024869", {"cn=\\ a\\ ", "cn=\\#1", "cn=#04024869"},
       {" a ", "#1", "#04024869"}},
      {"", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dn);
    Pieces typed = {"old"}, values = {"old"}, both_typed = {"old"}, both_values = {"old"};
    const bool typed_ok = platform::ExplodeDn(c.dn, false, &typed);
    const bool values_ok = platform::ExplodeDn(c.dn, true, &values);
    EXPECT_EQ(Split(c.typed, c.values, true), Split(typed, values, typed_ok && values_ok));
    const bool both_ok = platform::ExplodeDnBothWays(c.dn, &both_values, &both_typed);
    EXPECT_EQ(Split(c.typed, c.values, true), Split(both_typed, both_values, both_ok));
    ExplodeEntryDn(c.dn, &both_typed, &both_values);
    EXPECT_EQ(Split(c.typed, c.values, true), Split(both_typed, both_values, true));
  }
  for (const char* bad : {"no dn here", "cn=a,", "=a", "cn=a\\", "cn=\"open", "cn=a=b", "cn=#123",
                          ",o=a", "cn", "cn=a,,o=b"}) {
    SCOPED_TRACE(bad);
    Pieces typed = {"old"}, values = {"old"};
    bool ok = platform::ExplodeDn(bad, false, &typed) || platform::ExplodeDn(bad, true, &values);
    EXPECT_EQ(Split({}, {}, false), Split(typed, values, ok));
    typed = values = {"old"};
    ok = platform::ExplodeDnBothWays(bad, &values, &typed);
    EXPECT_EQ(Split({}, {}, false), Split(typed, values, ok));
    typed = values = {"old"};
    ExplodeEntryDn(bad, &typed, &values);
    EXPECT_EQ(Split({}, {}, false), Split(typed, values, false));
  }
  Pieces typed = {"old"}, values = {"old"};
  ExplodeEntryDn(nullptr, &typed, &values);
  EXPECT_EQ(Split({}, {}, false), Split(typed, values, false));
}

std::string Parsed(const char* text) {
  uint32_t address = 0;
  if (!platform::ParseIpv4Address(text, &address)) return "none";
  char out[16];
  platform::FormatIpv4Address(address, out);
  return out;
}

// Every form inet_addr takes: fewer parts (the last one fills the remaining
// bytes), octal and hexadecimal parts. Tree names are refused, and so is
// inet_addr's failure value, however it is spelt: it is never an address.
TEST(ParseIpv4Address, AcceptsEveryFormInetAddrDoesAndNothingElse) {
  const std::pair<const char*, const char*> cases[] = {
      {"127.0.0.1", "127.0.0.1"}, {"10.1.2.3", "10.1.2.3"},     {"127.1", "127.0.0.1"},
      {"10.1.770", "10.1.3.2"},   {"2130706433", "127.0.0.1"},  {"0177.0.0.01", "127.0.0.1"},
      {"0x7f.0x0.0.0X1", "127.0.0.1"}, {"0x7F000001", "127.0.0.1"}, {"ACME", "none"},
      {"ACME.CORP", "none"},      {"1.2.3.4.5", "none"},        {"256.1.1.1", "none"},
      {"1.2.3.4x", "none"},       {"08.1.1.1", "none"},  // 8 is no octal digit
      {nullptr, "none"},          {"255.255.255.255", "none"},  {"0xffffffff", "none"},
      {"4294967295", "none"}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.second, Parsed(c.first)) << (c.first != nullptr ? c.first : "(null)");
  }
}

TEST(GetTreeTest, NameThatIsNoAddressIsTheTreeItselfCutToTheBuffer) {
  InitPing();
  char tree[34];
  auto start = std::chrono::steady_clock::now();
  // Case kept: only addresses are upper-cased. Neither name is pinged (no
  // round trip, no wait for DNS on the broadcast address).
  for (const std::string& name : {std::string("Acme_Tree"), std::string("255.255.255.255")}) {
    std::string kept = name;
    EXPECT_EQ(GetTree(kept, tree, 33, 5), 0u);
    EXPECT_EQ(std::make_pair(name, name), std::make_pair(std::string(tree), kept));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));

  std::string name(40, 'T');
  std::memset(tree, '#', sizeof(tree));
  EXPECT_EQ(GetTree(name, tree, 33, 5), 0u);
  EXPECT_EQ(std::string(32, 'T') + std::string(1, '\0') + "#", std::string(tree, 34));
  EXPECT_EQ(name, std::string(40, 'T'));
  EXPECT_EQ(GetTree(name, nullptr, 33, 5), kTreeBufferTooSmall);
  EXPECT_EQ(GetTree(name, tree, 0, 5), kTreeBufferTooSmall);
  ClosePing();
}

// Tree names as the connection service pads them, and copied into buffers.
TEST(TreeNameTest, PaddingIsRemovedAndCopiesAreCutAndTerminated) {
  const std::pair<std::string, std::string> cases[] = {
      {"ACME" + std::string(28, '_'), "ACME"}, {"MY_TREE__", "MY_TREE"},
      {std::string(32, '_'), ""}, {"_", ""}, {"", ""}, {"_LEADING", "_LEADING"},
      {std::string(32, 'X'), std::string(32, 'X')}};
  for (const auto& c : cases) {
    char buffer[kTreeInfoLength] = {};
    std::memcpy(buffer, c.first.c_str(), std::min(c.first.size() + 1, sizeof(buffer)));
    RemoveTrailingUnderscores(buffer, sizeof(buffer));
    EXPECT_EQ(c.second, std::string(buffer, strnlen(buffer, sizeof(buffer)))) << c.first;
  }
  // No terminator: trimming starts at the buffer's end, nothing written beyond.
  char guarded[kTreeInfoLength + 1];
  std::memset(guarded, '_', sizeof(guarded));
  guarded[0] = 'T';
  guarded[kTreeInfoLength] = '#';
  RemoveTrailingUnderscores(guarded, kTreeInfoLength);
  EXPECT_EQ(std::string("T\0", 2), std::string(guarded, 2));
  EXPECT_EQ('#', guarded[kTreeInfoLength]);
  // Over 33 characters: trimming starts at the 33rd step, beyond it untouched.
  char long_text[40];
  std::memset(long_text, 'A', sizeof(long_text));
  std::memset(long_text + 30, '_', 9);
  long_text[39] = '\0';
  RemoveTrailingUnderscores(long_text, sizeof(long_text));
  EXPECT_EQ(std::string(30, 'A') + std::string(4, '\0') + "_", std::string(long_text, 35));

  char out[8];
  std::memset(out, '#', sizeof(out));
  CopyTreeName("SHORT", out, sizeof(out));
  char small[5];
  CopyTreeName("ABCDEFGH", small, sizeof(small));
  char one[1] = {'#'}, none[1] = {'#'};
  CopyTreeName("ABC", one, sizeof(one));
  CopyTreeName("ABC", none, 0);  // no room even for the terminator: untouched
  EXPECT_EQ(std::make_tuple(std::string("SHORT"), std::string("ABCD"), '\0', '#'),
            std::make_tuple(std::string(out), std::string(small), one[0], none[0]));
}

// The retry memory (its expiry, and that it never takes every server out of a
// walk, are driven against real servers in the failover tests).
class UnreachableServersTest : public ::testing::Test {
 protected:
  void SetUp() override { memory().Clear(); }
  void TearDown() override { memory().Clear(); }
  static UnreachableServers& memory() { return UnreachableServers::Instance(); }
};

TEST_F(UnreachableServersTest, RememberedUntilForgottenOrCleared) {
  const std::string a = UnreachableServerKey("ldap1", 389, false);
  EXPECT_FALSE(memory().IsRemembered(a));
  memory().Remember(a, 60);
  // Another port, or TLS on the same host, is another server.
  EXPECT_EQ((std::vector<bool>{true, false, false}),
            (std::vector<bool>{memory().IsRemembered(a),
                               memory().IsRemembered(UnreachableServerKey("ldap1", 390, false)),
                               memory().IsRemembered(UnreachableServerKey("ldap1", 389, true))}));
  memory().Forget(a);
  EXPECT_FALSE(memory().IsRemembered(a));
  memory().Remember(a, 0);   // off
  memory().Remember(a, -5);  // a negative value reads as off too
  EXPECT_FALSE(memory().IsRemembered(a));
  memory().Remember(a, 60);
  memory().Clear();
  EXPECT_FALSE(memory().IsRemembered(a));

  // A refused certificate, bad credentials: the server said something.
  const std::pair<int, bool> codes[] = {
      {platform::kLdapServerDown, true}, {platform::kLdapTimeout, true},
      {platform::kLdapConnectError, false}, {platform::kLdapInvalidCredentials, false},
      {platform::kLdapSuccess, false}};
  for (const auto& c : codes) EXPECT_EQ(c.second, IsUnansweredCode(c.first)) << c.first;
}

// The worker and the login thread report at once.
TEST_F(UnreachableServersTest, ConcurrentReportsKeepTheMapWhole) {
  struct Shared {
    static uint32_t Hammer(void* parameter) {
      const std::string key = *static_cast<std::string*>(parameter);
      for (int i = 0; i < 2000; ++i) {
        UnreachableServers::Instance().Remember(key, 60);
        UnreachableServers::Instance().IsRemembered(key);
        UnreachableServers::Instance().Forget(key);
      }
      UnreachableServers::Instance().Remember(key, 60);
      return 0;
    }
  };
  std::string first = UnreachableServerKey("w", 1, false);
  std::string second = UnreachableServerKey("l", 2, false);
  platform::ThreadOwner a(platform::CreateThread(Shared::Hammer, &first, nullptr));
  platform::ThreadOwner b(platform::CreateThread(Shared::Hammer, &second, nullptr));
  ASSERT_EQ(platform::kWaitObject0, platform::WaitForThread(a.get(), 30000));
  ASSERT_EQ(platform::kWaitObject0, platform::WaitForThread(b.get(), 30000));
  EXPECT_TRUE(memory().IsRemembered(first) && memory().IsRemembered(second));
}

}  // namespace
}  // namespace wendrel
