#include "platform/framework/list_model.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace wendrel {
namespace platform {
namespace {

std::vector<std::string> Texts(const ListModel& list) {
  std::vector<std::string> texts;
  for (int i = 0; i < list.item_count(); ++i) texts.push_back(list.GetItemText(i, 0));
  return texts;
}

TEST(ListModelTest, SortedInsertIgnoresCaseButForTiesAndPutsEqualTextsFirst) {
  ListModel list(/*sorted=*/true, /*single_selection=*/true);
  EXPECT_EQ(0, list.InsertItem(0, "carol"));
  EXPECT_EQ(0, list.InsertItem(1, "Alice"));
  EXPECT_EQ(1, list.InsertItem(2, "bob"));
  EXPECT_EQ(3, list.InsertItem(0, "carol2"));
  list.SetItemData(2, 1);  // the first "carol"
  EXPECT_EQ(3, list.InsertItem(0, "CAROL"));  // after "carol": lower case first
  EXPECT_EQ(2, list.InsertItem(0, "carol"));  // before the equal one there
  list.SetItemData(2, 2);
  EXPECT_EQ((std::vector<std::string>{"Alice", "bob", "carol", "carol", "CAROL", "carol2"}),
            Texts(list));
  EXPECT_EQ(2u, list.GetItemData(2));
  EXPECT_EQ(1u, list.GetItemData(3));
  EXPECT_EQ(-1, list.InsertItem(-1, "x"));

  EXPECT_EQ(0, CompareListText("jsmith", "jsmith"));
  EXPECT_LT(CompareListText("jsmith", "JSMITH"), 0);
  EXPECT_LT(CompareListText("JSMITH", "jSmitha"), 0);  // case only breaks ties
  EXPECT_LT(CompareListText("a.b", "a1"), 0);  // punctuation before digits
  EXPECT_LT(CompareListText("a1", "ab"), 0);   // digits before letters
  EXPECT_LT(CompareListText("ab", "abc"), 0);

  ListModel unsorted(false, true);
  unsorted.InsertItem(0, "b");
  EXPECT_EQ(0, unsorted.InsertItem(0, "a"));
  EXPECT_EQ(2, unsorted.InsertItem(9, "c"));  // past the end appends
}

TEST(ListModelTest, ColumnsAndCells) {
  ListModel list(true, true);
  EXPECT_EQ(0, list.InsertColumn(0, "User Name", 0, 100));
  EXPECT_EQ(1, list.InsertColumn(5, "User Context", 0, 150));
  ASSERT_NE(nullptr, list.column(1));
  EXPECT_EQ("User Context", list.column(1)->heading);
  EXPECT_EQ(150, list.column(1)->width);
  EXPECT_EQ(nullptr, list.column(2));
  const int item = list.InsertItem(0, "jsmith");
  EXPECT_TRUE(list.SetItemText(item, 1, "sales.acme"));
  EXPECT_FALSE(list.SetItemText(item, 2, "no such column"));
  EXPECT_FALSE(list.SetItemText(7, 1, "no such item"));
  EXPECT_EQ("sales.acme", list.GetItemText(item, 1));
  EXPECT_EQ("", list.GetItemText(item, 3));
  // A column inserted between moves the cells to its right along.
  EXPECT_EQ(1, list.InsertColumn(1, "EMail Name", 0, 150));
  EXPECT_EQ("", list.GetItemText(item, 1));
  EXPECT_EQ("sales.acme", list.GetItemText(item, 2));
  EXPECT_EQ("jsmith", list.GetItemText(item, 0));
}

TEST(ListModelTest, SingleSelectionAndFocus) {
  ListModel list(true, true);
  for (const char* name : {"a", "b", "c"}) list.InsertItem(0, name);
  EXPECT_EQ(-1, list.GetNextItem(-1, 2));
  EXPECT_TRUE(list.SetItemState(0, 2, 3));  // selected, focus cleared
  EXPECT_EQ(2u, list.GetItemState(0, 3));
  EXPECT_TRUE(list.SetItemState(2, 3, 3));
  EXPECT_EQ(0u, list.GetItemState(0, 2));  // one selected row at most
  EXPECT_EQ(2, list.GetNextItem(-1, 2));
  EXPECT_EQ(2, list.GetNextItem(-1, 1));
  EXPECT_EQ(-1, list.GetNextItem(2, 2));
  EXPECT_EQ(1, list.GetNextItem(0, 0));  // any item after 0
  EXPECT_TRUE(list.SetItemState(-1, 0, 2));
  EXPECT_EQ(-1, list.GetNextItem(-1, 2));
  EXPECT_FALSE(list.SetItemState(3, 2, 2));

  ListModel multi(true, false);
  for (const char* name : {"a", "b"}) multi.InsertItem(0, name);
  multi.SetItemState(-1, 2, 2);
  EXPECT_EQ(0, multi.GetNextItem(-1, 2));
  EXPECT_EQ(1, multi.GetNextItem(0, 2));
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
