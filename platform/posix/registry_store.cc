#include "platform/posix/registry_store.h"

#include <cstring>

#include "platform/environment.h"
#include "platform/posix/store_database.h"
#include "platform/posix/store_keys.h"
#include "platform/posix/store_read_memo.h"
#include "platform/posix/store_statement.h"
#include "platform/posix/store_tracked_read.h"
#include "platform/posix/store_whole_key.h"
#include "platform/registry.h"

namespace wendrel {
namespace platform {

namespace {

using store::CheckKey;
using store::FetchThroughKey;
using store::FileCheck;
using store::FindChild;
using store::OtherValuesQuestion;
using store::Read;
using store::Resolve;
using store::SplitPath;
using store::Statement;
using store::ValueQuestion;
using store::Write;

constexpr char kDefaultStorePath[] = "/var/lib/wendrel/registry.db";
constexpr size_t kMaxValueName = 16383;  // characters of one value name

int32_t CheckValueName(const std::string& name) {
  return name.size() > kMaxValueName ? kRegInvalidParameter : kRegSuccess;
}

// A value's type and data (or why there is none).
int32_t FetchValue(sqlite3* db, int64_t key, const std::string& name, StoreRead* answer) {
  int32_t status = CheckKey(db, key);
  if (status != kRegSuccess) return status;
  Statement find(db, "SELECT type, data FROM vals WHERE key=? AND name=?");
  bool row = false;
  status = find.Bind(1, key).Bind(2, name).Next(&row);
  if (status != kRegSuccess) return status;
  if (!row) return kRegFileNotFound;
  size_t length = 0;
  const uint8_t* bytes = find.Blob(1, &length);
  answer->type = static_cast<uint32_t>(find.Int(0));
  answer->data.assign(bytes, bytes + (bytes != nullptr ? length : 0));
  return kRegSuccess;
}

int32_t FetchValueThroughKey(sqlite3* db, int64_t key, const std::string& name,
                             StoreRead* answer, StoreAnswers* also) {
  return FetchThroughKey(db, key, ValueQuestion(key, name), kRegFileNotFound, answer, also,
                         [&](sqlite3* db, StoreRead* answer) {
                           return FetchValue(db, key, name, answer);
                         });
}

}  // namespace

std::string RegistryStorePath() {
  std::string path = GetEnvironmentVariable("WENDREL_REGISTRY");
  return path.empty() ? std::string(kDefaultStorePath) : path;
}

int32_t RegistryStore::OpenKey(int64_t parent, const std::string& subkey, int64_t* key) const {
  return Read(
      path_, FileCheck::kLook, StoreReadMemo::Question('K', parent, 0, subkey),
      [&](sqlite3* db, StoreRead* answer) { return Resolve(db, parent, subkey, &answer->number); },
      [&](const StoreRead& answer) {
        if (answer.status == kRegSuccess) *key = answer.number;
        return answer.status;
      });
}

int32_t RegistryStore::CreateKey(int64_t parent, const std::string& subkey,
                                 const std::vector<uint8_t>* security, int64_t* key,
                                 bool* created) const {
  std::vector<std::string> names;
  int32_t status = SplitPath(subkey, &names);
  if (status != kRegSuccess) return status;
  // Most calls open a key that exists already (the results cache creates
  // its entry key again at every login it answers): a read finds it
  // without taking the write lock. A read-only store still refuses.
  if (!names.empty()) {
    bool writable = false;
    int64_t found = 0;
    status = Read(
        path_, FileCheck::kLook, StoreReadMemo::Question('K', parent, 0, subkey),
        [&](sqlite3* db, StoreRead* answer) {
          return Resolve(db, parent, subkey, &answer->number);
        },
        [&](const StoreRead& answer) {
          found = answer.number;
          return answer.status;
        },
        &writable);
    if (status == kRegSuccess && writable) {
      *key = found;
      if (created != nullptr) *created = false;
      return kRegSuccess;
    }
  }
  bool made = false;
  status = Write(path_, [&](sqlite3* db) -> int32_t {
    made = false;
    int32_t result = CheckKey(db, parent);
    if (result != kRegSuccess) return result;
    int64_t current = parent;
    for (const std::string& name : names) {
      int64_t child = 0;
      result = FindChild(db, current, name, &child);
      made = result == kRegFileNotFound;
      if (made) {
        Statement insert(db, "INSERT INTO keys(parent, name, security) VALUES(?,?,?)");
        insert.Bind(1, current).Bind(2, name);
        if (security != nullptr) insert.BindBlob(3, security->data(), security->size());
        bool row = false;
        result = insert.Next(&row);
        child = sqlite3_last_insert_rowid(db);
      }
      if (result != kRegSuccess) return result;
      current = child;
    }
    *key = current;
    return kRegSuccess;
  });
  if (created != nullptr) *created = status == kRegSuccess && made;
  return status;
}

int32_t RegistryStore::DeleteKey(int64_t parent, const std::string& subkey) const {
  return Write(path_, [&](sqlite3* db) -> int32_t {
    int64_t key = 0;
    int32_t status = Resolve(db, parent, subkey, &key);
    if (status != kRegSuccess) return status;
    if (key == kStoreRootKey) return kRegAccessDenied;
    Statement children(db, "SELECT 1 FROM keys WHERE parent=? LIMIT 1");
    bool row = false;
    status = children.Bind(1, key).Next(&row);
    if (status != kRegSuccess) return status;
    if (row) return kRegAccessDenied;
    Statement values(db, "DELETE FROM vals WHERE key=?");
    status = values.Bind(1, key).Next(&row);
    if (status != kRegSuccess) return status;
    Statement remove(db, "DELETE FROM keys WHERE id=?");
    return remove.Bind(1, key).Next(&row);
  });
}

int32_t RegistryStore::QueryValue(int64_t key, const std::string& name, uint32_t* type,
                                  void* data, uint32_t* size) const {
  if (data != nullptr && size == nullptr) return kRegInvalidParameter;
  StoreAnswers also;
  const std::string others = OtherValuesQuestion(key);
  return Read(
      path_, FileCheck::kTrustOpen, ValueQuestion(key, name),
      [&](sqlite3* db, StoreRead* answer) {
        return FetchValueThroughKey(db, key, name, answer, &also);
      },
      [&](const StoreRead& answer) -> int32_t {
        if (answer.status != kRegSuccess) return answer.status;
        if (type != nullptr) *type = answer.type;
        if (size == nullptr) return kRegSuccess;
        const uint32_t offered = *size;
        const size_t length = answer.data.size();
        *size = static_cast<uint32_t>(length);
        if (data == nullptr) return kRegSuccess;
        if (offered < length) return kRegMoreData;  // buffer untouched
        if (length != 0) std::memcpy(data, answer.data.data(), length);
        return kRegSuccess;
      },
      nullptr, &also, &others);
}

int32_t RegistryStore::SetValue(int64_t key, const std::string& name, uint32_t type,
                                const void* data, uint32_t size) const {
  if (CheckValueName(name) != kRegSuccess || (data == nullptr && size != 0)) {
    return kRegInvalidParameter;
  }
  // A value that already holds this type and data is left alone, found by a
  // read that takes no write lock: the results cache stores its entry again,
  // unchanged, after every login it answers.
  bool writable = false;
  bool same = false;
  StoreAnswers also;
  const std::string others = OtherValuesQuestion(key);
  int32_t status = Read(
      path_, FileCheck::kLook, ValueQuestion(key, name),
      [&](sqlite3* db, StoreRead* answer) {
        return FetchValueThroughKey(db, key, name, answer, &also);
      },
      [&](const StoreRead& answer) {
        same = answer.status == kRegSuccess && answer.type == type &&
               answer.data.size() == size &&
               (size == 0 || std::memcmp(answer.data.data(), data, size) == 0);
        return answer.status;
      },
      &writable, &also, &others);
  if (status == kRegSuccess && same && writable) return kRegSuccess;
  return Write(path_, [&](sqlite3* db) -> int32_t {
    int32_t status = CheckKey(db, key);
    if (status != kRegSuccess) return status;
    // An existing value keeps its place and the case of its name. One that
    // holds this type and data already (written by another process since
    // the read above) is left alone: the transaction then writes nothing.
    Statement upsert(db,
                     "INSERT INTO vals(key, name, type, data) VALUES(?,?,?,?) "
                     "ON CONFLICT(key, name) DO UPDATE SET type=excluded.type, "
                     "data=excluded.data "
                     "WHERE type IS NOT excluded.type OR data IS NOT excluded.data");
    bool row = false;
    return upsert.Bind(1, key).Bind(2, name).Bind(3, static_cast<int64_t>(type))
        .BindBlob(4, data, size).Next(&row);
  });
}

int32_t RegistryStore::DeleteValue(int64_t key, const std::string& name) const {
  return Write(path_, [&](sqlite3* db) -> int32_t {
    int32_t status = CheckKey(db, key);
    if (status != kRegSuccess) return status;
    Statement remove(db, "DELETE FROM vals WHERE key=? AND name=?");
    bool row = false;
    status = remove.Bind(1, key).Bind(2, name).Next(&row);
    if (status != kRegSuccess) return status;
    return sqlite3_changes(db) > 0 ? kRegSuccess : kRegFileNotFound;
  });
}

int32_t RegistryStore::EnumKey(int64_t key, uint32_t index, std::string* name) const {
  return Read(
      path_, FileCheck::kTrustOpen, StoreReadMemo::Question('E', key, index, std::string()),
      [&](sqlite3* db, StoreRead* answer) -> int32_t {
        int32_t status = CheckKey(db, key);
        if (status != kRegSuccess) return status;
        Statement list(db,
                       "SELECT name FROM keys WHERE parent=? ORDER BY upper(name), id "
                       "LIMIT 1 OFFSET ?");
        bool row = false;
        status = list.Bind(1, key).Bind(2, static_cast<int64_t>(index)).Next(&row);
        if (status != kRegSuccess) return status;
        if (!row) return kRegNoMoreItems;
        answer->name = list.Text(0);
        return kRegSuccess;
      },
      [&](const StoreRead& answer) {
        if (answer.status == kRegSuccess && name != nullptr) *name = answer.name;
        return answer.status;
      });
}

int32_t RegistryStore::EnumValue(int64_t key, uint32_t index, std::string* name, uint32_t* type,
                                 std::vector<uint8_t>* data) const {
  const std::string question = StoreReadMemo::Question('N', key, index, std::string());
  StoreAnswers also;
  auto single = [&](sqlite3* db, StoreRead* answer) -> int32_t {
        int32_t status = CheckKey(db, key);
        if (status != kRegSuccess) return status;
        Statement list(db,
                       "SELECT name, type, data FROM vals WHERE key=? ORDER BY rowid "
                       "LIMIT 1 OFFSET ?");
        bool row = false;
        status = list.Bind(1, key).Bind(2, static_cast<int64_t>(index)).Next(&row);
        if (status != kRegSuccess) return status;
        if (!row) return kRegNoMoreItems;
        answer->name = list.Text(0);
        answer->type = static_cast<uint32_t>(list.Int(1));
        size_t length = 0;
        const uint8_t* bytes = list.Blob(2, &length);
        answer->data.assign(bytes, bytes + (bytes != nullptr ? length : 0));
        return kRegSuccess;
      };
  return Read(
      path_, FileCheck::kTrustOpen, question,
      [&](sqlite3* db, StoreRead* answer) {
        return FetchThroughKey(db, key, question, kRegNoMoreItems, answer, &also, single);
      },
      [&](const StoreRead& answer) {
        if (answer.status != kRegSuccess) return answer.status;
        if (name != nullptr) *name = answer.name;
        if (type != nullptr) *type = answer.type;
        if (data != nullptr) *data = answer.data;
        return answer.status;
      },
      nullptr, &also);
}

int32_t RegistryStore::QueryInfo(int64_t key, uint32_t* subkeys, uint32_t* values) const {
  const std::string question = StoreReadMemo::Question('I', key, 0, std::string());
  StoreAnswers also;
  auto single = [&](sqlite3* db, StoreRead* answer) -> int32_t {
        int32_t status = CheckKey(db, key);
        if (status != kRegSuccess) return status;
        Statement keys(db, "SELECT count(*) FROM keys WHERE parent=?");
        Statement vals(db, "SELECT count(*) FROM vals WHERE key=?");
        bool row = false;
        status = keys.Bind(1, key).Next(&row);
        if (status != kRegSuccess) return status;
        answer->number = keys.Int(0);
        status = vals.Bind(1, key).Next(&row);
        if (status != kRegSuccess) return status;
        answer->count = static_cast<uint32_t>(vals.Int(0));
        return kRegSuccess;
      };
  return Read(
      path_, FileCheck::kTrustOpen, question,
      [&](sqlite3* db, StoreRead* answer) {
        return FetchThroughKey(db, key, question, kRegSuccess, answer, &also, single);
      },
      [&](const StoreRead& answer) {
        if (answer.status != kRegSuccess) return answer.status;
        if (subkeys != nullptr) *subkeys = static_cast<uint32_t>(answer.number);
        if (values != nullptr) *values = answer.count;
        return answer.status;
      },
      nullptr, &also);
}

int32_t RegistryStore::GetSecurity(int64_t key, std::vector<uint8_t>* descriptor) const {
  return Read(
      path_, FileCheck::kTrustOpen, StoreReadMemo::Question('S', key, 0, std::string()),
      [&](sqlite3* db, StoreRead* answer) -> int32_t {
        int32_t status = CheckKey(db, key);
        if (status != kRegSuccess || key == kStoreRootKey) return status;
        Statement find(db, "SELECT security FROM keys WHERE id=?");
        bool row = false;
        status = find.Bind(1, key).Next(&row);
        if (status != kRegSuccess) return status;
        size_t length = 0;
        const uint8_t* bytes = row ? find.Blob(0, &length) : nullptr;
        answer->data.assign(bytes, bytes + (bytes != nullptr ? length : 0));
        return kRegSuccess;
      },
      [&](const StoreRead& answer) {
        if (answer.status == kRegSuccess && descriptor != nullptr) *descriptor = answer.data;
        return answer.status;
      });
}

}  // namespace platform
}  // namespace wendrel
