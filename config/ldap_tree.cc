#include "config/ldap_tree.h"

#include <utility>

#include "config/registry_paths.h"
#include "config/registry_value.h"
#include "platform/registry.h"

namespace wendrel {

namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string ToUpperAscii(std::string text) {
  for (char& c : text) c = UpperAscii(c);
  return text;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

LDAPTree::LDAPTree(std::string name) : name_(ToUpperAscii(name)) {
  platform::RegKey key;  // held only for the lookup
  if (key.Open(platform::RegKey::LocalMachine(), kTreesKeyPath, platform::kKeyQueryValue) !=
      platform::kRegSuccess) {
    throw BadReg();
  }
  for (index_ = 0;; ++index_) {
    std::string entry;
    if (!ReadRegistryText(key, kTreesKeyPath, std::to_string(index_), &entry)) throw BadReg();
    if (EqualsIgnoringCase(name, entry)) return;
    // The list is finite, and an index cannot grow past the last readable
    // value; this only guards the arithmetic.
    if (index_ == INT32_MAX) throw BadReg();
  }
}

LDAPTree::~LDAPTree() = default;

}  // namespace wendrel
