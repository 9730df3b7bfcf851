// Several matches: the driver shows the selection dialog and writes back the
// chosen user, or nothing after Cancel. Natively the dialog is presented by
// the process hosting the extension through its exported
// WendrelHostSelectionDialog, which this test program provides (it is linked
// with its symbols exported) and answers from a script.

#include <cstring>
#include <string>
#include <vector>

#include "core/login_driver.h"
#include "core/login_host.h"
#include "core/wendrel_app.h"
#include "gtest/gtest.h"
#include "platform/ui_dialog.h"
#include "tests/integration/search/search_fixture.h"

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

std::vector<uint32_t> g_notified;

int32_t HostNotify(void* host, uint32_t code, uint32_t a, uint32_t b, uintptr_t d) {
  g_notified.push_back(code);
  return 0;
}

class LoginDriverChoiceTest : public SearchTest {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    g_notified.clear();
    ResetLoginDriverForTesting();
    ResetKeptHostTableForTesting();
    StoreEntry(host_, kHostHandleNotifyEntry, &HostNotify);
    ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
    SetServers({Plain(0)});
    SetTrees({"A"});
    SetOptions({{"Contextless Login Enabled", 1}});
    std::memset(record_, 0, sizeof record_);
    StoreText(record_, kStartInfoTree, HostText{sizeof tree_, tree_});
    StoreText(record_, kStartInfoUser, HostText{sizeof user_, user_});
    StoreText(record_, kStartInfoContext, HostText{sizeof context_, context_});
    StoreCallingModule(record_, kCallingModuleUnset);
    std::strcpy(tree_, "A");
    std::strcpy(user_, "jdoe");
  }

  void Login() {
    LoginExtCallback(host_, kEventStart, 0, 0, record_, 0, 0);
    LoginExtCallback(host_, kEventTabData, 0, 0, record_, 0, 0);
  }

  unsigned char host_[kHostHandleEntries * sizeof(void*)] = {};
  unsigned char record_[kStartInfoSize];
  char tree_[64] = {}, user_[64] = {}, context_[64] = {};
};

TEST_F(LoginDriverChoiceTest, TheChosenUserIsWrittenBack) {
  g_dialog_result = kWendrelDialogOk;
  g_dialog_row = 1;
  Login();
  ASSERT_EQ(g_dialog_rows, std::vector<std::string>({"jdoe@eng.A", "jdoe@sales.A"}));
  EXPECT_STREQ(context_, "sales.A");
  EXPECT_STREQ(user_, "jdoe");
  EXPECT_EQ(LoadCallingModule(record_), kCallingModuleMark);
  EXPECT_EQ(g_notified, std::vector<uint32_t>({kNotifyResolved}));
}

TEST_F(LoginDriverChoiceTest, CancelWritesNothingButStillMarksAndNotifies) {
  g_dialog_result = kWendrelDialogCancel;
  g_dialog_row = -1;
  Login();
  EXPECT_EQ(g_dialog_rows.size(), 2u);
  EXPECT_STREQ(context_, "");
  EXPECT_EQ(LoadCallingModule(record_), kCallingModuleMark);
  EXPECT_EQ(g_notified, std::vector<uint32_t>({kNotifyResolved}));
  EXPECT_TRUE(presenter_.boxes.empty());
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
