// Modules port, dlopen backend.

#include <dlfcn.h>

#include "platform/modules.h"

namespace wendrel {
namespace platform {

Module Module::FindLoaded(const std::string& name) {
  void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD);
  return Module(handle, handle != nullptr);
}

Module Module::Load(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr && error != nullptr) {
    const char* reason = dlerror();
    *error = "cannot load " + path + ": " + (reason != nullptr ? reason : "unknown error");
  }
  return Module(handle, handle != nullptr);
}

void* Module::Symbol(const char* name) const {
  if (handle_ == nullptr || name == nullptr) return nullptr;
  return dlsym(handle_, name);
}

void Module::Reset() {
  if (handle_ != nullptr && owns_) dlclose(handle_);
  handle_ = nullptr;
  owns_ = false;
}

bool IsWindows9xFamily() { return false; }

std::string ModuleFileName(const std::string& base_name) { return "lib" + base_name + ".so"; }

}  // namespace platform
}  // namespace wendrel
