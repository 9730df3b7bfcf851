#include "platform/posix/registry_store.h"

#include <errno.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/environment.h"
#include "platform/posix/store_change_counter.h"
#include "platform/posix/store_read_memo.h"
#include "platform/registry.h"

namespace wendrel {
namespace platform {

namespace {

constexpr char kDefaultStorePath[] = "/var/lib/wendrel/registry.db";
// Long enough to ride out another process's write, short enough that a store
// held by a stuck writer turns into an error instead of a hang.
constexpr int kBusyTimeoutMs = 3000;
// Marks a database as a registry store ("WRG1"), so that no other SQLite
// database is ever taken for one and written to.
constexpr int32_t kApplicationId = 0x57524731;
constexpr size_t kMaxKeyName = 255;      // characters of one key name
constexpr size_t kMaxValueName = 16383;  // characters of one value name
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

// Set when a call met another process's lock (read under the store mutex).
bool g_met_lock = false;

int32_t MapSqlite(int rc, sqlite3* db) {
  if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED) g_met_lock = true;
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return kRegSuccess;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return kRegAccessDenied;
    case SQLITE_CANTOPEN: {
      int error = db != nullptr ? sqlite3_system_errno(db) : 0;
      return error == EACCES || error == EPERM || error == EROFS ? kRegAccessDenied
                                                                 : kRegIoFailed;
    }
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
    case SQLITE_SCHEMA:
      return kRegBadDb;
    case SQLITE_NOMEM:
      return kRegNotEnoughMemory;
    case SQLITE_TOOBIG:
    case SQLITE_RANGE:
      return kRegInvalidParameter;
    default:  // busy, locked, I/O errors, a full disk
      return kRegIoFailed;
  }
}

// Prepared statements kept per database handle for the handle's life. The
// registry's statements return a row or two, so preparing one (parsing and
// planning) costs more than running it, and a single call runs several: a
// login that reads its configuration and its cached result spent most of
// its store time preparing. Kept by the address of their text: every text
// is a literal of this file, so finding one costs no copy and no compare of
// the text on every call. Used under the store mutex only.
struct PreparedStatement {
  sqlite3_stmt* stmt = nullptr;
  bool in_use = false;
};
using PreparedStatements = std::map<std::pair<sqlite3*, const char*>, PreparedStatement>;

PreparedStatements& Prepared() {
  static auto* prepared = new PreparedStatements;
  return *prepared;
}

// Finalizes the kept statements of `db`, before it is closed.
void ForgetStatements(sqlite3* db) {
  auto& prepared = Prepared();
  auto it = prepared.lower_bound(std::make_pair(db, static_cast<const char*>(nullptr)));
  while (it != prepared.end() && it->first.first == db) {
    sqlite3_finalize(it->second.stmt);
    it = prepared.erase(it);
  }
}

class Statement {
 public:
  // A kept statement when there is one not in use; a statement of its own
  // (finalized afterwards) while the same text is running already.
  Statement(sqlite3* db, const char* sql) : db_(db) {
    PreparedStatement& kept = Prepared()[std::make_pair(db, sql)];
    if (kept.in_use) {
      rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
      return;
    }
    if (kept.stmt == nullptr) {
      rc_ = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &kept.stmt, nullptr);
      if (rc_ != SQLITE_OK) {
        sqlite3_finalize(kept.stmt);
        kept.stmt = nullptr;
        return;
      }
    }
    rc_ = SQLITE_OK;
    kept.in_use = true;
    kept_ = &kept;
    stmt_ = kept.stmt;
  }
  ~Statement() {
    if (kept_ == nullptr) {
      sqlite3_finalize(stmt_);
      return;
    }
    // Ends the statement's part in the transaction and drops its bound
    // texts, as finalizing would, and keeps it for the next call.
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    kept_->in_use = false;
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, int64_t value) {
    if (rc_ == SQLITE_OK) rc_ = sqlite3_bind_int64(stmt_, index, value);
    return *this;
  }
  Statement& Bind(int index, const std::string& text) {
    if (rc_ == SQLITE_OK) {
      rc_ = sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                              SQLITE_TRANSIENT);
    }
    return *this;
  }
  Statement& BindBlob(int index, const void* data, size_t size) {
    // A non-null pointer keeps an empty value a zero-length blob, not NULL.
    if (rc_ == SQLITE_OK) {
      rc_ = sqlite3_bind_blob64(stmt_, index, size != 0 ? data : "", size, SQLITE_TRANSIENT);
    }
    return *this;
  }

  // SQLITE_ROW or SQLITE_DONE, else the error.
  int Step() {
    if (rc_ != SQLITE_OK && rc_ != SQLITE_ROW) return rc_;
    int rc = sqlite3_step(stmt_);
    rc_ = rc == SQLITE_ROW ? SQLITE_ROW : rc == SQLITE_DONE ? SQLITE_DONE : rc;
    return rc;
  }
  // Step, as a registry status; *row tells whether a row came back.
  int32_t Next(bool* row) {
    int rc = Step();
    *row = rc == SQLITE_ROW;
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? kRegSuccess : MapSqlite(rc, db_);
  }

  int64_t Int(int column) { return sqlite3_column_int64(stmt_, column); }
  std::string Text(int column) {
    const unsigned char* text = sqlite3_column_text(stmt_, column);
    int size = sqlite3_column_bytes(stmt_, column);
    return text != nullptr ? std::string(reinterpret_cast<const char*>(text), size)
                           : std::string();
  }
  const uint8_t* Blob(int column, size_t* size) {
    const void* blob = sqlite3_column_blob(stmt_, column);
    *size = static_cast<size_t>(sqlite3_column_bytes(stmt_, column));
    return static_cast<const uint8_t*>(blob);
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  PreparedStatement* kept_ = nullptr;  // null: a statement of its own
  int rc_;
};

