// Whole-value views of a record (four names, attributes) and a collection.

#ifndef WENDREL_TESTS_UNIT_SUPPORT_USER_RECORDS_H_
#define WENDREL_TESTS_UNIT_SUPPORT_USER_RECORDS_H_

#include <map>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "results/user_data.h"
#include "results/user_obj.h"

namespace wendrel {
namespace testing {

// In the order AddUser takes them: name, typed name, context, typed context.
struct UserRecord {
  UserRecord(std::string u, std::string f, std::string c, std::string cf,
             std::map<std::string, std::string> a = {})
      : user(std::move(u)), fdn(std::move(f)), context(std::move(c)),
        context_fdn(std::move(cf)), attributes(std::move(a)) {}
  std::string user, fdn, context, context_fdn;
  std::map<std::string, std::string> attributes;
  bool operator==(const UserRecord& o) const {
    return std::tie(user, fdn, context, context_fdn, attributes) ==
           std::tie(o.user, o.fdn, o.context, o.context_fdn, o.attributes);
  }
};

inline void PrintTo(const UserRecord& r, std::ostream* out) {
  *out << "{" << r.user << " | " << r.fdn << " | " << r.context << " | " << r.context_fdn;
  for (const auto& a : r.attributes) *out << " | " << a.first << "=" << a.second;
  *out << "}";
}

inline UserRecord RecordOf(const UserObj& user) {
  return {user.GetUser(), user.GetUserFDN(), user.GetUserContext(), user.GetUserContextFDN(),
          user.GetAttributes()};
}

struct Collection {
  std::string tree, server;
  std::vector<UserRecord> users;
  bool operator==(const Collection& o) const {
    return std::tie(tree, server, users) == std::tie(o.tree, o.server, o.users);
  }
};

inline void PrintTo(const Collection& c, std::ostream* out) {
  *out << "{tree " << c.tree << ", server " << c.server << ", users";
  for (const UserRecord& r : c.users) PrintTo(r, out);
  *out << "}";
}

// Walks the records from the first (the cursor is moved).
inline Collection CollectionOf(UserData& data) {
  Collection c{data.GetTreeName(), data.GetServerName(), {}};
  for (UserObj* u = data.GetFirstUser(); u != nullptr; u = data.GetNextUser()) {
    c.users.push_back(RecordOf(*u));
  }
  return c;
}

}  // namespace testing
}  // namespace wendrel

#endif  // WENDREL_TESTS_UNIT_SUPPORT_USER_RECORDS_H_
