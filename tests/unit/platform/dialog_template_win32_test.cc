// The selection dialog's template as windres compiled it into the program:
// the DLGTEMPLATE bytes of DIALOG 9001, read back as the dialog manager reads
// them.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/resources.h"

namespace wendrel {
namespace {

class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

  uint16_t Word() {
    if (at_ + 2 > bytes_.size()) {
      ok_ = false;
      return 0;
    }
    uint16_t value;
    std::memcpy(&value, &bytes_[at_], 2);
    at_ += 2;
    return value;
  }
  uint32_t Dword() {
    const uint32_t low = Word();
    return low | (static_cast<uint32_t>(Word()) << 16);
  }
  // A UTF-16 string (ASCII here), or "#n" for an ordinal.
  std::string SzOrOrdinal() {
    const uint16_t first = Word();
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    std::string text;
    for (uint16_t c = first; ok_ && c != 0; c = Word()) text.push_back(static_cast<char>(c));
    return text;
  }
  void AlignDword() { at_ = (at_ + 3) & ~static_cast<size_t>(3); }
  bool ok() const { return ok_; }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t at_ = 0;
  bool ok_ = true;
};

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

struct Item {
  uint32_t style;
  int x, y, cx, cy;
  uint16_t id;
  std::string window_class;
  std::string text;
};

TEST(DialogTemplateTest, Dialog9001IsTheSelectionDialog) {
  std::vector<uint8_t> bytes;
  ASSERT_EQ(0, platform::LoadCustomResource(nullptr, "#5", 9001, &bytes));  // RT_DIALOG
  TemplateReader r(bytes);
  EXPECT_EQ(0x80C800C0u, r.Dword());  // style
  EXPECT_EQ(0u, r.Dword());           // extended style
  const uint16_t count = r.Word();
  EXPECT_EQ(4, count);
  EXPECT_EQ(0, static_cast<int16_t>(r.Word()));
  EXPECT_EQ(0, static_cast<int16_t>(r.Word()));
  EXPECT_EQ(314, static_cast<int16_t>(r.Word()));
  EXPECT_EQ(151, static_cast<int16_t>(r.Word()));
  EXPECT_EQ("", r.SzOrOrdinal());  // no menu
  EXPECT_EQ("", r.SzOrOrdinal());  // the standard dialog class
  EXPECT_EQ("Select", r.SzOrOrdinal());
  EXPECT_EQ(8, r.Word());
  EXPECT_EQ("MS Sans Serif", r.SzOrOrdinal());

  std::vector<Item> items;
  for (int i = 0; i < count && r.ok(); ++i) {
    r.AlignDword();
    Item item;
    item.style = r.Dword();
    EXPECT_EQ(0u, r.Dword());
    item.x = static_cast<int16_t>(r.Word());
    item.y = static_cast<int16_t>(r.Word());
    item.cx = static_cast<int16_t>(r.Word());
    item.cy = static_cast<int16_t>(r.Word());
    item.id = r.Word();
    item.window_class = r.SzOrOrdinal();
    item.text = r.SzOrOrdinal();
    EXPECT_EQ(0, r.Word());  // no creation data
    items.push_back(item);
  }
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(4u, items.size());
  auto check = [](const Item& item, uint32_t style, int x, int y, int cx, int cy, int id,
                  const std::vector<std::string>& classes, const std::string& text) {
    SCOPED_TRACE(text);
    EXPECT_EQ(style, item.style);
    EXPECT_EQ(x, item.x);
    EXPECT_EQ(y, item.y);
    EXPECT_EQ(cx, item.cx);
    EXPECT_EQ(cy, item.cy);
    EXPECT_EQ(id, item.id);
    bool class_ok = false;
    for (const auto& c : classes) class_ok = class_ok || Lower(c) == Lower(item.window_class);
    EXPECT_TRUE(class_ok) << item.window_class;
    EXPECT_EQ(text, item.text);
  };
  // Buttons and statics may be stored by name or by their ordinals.
  check(items[0], 0x50010001u, 105, 129, 50, 14, 1, {"Button", "#128"}, "OK");
  check(items[1], 0x50010000u, 159, 129, 50, 14, 2, {"Button", "#128"}, "Cancel");
  check(items[2], 0x50000000u, 7, 7, 234, 8, 9003, {"Static", "#130"}, "Which user do you wish?");
  check(items[3], 0x50810015u, 7, 20, 300, 100, 9001, {"SysListView32"}, "List1");
}

}  // namespace
}  // namespace wendrel
