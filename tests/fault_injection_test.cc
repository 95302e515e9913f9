// SPDX-License-Identifier: MIT
// Runs the built extractor under faults: a file size limit, archives cut
// at every length, and failing system calls (strace's fault injection).
// The archive must come out unchanged, nothing may be written that the
// data does not decode to, and no failure may end a run with status 0.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "extractor/extractor.h"
#include "tests/support/packer.h"
#include "tests/support/run.h"
#include "tests/support/target.h"

namespace {

// A scratch folder inside a parent of its own.
struct scratch {
  std::string parent = make_temp_dir();
  std::string dir = make_folder(parent + "/work");
  ~scratch() { remove_tree(parent); }
  static std::string make_folder(const std::string& path) {
    mkdir(path.c_str(), 0700);
    return path;
  }
  std::string file(const std::string& name) const {
    std::string bytes;
    if (!read_file(dir + "/" + name, &bytes)) return "<missing>";
    return bytes;
  }
};

TEST(FileSizeLimit, WriteFailureInLiteralsRunsAndClose) {
  if (target_is_windows()) {
    GTEST_SKIP() << "the host's RLIMIT_FSIZE does not reach a program under Wine";
  }
  std::string literals;
  for (int i = 0; i < 300000; ++i) literals += static_cast<char>(i * 13 % 256 | 1);
  std::string runs;
  for (int i = 0; i < 300; ++i) runs += std::string(1000, static_cast<char>(i));
  struct limited {
    std::string data;
    long long limit;
  };
  std::vector<limited> cases;
  for (const std::string& data : {literals, runs}) {
    for (long long limit : {4096LL, 65536LL, 100000LL, 299999LL}) {
      cases.push_back({data, limit});
    }
  }
  // Small enough to stay in the buffers until the file is closed.
  cases.push_back({literals.substr(0, 1000), 512});
  // Standard output is a file under the same limit: it needs ~100 bytes.
  for (const limited& c : cases) {
    scratch s;
    std::string archive = pack_entry("SMALL", "fits") + pack_entry("BIG", c.data) +
                          pack_entry("LATER", "x");
    ASSERT_TRUE(write_file(s.dir + "/ARC.MDT", archive));
    run_result r = run_program(extractor_binary(), {"extractor", "ARC.MDT"},
                               s.dir, "", {c.limit});
    EXPECT_EQ(r.status, 2) << c.limit;
    EXPECT_EQ(r.err, text(write_failure_message)) << c.limit;
    EXPECT_EQ(r.out.substr(0, 20), "SMALL               ");
    EXPECT_EQ(r.out.find("LATER"), std::string::npos);
    std::string big = s.file("BIG");
    EXPECT_LE(big.size(), static_cast<std::size_t>(c.limit));
    EXPECT_TRUE(c.data.compare(0, big.size(), big) == 0) << c.limit;
    EXPECT_EQ(s.file("SMALL"), "fits");
    EXPECT_EQ(s.file("ARC.MDT"), archive);
  }
}

TEST(CutArchive, EveryLengthFailsInsideAnEntryAndEndsAtOne) {
  // Cut inside an entry's data: status 1 after its listing line, the
  // entries before it whole. Cut at an entry's end or within the 31 bytes
  // after it: the archive's end as the layout shows it, status 0. Every
  // fifth length through a pipe too, which must end as the file does.
  std::vector<std::string> names = {"A.TXT", "RUNS", "EMPTY", "Z"};
  std::vector<std::string> data = {"text, text", std::string(300, 'r') + "st",
                                   "", "zz"};
  std::string archive;
  std::vector<std::size_t> ends;  // where each entry's header ends
  for (std::size_t i = 0; i < names.size(); ++i) {
    ends.push_back(archive.size() + 32);
    archive += pack_entry(names[i], data[i]);
  }
  ends.push_back(archive.size() + 32);
  for (std::size_t length = 0; length <= archive.size(); ++length) {
    scratch s;
    std::string cut = archive.substr(0, length);
    ASSERT_TRUE(write_file(s.dir + "/ARC.MDT", cut));
    run_result r = run_program(extractor_binary(), {"extractor", "ARC.MDT"}, s.dir);
    std::size_t listed = 0;
    while (listed < names.size() && ends[listed] <= length) ++listed;
    bool inside = listed > 0 && ends[listed] - 32 > length;
    EXPECT_EQ(r.status, inside ? 1 : 0) << length;
    EXPECT_EQ(r.err, inside ? text(open_failure_message) : "") << length;
    for (std::size_t i = 0; i < listed; ++i) {
      std::string got = s.file(names[i]);
      EXPECT_TRUE(data[i].compare(0, got.size(), got) == 0)
          << names[i] << " cut at " << length;
      EXPECT_EQ(got.size() == data[i].size(), !inside || i + 1 < listed)
          << names[i] << " cut at " << length;
    }
    std::size_t lines = 0;
    for (char c : r.out) lines += c == '\n';
    EXPECT_EQ(lines, listed) << length;
    EXPECT_EQ(s.file("ARC.MDT"), cut);
    if (length % 5 != 0 || target_is_windows()) continue;  // no /dev/stdin there
    run_result piped = run_program("/bin/sh", {"sh", "-c", "cat ARC.MDT | exec " +
                                   extractor_binary() + " /dev/stdin"}, s.dir);
    EXPECT_EQ(piped.status, r.status) << length;
    EXPECT_EQ(piped.out, r.out) << length;
    EXPECT_EQ(piped.err, r.err) << length;
  }
}

TEST(SmallStack, EveryEntryIsExtracted) {
  // No buffer of the program's on the stack: a small stack limit, with an
  // existing file at the first entry's name, which must not be left empty.
  if (target_is_windows()) GTEST_SKIP() << "the host's RLIMIT_STACK does not reach Wine";
  std::string literals;
  for (int i = 0; i < 300000; ++i) literals += static_cast<char>(i * 13 % 256 | 1);
  for (long long kib : {64, 128}) {
    scratch s;
    std::string archive = pack_entry("NOTES.TXT", "notes") + pack_entry("EMPTY", "") +
                          pack_entry("BIG", literals);
    ASSERT_TRUE(write_file(s.dir + "/ARC.MDT", archive));
    ASSERT_TRUE(write_file(s.dir + "/NOTES.TXT", "old notes"));
    run_limits limits;
    limits.stack = kib * 1024;
    run_result r = run_program(extractor_binary(), {"extractor", "ARC.MDT"}, s.dir, "", limits);
    EXPECT_EQ(r.status, 0) << kib << " KiB";
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(s.file("NOTES.TXT"), "notes");
    EXPECT_TRUE(s.file("BIG") == literals);
  }
}

// Failing or slow system calls on one file, by strace's fault injection.
class InjectedFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    if (target_is_windows()) GTEST_SKIP() << "strace cannot reach into Wine's I/O";
    if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace";
  }
  // The shell command that runs the program on ARC.MDT in `s`, with the
  // system calls on `s.dir/file` failing or held back as `inject` says.
  // LeakSanitizer cannot run under ptrace; a sanitized build runs without it.
  // The calls on the file are traced into `trace`.
  static std::string traced(const scratch& s, const std::string& file, const std::string& inject,
                            const std::string& trace = "/dev/null") {
    return "env ASAN_OPTIONS=detect_leaks=0 /usr/bin/strace -f -o " + trace + " -P " + s.dir +
           "/" + file + " -e inject=" + inject + " " + extractor_binary() + " ARC.MDT";
  }
  static run_result run(const scratch& s, const std::string& command) {
    return run_program("/bin/sh", {"sh", "-c", command}, s.dir);
  }
};

