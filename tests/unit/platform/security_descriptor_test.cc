#include "platform/security_descriptor.h"

#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"

namespace wendrel {
namespace platform {
namespace {

const std::vector<KeyAccessEntry> kCacheAcl = {
    {"S-1-1-0", kTrusteeIsWellKnownGroup, kKeyAllAccess},
    {"S-1-5-32-544", kTrusteeIsGroup, kKeyAllAccess},
};

TEST(SecurityDescriptorTest, BuildsTheWindowsLayout) {
  std::vector<uint8_t> sd;
  ASSERT_TRUE(BuildSecurityDescriptor(kCacheAcl, &sd));
  // Header: revision 1, control DACL_PRESENT | SELF_RELATIVE, DACL right after.
  const std::vector<uint8_t> header = {1, 0, 0x04, 0x80, 0, 0, 0, 0, 0, 0,
                                       0, 0, 0,    0,    0, 0, 20, 0, 0, 0};
  ASSERT_GE(sd.size(), header.size());
  EXPECT_EQ(header, std::vector<uint8_t>(sd.begin(), sd.begin() + 20));
  // ACL: revision 2, size 8 + (8 + 12) + (8 + 16), two ACEs.
  EXPECT_EQ(std::vector<uint8_t>({2, 0, 52, 0, 2, 0, 0, 0}),
            std::vector<uint8_t>(sd.begin() + 20, sd.begin() + 28));
  // First ACE: allowed, no flags, size 20, KEY_ALL_ACCESS, S-1-1-0.
  EXPECT_EQ(std::vector<uint8_t>({0, 0, 20, 0, 0x3F, 0, 0x0F, 0, 1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0,
                                  0}),
            std::vector<uint8_t>(sd.begin() + 28, sd.begin() + 48));
  EXPECT_EQ(72u, sd.size());
  EXPECT_EQ("D:(A;;KA;;;WD)(A;;KA;;;BA)", SecurityDescriptorToSddl(sd));
}

TEST(SecurityDescriptorTest, ParsesWhatItBuildsAndOtherRights) {
  std::vector<KeyAccessEntry> acl = {{"S-1-5-21-1-2-3-1001", kTrusteeIsGroup, 0x20019},
                                     {"S-1-5-18", kTrusteeIsWellKnownGroup, 0x1234}};
  std::vector<uint8_t> sd;
  ASSERT_TRUE(BuildSecurityDescriptor(acl, &sd));
  SecurityDescriptorInfo info;
  ASSERT_TRUE(ParseSecurityDescriptor(sd, &info));
  EXPECT_TRUE(info.dacl_present);
  EXPECT_TRUE(info.owner.empty());
  std::vector<std::pair<std::string, uint32_t>> dacl;
  for (const auto& ace : info.dacl) dacl.emplace_back(ace.sid, ace.mask);
  EXPECT_EQ((std::vector<std::pair<std::string, uint32_t>>{{"S-1-5-21-1-2-3-1001", 0x20019},
                                                            {"S-1-5-18", 0x1234}}),
            dacl);
  EXPECT_EQ("D:(A;;KR;;;S-1-5-21-1-2-3-1001)(A;;0x1234;;;SY)", SecurityDescriptorToSddl(sd));

  std::vector<uint8_t> empty;
  ASSERT_TRUE(BuildSecurityDescriptor({}, &empty));
  EXPECT_EQ("D:", SecurityDescriptorToSddl(empty));
}

TEST(SecurityDescriptorTest, ShowsOwnerGroupAndInheritance) {
  // A descriptor as Windows hands one out: owner BA, group SY, a protected
  // DACL whose ACE is inherited to subkeys.
  std::vector<uint8_t> sd = {1, 0, 0x04, 0x90, 20, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0, 48, 0, 0, 0};
  const std::vector<uint8_t> ba = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
  const std::vector<uint8_t> sy = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  sd.insert(sd.end(), ba.begin(), ba.end());
  sd.insert(sd.end(), sy.begin(), sy.end());
  const std::vector<uint8_t> acl = {2, 0, 28, 0, 1, 0, 0, 0, 0, 0x0A, 20, 0, 0x19, 0, 2, 0,
                                    1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
  sd.insert(sd.end(), acl.begin(), acl.end());
  EXPECT_EQ("O:BAG:SYD:P(A;CIIO;KR;;;WD)", SecurityDescriptorToSddl(sd));
}

TEST(SecurityDescriptorTest, RejectsMalformedInput) {
  std::vector<uint8_t> sid;
  EXPECT_TRUE(SidFromString("S-1-5-32-544", &sid));
  for (const char* bad : {"", "S-1", "S-1-", "S-2-5", "S-1-5-x", "S-1-5--1", "X-1-5-32",
                          "S-1-281474976710656-1", "S-1-5-4294967296",
                          "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"}) {
    EXPECT_FALSE(SidFromString(bad, &sid)) << bad;
  }
  std::vector<uint8_t> sd;
  EXPECT_FALSE(BuildSecurityDescriptor({{"S-1-bogus", kTrusteeIsGroup, 1}}, &sd));

  // Every cut of a valid descriptor is refused, never read past its end.
  ASSERT_TRUE(BuildSecurityDescriptor(kCacheAcl, &sd));
  for (size_t size = 0; size < sd.size(); ++size) {
    std::vector<uint8_t> cut(sd.begin(), sd.begin() + size);
    SecurityDescriptorInfo info;
    EXPECT_FALSE(ParseSecurityDescriptor(cut, &info)) << size;
    EXPECT_EQ("", SecurityDescriptorToSddl(cut));
  }
  // Offsets and sizes pointing outside the data: the DACL offset, the ACL
  // size, the first ACE's size; and a descriptor that is not self-relative.
  for (const auto& patch : {std::make_pair(16, 0xF0), std::make_pair(22, 0xFF),
                            std::make_pair(30, 0xFF), std::make_pair(3, 0)}) {
    std::vector<uint8_t> wild = sd;
    wild[patch.first] = static_cast<uint8_t>(patch.second);
    EXPECT_EQ("", SecurityDescriptorToSddl(wild)) << "byte " << patch.first;
  }
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
