// The modal dialog on Windows: the real dialog from the template in the
// current resource module (the extension's own when none is current), run
// by DialogBoxParamA, with the common controls' list view registered first.
// A dialog constructed without a parent is owned as the framework owns it:
// by the calling thread's active top-level window, which the system disables
// while the dialog runs.
//
// Handlers run inside the dialog procedure, which the system calls: an
// exception must not unwind through the system's frames. The procedure
// catches it, ends the dialog with -1 (the system then destroys the window),
// and DoModal throws it again once DialogBoxParamA has returned, so the
// caller sees the exception as if the handler had been called directly, with
// no window left behind.
//
// Automation (ui_dialog_automation.h): when a script is set, the procedure
// posts itself a message at the end of WM_INITDIALOG; when the modal loop
// delivers it, the dialog is open and filled, and the script's snapshot and
// action go through the controls' own messages.

#include <windows.h>
#include <commctrl.h>
// The framework's methods bear the names the system's headers turn into
// their A/W macros.
#undef GetWindowText
#undef SetWindowText
#undef SetDlgItemText

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "platform/framework/dialog.h"
#include "platform/framework/dialog_site.h"
#include "platform/framework/list_ctrl.h"
#include "platform/resources.h"
#include "platform/ui_dialog_automation.h"
#include "platform/win32/modal_owner_win32.h"

namespace wendrel {
namespace {

constexpr UINT kAutomateMessage = WM_APP + 0x57;

struct RunState {
  CDialog* dialog;
  std::exception_ptr error;
};

HWND Hwnd(void* window) { return static_cast<HWND>(window); }

// Runs `handler`; an exception ends the dialog and is kept for DoModal.
template <typename Handler>
bool Guarded(RunState* run, HWND hwnd, Handler handler) {
  try {
    handler();
    return true;
  } catch (...) {
    if (!run->error) run->error = std::current_exception();
    ::EndDialog(hwnd, -1);
    return false;
  }
}

std::string WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthA(hwnd);
  std::vector<char> buffer(static_cast<size_t>(length < 0 ? 0 : length) + 1, '\0');
  GetWindowTextA(hwnd, buffer.data(), static_cast<int>(buffer.size()));
  return std::string(buffer.data());
}

// The first child window of `window_class` (case-insensitive), or null.
HWND FindChild(HWND dialog, const char* window_class) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    char name[64] = {};
    GetClassNameA(child, name, sizeof(name));
    if (lstrcmpiA(name, window_class) == 0) return child;
  }
  return nullptr;
}

// A list view text of at most 1023 bytes; longer texts are cut, which no
// snapshot compares.
std::string ListText(HWND list, int item, int sub_item) {
  char buffer[1024] = {};
  LVITEMA lv = {};
  lv.iSubItem = sub_item;
  lv.pszText = buffer;
  lv.cchTextMax = sizeof(buffer);
  SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
  return std::string(buffer);
}

platform::DialogSnapshot Snapshot(HWND dialog) {
  platform::DialogSnapshot snapshot;
  snapshot.caption = WindowText(dialog);
  if (HWND prompt = FindChild(dialog, WC_STATICA)) snapshot.prompt = WindowText(prompt);
  HWND list = FindChild(dialog, WC_LISTVIEWA);
  if (list == nullptr) return snapshot;
  HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  const int columns =
      header == nullptr ? 0 : static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
  for (int c = 0; c < columns; ++c) {
    char heading[256] = {};
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = heading;
    column.cchTextMax = sizeof(heading);
    SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
    snapshot.columns.push_back({heading, column.cx});
  }
  const int items = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int r = 0; r < items; ++r) {
    std::vector<std::string> row;
    for (int c = 0; c < (columns > 0 ? columns : 1); ++c) row.push_back(ListText(list, r, c));
    snapshot.rows.push_back(std::move(row));
  }
  snapshot.selected_row = static_cast<int>(
      SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_SELECTED, 0)));
  snapshot.extended_style =
      static_cast<unsigned>(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
  snapshot.list_has_focus = GetFocus() == list;
  return snapshot;
}

void SetListState(HWND list, int item, UINT state, UINT mask) {
  LVITEMA lv = {};
  lv.stateMask = mask;
  lv.state = state;
  SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
}

