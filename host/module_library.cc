#include "host/module_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <vector>

namespace wendrel {
namespace qzlogin {

#ifdef _WIN32

std::unique_ptr<ModuleLibrary> ModuleLibrary::Load(const std::string& path, std::string* error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    *error = "LoadLibrary failed with error " + std::to_string(GetLastError());
    return nullptr;
  }
  return std::unique_ptr<ModuleLibrary>(new ModuleLibrary(module));
}

ModuleLibrary::~ModuleLibrary() { FreeLibrary(static_cast<HMODULE>(handle_)); }

void* ModuleLibrary::Symbol(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

std::string ProgramFolder() {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return "";
    if (n < path.size()) {
      std::string full(path.data(), n);
      size_t slash = full.find_last_of("\\/");
      return slash == std::string::npos ? "" : full.substr(0, slash + 1);
    }
    if (path.size() >= 32768) return "";
    path.resize(path.size() * 2);
  }
}

const char* HostModuleFileName() { return "LGQZNT32.DLL"; }
const char* ExtensionFileName() { return "wendrel.dll"; }

#else

std::unique_ptr<ModuleLibrary> ModuleLibrary::Load(const std::string& path, std::string* error) {
  // A name without a slash would be searched for on the library path; the
  // user means the file.
  std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    *error = why != nullptr ? why : "dlopen failed";
    return nullptr;
  }
  return std::unique_ptr<ModuleLibrary>(new ModuleLibrary(handle));
}

ModuleLibrary::~ModuleLibrary() { dlclose(handle_); }

void* ModuleLibrary::Symbol(const char* name) const { return dlsym(handle_, name); }

std::string ProgramFolder() {
  std::vector<char> path(4096);
  ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<size_t>(n) >= path.size()) return "";
  std::string full(path.data(), static_cast<size_t>(n));
  size_t slash = full.rfind('/');
  return slash == std::string::npos ? "" : full.substr(0, slash + 1);
}

const char* HostModuleFileName() { return "libLGQZNT32.so"; }
const char* ExtensionFileName() { return "libwendrel.so"; }

#endif

}  // namespace qzlogin
}  // namespace wendrel
