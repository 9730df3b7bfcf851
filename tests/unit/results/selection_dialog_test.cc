// The selection dialog end to end, on both builds through the dialog
// automation: natively the dialog model a host would be shown, on Windows
// (under Wine) the real dialog from template 9001, read and driven through
// its controls.

#include "results/selection_dialog.h"

#include <memory>
#include <string>
#include <vector>

#include "config/ldap_config_options.h"
#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "platform/ui_dialog_automation.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace {

using platform::DialogAction;
using platform::DialogSnapshot;

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

  // Runs the dialog over `users`, answering with `action`; what it showed
  // lands in snapshot_.
  int Run(UserData& users, DialogAction action, CSelectionDlg** dialog_out = nullptr) {
    shown_ = 0;
    platform::SetDialogAutomation([this, action](const DialogSnapshot& snapshot) {
      ++shown_;
      snapshot_ = snapshot;
      return action;
    });
    dialog_ = std::make_unique<CSelectionDlg>(users, nullptr);
    if (dialog_out != nullptr) *dialog_out = dialog_.get();
    return dialog_->DoModal();
  }

  static DialogAction Act(DialogAction::Kind kind, int row = DialogAction::kKeepSelection) {
    DialogAction action;
    action.kind = kind;
    action.row = row;
    return action;
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
  EXPECT_EQ(2, Run(users, Act(DialogAction::kCancel)));
  ASSERT_EQ(1, shown_);
  EXPECT_EQ("Context Selection for tree: ACME", snapshot_.caption);
  EXPECT_EQ("Please select a user name", snapshot_.prompt);
  ASSERT_EQ(2u, snapshot_.columns.size());
  EXPECT_EQ("User Name", snapshot_.columns[0].heading);
  EXPECT_EQ(100, snapshot_.columns[0].width);
  EXPECT_EQ("User Context", snapshot_.columns[1].heading);
  EXPECT_EQ(150, snapshot_.columns[1].width);
  EXPECT_NE(0u, snapshot_.extended_style & 0x20u);  // full-row selection
  EXPECT_TRUE(snapshot_.list_has_focus);
  EXPECT_EQ(0, snapshot_.selected_row);
  // Cancel never chooses, whatever row is selected.
  EXPECT_EQ(nullptr, dialog_->selected_user());
}

TEST_F(SelectionDialogTest, ColumnsFollowTheDisplayOptionsInFixedOrder) {
  UserData users("j*", "ACME");
  UserObj& full = users.AddUser("jsmith", "cn=jsmith", "sales.acme", "ou=sales.o=acme");
  full.SetAttribute("mail", "js@acme.example");
  full.SetAttribute("fullName", "John Smith");
  full.SetAttribute("givenName", "John");
  full.SetAttribute("surname", "Smith");
  full.SetAttribute("telephoneNumber", "+1 555 0100");
  full.SetAttribute("uid", "js01");
  UserObj& bare = users.AddUser("jdoe", "cn=jdoe", "dev.acme", "ou=dev.o=acme");
  bare.SetAttribute("Mail", "wrong case is another attribute");

  SetOption("Display Context", 0);
  SetOption("Display Email", 1);
  EXPECT_EQ(2, Run(users, Act(DialogAction::kCancel)));
  ASSERT_EQ(2u, snapshot_.columns.size());
  EXPECT_EQ("EMail Name", snapshot_.columns[1].heading);
  EXPECT_EQ(150, snapshot_.columns[1].width);
  ASSERT_EQ(2u, snapshot_.rows.size());
  EXPECT_EQ((std::vector<std::string>{"jdoe", ""}), snapshot_.rows[0]);
  EXPECT_EQ((std::vector<std::string>{"jsmith", "js@acme.example"}), snapshot_.rows[1]);

  for (const char* option : {"Display Context", "Display Full Name", "Display Given Name",
                             "Display Surname", "Display Telephone Number", "Display Unique ID"}) {
    SetOption(option, 1);
  }
  EXPECT_EQ(2, Run(users, Act(DialogAction::kCancel)));
  std::vector<std::string> headings;
  for (const auto& column : snapshot_.columns) headings.push_back(column.heading);
  EXPECT_EQ((std::vector<std::string>{"User Name", "User Context", "EMail Name", "Full Name",
                                      "Given Name", "Surname", "Telephone Number", "Unique ID"}),
            headings);
  ASSERT_EQ(2u, snapshot_.rows.size());
  EXPECT_EQ((std::vector<std::string>{"jsmith", "sales.acme", "js@acme.example", "John Smith",
                                      "John", "Smith", "+1 555 0100", "js01"}),
            snapshot_.rows[1]);
  EXPECT_EQ((std::vector<std::string>{"jdoe", "dev.acme", "", "", "", "", "", ""}),
            snapshot_.rows[0]);
}

