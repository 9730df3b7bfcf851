// qzlogin on Windows: the extension shows the real MessageBoxA and the real
// selection dialog on qzlogin's thread. A CBT hook on that thread sees each
// of them as it is activated; once the window's own modal loop runs, it reads
// what the window shows from its controls, records it and presses the button
// the script asks for (posted, so the modal loop ends it as it would for a
// person).
//
// With WENDREL_QZLOGIN_SCREENSHOT naming a file, the selection dialog is
// also captured there as a BMP, as drawn, before it is answered.
//
// The login prompt is a plain top-level window of qzlogin's thread, made the
// active window before each event; whether it owns a box or dialog and is
// disabled meanwhile is read while the box or dialog is up.

#include <windows.h>
#include <commctrl.h>

#include <io.h>

#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "host/qzlogin_ui.h"
#include "host/window_capture_win32.h"

namespace wendrel {
namespace qzlogin {
namespace {

constexpr char kPromptClass[] = "WendrelLoginPrompt";
HWND g_prompt = nullptr;

// Whether the login prompt owns `window`, and whether it is disabled now,
// while `window` is up.
void ReadOwner(HWND window, bool* owned, bool* disabled) {
  *owned = g_prompt != nullptr && GetWindow(window, GW_OWNER) == g_prompt;
  *disabled = g_prompt != nullptr && IsWindowEnabled(g_prompt) == FALSE;
}

std::string WindowText(HWND window) {
  int length = GetWindowTextLengthA(window);
  if (length <= 0) return "";
  std::vector<char> text(static_cast<size_t>(length) + 1);
  int n = GetWindowTextA(window, text.data(), length + 1);
  return std::string(text.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

std::string ClassName(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  EnumChildWindows(
      parent,
      [](HWND child, LPARAM out) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(out)->push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&children));
  return children;
}

HWND FindChildOfClass(HWND parent, const char* class_name) {
  for (HWND child : Children(parent)) {
    if (lstrcmpiA(ClassName(child).c_str(), class_name) == 0) return child;
  }
  return nullptr;
}

void PostButton(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// A message box: the style from its buttons and icon, its text from the
// static control that is not the icon.
void AnswerMessageBox(HWND box) {
  uint32_t style = 0;
  if (GetDlgItem(box, IDYES) != nullptr) {
    style = GetDlgItem(box, IDCANCEL) != nullptr ? MB_YESNOCANCEL : MB_YESNO;
  } else if (GetDlgItem(box, IDCANCEL) != nullptr) {
    style = MB_OKCANCEL;
  }
  std::string text;
  for (HWND child : Children(box)) {
    if (lstrcmpiA(ClassName(child).c_str(), "Static") != 0) continue;
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      HICON icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
      if (icon != nullptr && icon == LoadIconA(nullptr, IDI_HAND)) style |= MB_ICONHAND;
      if (icon != nullptr && icon == LoadIconA(nullptr, IDI_QUESTION)) style |= MB_ICONQUESTION;
      if (icon != nullptr && icon == LoadIconA(nullptr, IDI_EXCLAMATION)) {
        style |= MB_ICONEXCLAMATION;
      }
      if (icon != nullptr && icon == LoadIconA(nullptr, IDI_ASTERISK)) style |= MB_ICONASTERISK;
    } else if (text.empty()) {
      text = WindowText(child);
    }
  }
  MessageBoxSeen seen{style, text};
  ReadOwner(box, &seen.owned_by_prompt, &seen.owner_disabled);
  RecordMessageBox(std::move(seen));
  int answer = ScriptedMessageBoxAnswer(CurrentUiScript(), style);
  if ((style & MB_TYPEMASK) == MB_OK) answer = IDOK;
  PostButton(box, answer);
}

std::string ItemText(HWND list, int item, int column) {
  std::vector<char> text(1024);
  LVITEMA lv = {};
  lv.iSubItem = column;
  lv.pszText = text.data();
  lv.cchTextMax = static_cast<int>(text.size());
  SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
  text.back() = '\0';
  return text.data();
}

void SetSelected(HWND list, int item, bool selected) {
  LVITEMA lv = {};
  lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  lv.state = selected ? (LVIS_SELECTED | LVIS_FOCUSED) : 0;
  SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
}

// The file the selection dialog is captured into, or empty.
std::string ScreenshotPath() {
  char path[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableA("WENDREL_QZLOGIN_SCREENSHOT", path, sizeof path);
  return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

void CaptureSelectionDialog(HWND dialog, const std::string& path) {
  RedrawWindow(dialog, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  std::string error;
  if (!CaptureWindowToBmp(dialog, path, &error)) {
    std::cerr << "qzlogin: no screenshot of the selection dialog in " << path << ": " << error
              << '\n';
  }
}

// The selection dialog: its caption, its prompt (the first static text), the
// list's columns and rows; captured first when a screenshot is asked for.
void AnswerSelectionDialog(HWND dialog, HWND list) {
  const std::string screenshot = ScreenshotPath();
  if (!screenshot.empty()) CaptureSelectionDialog(dialog, screenshot);
  DialogSeen seen;
  ReadOwner(dialog, &seen.owned_by_prompt, &seen.owner_disabled);
  seen.caption = WindowText(dialog);
  if (HWND prompt = FindChildOfClass(dialog, "Static")) seen.prompt = WindowText(prompt);
  HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  const int columns = header != nullptr ? static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT,
                                                                        0, 0))
                                        : 0;
  for (int c = 0; c < columns; ++c) {
    char title[256] = {};
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = title;
    column.cchTextMax = sizeof title - 1;
    SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
    seen.columns.emplace_back(title, column.cx);
  }
  const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int r = 0; r < rows; ++r) {
    std::vector<std::string> row;
    for (int c = 0; c < (columns > 0 ? columns : 1); ++c) row.push_back(ItemText(list, r, c));
    seen.rows.push_back(std::move(row));
  }
  int chosen = -1;
  seen.result = ScriptedDialogAnswer(CurrentUiScript(), rows, &chosen);
  seen.chosen_row = chosen;
  const UiScript& script = CurrentUiScript();
  if (seen.result == kWendrelDialogOk) {
    SetSelected(list, -1, false);
    if (chosen >= 0) SetSelected(list, chosen, true);
  }
  if (seen.result == kWendrelDialogOk && script.dialog == DialogScript::kDoubleClick &&
      chosen >= 0) {
    // A double-click where the row is; the list view then tells the dialog.
    RECT rect = {};
    rect.left = LVIR_LABEL;
    POINT at = {4, 4};
    if (SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(chosen),
                     reinterpret_cast<LPARAM>(&rect))) {
      at.x = (rect.left + rect.right) / 2;
      at.y = (rect.top + rect.bottom) / 2;
    }
    PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(at.x, at.y));
  } else {
    PostButton(dialog, seen.result == kWendrelDialogOk ? IDOK : IDCANCEL);
  }
  RecordDialog(std::move(seen));
}

HHOOK g_hook = nullptr;
std::vector<HWND> g_answered;
constexpr UINT kCaptureDelayMs = 300;
std::vector<HWND> g_pending;

void Answer(HWND window) {
  if (HWND list = FindChildOfClass(window, WC_LISTVIEWA)) {
    AnswerSelectionDialog(window, list);
  } else {
    AnswerMessageBox(window);
  }
}

// Runs from the modal loop of the window activated last, once its
// initialisation has ended.
void CALLBACK AnswerPending(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  std::vector<HWND> pending;
  pending.swap(g_pending);
  for (HWND window : pending) {
    if (IsWindow(window)) Answer(window);
  }
}

LRESULT CALLBACK CbtProc(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE) {
    HWND window = reinterpret_cast<HWND>(wparam);
    bool seen_before = false;
    for (HWND w : g_answered) seen_before = seen_before || w == window;
    if (!seen_before && ClassName(window) == "#32770") {
      g_answered.push_back(window);
      // Not answered here: a dialog that sets the focus while it initialises
      // is activated before its initialisation ends (the selection dialog
      // selects its first row after that), so a row chosen now would be
      // overridden. The timer's message comes through the modal loop, which
      // runs only once the window is ready.
      // Before a capture the window must have been shown (which the dialog's
      // modal loop does once it first finds no message) and drawn, including
      // what the display sends a new window (expose, configure): the answer
      // then waits a little longer.
      g_pending.push_back(window);
      SetTimer(nullptr, 0, ScreenshotPath().empty() ? 0 : kCaptureDelayMs, AnswerPending);
    }
  }
  return CallNextHookEx(g_hook, code, wparam, lparam);
}

}  // namespace

