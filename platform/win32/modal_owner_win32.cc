#include "platform/win32/modal_owner_win32.h"

namespace wendrel {
namespace platform {

HWND FrameworkModalOwner() {
  HWND active = GetActiveWindow();
  if (active == nullptr) return nullptr;
  HWND top = GetAncestor(active, GA_ROOT);
  return top != nullptr ? top : active;
}

}  // namespace platform
}  // namespace wendrel
