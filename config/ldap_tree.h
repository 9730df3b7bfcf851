// Is a tree among the configured trees (HKLM\Software\Tarvos\LDAP\Trees,
// values "0", "1", ...), and at which index? The index names the tree's
// search contexts (see LDAPPruning).

#ifndef WENDREL_CONFIG_LDAP_TREE_H_
#define WENDREL_CONFIG_LDAP_TREE_H_

#include <cstdint>
#include <string>

namespace wendrel {

class LDAPTree {
 public:
  // Thrown by the constructor when the tree list cannot be read or does not
  // hold the tree.
  class BadReg {};

  // Looks `name` up, ignoring case: the first entry that matches gives the
  // index. The walk stops at the first index without a readable value, so
  // trees behind a gap in the numbering are never found; empty entries are
  // passed over. Throws BadReg when the name is not found. The key is open
  // only during the lookup.
  explicit LDAPTree(std::string name);
  virtual ~LDAPTree();

  LDAPTree(const LDAPTree&) = delete;
  LDAPTree& operator=(const LDAPTree&) = delete;

  int32_t GetIndex() const { return index_; }

 private:
  std::string name_;  // upper case
  int32_t index_ = 0;
};

// The case folding tree names get: ASCII letters only, as in the C locale,
// so a name compares the same whatever the ANSI code page.
std::string ToUpperAscii(std::string text);
bool EqualsIgnoringCase(const std::string& a, const std::string& b);

}  // namespace wendrel

#endif  // WENDREL_CONFIG_LDAP_TREE_H_