LoginPrompt::LoginPrompt() {
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = DefWindowProcA;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kPromptClass;
  RegisterClassA(&window_class);
  HWND window = CreateWindowExA(0, kPromptClass, "Login", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 400, 240, nullptr, nullptr,
                                window_class.hInstance, nullptr);
  if (window == nullptr) return;  // reported as "none" then
  ShowWindow(window, SW_SHOWNORMAL);
  window_ = window;
  g_prompt = window;
}

LoginPrompt::~LoginPrompt() {
  if (window_ == nullptr) return;
  g_prompt = nullptr;
  DestroyWindow(static_cast<HWND>(window_));
}

void LoginPrompt::Activate() {
  if (window_ == nullptr) return;
  HWND window = static_cast<HWND>(window_);
  SetForegroundWindow(window);
  SetActiveWindow(window);
}

WindowsUiAutomation::WindowsUiAutomation() {
  if (CurrentUiScript().interactive) return;
  hook_ = SetWindowsHookExA(WH_CBT, CbtProc, nullptr, GetCurrentThreadId());
  g_hook = static_cast<HHOOK>(hook_);
}

WindowsUiAutomation::~WindowsUiAutomation() {
  if (hook_ != nullptr) UnhookWindowsHookEx(static_cast<HHOOK>(hook_));
  g_hook = nullptr;
}

}  // namespace qzlogin
}  // namespace wendrel
