#include "results/user_obj.h"

#include <utility>

namespace wendrel {

UserObj::UserObj(std::string user, std::string user_context, std::string user_fdn,
                 std::string user_context_fdn)
    : user_(std::move(user)),
      user_context_(std::move(user_context)),
      user_fdn_(std::move(user_fdn)),
      user_context_fdn_(std::move(user_context_fdn)) {}

UserObj::~UserObj() {
  attributes_.clear();  // the values first, then the map and the texts
}

void UserObj::SetAttribute(std::string name, std::string value) {
  attributes_[std::move(name)] = std::move(value);
}

bool UserObj::GetAttribute(std::string name, std::string* value) const {
  const auto it = attributes_.find(name);
  if (it == attributes_.end()) return false;
  *value = it->second;
  return true;
}

}  // namespace wendrel
