// The payload checksum, the reader's limits and the plain-file-name rule,
// which decide what the program refuses before any out-of-bounds access or
// file creation.
#include "payload/filename.h"
#include "payload/limits.h"
#include "payload/percent.h"

#include <gtest/gtest.h>

#include "fixture.h"
#include "payload/checksum.h"

TEST(PayloadChecksum, IsAdlerFromTheSignatureInOneCallOrInParts) {
  EXPECT_EQ(PayloadChecksum(0x0049515A, "abc", 3), 0xF6A15280u);  // the worked example
  EXPECT_EQ(PayloadChecksum(0x0049515A, "", 0), 0x0049515Au);
  // Long enough for the sums to wrap modulo 65521 many times.
  const std::vector<uint8_t> data = zqfixture::RandomBytes(3 * 65536 + 17, 1);
  const uint32_t whole = PayloadChecksum(0x0049515A, data.data(), data.size());
  for (size_t cut : {size_t(0), size_t(1), size_t(5552), size_t(65536), data.size() - 1})
    EXPECT_EQ(PayloadChecksum(PayloadChecksum(0x0049515A, data.data(), cut), data.data() + cut, data.size() - cut),
              whole)
        << "split at " << cut;
}

TEST(PayloadLimits, EntryCountFitsTheWorkBuffer) {
  EXPECT_TRUE(EntryCountFitsLimits(0));
  EXPECT_TRUE(EntryCountFitsLimits(10922));   // 131064 bytes of table
  EXPECT_FALSE(EntryCountFitsLimits(10923));  // 131076 bytes
  EXPECT_FALSE(EntryCountFitsLimits(-1));
  EXPECT_FALSE(EntryCountFitsLimits(INT32_MIN));
  EXPECT_FALSE(EntryCountFitsLimits(INT32_MAX));
}

TEST(PayloadLimits, NameSpanIsOneTo131072Bytes) {
  EXPECT_TRUE(NameSpanFitsLimits(PayloadEntry{0, 1, 0}));
  EXPECT_TRUE(NameSpanFitsLimits(PayloadEntry{100, 100 + 131072, 0}));
  EXPECT_FALSE(NameSpanFitsLimits(PayloadEntry{100, 100 + 131073, 0}));
  EXPECT_FALSE(NameSpanFitsLimits(PayloadEntry{7, 7, 0}));
  EXPECT_FALSE(NameSpanFitsLimits(PayloadEntry{8, 7, 0}));  // would wrap to 4 GiB
  EXPECT_FALSE(NameSpanFitsLimits(PayloadEntry{0xFFFFFFFF, 0, 0}));
}

TEST(PayloadLimits, NameMustHoldItsZeroWithinTheSpan) {
  EXPECT_TRUE(NameIsTerminated("ab\0", 3));
  EXPECT_FALSE(NameIsTerminated("abc\0", 3));
  EXPECT_FALSE(NameIsTerminated("\0", 0));
}

TEST(PayloadLimits, ProgressPercentIsExactForLargeSizes) {
  EXPECT_EQ(ProgressPercent(65536, 1142634), 5u);
  EXPECT_EQ(ProgressPercent(50000000, 100000000), 50u);
  EXPECT_EQ(ProgressPercent(0xFFFFFFFF, 0xFFFFFFFF), 100u);
  EXPECT_EQ(ProgressPercent(3000, 1000), 300u);  // an understated InflatedSize passes 100
}

TEST(PlainFileName, AcceptsNamesThatStayInTheirFolder) {
  for (const char* name : {"a.cab", "Setup.ini", "DEMO.CAB", "license.rtf", "a.cab ", "x.", "..a", "...a",
                           "CONSOLE.txt", "COM0", "COM10", "LPT", "nul1", "\xE9t\xE9.txt", " leading"})
    EXPECT_TRUE(IsPlainFileName(name)) << '"' << name << '"';
}

TEST(PlainFileName, RefusesFoldersDrivesStreamsAndDevices) {
  for (const char* name : {"",     ".",        "..",   " ",        "...",      ". .",     "..\\x",       "a\\b",
                           "a/b",  "../evil",  "C:x",  "x:stream", "a*b",      "a?b",     "a\"b",        "a<b",
                           "a>b",  "a|b",      "a\tb", "\x1f",     "CON",      "con.txt", "Nul",         "aux",
                           "PRN ", "AUX .txt", "COM1", "lpt9.log", "Com5.cab", "COM\xB9", "lpt\xB2.txt", "Com\xB3"})
    EXPECT_FALSE(IsPlainFileName(name)) << '"' << name << '"';
}
