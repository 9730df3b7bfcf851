// The wildcard policy and the user filter over any typed name and any stored
// option values: each of the nine options that shape the filter is missing or
// stored with any type and up to 8 bytes; the name is the rest of the input.
// Checked: message 29 only for a '*' with wildcards off; with wildcards on one
// '*' is appended only to a name without one; the filter is a conjunction
// with a term holding the name verbatim for each option on; message 30 only
// when neither aliases nor any term is on.

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

namespace {

struct OptionSpec {
  const char* value_name;
  uint32_t default_value;
  const char* term;  // null for the two options that are not terms
};
const OptionSpec kOptions[] = {
    {"Allow Wildcards", 0, nullptr},          {"Search Alias", 0, nullptr},
    {"Search Email", 0, "(mail="},            {"Search Full Name", 0, "(fullName="},
    {"Search Given Name", 0, "(givenName="},  {"Search Surname", 0, "(surname="},
    {"Search Telephone Number", 0, "(telephoneNumber="}, {"Search Unique ID", 0, "(uid="},
    {"Search Username", 1, "(cn="}};
constexpr size_t kCount = sizeof(kOptions) / sizeof(kOptions[0]);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  using namespace wendrel;
  using fuzzing::Check;
  FuzzedDataProvider input(bytes, size);
  // One store for every input, each option rewritten or removed: much faster
  // than a new store file per input.
  fuzzing::FuzzStore& store = fuzzing::SharedStore();
  static const bool kKeyCreated = store.CreateKey(kOptionsKeyPath);
  (void)kKeyCreated;
  // Per option: -1 when its stored form leaves it to the unit tests, else on/off.
  int on[kCount];
  for (size_t i = 0; i < kCount; ++i) {
    const uint8_t how = input.ConsumeIntegral<uint8_t>();
    std::unique_ptr<std::vector<uint8_t>> data;
    if (how % 4 != 0) {  // three in four options are present
      const uint32_t type = how % 4 == 1 ? input.ConsumeIntegral<uint32_t>() : 4;  // REG_DWORD
      data.reset(new std::vector<uint8_t>(input.ConsumeBytes<uint8_t>(how % 9)));
      if (!store.SetRaw(kOptionsKeyPath, kOptions[i].value_name, type, *data)) data.reset();
    }
    if (data == nullptr) store.DeleteValue(kOptionsKeyPath, kOptions[i].value_name);
    uint32_t value;
    on[i] = fuzzing::KnownNumber(data.get(), kOptions[i].default_value, &value) ? value != 0 : -1;
  }
  LDAPConfigOptions options;
  const bool wildcards = options.AllowWildcards(), alias = options.SearchAlias();
  Check(on[0] < 0 || on[0] == wildcards, "Allow Wildcards as stored");
  Check(on[1] < 0 || on[1] == alias, "Search Alias as stored");

  UserData request(input.ConsumeRemainingBytesAsString(), "TREE");
  const std::string name = request.GetLoginName();
  const bool has_wildcard = name.find('*') != std::string::npos;
  try {
    ApplyWildcardPolicy(options, request);
    Check(wildcards || !has_wildcard, "a wildcard passed with wildcards off");
  } catch (const std::string& text) {
    Check(!wildcards && has_wildcard && text == ComposeMessage(kMsgWildcardNotAllowed),
          "message 29 only for a wildcard with wildcards off");
    return 0;
  }
  const std::string searched = request.GetLoginName();
  Check(searched == (wildcards && !has_wildcard ? name + '*' : name), "one '*' at most added");

  std::string filter;
  try {
    filter = BuildUserFilter(options, searched);
  } catch (const std::string& text) {
    for (size_t i = 2; i < kCount; ++i) Check(on[i] != 1, "message 30 with a term on");
    Check(!alias && text == ComposeMessage(kMsgNoSearchOptions), "message 30 only without terms");
    return 0;
  }
  const std::string head = alias ? "(&(|(objectClass=inetOrgPerson)(objectClass=aliasObject))(|"
                                 : "(&(objectClass=inetOrgPerson)(|";
  Check(filter.compare(0, head.size(), head) == 0 && filter.size() >= head.size() + 2 &&
            filter.compare(filter.size() - 2, 2, "))") == 0,
        "the filter is the alias option's conjunction");
  for (size_t i = 2; i < kCount; ++i) {
    Check(on[i] != 1 || filter.find(kOptions[i].term + searched + ")") != std::string::npos,
          std::string(kOptions[i].term) + " for the option on");
  }
  return 0;
}
