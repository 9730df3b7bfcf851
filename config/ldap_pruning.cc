#include "config/ldap_pruning.h"

#include "config/registry_paths.h"
#include "config/registry_value.h"

namespace wendrel {

LDAPPruning::LDAPPruning(int32_t tree_index) : tree_index_(tree_index) {
  // Not an error: without the key the subtree switch reads as its default.
  if (contexts_key_.Open(platform::RegKey::LocalMachine(), kContextsKeyPath,
                         platform::kKeyRead) != platform::kRegSuccess) {
    contexts_key_.Close();
  }
}

LDAPPruning::~LDAPPruning() = default;

std::string LDAPPruning::TreeKeyPath() const {
  return std::string(kContextsKeyPath) + "\\" + std::to_string(tree_index_);
}

std::string LDAPPruning::FirstContext() {
  tree_key_.Close();
  if (tree_key_.Open(platform::RegKey::LocalMachine(), TreeKeyPath(), platform::kKeyRead) !=
      platform::kRegSuccess) {
    // With no tree key NextContext finds nothing either.
    tree_key_.Close();
    return std::string();
  }
  counter_ = 0;
  return NextContext();
}

std::string LDAPPruning::NextContext() {
  std::string context;
  // A failed read leaves the counter, so the end of the list stays the end.
  if (ReadRegistryText(tree_key_, TreeKeyPath(), std::to_string(counter_), &context) &&
      counter_ < INT32_MAX) {
    ++counter_;
  }
  return context;
}

bool LDAPPruning::SearchSubtree() const {
  return ReadRegistryNumber(contexts_key_, kContextsKeyPath,
                            "Search Context And Subtree " + std::to_string(tree_index_), 1) != 0;
}

}  // namespace wendrel
