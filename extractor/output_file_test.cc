// SPDX-License-Identifier: MIT
#include "extractor/output_file.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cwchar>

#include "tests/support/stream.h"

namespace {

TEST(PosixNameIsRefused, AbsoluteAndParentNames) {
  for (const char* name : {"/etc/passwd", "/", "..", "../X", "A/../../X",
                           "SUB/..", "//X"}) {
    EXPECT_TRUE(posix_name_is_refused(name)) << name;
  }
  for (const char* name : {"A.TXT", "SUB/A.TXT", "./A", "..A", "A..", "...", "A.", ".A", "SUB/A.",
                           ".HIDDEN", "A\\..\\..\\X", "C:X"}) {
    EXPECT_FALSE(posix_name_is_refused(name)) << name;
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

TEST(WindowsNameIsRefused, ReadsNothingBeforeTheName) {
  // Each name starts a page after one that cannot be read: a look before
  // the name, where spaces before a dot are trimmed, ends the test there.
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  auto* pages = static_cast<unsigned char*>(
      mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(mprotect(pages, page, PROT_NONE), 0);
  auto* name = reinterpret_cast<wchar_t*>(pages + page);
  for (const wchar_t* text : {L" .TXT", L"  .DAT"}) {
    std::wcscpy(name, text);
    EXPECT_FALSE(windows_name_is_refused(name)) << text;
  }
  munmap(pages, 2 * page);
}

TEST(IsArchive, SameFileWhateverAMountNumbersItAs) {
  const file_time when{1700000000, 123456789};
  const file_state archive{true, file_regular, 10, 500, 330000, when, when};
  file_state other = archive;
  EXPECT_TRUE(is_archive(archive, other));
  // The same file through a union mount, or another spelling on FAT
  // through FUSE: other numbers and change time, the same size and
  // modification time.
  other.device = 41;
  other.index = 2;
  other.change_time = {1700000099, 5};
  EXPECT_TRUE(is_archive(archive, other));
  other.modified.nanoseconds = 0;  // a file system that shows whole seconds
  EXPECT_TRUE(is_archive(archive, other));
  other.modified = {when.seconds, when.nanoseconds - 1};
  EXPECT_FALSE(is_archive(archive, other));
  other.modified = {when.seconds + 1, when.nanoseconds};
  EXPECT_FALSE(is_archive(archive, other));
  other.modified = when;
  other.size = 330001;
  EXPECT_FALSE(is_archive(archive, other));
  other = archive;
  other.known = false;
  EXPECT_FALSE(is_archive(archive, other));
  // An archive read from a FIFO has size 0 and may share its times with a
  // new empty file; only its own device and inode are the archive.
  const file_state fifo{true, file_other, 10, 600, 0, when, when};
  file_state empty{true, file_regular, 10, 601, 0, when, when};
  EXPECT_FALSE(is_archive(fifo, empty));
  EXPECT_FALSE(is_archive(archive, file_state{true, file_link, 10, 601, 330000, when, when}));
}

TEST(MayReplace, LinksAndOtherFilesUntilTheArchiveChanges) {
  reader_over archive(file_holding("an archive"));
  output_folder folder = output_folder_for(archive.get());
  const file_time when{1700000000, 5};
  const file_state other{true, file_regular, 1, 2, 3, when, when};
  const file_state link{true, file_link, 1, 3, 3, when, when};
  const file_state fifo{true, file_other, 1, 4, 0, when, when};
  EXPECT_TRUE(may_replace(folder, other));
  EXPECT_TRUE(may_replace(folder, link));
  EXPECT_FALSE(may_replace(folder, fifo));
  EXPECT_FALSE(may_replace(folder, reader_start_state(archive.get())));
  // Touched: whatever stands at the name now, no regular file goes.
  const timespec long_ago[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(futimens(archive.fd, long_ago), 0);
  EXPECT_FALSE(may_replace(folder, other));
  EXPECT_TRUE(may_replace(folder, link));
}

}  // namespace
