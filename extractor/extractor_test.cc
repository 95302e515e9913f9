// SPDX-License-Identifier: MIT
#include "extractor/extractor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/packer.h"

namespace {

// The listing line of an entry `name` with the given sizes.
std::string line_of(const char* name, int32_t packed, int32_t unpacked) {
  entry_header h{};
  std::memcpy(h.name, name, std::strlen(name) + 1);  // at most 13 bytes
  h.packed_size = packed;
  h.unpacked_size = unpacked;
  char line[listing_line_room];
  std::size_t length = listing_line(h, line);
  EXPECT_EQ(line[length], '\0');
  return std::string(line, length);
}

TEST(ListingLine, ColumnsAndSigns) {
  EXPECT_EQ(line_of("A.TXT", 5, 12),
            "A.TXT               5       12 \n");
  EXPECT_EQ(line_of("N", -100, 1),
            "N                -100        1 \n");
  EXPECT_EQ(line_of("TWELVE.BYTES", 0, 0),
            "TWELVE.BYTES        0        0 \n");
  EXPECT_EQ(line_of("THIRTEEN.BYT3", INT32_MIN, INT32_MAX),
            "THIRTEEN.BYT3 -2147483648 2147483647 \n");
}

TEST(ListingLine, ControlBytesShownAsQuestionMarks) {
  EXPECT_EQ(line_of("\x1B[2J\x7F\x01X\t", 1, 1),
            "?[2J??X?            1        1 \n");
  // The edges: 1F and 7F are control bytes, 20 and 7E print.
  EXPECT_EQ(line_of("\x1F\x20\x7E\x7F", 1, 1),
            "? ~?                1        1 \n");
  // Spaces, Shift_JIS and other high bytes print raw.
  EXPECT_EQ(line_of("A B.TXT", 1, 1),
            "A B.TXT             1        1 \n");
  EXPECT_EQ(line_of("\x83\x74\x83\x40.TXT", 1, 1),
            "\x83\x74\x83\x40.TXT            1        1 \n");
}

}  // namespace
