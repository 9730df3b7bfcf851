// A search result entry turned into a found-user record, over any bytes: the
// input plays the strings ldap_get_dn, ldap_first/next_attribute and
// ldap_get_values would hand over. Checked: both DN splits agree on the number
// of RDNs; typed RDNs split back to themselves (the escapes they keep are the
// ones a DN needs); every text fits its 260-unit pieces; each attribute with
// values is stored under its exact name with the converted first value of
// its last occurrence.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "directory/entry_dn.h"
#include "fuzz/support/fuzz_store.h"
#include "platform/ldap_dn.h"
#include "results/user_data.h"
#include "results/user_entry.h"

namespace wendrel {
namespace {

using fuzzing::Check;
constexpr size_t kPiece = kMaxDirectoryTextUnits;  // single-byte code page: a byte a unit

void CheckRoundTrip(const std::string& dn, const std::vector<std::string>& typed) {
  // A value holding a zero byte (written "\00") is cut by the port's C
  // strings: only DNs whose values are whole can come back unchanged.
  std::vector<std::string> raw_typed, raw_values;
  if (!platform::ExplodeDn(dn, false, &raw_typed) || !platform::ExplodeDn(dn, true, &raw_values)) {
    return;
  }
  std::string joined;
  for (const std::vector<std::string>* pieces : {&raw_typed, &raw_values}) {
    for (const std::string& piece : *pieces) {
      if (piece.find('\0') != std::string::npos) return;
    }
  }
  Check(raw_typed == typed, "the port's split is the DN parser's split");
  for (const std::string& rdn : typed) joined += (joined.empty() ? "" : ",") + rdn;
  std::vector<std::string> again;
  Check(platform::ExplodeDn(joined, false, &again) && again == typed,
        "typed RDNs joined split back to themselves");
  for (const std::string& rdn : typed) {
    Check(platform::ExplodeDn(rdn, false, &again) && again.size() == 1, "a typed RDN is one RDN");
  }
}

}  // namespace
}  // namespace wendrel

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  using namespace wendrel;
  FuzzedDataProvider input(bytes, size);
  const std::string dn = input.ConsumeRandomLengthString(1024).c_str();  // C strings
  std::vector<EntryAttribute> attributes(input.ConsumeIntegralInRange<size_t>(0, 8));
  for (EntryAttribute& attribute : attributes) {
    attribute.name = input.ConsumeRandomLengthString(40).c_str();
    for (size_t i = input.ConsumeIntegralInRange<size_t>(0, 3); i > 0; --i) {
      attribute.values.push_back(input.ConsumeRandomLengthString(1200).c_str());
    }
  }
  std::vector<std::string> typed, values;
  ExplodeEntryDn(dn.c_str(), &typed, &values);
  Check(typed.size() == values.size(), "both splits give the same number of RDNs");
  if (!typed.empty()) CheckRoundTrip(dn, typed);

  UserData users("name", "TREE");
  UserObj& user = AddEntryToUserData(&users, typed, values, attributes);
  Check(users.GetUserCount() == 1 && users.GetFirstUser() == &user, "one record per entry");
  const size_t context_bytes = (typed.empty() ? 0 : typed.size() - 1) * (kPiece + 1);
  Check(user.GetUser().size() <= kPiece && user.GetUserFDN().size() <= kPiece &&
            user.GetUserContext().size() <= context_bytes &&
            user.GetUserContextFDN().size() <= context_bytes,
        "every text fits its pieces");
  Check(!typed.empty() || (user.GetUser().empty() && user.GetUserContext().empty()),
        "an empty DN gives no names");

  std::map<std::string, std::string> expected;
  for (const EntryAttribute& attribute : attributes) {
    if (!attribute.values.empty()) expected[attribute.name] = attribute.values[0];
  }
  for (const EntryAttribute& attribute : attributes) {
    std::string value = "untouched";
    const bool found = user.GetAttribute(attribute.name, &value);
    auto it = expected.find(attribute.name);
    if (it == expected.end()) {
      Check(!found && value == "untouched", "an attribute without values is not stored");
    } else {
      Check(found && value == DirectoryTextToAnsi(it->second) && value.size() <= kPiece,
            "the converted first value of its last occurrence, under its exact name");
    }
  }
  return 0;
}
