#include "results/selection_dialog.h"

#include <string>
#include <vector>

#include "config/ldap_config_options.h"
#include "resources/message_catalogue.h"

namespace wendrel {
namespace {

constexpr int kFirstColumnWidth = 100;
constexpr int kColumnWidth = 150;

// Which cell a shown column fills: the record's context or an attribute.
struct ShownColumn {
  bool context;
  const char* attribute;
};

}  // namespace

CSelectionDlg::CSelectionDlg(UserData& users, void* parent)
    : CDialog(kTemplateId, parent), users_(users) {}

CSelectionDlg::~CSelectionDlg() = default;

void CSelectionDlg::DoDataExchange() {
  CDialog::DoDataExchange();
  DDX_Control(kListId, list_);
}

bool CSelectionDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  // Read once, now: the dialog keeps the columns it opened with. A missing
  // options key throws BadReg out of here; the dialog backends end the
  // dialog, destroy it and let the exception reach the caller of DoModal.
  const LDAPConfigOptions options;
  const std::string tree = users_.GetTreeName();
  SetWindowText(LoadDialogLabel(kMsgContextSelection, tree));
  SetDlgItemText(kPromptId, LoadDialogLabel(kMsgSelectUserPrompt, tree));
  list_.SetExtendedStyle(list_.GetExtendedStyle() | kLvsExFullRowSelect);

  // The further columns in their fixed order, each only when its option is on.
  struct Candidate {
    bool shown;
    uint32_t heading;
    ShownColumn cell;
  };
  const Candidate candidates[] = {
      {options.DisplayContext(), kMsgUserContext, {true, nullptr}},
      {options.DisplayEmail(), kMsgEmailName, {false, "mail"}},
      {options.DisplayFullName(), kMsgFullName, {false, "fullName"}},
      {options.DisplayGivenName(), kMsgGivenName, {false, "givenName"}},
      {options.DisplaySurname(), kMsgSurname, {false, "surname"}},
      {options.DisplayTelephoneNumber(), kMsgTelephoneNumber, {false, "telephoneNumber"}},
      {options.DisplayUniqueID(), kMsgUniqueId, {false, "uid"}},
  };
  int next_column = 0;
  list_.InsertColumn(next_column++, LoadDialogLabel(kMsgUserName, tree), kLvcfmtLeft,
                     kFirstColumnWidth);
  std::vector<ShownColumn> shown;
  for (const Candidate& candidate : candidates) {
    if (!candidate.shown) continue;
    list_.InsertColumn(next_column++, LoadDialogLabel(candidate.heading, tree), kLvcfmtLeft,
                       kColumnWidth);
    shown.push_back(candidate.cell);
  }

  int number = 0;
  for (UserObj* user = users_.GetFirstUser(); user != nullptr; user = users_.GetNextUser()) {
    // The list sorts by user name: the item lands where the returned index
    // says, not necessarily at `number`.
    const int item = list_.InsertItem(number++, user->GetUser());
    list_.SetItemData(item, reinterpret_cast<uintptr_t>(user));
    for (size_t i = 0; i < shown.size(); ++i) {
      std::string text;
      if (shown[i].context) {
        text = user->GetUserContext();
      } else if (!user->GetAttribute(shown[i].attribute, &text)) {
        text.clear();
      }
      list_.SetItemText(item, static_cast<int>(i) + 1, text);
    }
  }

  list_.SetFocus();
  list_.SetItemState(0, kLvisSelected, kLvisSelected | kLvisFocused);
  // The focus stays on the list.
  return false;
}

void CSelectionDlg::OnOK() {
  const int item = list_.GetNextItem(-1, kLvniSelected);
  selected_user_ = item < 0 ? nullptr : reinterpret_cast<UserObj*>(list_.GetItemData(item));
  CDialog::OnOK();
}

bool CSelectionDlg::OnNotify(int control_id, int code, intptr_t* result) {
  if (control_id == kListId && code == kNmDblclk) {
    OnDblclkList(result);
    return true;
  }
  return CDialog::OnNotify(control_id, code, result);
}

void CSelectionDlg::OnDblclkList(intptr_t* result) {
  OnOK();
  *result = 0;
}

}  // namespace wendrel
