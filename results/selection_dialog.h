// CSelectionDlg: the modal dialog in which the user picks one of several
// directory users found for the typed name. It shows the records of a
// UserData in a report list sorted by user name, with the columns the
// display options ask for, and hands back the chosen record; it neither owns
// nor changes the records.

#ifndef WENDREL_RESULTS_SELECTION_DIALOG_H_
#define WENDREL_RESULTS_SELECTION_DIALOG_H_

#include <cstdint>

#include "platform/framework/dialog.h"
#include "platform/framework/list_ctrl.h"
#include "results/user_data.h"
#include "results/user_obj.h"

namespace wendrel {

class CSelectionDlg : public CDialog {
 public:
  static constexpr uint32_t kTemplateId = 9001;
  static constexpr int kListId = 9001;
  static constexpr int kPromptId = 9003;

  // `parent`: the owner window, null for none. `users` must outlive the
  // dialog.
  CSelectionDlg(UserData& users, void* parent);
  ~CSelectionDlg() override;

  // DoModal (CDialog): 1 after OK or a double-click on a row, 2 after
  // Cancel, Escape or the close box, -1 when the dialog cannot be created.
  // LDAPConfigOptions::BadReg from reading the display options while the
  // dialog opens leaves DoModal after the dialog has been destroyed.

  // The record of the row selected when OK ended the dialog; null before
  // that, after Cancel, and when no row was selected.
  UserObj* selected_user() const { return selected_user_; }

 protected:
  void DoDataExchange() override;
  bool OnInitDialog() override;
  void OnOK() override;
  bool OnNotify(int control_id, int code, intptr_t* result) override;

 private:
  // The list's double-click: OK with the row under the selection.
  void OnDblclkList(intptr_t* result);

  CListCtrl list_;
  UserData& users_;
  UserObj* selected_user_ = nullptr;
};

}  // namespace wendrel

#endif  // WENDREL_RESULTS_SELECTION_DIALOG_H_
