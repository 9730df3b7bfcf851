// What one process has read from a registry store while the store's change
// counter held one value: each answer kept under the question it answered,
// so that asking again, while nothing has been written, costs no database
// transaction and no system call. Used under the store mutex only.

#ifndef WENDREL_PLATFORM_POSIX_STORE_READ_MEMO_H_
#define WENDREL_PLATFORM_POSIX_STORE_READ_MEMO_H_

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace wendrel {
namespace platform {

// One answer of the store: the status and whatever the question returns.
struct StoreRead {
  int32_t status = 0;
  uint32_t type = 0;    // a value's type
  int64_t number = 0;   // a key's id, or its number of subkeys
  uint32_t count = 0;   // a key's number of values
  std::string name;     // an enumerated name
  std::vector<uint8_t> data;
};

// Answers read together, each under its question.
using StoreAnswers = std::vector<std::pair<std::string, StoreRead>>;

class StoreReadMemo {
 public:
  // The question: what is asked (a letter per kind), of which key, with
  // which index and name.
  static std::string Question(char kind, int64_t key, uint64_t index, const std::string& name);

  // Keeps only answers read under `generation`.
  void At(uint64_t generation);
  const StoreRead* Find(const std::string& question) const;
  // Whether an answer of this status is the store's content (and not a
  // passing failure, such as a busy store) and can be kept.
  static bool Keepable(int32_t status);
  void Keep(const std::string& question, const StoreRead& answer);

 private:
  // A process that reads much of a large store keeps a bounded part of it.
  static constexpr size_t kMaxBytes = 4 << 20;

  bool valid_ = false;
  uint64_t generation_ = 0;
  size_t bytes_ = 0;
  std::unordered_map<std::string, StoreRead> answers_;
};

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_POSIX_STORE_READ_MEMO_H_
