// The UI port on Windows: the system's message box, owned as the
// application framework owns its message box: by the calling thread's
// active top-level window (the login prompt), which is disabled while the
// box is up.

#include <windows.h>

#include "platform/ui_default.h"
#include "platform/win32/modal_owner_win32.h"

namespace wendrel {
namespace platform {
namespace {

class Win32MessageBoxPresenter : public MessageBoxPresenter {
 public:
  int Show(const std::string& caption, const std::string& text, uint32_t style) override {
    return MessageBoxA(FrameworkModalOwner(), text.c_str(), caption.c_str(),
                       static_cast<UINT>(style));
  }
};

}  // namespace

MessageBoxPresenter& DefaultMessageBoxPresenter() {
  // Never destroyed: a box may still be asked for while static objects of
  // the library are being torn down.
  static Win32MessageBoxPresenter* presenter = new Win32MessageBoxPresenter;
  return *presenter;
}

}  // namespace platform
}  // namespace wendrel
