// SPDX-License-Identifier: MIT
// Runs the built extractor in a scratch directory and checks its listing,
// messages, exit status and files byte for byte.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "extractor/extractor.h"
#include "tests/support/packer.h"
#include "tests/support/run.h"
#include "tests/support/target.h"

namespace {

namespace fs = std::filesystem;

const std::string open_failure = text(open_failure_message);
const std::string write_failure = text(write_failure_message);

class EndToEnd : public ::testing::Test {
 protected:
  // The scratch folder, `dir`, inside a parent of this test's own, where
  // anything that escapes the scratch folder lands.
  void SetUp() override {
    parent = make_temp_dir();
    dir = parent + "/work";
    fs::create_directory(dir);
  }
  void TearDown() override { remove_tree(parent); }

  // Writes `archive` as ARC.MDT in the scratch directory and extracts it.
  run_result extract(const std::string& archive) {
    EXPECT_TRUE(write_file(dir + "/ARC.MDT", archive));
    return run({"extractor", "ARC.MDT"});
  }
  run_result run(const std::vector<std::string>& argv,
                 const std::string& input = "") {
    return run_program(extractor_binary(), argv, dir, input);
  }
  std::string file(const std::string& name) {
    std::string bytes;
    EXPECT_TRUE(read_file(dir + "/" + name, &bytes)) << name;
    return bytes;
  }
  bool exists(const std::string& name) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(dir + "/" + name, ignored));
  }

  // True when the parent holds nothing but the scratch folder.
  bool nothing_escaped() {
    for (const auto& e : fs::directory_iterator(parent)) {
      if (e.path().filename() != "work") return false;
    }
    return true;
  }

  std::string parent;
  std::string dir;
};

