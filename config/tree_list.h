// The configured trees in index order, read the way LDAPTree walks them, for
// tools that show the whole configuration.

#ifndef WENDREL_CONFIG_TREE_LIST_H_
#define WENDREL_CONFIG_TREE_LIST_H_

#include <string>
#include <vector>

namespace wendrel {

// Entry i is the tree stored under value "i". The list ends where LDAPTree's
// lookup would give up: at the first index without a readable value (missing,
// or longer than 260 characters). Empty entries are kept, since the lookup
// passes over them. Throws LDAPTree::BadReg when the key cannot be opened.
std::vector<std::string> ListConfiguredTrees();

}  // namespace wendrel

#endif  // WENDREL_CONFIG_TREE_LIST_H_
