// The parts of RegKey that do not depend on the backend: ownership moves
// with the object, and the key is closed (by the backend's Close) when its
// owner goes.

#include "platform/registry.h"

namespace wendrel {
namespace platform {

RegKey::~RegKey() { Close(); }

RegKey::RegKey(RegKey&& other) noexcept
    : handle_(other.handle_), predefined_(other.predefined_) {
  other.handle_ = nullptr;
  other.predefined_ = false;
}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    predefined_ = other.predefined_;
    other.handle_ = nullptr;
    other.predefined_ = false;
  }
  return *this;
}

}  // namespace platform
}  // namespace wendrel
