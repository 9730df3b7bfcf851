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
// Exit 0 on success, 1 on failure, 2 for bad arguments.

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/environment.h"
#include "platform/registry.h"

namespace {

using wendrel::platform::RegKey;

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
  std::fprintf(stderr,
               "usage: wendrel-store-probe write STORE PREFIX COUNT | delete STORE KEY |\n"
               "       hold STORE READY RELEASE | foreign PATH\n");
  return 2;
}
