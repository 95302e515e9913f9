#include "extractor/extractor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "tests/support/packer.h"
#include "tests/support/run.h"

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

TEST(NameIsUnsafe, AbsoluteAndParentNamesRefused) {
  for (const char* name : {"/etc/passwd", "/", "..", "../X", "A/../../X",
                           "SUB/..", "//X"}) {
    EXPECT_TRUE(name_is_unsafe(name)) << name;
  }
  for (const char* name : {"A.TXT", "SUB/A.TXT", "./A", "..A", "A..", "...",
                           ".HIDDEN"}) {
    EXPECT_FALSE(name_is_unsafe(name)) << name;
  }
#ifdef _WIN32
  for (const char* name : {"..\\X", "C:X", "\\X", "C:\\X", "A\\..\\..\\X"}) {
    EXPECT_TRUE(name_is_unsafe(name)) << name;
  }
#endif
}

TEST(NameIsArchive, SameFileThroughAnyPath) {
  std::string dir = make_temp_dir();
  std::string archive = dir + "/A.MDT";
  ASSERT_TRUE(write_file(archive, "archive bytes"));
  ASSERT_TRUE(write_file(dir + "/OTHER", "x"));
  std::filesystem::create_symlink(archive, dir + "/LINK");
  std::filesystem::create_hard_link(archive, dir + "/HARD");
  EXPECT_TRUE(name_is_archive(archive.c_str(), archive.c_str()));
  EXPECT_TRUE(name_is_archive(archive.c_str(), (dir + "/./A.MDT").c_str()));
  EXPECT_TRUE(name_is_archive(archive.c_str(), (dir + "/LINK").c_str()));
  EXPECT_TRUE(name_is_archive(archive.c_str(), (dir + "/HARD").c_str()));
  EXPECT_FALSE(name_is_archive(archive.c_str(), (dir + "/OTHER").c_str()));
  EXPECT_FALSE(name_is_archive(archive.c_str(), (dir + "/MISSING").c_str()));
  remove_tree(dir);
}

}  // namespace
