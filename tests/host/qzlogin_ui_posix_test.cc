// qzlogin's native hooks, called as the extension's UI port calls them.

#include <gtest/gtest.h>

#include <tuple>

#include "host/qzlogin_ui.h"

namespace wendrel {
namespace qzlogin {
namespace {

// Whole records compared (and printed) as tuples.
auto Fields(const DialogSeen& d) {
  return std::tie(d.caption, d.prompt, d.columns, d.rows, d.result, d.chosen_row,
                  d.owned_by_prompt, d.owner_disabled);
}
auto Fields(const MessageBoxSeen& b) {
  return std::tie(b.style, b.text, b.owned_by_prompt, b.owner_disabled);
}

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
    SCOPED_TRACE(&c - cases);
    UiScript script;
    script.dialog = c.script;
    script.dialog_row = c.script_row;
    SetUiScript(script);
    const size_t before = DialogsSeen().size();
    int row = 42;
    EXPECT_EQ(Present(model, &row), c.returned);
    EXPECT_EQ(row, c.row);
    ASSERT_EQ(DialogsSeen().size(), before + 1);
    // qzlogin is the prompt, and takes no input while it presents.
    const DialogSeen expected = {"Select", "Several users match",
                                 {{"User Name", 100}, {"Context", 150}},
                                 {{"adoe", "a.acme"}, {"jdoe", "sales.acme"}, {"zdoe", ""}},
                                 c.result, c.row, true, true};
    EXPECT_EQ(Fields(DialogsSeen().back()), Fields(expected));
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
  const MessageBoxSeen expected[] = {
      {4, "Go on?", true, true}, {0x10, "Failed.", true, true}, {4, "Go on?", true, true}};
  for (size_t i = 0; i < 3; ++i) {
    const MessageBoxSeen& seen = MessageBoxesSeen()[MessageBoxesSeen().size() - 3 + i];
    EXPECT_EQ(Fields(seen), Fields(expected[i])) << i;
  }
}

}  // namespace
}  // namespace qzlogin
}  // namespace wendrel
