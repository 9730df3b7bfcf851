// The modal dialog base and the list-control wrapper over template 9001: on
// Windows the real dialog and list view under Wine, natively the model.

#include "platform/framework/dialog.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/framework/list_ctrl.h"
#include "platform/framework/list_model.h"
#include "platform/ui_dialog_automation.h"

namespace wendrel {
namespace {

using platform::DialogAction;
using platform::DialogSnapshot;

// Fills the list with `names` and records what the handlers saw.
class NamesDialog : public CDialog {
 public:
  NamesDialog(uint32_t template_id, std::vector<std::string> names)
      : CDialog(template_id, nullptr), names_(std::move(names)) {}

  std::vector<int> inserted_at;
  std::vector<uintptr_t> data_in_row_order;  // as the list held them at opening
  bool ok_called = false;
  bool throw_in_ok = false;
  bool list_bound_in_init = false;
  CListCtrl list;

 protected:
  void DoDataExchange() override { DDX_Control(9001, list); }
  bool OnInitDialog() override {
    CDialog::OnInitDialog();
    list_bound_in_init = list.GetSafeHwnd() != nullptr;
    list.InsertColumn(0, "Name", kLvcfmtLeft, 120);
    for (size_t i = 0; i < names_.size(); ++i) {
      const int at = list.InsertItem(static_cast<int>(i), names_[i]);
      list.SetItemData(at, i + 1);
      inserted_at.push_back(at);
    }
    for (int row = 0; row < list.GetItemCount(); ++row) {
      data_in_row_order.push_back(list.GetItemData(row));
    }
    return true;
  }
  void OnOK() override {
    ok_called = true;
    if (throw_in_ok) throw std::runtime_error("handler failed");
    CDialog::OnOK();
  }

 private:
  std::vector<std::string> names_;
};

class DialogTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::SetDialogAutomation(nullptr); }

  void Answer(DialogAction::Kind kind, int row = DialogAction::kKeepSelection) {
    platform::SetDialogAutomation([this, kind, row](const DialogSnapshot& snapshot) {
      snapshot_ = snapshot;
      DialogAction action;
      action.kind = kind;
      action.row = row;
      return action;
    });
  }

  DialogSnapshot snapshot_;
};

// The native model must order names as the system's list view does.
TEST_F(DialogTest, ListViewSortsAsTheNativeModel) {
  // Equal names too: "mike" twice, and names that differ in case only, in
  // both insertion orders.
  const std::vector<std::string> names = {"mike", "Alpha", "bravo", "a.b", "a1",   "ab",
                                          "Zulu", "x9",    "mike",  "Echo", "charlie",
                                          "echo", "Charlie2", "delta", "foxtrot", "Foxtrot"};
  platform::ListModel model(true, true);
  for (size_t i = 0; i < names.size(); ++i) {
    model.SetItemData(model.InsertItem(static_cast<int>(i), names[i]), i + 1);
  }

  NamesDialog dialog(9001, names);
  Answer(DialogAction::kCancel);
  EXPECT_EQ(2, dialog.DoModal());
  ASSERT_EQ(names.size(), snapshot_.rows.size());
  for (int i = 0; i < model.item_count(); ++i) {
    EXPECT_EQ(model.GetItemText(i, 0), snapshot_.rows[static_cast<size_t>(i)][0]) << "row " << i;
    EXPECT_EQ(model.GetItemData(i), dialog.data_in_row_order.at(static_cast<size_t>(i)))
        << "row " << i;
  }
  // InsertItem answered where each item landed at the moment it went in.
  EXPECT_EQ(0, dialog.inserted_at[0]);
  EXPECT_EQ(0, dialog.inserted_at[1]);
  EXPECT_EQ(1, dialog.inserted_at[2]);
  EXPECT_TRUE(dialog.list_bound_in_init);
  // Nothing stays bound to the destroyed dialog.
  EXPECT_EQ(nullptr, dialog.GetSafeHwnd());
  EXPECT_EQ(nullptr, dialog.list.GetSafeHwnd());
  EXPECT_EQ(0, dialog.list.GetItemCount());
  EXPECT_EQ(-1, dialog.list.InsertItem(0, "late"));
}

TEST_F(DialogTest, TemplateTextsShowUntilReplacedAndButtonsEndTheDialog) {
  NamesDialog dialog(9001, {"b", "a"});
  Answer(DialogAction::kOk);
  EXPECT_EQ(1, dialog.DoModal());
  EXPECT_TRUE(dialog.ok_called);
  EXPECT_EQ("Select", snapshot_.caption);
  EXPECT_EQ("Which user do you wish?", snapshot_.prompt);
  ASSERT_EQ(1u, snapshot_.columns.size());
  EXPECT_EQ("Name", snapshot_.columns[0].heading);
  EXPECT_EQ(120, snapshot_.columns[0].width);
  EXPECT_EQ(-1, snapshot_.selected_row);

  // The close box ends the dialog as Cancel, without OK.
  NamesDialog other(9001, {"a"});
  Answer(DialogAction::kClose);
  EXPECT_EQ(2, other.DoModal());
  EXPECT_FALSE(other.ok_called);
}

TEST_F(DialogTest, UnknownTemplateCannotBeCreated) {
  NamesDialog dialog(4711, {"a"});
  Answer(DialogAction::kOk);
  EXPECT_EQ(-1, dialog.DoModal());
  EXPECT_TRUE(dialog.inserted_at.empty());
  EXPECT_EQ(nullptr, dialog.GetSafeHwnd());
}

TEST_F(DialogTest, HandlerExceptionEndsTheDialogAndReachesTheCaller) {
  NamesDialog dialog(9001, {"a"});
  dialog.throw_in_ok = true;
  Answer(DialogAction::kOk, 0);
  EXPECT_THROW(dialog.DoModal(), std::runtime_error);
  EXPECT_TRUE(dialog.ok_called);
  EXPECT_EQ(nullptr, dialog.GetSafeHwnd());
  EXPECT_EQ(nullptr, dialog.list.GetSafeHwnd());
  // The next dialog runs normally.
  NamesDialog next(9001, {"a"});
  Answer(DialogAction::kCancel);
  EXPECT_EQ(2, next.DoModal());
}

}  // namespace
}  // namespace wendrel
