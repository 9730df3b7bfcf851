// The modal dialog natively. There is no window system: the dialog is built
// from the compiled-in template (resources/selection_dialog.def) as data, its
// handlers fill it as they would fill the windows, and the filled dialog is
// then presented once by, in this order, a test's automation script
// (ui_dialog_automation.h), the hosting process's exported
// WendrelHostSelectionDialog (ui_dialog.h), or the terminal when standard
// input is one. Without any of them the dialog is cancelled: an unattended
// login never picks a user on its own.
//
// The presenter's answer is applied as the person's actions would be: the
// chosen row is selected, then OK, the list's double-click notification or
// Cancel reaches the dialog's handlers. An answer that leaves the dialog open
// (a double-click nobody handles) ends it as Cancel, since nobody can be
// asked again.

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/terminal.h"
#include "platform/framework/dialog.h"
#include "platform/framework/dialog_site.h"
#include "platform/framework/list_ctrl.h"
#include "platform/framework/list_model.h"
#include "platform/ui_dialog.h"
#include "platform/ui_dialog_automation.h"

namespace wendrel {
namespace {

constexpr uint32_t kLvsSingleSel = 0x4;
constexpr uint32_t kLvsSortAscending = 0x10;

struct NativeDialog;

// What window_ points to natively: the dialog itself or one of its controls.
struct NativeWindow {
  NativeDialog* dialog = nullptr;
  int id = 0;
  std::string window_class;
  std::string text;
  std::unique_ptr<platform::ListModel> list;  // "SysListView32" controls only
};

struct NativeDialog {
  NativeWindow self;
  std::vector<std::unique_ptr<NativeWindow>> controls;
  NativeWindow* focus = nullptr;
  bool ended = false;
  int result = 0;
};

struct TemplateHeader {
  uint32_t id;
  const char* caption;
};
struct TemplateControl {
  const char* text;
  int id;
  const char* window_class;
  uint32_t style;
};

constexpr TemplateHeader kTemplates[] = {
#define WENDREL_DIALOG(id, x, y, width, height, style, caption, points, face) {id, caption},
#define WENDREL_DIALOG_BEGIN
#define WENDREL_DIALOG_END
#define WENDREL_DIALOG_CONTROL(text, id, window_class, style, x, y, width, height)
#include "resources/selection_dialog.def"
#undef WENDREL_DIALOG
#undef WENDREL_DIALOG_CONTROL
};
// The one template's controls (the file describes a single dialog).
constexpr TemplateControl kControls[] = {
#define WENDREL_DIALOG(id, x, y, width, height, style, caption, points, face)
#define WENDREL_DIALOG_CONTROL(text, id, window_class, style, x, y, width, height) \
  {text, id, window_class, style},
#include "resources/selection_dialog.def"
#undef WENDREL_DIALOG
#undef WENDREL_DIALOG_BEGIN
#undef WENDREL_DIALOG_END
#undef WENDREL_DIALOG_CONTROL
};
static_assert(sizeof(kTemplates) / sizeof(kTemplates[0]) == 1, "one dialog per template file");

bool IsClass(const std::string& window_class, const char* name) {
  return platform::CompareListText(window_class, name) == 0;
}

// The dialog of template `id`, or null when the template is unknown.
std::unique_ptr<NativeDialog> CreateFromTemplate(uint32_t id) {
  if (id != kTemplates[0].id) return nullptr;
  auto dialog = std::make_unique<NativeDialog>();
  dialog->self.dialog = dialog.get();
  dialog->self.id = static_cast<int>(id);
  dialog->self.text = kTemplates[0].caption;
  for (const TemplateControl& c : kControls) {
    auto control = std::make_unique<NativeWindow>();
    control->dialog = dialog.get();
    control->id = c.id;
    control->window_class = c.window_class;
    control->text = c.text;
    if (IsClass(c.window_class, "SysListView32")) {
      control->list = std::make_unique<platform::ListModel>((c.style & kLvsSortAscending) != 0,
                                                            (c.style & kLvsSingleSel) != 0);
    }
    dialog->controls.push_back(std::move(control));
  }
  return dialog;
}

NativeWindow* Window(void* window) { return static_cast<NativeWindow*>(window); }

platform::ListModel* List(void* window) {
  NativeWindow* w = Window(window);
  return w == nullptr ? nullptr : w->list.get();
}

const NativeWindow* FindControl(const NativeDialog& dialog, const char* window_class) {
  for (const auto& control : dialog.controls) {
    if (IsClass(control->window_class, window_class)) return control.get();
  }
  return nullptr;
}

// The dialog as a presenter sees it: caption, the static text, the first
// list's columns and rows in display order, the row selected.
platform::DialogSnapshot Snapshot(const NativeDialog& dialog) {
  platform::DialogSnapshot snapshot;
  snapshot.caption = dialog.self.text;
  if (const NativeWindow* prompt = FindControl(dialog, "Static")) snapshot.prompt = prompt->text;
  const NativeWindow* list_window = FindControl(dialog, "SysListView32");
  if (list_window == nullptr) return snapshot;
  const platform::ListModel& list = *list_window->list;
  for (int c = 0; c < list.column_count(); ++c) {
    snapshot.columns.push_back({list.column(c)->heading, list.column(c)->width});
  }
  // A list without columns still shows its item texts.
  const int columns = list.column_count() > 0 ? list.column_count() : 1;
  for (int r = 0; r < list.item_count(); ++r) {
    std::vector<std::string> row;
    for (int c = 0; c < columns; ++c) row.push_back(list.GetItemText(r, c));
    snapshot.rows.push_back(std::move(row));
  }
  snapshot.selected_row = list.GetNextItem(-1, kLvniSelected);
  snapshot.extended_style = list.extended_style();
  snapshot.list_has_focus = dialog.focus == list_window;
  return snapshot;
}

// The hosting process's presenter, looked up at each use so that a host
// loaded or replaced later is found.
WendrelHostSelectionDialogFn HostPresenter() {
  void* symbol = dlsym(RTLD_DEFAULT, WENDREL_HOST_SELECTION_DIALOG_SYMBOL);
  return reinterpret_cast<WendrelHostSelectionDialogFn>(symbol);
}

int AskHost(WendrelHostSelectionDialogFn host, const platform::DialogSnapshot& snapshot,
            int* row) {
  std::vector<WendrelDialogColumn> columns;
  for (const auto& c : snapshot.columns) columns.push_back({c.heading.c_str(), c.width});
  if (columns.empty()) columns.push_back({"", 0});
  std::vector<const char*> cells;
  for (const auto& r : snapshot.rows) {
    for (size_t c = 0; c < columns.size(); ++c) cells.push_back(c < r.size() ? r[c].c_str() : "");
  }
  WendrelDialogModel model;
  model.caption = snapshot.caption.c_str();
  model.prompt = snapshot.prompt.c_str();
  model.column_count = static_cast<int>(columns.size());
  model.columns = columns.data();
  model.row_count = static_cast<int>(snapshot.rows.size());
  model.cells = cells.data();
  model.selected_row = snapshot.selected_row;
  *row = snapshot.selected_row;
  const int result = host(&model, row);
  if (*row < -1 || *row >= model.row_count) *row = -1;
  return result;
}

// The dialog on the terminal: a numbered table, the selected row marked.
// Standard error, so that a host's report on standard output stays clean.
int AskTerminal(const platform::DialogSnapshot& snapshot, int* row) {
  std::fprintf(stderr, "\n[%s]\n%s\n    ", snapshot.caption.c_str(), snapshot.prompt.c_str());
  for (const auto& c : snapshot.columns) std::fprintf(stderr, "  %-20s", c.heading.c_str());
  std::fprintf(stderr, "\n");
  for (size_t r = 0; r < snapshot.rows.size(); ++r) {
    std::fprintf(stderr, "%c%3zu", static_cast<int>(r) == snapshot.selected_row ? '*' : ' ',
                 r + 1);
    for (const auto& cell : snapshot.rows[r]) std::fprintf(stderr, "  %-20s", cell.c_str());
    std::fprintf(stderr, "\n");
  }
  *row = snapshot.selected_row;
  for (;;) {
    std::fprintf(stderr, "Number of the user (Enter: the marked one, c: Cancel)? ");
    std::fflush(stderr);
    std::string answer;
    if (!platform::ReadTerminalLine(&answer) || answer == "c" || answer == "C") {
      return kWendrelDialogCancel;
    }
    if (answer.empty()) return kWendrelDialogOk;
    char* end = nullptr;
    const long n = std::strtol(answer.c_str(), &end, 10);
    if (*end == '\0' && n >= 1 && n <= static_cast<long>(snapshot.rows.size())) {
      *row = static_cast<int>(n - 1);
      return kWendrelDialogOk;
    }
  }
}

// Carries out the presenter's answer on the open dialog.
void Apply(CDialog& dialog, NativeDialog& native, int result, int row) {
  if (result == kWendrelDialogCannotCreate) {
    dialog.EndDialog(-1);
    return;
  }
  NativeWindow* list_window = nullptr;
  for (const auto& control : native.controls) {
    if (control->list) {
      list_window = control.get();
      break;
    }
  }
  if (list_window != nullptr && row != platform::DialogAction::kKeepSelection) {
    platform::ListModel& list = *list_window->list;
    list.SetItemState(-1, 0, kLvisSelected);
    const uint32_t both = kLvisSelected | kLvisFocused;
    if (row >= 0) list.SetItemState(row, both, both);
  }
  if (result == kWendrelDialogOk) {
    DialogSite::Ok(dialog);
  } else if (result == kWendrelDialogDoubleClick && list_window != nullptr) {
    intptr_t ignored = 0;
    DialogSite::Notify(dialog, list_window->id, kNmDblclk, &ignored);
  } else {
    DialogSite::Cancel(dialog);
  }
}

// Unbinds the dialog object however DoModal is left.
class OpenDialog {
 public:
  OpenDialog(CDialog& dialog, NativeDialog& native) : dialog_(dialog) {
    DialogSite::Open(dialog, &native.self);
  }
  ~OpenDialog() { DialogSite::Close(dialog_); }
  OpenDialog(const OpenDialog&) = delete;
  OpenDialog& operator=(const OpenDialog&) = delete;

