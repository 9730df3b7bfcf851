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

// `name` as an LDAP filter value (RFC 4515): '(' ')' '\\' and NUL become
// \28 \29 \5c \00. '*' is left as it is: the wildcard policy has already
// decided which stars a name may carry, and those stay wildcards.
std::string EscapeFilterValue(const std::string& name);

// The filter for `name`, escaped when "Escape Search Filter" is on; throws the composed message 30 when no search term
// is enabled.
std::string BuildUserFilter(const LDAPConfigOptions& options, const std::string& name);

}  // namespace wendrel

#endif  // WENDREL_SEARCH_USER_FILTER_H_
