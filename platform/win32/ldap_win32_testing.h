// Test seams of the Windows LDAP port, for the cases Wine's wldap32 cannot
// produce: it refuses the server-certificate callback (0x5C) and so never
// calls it. With these a test makes the port behave as under a wldap32 that
// accepts the option, and plays that wldap32's part in calling it.

#ifndef WENDREL_PLATFORM_WIN32_LDAP_WIN32_TESTING_H_
#define WENDREL_PLATFORM_WIN32_LDAP_WIN32_TESTING_H_

#include <windows.h>
#include <wincrypt.h>
#include <winldap.h>

#include "platform/ldap.h"

namespace wendrel {
namespace platform {

// While set, TLS handles opened afterwards behave as if wldap32 accepted
// LDAP_OPT_SERVER_CERTIFICATE, and the callback is never installed: only a
// test calling it (below) gives such a handle a verdict.
void SkipServerCertificateCallbackForTesting(bool skip);

// The callback the port installs on TLS handles. As wldap32 does, pass a
// pointer to a PCCERT_CONTEXT, which the callback frees.
VERIFYSERVERCERT* ServerCertificateCallbackForTesting();

// The wldap32 connection beneath a port handle: what the callback receives.
LDAP* WldapConnectionForTesting(LdapHandle* ld);

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_WIN32_LDAP_WIN32_TESTING_H_
