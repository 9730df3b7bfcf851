#include "results/user_data.h"

#include <utility>

namespace wendrel {
namespace {

bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::string TrimWhiteSpace(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsWhiteSpace(text[begin])) ++begin;
  while (end > begin && IsWhiteSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

UserData::UserData(std::string name, std::string tree)
    : name_(TrimWhiteSpace(name)), tree_(TrimWhiteSpace(tree)) {}

UserData::~UserData() {
  // Records go from the end, one by one, before the list and the texts.
  while (!users_.empty()) users_.pop_back();
}

UserObj& UserData::AddUser(std::string user, std::string user_fdn, std::string user_context,
                           std::string user_context_fdn) {
  users_.push_back(std::make_unique<UserObj>(std::move(user), std::move(user_context),
                                             std::move(user_fdn), std::move(user_context_fdn)));
  return *users_.back();
}

UserObj* UserData::GetFirstUser() {
  if (users_.empty()) {
    cursor_ = kNoCursor;
    return nullptr;
  }
  cursor_ = 0;
  return users_[0].get();
}

UserObj* UserData::GetNextUser() {
  if (cursor_ == kNoCursor) return nullptr;
  if (cursor_ + 1 >= users_.size()) {
    cursor_ = kNoCursor;
    return nullptr;
  }
  ++cursor_;
  return users_[cursor_].get();
}

}  // namespace wendrel
