// The portable part of CDialog: the default handlers and the data exchange.
// Creating, running and ending the dialog is the backend's
// (posix/dialog_posix.cc, win32/dialog_win32.cc).

#include "platform/framework/dialog.h"

#include <algorithm>

#include "platform/framework/dialog_site.h"

namespace wendrel {

CDialog::CDialog(uint32_t template_id, void* parent)
    : template_id_(template_id), parent_(parent) {}

CDialog::~CDialog() { UnbindControls(); }

bool CDialog::OnInitDialog() {
  DoDataExchange();
  return true;
}

void CDialog::OnOK() { EndDialog(1); }

void CDialog::OnCancel() { EndDialog(2); }

bool CDialog::OnNotify(int /*control_id*/, int /*code*/, intptr_t* /*result*/) { return false; }

void CDialog::DDX_Control(int id, CWnd& control) {
  control.Attach(window_ == nullptr ? nullptr : DialogItemWindow(window_, id));
  if (std::find(bound_.begin(), bound_.end(), &control) == bound_.end()) {
    bound_.push_back(&control);
  }
}

void CDialog::UnbindControls() {
  for (CWnd* control : bound_) control->Detach();
  bound_.clear();
}

}  // namespace wendrel
