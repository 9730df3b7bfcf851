// The search contexts of one tree: the subtree switch
// "Search Context And Subtree <index>" in HKLM\Software\Tarvos\LDAP\Contexts
// and the tree's contexts as values "0", "1", ... of the subkey
// ...\Contexts\<index>. Nothing here fails visibly: missing keys and values
// read as no contexts and the default switch.

#ifndef WENDREL_CONFIG_LDAP_PRUNING_H_
#define WENDREL_CONFIG_LDAP_PRUNING_H_

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace wendrel {

class LDAPPruning {
 public:
  explicit LDAPPruning(int32_t tree_index);
  virtual ~LDAPPruning();

  LDAPPruning(const LDAPPruning&) = delete;
  LDAPPruning& operator=(const LDAPPruning&) = delete;

  // Starts (or restarts) the walk of the tree's contexts and returns the
  // first one, or "" when the tree has none.
  std::string FirstContext();
  // The next context, or "" at the end of the list (and on every call after
  // it). The list ends at the first missing number or empty entry.
  std::string NextContext();
  // True (the default) when each context is searched with its whole
  // subtree, false for one level below it.
  bool SearchSubtree() const;

 private:
  // The tree's contexts key below HKEY_LOCAL_MACHINE.
  std::string TreeKeyPath() const;

  platform::RegKey contexts_key_;  // not open when the contexts key is missing
  platform::RegKey tree_key_;      // opened by FirstContext
  int32_t tree_index_;
  int32_t counter_ = 0;            // number of the next context value to read
};

}  // namespace wendrel

#endif  // WENDREL_CONFIG_LDAP_PRUNING_H_
