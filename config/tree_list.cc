#include "config/tree_list.h"

#include "config/ldap_tree.h"
#include "config/registry_paths.h"
#include "config/registry_value.h"
#include "platform/registry.h"

namespace wendrel {

std::vector<std::string> ListConfiguredTrees() {
  platform::RegKey key;
  if (key.Open(platform::RegKey::LocalMachine(), kTreesKeyPath, platform::kKeyQueryValue) !=
      platform::kRegSuccess) {
    throw LDAPTree::BadReg();
  }
  std::vector<std::string> trees;
  std::string entry;
  while (ReadRegistryText(key, kTreesKeyPath, std::to_string(trees.size()), &entry)) {
    trees.push_back(entry);
  }
  return trees;
}

}  // namespace wendrel
