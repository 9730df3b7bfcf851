// The registry calls of one login, made by a plain advapi32 client: what the
// Windows benchmark adds to its floors to weigh a login's registry traffic
// on its own. The numbers are per login, as the extension's counter gives
// them: opens of the login options key (those beyond the closes open a key
// that does not exist, as the check of the workstation's login switch
// does), queries of a 32-bit value in it, writes of a 260-byte string as
// the results cache writes its entry, and closes.

#ifndef WENDREL_BENCH_WIN32_REGISTRY_PATTERN_H_
#define WENDREL_BENCH_WIN32_REGISTRY_PATTERN_H_

#include <windows.h>

#include <cstdlib>
#include <vector>

#include "config/registry_paths.h"

namespace wendrel {
namespace bench {

struct RegistryPattern {
  int opens = 0, queries = 0, writes = 0, closes = 0;
};

// "OPENS,QUERIES,WRITES,CLOSES"; false for anything else.
inline bool ParseRegistryPattern(const char* text, RegistryPattern* pattern) {
  char* end = nullptr;
  int* fields[] = {&pattern->opens, &pattern->queries, &pattern->writes, &pattern->closes};
  for (int i = 0; i < 4; ++i) {
    const long value = std::strtol(text, &end, 10);
    if (end == text || value < 0 || value > 10000) return false;
    *fields[i] = static_cast<int>(value);
    if (i < 3 && *end++ != ',') return false;
    text = end;
  }
  return *end == '\0' && pattern->closes <= pattern->opens;
}

// Makes the calls of one login; `scratch` is a writable key for the writes.
// False when a call that must succeed failed.
inline bool MakeRegistryCalls(const RegistryPattern& pattern, HKEY scratch) {
  std::vector<HKEY> keys;
  bool ok = true;
  for (int i = 0; i < pattern.opens; ++i) {
    HKEY key = nullptr;
    if (i < pattern.closes) {
      ok = ok && RegOpenKeyExA(HKEY_LOCAL_MACHINE, kOptionsKeyPath, 0, KEY_READ, &key) ==
                     ERROR_SUCCESS;
      if (key != nullptr) keys.push_back(key);
    } else {
      ok = ok && RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tarvos\\Bench\\Missing", 0,
                               KEY_READ, &key) == ERROR_FILE_NOT_FOUND;
    }
  }
  for (int i = 0; i < pattern.queries && !keys.empty(); ++i) {
    DWORD value = 0;
    DWORD size = sizeof value;
    ok = ok && RegQueryValueExA(keys[static_cast<size_t>(i) % keys.size()],
                                "Contextless Login Enabled", nullptr, nullptr,
                                reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS;
  }
  char text[260] = "cn=bench";
  for (int i = 0; i < pattern.writes; ++i) {
    ok = ok && RegSetValueExA(scratch, "UserFDN", 0, REG_SZ, reinterpret_cast<BYTE*>(text),
                              sizeof text) == ERROR_SUCCESS;
  }
  for (HKEY key : keys) RegCloseKey(key);
  return ok && (pattern.queries == 0 || !keys.empty());
}

// The writable key of the writes, created once per process.
inline HKEY OpenScratchKey() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tarvos\\Bench", 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

}  // namespace bench
}  // namespace wendrel

#endif  // WENDREL_BENCH_WIN32_REGISTRY_PATTERN_H_
