// wendrel_registry_floor.exe: what one registry call costs a Windows
// program, for scripts/bench --windows to weigh the extension's registry
// calls per login. Under Wine every call is a round trip to its server.
//
//   wendrel_registry_floor COUNT
//
// COUNT times: open the login options key, query one value, close the key
// (three calls). Exit 0 when every call succeeded, 1 otherwise, 2 for bad
// arguments.

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "config/registry_paths.h"

int main(int argc, char** argv) {
  const int count = argc == 2 ? std::atoi(argv[1]) : 0;
  if (count < 1) {
    std::fprintf(stderr, "usage: wendrel_registry_floor COUNT\n");
    return 2;
  }
  for (int i = 0; i < count; ++i) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, wendrel::kOptionsKeyPath, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
      std::fprintf(stderr, "wendrel_registry_floor: the options key cannot be opened\n");
      return 1;
    }
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG status = RegQueryValueExA(key, "Contextless Login Enabled", nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
      std::fprintf(stderr, "wendrel_registry_floor: the value cannot be read\n");
      return 1;
    }
  }
  return 0;
}
