// A loaded shared library (dlopen / LoadLibraryA), unloaded when its owner
// goes away, and where qzlogin finds the libraries it loads by default.

#ifndef WENDREL_HOST_MODULE_LIBRARY_H_
#define WENDREL_HOST_MODULE_LIBRARY_H_

#include <memory>
#include <string>

namespace wendrel {
namespace qzlogin {

class ModuleLibrary {
 public:
  // Null with `error` set when the library cannot be loaded. `path` is in
  // the ANSI code page on Windows, as LoadLibraryA takes it.
  static std::unique_ptr<ModuleLibrary> Load(const std::string& path, std::string* error);

  ~ModuleLibrary();
  ModuleLibrary(const ModuleLibrary&) = delete;
  ModuleLibrary& operator=(const ModuleLibrary&) = delete;

  // The exported symbol, or null.
  void* Symbol(const char* name) const;

 private:
  explicit ModuleLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

// The folder of the running program with a trailing separator, in the ANSI
// code page on Windows; empty when it cannot be told.
std::string ProgramFolder();

// File names of the host module and the extension in that folder.
const char* HostModuleFileName();
const char* ExtensionFileName();

}  // namespace qzlogin
}  // namespace wendrel

#endif  // WENDREL_HOST_MODULE_LIBRARY_H_
