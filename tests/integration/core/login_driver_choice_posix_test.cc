// Several matches: the driver shows the selection dialog and writes back the
// chosen user, or nothing after Cancel. Natively the dialog is presented by
// the process hosting the extension through its exported
// WendrelHostSelectionDialog, which this test program provides (it is linked
// with its symbols exported) and answers from a script.

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/ui_dialog.h"
#include "tests/integration/core/host_double.h"

namespace {

int g_dialog_result = kWendrelDialogCancel;
int g_dialog_row = -1;
std::vector<std::string> g_dialog_rows;  // "user@context", display order

}  // namespace

extern "C" __attribute__((visibility("default"))) int WendrelHostSelectionDialog(
    const WendrelDialogModel* model, int* chosen_row) {
  g_dialog_rows.clear();
  for (int r = 0; r < model->row_count; ++r) {
    const char* const* row = model->cells + r * model->column_count;
    g_dialog_rows.push_back(std::string(row[0]) + "@" +
                            (model->column_count > 1 ? row[1] : ""));
  }
  *chosen_row = g_dialog_row;
  return g_dialog_result;
}

namespace wendrel {
namespace testing {
namespace {

using LoginDriverChoiceTest = HostedLoginTest;

// Cancel writes nothing but still marks and notifies.
TEST_F(LoginDriverChoiceTest, TheChosenUserIsWrittenBackOrNothingAfterCancel) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  ConfigureTreeA({Plain(0)});
  for (int row : {1, -1}) {
    SCOPED_TRACE(row);
    g_dialog_result = row < 0 ? kWendrelDialogCancel : kWendrelDialogOk;
    g_dialog_row = row;
    g_dialog_rows.clear();
    HostRecord record("jdoe", "A");
    EXPECT_EQ(Login(record), Resolved("jdoe", row < 0 ? "" : "sales.A"));
    EXPECT_EQ(g_dialog_rows, std::vector<std::string>({"jdoe@eng.A", "jdoe@sales.A"}));
  }
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
