// Ownership of Module, the same for both backends.

#include "platform/modules.h"

namespace wendrel {
namespace platform {

Module::Module(Module&& other) noexcept : handle_(other.handle_), owns_(other.owns_) {
  other.handle_ = nullptr;
  other.owns_ = false;
}

Module& Module::operator=(Module&& other) noexcept {
  if (this != &other) {
    Reset();
    handle_ = other.handle_;
    owns_ = other.owns_;
    other.handle_ = nullptr;
    other.owns_ = false;
  }
  return *this;
}

}  // namespace platform
}  // namespace wendrel
