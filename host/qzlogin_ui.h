// The message boxes and selection dialogs qzlogin presents for the extension
// when hosted natively, where "the process that hosts the extension presents
// the UI": qzlogin exports WendrelHostMessageBox and
// WendrelHostSelectionDialog (platform/ui_dialog.h), which the extension's UI
// port finds with dlsym. Each box and dialog is answered from the script of
// the command line, else on the terminal when one is attached, else without
// a person (OK, No, Cancel), and is recorded for the report.
//
// On Windows the extension shows the real MessageBoxA and dialog. While a
// WindowsUiAutomation is alive, qzlogin answers them from the same script
// (the CBT hook of qzlogin_ui_win32.cc) when a script option was given or no
// console is attached, and records them in the same way; otherwise a person
// answers the real window.
//
// Each box and dialog is recorded with its owner: whether the window standing
// for the login prompt owned it, and whether that prompt was disabled while
// it was up. On Windows the prompt is a real top-level window (LoginPrompt),
// active while the events are sent, and both facts are read from the
// windows. Natively the stand-in prompt is qzlogin itself, which cannot take
// input while its presenter (the terminal or the scripted answer) is asking:
// every box and dialog is owned by it, disabled.

#ifndef WENDREL_HOST_QZLOGIN_UI_H_
#define WENDREL_HOST_QZLOGIN_UI_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/qzlogin_options.h"
#include "platform/ui_dialog.h"

namespace wendrel {
namespace qzlogin {

struct MessageBoxSeen {
  uint32_t style;
  std::string text;  // ANSI code page, as the extension passed it
  bool owned_by_prompt = false;
  bool owner_disabled = false;
};

struct DialogSeen {
  std::string caption;  // ANSI code page
  std::string prompt;
  std::vector<std::pair<std::string, int>> columns;  // title, width
  std::vector<std::vector<std::string>> rows;
  int result;
  int chosen_row;
  bool owned_by_prompt = false;
  bool owner_disabled = false;
};

struct UiScript {
  DialogScript dialog = DialogScript::kNone;
  int dialog_row = -1;
  AnswerScript answer = AnswerScript::kNone;
  // A person may be asked: no script option was given and standard input is
  // a terminal.
  bool interactive = false;
};

// Set once, before the extension is loaded.
void SetUiScript(const UiScript& script);
const UiScript& CurrentUiScript();

void RecordMessageBox(MessageBoxSeen box);
void RecordDialog(DialogSeen dialog);

const std::vector<MessageBoxSeen>& MessageBoxesSeen();
const std::vector<DialogSeen>& DialogsSeen();

// The scripted answers, without a person: the button of a box, and the
// result and chosen row of a dialog with `row_count` rows.
int ScriptedMessageBoxAnswer(const UiScript& script, uint32_t style);
int ScriptedDialogAnswer(const UiScript& script, int row_count, int* chosen_row);

// On Windows, for its lifetime, a plain top-level window standing for the
// login prompt; Activate makes it the active window of the calling thread,
// which the extension's boxes and dialog take as their owner. Does nothing
// natively.
class LoginPrompt {
 public:
  LoginPrompt();
  ~LoginPrompt();
  LoginPrompt(const LoginPrompt&) = delete;
  LoginPrompt& operator=(const LoginPrompt&) = delete;

  void Activate();

 private:
  void* window_ = nullptr;
};

// On Windows, for its lifetime, answers the message boxes and dialogs that
// the calling thread shows, from the script, unless the script is
// interactive. Does nothing natively.
class WindowsUiAutomation {
 public:
  WindowsUiAutomation();
  ~WindowsUiAutomation();
  WindowsUiAutomation(const WindowsUiAutomation&) = delete;
  WindowsUiAutomation& operator=(const WindowsUiAutomation&) = delete;

 private:
  void* hook_ = nullptr;
};

}  // namespace qzlogin
}  // namespace wendrel

#ifndef _WIN32
// The hooks qzlogin exports natively (see the top of this file).
extern "C" int WendrelHostMessageBox(const char* caption, const char* text, unsigned style);
extern "C" int WendrelHostSelectionDialog(const WendrelDialogModel* model, int* chosen_row);
#endif

#endif  // WENDREL_HOST_QZLOGIN_UI_H_
