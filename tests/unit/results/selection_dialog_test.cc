// The selection dialog end to end, on both builds through the dialog
// automation: natively the dialog model a host would be shown, on Windows
// (under Wine) the real dialog from template 9001, read and driven through
// its controls.

#include "results/selection_dialog.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/ldap_config_options.h"
#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "platform/ui_dialog.h"
#include "platform/ui_dialog_automation.h"
#include "tests/unit/support/registry_fixture.h"

#ifndef _WIN32
// Natively the dialog as the hosting process sees it: the test program
// exports WendrelHostSelectionDialog (tests/unit/CMakeLists.txt links it with
// exported symbols), which the dialog finds with dlsym when no automation
// script is set.
namespace {

// What the host saw and how it answers.
struct HostScript {
  int calls = 0;
  std::string caption;
  std::string prompt;
  std::vector<std::pair<std::string, int>> columns;
  std::vector<std::vector<std::string>> rows;
  int selected_row = -2;
  int answer = kWendrelDialogCancel;
  int row = -1;
};
HostScript g_host;

}  // namespace

extern "C" __attribute__((visibility("default"))) int WendrelHostSelectionDialog(
    const WendrelDialogModel* model, int* chosen_row) {
  ++g_host.calls;
  g_host.caption = model->caption;
  g_host.prompt = model->prompt;
  g_host.columns.clear();
  for (int c = 0; c < model->column_count; ++c) {
    g_host.columns.emplace_back(model->columns[c].title, model->columns[c].width);
  }
  g_host.rows.clear();
  for (int r = 0; r < model->row_count; ++r) {
    std::vector<std::string> row;
    for (int c = 0; c < model->column_count; ++c) {
      row.push_back(model->cells[r * model->column_count + c]);
    }
    g_host.rows.push_back(row);
  }
  g_host.selected_row = model->selected_row;
  *chosen_row = g_host.row;
  return g_host.answer;
}

#endif  // !_WIN32

namespace wendrel {
namespace {

using platform::DialogAction;
using platform::DialogSnapshot;

using Columns = std::vector<std::pair<std::string, int>>;
using Rows = std::vector<std::vector<std::string>>;

Columns ColumnsOf(const DialogSnapshot& snapshot) {
  Columns columns;
  for (const auto& column : snapshot.columns) columns.emplace_back(column.heading, column.width);
  return columns;
}

class SelectionDialogTest : public testing::RegistryTest {
 protected:
  void SetUp() override {
    testing::RegistryTest::SetUp();
    CreateKey(kOptionsKeyPath);
  }
  void TearDown() override {
    platform::SetDialogAutomation(nullptr);
    testing::RegistryTest::TearDown();
  }

  void SetOption(const char* name, uint32_t value) { SetDword(kOptionsKeyPath, name, value); }

  // Runs the dialog over `users`, answering with `kind` after selecting
  // `row`; what it showed lands in snapshot_.
  int Run(UserData& users, DialogAction::Kind kind, int row = DialogAction::kKeepSelection) {
    shown_ = 0;
    platform::SetDialogAutomation([this, kind, row](const DialogSnapshot& snapshot) {
      ++shown_;
      snapshot_ = snapshot;
      DialogAction action;
      action.kind = kind;
      action.row = row;
      return action;
    });
    dialog_ = std::make_unique<CSelectionDlg>(users, nullptr);
    return dialog_->DoModal();
  }

  // The row whose user name and context cells are these, -1 when none.
  int RowOf(const std::string& user, const std::string& context) const {
    for (size_t r = 0; r < snapshot_.rows.size(); ++r) {
      if (snapshot_.rows[r][0] == user && snapshot_.rows[r][1] == context) {
        return static_cast<int>(r);
      }
    }
    return -1;
  }