void PressButton(HWND dialog, int id) {
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void Automate(HWND dialog, const platform::DialogScript& script) {
  const platform::DialogAction action = script(Snapshot(dialog));
  HWND list = FindChild(dialog, WC_LISTVIEWA);
  if (list != nullptr && action.row != platform::DialogAction::kKeepSelection) {
    SetListState(list, -1, 0, LVIS_SELECTED);
    if (action.row >= 0) {
      SetListState(list, action.row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    }
  }
  switch (action.kind) {
    case platform::DialogAction::kOk:
      PressButton(dialog, IDOK);
      break;
    case platform::DialogAction::kCancel:
      PressButton(dialog, IDCANCEL);
      break;
    case platform::DialogAction::kClose:
      // The close box: the dialog manager turns it into IDCANCEL.
      SendMessageA(dialog, WM_CLOSE, 0, 0);
      break;
    case platform::DialogAction::kDoubleClick: {
      if (list == nullptr) break;
      // A double-click where the row is; the list view itself then sends
      // NM_DBLCLK to the dialog.
      RECT rect = {};
      rect.left = LVIR_LABEL;
      POINT at = {4, 4};
      if (action.row >= 0 && SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(action.row),
                                          reinterpret_cast<LPARAM>(&rect))) {
        at.x = (rect.left + rect.right) / 2;
        at.y = (rect.top + rect.bottom) / 2;
      }
      SendMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(at.x, at.y));
      break;
    }
  }
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    RunState* run = reinterpret_cast<RunState*>(lparam);
    SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(run));
    DialogSite::Open(*run->dialog, hwnd);
    bool default_focus = true;
    if (!Guarded(run, hwnd, [&] { default_focus = DialogSite::InitDialog(*run->dialog); })) {
      return FALSE;
    }
    if (platform::CurrentDialogAutomation() != nullptr) PostMessageA(hwnd, kAutomateMessage, 0, 0);
    return default_focus ? TRUE : FALSE;
  }
  RunState* run = reinterpret_cast<RunState*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (run == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) {
        Guarded(run, hwnd, [&] { DialogSite::Ok(*run->dialog); });
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        Guarded(run, hwnd, [&] { DialogSite::Cancel(*run->dialog); });
        return TRUE;
      }
      break;
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lparam);
      intptr_t result = 0;
      bool handled = false;
      Guarded(run, hwnd, [&] {
        handled = DialogSite::Notify(*run->dialog, static_cast<int>(header->idFrom),
                                     static_cast<int>(header->code), &result);
      });
      if (handled) {
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, static_cast<LONG_PTR>(result));
        return TRUE;
      }
      break;
    }
    case kAutomateMessage:
      if (const platform::DialogScript* script = platform::CurrentDialogAutomation()) {
        Guarded(run, hwnd, [&] { Automate(hwnd, *script); });
      }
      return TRUE;
    default:
      break;
  }
  return FALSE;
}

LRESULT Send(void* window, UINT message, WPARAM wparam, LPARAM lparam) {
  return window == nullptr ? 0 : SendMessageA(Hwnd(window), message, wparam, lparam);
}

}  // namespace

void* DialogItemWindow(void* window, int id) {
  return window == nullptr ? nullptr : GetDlgItem(Hwnd(window), id);
}

int CDialog::DoModal() {
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_LISTVIEW_CLASSES;
  InitCommonControlsEx(&controls);
  platform::ResourceModule module = platform::CurrentResourceModule();
  if (module == nullptr) module = platform::OwnModule();
  RunState run = {this, nullptr};
  HWND owner = parent_ != nullptr ? Hwnd(parent_) : platform::FrameworkModalOwner();
  const INT_PTR result = DialogBoxParamA(static_cast<HINSTANCE>(module),
                                         MAKEINTRESOURCEA(template_id_), owner, DialogProc,
                                         reinterpret_cast<LPARAM>(&run));
  DialogSite::Close(*this);
  if (run.error) std::rethrow_exception(run.error);
  return static_cast<int>(result);
}

void CDialog::EndDialog(int result) {
  if (window_ != nullptr) ::EndDialog(Hwnd(window_), result);
}

void CDialog::SetDlgItemText(int id, const std::string& text) {
  if (window_ != nullptr) SetDlgItemTextA(Hwnd(window_), id, text.c_str());
}

