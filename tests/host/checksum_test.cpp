// PayloadChecksum: Adler-32 started from the signature value, the sum that
// all three checksums of a payload use.
#include "payload/checksum.h"

#include <gtest/gtest.h>

#include "fixture.h"

TEST(PayloadChecksum, OfAbcIsTheWorkedExample) { EXPECT_EQ(PayloadChecksum(0x0049515A, "abc", 3), 0xF6A15280u); }

TEST(PayloadChecksum, OfAnEmptyRangeIsTheStartValue) { EXPECT_EQ(PayloadChecksum(0x0049515A, "", 0), 0x0049515Au); }

TEST(PayloadChecksum, InPartsEqualsOneCall) {
  // Long enough for the sums to wrap modulo 65521 many times.
  const std::vector<uint8_t> data = zqfixture::RandomBytes(3 * 65536 + 17, 1);
  const uint32_t whole = PayloadChecksum(0x0049515A, data.data(), data.size());
  for (size_t cut : {size_t(0), size_t(1), size_t(5552), size_t(65536), data.size() - 1}) {
    uint32_t running = PayloadChecksum(0x0049515A, data.data(), cut);
    running = PayloadChecksum(running, data.data() + cut, data.size() - cut);
    EXPECT_EQ(running, whole) << "split at " << cut;
  }
}