 private:
  CDialog& dialog_;
};

}  // namespace

void* DialogItemWindow(void* window, int id) {
  NativeWindow* w = Window(window);
  if (w == nullptr || w->dialog == nullptr) return nullptr;
  for (const auto& control : w->dialog->controls) {
    if (control->id == id) return control.get();
  }
  return nullptr;
}

int CDialog::DoModal() {
  std::unique_ptr<NativeDialog> native = CreateFromTemplate(template_id_);
  if (!native) return -1;
  OpenDialog open(*this, *native);
  if (DialogSite::InitDialog(*this) && native->focus == nullptr && !native->controls.empty()) {
    native->focus = native->controls.front().get();
  }
  if (!native->ended) {
    const platform::DialogSnapshot snapshot = Snapshot(*native);
    int result = kWendrelDialogCancel;
    int row = platform::DialogAction::kKeepSelection;
    if (const platform::DialogScript* script = platform::CurrentDialogAutomation()) {
      const platform::DialogAction action = (*script)(snapshot);
      row = action.row;
      switch (action.kind) {
        case platform::DialogAction::kOk: result = kWendrelDialogOk; break;
        case platform::DialogAction::kDoubleClick: result = kWendrelDialogDoubleClick; break;
        default: result = kWendrelDialogCancel; break;
      }
    } else if (WendrelHostSelectionDialogFn host = HostPresenter()) {
      result = AskHost(host, snapshot, &row);
    } else if (platform::StdinIsTerminal()) {
      result = AskTerminal(snapshot, &row);
    }
    Apply(*this, *native, result, row);
  }
  return native->ended ? native->result : kWendrelDialogCancel;
}

void CDialog::EndDialog(int result) {
  NativeWindow* w = Window(window_);
  if (w == nullptr || w->dialog->ended) return;
  w->dialog->ended = true;
  w->dialog->result = result;
}

void CDialog::SetDlgItemText(int id, const std::string& text) {
  if (NativeWindow* control = Window(DialogItemWindow(window_, id))) control->text = text;
}

void CWnd::SetWindowText(const std::string& text) {
  if (NativeWindow* w = Window(window_)) w->text = text;
}

std::string CWnd::GetWindowText() const {
  const NativeWindow* w = Window(window_);
  return w == nullptr ? std::string() : w->text;
}

void CWnd::SetFocus() {
  if (NativeWindow* w = Window(window_)) w->dialog->focus = w;
}

int CListCtrl::InsertColumn(int column, const std::string& heading, int format, int width) {
  platform::ListModel* list = List(window_);
  return list == nullptr ? -1 : list->InsertColumn(column, heading, format, width < 0 ? 0 : width);
}

int CListCtrl::GetColumnCount() const {
  const platform::ListModel* list = List(window_);
  return list == nullptr ? 0 : list->column_count();
}

bool CListCtrl::GetColumn(int column, std::string* heading, int* width) const {
  const platform::ListModel* list = List(window_);
  const platform::ListModel::Column* c = list == nullptr ? nullptr : list->column(column);
  if (c == nullptr) return false;
  *heading = c->heading;
  *width = c->width;
  return true;
}

int CListCtrl::InsertItem(int item, const std::string& text) {
  platform::ListModel* list = List(window_);
  return list == nullptr ? -1 : list->InsertItem(item, text);
}

int CListCtrl::GetItemCount() const {
  const platform::ListModel* list = List(window_);
  return list == nullptr ? 0 : list->item_count();
}

bool CListCtrl::SetItemText(int item, int sub_item, const std::string& text) {
  platform::ListModel* list = List(window_);
  return list != nullptr && list->SetItemText(item, sub_item, text);
}

std::string CListCtrl::GetItemText(int item, int sub_item) const {
  const platform::ListModel* list = List(window_);
  return list == nullptr ? std::string() : list->GetItemText(item, sub_item);
}

bool CListCtrl::SetItemData(int item, uintptr_t data) {
  platform::ListModel* list = List(window_);
  return list != nullptr && list->SetItemData(item, data);
}

uintptr_t CListCtrl::GetItemData(int item) const {
  const platform::ListModel* list = List(window_);
  return list == nullptr ? 0 : list->GetItemData(item);
}

uint32_t CListCtrl::GetExtendedStyle() const {
  const platform::ListModel* list = List(window_);
  return list == nullptr ? 0 : list->extended_style();
}

uint32_t CListCtrl::SetExtendedStyle(uint32_t style) {
  platform::ListModel* list = List(window_);
  if (list == nullptr) return 0;
  const uint32_t previous = list->extended_style();
  list->set_extended_style(style);
  return previous;
}

bool CListCtrl::SetItemState(int item, uint32_t state, uint32_t mask) {
  platform::ListModel* list = List(window_);
  return list != nullptr && list->SetItemState(item, state, mask);
}

uint32_t CListCtrl::GetItemState(int item, uint32_t mask) const {
  const platform::ListModel* list = List(window_);
  return list == nullptr ? 0 : list->GetItemState(item, mask);
}

int CListCtrl::GetNextItem(int start, uint32_t flags) const {
  const platform::ListModel* list = List(window_);
  return list == nullptr ? -1 : list->GetNextItem(start, flags);
}

}  // namespace wendrel
