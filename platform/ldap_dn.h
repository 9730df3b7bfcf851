// Splitting a distinguished name into its RDNs (RFC 4514), shared by both
// LDAP backends so that LdapExplodeDn gives the same strings everywhere: the
// libraries beneath hex-escape every non-ASCII byte, and the callers show
// these strings to people.

#ifndef WENDREL_PLATFORM_LDAP_DN_H_
#define WENDREL_PLATFORM_LDAP_DN_H_

#include <string>
#include <string_view>
#include <vector>

namespace wendrel {
namespace platform {

// Splits dn into its RDNs, first (leftmost) first. With notypes each RDN is
// its value as text, escapes and quotes removed (the values of a multi-valued
// RDN joined by "+"); otherwise "type=value" with only the escapes RFC 4514
// requires. False for a string that is not a DN; "" is the empty DN.
bool ExplodeDn(std::string_view dn, bool notypes, std::vector<std::string>* rdns);

// Both splits of ExplodeDn from one pass over dn: `values` as with notypes,
// `typed` as without. False (both empty) for a string that is not a DN.
bool ExplodeDnBothWays(std::string_view dn, std::vector<std::string>* values,
                       std::vector<std::string>* typed);

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_LDAP_DN_H_