  int shown_ = 0;
  DialogSnapshot snapshot_;
  std::unique_ptr<CSelectionDlg> dialog_;
};

TEST_F(SelectionDialogTest, OpensWithCaptionPromptDefaultColumnsAndFirstRowSelected) {
  UserData users("jsmith", "ACME");
  users.AddUser("jsmith", "cn=jsmith", "sales.acme", "ou=sales.o=acme");
  users.AddUser("jsmith", "cn=jsmith", "dev.acme", "ou=dev.o=acme");
  EXPECT_EQ(2, Run(users, DialogAction::kCancel));
  ASSERT_EQ(1, shown_);
  EXPECT_EQ("Context Selection for tree: ACME", snapshot_.caption);
  EXPECT_EQ("Please select a user name", snapshot_.prompt);
  EXPECT_EQ((Columns{{"User Name", 100}, {"User Context", 150}}), ColumnsOf(snapshot_));
  EXPECT_NE(0u, snapshot_.extended_style & 0x20u);  // full-row selection
  EXPECT_TRUE(snapshot_.list_has_focus);
  EXPECT_EQ(0, snapshot_.selected_row);
  // Cancel never chooses, whatever row is selected.
  EXPECT_EQ(nullptr, dialog_->selected_user());
}

TEST_F(SelectionDialogTest, ColumnsFollowTheDisplayOptionsInFixedOrder) {
  UserData users("j*", "ACME");
  UserObj& full = users.AddUser("jsmith", "cn=jsmith", "sales.acme", "ou=sales.o=acme");
  for (const auto& attribute : std::vector<std::pair<const char*, const char*>>{
           {"mail", "js@acme.example"}, {"fullName", "John Smith"}, {"givenName", "John"},
           {"surname", "Smith"}, {"telephoneNumber", "+1 555 0100"}, {"uid", "js01"}}) {
    full.SetAttribute(attribute.first, attribute.second);
  }
  UserObj& bare = users.AddUser("jdoe", "cn=jdoe", "dev.acme", "ou=dev.o=acme");
  bare.SetAttribute("Mail", "wrong case is another attribute");

  SetOption("Display Context", 0);
  SetOption("Display Email", 1);
  EXPECT_EQ(2, Run(users, DialogAction::kCancel));
  EXPECT_EQ((Columns{{"User Name", 100}, {"EMail Name", 150}}), ColumnsOf(snapshot_));
  EXPECT_EQ((Rows{{"jdoe", ""}, {"jsmith", "js@acme.example"}}), snapshot_.rows);

  for (const char* option : {"Display Context", "Display Full Name", "Display Given Name",
                             "Display Surname", "Display Telephone Number", "Display Unique ID"}) {
    SetOption(option, 1);
  }
  EXPECT_EQ(2, Run(users, DialogAction::kCancel));
  std::vector<std::string> headings;
  for (const auto& column : snapshot_.columns) headings.push_back(column.heading);
  EXPECT_EQ((std::vector<std::string>{"User Name", "User Context", "EMail Name", "Full Name",
                                      "Given Name", "Surname", "Telephone Number", "Unique ID"}),
            headings);
  EXPECT_EQ((Rows{{"jdoe", "dev.acme", "", "", "", "", "", ""},
                  {"jsmith", "sales.acme", "js@acme.example", "John Smith", "John", "Smith",
                   "+1 555 0100", "js01"}}),
            snapshot_.rows);
}

TEST_F(SelectionDialogTest, RowsSortByUserNameAndOkTakesTheFirstSortedRow) {
  UserData users("*", "ACME");
  users.AddUser("carol", "cn=carol", "a.acme", "ou=a.o=acme");
  UserObj& alice = users.AddUser("alice", "cn=alice", "b.acme", "ou=b.o=acme");
  UserObj& bob = users.AddUser("Bob", "cn=Bob", "c.acme", "ou=c.o=acme");
  users.AddUser("dave", "cn=dave", "d.acme", "ou=d.o=acme");
  EXPECT_EQ(1, Run(users, DialogAction::kOk));
  // Case does not count: Bob sorts between alice and carol.
  EXPECT_EQ((Rows{{"alice", "b.acme"}, {"Bob", "c.acme"}, {"carol", "a.acme"}, {"dave", "d.acme"}}),
            snapshot_.rows);
  EXPECT_EQ(0, snapshot_.selected_row);
  EXPECT_EQ(&alice, dialog_->selected_user());
  EXPECT_EQ(1, Run(users, DialogAction::kOk, 1));
  EXPECT_EQ(&bob, dialog_->selected_user());
}

TEST_F(SelectionDialogTest, SameUserNameGivesTwoRowsAndTheSelectedOneIsChosen) {
  UserData users("jsmith", "ACME");
  UserObj& sales = users.AddUser("jsmith", "cn=jsmith", "sales.acme", "ou=sales.o=acme");
  UserObj& dev = users.AddUser("jsmith", "cn=jsmith", "dev.acme", "ou=dev.o=acme");
  EXPECT_EQ(2, Run(users, DialogAction::kCancel));
  ASSERT_EQ(2u, snapshot_.rows.size());
  const int dev_row = RowOf("jsmith", "dev.acme");
  const int sales_row = RowOf("jsmith", "sales.acme");
  ASSERT_NE(-1, dev_row);
  ASSERT_NE(-1, sales_row);
  EXPECT_EQ(1, Run(users, DialogAction::kOk, dev_row));
  EXPECT_EQ(&dev, dialog_->selected_user());
  EXPECT_EQ(1, Run(users, DialogAction::kOk, sales_row));
  EXPECT_EQ(&sales, dialog_->selected_user());
}

// A double click ends with OK and that row's record; OK without a
// selection, Cancel and Close choose nobody.
TEST_F(SelectionDialogTest, EachWayOfEndingGivesItsResultAndChoice) {
  UserData users("*", "ACME");
  users.AddUser("anna", "cn=anna", "a.acme", "ou=a.o=acme");
  UserObj& zoe = users.AddUser("zoe", "cn=zoe", "z.acme", "ou=z.o=acme");
  users.AddUser("mia", "cn=mia", "m.acme", "ou=m.o=acme");
  const struct {
    DialogAction::Kind kind;
    int row, result;
    const UserObj* chosen;
  } cases[] = {{DialogAction::kDoubleClick, 2, 1, &zoe},
               {DialogAction::kOk, -1, 1, nullptr},
               {DialogAction::kCancel, 1, 2, nullptr},
               {DialogAction::kClose, 1, 2, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "action " << c.kind << " on row " << c.row);
    EXPECT_EQ(c.result, Run(users, c.kind, c.row));
    EXPECT_EQ(c.chosen, dialog_->selected_user());
  }
}

TEST_F(SelectionDialogTest, MissingOptionsKeyLeavesDoModalAfterTheDialogIsGone) {
  DeleteTree(kOptionsKeyPath);
  UserData users("*", "ACME");
  users.AddUser("anna", "cn=anna", "a.acme", "ou=a.o=acme");
  EXPECT_THROW(Run(users, DialogAction::kOk), LDAPConfigOptions::BadReg);
  EXPECT_EQ(0, shown_);
  EXPECT_EQ(nullptr, dialog_->GetSafeHwnd());
  EXPECT_EQ(nullptr, dialog_->selected_user());
  // Nothing of the failed dialog is left in the way of the next one.
  CreateKey(kOptionsKeyPath);
  EXPECT_EQ(1, Run(users, DialogAction::kOk));
  EXPECT_EQ(1, shown_);
  EXPECT_EQ("anna", snapshot_.rows.at(0).at(0));
}

#ifndef _WIN32
class SelectionDialogHostTest : public testing::RegistryTest {
 protected:
  void SetUp() override {
    testing::RegistryTest::SetUp();
    CreateKey(kOptionsKeyPath);
    g_host = HostScript();
    users_.AddUser("mia", "cn=mia", "m.acme", "ou=m.o=acme");
    anna_ = &users_.AddUser("anna", "cn=anna", "a.acme", "ou=a.o=acme");
    zoe_ = &users_.AddUser("Zoe", "cn=Zoe", "z.acme", "ou=z.o=acme");
  }

