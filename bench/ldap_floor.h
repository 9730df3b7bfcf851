// The floors: the same LDAP work done directly with OpenLDAP, as plainly as a
// client can do it, for the extension's figures to be measured against.

#ifndef WENDREL_BENCH_LDAP_FLOOR_H_
#define WENDREL_BENCH_LDAP_FLOOR_H_

#include <ldap.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_environment.h"

namespace wendrel {
namespace bench {

struct LdapCloser {
  void operator()(LDAP* ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};
struct MessageFreer {
  void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
using LdapPtr = std::unique_ptr<LDAP, LdapCloser>;
using MessagePtr = std::unique_ptr<LDAPMessage, MessageFreer>;

// One entry as a plain client keeps it: the DN and every value, copied.
struct PlainEntry {
  std::string dn;
  std::vector<std::pair<std::string, std::string>> values;
};

// A version 3 connection to `server`, bound with the credentials (simple
// bind); null on failure.
LdapPtr BindDirectly(const Endpoint& server, const std::string& bind_dn,
                     const std::string& password);

// The search the user search sends (empty base, subtree, the extension's
// attributes); null on failure.
MessagePtr SearchDirectly(LDAP* ld, const std::string& filter);

// Copies the DN and every value of every entry of `result` into `out`;
// returns the bytes copied.
size_t WalkPlainly(LDAP* ld, LDAPMessage* result, std::vector<PlainEntry>* out);

// The floor of a cold resolution: connect, simple bind, read the root DSE's
// directoryTreeName, search with `filter`, walk the result, unbind. Returns
// the number of entries found, -1 on any failure.
int ResolveDirectly(const Endpoint& server, const std::string& bind_dn,
                    const std::string& password, const std::string& filter);

}  // namespace bench
}  // namespace wendrel

#endif  // WENDREL_BENCH_LDAP_FLOOR_H_
