#include "platform/posix/store_keys.h"

#include <cstddef>

#include "platform/posix/registry_store.h"
#include "platform/posix/store_statement.h"
#include "platform/registry.h"

namespace wendrel {
namespace platform {
namespace store {
namespace {

constexpr size_t kMaxKeyName = 255;  // characters of one key name

}  // namespace

int32_t SplitPath(const std::string& path, std::vector<std::string>* names) {
  names->clear();
  std::string rest = path;
  if (!rest.empty() && rest.back() == '\\') rest.pop_back();
  if (path.empty()) return kRegSuccess;
  size_t start = 0;
  for (;;) {
    size_t end = rest.find('\\', start);
    std::string name = rest.substr(start, end == std::string::npos ? end : end - start);
    if (name.empty() || name.size() > kMaxKeyName) return kRegInvalidParameter;
    names->push_back(name);
    if (end == std::string::npos) return kRegSuccess;
    start = end + 1;
  }
}

int32_t CheckKey(sqlite3* db, int64_t key) {
  if (key == kStoreRootKey) return kRegSuccess;
  Statement find(db, "SELECT 1 FROM keys WHERE id=?");
  bool row = false;
  int32_t status = find.Bind(1, key).Next(&row);
  if (status != kRegSuccess) return status;
  return row ? kRegSuccess : kRegKeyDeleted;
}

int32_t FindChild(sqlite3* db, int64_t parent, const std::string& name, int64_t* child) {
  Statement find(db, "SELECT id FROM keys WHERE parent=? AND name=?");
  bool row = false;
  int32_t status = find.Bind(1, parent).Bind(2, name).Next(&row);
  if (status != kRegSuccess) return status;
  if (!row) return kRegFileNotFound;
  *child = find.Int(0);
  return kRegSuccess;
}

int32_t Resolve(sqlite3* db, int64_t parent, const std::string& subkey, int64_t* key) {
  std::vector<std::string> names;
  int32_t status = SplitPath(subkey, &names);
  if (status != kRegSuccess) return status;
  status = CheckKey(db, parent);
  if (status != kRegSuccess) return status;
  int64_t current = parent;
  for (const std::string& name : names) {
    status = FindChild(db, current, name, &current);
    if (status != kRegSuccess) return status;
  }
  *key = current;
  return kRegSuccess;
}

}  // namespace store
}  // namespace platform
}  // namespace wendrel
