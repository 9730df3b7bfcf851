// Dialog automation: a script that plays the part of the person at a modal
// dialog, for tests. While a script is set, every modal dialog the process
// runs (CDialog::DoModal) is handed to it once it is open: the script reads
// what the dialog shows and says which button to press or which row to
// double-click.
//
// On Windows the dialog is the real one: the snapshot is read from its
// controls with the system's messages (window texts, the list view's columns
// and items), and the action is carried out with them (the row selected with
// LVM_SETITEMSTATE, then BN_CLICKED from the button, a double-click on the
// row's place in the list, or WM_CLOSE). Natively the snapshot is the model
// the hosting process would be handed (platform/ui_dialog.h) and the action
// is applied to the dialog as a host's answer would be; a script takes
// precedence over a host's WendrelHostSelectionDialog.

#ifndef WENDREL_PLATFORM_UI_DIALOG_AUTOMATION_H_
#define WENDREL_PLATFORM_UI_DIALOG_AUTOMATION_H_

#include <functional>
#include <string>
#include <vector>

namespace wendrel {
namespace platform {

struct DialogSnapshot {
  struct Column {
    std::string heading;
    int width = 0;
  };
  std::string caption;
  std::string prompt;  // the dialog's static text
  std::vector<Column> columns;
  std::vector<std::vector<std::string>> rows;  // display order, a cell per column
  int selected_row = -1;                       // -1 when none is selected
  unsigned extended_style = 0;                 // the list's extended style
  bool list_has_focus = false;
};

struct DialogAction {
  enum Kind { kOk, kCancel, kDoubleClick, kClose };
  Kind kind = kOk;
  // The row to select before acting (-1: clear the selection first);
  // kKeepSelection leaves the selection as the dialog made it.
  static constexpr int kKeepSelection = -2;
  int row = kKeepSelection;
};

using DialogScript = std::function<DialogAction(const DialogSnapshot&)>;

// Installs `script` for the dialogs from now on (an empty function removes
// it). One thread runs dialogs at a time.
void SetDialogAutomation(DialogScript script);

// The script in force, null when none. For the backends.
const DialogScript* CurrentDialogAutomation();

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_UI_DIALOG_AUTOMATION_H_
