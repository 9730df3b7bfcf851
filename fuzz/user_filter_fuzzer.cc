// The wildcard policy and the user filter over any typed name, with each of
// the nine options that shape the filter missing or of any type and up to 8
// bytes. Checked: message 29 exactly for a '*' with wildcards off; with them
// on, a '*' appended only to a name without one; the filter is the alias
// option's prefix, one term per enabled option holding the name verbatim,
// and "))"; message 30 exactly when neither aliases nor any term is on.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/ldap_config_options.h"
#include "config/registry_paths.h"
#include "fuzz/support/fuzz_store.h"
#include "resources/message_catalogue.h"
#include "results/user_data.h"
#include "search/user_filter.h"

namespace wendrel {
namespace {

using fuzzing::Check;

struct OptionSpec {
  const char* value_name;
  uint32_t default_value;
  const char* term;  // null for the two options that are not terms
};

// In the order the terms are appended.
const OptionSpec kOptions[] = {
    {"Allow Wildcards", 0, nullptr},
    {"Search Alias", 0, nullptr},
    {"Search Email", 0, "(mail="},
    {"Search Full Name", 0, "(fullName="},
    {"Search Given Name", 0, "(givenName="},
    {"Search Surname", 0, "(surname="},
    {"Search Telephone Number", 0, "(telephoneNumber="},
    {"Search Unique ID", 0, "(uid="},
    {"Search Username", 1, "(cn="},
};
constexpr size_t kOptionCount = sizeof(kOptions) / sizeof(kOptions[0]);

}  // namespace
}  // namespace wendrel

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  using namespace wendrel;
  FuzzedDataProvider input(bytes, size);
  // One store for every input: each option is rewritten or removed below,
  // which is much faster than a new store file per input.
  fuzzing::FuzzStore& store = fuzzing::SharedStore();
  static const bool kOptionsKeyCreated = store.CreateKey(kOptionsKeyPath);
  (void)kOptionsKeyCreated;

  bool on[kOptionCount];
  for (size_t i = 0; i < kOptionCount; ++i) {
    const uint8_t how = input.ConsumeIntegral<uint8_t>();
    std::unique_ptr<std::vector<uint8_t>> data;
    if (how % 4 != 0) {  // three in four options are present
      const uint32_t type = how % 4 == 1 ? input.ConsumeIntegral<uint32_t>() : 4;  // REG_DWORD
      data.reset(new std::vector<uint8_t>(input.ConsumeBytes<uint8_t>(how % 9)));
      if (!store.SetRaw(kOptionsKeyPath, kOptions[i].value_name, type, *data)) data.reset();
    }
    if (data == nullptr) store.DeleteValue(kOptionsKeyPath, kOptions[i].value_name);
    on[i] = fuzzing::ExpectedNumber(data.get(), kOptions[i].default_value) != 0;
  }
  const std::string typed = input.ConsumeRemainingBytesAsString();

  LDAPConfigOptions options;
  Check(options.AllowWildcards() == on[0], "Allow Wildcards as stored");
  Check(options.SearchAlias() == on[1], "Search Alias as stored");

  UserData request(typed, "TREE");
  const std::string name = request.GetLoginName();
  const bool has_wildcard = name.find('*') != std::string::npos;
  try {
    ApplyWildcardPolicy(options, request);
    Check(on[0] || !has_wildcard, "a wildcard passed with wildcards off");
  } catch (const std::string& text) {
    Check(!on[0] && has_wildcard && text == ComposeMessage(kMsgWildcardNotAllowed),
          "message 29 only for a wildcard with wildcards off");
    return 0;
  }
  const std::string searched = request.GetLoginName();
  if (on[0] && !has_wildcard) {
    Check(searched == name + '*', "one '*' appended to a name without one");
  } else {
    Check(searched == name, "the name left as typed");
  }

  std::string expected = on[1] ? "(&(|(objectClass=inetOrgPerson)(objectClass=aliasObject))(|"
                               : "(&(objectClass=inetOrgPerson)(|";
  bool any_term = false;
  for (size_t i = 2; i < kOptionCount; ++i) {
    if (!on[i]) continue;
    any_term = true;
    expected += kOptions[i].term + searched + ")";
  }
  expected += "))";
  try {
    const std::string filter = BuildUserFilter(options, searched);
    Check(on[1] || any_term, "a filter without any term or alias");
    Check(filter == expected, "the filter is prefix, terms in order and \"))\"");
  } catch (const std::string& text) {
    Check(!on[1] && !any_term && text == ComposeMessage(kMsgNoSearchOptions),
          "message 30 only when no term and no alias is on");
  }
  return 0;
}
