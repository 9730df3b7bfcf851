// Modules port: find a module that is already loaded (without loading it),
// load and free a module, look up an exported symbol. On Windows
// GetModuleHandleA, LoadLibraryA, FreeLibrary and GetProcAddress; natively
// dlopen (RTLD_NOLOAD to find), dlsym and dlclose.

#ifndef WENDREL_PLATFORM_MODULES_H_
#define WENDREL_PLATFORM_MODULES_H_

#include <string>

namespace wendrel {
namespace platform {

// A loaded module. Each Module holds what it must give back: on Windows a
// found module holds nothing (GetModuleHandleA adds no reference) and a
// loaded one holds a reference; natively both hold a reference, since dlopen
// counts RTLD_NOLOAD lookups too. The destructor gives it back.
class Module {
 public:
  Module() = default;
  ~Module() { Reset(); }
  Module(Module&& other) noexcept;
  Module& operator=(Module&& other) noexcept;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // The module with this file name when it is loaded in the process; never
  // loads it. Not open when it is not loaded.
  static Module FindLoaded(const std::string& name);

  // Loads the module at path (or finds it and adds a reference). Not open on
  // failure, with the reason in *error when given.
  static Module Load(const std::string& path, std::string* error);

  bool is_open() const { return handle_ != nullptr; }
  void* handle() const { return handle_; }

  // The address of an exported symbol, or null.
  void* Symbol(const char* name) const;

  void Reset();
  // Gives up ownership without giving the reference back: the module stays
  // loaded for the rest of the process.
  void* Release() {
    void* handle = handle_;
    handle_ = nullptr;
    owns_ = false;
    return handle;
  }

 private:
  Module(void* handle, bool owns) : handle_(handle), owns_(owns) {}

  void* handle_ = nullptr;
  bool owns_ = false;
};

// True on the Windows 9x family (the high bit of GetVersion); false on the NT
// family and natively.
bool IsWindows9xFamily();

// The file name a module of this base name has on this system:
// "NAME.DLL" on Windows, "libNAME.so" natively.
std::string ModuleFileName(const std::string& base_name);

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_MODULES_H_
