// Reads of the native registry store that are answered from memory while
// the store's change counter shows that nothing was written since this
// process read the same thing, and from a transaction of their own
// otherwise. Keeps the counter in order on the way: maps it once a store is
// in WAL mode, and makes even a counter that a writer that died left odd.

#ifndef WENDREL_PLATFORM_POSIX_STORE_TRACKED_READ_H_
#define WENDREL_PLATFORM_POSIX_STORE_TRACKED_READ_H_

#include <cstdint>
#include <string>

#include "platform/posix/function_ref.h"
#include "platform/posix/store_database.h"
#include "platform/posix/store_read_memo.h"

namespace wendrel {
namespace platform {
namespace store {

// A read: the question's answer from what this process read while nothing
// was written since, else `fetch(db, &answer)` in a transaction of its own.
// `reply(answer)` turns the answer into the call's result. *writable (when
// given) tells whether the store file exists and may be written.
//
// The answer is kept only when the counter held the same even value before
// the transaction began and after it ended: no write began meanwhile, and
// every write announced before was committed before the transaction began.
//
// `also` (when given) is filled by `fetch` with answers to other questions
// read in the same transaction; they are kept under the same rule. An
// answer kept under `otherwise` answers the question when the question's
// own answer is not kept (the answer for every value a key read whole does
// not hold).
int32_t Read(const std::string& path, FileCheck check, const std::string& question,
             StoreFetch fetch, FunctionRef<int32_t(const StoreRead&)> reply,
             bool* writable = nullptr, StoreAnswers* also = nullptr,
             const std::string* otherwise = nullptr);

}  // namespace store
}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_POSIX_STORE_TRACKED_READ_H_