TEST_F(SelectionDialogTest, RowsSortByUserNameAndOkTakesTheFirstSortedRow) {
  UserData users("*", "ACME");
  users.AddUser("carol", "cn=carol", "a.acme", "ou=a.o=acme");
  users.AddUser("alice", "cn=alice", "b.acme", "ou=b.o=acme");
  UserObj& bob = users.AddUser("Bob", "cn=Bob", "c.acme", "ou=c.o=acme");
  users.AddUser("dave", "cn=dave", "d.acme", "ou=d.o=acme");
  CSelectionDlg* dialog = nullptr;
  EXPECT_EQ(1, Run(users, Act(DialogAction::kOk), &dialog));
  ASSERT_EQ(4u, snapshot_.rows.size());
  // Case does not count: Bob sorts between alice and carol.
  EXPECT_EQ("alice", snapshot_.rows[0][0]);
  EXPECT_EQ("Bob", snapshot_.rows[1][0]);
  EXPECT_EQ("carol", snapshot_.rows[2][0]);
  EXPECT_EQ("dave", snapshot_.rows[3][0]);
  EXPECT_EQ(0, snapshot_.selected_row);
  ASSERT_NE(nullptr, dialog->selected_user());
  EXPECT_EQ("alice", dialog->selected_user()->GetUser());
  EXPECT_EQ("b.acme", dialog->selected_user()->GetUserContext());

  EXPECT_EQ(1, Run(users, Act(DialogAction::kOk, 1), &dialog));
  EXPECT_EQ(&bob, dialog->selected_user());
}

TEST_F(SelectionDialogTest, SameUserNameGivesTwoRowsAndTheSelectedOneIsChosen) {
  UserData users("jsmith", "ACME");
  UserObj& sales = users.AddUser("jsmith", "cn=jsmith", "sales.acme", "ou=sales.o=acme");
  UserObj& dev = users.AddUser("jsmith", "cn=jsmith", "dev.acme", "ou=dev.o=acme");
  EXPECT_EQ(2, Run(users, Act(DialogAction::kCancel)));
  ASSERT_EQ(2u, snapshot_.rows.size());
  const int dev_row = RowOf("jsmith", "dev.acme");
  const int sales_row = RowOf("jsmith", "sales.acme");
  ASSERT_NE(-1, dev_row);
  ASSERT_NE(-1, sales_row);

  CSelectionDlg* dialog = nullptr;
  EXPECT_EQ(1, Run(users, Act(DialogAction::kOk, dev_row), &dialog));
  EXPECT_EQ(&dev, dialog->selected_user());
  EXPECT_EQ(1, Run(users, Act(DialogAction::kOk, sales_row), &dialog));
  EXPECT_EQ(&sales, dialog->selected_user());
}

TEST_F(SelectionDialogTest, DoubleClickEndsWithOkAndThatRowsRecord) {
  UserData users("*", "ACME");
  users.AddUser("anna", "cn=anna", "a.acme", "ou=a.o=acme");
  UserObj& zoe = users.AddUser("zoe", "cn=zoe", "z.acme", "ou=z.o=acme");
  users.AddUser("mia", "cn=mia", "m.acme", "ou=m.o=acme");
  CSelectionDlg* dialog = nullptr;
  EXPECT_EQ(1, Run(users, Act(DialogAction::kDoubleClick, 2), &dialog));
  EXPECT_EQ(&zoe, dialog->selected_user());
}

TEST_F(SelectionDialogTest, OkWithoutSelectionCancelAndCloseChooseNobody) {
  UserData users("*", "ACME");
  users.AddUser("anna", "cn=anna", "a.acme", "ou=a.o=acme");
  users.AddUser("mia", "cn=mia", "m.acme", "ou=m.o=acme");
  CSelectionDlg* dialog = nullptr;
  EXPECT_EQ(1, Run(users, Act(DialogAction::kOk, -1), &dialog));
  EXPECT_EQ(nullptr, dialog->selected_user());
  EXPECT_EQ(2, Run(users, Act(DialogAction::kCancel, 1), &dialog));
  EXPECT_EQ(nullptr, dialog->selected_user());
  EXPECT_EQ(2, Run(users, Act(DialogAction::kClose, 1), &dialog));
  EXPECT_EQ(nullptr, dialog->selected_user());
}

TEST_F(SelectionDialogTest, MissingOptionsKeyLeavesDoModalAfterTheDialogIsGone) {
  DeleteTree(kOptionsKeyPath);
  UserData users("*", "ACME");
  users.AddUser("anna", "cn=anna", "a.acme", "ou=a.o=acme");
  EXPECT_THROW(Run(users, Act(DialogAction::kOk)), LDAPConfigOptions::BadReg);
  EXPECT_EQ(0, shown_);
  EXPECT_EQ(nullptr, dialog_->GetSafeHwnd());
  EXPECT_EQ(nullptr, dialog_->selected_user());
  // Nothing of the failed dialog is left in the way of the next one.
  CreateKey(kOptionsKeyPath);
  EXPECT_EQ(1, Run(users, Act(DialogAction::kOk)));
  EXPECT_EQ(1, shown_);
  EXPECT_EQ("anna", snapshot_.rows.at(0).at(0));
}

}  // namespace
}  // namespace wendrel
