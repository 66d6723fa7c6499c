// ForEachCabFile: how the CabFiles list is split for the hand-off's moves and
// Cancel's deletes (items in order, blanks kept, empty items handed over).
#include "handoff/cablist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

static std::vector<std::string> Split(std::string list) {
  std::vector<std::string> items;
  ForEachCabFile(
      &list[0],
      [](const char* item, void* context) { static_cast<std::vector<std::string>*>(context)->push_back(item); },
      &items);
  return items;
}

using Items = std::vector<std::string>;

TEST(CabFileList, SplitsEveryRowOfTheTable) {
  EXPECT_EQ(Split("a.cab"), Items({"a.cab"}));
  EXPECT_EQ(Split("a.cab,b.cab"), Items({"a.cab", "b.cab"}));
  EXPECT_EQ(Split("a.cab,b.cab,"), Items({"a.cab", "b.cab"}));
  EXPECT_EQ(Split("a.cab,,b.cab"), Items({"a.cab", "", "b.cab"}));
  EXPECT_EQ(Split(",a.cab"), Items({"", "a.cab"}));
  EXPECT_EQ(Split("a.cab , b.cab"), Items({"a.cab ", " b.cab"}));
  EXPECT_EQ(Split(""), Items({""}));
}

TEST(CabFileList, LeavesZerosWhereTheCommasWere) {
  char list[] = "a,b,,c";
  ForEachCabFile(
      list, [](const char*, void*) {}, nullptr);
  EXPECT_EQ(std::string(list, sizeof list - 1), std::string("a\0b\0\0c", 6));
}

TEST(CabFileList, HandsOverEachItemBeforeLookingFurther) {
  // An action that ends the list early (as a delete changes nothing of the
  // list, this only shows that items go out one at a time, in order).
  struct Seen {
    std::vector<std::string> items;
    char* list;
  } seen{{}, nullptr};
  char list[] = "x.cab,y.cab,z.cab";
  seen.list = list;
  ForEachCabFile(
      list,
      [](const char* item, void* context) {
        Seen* s = static_cast<Seen*>(context);
        s->items.push_back(item);
        if (s->items.size() == 1) s->list[6] = 'Y';  // the next item, not yet handed over
      },
      &seen);
  EXPECT_EQ(seen.items, Items({"x.cab", "Y.cab", "z.cab"}));
}
