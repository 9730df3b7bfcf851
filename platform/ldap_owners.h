// Owners for what the LDAP port hands out: a handle (unbound when the owner
// goes), a result message and a value list (each freed with its own call).

#ifndef WENDREL_PLATFORM_LDAP_OWNERS_H_
#define WENDREL_PLATFORM_LDAP_OWNERS_H_

#include <memory>

#include "platform/ldap.h"

namespace wendrel {
namespace platform {

struct LdapHandleCloser {
  void operator()(LdapHandle* ld) const { LdapUnbind(ld); }
};
struct LdapMessageFreer {
  void operator()(LdapMessage* m) const { LdapMsgFree(m); }
};
struct LdapValuesFreer {
  void operator()(char** v) const { LdapValueFree(v); }
};

using LdapHandleOwner = std::unique_ptr<LdapHandle, LdapHandleCloser>;
using LdapMessageOwner = std::unique_ptr<LdapMessage, LdapMessageFreer>;
using LdapValuesOwner = std::unique_ptr<char*, LdapValuesFreer>;

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_LDAP_OWNERS_H_
