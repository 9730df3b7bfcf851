// The login options: the extension's read-only view of its switches in
// HKLM\Software\Tarvos\Graphical Login\QZLGE\LDAP Contextless.
//
// Each getter reads its value at the moment it is called, so a change to the
// key shows at the next call. A missing value, or one whose data do not fit in
// 32 bits, gives the option's default; the value's type is not checked.

#ifndef WENDREL_CONFIG_LDAP_CONFIG_OPTIONS_H_
#define WENDREL_CONFIG_LDAP_CONFIG_OPTIONS_H_

#include <cstdint>

#include "platform/registry.h"

namespace wendrel {

class LDAPConfigOptions {
 public:
  // Thrown by the constructor when the options key cannot be opened.
  class BadReg {};

  // Opens the options key for reading; throws BadReg when that fails.
  LDAPConfigOptions();
  virtual ~LDAPConfigOptions();

  LDAPConfigOptions(const LDAPConfigOptions&) = delete;
  LDAPConfigOptions& operator=(const LDAPConfigOptions&) = delete;

  bool ContextlessLoginEnabled() const;
  bool TreelessLoginEnabled() const;
  bool ContextSearchScopeEnabled() const;
  bool AllowWildcards() const;
  // In treeless login, when a tree yields no user: 0 stops, 1 asks whether to
  // go on, anything else goes on without asking.
  int32_t UserSearchFailure() const;
  // 0: stop at the first search context that yields users.
  int32_t SearchAllScopes() const;
  bool SearchAlias() const;
  bool SearchEmail() const;
  bool SearchFullName() const;
  bool SearchGivenName() const;
  bool SearchSurname() const;
  bool SearchTelephoneNumber() const;
  bool SearchUniqueID() const;
  bool SearchUsername() const;
  bool DisplayContext() const;
  bool DisplayEmail() const;
  bool DisplayFullName() const;
  bool DisplayGivenName() const;
  bool DisplaySurname() const;
  bool DisplayTelephoneNumber() const;
  bool DisplayUniqueID() const;
  // False whenever wildcards are allowed: a wildcard search must never be
  // answered from the cache. Only then is "UseCachedResults" read.
  bool UseCachedResults() const;

  // Failover and filter options added later; each is off when
  // missing, and off keeps the server walk and the filter exactly as without
  // it.
  // Probe every configured server at once before the walk, so that k silent
  // servers cost one connection time-out instead of k.
  bool ProbeServersInParallel() const;
  // Seconds for which a server that could not be reached is skipped by
  // later searches of this process; 0 (and any negative value) is off.
  int32_t UnreachableServerRetrySeconds() const;
  // Escape the typed name for the filter (RFC 4515), wildcards aside.
  bool EscapeSearchFilter() const;
  // Write an Information event for every successful resolution (failures
  // are reported whatever this says).
  bool LogSuccessfulLogins() const;

 private:
  uint32_t Read(const char* name, uint32_t default_value) const;

  platform::RegKey key_;
};

}  // namespace wendrel

#endif  // WENDREL_CONFIG_LDAP_CONFIG_OPTIONS_H_
