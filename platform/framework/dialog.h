// CDialog: the framework's modal dialog, bound to a dialog template of the
// current resource module (platform/resources.h).
//
// DoModal creates the dialog from the template, runs OnInitDialog (whose base
// version runs the data exchange, DoDataExchange, which binds control
// objects to their controls), lets the user work until OnOK, OnCancel or a
// handler ends it with EndDialog, and returns that result: 1 (IDOK), 2
// (IDCANCEL: the Cancel button, Escape or the close box), or -1 when the
// dialog cannot be created. Notifications from controls (WM_NOTIFY) reach
// OnNotify, the stand-in of the framework's message map.
//
// On Windows the dialog is the real one: DialogBoxParamA with the template
// from the current resource module (the extension's own when none is set).
// Natively the process that hosts the extension presents it (see
// platform/ui_dialog.h); the template is compiled in.
//
// An exception thrown by OnInitDialog (or by any handler) ends the dialog:
// the window is destroyed, every control object is unbound, and the
// exception then leaves DoModal to the caller. Exceptions are never let
// through the system's window procedures.

#ifndef WENDREL_PLATFORM_FRAMEWORK_DIALOG_H_
#define WENDREL_PLATFORM_FRAMEWORK_DIALOG_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/framework/wnd.h"

namespace wendrel {

class DialogSite;  // the backend's side of a running dialog

class CDialog : public CWnd {
 public:
  // `parent`: the owner window (HWND), or null to let the framework choose:
  // on Windows the calling thread's active top-level window, if any.
  CDialog(uint32_t template_id, void* parent);
  ~CDialog() override;

  virtual int DoModal();

  // Ends the modal run with `result` once the current handler returns.
  void EndDialog(int result);

  // SetDlgItemTextA on the control `id` of the open dialog.
  void SetDlgItemText(int id, const std::string& text);

  uint32_t template_id() const { return template_id_; }

 protected:
  // Binds the control objects; the base binds nothing.
  virtual void DoDataExchange() {}
  // Returns true to let the system put the focus on the first control,
  // false when the handler placed the focus itself.
  virtual bool OnInitDialog();
  // OK button or Enter: ends with 1. Cancel, Escape, close box: ends with 2.
  virtual void OnOK();
  virtual void OnCancel();
  // A control's notification (WM_NOTIFY): returns true when handled, with
  // *result the notification's result.
  virtual bool OnNotify(int control_id, int code, intptr_t* result);

  // DDX_Control: binds `control` to the dialog's control `id`.
  void DDX_Control(int id, CWnd& control);

 private:
  friend class DialogSite;

  // Every object DDX_Control bound, so that all are unbound when the dialog
  // goes, however it ends.
  void UnbindControls();

  uint32_t template_id_;
  void* parent_;
  std::vector<CWnd*> bound_;
};

}  // namespace wendrel

#endif  // WENDREL_PLATFORM_FRAMEWORK_DIALOG_H_
