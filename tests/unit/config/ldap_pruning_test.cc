#include "config/ldap_pruning.h"

#include <string>
#include <vector>

#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace {

using PruningTest = testing::RegistryTest;

const std::string kTree0 = std::string(kContextsKeyPath) + "\\0";
const std::string kTree1 = std::string(kContextsKeyPath) + "\\1";

// The first context and the `next` ones after it.
std::vector<std::string> Walk(LDAPPruning& pruning, int next) {
  std::vector<std::string> contexts = {pruning.FirstContext()};
  while (next-- > 0) contexts.push_back(pruning.NextContext());
  return contexts;
}
using Contexts = std::vector<std::string>;

TEST_F(PruningTest, NothingConfiguredMeansNoContextsAndSubtree) {
  LDAPPruning pruning(0);
  EXPECT_EQ((Contexts{"", ""}), Walk(pruning, 1));
  EXPECT_TRUE(pruning.SearchSubtree());
  // The contexts key alone, without the tree's subkey.
  CreateKey(kContextsKeyPath);
  LDAPPruning again(0);
  EXPECT_EQ("", again.FirstContext());
  EXPECT_TRUE(again.SearchSubtree());
}

TEST_F(PruningTest, ContextsPerTreeIndex) {
  SetString(kTree0, "0", "ou=sales,o=acme");
  SetString(kTree0, "1", "ou=it,o=acme");
  SetString(kTree1, "0", "o=other");
  LDAPPruning tree0(0);
  EXPECT_EQ((Contexts{"ou=sales,o=acme", "ou=it,o=acme", "", ""}), Walk(tree0, 3));
  SetString(kTree0, "2", "ou=late,o=acme");  // read afresh: the walk picks it up
  EXPECT_EQ("ou=late,o=acme", tree0.NextContext());
  EXPECT_EQ("ou=sales,o=acme", tree0.FirstContext());  // restart

  LDAPPruning tree1(1);
  EXPECT_EQ((Contexts{"o=other", ""}), Walk(tree1, 1));
  EXPECT_EQ("", LDAPPruning(2).FirstContext());
}

TEST_F(PruningTest, ListEndsAtGapEmptyOrOverlongEntry) {
  SetString(kTree0, "0", "o=a");
  SetString(kTree0, "2", "o=behind-gap");
  LDAPPruning pruning(0);
  EXPECT_EQ((Contexts{"o=a", ""}), Walk(pruning, 1));
  SetString(kTree0, "1", "");
  EXPECT_EQ((Contexts{"o=a", ""}), Walk(pruning, 1));
  SetString(kTree0, "0", std::string(260, 'x'));
  SetString(kTree0, "1", std::string(261, 'y'));
  // The counter stays at the bad entry.
  EXPECT_EQ((Contexts{std::string(260, 'x'), "", ""}), Walk(pruning, 2));
}

TEST_F(PruningTest, SubtreeFlagPerTreeIndex) {
  SetDword(kContextsKeyPath, "Search Context And Subtree 1", 0);
  LDAPPruning tree0(0);
  LDAPPruning tree1(1);
  EXPECT_TRUE(tree0.SearchSubtree());
  EXPECT_FALSE(tree1.SearchSubtree());
  SetDword(kContextsKeyPath, "Search Context And Subtree 0", 0);
  SetDword(kContextsKeyPath, "Search Context And Subtree 1", 2);
  EXPECT_FALSE(tree0.SearchSubtree());
  EXPECT_TRUE(tree1.SearchSubtree());
}

}  // namespace
}  // namespace wendrel
