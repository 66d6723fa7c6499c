// ForEachCabFile: how the CabFiles list is split for the hand-off's moves and
// Cancel's deletes (items in order, blanks kept, empty items handed over,
// every comma and nothing else left as a zero).
#include "handoff/cablist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using Items = std::vector<std::string>;

TEST(CabFileList, SplitsEveryRowOfTheTable) {
  const struct {
    const char* list;
    Items items;
  } rows[] = {{"a.cab", {"a.cab"}},
              {"a.cab,b.cab", {"a.cab", "b.cab"}},
              {"a.cab,b.cab,", {"a.cab", "b.cab"}},
              {"a.cab,,b.cab", {"a.cab", "", "b.cab"}},
              {",a.cab", {"", "a.cab"}},
              {"a.cab , b.cab", {"a.cab ", " b.cab"}},
              {"", {""}}};
  for (const auto& row : rows) {
    std::string list = row.list, zeros = row.list;
    std::replace(zeros.begin(), zeros.end(), ',', '\0');
    Items items;
    ForEachCabFile(
        &list[0], [](const char* item, void* c) { static_cast<Items*>(c)->push_back(item); }, &items);
    EXPECT_EQ(items, row.items) << "list \"" << row.list << '"';
    EXPECT_EQ(list, zeros) << "list \"" << row.list << "\" as the walk leaves it";
  }
}
