// wendrel_ldap_floor.exe: the floor of the Windows build's cold resolution,
// the same LDAP work done as plainly as a wldap32 client can do it, so that
// scripts/bench --windows can time both under the same Wine prefix.
//
//   wendrel_ldap_floor HOST PORT BIND_DN PASSWORD FILTER COUNT [REGISTRY]
//
// COUNT times: connect, simple bind with the proxy credentials, read the root
// DSE's directoryTreeName, search the whole directory for FILTER with the
// attributes the user search asks for, copy every DN and value, unbind. With
// REGISTRY ("OPENS,QUERIES,WRITES,CLOSES", bench/win32/registry_pattern.h)
// each resolution also makes a login's registry calls, so that the floor and
// the registry traffic a login cannot do without are timed together. Exit 0
// when every resolution found exactly one entry, 1 otherwise, 2 for bad
// arguments.

#include <windows.h>
// winldap.h first: winber.h needs its types.
#include <winldap.h>
#include <winber.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/win32/registry_pattern.h"
#include "search/user_filter.h"

namespace {

struct Unbinder {
  void operator()(LDAP* ld) const { ldap_unbind(ld); }
};
struct MessageFreer {
  void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
using LdapPtr = std::unique_ptr<LDAP, Unbinder>;
using MessagePtr = std::unique_ptr<LDAPMessage, MessageFreer>;

struct Server {
  std::string host;
  ULONG port = 0;
  std::string bind_dn;
  std::string password;
};

LdapPtr Bind(const Server& server) {
  LdapPtr ld(ldap_initA(const_cast<char*>(server.host.c_str()), server.port));
  if (ld == nullptr) return nullptr;
  ULONG version = LDAP_VERSION3;
  ldap_set_optionW(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
  if (ldap_connect(ld.get(), nullptr) != LDAP_SUCCESS) return nullptr;
  if (ldap_simple_bind_sA(ld.get(), const_cast<char*>(server.bind_dn.c_str()),
                          const_cast<char*>(server.password.c_str())) != LDAP_SUCCESS) {
    return nullptr;
  }
  return ld;
}

MessagePtr Search(LDAP* ld, ULONG scope, const char* filter, const char* const* attributes) {
  LDAPMessage* raw = nullptr;
  ULONG rc = ldap_search_ext_sA(ld, const_cast<char*>(""), scope, const_cast<char*>(filter),
                                const_cast<char**>(attributes), 0, nullptr, nullptr, nullptr,
                                0, &raw);
  MessagePtr result(raw);
  if (rc != LDAP_SUCCESS) return nullptr;
  return result;
}

bool HasTreeName(LDAP* ld) {
  const char* const attributes[] = {"directoryTreeName", nullptr};
  MessagePtr root = Search(ld, LDAP_SCOPE_BASE, "(objectClass=*)", attributes);
  if (root == nullptr) return false;
  LDAPMessage* entry = ldap_first_entry(ld, root.get());
  if (entry == nullptr) return false;
  berval** tree = ldap_get_values_lenA(ld, entry, const_cast<char*>(attributes[0]));
  const bool has = tree != nullptr && tree[0] != nullptr;
  if (tree != nullptr) ldap_value_free_len(tree);
  return has;
}

// Copies every DN and value, as a plain client keeps them; the entry count.
int Walk(LDAP* ld, LDAPMessage* result) {
  std::vector<std::pair<std::string, std::vector<std::string>>> entries;
  for (LDAPMessage* e = ldap_first_entry(ld, result); e != nullptr; e = ldap_next_entry(ld, e)) {
    char* dn = ldap_get_dnA(ld, e);
    entries.emplace_back(dn != nullptr ? dn : "", std::vector<std::string>());
    if (dn != nullptr) ldap_memfreeA(dn);
    BerElement* ber = nullptr;
    for (char* a = ldap_first_attributeA(ld, e, &ber); a != nullptr;
         a = ldap_next_attributeA(ld, e, ber)) {
      berval** values = ldap_get_values_lenA(ld, e, a);
      for (int i = 0; values != nullptr && values[i] != nullptr; ++i) {
        entries.back().second.emplace_back(values[i]->bv_val, values[i]->bv_len);
      }
      if (values != nullptr) ldap_value_free_len(values);
      ldap_memfreeA(a);
    }
    if (ber != nullptr) ber_free(ber, 0);
  }
  return static_cast<int>(entries.size());
}

int ResolveOnce(const Server& server, const std::string& filter) {
  LdapPtr ld = Bind(server);
  if (ld == nullptr || !HasTreeName(ld.get())) return -1;
  MessagePtr result =
      Search(ld.get(), LDAP_SCOPE_SUBTREE, filter.c_str(), wendrel::kRequestedAttributes);
  if (result == nullptr) return -1;
  return Walk(ld.get(), result.get());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7 && argc != 8) {
    std::fprintf(stderr,
                 "usage: wendrel_ldap_floor HOST PORT BIND_DN PASSWORD FILTER COUNT [REGISTRY]\n");
    return 2;
  }
  wendrel::bench::RegistryPattern registry;
  if (argc == 8 && !wendrel::bench::ParseRegistryPattern(argv[7], &registry)) {
    std::fprintf(stderr, "wendrel_ldap_floor: bad registry pattern\n");
    return 2;
  }
  Server server{argv[1], static_cast<ULONG>(std::strtoul(argv[2], nullptr, 10)), argv[3],
                argv[4]};
  const std::string filter = argv[5];
  const int count = std::atoi(argv[6]);
  if (server.port == 0 || count < 1) {
    std::fprintf(stderr, "wendrel_ldap_floor: bad port or count\n");
    return 2;
  }
  HKEY scratch = registry.writes > 0 ? wendrel::bench::OpenScratchKey() : nullptr;
  for (int i = 0; i < count; ++i) {
    if (argc == 8 && !wendrel::bench::MakeRegistryCalls(registry, scratch)) {
      std::fprintf(stderr, "wendrel_ldap_floor: a registry call failed\n");
      return 1;
    }
    const int found = ResolveOnce(server, filter);
    if (found != 1) {
      std::fprintf(stderr, "wendrel_ldap_floor: resolution %d found %d entries\n", i + 1, found);
      return 1;
    }
  }
  return 0;
}
