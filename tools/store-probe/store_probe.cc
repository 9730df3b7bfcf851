// wendrel-store-probe: drives a native registry store from another process.
//
//   wendrel-store-probe write STORE PREFIX COUNT   COUNT values PREFIX0.. in
//                                                   HKLM\Software\Tarvos\Stress,
//                                                   one call (transaction) each
//   wendrel-store-probe delete STORE KEY           deletes HKLM\KEY
//   wendrel-store-probe hold STORE READY RELEASE   takes the store's write lock,
//                                                   creates READY, keeps the lock
//                                                   until RELEASE exists (at most
//                                                   60 s), then removes READY
//   wendrel-store-probe foreign PATH               makes an SQLite database that
//                                                   is not a registry store
//   wendrel-store-probe set STORE NAME VALUE       sets the DWORD NAME in
//                                                   HKLM\Software\Tarvos\Stress
//   wendrel-store-probe race STORE COUNT           sets the DWORD "Race" there to
//                                                   1..COUNT, printing each number
//                                                   once it is committed
//   wendrel-store-probe stall STORE VALUE READY COMMIT
//                                                   a writer that stops half-way:
//                                                   takes the write lock, announces
//                                                   the write, sets "Stalled" to
//                                                   VALUE, creates READY; then, once
//                                                   COMMIT exists (never for "-"),
//                                                   commits and creates COMMIT.done,
//                                                   the counter left odd; waits (at
//                                                   most 60 s) to be killed
//   wendrel-store-probe checkpoint STORE           moves the -wal file's content
//                                                   into the database and empties it
//   wendrel-store-probe rollback STORE             takes the store out of WAL mode
//                                                   (a rollback journal, as SQLite
//                                                   makes a database by default)
// Exit 0 on success, 1 on failure, 2 for bad arguments.

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <cstring>
#include <random>

#include "platform/environment.h"
#include "platform/posix/store_change_counter.h"
#include "platform/registry.h"

