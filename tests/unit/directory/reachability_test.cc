// Address parsing with inet_addr's rules, and tree discovery for texts that
// are not addresses (no network needed: nothing is pinged or asked).

#include "directory/reachability.h"

#include <chrono>
#include <cstring>
#include <string>
#include <utility>

#include "gtest/gtest.h"
#include "platform/icmp.h"

namespace wendrel {
namespace {

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

TEST_F(GetTreeTest, NameThatIsNoAddressIsTheTreeItself) {
  std::string name = "Acme_Tree";
  char tree[33];
  std::memset(tree, '#', sizeof(tree));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(GetTree(name, tree, sizeof(tree), 5), 0u);
  EXPECT_STREQ(tree, "Acme_Tree");
  EXPECT_EQ(name, "Acme_Tree");  // case kept: only addresses are upper-cased

  name = "255.255.255.255";
  EXPECT_EQ(GetTree(name, tree, sizeof(tree), 5), 0u);
  EXPECT_STREQ(tree, "255.255.255.255");
  // Neither was pinged: an echo would have taken a round trip at least and
  // a lookup of the broadcast address could wait for DNS.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST_F(GetTreeTest, LongNameIsCutToTheBuffer) {
  std::string name(40, 'T');
  char tree[34];
  std::memset(tree, '#', sizeof(tree));
  EXPECT_EQ(GetTree(name, tree, 33, 5), 0u);
  EXPECT_EQ(std::string(tree), std::string(32, 'T'));
  EXPECT_EQ(tree[33], '#');
  EXPECT_EQ(name, std::string(40, 'T'));

  EXPECT_EQ(GetTree(name, nullptr, 33, 5), kTreeBufferTooSmall);
  EXPECT_EQ(GetTree(name, tree, 0, 5), kTreeBufferTooSmall);
}

}  // namespace
}  // namespace wendrel
