// The DN of a search result entry split the two ways the found-user record
// needs: with attribute types ("cn=jsmith", "ou=sales") and without them
// ("jsmith", "sales"), as the LDAP port's ldap_explode_dn splits it (both
// backends' LdapExplodeDn use the one parser of platform/ldap_dn.h).

#ifndef WENDREL_DIRECTORY_ENTRY_DN_H_
#define WENDREL_DIRECTORY_ENTRY_DN_H_

#include <string>
#include <vector>

namespace wendrel {

// Both splits of `dn` (as ldap_get_dn gave it; null for none). A DN the
// library cannot split gives an empty list.
void ExplodeEntryDn(const char* dn, std::vector<std::string>* typed_rdns,
                    std::vector<std::string>* value_rdns);

}  // namespace wendrel

#endif  // WENDREL_DIRECTORY_ENTRY_DN_H_
