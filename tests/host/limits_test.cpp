// The pure rules the program and zqpack share: the payload checksum, the
// reader's limits, the plain-file-name rule and the split of CabFiles.
#include "format/limits.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fixture.h"
#include "format/cablist.h"
#include "format/checksum.h"
#include "format/filename.h"
#include "format/percent.h"

TEST(PayloadChecksum, IsAdlerFromTheSignatureInOneCallOrInParts) {
  EXPECT_EQ(PayloadChecksum(0x0049515A, "abc", 3), 0xF6A15280u);  // the worked example
  // Long enough for the sums to wrap modulo 65521 many times.
  const std::vector<uint8_t> data = zqfixture::RandomBytes(3 * 65536 + 17, 1);
  const uint32_t whole = PayloadChecksum(0x0049515A, data.data(), data.size());
  for (size_t cut : {size_t(0), size_t(5552), size_t(65536), data.size() - 1})
    EXPECT_EQ(PayloadChecksum(PayloadChecksum(0x0049515A, data.data(), cut), data.data() + cut, data.size() - cut),
              whole)
        << "split at " << cut;
}

TEST(PayloadLimits, TableNamesAndProgressStayInBounds) {
  for (int32_t count : {0, 10922})  // 10922 entries: 131064 bytes of table
    EXPECT_TRUE(EntryCountFitsLimits(count)) << count;
  for (int32_t count : {10923, -1, INT32_MIN, INT32_MAX}) EXPECT_FALSE(EntryCountFitsLimits(count)) << count;
  const struct {
    uint32_t name, data;
    bool fits;
  } spans[] = {{0, 1, true},  {100, 100 + 131072, true}, {100, 100 + 131073, false}, {7, 7, false},
               {8, 7, false}, {0xFFFFFFFF, 0, false}};  // 8, 7 would wrap to 4 GiB
  for (const auto& s : spans) EXPECT_EQ(NameSpanFitsLimits(PayloadEntry{s.name, s.data, 0}), s.fits) << s.name;
  EXPECT_TRUE(NameIsTerminated("ab\0", 3));
  EXPECT_FALSE(NameIsTerminated("abc\0", 3));
  EXPECT_FALSE(NameIsTerminated("\0", 0));
  EXPECT_EQ(ProgressPercent(65536, 1142634), 5u);
  EXPECT_EQ(ProgressPercent(0xFFFFFFFF, 0xFFFFFFFF), 100u);
  EXPECT_EQ(ProgressPercent(3000, 1000), 300u);  // an understated InflatedSize passes 100
}

TEST(PlainFileName, AcceptsNamesInTheirFolderOnlyAndNoDevice) {
  for (const char* name : {"a.cab", "Setup.ini", "a.cab ", "x.", "..a", "CONSOLE.txt", "COM0", "COM10", "LPT", "nul1",
                           "\xE9t\xE9.txt", " leading"})
    EXPECT_TRUE(IsPlainFileName(name)) << '"' << name << '"';
  for (const char* name :
       {"",        ".",   "..",   " ",        "...",  ". .",      "..\\x",   "a\\b",        "a/b",    "C:x",
        "a*b",     "a?b", "a\"b", "a<b",      "a>b",  "a|b",      "a\tb",    "\x1f",        "CON",    "Nul",
        "con.txt", "aux", "PRN ", "AUX .txt", "COM1", "lpt9.log", "COM\xB9", "lpt\xB2.txt", "Com\xB3"})
    EXPECT_FALSE(IsPlainFileName(name)) << '"' << name << '"';
}

// Items in order, blanks kept, empty items handed over, every comma and
// nothing else left as a zero (Cancel's deletes and the moves walk it so).
TEST(CabFileList, SplitsEveryRowOfTheTable) {
  using Items = std::vector<std::string>;
  const struct {
    const char* list;
    Items items;
  } rows[] = {{"a.cab,b.cab", {"a.cab", "b.cab"}},      {"a.cab,b.cab,", {"a.cab", "b.cab"}},
              {"a.cab,,b.cab", {"a.cab", "", "b.cab"}}, {",a.cab", {"", "a.cab"}},
              {"a.cab , b.cab", {"a.cab ", " b.cab"}},  {"", {""}}};
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
