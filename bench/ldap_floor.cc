#include "bench/ldap_floor.h"

#include <cstring>

#include "search/user_filter.h"

namespace wendrel {
namespace bench {

LdapPtr BindDirectly(const Endpoint& server, const std::string& bind_dn,
                     const std::string& password) {
  LDAP* raw = nullptr;
  const std::string uri = "ldap://" + server.host + ":" + std::to_string(server.port);
  if (ldap_initialize(&raw, uri.c_str()) != LDAP_SUCCESS) return nullptr;
  LdapPtr ld(raw);
  int version = LDAP_VERSION3;
  ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
  berval credentials;
  credentials.bv_val = const_cast<char*>(password.c_str());
  credentials.bv_len = password.size();
  if (ldap_sasl_bind_s(ld.get(), bind_dn.c_str(), LDAP_SASL_SIMPLE, &credentials, nullptr,
                       nullptr, nullptr) != LDAP_SUCCESS) {
    return nullptr;
  }
  return ld;
}

MessagePtr SearchDirectly(LDAP* ld, const std::string& filter) {
  LDAPMessage* raw = nullptr;
  int rc = ldap_search_ext_s(ld, "", LDAP_SCOPE_SUBTREE, filter.c_str(),
                             const_cast<char**>(kRequestedAttributes), 0, nullptr, nullptr, nullptr, 0,
                             &raw);
  MessagePtr result(raw);
  if (rc != LDAP_SUCCESS) return nullptr;
  return result;
}

size_t WalkPlainly(LDAP* ld, LDAPMessage* result, std::vector<PlainEntry>* out) {
  size_t bytes = 0;
  for (LDAPMessage* e = ldap_first_entry(ld, result); e != nullptr; e = ldap_next_entry(ld, e)) {
    PlainEntry entry;
    char* dn = ldap_get_dn(ld, e);
    if (dn != nullptr) entry.dn = dn;
    ldap_memfree(dn);
    bytes += entry.dn.size();
    BerElement* ber = nullptr;
    for (char* a = ldap_first_attribute(ld, e, &ber); a != nullptr;
         a = ldap_next_attribute(ld, e, ber)) {
      berval** values = ldap_get_values_len(ld, e, a);
      for (int i = 0; values != nullptr && values[i] != nullptr; ++i) {
        entry.values.emplace_back(a, std::string(values[i]->bv_val, values[i]->bv_len));
        bytes += values[i]->bv_len;
      }
      ldap_value_free_len(values);
      ldap_memfree(a);
    }
    ber_free(ber, 0);
    out->push_back(std::move(entry));
  }
  return bytes;
}

int ResolveDirectly(const Endpoint& server, const std::string& bind_dn,
                    const std::string& password, const std::string& filter) {
  LdapPtr ld = BindDirectly(server, bind_dn, password);
  if (ld == nullptr) return -1;
  char tree_attribute[] = "directoryTreeName";
  char* tree_attributes[] = {tree_attribute, nullptr};
  LDAPMessage* raw = nullptr;
  int rc = ldap_search_ext_s(ld.get(), "", LDAP_SCOPE_BASE, "(objectClass=*)", tree_attributes,
                             0, nullptr, nullptr, nullptr, 0, &raw);
  MessagePtr root(raw);
  if (rc != LDAP_SUCCESS) return -1;
  LDAPMessage* entry = ldap_first_entry(ld.get(), root.get());
  berval** tree = entry != nullptr ? ldap_get_values_len(ld.get(), entry, tree_attribute)
                                   : nullptr;
  const bool has_tree = tree != nullptr && tree[0] != nullptr;
  ldap_value_free_len(tree);
  if (!has_tree) return -1;
  MessagePtr result = SearchDirectly(ld.get(), filter);
  if (result == nullptr) return -1;
  std::vector<PlainEntry> entries;
  WalkPlainly(ld.get(), result.get(), &entries);
  return static_cast<int>(entries.size());
}

}  // namespace bench
}  // namespace wendrel
