// The UI port on Windows: the system's message box, owned by no window (the
// login prompt's thread shows it modally for the whole desktop).

#include <windows.h>

#include "platform/ui_default.h"

namespace wendrel {
namespace platform {
namespace {

class Win32MessageBoxPresenter : public MessageBoxPresenter {
 public:
  int Show(const std::string& caption, const std::string& text, uint32_t style) override {
    return MessageBoxA(nullptr, text.c_str(), caption.c_str(), static_cast<UINT>(style));
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
