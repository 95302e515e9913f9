#include "extractor/output_file.h"

#include <gtest/gtest.h>

namespace {

TEST(NameIsUnsafe, AbsoluteAndParentNamesRefused) {
  for (const char* name : {"/etc/passwd", "/", "..", "../X", "A/../../X",
                           "SUB/..", "//X"}) {
    EXPECT_TRUE(name_is_unsafe(name)) << name;
  }
  for (const char* name : {"A.TXT", "SUB/A.TXT", "./A", "..A", "A..", "...",
                           ".HIDDEN", "A\\..\\..\\X", "C:X"}) {
    EXPECT_FALSE(name_is_unsafe(name)) << name;
  }
}

TEST(WindowsNameIsRefused, RootsDrivesStreamsParentsAndDevices) {
  for (const wchar_t* name :
       {L"\\X", L"/X", L"C:X", L"C:\\X", L"A.TXT:s", L"..", L"..\\X",
        L"A\\..\\..\\X", L"SUB/../X", L"...", L". .", L"A\\..  \\X", L"NUL",
        L"nul", L"NUL.", L"NUL ", L"NUL.TXT", L"nul .txt", L"AUX.TXT", L"CON",
        L"PRN", L"COM0", L"COM1", L"com9.dat", L"LPT1.DAT", L"lpt0",
        L"CONIN$", L"conout$.log", L"SUB\\NUL", L"SUB/CON.X", L"COM\u00B9",
        L"com\u00B2.txt", L"LPT\u00B3", L"SUB\\lpt\u00B9 .x"}) {
    EXPECT_TRUE(windows_name_is_refused(name)) << name;
  }
  for (const wchar_t* name :
       {L"A.TXT", L"SUB\\A.TXT", L"./A", L".\\A", L"..A", L"A..", L".HIDDEN",
        L"NULL", L"CONSOLE.TXT", L"COM", L"COM10", L"LPT", L"XNUL", L"AUX_",
        L"CONIN", L"\u8868.TXT", L"A.NUL", L"COM\u2074", L"LPT\u00B9\u00B9"}) {
    EXPECT_FALSE(windows_name_is_refused(name)) << name;
  }
}

TEST(IsArchive, SameFileWhereIndexOrDeviceIsNotStable) {
  const file_identity archive{true, 10, 500, 330000, 1700000000123456789,
                              1700000000123456789};
  file_identity other = archive;
  EXPECT_TRUE(is_archive(archive, other));
  other.index = 501;  // another spelling on FAT through FUSE
  EXPECT_TRUE(is_archive(archive, other));
  other.modified += 1;  // a different file of the same size
  EXPECT_FALSE(is_archive(archive, other));
  other = archive;
  other.device = 11;  // the same file through an overlay's merged view
  EXPECT_TRUE(is_archive(archive, other));
  other.index = 501;  // nothing in common but size and times
  EXPECT_FALSE(is_archive(archive, other));
  other = archive;
  other.known = false;
  EXPECT_FALSE(is_archive(archive, other));
}

}  // namespace