// Runs `sql`: one statement through the kept ones (BEGIN, COMMIT, ...),
// several (the schema) as a script.
int32_t Exec(sqlite3* db, const char* sql) {
  if (std::strchr(sql, ';') != nullptr) {
    return MapSqlite(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), db);
  }
  Statement statement(db, sql);
  return MapSqlite(statement.Step(), db);
}

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

// A file without write permission is a read-only store, even for root, just
// as the read-only attribute holds for administrators on Windows.
bool ModeWritable(const struct stat& st) { return (st.st_mode & 0222) != 0; }

std::mutex& StoreMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

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

// How a call finds its connection. Opening a key and writing look at the
// file (one stat) and reopen a file that was replaced, removed or
// re-permissioned; the other reads use the connection they find, whose
// change counter tells them about every write.
enum class FileCheck { kLook, kTrustOpen };

// The connection for `path`; *out is null (and the result success) when the
// file does not exist and `write` is false.
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
template <typename Body>
int32_t RunInTransaction(Connection* connection, bool write, Body& body) {
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

// Runs `body(db)` as one transaction on `connection` (null: the store file
// does not exist, and `body` reads an empty store).
template <typename Body>
int32_t TransactOnce(Connection* connection, bool write, Body& body) {
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

// A counter left odd: when no process holds the write lock, the writer that
// made it odd is gone, and the counter is made even. Only tried without
// waiting: while a writer is at work, the reads go to the database.
void RecoverCounter(Connection* connection) {
  if (connection->read_only || !connection->counter.writable()) return;
  sqlite3* db = connection->db;
  sqlite3_busy_timeout(db, 0);
  if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {
    const uint64_t now = connection->counter.Load();
    if (StoreChangeCounter::InFlight(now)) connection->counter.Recover(now);
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
}

// Whether the store has the -shm file SQLite's readers make beside a store
// in WAL mode. A reader makes the counter only there: beside a store SQLite
// reads without making anything, a reader makes nothing either.
bool SqliteMadeItsSharedMemory(const Connection& connection) {
  struct stat st;
  return stat((connection.full_path + "-shm").c_str(), &st) == 0;
}

// Tries `attempt` again while it meets another process's lock. SQLite's busy
// handler covers most waits, but some (another process switching the file to
// WAL or recovering it) answer "busy" at once; the whole call then starts
// over, within the same bounded time.
template <typename Attempt>
int32_t WhileBusy(Attempt attempt) {
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

// A write: `body(db)` as one transaction, on the file as it is now.
template <typename Body>
int32_t Write(const std::string& path, Body body) {
  std::lock_guard<std::mutex> lock(StoreMutex());
  return WhileBusy([&]() -> int32_t {
    Connection* connection = nullptr;
    int32_t status = Acquire(path, true, FileCheck::kLook, &connection);
    return status != kRegSuccess ? status : TransactOnce(connection, true, body);
  });
}

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
template <typename Fetch, typename Reply>
int32_t Read(const std::string& path, FileCheck check, const std::string& question, Fetch fetch,
             Reply reply, bool* writable = nullptr, StoreAnswers* also = nullptr,
             const std::string* otherwise = nullptr) {
  std::lock_guard<std::mutex> lock(StoreMutex());
  StoreRead answer;
  return WhileBusy([&]() -> int32_t {
    if (also != nullptr) also->clear();
    Connection* connection = nullptr;
    int32_t status = Acquire(path, false, check, &connection);
    if (status != kRegSuccess) return status;
    bool counted = connection != nullptr && connection->counter.mapped();
    uint64_t seen = counted ? connection->counter.Load() : 0;
    bool settled = counted && !StoreChangeCounter::InFlight(seen);
    if (settled) {
      connection->memo.At(seen);
      const StoreRead* kept = connection->memo.Find(question);
      if (kept == nullptr && otherwise != nullptr) kept = connection->memo.Find(*otherwise);
      if (kept != nullptr) {
        if (writable != nullptr) *writable = !connection->read_only;
        return reply(*kept);
      }
    }
    if (check == FileCheck::kTrustOpen) {
      // The database is read anyway: make sure it is still the file at the
      // path, so that a replaced store is never read through its old
      // connection (whose -wal and -shm files are now the new file's).
      status = Acquire(path, false, FileCheck::kLook, &connection);
      if (status != kRegSuccess) return status;
      counted = connection != nullptr && connection->counter.mapped();
      seen = counted ? connection->counter.Load() : 0;
      settled = counted && !StoreChangeCounter::InFlight(seen);
      if (settled) connection->memo.At(seen);
    }
    if (writable != nullptr) *writable = connection != nullptr && !connection->read_only;
    answer = StoreRead();
    bool fetched = false;
    auto body = [&](sqlite3* db) -> int32_t {
      answer.status = fetch(db, &answer);
      fetched = true;
      return answer.status;
    };
    status = TransactOnce(connection, false, body);
    const bool answered = fetched && status == answer.status;
    if (connection == nullptr) return answered ? reply(answer) : status;
    if (settled && answered && StoreReadMemo::Keepable(status) &&
        connection->counter.Still(seen)) {
      // In their order: the answer for every value not held comes first,
      // so that a memo emptied for room part way never keeps it without
      // the values it stands beside.
      if (also != nullptr) {
        for (const auto& other : *also) connection->memo.Keep(other.first, other.second);
      }
      connection->memo.Keep(question, answer);
    }
    if (counted && !settled) {
      RecoverCounter(connection);
    } else if (!counted && connection->schema && !connection->read_only &&
               SqliteMadeItsSharedMemory(*connection)) {
      connection->counter.Map(connection->full_path, /*create=*/true, connection->mode);
    }
    return answered ? reply(answer) : status;
  });
}

// Splits a key path into its names; an empty path has none. Empty names
// (doubled or leading backslashes) and names over 255 characters are
// refused; one trailing backslash is ignored.
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

int32_t CheckValueName(const std::string& name) {
  return name.size() > kMaxValueName ? kRegInvalidParameter : kRegSuccess;
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
        [&](sqlite3* db, StoreRead* answer) { return Resolve(db, parent, subkey, &answer->number); },
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

namespace {

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

std::string ValueQuestion(int64_t key, const std::string& name) {
  return StoreReadMemo::Question('V', key, 0, FoldedName(name));
}

// The question whose kept answer stands for every value a key read whole
// does not hold: "not found", or "key deleted".
std::string OtherValuesQuestion(int64_t key) {
  return StoreReadMemo::Question('W', key, 0, std::string());
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

// The answer to `question` about `key` from the key read whole (*also then
// holds everything read), `absent` when the key holds no answer to it; else
// from `single(db, answer)`, for a key too large to be read whole.
template <typename Single>
int32_t FetchThroughKey(sqlite3* db, int64_t key, const std::string& question, int32_t absent,
                        StoreRead* answer, StoreAnswers* also, Single single) {
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

int32_t FetchValueThroughKey(sqlite3* db, int64_t key, const std::string& name,
                             StoreRead* answer, StoreAnswers* also) {
  return FetchThroughKey(db, key, ValueQuestion(key, name), kRegFileNotFound, answer, also,
                         [&](sqlite3* db, StoreRead* answer) {
                           return FetchValue(db, key, name, answer);
                         });
}

}  // namespace

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
