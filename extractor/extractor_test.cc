#include "extractor/extractor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/packer.h"

namespace {

entry_header entry(const char* name, int32_t packed, int32_t unpacked) {
  entry_header h{};
  std::memcpy(h.name, name, std::strlen(name) + 1);  // at most 13 bytes
  h.packed_size = packed;
  h.unpacked_size = unpacked;
  return h;
}

TEST(ListingLine, ColumnsAndSigns) {
  EXPECT_EQ(listing_line(entry("A.TXT", 5, 12)),
            "A.TXT               5       12 \n");
  EXPECT_EQ(listing_line(entry("N", -100, 1)),
            "N                -100        1 \n");
  EXPECT_EQ(listing_line(entry("TWELVE.BYTES", 0, 0)),
            "TWELVE.BYTES        0        0 \n");
  EXPECT_EQ(listing_line(entry("THIRTEEN.BYT3", INT32_MIN, INT32_MAX)),
            "THIRTEEN.BYT3 -2147483648 2147483647 \n");
}

TEST(ListingLine, ControlBytesShownAsQuestionMarks) {
  EXPECT_EQ(listing_line(entry("\x1B[2J\x7F\x01X\t", 1, 1)),
            "?[2J??X?            1        1 \n");
  // Shift_JIS and other high bytes print raw.
  EXPECT_EQ(listing_line(entry("\x83\x74\x83\x40.TXT", 1, 1)),
            "\x83\x74\x83\x40.TXT            1        1 \n");
}

}  // namespace
