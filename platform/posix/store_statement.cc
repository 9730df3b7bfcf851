#include "platform/posix/store_statement.h"

#include <errno.h>

#include <cstring>
#include <map>
#include <utility>

#include "platform/registry.h"

namespace wendrel {
namespace platform {
namespace store {

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

namespace {

using PreparedStatements = std::map<std::pair<sqlite3*, const char*>, PreparedStatement>;

PreparedStatements& Prepared() {
  static auto* prepared = new PreparedStatements;
  return *prepared;
}

}  // namespace

void ForgetStatements(sqlite3* db) {
  auto& prepared = Prepared();
  auto it = prepared.lower_bound(std::make_pair(db, static_cast<const char*>(nullptr)));
  while (it != prepared.end() && it->first.first == db) {
    sqlite3_finalize(it->second.stmt);
    it = prepared.erase(it);
  }
}

Statement::Statement(sqlite3* db, const char* sql) : db_(db) {
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

Statement::~Statement() {
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

Statement& Statement::Bind(int index, int64_t value) {
  if (rc_ == SQLITE_OK) rc_ = sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, const std::string& text) {
  if (rc_ == SQLITE_OK) {
    rc_ = sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                            SQLITE_TRANSIENT);
  }
  return *this;
}

Statement& Statement::BindBlob(int index, const void* data, size_t size) {
  if (rc_ == SQLITE_OK) {
    rc_ = sqlite3_bind_blob64(stmt_, index, size != 0 ? data : "", size, SQLITE_TRANSIENT);
  }
  return *this;
}

int Statement::Step() {
  if (rc_ != SQLITE_OK && rc_ != SQLITE_ROW) return rc_;
  int rc = sqlite3_step(stmt_);
  rc_ = rc == SQLITE_ROW ? SQLITE_ROW : rc == SQLITE_DONE ? SQLITE_DONE : rc;
  return rc;
}

int32_t Statement::Next(bool* row) {
  int rc = Step();
  *row = rc == SQLITE_ROW;
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? kRegSuccess : MapSqlite(rc, db_);
}

std::string Statement::Text(int column) {
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  int size = sqlite3_column_bytes(stmt_, column);
  return text != nullptr ? std::string(reinterpret_cast<const char*>(text), size)
                         : std::string();
}

const uint8_t* Statement::Blob(int column, size_t* size) {
  const void* blob = sqlite3_column_blob(stmt_, column);
  *size = static_cast<size_t>(sqlite3_column_bytes(stmt_, column));
  return static_cast<const uint8_t*>(blob);
}

int32_t Exec(sqlite3* db, const char* sql) {
  if (std::strchr(sql, ';') != nullptr) {
    return MapSqlite(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), db);
  }
  Statement statement(db, sql);
  return MapSqlite(statement.Step(), db);
}

}  // namespace store
}  // namespace platform
}  // namespace wendrel
