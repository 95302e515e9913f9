// SPDX-License-Identifier: MIT
#include "archive/entry_header.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/packer.h"

namespace {

entry_header parse(const std::string& bytes) {
  return parse_entry_header(reinterpret_cast<const unsigned char*>(bytes.data()));
}

TEST(ReadLe32, LittleEndianByteOrder) {
  const unsigned char bytes[] = {0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(read_le32(bytes), 0x12345678u);
  EXPECT_EQ(read_le32(bytes + 4), 0xFFFFFFFFu);
}

TEST(ParseEntryHeader, FieldsAtTheirOffsets) {
  entry_header h = parse(header_bytes("A.TXT", 5, 12));
  EXPECT_STREQ(h.name, "A.TXT");
  EXPECT_EQ(h.packed_size, 5);
  EXPECT_EQ(h.unpacked_size, 12);
}

TEST(ParseEntryHeader, IgnoredBytesChangeNothing) {
  std::string plain = header_bytes("NAME.BIN", 300, 70000, 0x00);
  std::string filled = header_bytes("NAME.BIN", 300, 70000, 0xA5);
  ASSERT_NE(plain, filled);
  entry_header a = parse(plain);
  entry_header b = parse(filled);
  EXPECT_STREQ(a.name, b.name);
  EXPECT_EQ(a.packed_size, b.packed_size);
  EXPECT_EQ(a.unpacked_size, b.unpacked_size);
}

TEST(ParseEntryHeader, SizesFromTwoToThe31UpAreNegative) {
  entry_header h = parse(header_bytes("N", -100, INT32_MIN));
  EXPECT_EQ(h.packed_size, -100);
  EXPECT_EQ(h.unpacked_size, INT32_MIN);
}

TEST(ParseEntryHeader, NameEndsAtFirstZeroOrFieldEnd) {
  EXPECT_STREQ(parse(header_bytes("TWELVE.BYTES", 0, 0)).name, "TWELVE.BYTES");
  // No zero byte in the field: all 13 bytes, and not the size bytes after.
  std::string full = header_bytes("THIRTEEN.BYTE", 0x41414141, 0);
  EXPECT_STREQ(parse(full).name, "THIRTEEN.BYTE");
  std::string early = header_bytes("AB", 0, 0);
  early[3 + 3] = 'Z';  // bytes after the terminator are not part of the name
  EXPECT_STREQ(parse(early).name, "AB");
  EXPECT_STREQ(parse(header_bytes("", 0, 0)).name, "");
}

}  // namespace
