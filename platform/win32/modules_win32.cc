// Modules port, Win32 backend.

#include <windows.h>

#include "platform/modules.h"

namespace wendrel {
namespace platform {

Module Module::FindLoaded(const std::string& name) {
  // No reference is added, so none is given back.
  return Module(GetModuleHandleA(name.c_str()), false);
}

Module Module::Load(const std::string& path, std::string* error) {
  HMODULE handle = LoadLibraryA(path.c_str());
  if (handle == nullptr && error != nullptr) {
    *error = "cannot load " + path + ": error " + std::to_string(GetLastError());
  }
  return Module(handle, handle != nullptr);
}

void* Module::Symbol(const char* name) const {
  if (handle_ == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void Module::Reset() {
  if (handle_ != nullptr && owns_) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
  owns_ = false;
}

bool IsWindows9xFamily() {
  // GetVersion is deprecated but is exactly the test the host module name
  // depends on.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return (GetVersion() & 0x80000000u) != 0;
#pragma GCC diagnostic pop
}

std::string ModuleFileName(const std::string& base_name) { return base_name + ".DLL"; }

}  // namespace platform
}  // namespace wendrel
