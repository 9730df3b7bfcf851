// The selection dialog through the dialog automation: natively the model a
// host would be shown, under Wine the real dialog from template 9001.

#include "results/selection_dialog.h"

#include <memory>
#include <tuple>
#include <vector>

#include "config/ldap_config_options.h"
#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "platform/ui_dialog.h"
#include "platform/ui_dialog_automation.h"
#include "tests/unit/support/registry_fixture.h"

#ifndef _WIN32
// Without automation the dialog hands its model to the host process's
// WendrelHostSelectionDialog (dlsym): the test program exports this one.
namespace {
int g_host_answer = kWendrelDialogCancel;
int g_host_row = -1;
}  // namespace

extern "C" __attribute__((visibility("default"))) int WendrelHostSelectionDialog(
    const WendrelDialogModel*, int* chosen_row) {
  *chosen_row = g_host_row;
  return g_host_answer;
}
#endif  // !_WIN32

namespace wendrel {
namespace {

using platform::DialogAction;
using platform::DialogSnapshot;
using Columns = std::vector<std::pair<std::string, int>>;
using Rows = std::vector<std::vector<std::string>>;

// What a dialog showed: caption, prompt, columns and rows, selected row.
using Shown = std::tuple<std::string, std::string, Columns, Rows, int>;

Shown ShownBy(const DialogSnapshot& snapshot) {
  Columns columns;
  for (const auto& column : snapshot.columns) columns.emplace_back(column.heading, column.width);
  return Shown{snapshot.caption, snapshot.prompt, columns, snapshot.rows, snapshot.selected_row};
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

  // Runs the dialog, answering `kind` on `row`; what it showed: snapshot_.
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

  int shown_ = 0;
  DialogSnapshot snapshot_;
  std::unique_ptr<CSelectionDlg> dialog_;
};

// Rows sort by name whatever its case (an equal name before the one added
// earlier), the first selected; the same name twice chooses each its record.
TEST_F(SelectionDialogTest, OpensSortedWithTheFirstRowSelectedAndEachRowChoosesItsRecord) {
  UserData users("*", "ACME");
  users.AddUser("carol", "cn=carol", "a.acme", "ou=a.o=acme");
  UserObj& alice = users.AddUser("alice", "cn=alice", "b.acme", "ou=b.o=acme");
  UserObj& dev = users.AddUser("Bob", "cn=Bob", "dev.acme", "ou=dev.o=acme");
  UserObj& sales = users.AddUser("Bob", "cn=Bob", "sales.acme", "ou=sales.o=acme");
  EXPECT_EQ(2, Run(users, DialogAction::kCancel));
  ASSERT_EQ(1, shown_);
  EXPECT_EQ((Shown{"Context Selection for tree: ACME", "Please select a user name",
                   {{"User Name", 100}, {"User Context", 150}},
                   {{"alice", "b.acme"}, {"Bob", "sales.acme"}, {"Bob", "dev.acme"},
                    {"carol", "a.acme"}}, 0}),
            ShownBy(snapshot_));
  // Full-row selection, the list focused.
  EXPECT_TRUE((snapshot_.extended_style & 0x20u) != 0 && snapshot_.list_has_focus);
  // Cancel and the close box never choose, whatever row is selected.
  EXPECT_EQ(nullptr, dialog_->selected_user());
  EXPECT_EQ(2, Run(users, DialogAction::kClose, 1));
  EXPECT_EQ(nullptr, dialog_->selected_user());

  const std::pair<const UserObj*, int> choices[] = {{&alice, DialogAction::kKeepSelection},
                                                    {&sales, 1}, {&dev, 2}};
  for (const auto& c : choices) {
    EXPECT_EQ(1, Run(users, DialogAction::kOk, c.second));
    EXPECT_EQ(c.first, dialog_->selected_user()) << c.second;
  }
  EXPECT_EQ(1, Run(users, DialogAction::kDoubleClick, 2));
  EXPECT_EQ(&dev, dialog_->selected_user());
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
  for (const char* option : {"Display Email", "Display Full Name", "Display Given Name",
                             "Display Surname", "Display Telephone Number", "Display Unique ID"}) {
    SetDword(kOptionsKeyPath, option, 1);
  }
  EXPECT_EQ(2, Run(users, DialogAction::kCancel));
  EXPECT_EQ((Columns{{"User Name", 100}, {"User Context", 150}, {"EMail Name", 150},
                     {"Full Name", 150}, {"Given Name", 150}, {"Surname", 150},
                     {"Telephone Number", 150}, {"Unique ID", 150}}),
            std::get<2>(ShownBy(snapshot_)));
  EXPECT_EQ((Rows{{"jdoe", "dev.acme", "", "", "", "", "", ""},
                  {"jsmith", "sales.acme", "js@acme.example", "John Smith", "John", "Smith",
                   "+1 555 0100", "js01"}}),
            snapshot_.rows);
}

TEST_F(SelectionDialogTest, MissingOptionsKeyLeavesDoModalAfterTheDialogIsGone) {
  DeleteTree(kOptionsKeyPath);
  UserData users("*", "ACME");
  users.AddUser("anna", "cn=anna", "a.acme", "ou=a.o=acme");
  EXPECT_THROW(Run(users, DialogAction::kOk), LDAPConfigOptions::BadReg);
  EXPECT_TRUE(shown_ == 0 && dialog_->GetSafeHwnd() == nullptr &&
              dialog_->selected_user() == nullptr);
  // Nothing of the failed dialog is left in the way of the next one.
  CreateKey(kOptionsKeyPath);
  EXPECT_EQ(1, Run(users, DialogAction::kOk));
  EXPECT_EQ((Rows{{"anna", "a.acme"}}), snapshot_.rows);
}

#ifndef _WIN32
// The host's answers: a row the dialog lacks is none; a non-answer chooses none.
TEST_F(SelectionDialogTest, HostAnswersMapToTheDialogsResults) {
  UserData users("*", "ACME");
  users.AddUser("mia", "cn=mia", "m.acme", "ou=m.o=acme");
  UserObj* anna = &users.AddUser("anna", "cn=anna", "a.acme", "ou=a.o=acme");
  UserObj* zoe = &users.AddUser("Zoe", "cn=Zoe", "z.acme", "ou=z.o=acme");
  const struct {
    int answer, row, result;
    UserObj* chosen;
  } cases[] = {{kWendrelDialogDoubleClick, 0, 1, anna}, {kWendrelDialogOk, 2, 1, zoe},
               {kWendrelDialogOk, -1, 1, nullptr},      {kWendrelDialogOk, 3, 1, nullptr},
               {kWendrelDialogCancel, 1, 2, nullptr},
               {kWendrelDialogCannotCreate, 1, -1, nullptr},
               {42, 1, 2, nullptr}};
  for (const auto& c : cases) {
    g_host_answer = c.answer;
    g_host_row = c.row;
    CSelectionDlg dialog(users, nullptr);
    const int result = dialog.DoModal();
    EXPECT_EQ(std::make_pair(c.result, c.chosen), std::make_pair(result, dialog.selected_user()))
        << c.answer << " on row " << c.row;
  }
}
#endif  // !_WIN32

}  // namespace
}  // namespace wendrel
