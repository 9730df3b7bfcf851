// Turning one directory entry, as the LDAP connection reads it, into a found-
// user record. Kept free of the LDAP library: the connection hands over the
// entry's DN split into RDNs (ldap_explode_dn with and without attribute
// types) and the attributes with their values, all in UTF-8 as LDAP sends
// them.

#ifndef WENDREL_RESULTS_USER_ENTRY_H_
#define WENDREL_RESULTS_USER_ENTRY_H_

#include <string>
#include <string_view>
#include <vector>

#include "results/user_data.h"

namespace wendrel {

// The most UTF-16 units a piece of directory text keeps (a fixed text buffer
// of 260 characters and a terminator).
constexpr size_t kMaxDirectoryTextUnits = 260;

// UTF-8 directory text in the ANSI code page: through UTF-16, cut after 260
// units (one fewer when the cut would split a surrogate pair, so no half
// character is ever written), then written in the ANSI code page, with '?'
// for every character the code page cannot represent (a surrogate pair gives
// one '?') and for input that is not UTF-8.
std::string DirectoryTextToAnsi(std::string_view utf8);

struct EntryAttribute {
  std::string name;                 // as the server returned it
  std::vector<std::string> values;  // UTF-8, in the server's order
};

// Appends the record of one entry, still without attributes, to `users` and
// returns it. `typed_rdns` and `value_rdns` as for AddEntryToUserData.
UserObj& AddEntryUser(UserData* users, const std::vector<std::string>& typed_rdns,
                      const std::vector<std::string>& value_rdns);

// Stores the first value of one attribute of the entry on its record: the
// value converted as DirectoryTextToAnsi converts it, under `name` exactly as
// given. The connection calls it for each attribute as it walks them, so
// that nothing of the entry is copied before the record takes it.
void SetEntryAttribute(UserObj* user, std::string name, std::string_view first_value);

// Appends the record of one entry to `users` and returns it. `typed_rdns` is
// the DN split keeping attribute types ("cn=jsmith", "ou=sales", "o=acme"),
// `value_rdns` the same split without them ("jsmith", "sales", "acme"). The
// leaf pieces give User and UserFDN, the remaining ones, joined with ".",
// UserContext and UserContextFDN (empty for a DN of one RDN; everything empty
// for an empty DN). Each attribute with at least one value stores its first
// value under its name exactly as given; further values and attributes
// without values are ignored.
UserObj& AddEntryToUserData(UserData* users, const std::vector<std::string>& typed_rdns,
                            const std::vector<std::string>& value_rdns,
                            const std::vector<EntryAttribute>& attributes);

}  // namespace wendrel

#endif  // WENDREL_RESULTS_USER_ENTRY_H_
