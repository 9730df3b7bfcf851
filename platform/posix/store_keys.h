// Key paths and key numbers of the native registry store, inside a
// transaction: how a path below a key is split and followed down, and
// whether a numbered key still exists.

#ifndef WENDREL_PLATFORM_POSIX_STORE_KEYS_H_
#define WENDREL_PLATFORM_POSIX_STORE_KEYS_H_

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

namespace wendrel {
namespace platform {
namespace store {

// Splits a key path into its names; an empty path has none. Empty names
// (doubled or leading backslashes) and names over 255 characters are
// refused; one trailing backslash is ignored.
int32_t SplitPath(const std::string& path, std::vector<std::string>* names);

// kRegSuccess when `key` exists, kRegKeyDeleted when it is gone.
int32_t CheckKey(sqlite3* db, int64_t key);

// The child of `parent` named `name`; kRegFileNotFound when there is none.
int32_t FindChild(sqlite3* db, int64_t parent, const std::string& name, int64_t* child);

// The key at the path `subkey` below `parent`.
int32_t Resolve(sqlite3* db, int64_t parent, const std::string& subkey, int64_t* key);

}  // namespace store
}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_POSIX_STORE_KEYS_H_
