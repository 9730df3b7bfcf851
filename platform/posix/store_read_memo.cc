#include "platform/posix/store_read_memo.h"

#include <cstring>

#include "platform/registry.h"

namespace wendrel {
namespace platform {

std::string StoreReadMemo::Question(char kind, int64_t key, uint64_t index,
                                    const std::string& name) {
  std::string question(1 + sizeof key + sizeof index, kind);
  std::memcpy(&question[1], &key, sizeof key);
  std::memcpy(&question[1 + sizeof key], &index, sizeof index);
  question += name;
  return question;
}

void StoreReadMemo::At(uint64_t generation) {
  if (valid_ && generation == generation_) return;
  answers_.clear();
  bytes_ = 0;
  generation_ = generation;
  valid_ = true;
}

const StoreRead* StoreReadMemo::Find(const std::string& question) const {
  auto it = answers_.find(question);
  return it != answers_.end() ? &it->second : nullptr;
}

bool StoreReadMemo::Keepable(int32_t status) {
  return status == kRegSuccess || status == kRegFileNotFound || status == kRegKeyDeleted ||
         status == kRegNoMoreItems;
}

void StoreReadMemo::Keep(const std::string& question, const StoreRead& answer) {
  const size_t bytes = question.size() + answer.name.size() + answer.data.size() + sizeof answer;
  if (bytes_ + bytes > kMaxBytes) {
    answers_.clear();
    bytes_ = 0;
  }
  auto inserted = answers_.emplace(question, answer);
  if (inserted.second) bytes_ += bytes;
}

}  // namespace platform
}  // namespace wendrel
