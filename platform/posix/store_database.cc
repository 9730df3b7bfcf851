#include "platform/posix/store_database.h"

#include <errno.h>
#include <sys/stat.h>

#include <chrono>
#include <list>
#include <memory>
#include <thread>
#include <utility>

#include "platform/posix/store_statement.h"
#include "platform/registry.h"

namespace wendrel {
namespace platform {
namespace store {
namespace {

// Marks a database as a registry store ("WRG1"), so that no other SQLite
// database is ever taken for one and written to.
constexpr int32_t kApplicationId = 0x57524731;
constexpr size_t kMaxCachedStores = 4;

// Names compare case-insensitively through COLLATE NOCASE, which folds only
// the ASCII letters. The store does not know the code page the names were
// written in, so it cannot fold other characters safely; names of other
// characters must match byte for byte. The extension's own names are ASCII.
const char kSchema[] =
    "CREATE TABLE keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"  // never reused: stale handles stay stale
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " security BLOB,"
    " UNIQUE(parent, name));"
    "CREATE TABLE vals("
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " UNIQUE(key, name));"
    "PRAGMA application_id=1465009969;";
static_assert(kApplicationId == 1465009969, "the schema's application id");

// A file without write permission is a read-only store, even for root, just
// as the read-only attribute holds for administrators on Windows.
bool ModeWritable(const struct stat& st) { return (st.st_mode & 0222) != 0; }

std::list<std::unique_ptr<Connection>>& Cache() {
  static auto* cache = new std::list<std::unique_ptr<Connection>>;
  return *cache;
}

// An empty store in memory, read when the store file does not exist (yet) or
// has no tables, so that reading never creates anything.
sqlite3* EmptyStore() {
  static sqlite3* db = [] {
    sqlite3* memory = nullptr;
    if (sqlite3_open_v2(":memory:", &memory, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK ||
        sqlite3_exec(memory, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
      sqlite3_close_v2(memory);
      return static_cast<sqlite3*>(nullptr);
    }
    return memory;
  }();
  return db;
}

int32_t MakeDirectories(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return kRegSuccess;
  std::string dir = path.substr(0, slash);
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) return kRegPathNotFound;
    return (st.st_mode & 0222) != 0 ? kRegSuccess : kRegAccessDenied;
  }
  int32_t status = MakeDirectories(dir);
  if (status != kRegSuccess) return status;
  if (mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST) return kRegSuccess;
  return errno == EACCES || errno == EPERM || errno == EROFS ? kRegAccessDenied
                                                             : kRegPathNotFound;
}

// Inside a transaction: whether the file holds a store (*present), is empty
// (no tables: a fresh file), or is some other database (kRegBadDb).
int32_t CheckSchema(sqlite3* db, bool* present) {
  *present = false;
  Statement id(db, "PRAGMA application_id");
  bool row = false;
  int32_t status = id.Next(&row);
  if (status != kRegSuccess) return status;
  int64_t application = row ? id.Int(0) : 0;
  // One statement for both counts: every process prepares it once.
  Statement tables(db,
                   "SELECT count(*), count(CASE WHEN name IN ('keys','vals') THEN 1 END) "
                   "FROM sqlite_master");
  status = tables.Next(&row);
  if (status != kRegSuccess) return status;
  int64_t objects = row ? tables.Int(0) : 0;
  int64_t ours = row ? tables.Int(1) : 0;
  if (objects == 0 && application == 0) return kRegSuccess;
  if (application != kApplicationId || ours != 2) return kRegBadDb;
  *present = true;
  return kRegSuccess;
}

// Runs `body(db)` inside the transaction just begun on `connection`; a
// failed body or commit rolls everything back.
int32_t RunInTransaction(Connection* connection, bool write, TransactionBody body) {
  sqlite3* db = connection->db;
  if (!connection->schema) {
    bool present = false;
    int32_t status = CheckSchema(db, &present);
    if (status == kRegSuccess && !present && write) {
      status = Exec(db, kSchema);
      present = status == kRegSuccess;
    }
    if (status != kRegSuccess || !present) {
      Exec(db, "ROLLBACK");
      if (status != kRegSuccess) return status;
      sqlite3* empty = EmptyStore();  // a fresh file: read it as an empty store
      return empty != nullptr ? body(empty) : kRegNotEnoughMemory;
    }
    // Only a committed schema counts; a rolled-back creation is redone.
    connection->schema = !write;
  }
  int32_t status = body(db);
  if (status == kRegSuccess) {
    status = Exec(db, "COMMIT");
    if (status == kRegSuccess && write) connection->schema = true;
  }
  if (status != kRegSuccess) Exec(db, "ROLLBACK");
  return status;
}

}  // namespace

std::mutex& StoreMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

int32_t Acquire(const std::string& path, bool write, FileCheck check, Connection** out) {
  *out = nullptr;
  auto& cache = Cache();
  if (check == FileCheck::kTrustOpen) {
    for (auto it = cache.begin(); it != cache.end(); ++it) {
      if ((*it)->path != path) continue;
      if (it != cache.begin()) cache.splice(cache.begin(), cache, it);
      *out = cache.front().get();
      return kRegSuccess;
    }
  }
  struct stat st;
  bool exists = stat(path.c_str(), &st) == 0;
  for (auto it = cache.begin(); it != cache.end(); ++it) {
    if ((*it)->path != path) continue;
    if (exists && (*it)->device == st.st_dev && (*it)->inode == st.st_ino &&
        (*it)->read_only == !ModeWritable(st)) {
      cache.splice(cache.begin(), cache, it);
      *out = cache.front().get();
      return kRegSuccess;
    }
    // The file at the path is another now, and the -wal file there is
    // its: closing must not checkpoint that into the old file.
    sqlite3_db_config((*it)->db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    cache.erase(it);
    break;
  }
  if (!exists && !write) return kRegSuccess;

  auto connection = std::make_unique<Connection>();
  connection->path = path;
  int flags = SQLITE_OPEN_NOMUTEX;  // the store mutex serialises every use
  if (exists) {
    connection->read_only = !ModeWritable(st);
    flags |= connection->read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
  } else {
    int32_t status = MakeDirectories(path);
    if (status != kRegSuccess) return status;
    flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  }
  int rc = sqlite3_open_v2(path.c_str(), &connection->db, flags, nullptr);
  if (rc != SQLITE_OK) return MapSqlite(rc, connection->db);
  if (stat(path.c_str(), &st) != 0) return kRegIoFailed;
  connection->device = st.st_dev;
  connection->inode = st.st_ino;
  connection->mode = st.st_mode & 0666;
  const char* full = sqlite3_db_filename(connection->db, "main");
  connection->full_path = full != nullptr && *full != '\0' ? full : path;
  // A counter that exists is used at once; a missing one is made once the
  // file is known to be a store (never beside someone else's file).
  connection->counter.Map(connection->full_path, /*create=*/false, connection->mode);
  sqlite3_busy_timeout(connection->db, kBusyTimeoutMs);
  // Keep the -wal and -shm files after the last connection closes, so that
  // readers without write access to the directory can still open the store.
  int persist = 1;
  sqlite3_file_control(connection->db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);

  cache.push_front(std::move(connection));
  while (cache.size() > kMaxCachedStores) cache.pop_back();
  *out = cache.front().get();
  return kRegSuccess;
}

int32_t TransactOnce(Connection* connection, bool write, TransactionBody body) {
  if (connection == nullptr) {
    sqlite3* empty = EmptyStore();
    return empty != nullptr ? body(empty) : kRegNotEnoughMemory;
  }
  if (write && connection->read_only) return kRegAccessDenied;
  sqlite3* db = connection->db;
  int32_t status = kRegSuccess;
  if (write && !connection->schema) {
    // Refuse someone else's database before anything is written to it: even
    // switching the journal mode rewrites its header.
    bool present = false;
    status = Exec(db, "BEGIN");
    if (status == kRegSuccess) {
      status = CheckSchema(db, &present);
      Exec(db, "ROLLBACK");
    }
    if (status != kRegSuccess) return status;
  }
  if (write && !connection->wal) {
    Statement mode(db, "PRAGMA journal_mode=WAL");
    bool row = false;
    status = mode.Next(&row);
    if (status != kRegSuccess) return status;
    if (!row || mode.Text(0) != "wal") return kRegIoFailed;
    // In WAL mode NORMAL loses no committed transaction when a process
    // dies; only a power loss may drop the latest ones, never tearing the
    // file. Set with the first write: it changes how commits are synced,
    // and most processes (a login) only read.
    status = Exec(db, "PRAGMA synchronous=NORMAL");
    if (status != kRegSuccess) return status;
    connection->wal = true;
  }
  // Every process that reads this store may be answering from what it read
  // before: a write it could not announce must not happen.
  if (write && (!connection->counter.Map(connection->full_path, /*create=*/true,
                                         connection->mode) ||
                !connection->counter.writable())) {
    return kRegAccessDenied;
  }
  status = Exec(db, write ? "BEGIN IMMEDIATE" : "BEGIN");
  if (status != kRegSuccess) return status;
  if (!write) return RunInTransaction(connection, write, body);
  // The write lock is held: announce the write before anything changes,
  // and its end once the commit (or rollback) is done.
  const uint64_t owned = connection->counter.BeginWrite();
  status = RunInTransaction(connection, write, body);
  connection->counter.EndWrite(owned);
  return status;
}

int32_t WhileBusy(FunctionRef<int32_t()> attempt) {
  std::chrono::steady_clock::time_point deadline;
  for (bool first = true;; first = false) {
    g_met_lock = false;
    int32_t status = attempt();
    if (status != kRegIoFailed || !g_met_lock) return status;
    if (first) {
      deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    } else if (std::chrono::steady_clock::now() >= deadline) {
      return status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int32_t Write(const std::string& path, TransactionBody body) {
  std::lock_guard<std::mutex> lock(StoreMutex());
  return WhileBusy([&]() -> int32_t {
    Connection* connection = nullptr;
    int32_t status = Acquire(path, true, FileCheck::kLook, &connection);
    return status != kRegSuccess ? status : TransactOnce(connection, true, body);
  });
}

}  // namespace store
}  // namespace platform
}  // namespace wendrel
