// hold_module.exe DLL READY RELEASE: loads DLL as the login host loads the
// extension, creates the file READY, and keeps the DLL loaded until the file
// RELEASE exists (at most two minutes); then unloads it and ends. Exit 0 on
// success, 1 when the DLL could not be loaded or READY not created, 2 for
// bad arguments. The package's tests hold the installed DLL with it while
// they upgrade the package.

#include <windows.h>

#include <cstdio>

namespace {

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// Unloads the module however main ends.
class LoadedModule {
 public:
  explicit LoadedModule(const char* path) : module_(LoadLibraryA(path)) {}
  ~LoadedModule() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;
  bool loaded() const { return module_ != nullptr; }

 private:
  HMODULE module_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: hold_module DLL READY RELEASE\n");
    return 2;
  }
  LoadedModule module(argv[1]);
  if (!module.loaded()) {
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
  for (int i = 0; i < 1200 && !Exists(argv[3]); ++i) Sleep(100);
  return 0;
}
