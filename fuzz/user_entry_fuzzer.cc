// A search result entry turned into a found-user record: the input plays the
// strings ldap_get_dn and the attribute calls would hand over. Checked: both
// splits of the DN agree on the number of RDNs; typed RDNs split back to
// themselves (they keep exactly the escapes a DN needs); every text fits its
// 260-unit pieces; each attribute with values is stored under its exact name
// with the converted first value of its last occurrence.

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

// Single-byte ANSI code page: one byte per UTF-16 unit at most.
constexpr size_t kMaxPieceBytes = kMaxDirectoryTextUnits;

bool HasZeroByte(const std::vector<std::string>& pieces) {
  for (const std::string& piece : pieces) {
    if (piece.find('\0') != std::string::npos) return true;
  }
  return false;
}

std::string Join(const std::vector<std::string>& pieces) {
  std::string out;
  for (size_t i = 0; i < pieces.size(); ++i) out += (i > 0 ? "," : "") + pieces[i];
  return out;
}

void CheckRoundTrip(const std::string& dn, const std::vector<std::string>& typed) {
  // A value that holds a zero byte (written "\00") is cut by the C strings
  // the LDAP port hands out; only whole values can come back unchanged.
  std::vector<std::string> raw_typed, raw_values;
  if (!platform::ExplodeDn(dn, false, &raw_typed) || !platform::ExplodeDn(dn, true, &raw_values) ||
      HasZeroByte(raw_typed) || HasZeroByte(raw_values)) {
    return;
  }
  Check(raw_typed == typed, "the port's split is the DN parser's split");
  std::vector<std::string> again;
  Check(platform::ExplodeDn(Join(typed), false, &again), "typed RDNs joined are a DN");
  Check(again == typed, "typed RDNs split back to themselves");
  for (const std::string& rdn : typed) {
    Check(platform::ExplodeDn(rdn, false, &again) && again.size() == 1,
          "each typed RDN is one RDN");
  }
}

}  // namespace
}  // namespace wendrel

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  using namespace wendrel;
  FuzzedDataProvider input(bytes, size);
  // ldap_get_dn hands over a C string.
  const std::string dn = input.ConsumeRandomLengthString(1024).c_str();
  std::vector<EntryAttribute> attributes(input.ConsumeIntegralInRange<size_t>(0, 8));
  for (EntryAttribute& attribute : attributes) {
    attribute.name = input.ConsumeRandomLengthString(40).c_str();
    const size_t values = input.ConsumeIntegralInRange<size_t>(0, 3);
    for (size_t i = 0; i < values; ++i) {
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
  Check(user.GetUser().size() <= kMaxPieceBytes, "User fits one piece");
  Check(user.GetUserFDN().size() <= kMaxPieceBytes, "UserFDN fits one piece");
  const size_t pieces = typed.empty() ? 0 : typed.size() - 1;
  Check(user.GetUserContext().size() <= pieces * (kMaxPieceBytes + 1),
        "UserContext fits its pieces");
  Check(user.GetUserContextFDN().size() <= pieces * (kMaxPieceBytes + 1),
        "UserContextFDN fits its pieces");
  if (typed.empty()) {
    Check(user.GetUser().empty() && user.GetUserContext().empty(), "an empty DN gives no names");
  }

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
      continue;
    }
    Check(found, "an attribute with values is stored under its exact name");
    Check(value == DirectoryTextToAnsi(it->second), "the first value of its last occurrence");
    Check(value.size() <= kMaxPieceBytes, "an attribute value fits one piece");
  }
  return 0;
}
