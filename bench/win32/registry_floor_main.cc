// wendrel_registry_floor.exe: what registry calls cost a Windows program,
// for scripts/bench --windows to weigh the extension's registry calls per
// login. Under Wine every call is a round trip to its server.
//
//   wendrel_registry_floor COUNT [OPENS,QUERIES,WRITES,CLOSES]
//
// COUNT times the calls of the pattern (bench/win32/registry_pattern.h);
// by default one open of the login options key, one query and one close.
// Exit 0 when every call succeeded, 1 otherwise, 2 for bad arguments.

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "bench/win32/registry_pattern.h"

int main(int argc, char** argv) {
  using wendrel::bench::RegistryPattern;
  const int count = argc == 2 || argc == 3 ? std::atoi(argv[1]) : 0;
  RegistryPattern pattern{1, 1, 0, 1};
  if (count < 1 || (argc == 3 && !wendrel::bench::ParseRegistryPattern(argv[2], &pattern))) {
    std::fprintf(stderr, "usage: wendrel_registry_floor COUNT [OPENS,QUERIES,WRITES,CLOSES]\n");
    return 2;
  }
  HKEY scratch = pattern.writes > 0 ? wendrel::bench::OpenScratchKey() : nullptr;
  if (pattern.writes > 0 && scratch == nullptr) {
    std::fprintf(stderr, "wendrel_registry_floor: no writable key\n");
    return 1;
  }
  for (int i = 0; i < count; ++i) {
    if (!wendrel::bench::MakeRegistryCalls(pattern, scratch)) {
      std::fprintf(stderr, "wendrel_registry_floor: a registry call failed\n");
      return 1;
    }
  }
  if (scratch != nullptr) RegCloseKey(scratch);
  return 0;
}
