#include "directory/entry_dn.h"

#include "platform/ldap_dn.h"

namespace wendrel {

void ExplodeEntryDn(const char* dn, std::vector<std::string>* typed_rdns,
                    std::vector<std::string>* value_rdns) {
  typed_rdns->clear();
  value_rdns->clear();
  if (dn == nullptr) return;
  // The split both backends' LdapExplodeDn make, called directly and for
  // both forms in one pass: the same RDNs, without copying each through a
  // library-allocated list (a large result spent a fifth of its conversion
  // on that). A DN that does not parse leaves both lists empty.
  platform::ExplodeDnBothWays(dn, value_rdns, typed_rdns);
}

}  // namespace wendrel
