#include "host/qzlogin_ui.h"

#include <cstdio>
#include <utility>

#ifndef _WIN32
#include "platform/posix/terminal.h"
#endif
#include "platform/ui.h"

#ifndef _WIN32
#define WENDREL_QZLOGIN_EXPORT __attribute__((visibility("default")))
#endif

namespace wendrel {
namespace qzlogin {
namespace {

UiScript g_script;
std::vector<MessageBoxSeen> g_boxes;
std::vector<DialogSeen> g_dialogs;

bool IsQuestion(uint32_t style) { return (style & 0xF) == platform::kMbYesNo; }

#ifndef _WIN32

// Prompts go to standard error so the report on standard output stays clean.
int AskMessageBox(const char* caption, const char* text, uint32_t style) {
  std::fprintf(stderr, "\n[%s]\n%s\n", caption, text);
  if (!IsQuestion(style)) {
    std::fprintf(stderr, "(press Enter) ");
    std::fflush(stderr);
    std::string ignored;
    platform::ReadTerminalLine(&ignored);
    return platform::kIdOk;
  }
  for (;;) {
    std::fprintf(stderr, "[Y]es/[N]o? ");
    std::fflush(stderr);
    std::string answer;
    if (!platform::ReadTerminalLine(&answer)) return platform::kIdNo;
    if (answer == "y" || answer == "Y" || answer == "yes") return platform::kIdYes;
    if (answer == "n" || answer == "N" || answer == "no") return platform::kIdNo;
  }
}

int AskDialog(const DialogSeen& dialog, int selected_row, int* chosen_row) {
  std::fprintf(stderr, "\n[%s]\n%s\n", dialog.caption.c_str(), dialog.prompt.c_str());
  std::fprintf(stderr, "     ");
  for (const auto& column : dialog.columns) std::fprintf(stderr, "  %-24s", column.first.c_str());
  std::fprintf(stderr, "\n");
  for (size_t r = 0; r < dialog.rows.size(); ++r) {
    std::fprintf(stderr, "%c%3zu ", static_cast<int>(r) == selected_row ? '>' : ' ', r + 1);
    for (const std::string& cell : dialog.rows[r]) std::fprintf(stderr, "  %-24s", cell.c_str());
    std::fprintf(stderr, "\n");
  }
  const int count = static_cast<int>(dialog.rows.size());
  for (;;) {
    std::fprintf(stderr, "Row number for OK, empty to Cancel: ");
    std::fflush(stderr);
    std::string answer;
    if (!platform::ReadTerminalLine(&answer) || answer.empty()) {
      *chosen_row = -1;
      return kWendrelDialogCancel;
    }
    int64_t n;
    if (ParseNumber(answer, 1, count, &n)) {
      *chosen_row = static_cast<int>(n) - 1;
      return kWendrelDialogOk;
    }
  }
}

#endif  // !_WIN32

}  // namespace

void SetUiScript(const UiScript& script) { g_script = script; }
const UiScript& CurrentUiScript() { return g_script; }

void RecordMessageBox(MessageBoxSeen box) { g_boxes.push_back(std::move(box)); }
void RecordDialog(DialogSeen dialog) { g_dialogs.push_back(std::move(dialog)); }

#ifndef _WIN32
WindowsUiAutomation::WindowsUiAutomation() {}
WindowsUiAutomation::~WindowsUiAutomation() {}
LoginPrompt::LoginPrompt() {}
LoginPrompt::~LoginPrompt() {}
void LoginPrompt::Activate() {}
#endif

const std::vector<MessageBoxSeen>& MessageBoxesSeen() { return g_boxes; }
const std::vector<DialogSeen>& DialogsSeen() { return g_dialogs; }

int ScriptedMessageBoxAnswer(const UiScript& script, uint32_t style) {
  if (!IsQuestion(style)) return platform::kIdOk;
  return script.answer == AnswerScript::kYes ? platform::kIdYes : platform::kIdNo;
}

int ScriptedDialogAnswer(const UiScript& script, int row_count, int* chosen_row) {
  *chosen_row = -1;
  switch (script.dialog) {
    case DialogScript::kSelect:
    case DialogScript::kDoubleClick:
      // A row that does not exist cannot be selected: OK then finds none.
      if (script.dialog_row >= 0 && script.dialog_row < row_count) {
        *chosen_row = script.dialog_row;
      }
      return kWendrelDialogOk;
    case DialogScript::kSelectNone:
      return kWendrelDialogOk;
    case DialogScript::kCancel:
    case DialogScript::kNone:
      break;
  }
  return kWendrelDialogCancel;
}

}  // namespace qzlogin
}  // namespace wendrel

#ifndef _WIN32

extern "C" WENDREL_QZLOGIN_EXPORT int WendrelHostMessageBox(const char* caption, const char* text,
                                                            unsigned style) {
  using namespace wendrel::qzlogin;
  if (caption == nullptr) caption = "";
  if (text == nullptr) text = "";
  // The stand-in prompt (this program) takes no input while it asks.
  g_boxes.push_back(MessageBoxSeen{style, text, true, true});
  if (g_script.interactive) return AskMessageBox(caption, text, style);
  return ScriptedMessageBoxAnswer(g_script, style);
}

extern "C" WENDREL_QZLOGIN_EXPORT int WendrelHostSelectionDialog(const WendrelDialogModel* model,
                                                                 int* chosen_row) {
  using namespace wendrel::qzlogin;
  int ignored_row;
  if (chosen_row == nullptr) chosen_row = &ignored_row;
  *chosen_row = -1;
  if (model == nullptr || model->column_count < 1 || model->row_count < 0 ||
      model->columns == nullptr || (model->row_count > 0 && model->cells == nullptr)) {
    return kWendrelDialogCannotCreate;
  }
  auto text = [](const char* s) { return std::string(s != nullptr ? s : ""); };
  DialogSeen seen;
  seen.owned_by_prompt = true;  // as for the boxes
  seen.owner_disabled = true;
  seen.caption = text(model->caption);
  seen.prompt = text(model->prompt);
  for (int c = 0; c < model->column_count; ++c) {
    seen.columns.emplace_back(text(model->columns[c].title), model->columns[c].width);
  }
  for (int r = 0; r < model->row_count; ++r) {
    std::vector<std::string> row;
    for (int c = 0; c < model->column_count; ++c) {
      row.push_back(text(model->cells[static_cast<size_t>(r) * model->column_count + c]));
    }
    seen.rows.push_back(std::move(row));
  }
  seen.result = g_script.interactive ? AskDialog(seen, model->selected_row, chosen_row)
                                     : ScriptedDialogAnswer(g_script, model->row_count, chosen_row);
  seen.chosen_row = *chosen_row;
  // A double-click on a row ends the dialog with OK as well (the result
  // recorded), but the dialog is told so it can take its double-click path.
  const bool double_click = !g_script.interactive &&
                            g_script.dialog == DialogScript::kDoubleClick &&
                            seen.result == kWendrelDialogOk && *chosen_row >= 0;
  const int result = seen.result;
  g_dialogs.push_back(std::move(seen));
  return double_click ? kWendrelDialogDoubleClick : result;
}

#endif  // !_WIN32