TEST_F(EndToEnd, UsageWithoutArchive) {
  run_result r = run({"./my-extractor"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  if (target_is_windows()) {
    EXPECT_EQ(r.err.substr(0, 7), "Usage: ");
    EXPECT_EQ(r.err.substr(r.err.size() - 27), " [Archive .MDT/.PAR file]\r\n");
    return;  // Wine passes the program's own path as argument 0
  }
  if (target_is_emulated()) {
    EXPECT_EQ(r.err.substr(r.err.size() - 26), " [Archive .MDT/.PAR file]\n");
    return;  // qemu-user and valgrind pass the program's own path
  }
  EXPECT_EQ(r.err, "Usage: ./my-extractor [Archive .MDT/.PAR file]\n");
  // No argument at all, not even the program's name.
  r = run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Usage:  [Archive .MDT/.PAR file]\n");
}

TEST_F(EndToEnd, ArchiveThatCannotBeOpenedOrRead) {
  fs::create_directory(dir + "/DIR.MDT");
  for (const char* path : {"MISSING.MDT", "DIR.MDT"}) {
    run_result r = run({"extractor", path});
    EXPECT_EQ(r.status, 1) << path;
    EXPECT_EQ(r.out, "") << path;
    EXPECT_EQ(r.err, open_failure) << path;
  }
}

TEST_F(EndToEnd, EmptyArchiveAndExtraArguments) {
  ASSERT_TRUE(write_file(dir + "/E.PAR", ""));
  run_result r = run({"extractor", "E.PAR", "ignored", "also ignored"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST_F(EndToEnd, ArchiveOnDescriptorZero) {
  // With standard input closed, the archive is opened as descriptor 0.
  if (target_is_windows()) GTEST_SKIP() << "a POSIX shell's <&-";
  ASSERT_TRUE(write_file(dir + "/ARC.MDT", pack_entry("A.TXT", "a")));
  run_result r = run_program("/bin/sh", {"sh", "-c", "exec " + extractor_binary() +
                                                         " ARC.MDT <&-"}, dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(file("A.TXT"), "a");
}

TEST_F(EndToEnd, ListsAndExtractsEveryEntry) {
  std::string binary;
  for (int i = 0; i < 5000; ++i) binary += static_cast<char>(i / 300);
  std::string archive = pack_entry("README.TXT", "Hello, archive.\r\n") +
                        pack_entry("RUNS.BIN", binary) +
                        pack_entry("EMPTY.DAT", "") +
                        pack_entry("TWELVE.BYTES", std::string("\xFF\xFF\xFF\x00", 4)) +
                        pack_entry("DUP", "first") + pack_entry("DUP", "second") +
                        header_bytes("NEG", -100, 1);
  run_result r = extract(archive);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, text(
            "README.TXT         18       17 \n"
            "RUNS.BIN           83     5000 \n"
            "EMPTY.DAT           0        0 \n"
            "TWELVE.BYTES        3        4 \n"
            "DUP                 5        5 \n"
            "DUP                 6        6 \n"
            "NEG              -100        1 \n"));
  EXPECT_EQ(file("README.TXT"), "Hello, archive.\r\n");
  EXPECT_TRUE(file("RUNS.BIN") == binary);
  EXPECT_EQ(file("EMPTY.DAT"), "");
  EXPECT_EQ(file("TWELVE.BYTES"), std::string("\xFF\xFF\xFF\x00", 4));
  EXPECT_EQ(file("DUP"), "second");
  EXPECT_EQ(file("NEG"), "");
}

TEST_F(EndToEnd, ArchiveCutInsideAnEntryFails) {
  // The README's broken download: the sample cut inside README.TXT's data,
  // from a file and from a pipe. The entries before it are whole, the one
  // it cuts keeps what was decoded, and none after it is listed.
  std::string sample;
  ASSERT_TRUE(read_file(std::string(SOURCE_DIR) + "/examples/sample.MDT", &sample));
  std::string source = std::string(SOURCE_DIR) + "/examples/sample/";
  std::string pattern, readme;
  ASSERT_TRUE(read_file(source + "PATTERN.BIN", &pattern));
  ASSERT_TRUE(read_file(source + "README.TXT", &readme));
  ASSERT_TRUE(write_file(dir + "/CUT.MDT", sample.substr(0, 1500)));
  std::vector<std::string> commands = {extractor_binary() + " CUT.MDT"};
  if (!target_is_windows()) commands.push_back("cat CUT.MDT | exec " + extractor_binary() + " /dev/stdin");
  for (const std::string& command : commands) {
    run_result r = run_program("/bin/sh", {"sh", "-c", command}, dir);
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_EQ(r.err, open_failure) << command;
    EXPECT_EQ(r.out, text("EMPTY.DAT           0        0 \n"
                          "PATTERN.BIN      1306    20880 \n"
                          "README.TXT        180      179 \n")) << command;
    EXPECT_EQ(file("EMPTY.DAT"), "");
    EXPECT_TRUE(file("PATTERN.BIN") == pattern);
    EXPECT_EQ(file("README.TXT"), readme.substr(0, 97));
    EXPECT_FALSE(exists("TABLE.TXT"));
  }
}

// A process's environment as /proc/PID/environ gives it: a file that
// reports size 0 and reads back each string followed by a zero byte.
// `sleep` holds `bytes` there, split at its zero bytes, while this lives.
struct environment_file {
  explicit environment_file(const std::string& bytes) {
    std::vector<std::string> parts;
    for (std::size_t at = 0, zero; at <= bytes.size(); at = zero + 1) {
      zero = std::min(bytes.find('\0', at), bytes.size());
      parts.push_back(bytes.substr(at, zero - at));
    }
    std::vector<char*> environment;
    for (std::string& part : parts) environment.push_back(part.data());
    environment.push_back(nullptr);
    char sleep[] = "sleep", seconds[] = "60";
    char* argv[] = {sleep, seconds, nullptr};
    pid = fork();
    if (pid == 0) {
      execve("/bin/sleep", argv, environment.data());
      _exit(127);
    }
    path = "/proc/" + std::to_string(pid) + "/environ";
    // Until the new program's environment stands there, at most 10 s.
    std::string now;
    for (int tries = 0; tries < 1000 && now != bytes + '\0'; ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      now.clear();
      read_file(path, &now);
    }
    ready = now == bytes + '\0';
  }
  ~environment_file() {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  pid_t pid;
  std::string path;
  bool ready;
};

TEST_F(EndToEnd, FileThatReadsPastItsReportedSize) {
  // The end is where reading ends: the sample after an entry whose data,
  // larger than what the program reads ahead, it skips; whole, then cut
  // inside that entry and inside the sample.
  if (target_is_windows()) GTEST_SKIP() << "no /proc under Windows";
  std::string sample;
  ASSERT_TRUE(read_file(std::string(SOURCE_DIR) + "/examples/sample.MDT", &sample));
  std::string skipped;  // no string may exceed 128 KiB: a zero every 1000 bytes
  for (int i = 0; i < 400000; ++i) skipped += static_cast<char>(i % 1000 ? 'a' + i % 2 : 0);
  std::string archive = header_bytes("SKIP", 400000, 10) + skipped + sample;
  std::string listing = "SKIP           400000       10 \n"
                        "EMPTY.DAT           0        0 \n"
                        "PATTERN.BIN      1306    20880 \n"
                        "README.TXT        180      179 \n"
                        "TABLE.TXT         331     1269 \n";
  {
    environment_file whole(archive);
    ASSERT_TRUE(whole.ready) << whole.path;
    run_result r = run({"extractor", whole.path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, listing);
  }
  std::string source = std::string(SOURCE_DIR) + "/examples/sample/";
  for (const char* name : {"EMPTY.DAT", "PATTERN.BIN", "README.TXT", "TABLE.TXT"}) {
    std::string expected;
    ASSERT_TRUE(read_file(source + name, &expected));
    EXPECT_TRUE(file(name) == expected) << name;
  }
  struct cut {
    std::size_t length;
    std::size_t lines;
  };
  for (cut c : {cut{300000, 1}, cut{400032 + 1500, 4}}) {
    environment_file shorter(archive.substr(0, c.length));
    ASSERT_TRUE(shorter.ready) << shorter.path;
    run_result r = run({"extractor", shorter.path});
    EXPECT_EQ(r.status, 1) << c.length;
    EXPECT_EQ(r.err, open_failure) << c.length;
    std::size_t end = 0;
    for (std::size_t i = 0; i < c.lines; ++i) end = listing.find('\n', end) + 1;
    EXPECT_EQ(r.out, listing.substr(0, end)) << c.length;
  }
}

TEST_F(EndToEnd, NameThatCannotBeCreatedStopsTheRun) {
  struct refused {
    std::string name;
    std::string line;
  };
  for (const refused& c : std::vector<refused>{
           {"", "                    1        1 \n"},
           {"NODIR/A.TXT", "NODIR/A.TXT         1        1 \n"}}) {
    run_result r = extract(pack_entry("FIRST", "1") + pack_entry(c.name, "x") +
                           pack_entry("LATER", "never"));
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.out, text("FIRST               1        1 \n" + c.line));
    EXPECT_EQ(r.err, open_failure);
    EXPECT_EQ(file("FIRST"), "1");
    EXPECT_FALSE(exists("LATER"));
    // Sent to one place, the listing line comes before the message.
    run_result both = run_program("/bin/sh", {"sh", "-c", extractor_binary() + " ARC.MDT 2>&1"}, dir);
    EXPECT_EQ(both.out, text("FIRST               1        1 \n" + c.line) + open_failure);
  }
}

TEST_F(EndToEnd, UnsafeNamesAreRefused) {
  fs::create_directory(dir + "/SUB");
  fs::create_directory(dir + "/SUB/INNER");
  // An absolute name into a folder of this test's own, short enough for
  // the 13-byte name field: /tmp/XXXXXX/A.
  char own[] = "/tmp/XXXXXX";
  ASSERT_NE(mkdtemp(own), nullptr);
  std::string absolute = std::string(own) + "/A";
  for (std::string name : {std::string("../ESCAPED"), std::string("SUB/../../X"), absolute,
                           std::string(".."), std::string("SUB/INNER/..")}) {
    run_result r = extract(pack_entry(name, "bad") + pack_entry("LATER", "n"));
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.err, open_failure) << name;
    EXPECT_EQ(r.out.substr(0, name.size()), name);
    EXPECT_FALSE(exists("LATER"));
  }
  EXPECT_TRUE(nothing_escaped());
  EXPECT_TRUE(fs::is_empty(own));
  remove_tree(own);
  // Relative names into existing directories still work.
  run_result r = extract(pack_entry("SUB/A.TXT", "in sub") +
                         pack_entry("./B.TXT", "b") + pack_entry("..C", "c"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(file("SUB/A.TXT"), "in sub");
  EXPECT_EQ(file("B.TXT"), "b");
  EXPECT_EQ(file("..C"), "c");
  // Each folder opened on the way to a file is closed after it: with few
  // descriptors to spare, many entries in folders still go through.
  if (target_is_windows()) return;  // handles, not POSIX descriptors
  std::string many;
  for (int i = 0; i < 50; ++i) {
    many += pack_entry("SUB/F" + std::to_string(i), "f") +
            pack_entry("SUB/INNER/G" + std::to_string(i), "g");
  }
  ASSERT_TRUE(write_file(dir + "/ARC.MDT", many));
  r = run_program("/bin/sh", {"sh", "-c", "ulimit -n 40 && exec " + extractor_binary() + " ARC.MDT"}, dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(file("SUB/F49"), "f");
  EXPECT_EQ(file("SUB/INNER/G49"), "g");
}

TEST_F(EndToEnd, WindowsSeparatorsDrivesAndDevices) {
  for (std::string name : {"..\\ESCAPED", "C:X", "\\X", "C:\\X",
                           "SUB\\..\\..\\X", "A.TXT:s", "NUL", "nul.txt",
                           "AUX.TXT", "CON", "COM1", "LPT1.DAT", "CONIN$",
                           "PRN. ", "..."}) {
    run_result r = extract(pack_entry("FIRST", "1") + pack_entry(name, "bad"));
    if (target_is_windows()) {
      // Drives, root names, "..\\", streams and devices there.
      EXPECT_EQ(r.status, 1) << name;
      EXPECT_EQ(r.err, open_failure) << name;
    } else {
      // Elsewhere "\\" and ":" are ordinary bytes of a file name here.
      EXPECT_EQ(r.status, 0) << name;
      EXPECT_EQ(file(name), "bad") << name;
    }
    EXPECT_EQ(file("FIRST"), "1");
  }
  EXPECT_TRUE(nothing_escaped());
}

TEST_F(EndToEnd, JapaneseNamesKeepTheirCharacters) {
  // Shift_JIS names; the first two have 5C, '\\', as a trail byte. Linux
  // keeps the bytes as they are; on Windows they become the characters
  // (which Wine stores as UTF-8 on the host).
  struct japanese {
    std::string sjis, utf8;
  };
  for (const japanese& n : std::vector<japanese>{
           {"\x95\x5C.TXT", "\xE8\xA1\xA8.TXT"},                  // 表.TXT
           {"\x83\x5C\x83\x74\x83\x67", "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88"},  // ソフト
           {"\x93\xFA\x96\x7B\x8C\xEA.DAT", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.DAT"},  // 日本語.DAT
           {"\xB1\xB2.TXT", "\xEF\xBD\xB1\xEF\xBD\xB2.TXT"}}) {  // half-width ｱｲ
    run_result r = extract(pack_entry(n.sjis, "japanese") + pack_entry("LAST", "l"));
    EXPECT_EQ(r.status, 0) << n.utf8;
    EXPECT_EQ(r.out.substr(0, n.sjis.size()), n.sjis);  // raw bytes listed
    EXPECT_EQ(file(target_is_windows() ? n.utf8 : n.sjis), "japanese") << n.utf8;
    EXPECT_EQ(file("LAST"), "l");
  }
}

TEST_F(EndToEnd, ArchiveIsNeverOverwritten) {
  fs::create_directory(dir + "/SUB");
  ASSERT_TRUE(write_file(dir + "/SUB/IN.MDT", ""));
  fs::create_hard_link(dir + "/SUB/IN.MDT", dir + "/HARD");
  struct spelling {
    std::string archive_arg;
    std::string entry_name;
  };
  for (const spelling& s : std::vector<spelling>{{"ARC.MDT", "ARC.MDT"},
                                                 {"ARC.MDT", "./ARC.MDT"},
                                                 {"./ARC.MDT", "LINK"},
                                                 {dir + "/ARC.MDT", "ARC.MDT"},
                                                 {"SUB/IN.MDT", "HARD"},
                                                 {"LINK", "ARC.MDT"}}) {
    std::string archive = pack_entry("OK.TXT", "ok") +
                          pack_entry(s.entry_name, "overwrite!");
    std::string target = s.archive_arg == "SUB/IN.MDT" ? "/SUB/IN.MDT" : "/ARC.MDT";
    ASSERT_TRUE(write_file(dir + target, archive));
    fs::remove(dir + "/LINK");
    fs::create_symlink("ARC.MDT", dir + "/LINK");
    run_result r = run({"extractor", s.archive_arg});
    EXPECT_TRUE(file(target.substr(1)) == archive) << s.entry_name;
    EXPECT_EQ(file("OK.TXT"), "ok");
    if (s.entry_name == "LINK" && !target_is_windows()) {
      // The link itself is replaced by a plain file (Wine follows it).
      EXPECT_EQ(r.status, 0);
      EXPECT_FALSE(fs::is_symlink(dir + "/LINK"));
      EXPECT_EQ(file("LINK"), "overwrite!");
      continue;
    }
    EXPECT_EQ(r.status, 1) << s.entry_name;
    EXPECT_EQ(r.err, open_failure) << s.entry_name;
    EXPECT_TRUE(exists(s.entry_name)) << s.entry_name;
  }
}

// Mounts that number one file apart under two names, made by the test
// itself (as root) and unmounted after it. In each, the archive is
// extracted from a folder where its second entry names the archive itself
// by another path: the run must refuse that entry and leave the archive
// byte for byte.
class OtherMounts : public EndToEnd {
 protected:
  // Why these mounts cannot be made here, or "" when they can.
  static std::string missing(const std::string& tools, bool fuse) {
    if (geteuid() != 0) return "needs root to mount";
    if (fuse && access("/dev/fuse", R_OK | W_OK) != 0) return "needs /dev/fuse";
    if (std::system(("command -v " + tools + " >/dev/null").c_str()) != 0) {
      return "needs " + tools;
    }
    return "";
  }
  // Runs `command`; the mount it makes at `at` is undone when the test ends.
  bool mount(const std::string& command, const std::string& at) {
    fs::create_directories(at);
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return false;
    mounts.push_back(at);
    return true;
  }
  void TearDown() override {
    for (auto at = mounts.rbegin(); at != mounts.rend(); ++at) {
      std::system(("fusermount3 -u " + *at + " 2>/dev/null || fusermount -u " + *at +
                   " 2>/dev/null || umount " + *at).c_str());
    }
    EndToEnd::TearDown();
  }
  void expect_refused(const std::string& run_dir, const std::string& archive_arg,
                      const std::string& archive_path, const std::string& entry_name) {
    std::string archive = pack_entry("X1.TXT", "x1") +
                          pack_entry(entry_name, std::string(33000, 't')) +
                          pack_entry("Y0.BIN", "y0");
    ASSERT_TRUE(write_file(archive_path, archive));
    run_result r = run_program(extractor_binary(), {"extractor", archive_arg}, run_dir);
    EXPECT_EQ(r.status, 1) << archive_arg;
    EXPECT_EQ(r.err, open_failure) << archive_arg;
    EXPECT_EQ(r.out.substr(0, 6), "X1.TXT");
    EXPECT_EQ(r.out.find("Y0.BIN"), std::string::npos);
    std::string after;
    EXPECT_TRUE(read_file(archive_path, &after));
    EXPECT_TRUE(after == archive) << archive_arg << " was changed";
  }
  std::vector<std::string> mounts;
};

// A FAT stick mounted through FUSE, as many systems mount them: the file
// system ignores case, but gives each spelling of a name its own inode.
TEST_F(OtherMounts, FatThroughFuse) {
  std::string why = missing("mkfs.fat fusefat fusermount", true);
  if (!why.empty()) GTEST_SKIP() << why;
  std::string image = dir + "/stick.img", stick = dir + "/stick";
  ASSERT_EQ(std::system(("truncate -s 40M " + image + " && mkfs.fat -F 32 " + image +
                         " >/dev/null").c_str()), 0);
  ASSERT_TRUE(mount("fusefat -o rw+ " + image + " " + stick, stick));
  fs::create_directory(stick + "/GAMES");
  expect_refused(stick, "T.MDT", stick + "/T.MDT", "t.mdt");
  expect_refused(stick + "/games", "../GAMES/G.MDT", stick + "/GAMES/G.MDT", "G.MDT");
}

// A union mount through FUSE (unionfs-fuse, default options): the branch
// and the union show one file under other device and inode numbers.
TEST_F(OtherMounts, UnionThroughFuse) {
  std::string why = missing("unionfs-fuse", true);
  if (!why.empty()) GTEST_SKIP() << why;
  std::string branch = dir + "/branch", on = dir + "/union";
  fs::create_directory(branch);
  ASSERT_TRUE(mount("unionfs-fuse " + branch + "=RW " + on, on));
  expect_refused(on, branch + "/T.MDT", branch + "/T.MDT", "T.MDT");
  expect_refused(branch, on + "/U.MDT", branch + "/U.MDT", "U.MDT");
  // The archive touched while the run is held at the close of PRE.TXT:
  // its name in the branch then matches the archive's state at the start
  // no more, and must not be taken for another file and removed. (A new
  // name: the mount may still show an older file's size for a second.)
  if (target_is_windows()) GTEST_SKIP() << "strace cannot hold Wine's I/O";
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace to hold the run";
  std::string archive = pack_entry("PRE.TXT", "pre") + pack_entry("H.MDT", "wiped");
  ASSERT_TRUE(write_file(branch + "/H.MDT", archive));
  std::string held =
      "(i=0; until grep -q '^[0-9]* *write(' TRACE 2>/dev/null || [ $i = 1000 ]; do "
      "sleep 0.01; i=$((i+1)); done; touch -d 2001-01-01 H.MDT) & "
      "env ASAN_OPTIONS=detect_leaks=0 strace -f -o TRACE -P " + branch +
      "/PRE.TXT -e inject=close:delay_enter=1500000:when=1 " + extractor_binary() + " " + on +
      "/H.MDT; status=$?; wait; exit $status";
  run_result r = run_program("/bin/sh", {"sh", "-c", held}, branch);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, open_failure);
  EXPECT_EQ(r.out, text("PRE.TXT             3        3 \nH.MDT               5        5 \n"));
  std::string after;
  EXPECT_TRUE(read_file(branch + "/H.MDT", &after));
  EXPECT_TRUE(after == archive) << "the archive was replaced";
}

// A kernel overlay whose lower layer is another file system (a tmpfs),
// with xino=on: the merged view numbers the lower file apart.
TEST_F(OtherMounts, OverlayAcrossTwoFileSystems) {
  std::string why = missing("mount umount", false);
  if (!why.empty()) GTEST_SKIP() << why;
  std::string lower = dir + "/lower", merged = dir + "/merged";
  if (!mount("mount -t tmpfs tmpfs " + lower, lower)) GTEST_SKIP() << "cannot mount a tmpfs";
  fs::create_directory(dir + "/upper");
  fs::create_directory(dir + "/work");
  ASSERT_TRUE(write_file(lower + "/O.MDT", ""));
  if (!mount("mount -t overlay overlay -o lowerdir=" + lower + ",upperdir=" + dir +
                 "/upper,workdir=" + dir + "/work,xino=on " + merged,
             merged)) {
    GTEST_SKIP() << "cannot mount an overlay here";
  }
  expect_refused(lower, merged + "/O.MDT", lower + "/O.MDT", "O.MDT");
}

// Things already in the folder, planted by somebody else.
TEST_F(EndToEnd, PlantedLinksAreNeverFollowed) {
  std::string outside = make_temp_dir();
  ASSERT_TRUE(write_file(outside + "/TARGET", "precious"));
  fs::create_symlink(outside + "/TARGET", dir + "/README.TXT");
  fs::create_symlink(outside + "/CREATED", dir + "/DANGLING");
  for (std::string name : {"README.TXT", "DANGLING"}) {
    run_result r = extract(pack_entry(name, "replaced"));
    if (target_is_windows()) {
      // Wine follows the host's links, so it cannot replace one: refused,
      // and the target neither removed nor written.
      EXPECT_EQ(r.status, 1) << name;
    } else {
      EXPECT_EQ(r.status, 0) << name;
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir + "/" + name)));
      EXPECT_EQ(file(name), "replaced");
    }
  }
  std::string target;
  EXPECT_TRUE(read_file(outside + "/TARGET", &target));
  EXPECT_EQ(target, "precious");
  EXPECT_FALSE(fs::exists(outside + "/CREATED"));
  run_result r;

  // A directory part through a link is refused, wherever it points (on
  // Windows a junction or a directory link; under Wine a host link).
  ASSERT_TRUE(write_file(outside + "/A.TXT", "outside"));
  fs::create_directory(dir + "/REAL");
  fs::create_symlink(outside, dir + "/SUB");
  fs::create_symlink("REAL", dir + "/INSIDE");
  fs::create_directory(dir + "/REAL/D");
  fs::create_symlink(outside, dir + "/REAL/L");
  std::vector<std::string> through_links = {"SUB/A.TXT", "INSIDE/A.TXT", "REAL/L/A.TXT"};
  if (target_is_windows()) through_links.push_back("SUB\\A.TXT");
  for (const std::string& name : through_links) {
    r = extract(pack_entry(name, "x") + pack_entry("LATER", "n"));
    EXPECT_EQ(r.status, 1) << name;
    char line[64];
    std::snprintf(line, sizeof line, "%-12s %8d %8d \n", name.c_str(), 1, 1);
    EXPECT_EQ(r.out, text(line)) << name;
    EXPECT_EQ(r.err, open_failure) << name;
    EXPECT_FALSE(exists("LATER")) << name;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(outside), {}), 2);
  std::string left;
  EXPECT_TRUE(read_file(outside + "/A.TXT", &left));
  EXPECT_EQ(left, "outside");
  // Nothing went in through INSIDE either: REAL holds D and the link L.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/REAL"), {}), 2);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/REAL/D"), {}), 0);
  // Real directories, however deep, still work.
  r = extract(pack_entry("REAL/D/OK", "deep") + pack_entry("./REAL//OK", "ok"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(file("REAL/D/OK"), "deep");
  EXPECT_EQ(file("REAL/OK"), "ok");
  if (target_is_windows()) {
    // Windows spellings of a real directory: another case, a trailing dot,
    // and a Japanese name whose second Shift_JIS byte is '\\'.
    fs::create_directory(dir + "/\xE8\xA1\xA8");  // U+8868 as the host names it
    r = extract(pack_entry("real/d/CASE", "c") + pack_entry("REAL./DOT", "d") +
                pack_entry("\x95\x5C/A.TXT", "j"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(file("REAL/D/CASE"), "c");
    EXPECT_EQ(file("REAL/DOT"), "d");
    EXPECT_EQ(file("\xE8\xA1\xA8/A.TXT"), "j");
  }
  remove_tree(outside);
}

TEST_F(EndToEnd, SpecialFilesAreRefusedWithoutBlocking) {
  if (target_is_windows()) GTEST_SKIP() << "FIFOs and device nodes are POSIX";
  ASSERT_EQ(mkfifo((dir + "/FIFO").c_str(), 0644), 0);
  fs::create_directory(dir + "/DIR");
  std::vector<std::string> names = {"FIFO", "DIR"};
  // A node of the same device as /dev/null: data written there would vanish.
  bool device = geteuid() == 0 &&
                mknod((dir + "/DEV").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  if (device) names.push_back("DEV");
  for (const std::string& name : names) {
    EXPECT_TRUE(write_file(dir + "/ARC.MDT", pack_entry(name, "data") +
                                                 pack_entry("LATER", "n")));
    run_result r = run_program(extractor_binary(), {"extractor", "ARC.MDT"},
                               dir, "", {-1, -1, 20});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.err, open_failure) << name;
    EXPECT_FALSE(exists("LATER")) << name;
  }
  EXPECT_EQ(fs::symlink_status(dir + "/FIFO").type(), fs::file_type::fifo);
  if (device) {  // device nodes need root to make
    EXPECT_EQ(fs::symlink_status(dir + "/DEV").type(), fs::file_type::character);
  }
}

TEST_F(EndToEnd, ExistingFileIsReplacedNotWrittenInto) {
  // Planted by another user: longer than the entry, writable by all, and
  // with a second name.
  ASSERT_TRUE(write_file(dir + "/A.TXT", "an older and longer content"));
  fs::create_hard_link(dir + "/A.TXT", dir + "/OLD");
  if (!target_is_windows() && geteuid() == 0) {  // another user's, as root can make it
    EXPECT_EQ(chown((dir + "/A.TXT").c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(chmod((dir + "/A.TXT").c_str(), 0666), 0);
  mode_t old_umask = umask(077);
  run_result r = extract(pack_entry("A.TXT", "new"));
  umask(old_umask);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(file("A.TXT"), "new");
  EXPECT_EQ(file("OLD"), "an older and longer content");
  // A read-only file: replaced like any other on POSIX (tar does the same);
  // Windows cannot delete it, so it is refused there.
  ASSERT_TRUE(write_file(dir + "/RO.TXT", "read-only"));
  ASSERT_EQ(chmod((dir + "/RO.TXT").c_str(), 0444), 0);
  r = extract(pack_entry("RO.TXT", "new"));
  EXPECT_EQ(r.status, target_is_windows() ? 1 : 0);
  EXPECT_EQ(file("RO.TXT"), target_is_windows() ? "read-only" : "new");
  if (target_is_windows()) return;  // owners and modes are POSIX
  struct stat st;
  ASSERT_EQ(stat((dir + "/A.TXT").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_uid, geteuid());
  EXPECT_EQ(st.st_nlink, 1u);
}

TEST_F(EndToEnd, DirectorySwappedForALinkWhileRunning) {
  if (target_is_windows()) GTEST_SKIP() << "POSIX links and renameat2";
  std::string outside = make_temp_dir();
  fs::create_directory(dir + "/SUB");
  fs::create_symlink(outside, dir + "/SWAP");
  ASSERT_TRUE(write_file(dir + "/ARC.MDT", pack_entry("SUB/A.TXT", "a") +
                                               pack_entry("SUB/B.TXT", "b")));
  // SUB and SWAP trade places, atomically, for as long as the runs go on:
  // SUB is a real directory one moment and a link to `outside` the next.
  std::atomic<bool> done{false};
  std::atomic<long> swaps{0};
  std::thread swapper([&] {
    while (!done) {
      if (renameat2(AT_FDCWD, (dir + "/SUB").c_str(), AT_FDCWD,
                    (dir + "/SWAP").c_str(), RENAME_EXCHANGE) != 0) {
        break;
      }
      ++swaps;
    }
  });
  auto stop = std::chrono::steady_clock::now() + std::chrono::seconds(4);
  int runs = 0, refused = 0;
  for (; runs < 300 && std::chrono::steady_clock::now() < stop; ++runs) {
    run_result r = run({"extractor", "ARC.MDT"});
    EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status;
    refused += r.status == 1;
  }
  done = true;
  swapper.join();
  EXPECT_GT(swaps, 0);
  EXPECT_TRUE(fs::is_empty(outside)) << refused << " of " << runs << " refused";
  remove_tree(outside);
}

TEST_F(EndToEnd, HeadersPast2And4GiB) {
  // A sparse archive with headers at 0, 1.5e9 + 32, 3e9 + 64 (past 2 GiB)
  // and 4.5e9 + 96 (past 4 GiB): a 32-bit offset would wrap or fail there.
  const int32_t gap = 1500000000;
  std::string past2 = "past 2 GiB\n";
  std::string past4 = std::string(3000, '4') + "past 4 GiB" + std::string(300, '\0');
  std::string third = header_bytes("PAST2G.TXT", gap, static_cast<int32_t>(past2.size())) +
                      rle_encode(past2);
  struct piece {
    int64_t offset;
    std::string bytes;
  };
  int fd = open((dir + "/BIG.MDT").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  bool written = true;
  for (const piece& p : {piece{0, header_bytes("GAP1", gap, 0)},
                         piece{gap + 32LL, header_bytes("GAP2", gap, 0)},
                         piece{2 * (gap + 32LL), third},
                         piece{3 * (gap + 32LL), pack_entry("PAST4G.BIN", past4)}}) {
    written = written && pwrite(fd, p.bytes.data(), p.bytes.size(), p.offset) ==
                             static_cast<ssize_t>(p.bytes.size());
  }
  close(fd);
  if (!written) GTEST_SKIP() << "this file system cannot hold a sparse 4.5 GB file";
  run_result r = run({"extractor", "BIG.MDT"});
  fs::remove(dir + "/BIG.MDT");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, text("GAP1         1500000000        0 \n"
                        "GAP2         1500000000        0 \n"
                        "PAST2G.TXT   1500000000       11 \n"
                        "PAST4G.BIN         40     3310 \n"));
  EXPECT_EQ(file("PAST2G.TXT"), past2);
  EXPECT_TRUE(file("PAST4G.BIN") == past4);
}

// The archive on a pipe (/dev/stdin or a FIFO) in the scratch folder.
class ArchiveOnAPipe : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    if (target_is_windows()) GTEST_SKIP() << "Windows has no /dev/stdin or FIFOs";
  }
  // Runs `command` in the scratch folder through the shell.
  run_result shell(const std::string& command) {
    return run_program("/bin/sh", {"sh", "-c", command}, dir);
  }
  // The extractor on /dev/stdin, the read end of a pipe from cat SRC.
  std::string from_cat = "cat SRC | exec " + extractor_binary() + " /dev/stdin";
};

TEST_F(ArchiveOnAPipe, ListsAndExtractsEveryEntry) {
  ASSERT_TRUE(write_file(dir + "/SRC", pack_entry("A.TXT", "first") +
                                           header_bytes("CUT", 6, 2) + "abcdef" +
                                           pack_entry("Z.BIN", std::string(70000, 'z'))));
  run_result r = shell(from_cat);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "A.TXT               5        5 \n"
            "CUT                 6        2 \n"
            "Z.BIN             549    70000 \n");
  EXPECT_EQ(file("CUT"), "ab");
  EXPECT_TRUE(file("Z.BIN") == std::string(70000, 'z'));
}

TEST_F(ArchiveOnAPipe, EntryReplacesTheFilePipedIn) {
  // The pipe's writer keeps reading the old file to its end.
  std::string live;
  for (int i = 0; i < 3000000; ++i) live += static_cast<char>(i * 7 % 251);
  ASSERT_TRUE(write_file(dir + "/SRC", pack_entry("SRC", "replaced") +
                                           pack_entry("BIG", live) +
                                           pack_entry("LAST", "last")));
  run_result r = shell(from_cat);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(file("SRC"), "replaced");
  EXPECT_TRUE(file("BIG") == live);
  EXPECT_EQ(file("LAST"), "last");
}

TEST_F(ArchiveOnAPipe, GoesBackToTheNextHeaderAsAFileDoes) {
  // Decoding that reads past the next header's offset, from a FIFO whose
  // writer pauses before the last byte: the run ends as it does from a
  // file, with the same files.
  ASSERT_EQ(mkfifo((dir + "/FIFO").c_str(), 0600), 0);
  std::string pieces = "(head -c -1 SRC; sleep 0.2; tail -c 1 SRC) > FIFO & exec " +
                       extractor_binary() + " FIFO";
  std::vector<named_archive> archives = archives_passing_the_next_header();
  archives.push_back({header_bytes("C", 5, 100) + "AA" + std::string(1, '\0') + "BB" +
                          std::string(1, '\0') + "C", {"C"}});
  for (const named_archive& a : archives) {
    ASSERT_TRUE(write_file(dir + "/SRC", a.bytes));
    run_result piped = shell(pieces);
    std::vector<std::string> piped_files;
    for (const std::string& name : a.names) piped_files.push_back(file(name));
    run_result from_file = extract(a.bytes);
    EXPECT_EQ(from_file.status, 0);
    EXPECT_EQ(piped.status, 0) << a.names[0];
    EXPECT_EQ(piped.err, "") << a.names[0];
    EXPECT_EQ(piped.out, from_file.out);
    for (std::size_t i = 0; i < a.names.size(); ++i) {
      EXPECT_TRUE(piped_files[i] == file(a.names[i])) << a.names[i];
    }
  }
  EXPECT_EQ(file("TWO"), "two");
}

TEST_F(ArchiveOnAPipe, GoesBack256KiBAndNoFurther) {
  // Decoding that ends 256 KiB (the limit the README and man page give)
  // past the next header goes back there, one byte more fails, whatever
  // pieces and pauses the writer gives: here 300 and 7,000 bytes in turn.
  ASSERT_EQ(mkfifo((dir + "/FIFO").c_str(), 0600), 0);
  for (int64_t past : {int64_t{256 * 1024}, int64_t{256 * 1024 + 1}}) {
    std::string past_next = archive_reading_past(past);
    std::thread writer([&] {
      sigset_t broken_pipe;  // the reader gives up: EPIPE, not the signal
      sigemptyset(&broken_pipe);
      sigaddset(&broken_pipe, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &broken_pipe, nullptr);
      int fd = -1;
      for (int tries = 0; fd < 0 && tries < 2000; ++tries) {  // until the program opens it
        fd = open((dir + "/FIFO").c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      if (fd < 0 || fcntl(fd, F_SETFL, 0) != 0) return;
      for (std::size_t at = 0, i = 0; at < past_next.size(); ++i) {
        std::size_t piece = std::min<std::size_t>(i % 2 ? 7000 : 300, past_next.size() - at);
        if (write(fd, past_next.data() + at, piece) != static_cast<ssize_t>(piece)) break;
        at += piece;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
      }
      close(fd);
    });
    run_result piped = run({"extractor", "FIFO"});
    writer.join();
    std::vector<std::string> piped_files;
    for (const char* name : {"A", "B", "C", "D"}) piped_files.push_back(exists(name) ? file(name) : "");
    run_result from_file = extract(past_next);
    if (past == 256 * 1024) {
      EXPECT_EQ(piped.status, 0);
      EXPECT_EQ(piped.out, from_file.out);
      for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(piped_files[i] == file(std::string(1, "ABCD"[i]))) << "ABCD"[i];
      }
    } else {
      EXPECT_EQ(piped.status, 1);
      EXPECT_EQ(piped.err, open_failure);
      EXPECT_EQ(piped.out, from_file.out.substr(0, from_file.out.find('\n') + 1));
    }
    for (const char* name : {"A", "B", "C", "D"}) fs::remove(dir + "/" + name);
  }
}

TEST_F(ArchiveOnAPipe, EmptyEntrysFileIsNoNameOfTheArchive) {
  // An empty entry's new file has the FIFO's size, and may have its times
  // to the nanosecond: it is still no name of the archive.
  ASSERT_EQ(mkfifo((dir + "/FIFO").c_str(), 0600), 0);
  ASSERT_TRUE(write_file(dir + "/SRC", pack_entry("E", "") + pack_entry("E", "data") +
                                           pack_entry("Z", "z")));
  std::string whole = "cat SRC > FIFO & exec " + extractor_binary() + " FIFO";
  for (int round = 0; round < 20; ++round) {
    run_result run = shell(whole);
    ASSERT_EQ(run.status, 0) << "round " << round << ": " << run.out;
    EXPECT_EQ(file("E"), "data");
  }
}

TEST_F(EndToEnd, ListingNobodyReadsStopsNothing) {
  if (target_is_windows()) GTEST_SKIP() << "SIGPIPE is POSIX";
  std::string archive;
  for (int i = 0; i < 400; ++i) archive += pack_entry("F" + std::to_string(i), "x");
  ASSERT_TRUE(write_file(dir + "/ARC.MDT", archive));
  // The reader closes its end before the extractor starts; the extractor's
  // own status goes to STATUS.
  std::string pipeline =
      "(while [ ! -e CLOSED ]; do sleep 0.01; done; " + extractor_binary() +
      " ARC.MDT; echo $? > STATUS) | (exec 0<&-; touch CLOSED)";
  run_result r = run_program("/bin/sh", {"sh", "-c", pipeline}, dir, "", {-1, -1, 60});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(file("STATUS"), "0\n");
  EXPECT_EQ(file("F399"), "x");
}

TEST_F(EndToEnd, WriteOnlyFolder) {
  if (target_is_windows()) GTEST_SKIP() << "folder modes are POSIX";
  if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) {
    GTEST_SKIP() << "needs root and setpriv to run as another user";
  }
  auto as_nobody = [&](const std::string& program, const std::string& arg) {
    std::vector<std::string> argv = {"setpriv", "--reuid=65534", "--regid=65534",
                                     "--clear-groups", program};
    if (!arg.empty()) argv.push_back(arg);
    return run_program("/usr/bin/setpriv", argv, dir);
  };
  // The other user must reach the program: from a checkout in a folder
  // others cannot enter (a home of mode 0700), a copy is run from /tmp.
  std::string program = extractor_binary();
  std::string copy_dir;
  if (as_nobody(program, "").err.find("Usage:") == std::string::npos) {
    copy_dir = make_temp_dir();
    ASSERT_EQ(chmod(copy_dir.c_str(), 0755), 0);
    program = copy_dir + "/extractor";
    fs::copy_file(extractor_binary(), program);
    if (as_nobody(program, "").err.find("Usage:") == std::string::npos) {
      remove_tree(copy_dir);
      GTEST_SKIP() << "another user cannot reach the program " << extractor_binary()
                   << " (or what it runs) from this checkout";
    }
  }
  // A drop box: others may create files in it but not list it.
  ASSERT_EQ(chmod(parent.c_str(), 0755), 0);
  ASSERT_TRUE(write_file(dir + "/ARC.MDT", pack_entry("DROP.TXT", "dropped")));
  ASSERT_EQ(chmod((dir + "/ARC.MDT").c_str(), 0644), 0);
  ASSERT_EQ(chmod(dir.c_str(), 01733), 0);
  run_result r = as_nobody(program, "ARC.MDT");
  if (!copy_dir.empty()) remove_tree(copy_dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(file("DROP.TXT"), "dropped");
  struct stat st;
  ASSERT_EQ(stat((dir + "/DROP.TXT").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
}

TEST_F(EndToEnd, ControlBytesEscapedInListingOnly) {
  std::string name = "\x1B]0;X\x07";
  run_result r = extract(pack_entry(name, "esc") +
                         pack_entry("\x83\x74\x83\x40.TXT", "sjis"));
  if (target_is_windows()) {
    // Windows refuses control characters in file names: only the listing.
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, text("?]0;X?              3        3 \n"));
    return;  // file names with control bytes cannot exist on Windows
  }
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "?]0;X?              3        3 \n"
            "\x83\x74\x83\x40.TXT            4        4 \n");
  EXPECT_EQ(file(name), "esc");
  EXPECT_EQ(file("\x83\x74\x83\x40.TXT"), "sjis");
}

TEST_F(EndToEnd, BundledSampleMatchesItsSources) {
  std::string sample_dir = std::string(SOURCE_DIR) + "/examples/sample";
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(sample_dir)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  ASSERT_GE(names.size(), 3u);
  std::string packed;
  for (const std::string& n : names) {
    std::string data;
    ASSERT_TRUE(read_file(sample_dir + "/" + n, &data));
    packed += pack_entry(n, data);
  }
  std::string sample;
  ASSERT_TRUE(read_file(std::string(SOURCE_DIR) + "/examples/sample.MDT", &sample));
  EXPECT_TRUE(sample == packed) << "examples/sample.MDT is out of date";
  run_result r = run({"extractor", std::string(SOURCE_DIR) + "/examples/sample.MDT"});
  EXPECT_EQ(r.status, 0);
  for (const std::string& n : names) {
    std::string data;
    ASSERT_TRUE(read_file(sample_dir + "/" + n, &data));
    EXPECT_TRUE(file(n) == data) << n;
  }
}

}  // namespace
