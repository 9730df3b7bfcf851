// CWnd: the framework's window object, here only what the modal dialog and
// its controls need. A CWnd is bound to a window of the dialog that is open
// (an HWND on Windows, the native dialog's own record of the control
// natively) and does nothing while it is bound to none.

#ifndef WENDREL_PLATFORM_FRAMEWORK_WND_H_
#define WENDREL_PLATFORM_FRAMEWORK_WND_H_

#include <string>

#include "platform/framework/object.h"

namespace wendrel {

class CWnd : public CObject {
 public:
  CWnd() = default;
  ~CWnd() override = default;

  // The window this object stands for, or null while it stands for none.
  void* GetSafeHwnd() const { return window_; }

  // SetWindowTextA / GetWindowTextA: texts in the ANSI code page.
  void SetWindowText(const std::string& text);
  std::string GetWindowText() const;

  // Moves the keyboard focus to this window.
  void SetFocus();

  // Binds the object to `window` (null: unbinds). The dialog's data exchange
  // does this for its controls.
  void Attach(void* window) { window_ = window; }
  void Detach() { window_ = nullptr; }

 protected:
  void* window_ = nullptr;
};

}  // namespace wendrel

#endif  // WENDREL_PLATFORM_FRAMEWORK_WND_H_
