// The LDAP filter built from the typed name, the wildcard policy, and the
// attributes every user search requests.

#ifndef WENDREL_SEARCH_USER_FILTER_H_
#define WENDREL_SEARCH_USER_FILTER_H_

#include <string>

namespace wendrel {

class LDAPConfigOptions;
class UserData;

// "mail", "fullName", "givenName", "surname", "telephoneNumber", "uid", null.
extern const char* const kRequestedAttributes[];

// Throws the composed message 29 when wildcards are off and the name holds
// '*'; with wildcards on appends '*' to a name without one.
void ApplyWildcardPolicy(const LDAPConfigOptions& options, UserData& request);

// The filter for `name`; throws the composed message 30 when no search term
// is enabled.
std::string BuildUserFilter(const LDAPConfigOptions& options, const std::string& name);

}  // namespace wendrel

#endif  // WENDREL_SEARCH_USER_FILTER_H_
