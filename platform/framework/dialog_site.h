// The backends' side of CDialog (internal to the platform code): what a
// backend's dialog procedure or native presenter calls on the dialog object
// while it runs, and what each backend supplies.

#ifndef WENDREL_PLATFORM_FRAMEWORK_DIALOG_SITE_H_
#define WENDREL_PLATFORM_FRAMEWORK_DIALOG_SITE_H_

#include <cstdint>

#include "platform/framework/dialog.h"

namespace wendrel {

class DialogSite {
 public:
  static bool InitDialog(CDialog& dialog) { return dialog.OnInitDialog(); }
  static void Ok(CDialog& dialog) { dialog.OnOK(); }
  static void Cancel(CDialog& dialog) { dialog.OnCancel(); }
  static bool Notify(CDialog& dialog, int control_id, int code, intptr_t* result) {
    return dialog.OnNotify(control_id, code, result);
  }
  static void* Parent(const CDialog& dialog) { return dialog.parent_; }

  // Binds the dialog object to its open window; Close unbinds it and every
  // control object, whichever way the dialog ended.
  static void Open(CDialog& dialog, void* window) { dialog.window_ = window; }
  static void Close(CDialog& dialog) {
    dialog.UnbindControls();
    dialog.window_ = nullptr;
  }
};

// Supplied by the backend: the control `id` of the open dialog `window`,
// null when it has none.
void* DialogItemWindow(void* window, int id);

}  // namespace wendrel

#endif  // WENDREL_PLATFORM_FRAMEWORK_DIALOG_SITE_H_
