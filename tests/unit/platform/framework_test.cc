// The framework the dialogs stand on: module state, the list model, the
// default message box presenter, and the modal dialog over template 9001 (the
// real dialog and list view under Wine, natively the model).

#include <cstdio>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "gtest/gtest.h"
#include "platform/framework/app.h"
#include "platform/framework/dialog.h"
#include "platform/framework/list_ctrl.h"
#include "platform/framework/list_model.h"
#include "platform/ui.h"
#include "platform/ui_dialog_automation.h"

namespace wendrel {
namespace platform {
namespace {

TEST(AppTest, ManageStateSwitchesAndRestoresOnEveryWayOut) {
  ResourceModule caller = CurrentResourceModule();
  int marker = 0;
  AfxModuleState library;
  library.resource_module = &marker;

  {
    AFX_MANAGE_STATE(&library);
    EXPECT_EQ(std::make_pair(AfxGetModuleState(), CurrentResourceModule()),
              std::make_pair(&library, static_cast<ResourceModule>(&marker)));
    // A change made inside stays with the library's state.
    AfxSetResourceHandle(nullptr);
    EXPECT_EQ(library.resource_module, nullptr);
    AfxSetResourceHandle(&marker);
  }
  EXPECT_EQ(std::make_pair(AfxGetModuleState(), CurrentResourceModule()),
            std::make_pair(AfxGetStaticModuleState(), caller));
  try {
    AFX_MANAGE_STATE(&library);
    throw std::runtime_error("leaving by exception");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(std::make_pair(AfxGetModuleState(), CurrentResourceModule()),
            std::make_pair(AfxGetStaticModuleState(), caller));
  // The application object is known while it lives, and only then.
  {
    CWinApp app;
    EXPECT_EQ(&app, AfxGetApp());
  }
  EXPECT_EQ(nullptr, AfxGetApp());
}

std::vector<std::string> Texts(const ListModel& list) {
  std::vector<std::string> texts;
  for (int i = 0; i < list.item_count(); ++i) texts.push_back(list.GetItemText(i, 0));
  return texts;
}

TEST(ListModelTest, SortedInsertIgnoresCaseButForTiesAndPutsEqualTextsFirst) {
  ListModel list(/*sorted=*/true, /*single_selection=*/true);
  EXPECT_EQ(0, list.InsertItem(0, "carol"));
  EXPECT_EQ(0, list.InsertItem(1, "Alice"));
  EXPECT_EQ(1, list.InsertItem(2, "bob"));
  EXPECT_EQ(3, list.InsertItem(0, "carol2"));
  list.SetItemData(2, 1);  // the first "carol"
  EXPECT_EQ(3, list.InsertItem(0, "CAROL"));  // after "carol": lower case first
  EXPECT_EQ(2, list.InsertItem(0, "carol"));  // before the equal one there
  list.SetItemData(2, 2);
  EXPECT_EQ((std::vector<std::string>{"Alice", "bob", "carol", "carol", "CAROL", "carol2"}),
            Texts(list));
  EXPECT_EQ(std::make_pair(uintptr_t{2}, uintptr_t{1}),
            std::make_pair(list.GetItemData(2), list.GetItemData(3)));
  EXPECT_EQ(-1, list.InsertItem(-1, "x"));

  // Case only breaks ties; punctuation before digits before letters.
  EXPECT_EQ(0, CompareListText("jsmith", "jsmith"));
  for (const auto& less : {std::make_pair("jsmith", "JSMITH"), std::make_pair("JSMITH", "jSmitha"),
                           std::make_pair("a.b", "a1"), std::make_pair("a1", "ab"),
                           std::make_pair("ab", "abc")}) {
    EXPECT_LT(CompareListText(less.first, less.second), 0) << less.first;
  }

  ListModel unsorted(false, true);
  unsorted.InsertItem(0, "b");
  EXPECT_EQ(0, unsorted.InsertItem(0, "a"));
  EXPECT_EQ(2, unsorted.InsertItem(9, "c"));  // past the end appends
}

// Cells by column, a column inserted between moving the cells to its right
// along; single selection with focus, and multiple selection.
TEST(ListModelTest, ColumnsCellsAndSelection) {
  ListModel list(true, true);
  EXPECT_EQ((std::vector<int>{0, 1}),
            (std::vector<int>{list.InsertColumn(0, "User Name", 0, 100),
                              list.InsertColumn(5, "User Context", 0, 150)}));
  ASSERT_NE(nullptr, list.column(1));
  EXPECT_EQ(std::make_pair(std::string("User Context"), 150),
            std::make_pair(list.column(1)->heading, list.column(1)->width));
  EXPECT_EQ(nullptr, list.column(2));
  const int item = list.InsertItem(0, "jsmith");
  EXPECT_EQ((std::vector<bool>{true, false, false}),
            (std::vector<bool>{list.SetItemText(item, 1, "sales.acme"),
                               list.SetItemText(item, 2, "no such column"),
                               list.SetItemText(7, 1, "no such item")}));
  EXPECT_EQ((std::vector<std::string>{"sales.acme", ""}),
            (std::vector<std::string>{list.GetItemText(item, 1), list.GetItemText(item, 3)}));
  EXPECT_EQ(1, list.InsertColumn(1, "EMail Name", 0, 150));
  EXPECT_EQ((std::vector<std::string>{"jsmith", "", "sales.acme"}),
            (std::vector<std::string>{list.GetItemText(item, 0), list.GetItemText(item, 1),
                                      list.GetItemText(item, 2)}));

  for (const char* name : {"b", "c"}) list.InsertItem(0, name);
  EXPECT_EQ(-1, list.GetNextItem(-1, 2));
  // Selected with focus cleared; then another selected: one row at most.
  EXPECT_EQ((std::vector<bool>{true, true, true, true}),
            (std::vector<bool>{list.SetItemState(0, 2, 3), list.GetItemState(0, 3) == 2u,
                               list.SetItemState(2, 3, 3), list.GetItemState(0, 2) == 0u}));
  // Selected, focused, none after the selected one, any item after 0.
  EXPECT_EQ((std::vector<int>{2, 2, -1, 1}),
            (std::vector<int>{list.GetNextItem(-1, 2), list.GetNextItem(-1, 1),
                              list.GetNextItem(2, 2), list.GetNextItem(0, 0)}));
  EXPECT_EQ((std::vector<int>{true, -1, false}),
            (std::vector<int>{list.SetItemState(-1, 0, 2), list.GetNextItem(-1, 2),
                              list.SetItemState(3, 2, 2)}));

  ListModel multi(true, false);
  for (const char* name : {"a", "b"}) multi.InsertItem(0, name);
  multi.SetItemState(-1, 2, 2);
  EXPECT_EQ(std::make_pair(0, 1),
            std::make_pair(multi.GetNextItem(-1, 2), multi.GetNextItem(0, 2)));
}

#ifndef _WIN32
// The native default presenter, with nobody at a terminal: boxes are
// answered without a person, and a question is always declined.
TEST(UiTest, WithoutTerminalOkBoxesAreOkAndQuestionsAreNo) {
  // Standard input from a file is never a terminal, whatever ctest inherited.
  ASSERT_NE(nullptr, std::freopen("/dev/null", "r", stdin));
  MessageBoxPresenter* before = SetMessageBoxPresenter(nullptr);
  EXPECT_EQ(kIdOk, ShowMessageBox("failed", kMbOk | kMbIconHand));
  EXPECT_EQ(kIdNo, ShowMessageBox("go on?", kMbYesNo | kMbIconHand));
  SetMessageBoxPresenter(before);
}
#endif  // !_WIN32

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
  void TearDown() override { SetDialogAutomation(nullptr); }

  void Answer(DialogAction::Kind kind, int row = DialogAction::kKeepSelection) {
    SetDialogAutomation([this, kind, row](const DialogSnapshot& snapshot) {
      snapshot_ = snapshot;
      DialogAction action;
      action.kind = kind;
      action.row = row;
      return action;
    });
  }

  DialogSnapshot snapshot_;
};

// The native model orders names as the system's list view does (equal names,
// names differing in case only, in both orders), InsertItem answering where
// each landed; nothing stays bound to the destroyed dialog.
TEST_F(DialogTest, ListViewSortsAsTheNativeModel) {
  const std::vector<std::string> names = {"mike", "Alpha", "bravo", "a.b", "a1",   "ab",
                                          "Zulu", "x9",    "mike",  "Echo", "charlie",
                                          "echo", "Charlie2", "delta", "foxtrot", "Foxtrot"};
  ListModel model(true, true);
  std::vector<int> model_inserted_at;
  for (size_t i = 0; i < names.size(); ++i) {
    model_inserted_at.push_back(model.InsertItem(static_cast<int>(i), names[i]));
    model.SetItemData(model_inserted_at.back(), i + 1);
  }
  std::vector<std::vector<std::string>> rows;
  std::vector<uintptr_t> data;
  for (int i = 0; i < model.item_count(); ++i) {
    rows.push_back({model.GetItemText(i, 0)});
    data.push_back(model.GetItemData(i));
  }
  NamesDialog dialog(9001, names);
  Answer(DialogAction::kCancel);
  EXPECT_EQ(2, dialog.DoModal());
  EXPECT_EQ(std::make_tuple(rows, data, model_inserted_at, true),
            std::make_tuple(snapshot_.rows, dialog.data_in_row_order, dialog.inserted_at,
                            dialog.list_bound_in_init));
  EXPECT_TRUE(dialog.GetSafeHwnd() == nullptr && dialog.list.GetSafeHwnd() == nullptr);
  EXPECT_EQ((std::vector<int>{0, -1}),
            (std::vector<int>{dialog.list.GetItemCount(), dialog.list.InsertItem(0, "late")}));
}

// The template's texts show until replaced; OK ends through OnOK, the close
// box as Cancel without it; an unknown template makes no dialog.
TEST_F(DialogTest, TemplateTextsShowUntilReplacedAndButtonsEndTheDialog) {
  NamesDialog dialog(9001, {"b", "a"});
  Answer(DialogAction::kOk);
  EXPECT_EQ(1, dialog.DoModal());
  EXPECT_TRUE(dialog.ok_called);
  ASSERT_EQ(1u, snapshot_.columns.size());
  EXPECT_EQ(std::make_tuple(std::string("Select"), std::string("Which user do you wish?"),
                            std::string("Name"), 120, -1),
            std::make_tuple(snapshot_.caption, snapshot_.prompt, snapshot_.columns[0].heading,
                            snapshot_.columns[0].width, snapshot_.selected_row));
  NamesDialog other(9001, {"a"});
  Answer(DialogAction::kClose);
  EXPECT_EQ(2, other.DoModal());
  EXPECT_FALSE(other.ok_called);
  NamesDialog unknown(4711, {"a"});
  Answer(DialogAction::kOk);
  EXPECT_EQ(-1, unknown.DoModal());
  EXPECT_TRUE(unknown.inserted_at.empty() && unknown.GetSafeHwnd() == nullptr);
}

TEST_F(DialogTest, HandlerExceptionEndsTheDialogAndReachesTheCaller) {
  NamesDialog dialog(9001, {"a"});
  dialog.throw_in_ok = true;
  Answer(DialogAction::kOk, 0);
  EXPECT_THROW(dialog.DoModal(), std::runtime_error);
  EXPECT_TRUE(dialog.ok_called);
  EXPECT_TRUE(dialog.GetSafeHwnd() == nullptr && dialog.list.GetSafeHwnd() == nullptr);
  // The next dialog runs normally.
  NamesDialog next(9001, {"a"});
  Answer(DialogAction::kCancel);
  EXPECT_EQ(2, next.DoModal());
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
