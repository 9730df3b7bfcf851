// CListCtrl: the framework's wrapper of the list-view control
// ("SysListView32"), with the operations the selection dialog uses. On
// Windows each call is the list-view message to the real control; natively
// the control is a ListModel (list_model.h) of the open dialog, which keeps
// columns, items, sorting and states as the list view does.

#ifndef WENDREL_PLATFORM_FRAMEWORK_LIST_CTRL_H_
#define WENDREL_PLATFORM_FRAMEWORK_LIST_CTRL_H_

#include <cstdint>
#include <string>

#include "platform/framework/wnd.h"

namespace wendrel {

// Values of the list view's constants.
constexpr int kLvcfmtLeft = 0x0;               // LVCFMT_LEFT
constexpr uint32_t kLvsExFullRowSelect = 0x20;  // LVS_EX_FULLROWSELECT
constexpr uint32_t kLvisFocused = 0x1;          // LVIS_FOCUSED
constexpr uint32_t kLvisSelected = 0x2;         // LVIS_SELECTED
constexpr uint32_t kLvniAll = 0x0;              // LVNI_ALL
constexpr uint32_t kLvniFocused = 0x1;          // LVNI_FOCUSED
constexpr uint32_t kLvniSelected = 0x2;         // LVNI_SELECTED
constexpr int kNmDblclk = -3;                   // NM_DBLCLK

class CListCtrl : public CWnd {
 public:
  // LVM_INSERTCOLUMN with the heading, format and width (pixels; -1 leaves
  // the width out). Returns the new column's index, -1 on failure.
  int InsertColumn(int column, const std::string& heading, int format = kLvcfmtLeft,
                   int width = -1);
  int GetColumnCount() const;
  // The heading and width of a column; false when there is no such column.
  bool GetColumn(int column, std::string* heading, int* width) const;

  // LVM_INSERTITEM with text only. A list with LVS_SORTASCENDING places the
  // item at its sorted position: the returned index is where it landed.
  // -1 on failure.
  int InsertItem(int item, const std::string& text);
  int GetItemCount() const;
  // LVM_SETITEMTEXT of sub-item `sub_item` (0 is the item's own text).
  bool SetItemText(int item, int sub_item, const std::string& text);
  std::string GetItemText(int item, int sub_item) const;

  // The application's value kept with an item (LVIF_PARAM); 0 when none.
  bool SetItemData(int item, uintptr_t data);
  uintptr_t GetItemData(int item) const;

  // LVM_GETEXTENDEDLISTVIEWSTYLE / LVM_SETEXTENDEDLISTVIEWSTYLE; Set returns
  // the previous style.
  uint32_t GetExtendedStyle() const;
  uint32_t SetExtendedStyle(uint32_t style);

  // LVM_SETITEMSTATE: the bits of `state` under `mask`; item -1 means every
  // item. LVM_GETITEMSTATE: the state bits under `mask`.
  bool SetItemState(int item, uint32_t state, uint32_t mask);
  uint32_t GetItemState(int item, uint32_t mask) const;

  // LVM_GETNEXTITEM: the first item after `start` (-1: from the first) that
  // has the states `flags` asks for (kLvniSelected, kLvniFocused, or
  // kLvniAll for any); -1 when there is none.
  int GetNextItem(int start, uint32_t flags) const;
};

}  // namespace wendrel

#endif  // WENDREL_PLATFORM_FRAMEWORK_LIST_CTRL_H_
