// The selection dialog natively as the hosting process sees it: the test
// program exports WendrelHostSelectionDialog (tests/unit/CMakeLists.txt links
// it with exported symbols), which the dialog finds with dlsym when no
// automation script is set.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "platform/ui_dialog.h"
#include "results/selection_dialog.h"
#include "tests/unit/support/registry_fixture.h"

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

namespace wendrel {
namespace {

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

TEST_F(SelectionDialogHostTest, HostAnswersMapToTheDialogsResults) {
  EXPECT_EQ(1, Run(kWendrelDialogDoubleClick, 0));
  EXPECT_EQ(anna_, dialog_->selected_user());
  EXPECT_EQ(1, Run(kWendrelDialogOk, -1));
  EXPECT_EQ(nullptr, dialog_->selected_user());
  // A row the dialog does not have counts as none.
  EXPECT_EQ(1, Run(kWendrelDialogOk, 3));
  EXPECT_EQ(nullptr, dialog_->selected_user());
  EXPECT_EQ(2, Run(kWendrelDialogCancel, 1));
  EXPECT_EQ(nullptr, dialog_->selected_user());
  EXPECT_EQ(-1, Run(kWendrelDialogCannotCreate, 1));
  EXPECT_EQ(nullptr, dialog_->selected_user());
  // An answer that is no result at all leaves nobody chosen.
  EXPECT_EQ(2, Run(42, 1));
  EXPECT_EQ(nullptr, dialog_->selected_user());
}

}  // namespace
}  // namespace wendrel
