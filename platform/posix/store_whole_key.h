// Reading a key of the native registry store whole, in one transaction, so
// that the answer to every question about its values is read (and kept)
// at once, and the names under which those answers are kept.

#ifndef WENDREL_PLATFORM_POSIX_STORE_WHOLE_KEY_H_
#define WENDREL_PLATFORM_POSIX_STORE_WHOLE_KEY_H_

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "platform/posix/store_database.h"
#include "platform/posix/store_read_memo.h"

namespace wendrel {
namespace platform {
namespace store {

// The question about the value `name` of `key`, under every spelling of the
// name.
std::string ValueQuestion(int64_t key, const std::string& name);

// The question whose kept answer stands for every value a key read whole
// does not hold: "not found", or "key deleted".
std::string OtherValuesQuestion(int64_t key);

// The answer to `question` about `key` from the key read whole (*also then
// holds everything read), `absent` when the key holds no answer to it; else
// from `single(db, answer)`, for a key too large to be read whole.
int32_t FetchThroughKey(sqlite3* db, int64_t key, const std::string& question, int32_t absent,
                        StoreRead* answer, StoreAnswers* also, StoreFetch single);

}  // namespace store
}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_POSIX_STORE_WHOLE_KEY_H_
