#include "platform/posix/store_whole_key.h"

#include <utility>

#include "platform/posix/store_keys.h"
#include "platform/posix/store_statement.h"
#include "platform/registry.h"

namespace wendrel {
namespace platform {
namespace store {
namespace {

// A process reads most values of the keys it opens (a login reads its whole
// configuration key), each once. The first read of a key reads it whole in
// its one transaction: every value, their order, and how many subkeys it
// has; all of it is kept as the answers to the questions about them, so a
// fresh process pays a transaction per key instead of one per value. Larger
// keys (the results cache's) are read a value at a time.
constexpr size_t kMaxWholeKeyValues = 256;
constexpr size_t kMaxWholeKeyBytes = 64 << 10;

// Value names match with the ASCII letters folded, as COLLATE NOCASE does,
// so that the memo finds one answer under every spelling of a name. A name
// holding a NUL character is never folded together with another (NOCASE
// stops comparing at it): keys with such names are not read whole.
std::string FoldedName(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

// Reads `key` whole into *answers (inside a transaction). kRegMoreData: the
// key is too large to be read whole, and *answers is empty.
int32_t ReadKeyWhole(sqlite3* db, int64_t key, StoreAnswers* answers) {
  answers->clear();
  StoreRead other;
  other.status = CheckKey(db, key);
  if (other.status != kRegSuccess) {
    if (other.status == kRegKeyDeleted) answers->emplace_back(OtherValuesQuestion(key), other);
    return other.status;
  }
  Statement subkeys(db, "SELECT count(*) FROM keys WHERE parent=?");
  bool row = false;
  int32_t status = subkeys.Bind(1, key).Next(&row);
  if (status != kRegSuccess) return status;
  StoreRead info;
  info.number = row ? subkeys.Int(0) : 0;
  other.status = kRegFileNotFound;
  answers->emplace_back(OtherValuesQuestion(key), other);  // first: see Read
  Statement list(db, "SELECT name, type, data FROM vals WHERE key=? ORDER BY rowid");
  size_t bytes = 0;
  uint32_t index = 0;
  for (status = list.Bind(1, key).Next(&row); status == kRegSuccess && row;
       status = list.Next(&row)) {
    StoreRead value;
    value.name = list.Text(0);
    value.type = static_cast<uint32_t>(list.Int(1));
    size_t length = 0;
    const uint8_t* data = list.Blob(2, &length);
    value.data.assign(data, data + (data != nullptr ? length : 0));
    bytes += value.name.size() + value.data.size();
    if (index >= kMaxWholeKeyValues || bytes > kMaxWholeKeyBytes ||
        value.name.find('\0') != std::string::npos) {
      answers->clear();
      return kRegMoreData;
    }
    std::string question = ValueQuestion(key, value.name);
    answers->emplace_back(StoreReadMemo::Question('N', key, index++, std::string()), value);
    value.name.clear();  // a value's answer holds its type and data only
    answers->emplace_back(std::move(question), std::move(value));
  }
  if (status != kRegSuccess) {
    answers->clear();
    return status;
  }
  StoreRead end;
  end.status = kRegNoMoreItems;
  answers->emplace_back(StoreReadMemo::Question('N', key, index, std::string()), end);
  info.count = index;
  answers->emplace_back(StoreReadMemo::Question('I', key, 0, std::string()), info);
  return kRegSuccess;
}

}  // namespace

std::string ValueQuestion(int64_t key, const std::string& name) {
  return StoreReadMemo::Question('V', key, 0, FoldedName(name));
}

std::string OtherValuesQuestion(int64_t key) {
  return StoreReadMemo::Question('W', key, 0, std::string());
}

int32_t FetchThroughKey(sqlite3* db, int64_t key, const std::string& question, int32_t absent,
                        StoreRead* answer, StoreAnswers* also, StoreFetch single) {
  int32_t status = ReadKeyWhole(db, key, also);
  if (status == kRegMoreData) return single(db, answer);
  if (status != kRegSuccess) return status;
  for (const auto& read : *also) {
    if (read.first != question) continue;
    *answer = read.second;
    return answer->status;
  }
  return absent;
}

}  // namespace store
}  // namespace platform
}  // namespace wendrel
