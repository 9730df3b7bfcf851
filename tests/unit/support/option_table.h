// Every option of the options key with its default and getter, in documented
// order (the configuration tests and the registry readers' fuzz target).

#ifndef WENDREL_TESTS_UNIT_SUPPORT_OPTION_TABLE_H_
#define WENDREL_TESTS_UNIT_SUPPORT_OPTION_TABLE_H_

#include <cstdint>

#include "config/ldap_config_options.h"

namespace wendrel {
namespace testing {

struct OptionGetter {
  const char* value_name;
  int32_t default_value;
  int32_t (*get)(const LDAPConfigOptions&);
  // True for the getters that return the number itself; the others give 0/1.
  bool integer;
};

#define WENDREL_OPTION(value, getter, def, integer) \
  {value, def, [](const LDAPConfigOptions& o) { return static_cast<int32_t>(o.getter()); }, integer}
inline const OptionGetter kEveryOption[] = {
    WENDREL_OPTION("Contextless Login Enabled", ContextlessLoginEnabled, 0, false),
    WENDREL_OPTION("Treeless Login Enabled", TreelessLoginEnabled, 0, false),
    WENDREL_OPTION("Context Search Scope Enabled", ContextSearchScopeEnabled, 0, false),
    WENDREL_OPTION("Allow Wildcards", AllowWildcards, 0, false),
    WENDREL_OPTION("User Search Failure", UserSearchFailure, 1, true),
    WENDREL_OPTION("Search All Scopes", SearchAllScopes, 1, true),
    WENDREL_OPTION("Search Alias", SearchAlias, 0, false),
    WENDREL_OPTION("Search Email", SearchEmail, 0, false),
    WENDREL_OPTION("Search Full Name", SearchFullName, 0, false),
    WENDREL_OPTION("Search Given Name", SearchGivenName, 0, false),
    WENDREL_OPTION("Search Surname", SearchSurname, 0, false),
    WENDREL_OPTION("Search Telephone Number", SearchTelephoneNumber, 0, false),
    WENDREL_OPTION("Search Unique ID", SearchUniqueID, 0, false),
    WENDREL_OPTION("Search Username", SearchUsername, 1, false),
    WENDREL_OPTION("Display Context", DisplayContext, 1, false),
    WENDREL_OPTION("Display Email", DisplayEmail, 0, false),
    WENDREL_OPTION("Display Full Name", DisplayFullName, 0, false),
    WENDREL_OPTION("Display Given Name", DisplayGivenName, 0, false),
    WENDREL_OPTION("Display Surname", DisplaySurname, 0, false),
    WENDREL_OPTION("Display Telephone Number", DisplayTelephoneNumber, 0, false),
    WENDREL_OPTION("Display Unique ID", DisplayUniqueID, 0, false),
    WENDREL_OPTION("UseCachedResults", UseCachedResults, 0, false),
    WENDREL_OPTION("Probe Servers In Parallel", ProbeServersInParallel, 0, false),
    WENDREL_OPTION("Unreachable Server Retry Seconds", UnreachableServerRetrySeconds, 0, true),
    WENDREL_OPTION("Escape Search Filter", EscapeSearchFilter, 0, false),
    WENDREL_OPTION("Log Successful Logins", LogSuccessfulLogins, 0, false),
};
#undef WENDREL_OPTION

}  // namespace testing
}  // namespace wendrel

#endif  // WENDREL_TESTS_UNIT_SUPPORT_OPTION_TABLE_H_
