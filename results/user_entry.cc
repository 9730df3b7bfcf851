#include "results/user_entry.h"

#include <utility>

#include "platform/codepage.h"

namespace wendrel {
namespace {

// The leaf piece, converted; empty for an empty DN.
std::string Leaf(const std::vector<std::string>& rdns) {
  return rdns.empty() ? std::string() : DirectoryTextToAnsi(rdns[0]);
}

// The pieces after the leaf, each converted on its own, joined with ".".
std::string Context(const std::vector<std::string>& rdns) {
  std::string context;
  for (size_t i = 1; i < rdns.size(); ++i) {
    if (i > 1) context += '.';
    context += DirectoryTextToAnsi(rdns[i]);
  }
  return context;
}

}  // namespace

std::string DirectoryTextToAnsi(std::string_view utf8) {
  return platform::Utf8ToAnsi(utf8, kMaxDirectoryTextUnits);
}

UserObj& AddEntryUser(UserData* users, const std::vector<std::string>& typed_rdns,
                      const std::vector<std::string>& value_rdns) {
  return users->AddUser(Leaf(value_rdns), Leaf(typed_rdns), Context(value_rdns),
                        Context(typed_rdns));
}

void SetEntryAttribute(UserObj* user, std::string name, std::string_view first_value) {
  user->SetAttribute(std::move(name), DirectoryTextToAnsi(first_value));
}

UserObj& AddEntryToUserData(UserData* users, const std::vector<std::string>& typed_rdns,
                            const std::vector<std::string>& value_rdns,
                            const std::vector<EntryAttribute>& attributes) {
  UserObj& user = AddEntryUser(users, typed_rdns, value_rdns);
  for (const EntryAttribute& attribute : attributes) {
    if (attribute.values.empty()) continue;
    SetEntryAttribute(&user, attribute.name, attribute.values[0]);
  }
  return user;
}

}  // namespace wendrel
