// ListModel: a report-view list as data, what the native backend keeps for a
// "SysListView32" control and hands to whoever presents the dialog. It
// behaves as the list view does for the operations CListCtrl offers.
//
// Sorting (LVS_SORTASCENDING): an inserted item goes to its place by item
// text, compared as the system's list view compares (CompareListText): case
// counts only between texts that are otherwise equal, and then the lower-case
// letter sorts first. A text exactly equal to items already there goes before
// them, as the list view under Wine places it (checked against the real
// control by tests/unit/platform/dialog_test.cc). The system's comparison is
// the locale's word sort, which also passes over hyphens and apostrophes; the
// native one folds ASCII letters and otherwise compares bytes, which orders
// the names a directory holds (letters, digits, dots) the same way.

#ifndef WENDREL_PLATFORM_FRAMEWORK_LIST_MODEL_H_
#define WENDREL_PLATFORM_FRAMEWORK_LIST_MODEL_H_

#include <cstdint>
#include <string>
#include <vector>

namespace wendrel {
namespace platform {

// < 0, 0 or > 0 as `a` sorts before, with or after `b`: case-insensitive
// first; between texts equal but for case, the first differing letter in
// lower case sorts first.
int CompareListText(const std::string& a, const std::string& b);

class ListModel {
 public:
  struct Column {
    std::string heading;
    int format = 0;
    int width = 0;
  };

  // `sorted`: LVS_SORTASCENDING; `single_selection`: LVS_SINGLESEL.
  ListModel(bool sorted, bool single_selection)
      : sorted_(sorted), single_selection_(single_selection) {}

  // Inserts before column `index` (appends past the end); -1 when index < 0.
  // Rows gain an empty cell there.
  int InsertColumn(int index, std::string heading, int format, int width);
  int column_count() const { return static_cast<int>(columns_.size()); }
  const Column* column(int index) const;

  // Inserts an item; in a sorted list `index` is ignored and the item goes
  // to its sorted place. Returns the item's index, -1 when index < 0.
  int InsertItem(int index, std::string text);
  int item_count() const { return static_cast<int>(items_.size()); }

  // Cell `sub_item` of `item`: 0 is the item's text. Sub-items need a
  // column; the item's own text does not. Changing the item text does not
  // move the item, as with the list view.
  bool SetItemText(int item, int sub_item, std::string text);
  std::string GetItemText(int item, int sub_item) const;

  bool SetItemData(int item, uintptr_t data);
  uintptr_t GetItemData(int item) const;

  // item -1: every item. Selecting an item of a single-selection list
  // clears the selection of the others; one item at most has the focus.
  bool SetItemState(int item, uint32_t state, uint32_t mask);
  uint32_t GetItemState(int item, uint32_t mask) const;
  int GetNextItem(int start, uint32_t flags) const;

  uint32_t extended_style() const { return extended_style_; }
  void set_extended_style(uint32_t style) { extended_style_ = style; }

 private:
  struct Item {
    std::vector<std::string> cells;  // at least one: the item's text
    uintptr_t data = 0;
    uint32_t state = 0;
  };

  bool Valid(int item) const { return item >= 0 && item < item_count(); }
  void SetOneItemState(int item, uint32_t state, uint32_t mask);

  bool sorted_;
  bool single_selection_;
  uint32_t extended_style_ = 0;
  std::vector<Column> columns_;
  std::vector<Item> items_;
};

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_FRAMEWORK_LIST_MODEL_H_
