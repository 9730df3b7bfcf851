#include "config/ldap_tree.h"

#include <string>
#include <vector>

#include "config/registry_paths.h"
#include "config/tree_list.h"
#include "gtest/gtest.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace {

using TreeTest = testing::RegistryTest;
using Trees = std::vector<std::string>;

TEST_F(TreeTest, MissingOrEmptyListThrows) {
  EXPECT_THROW(LDAPTree("ACME"), LDAPTree::BadReg);
  EXPECT_THROW(ListConfiguredTrees(), LDAPTree::BadReg);
  CreateKey(kTreesKeyPath);
  EXPECT_THROW(LDAPTree("ACME"), LDAPTree::BadReg);
  EXPECT_THROW(LDAPTree(""), LDAPTree::BadReg);
  EXPECT_EQ(Trees{}, ListConfiguredTrees());
}

TEST_F(TreeTest, FirstMatchIgnoringCaseWins) {
  SetString(kTreesKeyPath, "0", "Acme");
  SetString(kTreesKeyPath, "1", "ACME");
  SetString(kTreesKeyPath, "2", "Other_Tree");
  EXPECT_EQ(0, LDAPTree("aCmE").GetIndex());
  EXPECT_EQ(2, LDAPTree("other_tree").GetIndex());
  EXPECT_THROW(LDAPTree("ACM"), LDAPTree::BadReg);
  EXPECT_THROW(LDAPTree("ACMEX"), LDAPTree::BadReg);
  EXPECT_EQ((Trees{"Acme", "ACME", "Other_Tree"}), ListConfiguredTrees());
}

TEST_F(TreeTest, LookupStopsAtGapOrOverlongEntry) {
  SetString(kTreesKeyPath, "0", "");  // passed over, not the end
  SetString(kTreesKeyPath, "1", "ONE");
  SetString(kTreesKeyPath, "3", "BEHIND_GAP");
  EXPECT_EQ(1, LDAPTree("one").GetIndex());
  EXPECT_EQ(0, LDAPTree("").GetIndex());
  EXPECT_THROW(LDAPTree("BEHIND_GAP"), LDAPTree::BadReg);
  EXPECT_EQ((Trees{"", "ONE"}), ListConfiguredTrees());

  const std::string longest(260, 'T');
  SetString(kTreesKeyPath, "2", longest);
  EXPECT_EQ(2, LDAPTree(std::string(260, 't')).GetIndex());
  EXPECT_EQ(3, LDAPTree("BEHIND_GAP").GetIndex());
  SetString(kTreesKeyPath, "2", longest + "T");  // 261: unreadable, ends the list
  EXPECT_THROW(LDAPTree("BEHIND_GAP"), LDAPTree::BadReg);
  EXPECT_THROW(LDAPTree(longest + "T"), LDAPTree::BadReg);
  EXPECT_EQ((Trees{"", "ONE"}), ListConfiguredTrees());
}

TEST_F(TreeTest, FoldsAsciiOnly) {
  EXPECT_EQ("ACME-1_\xE9", ToUpperAscii("acMe-1_\xE9"));
  EXPECT_TRUE(EqualsIgnoringCase("acme", "ACME"));
  EXPECT_FALSE(EqualsIgnoringCase("acme", "ACM"));
  EXPECT_FALSE(EqualsIgnoringCase("\xE9", "\xC9"));
}

}  // namespace
}  // namespace wendrel
