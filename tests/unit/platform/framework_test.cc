// The application framework the dialogs stand on: module state and the
// application object, the list model, message boxes, and the modal dialog base
// with its list control over template 9001 (on Windows the real dialog and list
// view under Wine, natively the model).

#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
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
  platform::ResourceModule caller = platform::CurrentResourceModule();
  int marker = 0;
  AfxModuleState library;
  library.resource_module = &marker;

  {
    AFX_MANAGE_STATE(&library);
    EXPECT_EQ(AfxGetModuleState(), &library);
    EXPECT_EQ(platform::CurrentResourceModule(), &marker);
    // A change made inside stays with the library's state.
    AfxSetResourceHandle(nullptr);
    EXPECT_EQ(library.resource_module, nullptr);
    AfxSetResourceHandle(&marker);
  }
  EXPECT_EQ(AfxGetModuleState(), AfxGetStaticModuleState());
  EXPECT_EQ(platform::CurrentResourceModule(), caller);

  try {
    AFX_MANAGE_STATE(&library);
    throw std::runtime_error("leaving by exception");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(platform::CurrentResourceModule(), caller);
  EXPECT_EQ(AfxGetModuleState(), AfxGetStaticModuleState());
}

class CountingApp : public CWinApp {
 public:
  int InitInstance() override { ++inits; return CWinApp::InitInstance(); }
  int ExitInstance() override { ++exits; return CWinApp::ExitInstance(); }
  int inits = 0;
  int exits = 0;
};

TEST(AppTest, TheApplicationObjectIsKnownWhileItLives) {
  {
    CountingApp app;
    EXPECT_EQ(AfxGetApp(), &app);
    EXPECT_EQ(AfxGetApp()->InitInstance(), 1);
    EXPECT_EQ(AfxGetApp()->ExitInstance(), 0);
    EXPECT_EQ(app.inits, 1);
    EXPECT_EQ(app.exits, 1);
  }
  EXPECT_EQ(AfxGetApp(), nullptr);
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
  EXPECT_EQ(2u, list.GetItemData(2));
  EXPECT_EQ(1u, list.GetItemData(3));
  EXPECT_EQ(-1, list.InsertItem(-1, "x"));

  EXPECT_EQ(0, CompareListText("jsmith", "jsmith"));
  EXPECT_LT(CompareListText("jsmith", "JSMITH"), 0);
  EXPECT_LT(CompareListText("JSMITH", "jSmitha"), 0);  // case only breaks ties
  EXPECT_LT(CompareListText("a.b", "a1"), 0);  // punctuation before digits
  EXPECT_LT(CompareListText("a1", "ab"), 0);   // digits before letters
  EXPECT_LT(CompareListText("ab", "abc"), 0);

  ListModel unsorted(false, true);
  unsorted.InsertItem(0, "b");
  EXPECT_EQ(0, unsorted.InsertItem(0, "a"));
  EXPECT_EQ(2, unsorted.InsertItem(9, "c"));  // past the end appends
}

TEST(ListModelTest, ColumnsAndCells) {
  ListModel list(true, true);
  EXPECT_EQ(0, list.InsertColumn(0, "User Name", 0, 100));
  EXPECT_EQ(1, list.InsertColumn(5, "User Context", 0, 150));
  ASSERT_NE(nullptr, list.column(1));
  EXPECT_EQ("User Context", list.column(1)->heading);
  EXPECT_EQ(150, list.column(1)->width);
  EXPECT_EQ(nullptr, list.column(2));
  const int item = list.InsertItem(0, "jsmith");
  EXPECT_TRUE(list.SetItemText(item, 1, "sales.acme"));
  EXPECT_FALSE(list.SetItemText(item, 2, "no such column"));
  EXPECT_FALSE(list.SetItemText(7, 1, "no such item"));
  EXPECT_EQ("sales.acme", list.GetItemText(item, 1));
  EXPECT_EQ("", list.GetItemText(item, 3));
  // A column inserted between moves the cells to its right along.
  EXPECT_EQ(1, list.InsertColumn(1, "EMail Name", 0, 150));
  EXPECT_EQ("", list.GetItemText(item, 1));
  EXPECT_EQ("sales.acme", list.GetItemText(item, 2));
  EXPECT_EQ("jsmith", list.GetItemText(item, 0));
}

TEST(ListModelTest, SingleSelectionAndFocus) {
  ListModel list(true, true);
  for (const char* name : {"a", "b", "c"}) list.InsertItem(0, name);
  EXPECT_EQ(-1, list.GetNextItem(-1, 2));
  EXPECT_TRUE(list.SetItemState(0, 2, 3));  // selected, focus cleared
  EXPECT_EQ(2u, list.GetItemState(0, 3));
  EXPECT_TRUE(list.SetItemState(2, 3, 3));
  EXPECT_EQ(0u, list.GetItemState(0, 2));  // one selected row at most
  EXPECT_EQ(2, list.GetNextItem(-1, 2));
  EXPECT_EQ(2, list.GetNextItem(-1, 1));
  EXPECT_EQ(-1, list.GetNextItem(2, 2));
  EXPECT_EQ(1, list.GetNextItem(0, 0));  // any item after 0
  EXPECT_TRUE(list.SetItemState(-1, 0, 2));
  EXPECT_EQ(-1, list.GetNextItem(-1, 2));
  EXPECT_FALSE(list.SetItemState(3, 2, 2));

  ListModel multi(true, false);
  for (const char* name : {"a", "b"}) multi.InsertItem(0, name);
  multi.SetItemState(-1, 2, 2);
  EXPECT_EQ(0, multi.GetNextItem(-1, 2));
  EXPECT_EQ(1, multi.GetNextItem(0, 2));
}

// Records each box shown: its caption, text and style.
class RecordingPresenter : public MessageBoxPresenter {
 public:
  explicit RecordingPresenter(int answer) : answer_(answer) {}
  int Show(const std::string& caption, const std::string& text, uint32_t style) override {
    shown.emplace_back(caption, text, style);
    return answer_;
  }
  std::vector<std::tuple<std::string, std::string, uint32_t>> shown;

 private:
  int answer_;
};

TEST(UiTest, InstalledPresenterGetsEveryBoxUntilRemoved) {
  RecordingPresenter first(kIdYes);
  RecordingPresenter second(kIdNo);
  MessageBoxPresenter* before = SetMessageBoxPresenter(&first);
  EXPECT_EQ(kIdYes, ShowMessageBox("Continue?", kMbYesNo | kMbIconHand));
  EXPECT_EQ(&first, SetMessageBoxPresenter(&second));
  EXPECT_EQ(kIdNo, ShowMessageBox("Invalid scope", kMbOk | kMbIconHand));
  EXPECT_EQ(&second, SetMessageBoxPresenter(before));
  using Shown = decltype(first.shown);
  EXPECT_EQ((Shown{{"wendrel", "Continue?", 0x14u}}), first.shown);
  EXPECT_EQ((Shown{{"wendrel", "Invalid scope", 0x10u}}), second.shown);
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
}  // namespace platform
}  // namespace wendrel