void CWnd::SetWindowText(const std::string& text) {
  if (window_ != nullptr) SetWindowTextA(Hwnd(window_), text.c_str());
}

std::string CWnd::GetWindowText() const {
  return window_ == nullptr ? std::string() : WindowText(Hwnd(window_));
}

void CWnd::SetFocus() {
  if (window_ != nullptr) ::SetFocus(Hwnd(window_));
}

int CListCtrl::InsertColumn(int column, const std::string& heading, int format, int width) {
  LVCOLUMNA lv = {};
  lv.mask = LVCF_FMT | LVCF_TEXT | (width >= 0 ? LVCF_WIDTH : 0);
  lv.fmt = format;
  lv.cx = width;
  lv.pszText = const_cast<char*>(heading.c_str());
  return static_cast<int>(Send(window_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column),
                               reinterpret_cast<LPARAM>(&lv)));
}

int CListCtrl::GetColumnCount() const {
  HWND header = reinterpret_cast<HWND>(Send(window_, LVM_GETHEADER, 0, 0));
  return header == nullptr ? 0 : static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
}

bool CListCtrl::GetColumn(int column, std::string* heading, int* width) const {
  char buffer[256] = {};
  LVCOLUMNA lv = {};
  lv.mask = LVCF_TEXT | LVCF_WIDTH;
  lv.pszText = buffer;
  lv.cchTextMax = sizeof(buffer);
  if (!Send(window_, LVM_GETCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&lv))) {
    return false;
  }
  *heading = buffer;
  *width = lv.cx;
  return true;
}

int CListCtrl::InsertItem(int item, const std::string& text) {
  LVITEMA lv = {};
  lv.mask = LVIF_TEXT;
  lv.iItem = item;
  lv.pszText = const_cast<char*>(text.c_str());
  if (window_ == nullptr) return -1;
  return static_cast<int>(Send(window_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&lv)));
}

int CListCtrl::GetItemCount() const {
  return static_cast<int>(Send(window_, LVM_GETITEMCOUNT, 0, 0));
}

bool CListCtrl::SetItemText(int item, int sub_item, const std::string& text) {
  LVITEMA lv = {};
  lv.iSubItem = sub_item;
  lv.pszText = const_cast<char*>(text.c_str());
  return Send(window_, LVM_SETITEMTEXTA, static_cast<WPARAM>(item),
              reinterpret_cast<LPARAM>(&lv)) != 0;
}

std::string CListCtrl::GetItemText(int item, int sub_item) const {
  return window_ == nullptr ? std::string() : ListText(Hwnd(window_), item, sub_item);
}

bool CListCtrl::SetItemData(int item, uintptr_t data) {
  LVITEMA lv = {};
  lv.mask = LVIF_PARAM;
  lv.iItem = item;
  lv.lParam = static_cast<LPARAM>(data);
  return Send(window_, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&lv)) != 0;
}

uintptr_t CListCtrl::GetItemData(int item) const {
  LVITEMA lv = {};
  lv.mask = LVIF_PARAM;
  lv.iItem = item;
  if (!Send(window_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&lv))) return 0;
  return static_cast<uintptr_t>(lv.lParam);
}

uint32_t CListCtrl::GetExtendedStyle() const {
  return static_cast<uint32_t>(Send(window_, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
}

uint32_t CListCtrl::SetExtendedStyle(uint32_t style) {
  return static_cast<uint32_t>(Send(window_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, style));
}

bool CListCtrl::SetItemState(int item, uint32_t state, uint32_t mask) {
  LVITEMA lv = {};
  lv.stateMask = mask;
  lv.state = state;
  return Send(window_, LVM_SETITEMSTATE, static_cast<WPARAM>(item),
              reinterpret_cast<LPARAM>(&lv)) != 0;
}

uint32_t CListCtrl::GetItemState(int item, uint32_t mask) const {
  return static_cast<uint32_t>(Send(window_, LVM_GETITEMSTATE, static_cast<WPARAM>(item), mask));
}

int CListCtrl::GetNextItem(int start, uint32_t flags) const {
  if (window_ == nullptr) return -1;
  return static_cast<int>(Send(window_, LVM_GETNEXTITEM, static_cast<WPARAM>(start),
                               MAKELPARAM(flags, 0)));
}

}  // namespace wendrel