TEST_F(InjectedFaults, FailedSeeksAndEarlyEndsNeverEndQuietly) {
  // Four entries whose decoding stops short of their packed data, so that
  // the walk has to move on past what the reader holds, then a last one.
  std::string noise;
  for (int i = 0; i < 300000; ++i) noise += static_cast<char>(i * 7 % 251);
  std::string archive, listing;
  for (int i = 0; i < 4; ++i) {
    std::string name = "Y" + std::to_string(i) + ".BIN";
    archive += header_bytes(name, 300000, 10) + noise;
    listing += name + "         300000       10 \n";
  }
  archive += pack_entry("LAST", "last");
  listing += "LAST                4        4 \n";
  struct fault {
    std::string inject;
    int status;
  };
  for (const fault& f : std::vector<fault>{
           {"lseek:error=EIO:when=2+", 0},  // read forward instead
           {"read:retval=0:when=3+", 1},    // the file ends before its size
           {"read:retval=0:when=3", 1},     // one short read inside the data
           {"read:error=EIO:when=2", 1}}) {
    scratch s;
    ASSERT_TRUE(write_file(s.dir + "/ARC.MDT", archive));
    run_result r = run(s, traced(s, "ARC.MDT", f.inject));
    EXPECT_EQ(r.status, f.status) << f.inject;
    if (f.status == 0) {
      EXPECT_EQ(r.out, listing);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(s.file("Y3.BIN"), noise.substr(0, 10));
      EXPECT_EQ(s.file("LAST"), "last");
    } else {
      EXPECT_EQ(r.err, text(open_failure_message)) << f.inject;
      EXPECT_EQ(listing.compare(0, r.out.size(), r.out), 0) << f.inject;
      EXPECT_LT(r.out.size(), listing.size()) << f.inject;
    }
    EXPECT_EQ(s.file("ARC.MDT"), archive);
  }
  // Decoding that reads on far past the next header, further than the
  // reader holds: the way back is a seek, and when it fails the run fails.
  scratch s;
  std::string past = archive_reading_past(300000);
  ASSERT_TRUE(write_file(s.dir + "/ARC.MDT", past));
  run_result r = run(s, traced(s, "ARC.MDT", "lseek:error=EIO:when=2+"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, text(open_failure_message));
  EXPECT_EQ(r.out.find("B "), std::string::npos);
}

TEST_F(InjectedFaults, NameGoneBeforeItIsAskedIsCreatedAgain) {
  // The name exists when the file is created, and is gone (as the fault
  // says) when it is asked what it is: the create is tried again.
  scratch s;
  ASSERT_TRUE(write_file(s.dir + "/ARC.MDT", pack_entry("NOTES.TXT", "new notes")));
  ASSERT_TRUE(write_file(s.dir + "/NOTES.TXT", "old"));
  run_result r = run(s, "env ASAN_OPTIONS=detect_leaks=0 /usr/bin/strace -f -o /dev/null -P " +
                            s.dir + " -e inject=newfstatat:error=ENOENT:when=1 " +
                            extractor_binary() + " ARC.MDT");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(s.file("NOTES.TXT"), "new notes");
}

TEST_F(InjectedFaults, ArchiveStateThatCannotBeAskedStopsTheRun) {
  // An entry named like the archive: without the archive's state, asked
  // at the start (when=1) or after a read (2+), it cannot be told apart.
  std::string archive = pack_entry("X1.TXT", "x1") + pack_entry("ARC.MDT", "wiped");
  for (const char* when : {"1", "2+"}) {
    scratch s;
    ASSERT_TRUE(write_file(s.dir + "/ARC.MDT", archive));
    run_result r = run(s, traced(s, "ARC.MDT",
                                 std::string("fstat,newfstatat,statx:error=EIO:when=") + when));
    EXPECT_EQ(r.status, 1) << when;
    EXPECT_EQ(r.err, text(open_failure_message)) << when;
    EXPECT_EQ(r.out, "") << when;
    EXPECT_EQ(s.file("ARC.MDT"), archive) << when;
    EXPECT_EQ(s.file("X1.TXT"), "<missing>") << when;
  }
}

TEST_F(InjectedFaults, OutputFileThatFailsToCloseIsAWriteFailure) {
  scratch s;
  ASSERT_TRUE(write_file(s.dir + "/ARC.MDT", pack_entry("OUT.TXT", "data") +
                                                 pack_entry("LATER", "later")));
  run_result r = run(s, traced(s, "OUT.TXT", "close:error=EIO"));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, text(write_failure_message));
  EXPECT_EQ(r.out, "OUT.TXT             4        4 \n");
}

