#include "platform/posix/store_tracked_read.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <mutex>

#include "platform/registry.h"

namespace wendrel {
namespace platform {
namespace store {
namespace {

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

}  // namespace

int32_t Read(const std::string& path, FileCheck check, const std::string& question,
             StoreFetch fetch, FunctionRef<int32_t(const StoreRead&)> reply, bool* writable,
             StoreAnswers* also, const std::string* otherwise) {
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

}  // namespace store
}  // namespace platform
}  // namespace wendrel
