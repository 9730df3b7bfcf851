// qzlogin's native hooks, called as the extension's UI port calls them.

#include <gtest/gtest.h>

#include "host/qzlogin_ui.h"

namespace wendrel {
namespace qzlogin {
namespace {

int Present(const WendrelDialogModel& model, int* row) {
  return WendrelHostSelectionDialog(&model, row);
}

TEST(QzloginUiTest, DialogsAreAnsweredFromTheScriptAndRecorded) {
  const WendrelDialogColumn columns[] = {{"User Name", 100}, {"Context", 150}};
  const char* cells[] = {"adoe", "a.acme", "jdoe", "sales.acme", "zdoe", ""};
  WendrelDialogModel model = {"Select", "Several users match", 2, columns, 3, cells, 0};

  struct Case {
    DialogScript script;
    int script_row;
    int returned;  // to the extension
    int result;    // the dialog's, recorded
    int row;
  };
  const Case cases[] = {
      {DialogScript::kSelect, 2, kWendrelDialogOk, kWendrelDialogOk, 2},
      {DialogScript::kDoubleClick, 1, kWendrelDialogDoubleClick, kWendrelDialogOk, 1},
      // No such row: OK finds none.
      {DialogScript::kSelect, 3, kWendrelDialogOk, kWendrelDialogOk, -1},
      {DialogScript::kDoubleClick, 3, kWendrelDialogOk, kWendrelDialogOk, -1},
      {DialogScript::kSelectNone, -1, kWendrelDialogOk, kWendrelDialogOk, -1},
      {DialogScript::kCancel, -1, kWendrelDialogCancel, kWendrelDialogCancel, -1},
      // Unattended.
      {DialogScript::kNone, -1, kWendrelDialogCancel, kWendrelDialogCancel, -1},
  };
  for (const Case& c : cases) {
    UiScript script;
    script.dialog = c.script;
    script.dialog_row = c.script_row;
    SetUiScript(script);
    const size_t before = DialogsSeen().size();
    int row = 42;
    EXPECT_EQ(Present(model, &row), c.returned);
    EXPECT_EQ(row, c.row);
    ASSERT_EQ(DialogsSeen().size(), before + 1);
    const DialogSeen& seen = DialogsSeen().back();
    EXPECT_EQ(seen.caption, "Select");
    EXPECT_EQ(seen.prompt, "Several users match");
    ASSERT_EQ(seen.columns.size(), 2u);
    EXPECT_EQ(seen.columns[1].first, "Context");
    EXPECT_EQ(seen.columns[1].second, 150);
    ASSERT_EQ(seen.rows.size(), 3u);
    EXPECT_EQ(seen.rows[1], (std::vector<std::string>{"jdoe", "sales.acme"}));
    EXPECT_EQ(seen.rows[2][1], "");
    EXPECT_EQ(seen.result, c.result);
    // qzlogin is the prompt, and takes no input while it presents.
    EXPECT_TRUE(seen.owned_by_prompt);
    EXPECT_TRUE(seen.owner_disabled);
  }

  // A model the dialog could not be built from is refused, not read.
  WendrelDialogModel broken = model;
  broken.cells = nullptr;
  int row = 5;
  EXPECT_EQ(Present(broken, &row), kWendrelDialogCannotCreate);
  EXPECT_EQ(row, -1);
  broken = model;
  broken.column_count = 0;
  EXPECT_EQ(Present(broken, &row), kWendrelDialogCannotCreate);
}

TEST(QzloginUiTest, MessageBoxesAreAnsweredFromTheScriptAndRecorded) {
  UiScript script;
  script.answer = AnswerScript::kYes;
  SetUiScript(script);
  EXPECT_EQ(WendrelHostMessageBox("wendrel", "Go on?", 4), 6);
  EXPECT_EQ(WendrelHostMessageBox("wendrel", "Failed.", 0x10), 1);
  script.answer = AnswerScript::kNone;  // unattended: No
  SetUiScript(script);
  EXPECT_EQ(WendrelHostMessageBox("wendrel", "Go on?", 4), 7);
  ASSERT_GE(MessageBoxesSeen().size(), 3u);
  const MessageBoxSeen& failed = MessageBoxesSeen()[MessageBoxesSeen().size() - 2];
  EXPECT_EQ(failed.style, 0x10u);
  EXPECT_EQ(failed.text, "Failed.");
  EXPECT_TRUE(failed.owned_by_prompt);
  EXPECT_TRUE(failed.owner_disabled);
}

}  // namespace
}  // namespace qzlogin
}  // namespace wendrel