TEST_F(InjectedFaults, ArchiveChangedDuringTheRunNeverEndsWithStatus0) {
  // More than one read's worth, so that the run reads again after the
  // change; the archive's second read is held back a while, and the file
  // is rewritten meanwhile (once the trace shows the first read): in place
  // with other bytes of the same size, or cut to nothing and grown again.
  std::string noise;
  for (int i = 0; i < 300000; ++i) noise += static_cast<char>(i * 7 % 251);
  std::string archive = pack_entry("A", "a") + pack_entry("NOISE", noise) +
                        pack_entry("LAST", "last");
  std::string other = archive;
  other[other.size() - 1] = 'X';
  for (const char* rewrite : {"cp NEW.MDT ARC.MDT",
                              "truncate -s 0 ARC.MDT && cat NEW.MDT >> ARC.MDT"}) {
    scratch s;
    ASSERT_TRUE(write_file(s.dir + "/ARC.MDT", archive));
    ASSERT_TRUE(write_file(s.dir + "/NEW.MDT", other));
    run_result r = run(s, std::string("(until grep -q '^[0-9]* *read(' TRACE 2>/dev/null; do sleep 0.01; done; ") +
                              rewrite + ") & " +
                              traced(s, "ARC.MDT", "read:delay_enter=1000000:when=2", "TRACE") +
                              "; status=$?; wait; exit $status");
    EXPECT_EQ(r.status, 1) << rewrite;
    EXPECT_EQ(r.err, text(open_failure_message)) << rewrite;
    EXPECT_EQ(r.out.find("LAST"), std::string::npos) << rewrite;
  }
}

}  // namespace
