// The directory helpers that need no server: DN splits, address parsing and
// tree discovery without the network, tree-name padding, and the retry
// memory of unreachable servers.

#include <chrono>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "directory/entry_dn.h"
#include "directory/reachability.h"
#include "directory/server_probe.h"
#include "directory/tree_name.h"
#include "directory/unreachable_servers.h"
#include "gtest/gtest.h"
#include "platform/icmp.h"
#include "platform/ldap.h"
#include "platform/threads.h"
#include "search/server_failover.h"

namespace wendrel {
namespace {

using Pieces = std::vector<std::string>;

// Typed and value RDNs in DN order, through the LDAP port of this build;
// non-ASCII bytes kept and escapes removed from the values; an empty or
// broken DN gives no pieces.
TEST(ExplodeEntryDnTest, GivesTypedAndValueRdnsInDnOrder) {
  const struct {
    const char* dn;
    Pieces typed, values;
  } cases[] = {
      {"cn=jsmith,ou=sales,o=acme",
       {"cn=jsmith", "ou=sales", "o=acme"},
       {"jsmith", "sales", "acme"}},
      {"cn=Zo\xC3\xAB\\, Smith,o=acme", {"cn=Zo\xC3\xAB\\, Smith", "o=acme"},
       {"Zo\xC3\xAB, Smith", "acme"}},
      {nullptr, {}, {}}, {"", {}, {}}, {"cn", {}, {}}, {"cn=a,,o=b", {}, {}}, {"=x", {}, {}}};
  for (const auto& c : cases) {
    Pieces typed = {"stale"}, values = {"stale"};
    ExplodeEntryDn(c.dn, &typed, &values);
    EXPECT_EQ(std::make_pair(c.typed, c.values), std::make_pair(typed, values))
        << (c.dn != nullptr ? c.dn : "(null)");
  }
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

class GetTreeTest : public ::testing::Test {
 protected:
  void SetUp() override { InitPing(); }
  void TearDown() override { ClosePing(); }
};

TEST_F(GetTreeTest, NameThatIsNoAddressIsTheTreeItselfCutToTheBuffer) {
  std::string name = "Acme_Tree";
  char tree[34];
  std::memset(tree, '#', sizeof(tree));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(GetTree(name, tree, 33, 5), 0u);
  EXPECT_STREQ(tree, "Acme_Tree");
  EXPECT_EQ(name, "Acme_Tree");  // case kept: only addresses are upper-cased
  name = "255.255.255.255";
  EXPECT_EQ(GetTree(name, tree, 33, 5), 0u);
  EXPECT_STREQ(tree, "255.255.255.255");
  // Neither was pinged: an echo would have taken a round trip at least and
  // a lookup of the broadcast address could wait for DNS.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));

  name = std::string(40, 'T');
  std::memset(tree, '#', sizeof(tree));
  EXPECT_EQ(GetTree(name, tree, 33, 5), 0u);
  EXPECT_EQ(std::string(tree), std::string(32, 'T'));
  EXPECT_EQ(tree[33], '#');
  EXPECT_EQ(name, std::string(40, 'T'));
  EXPECT_EQ(GetTree(name, nullptr, 33, 5), kTreeBufferTooSmall);
  EXPECT_EQ(GetTree(name, tree, 0, 5), kTreeBufferTooSmall);
}

// Tree names as the connection service pads them.
TEST(RemoveTrailingUnderscores, RemovesOnlyThePadding) {
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
}

TEST(RemoveTrailingUnderscores, StaysInsideAnUnterminatedBuffer) {
  // A full buffer with no terminator: the walk stops at its end and trims
  // from the last character it may stand on, writing nothing beyond.
  char guarded[kTreeInfoLength + 1];
  std::memset(guarded, '_', sizeof(guarded));
  guarded[0] = 'T';
  guarded[kTreeInfoLength] = '#';
  RemoveTrailingUnderscores(guarded, kTreeInfoLength);
  EXPECT_EQ(std::string("T\0", 2), std::string(guarded, 2));
  EXPECT_EQ(guarded[kTreeInfoLength], '#');

  // More than 33 characters before the terminator: trimming starts from
  // the character reached after 33 steps.
  char long_text[40];
  std::memset(long_text, 'A', sizeof(long_text));
  std::memset(long_text + 30, '_', 9);
  long_text[39] = '\0';
  RemoveTrailingUnderscores(long_text, sizeof(long_text));
  EXPECT_EQ(std::string(long_text), std::string(30, 'A'));
  EXPECT_EQ(long_text[34], '_');  // beyond the 33 steps: untouched
}

TEST(CopyTreeName, CutsToTheBufferAndAlwaysTerminates) {
  char out[8];
  std::memset(out, '#', sizeof(out));
  CopyTreeName("SHORT", out, sizeof(out));
  EXPECT_STREQ(out, "SHORT");
  char small[5];
  CopyTreeName("ABCDEFGH", small, sizeof(small));
  EXPECT_STREQ(small, "ABCD");
  char one[1] = {'#'};
  CopyTreeName("ABC", one, sizeof(one));
  EXPECT_EQ(one[0], '\0');
}

// The retry memory of "Unreachable Server Retry Seconds" and the rule that
// it never takes every server out of a walk.
class UnreachableServersTest : public ::testing::Test {
 protected:
  void SetUp() override { memory().Clear(); }
  void TearDown() override { memory().Clear(); }
  static UnreachableServers& memory() { return UnreachableServers::Instance(); }
};

TEST_F(UnreachableServersTest, RememberedUntilForgottenExpiredOrCleared) {
  const std::string a = UnreachableServerKey("ldap1", 389, false);
  EXPECT_FALSE(memory().IsRemembered(a));
  memory().Remember(a, 60);
  EXPECT_TRUE(memory().IsRemembered(a));
  // Another port, or TLS on the same host, is another server.
  EXPECT_FALSE(memory().IsRemembered(UnreachableServerKey("ldap1", 390, false)));
  EXPECT_FALSE(memory().IsRemembered(UnreachableServerKey("ldap1", 389, true)));
  memory().Forget(a);
  EXPECT_FALSE(memory().IsRemembered(a));

  memory().Remember(a, 0);   // off
  memory().Remember(a, -5);  // a negative value reads as off too
  EXPECT_FALSE(memory().IsRemembered(a));

  memory().Remember(a, 1);
  EXPECT_TRUE(memory().IsRemembered(a));
  platform::Sleep(1100);
  EXPECT_FALSE(memory().IsRemembered(a));

  memory().Remember(a, 60);
  memory().Clear();
  EXPECT_FALSE(memory().IsRemembered(a));
}

TEST_F(UnreachableServersTest, OnlyUnansweredCodesMeanUnreachable) {
  // A refused certificate, bad credentials: the server said something.
  const std::pair<int, bool> codes[] = {
      {platform::kLdapServerDown, true}, {platform::kLdapTimeout, true},
      {platform::kLdapConnectError, false}, {platform::kLdapInvalidCredentials, false},
      {platform::kLdapSuccess, false}};
  for (const auto& c : codes) EXPECT_EQ(c.second, IsUnansweredCode(c.first)) << c.first;
}

TEST_F(UnreachableServersTest, AllRememberedMeansAllTried) {
  std::vector<ServerEndpoint> servers(3);
  for (size_t i = 0; i < servers.size(); ++i) servers[i].host = "s" + std::to_string(i);
  EXPECT_EQ(std::vector<bool>({false, false, false}), ServerFailover::RememberedToSkip(servers));
  memory().Remember(servers[0].Key(), 60);
  memory().Remember(servers[2].Key(), 60);
  EXPECT_EQ(std::vector<bool>({true, false, true}), ServerFailover::RememberedToSkip(servers));
  memory().Remember(servers[1].Key(), 60);
  EXPECT_EQ(std::vector<bool>({false, false, false}), ServerFailover::RememberedToSkip(servers));
  EXPECT_TRUE(ServerFailover::RememberedToSkip({}).empty());
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
  EXPECT_TRUE(memory().IsRemembered(first));
  EXPECT_TRUE(memory().IsRemembered(second));
}

}  // namespace
}  // namespace wendrel
