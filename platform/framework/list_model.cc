#include "platform/framework/list_model.h"

#include <utility>

namespace wendrel {
namespace platform {
namespace {

constexpr uint32_t kSelected = 0x2;  // LVIS_SELECTED
constexpr uint32_t kFocused = 0x1;   // LVIS_FOCUSED

unsigned char Fold(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

}  // namespace

int CompareListText(const std::string& a, const std::string& b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = Fold(a[i]);
    const unsigned char y = Fold(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  // Equal but for case: lower case first (the bytes of 'a'..'z' are the
  // greater ones, hence the inverted comparison).
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[i]);
    if (x != y) return x > y ? -1 : 1;
  }
  return 0;
}

int ListModel::InsertColumn(int index, std::string heading, int format, int width) {
  if (index < 0) return -1;
  if (index > column_count()) index = column_count();
  Column column;
  column.heading = std::move(heading);
  column.format = format;
  column.width = width;
  columns_.insert(columns_.begin() + index, std::move(column));
  // Sub-item cells follow their column; cell 0 stays the item's text.
  if (index > 0) {
    for (Item& item : items_) {
      if (static_cast<int>(item.cells.size()) > index) {
        item.cells.insert(item.cells.begin() + index, std::string());
      }
    }
  }
  return index;
}

const ListModel::Column* ListModel::column(int index) const {
  if (index < 0 || index >= column_count()) return nullptr;
  return &columns_[static_cast<size_t>(index)];
}

int ListModel::InsertItem(int index, std::string text) {
  if (index < 0) return -1;
  if (sorted_) {
    // Before the first item that does not sort before the new one.
    index = 0;
    while (index < item_count() &&
           CompareListText(items_[static_cast<size_t>(index)].cells[0], text) < 0) {
      ++index;
    }
  } else if (index > item_count()) {
    index = item_count();
  }
  Item item;
  item.cells.push_back(std::move(text));
  items_.insert(items_.begin() + index, std::move(item));
  return index;
}

bool ListModel::SetItemText(int item, int sub_item, std::string text) {
  if (!Valid(item) || sub_item < 0) return false;
  if (sub_item > 0 && sub_item >= column_count()) return false;
  std::vector<std::string>& cells = items_[static_cast<size_t>(item)].cells;
  if (static_cast<int>(cells.size()) <= sub_item) cells.resize(static_cast<size_t>(sub_item) + 1);
  cells[static_cast<size_t>(sub_item)] = std::move(text);
  return true;
}

std::string ListModel::GetItemText(int item, int sub_item) const {
  if (!Valid(item) || sub_item < 0) return std::string();
  const std::vector<std::string>& cells = items_[static_cast<size_t>(item)].cells;
  if (sub_item >= static_cast<int>(cells.size())) return std::string();
  return cells[static_cast<size_t>(sub_item)];
}

bool ListModel::SetItemData(int item, uintptr_t data) {
  if (!Valid(item)) return false;
  items_[static_cast<size_t>(item)].data = data;
  return true;
}

uintptr_t ListModel::GetItemData(int item) const {
  return Valid(item) ? items_[static_cast<size_t>(item)].data : 0;
}

void ListModel::SetOneItemState(int item, uint32_t state, uint32_t mask) {
  uint32_t& current = items_[static_cast<size_t>(item)].state;
  const uint32_t next = (current & ~mask) | (state & mask);
  const bool gains_selection = (next & kSelected) && !(current & kSelected);
  const bool gains_focus = (next & kFocused) && !(current & kFocused);
  current = next;
  for (int other = 0; other < item_count(); ++other) {
    if (other == item) continue;
    uint32_t& s = items_[static_cast<size_t>(other)].state;
    if (gains_selection && single_selection_) s &= ~kSelected;
    if (gains_focus) s &= ~kFocused;
  }
}

bool ListModel::SetItemState(int item, uint32_t state, uint32_t mask) {
  if (item == -1) {
    // The list view applies a change to every item one by one; selecting
    // them all in a single-selection list leaves none but the last.
    for (int i = 0; i < item_count(); ++i) SetOneItemState(i, state, mask);
    return true;
  }
  if (!Valid(item)) return false;
  SetOneItemState(item, state, mask);
  return true;
}

uint32_t ListModel::GetItemState(int item, uint32_t mask) const {
  return Valid(item) ? (items_[static_cast<size_t>(item)].state & mask) : 0;
}

int ListModel::GetNextItem(int start, uint32_t flags) const {
  const uint32_t wanted = flags & (kSelected | kFocused);
  for (int i = start < 0 ? 0 : start + 1; i < item_count(); ++i) {
    if ((items_[static_cast<size_t>(i)].state & wanted) == wanted) return i;
  }
  return -1;
}

}  // namespace platform
}  // namespace wendrel
