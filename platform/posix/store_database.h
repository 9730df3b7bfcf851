// The native registry store's database files: the open connection of each
// store file, its schema, and the transactions every call runs in. Every
// write is one transaction that takes the write lock at once and announces
// itself on the store's change counter; every read that goes to the database
// is one transaction too. Used under the store mutex only.

#ifndef WENDREL_PLATFORM_POSIX_STORE_DATABASE_H_
#define WENDREL_PLATFORM_POSIX_STORE_DATABASE_H_

#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/posix/function_ref.h"
#include "platform/posix/store_change_counter.h"
#include "platform/posix/store_read_memo.h"
#include "platform/posix/store_statement.h"

namespace wendrel {
namespace platform {
namespace store {

// Long enough to ride out another process's write, short enough that a store
// held by a stuck writer turns into an error instead of a hang.
constexpr int kBusyTimeoutMs = 3000;

// One open store file. The file's identity and write permission are kept so
// that a replaced, removed or re-permissioned file is noticed and reopened;
// what this process read from it is kept with it while the file's change
// counter stays the same.
struct Connection {
  ~Connection() {
    ForgetStatements(db);
    sqlite3_close_v2(db);
  }
  std::string path;
  std::string full_path;  // as SQLite resolved it: its -wal, -shm and counter files
  sqlite3* db = nullptr;
  dev_t device = 0;
  ino_t inode = 0;
  mode_t mode = 0;
  bool read_only = false;
  bool wal = false;     // journal mode and syncing set
  bool schema = false;  // the tables are known to exist
  StoreChangeCounter counter;
  StoreReadMemo memo;
};

// Serialises every use of the store's connections in this process.
std::mutex& StoreMutex();

// How a call finds its connection. Opening a key and writing look at the
// file (one stat) and reopen a file that was replaced, removed or
// re-permissioned; the other reads use the connection they find, whose
// change counter tells them about every write.
enum class FileCheck { kLook, kTrustOpen };

// The connection for `path`; *out is null (and the result success) when the
// file does not exist and `write` is false.
int32_t Acquire(const std::string& path, bool write, FileCheck check, Connection** out);

// What a call runs inside its transaction, on the database given to it.
using TransactionBody = FunctionRef<int32_t(sqlite3*)>;
// What a read runs inside its transaction: it fills the answer and returns
// its status.
using StoreFetch = FunctionRef<int32_t(sqlite3*, StoreRead*)>;

// Runs `body(db)` as one transaction on `connection` (null: the store file
// does not exist, and `body` reads an empty store).
int32_t TransactOnce(Connection* connection, bool write, TransactionBody body);

// Tries `attempt` again while it meets another process's lock. SQLite's busy
// handler covers most waits, but some (another process switching the file to
// WAL or recovering it) answer "busy" at once; the whole call then starts
// over, within the same bounded time.
int32_t WhileBusy(FunctionRef<int32_t()> attempt);

// A write: `body(db)` as one transaction, on the file as it is now.
int32_t Write(const std::string& path, TransactionBody body);

}  // namespace store
}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_POSIX_STORE_DATABASE_H_
