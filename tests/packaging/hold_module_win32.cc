// hold_module.exe DLL READY RELEASE: loads DLL as the login host loads the
// extension, creates the file READY, and keeps the DLL loaded until the file
// RELEASE exists (at most two minutes). Exit 0 on success, 1 when the DLL
// could not be loaded or READY not created, 2 for bad arguments.

#include <windows.h>

#include <cstdio>
#include <memory>
#include <type_traits>

namespace {

struct FreeModule {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: hold_module DLL READY RELEASE\n");
    return 2;
  }
  std::unique_ptr<std::remove_pointer_t<HMODULE>, FreeModule> module(LoadLibraryA(argv[1]));
  if (module == nullptr) {
    std::fprintf(stderr, "hold_module: cannot load %s: error %lu\n", argv[1], GetLastError());
    return 1;
  }
  HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "hold_module: cannot create %s\n", argv[2]);
    return 1;
  }
  CloseHandle(ready);
  for (int i = 0; i < 1200 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i) {
    Sleep(100);
  }
  return 0;
}
