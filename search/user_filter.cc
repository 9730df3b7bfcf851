#include "search/user_filter.h"

#include "config/ldap_config_options.h"
#include "resources/message_catalogue.h"
#include "results/user_data.h"

namespace wendrel {
namespace {

constexpr char kPrefixWithAliases[] =
    "(&(|(objectClass=inetOrgPerson)(objectClass=aliasObject))(|";
constexpr char kPrefixPlain[] = "(&(objectClass=inetOrgPerson)(|";
constexpr char kSuffix[] = "))";
// What the plain prefix and the suffix make when no term is on. Only this one
// text counts as empty: the alias prefix with an empty OR is sent as it is.
constexpr char kEmptyFilter[] = "(&(objectClass=inetOrgPerson)(|))";

struct Term {
  bool (LDAPConfigOptions::*enabled)() const;
  const char* literal;
};

// The order in which terms are appended.
const Term kTerms[] = {
    {&LDAPConfigOptions::SearchEmail, "(mail="},
    {&LDAPConfigOptions::SearchFullName, "(fullName="},
    {&LDAPConfigOptions::SearchGivenName, "(givenName="},
    {&LDAPConfigOptions::SearchSurname, "(surname="},
    {&LDAPConfigOptions::SearchTelephoneNumber, "(telephoneNumber="},
    {&LDAPConfigOptions::SearchUniqueID, "(uid="},
    {&LDAPConfigOptions::SearchUsername, "(cn="},
};

}  // namespace

// cn is not asked for: the leaf name comes from the entry's DN.
const char* const kRequestedAttributes[] = {"mail",           "fullName", "givenName", "surname",
                                            "telephoneNumber", "uid",      nullptr};

void ApplyWildcardPolicy(const LDAPConfigOptions& options, UserData& request) {
  const std::string name = request.GetLoginName();
  const bool has_wildcard = name.find('*') != std::string::npos;
  if (!options.AllowWildcards()) {
    if (has_wildcard) throw ComposeMessage(kMsgWildcardNotAllowed);
    return;
  }
  // With wildcards allowed every search is at least a prefix search; a name
  // that already holds one is the user's own pattern and stays as typed.
  if (!has_wildcard) request.SetLoginName(name + '*');
}

std::string EscapeFilterValue(const std::string& name) {
  std::string escaped;
  escaped.reserve(name.size());
  for (char c : name) {
    switch (c) {
      case '(': escaped += "\\28"; break;
      case ')': escaped += "\\29"; break;
      case '\\': escaped += "\\5c"; break;
      case '\0': escaped += "\\00"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::string BuildUserFilter(const LDAPConfigOptions& options, const std::string& typed_name) {
  // Only the filter text is escaped: the request keeps the name as typed,
  // since it is also the cache key and what the login host gets back.
  const std::string name =
      options.EscapeSearchFilter() ? EscapeFilterValue(typed_name) : typed_name;
  std::string filter = options.SearchAlias() ? kPrefixWithAliases : kPrefixPlain;
  for (const Term& term : kTerms) {
    if (!(options.*term.enabled)()) continue;
    // Without escaping the name goes in verbatim: '*' must stay a wildcard,
    // and a name that breaks the filter is refused by the directory library
    // with its own error text.
    filter += term.literal;
    filter += name;
    filter += ')';
  }
  filter += kSuffix;
  if (filter == kEmptyFilter) throw ComposeMessage(kMsgNoSearchOptions);
  return filter;
}

}  // namespace wendrel
