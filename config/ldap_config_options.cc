#include "config/ldap_config_options.h"

#include "config/registry_paths.h"
#include "config/registry_value.h"

namespace wendrel {

LDAPConfigOptions::LDAPConfigOptions() {
  if (key_.Open(platform::RegKey::LocalMachine(), kOptionsKeyPath, platform::kKeyRead) !=
      platform::kRegSuccess) {
    throw BadReg();
  }
}

LDAPConfigOptions::~LDAPConfigOptions() = default;

uint32_t LDAPConfigOptions::Read(const char* name, uint32_t default_value) const {
  return ReadRegistryNumber(key_, kOptionsKeyPath, name, default_value);
}

bool LDAPConfigOptions::ContextlessLoginEnabled() const {
  return Read("Contextless Login Enabled", 0) != 0;
}

bool LDAPConfigOptions::TreelessLoginEnabled() const {
  return Read("Treeless Login Enabled", 0) != 0;
}

bool LDAPConfigOptions::ContextSearchScopeEnabled() const {
  return Read("Context Search Scope Enabled", 0) != 0;
}

bool LDAPConfigOptions::AllowWildcards() const { return Read("Allow Wildcards", 0) != 0; }

int32_t LDAPConfigOptions::UserSearchFailure() const {
  return static_cast<int32_t>(Read("User Search Failure", 1));
}

int32_t LDAPConfigOptions::SearchAllScopes() const {
  return static_cast<int32_t>(Read("Search All Scopes", 1));
}

bool LDAPConfigOptions::SearchAlias() const { return Read("Search Alias", 0) != 0; }

bool LDAPConfigOptions::SearchEmail() const { return Read("Search Email", 0) != 0; }

bool LDAPConfigOptions::SearchFullName() const { return Read("Search Full Name", 0) != 0; }

bool LDAPConfigOptions::SearchGivenName() const { return Read("Search Given Name", 0) != 0; }

bool LDAPConfigOptions::SearchSurname() const { return Read("Search Surname", 0) != 0; }

bool LDAPConfigOptions::SearchTelephoneNumber() const {
  return Read("Search Telephone Number", 0) != 0;
}

bool LDAPConfigOptions::SearchUniqueID() const { return Read("Search Unique ID", 0) != 0; }

bool LDAPConfigOptions::SearchUsername() const { return Read("Search Username", 1) != 0; }

bool LDAPConfigOptions::DisplayContext() const { return Read("Display Context", 1) != 0; }

bool LDAPConfigOptions::DisplayEmail() const { return Read("Display Email", 0) != 0; }

bool LDAPConfigOptions::DisplayFullName() const { return Read("Display Full Name", 0) != 0; }

bool LDAPConfigOptions::DisplayGivenName() const { return Read("Display Given Name", 0) != 0; }

bool LDAPConfigOptions::DisplaySurname() const { return Read("Display Surname", 0) != 0; }

bool LDAPConfigOptions::DisplayTelephoneNumber() const {
  return Read("Display Telephone Number", 0) != 0;
}

bool LDAPConfigOptions::DisplayUniqueID() const { return Read("Display Unique ID", 0) != 0; }

bool LDAPConfigOptions::UseCachedResults() const {
  if (AllowWildcards()) return false;
  // Spelled without blanks, unlike every other option.
  return Read("UseCachedResults", 0) != 0;
}

bool LDAPConfigOptions::ProbeServersInParallel() const {
  return Read("Probe Servers In Parallel", 0) != 0;
}

int32_t LDAPConfigOptions::UnreachableServerRetrySeconds() const {
  return static_cast<int32_t>(Read("Unreachable Server Retry Seconds", 0));
}

bool LDAPConfigOptions::EscapeSearchFilter() const { return Read("Escape Search Filter", 0) != 0; }

bool LDAPConfigOptions::LogSuccessfulLogins() const {
  return Read("Log Successful Logins", 0) != 0;
}

}  // namespace wendrel
