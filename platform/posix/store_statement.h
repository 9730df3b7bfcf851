// The native registry store's SQLite statements: prepared once per database
// handle and kept, run with their parameters bound, and their results turned
// into Win32 error codes. Used under the store mutex only.

#ifndef WENDREL_PLATFORM_POSIX_STORE_STATEMENT_H_
#define WENDREL_PLATFORM_POSIX_STORE_STATEMENT_H_

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace wendrel {
namespace platform {
namespace store {

// Set when a call met another process's lock (read under the store mutex).
extern bool g_met_lock;

// The registry status of an SQLite result code (of `db`, when given).
int32_t MapSqlite(int rc, sqlite3* db);

// Prepared statements kept per database handle for the handle's life. The
// registry's statements return a row or two, so preparing one (parsing and
// planning) costs more than running it, and a single call runs several: a
// login that reads its configuration and its cached result spent most of
// its store time preparing. Kept by the address of their text: every text
// is a literal of the store's sources, so finding one costs no copy and no
// compare of the text on every call. Used under the store mutex only.
struct PreparedStatement {
  sqlite3_stmt* stmt = nullptr;
  bool in_use = false;
};

// Finalizes the kept statements of `db`, before it is closed.
void ForgetStatements(sqlite3* db);

class Statement {
 public:
  // A kept statement when there is one not in use; a statement of its own
  // (finalized afterwards) while the same text is running already.
  Statement(sqlite3* db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, const std::string& text);
  // A non-null pointer keeps an empty value a zero-length blob, not NULL.
  Statement& BindBlob(int index, const void* data, size_t size);

  // SQLITE_ROW or SQLITE_DONE, else the error.
  int Step();
  // Step, as a registry status; *row tells whether a row came back.
  int32_t Next(bool* row);

  int64_t Int(int column) { return sqlite3_column_int64(stmt_, column); }
  std::string Text(int column);
  const uint8_t* Blob(int column, size_t* size);

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  PreparedStatement* kept_ = nullptr;  // null: a statement of its own
  int rc_;
};

// Runs `sql`: one statement through the kept ones (BEGIN, COMMIT, ...),
// several (the schema) as a script.
int32_t Exec(sqlite3* db, const char* sql);

}  // namespace store
}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_POSIX_STORE_STATEMENT_H_