  int Run(int answer, int row) {
    g_host.answer = answer;
    g_host.row = row;
    dialog_ = std::make_unique<CSelectionDlg>(users_, nullptr);
    return dialog_->DoModal();
  }

  UserData users_{"*", "ACME"};
  UserObj* anna_ = nullptr;
  UserObj* zoe_ = nullptr;
  std::unique_ptr<CSelectionDlg> dialog_;
};

TEST_F(SelectionDialogHostTest, HostIsHandedTheModelInDisplayOrder) {
  EXPECT_EQ(1, Run(kWendrelDialogOk, 2));
  ASSERT_EQ(1, g_host.calls);
  EXPECT_EQ("Context Selection for tree: ACME", g_host.caption);
  EXPECT_EQ("Please select a user name", g_host.prompt);
  EXPECT_EQ((std::vector<std::pair<std::string, int>>{{"User Name", 100}, {"User Context", 150}}),
            g_host.columns);
  EXPECT_EQ((std::vector<std::vector<std::string>>{
                {"anna", "a.acme"}, {"mia", "m.acme"}, {"Zoe", "z.acme"}}),
            g_host.rows);
  EXPECT_EQ(0, g_host.selected_row);
  EXPECT_EQ(zoe_, dialog_->selected_user());
}

// A row the dialog does not have counts as none; an answer that is no
// result at all leaves nobody chosen.
TEST_F(SelectionDialogHostTest, HostAnswersMapToTheDialogsResults) {
  const struct {
    int answer, row, result;
    UserObj* chosen;
  } cases[] = {{kWendrelDialogDoubleClick, 0, 1, anna_}, {kWendrelDialogOk, -1, 1, nullptr},
               {kWendrelDialogOk, 3, 1, nullptr},        {kWendrelDialogCancel, 1, 2, nullptr},
               {kWendrelDialogCannotCreate, 1, -1, nullptr}, {42, 1, 2, nullptr}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.result, Run(c.answer, c.row)) << c.answer << " on row " << c.row;
    EXPECT_EQ(c.chosen, dialog_->selected_user()) << c.answer << " on row " << c.row;
  }
}
#endif  // !_WIN32

}  // namespace
}  // namespace wendrel
