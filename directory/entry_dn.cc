#include "directory/entry_dn.h"

#include <memory>

#include "platform/ldap.h"

namespace wendrel {
namespace {

struct ValueFreer {
  void operator()(char** p) const { platform::LdapValueFree(p); }
};

// A port-allocated, null-terminated list of strings, copied and released.
std::vector<std::string> TakeList(char** raw) {
  std::unique_ptr<char*, ValueFreer> list(raw);
  std::vector<std::string> out;
  for (char** p = raw; p != nullptr && *p != nullptr; ++p) out.emplace_back(*p);
  return out;
}

}  // namespace

void ExplodeEntryDn(const char* dn, std::vector<std::string>* typed_rdns,
                    std::vector<std::string>* value_rdns) {
  typed_rdns->clear();
  value_rdns->clear();
  if (dn == nullptr) return;
  *value_rdns = TakeList(platform::LdapExplodeDn(dn, 1));
  *typed_rdns = TakeList(platform::LdapExplodeDn(dn, 0));
}

}  // namespace wendrel