namespace {

using wendrel::platform::RegKey;

constexpr char kStressKey[] = "Software\\Tarvos\\Stress";

int SetDword(const std::string& name, uint32_t value) {
  RegKey key;
  int32_t status = key.Create(RegKey::LocalMachine(), kStressKey,
                              wendrel::platform::kKeyAllAccess, nullptr, nullptr);
  if (status == wendrel::platform::kRegSuccess) {
    status = key.SetValue(name, wendrel::platform::kRegDword, &value, sizeof(value));
  }
  if (status != wendrel::platform::kRegSuccess) std::fprintf(stderr, "set %s: %d\n", name.c_str(), status);
  return status == wendrel::platform::kRegSuccess ? 0 : 1;
}

// Every number is printed only after its write returned: a reader that has
// read "N" may expect at least N.
int Race(long count) {
  std::mt19937 engine(12345);
  for (long i = 1; i <= count; ++i) {
    if (SetDword("Race", static_cast<uint32_t>(i)) != 0) return 1;
    std::printf("%ld\n", i);
    std::fflush(stdout);
    // Pauses now and then, so that the reader also answers from memory
    // between writes.
    if (engine() % 4 == 0) usleep(engine() % 400);
  }
  return 0;
}

int Write(const std::string& prefix, long count) {
  RegKey key;
  int32_t status = key.Create(RegKey::LocalMachine(), "Software\\Tarvos\\Stress",
                              wendrel::platform::kKeyAllAccess, nullptr, nullptr);
  if (status != wendrel::platform::kRegSuccess) {
    std::fprintf(stderr, "create: %d\n", status);
    return 1;
  }
  for (long i = 0; i < count; ++i) {
    uint32_t value = static_cast<uint32_t>(i);
    status = key.SetValue(prefix + std::to_string(i), wendrel::platform::kRegDword, &value,
                          sizeof(value));
    if (status != wendrel::platform::kRegSuccess) {
      std::fprintf(stderr, "value %ld: %d\n", i, status);
      return 1;
    }
  }
  return 0;
}

int Delete(const std::string& path) {
  RegKey root;
  int32_t status = root.Open(RegKey::LocalMachine(), "", wendrel::platform::kKeyAllAccess);
  if (status == wendrel::platform::kRegSuccess) status = root.DeleteSubKey(path);
  if (status != wendrel::platform::kRegSuccess) std::fprintf(stderr, "delete: %d\n", status);
  return status == wendrel::platform::kRegSuccess ? 0 : 1;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

int Hold(const std::string& store, const std::string& ready, const std::string& release) {
  sqlite3* db = nullptr;
  int result = 1;
  if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
      sqlite3_busy_timeout(db, 10000) == SQLITE_OK &&
      sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {
    FILE* marker = std::fopen(ready.c_str(), "w");
    if (marker != nullptr) {
      std::fclose(marker);
      for (int i = 0; i < 600 && !Exists(release); ++i) usleep(100 * 1000);
      result = 0;
    }
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  } else {
    std::fprintf(stderr, "hold: %s\n", db != nullptr ? sqlite3_errmsg(db) : "no memory");
  }
  sqlite3_close(db);
  unlink(ready.c_str());
  return result;
}

bool Exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool Touch(const std::string& path) {
  FILE* marker = std::fopen(path.c_str(), "w");
  if (marker == nullptr) return false;
  std::fclose(marker);
  return true;
}

// What the store does in a write transaction, stopped where a writer may
// die: after announcing the write, and (once told) after the commit, before
// the counter turns even again.
int Stall(const std::string& store, uint32_t value, const std::string& ready,
          const std::string& commit) {
  sqlite3* db = nullptr;
  wendrel::platform::StoreChangeCounter counter;
  bool ok = sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
            sqlite3_busy_timeout(db, 10000) == SQLITE_OK &&
            counter.Map(sqlite3_db_filename(db, "main"), false, 0) && counter.writable() &&
            Exec(db, "BEGIN IMMEDIATE");
  if (ok) {
    counter.BeginWrite();
    sqlite3_stmt* update = nullptr;
    ok = sqlite3_prepare_v2(db, "UPDATE vals SET data=? WHERE name='Stalled'", -1, &update,
                            nullptr) == SQLITE_OK &&
         sqlite3_bind_blob(update, 1, &value, sizeof(value), SQLITE_TRANSIENT) == SQLITE_OK &&
         sqlite3_step(update) == SQLITE_DONE && sqlite3_changes(db) == 1;
    sqlite3_finalize(update);
  }
  ok = ok && Touch(ready);
  if (ok && commit != "-") {
    for (int i = 0; i < 600 && !Exists(commit); ++i) usleep(100 * 1000);
    ok = Exec(db, "COMMIT") && Touch(commit + ".done");
  }
  if (!ok) {
    std::fprintf(stderr, "stall: %s\n", db != nullptr ? sqlite3_errmsg(db) : "no memory");
    return 1;
  }
  sleep(60);
  return 1;  // never killed
}

int Checkpoint(const std::string& store) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
            sqlite3_busy_timeout(db, 10000) == SQLITE_OK &&
            Exec(db, "PRAGMA wal_checkpoint(TRUNCATE)");
  if (!ok) std::fprintf(stderr, "checkpoint: %s\n", db != nullptr ? sqlite3_errmsg(db) : "no memory");
  sqlite3_close(db);
  return ok ? 0 : 1;
}

int Rollback(const std::string& store) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
            sqlite3_busy_timeout(db, 10000) == SQLITE_OK &&
            Exec(db, "PRAGMA journal_mode=DELETE");
  if (!ok) std::fprintf(stderr, "rollback: %s\n", db != nullptr ? sqlite3_errmsg(db) : "no memory");
  sqlite3_close(db);
  return ok ? 0 : 1;
}

int Foreign(const std::string& path) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open(path.c_str(), &db);
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db, "CREATE TABLE notes(text); INSERT INTO notes VALUES('mine');",
                      nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
  return rc == SQLITE_OK ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (command == "write" && argc == 5) {
    wendrel::platform::SetEnvironmentVariable("WENDREL_REGISTRY", argv[2]);
    return Write(argv[3], std::strtol(argv[4], nullptr, 10));
  }
  if (command == "delete" && argc == 4) {
    wendrel::platform::SetEnvironmentVariable("WENDREL_REGISTRY", argv[2]);
    return Delete(argv[3]);
  }
  if (command == "hold" && argc == 5) return Hold(argv[2], argv[3], argv[4]);
  if (command == "foreign" && argc == 3) return Foreign(argv[2]);
  if ((command == "set" && argc == 5) || (command == "race" && argc == 4)) {
    wendrel::platform::SetEnvironmentVariable("WENDREL_REGISTRY", argv[2]);
    if (command == "race") return Race(std::strtol(argv[3], nullptr, 10));
    return SetDword(argv[3], static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)));
  }
  if (command == "stall" && argc == 6) {
    return Stall(argv[2], static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)), argv[4],
                 argv[5]);
  }
  if (command == "checkpoint" && argc == 3) return Checkpoint(argv[2]);
  if (command == "rollback" && argc == 3) return Rollback(argv[2]);
  std::fprintf(stderr,
               "usage: wendrel-store-probe write STORE PREFIX COUNT | delete STORE KEY |\n"
               "       hold STORE READY RELEASE | foreign PATH | set STORE NAME VALUE |\n"
               "       race STORE COUNT | stall STORE VALUE READY COMMIT |\n"
               "       checkpoint STORE | rollback STORE\n");
  return 2;
}
