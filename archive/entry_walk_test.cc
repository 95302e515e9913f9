// SPDX-License-Identifier: MIT
#include "archive/entry_walk.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "archive/decode.h"
#include "archive/testing.h"
#include "tests/support/packer.h"
#include "tests/support/run.h"
#include "tests/support/stream.h"

namespace {

struct walked {
  std::vector<std::string> names;
  std::vector<std::string> outputs;
  walk_status end;
};

// Walks the archive as the extractor does, decoding every entry. Gives up
// after 100 entries so that a walk that does not end fails the test.
// A read failure inside an entry ends the walk as walk_read_error.
walked walk_reader(archive_reader* reader) {
  walked w{};
  entry_walk walk = walk_begin(reader);
  entry_header header;
  while ((w.end = walk_next(&walk, &header)) == walk_entry &&
         w.names.size() < 100) {
    std::FILE* out = std::tmpfile();
    decode_status status =
        decode_entry(reader, fileno(out), header.packed_size, header.unpacked_size);
    w.names.push_back(header.name);
    w.outputs.push_back(contents_of(out));
    std::fclose(out);
    if (status == decode_read_error) {
      w.end = walk_read_error;
      break;
    }
  }
  return w;
}

walked walk_bytes(const std::string& bytes) {
  reader_over reader(file_holding(bytes));
  return walk_reader(reader.get());
}

// Through a pipe, in reads of at most `piece` bytes (0: as they come).
walked walk_pipe(const std::string& bytes, std::size_t piece = 0) {
  reader_over reader(pipe_holding(bytes));
  EXPECT_GE(reader.fd, 0);
  reader_limit_reads(reader.get(), piece);
  return walk_reader(reader.get());
}

std::string hex(const char* digits) {
  std::string bytes;
  for (const char* d = digits; d[0] != '\0' && d[1] != '\0'; d += 2) {
    bytes += static_cast<char>(std::stoi(std::string(d, 2), nullptr, 16));
  }
  return bytes;
}

using names = std::vector<std::string>;

TEST(EntryWalk, ShortArchivesHoldNoEntries) {
  for (std::size_t length : {0u, 1u, 31u}) {
    walked w = walk_bytes(header_bytes("X", 0, 0).substr(0, length));
    EXPECT_TRUE(w.names.empty()) << length;
    EXPECT_EQ(w.end, walk_end);
  }
}

TEST(EntryWalk, EntriesInOrderAndTrailingBytesIgnored) {
  std::string archive = pack_entry("A.TXT", "hello, hello") +
                        pack_entry("EMPTY", "") +  // next header right at +32
                        pack_entry("B.BIN", std::string(1000, '\0')) +
                        std::string(31, 'x');
  walked w = walk_bytes(archive);
  EXPECT_EQ(w.names, (names{"A.TXT", "EMPTY", "B.BIN"}));
  EXPECT_EQ(w.outputs, (names{"hello, hello", "", std::string(1000, '\0')}));
  EXPECT_EQ(w.end, walk_end);
}

TEST(EntryWalk, IgnoredHeaderBytesChangeNothing) {
  std::string archive = header_bytes("F", 3, 3, 0xEE) + "abc" +
                        header_bytes("G", 2, 2, 0x77) + "de";
  walked w = walk_bytes(archive);
  EXPECT_EQ(w.names, (names{"F", "G"}));
  EXPECT_EQ(w.outputs, (names{"abc", "de"}));
}

TEST(EntryWalk, NextHeaderFoundByOffsetNotByConsumption) {
  // The first entry claims more output than its data holds, so its decoder
  // reads on into the second header; the second is still found.
  std::string first = header_bytes("ONE", 4, 20) +
                      std::string("\x41\x41\x03\x42", 4);
  std::string second = pack_entry("TWO", "second entry");
  walked w = walk_bytes(first + second);
  EXPECT_EQ(w.names, (names{"ONE", "TWO"}));
  EXPECT_EQ(w.outputs[0], std::string("AAAAAB\0", 7));
  EXPECT_EQ(w.outputs[1], "second entry");
  // A decoder that stops early (output limit) leaves bytes that are skipped.
  std::string early = header_bytes("CUT", 6, 2) + "abcdef" + pack_entry("NEXT", "n");
  w = walk_bytes(early);
  EXPECT_EQ(w.names, (names{"CUT", "NEXT"}));
  EXPECT_EQ(w.outputs, (names{"ab", "n"}));
}

TEST(EntryWalk, ArchiveCutInsideAnEntryIsACut) {
  // Cut inside the last entry's data, whether decoding reads to the cut or
  // stops before it (its unpacked_size reached): what was decoded is kept,
  // nothing is invented, and the walk says the archive was cut, from a
  // file and from a pipe alike.
  std::string archive = pack_entry("A", "abcdefgh");
  std::string early = header_bytes("CUT", 6, 2) + "abcdef";
  // Stopped early, and cut far beyond what the reader has read ahead.
  std::string literals = alternating(600000);
  std::string far = header_bytes("FAR", 600000, 10) + literals;
  struct cut {
    std::string bytes;
    std::string output;
  };
  for (const cut& c : {cut{archive.substr(0, archive.size() - 3), "abcde"},
                       cut{early.substr(0, early.size() - 1), "ab"},
                       cut{far.substr(0, 400032), literals.substr(0, 10)}}) {
    walked file = walk_bytes(c.bytes);
    EXPECT_EQ(file.outputs, (names{c.output}));
    EXPECT_EQ(file.end, walk_cut);
    for (std::size_t piece : {0u, 1u}) {
      walked pipe = walk_pipe(c.bytes, piece);
      EXPECT_EQ(pipe.outputs, (names{c.output})) << piece;
      EXPECT_EQ(pipe.end, walk_cut) << piece;
    }
  }
  // Whole, but for an unpacked_size larger than the data yields: the
  // token bound reads on into nothing, and that is the archive's end.
  std::string into_nothing = header_bytes("MORE", 3, 100) + std::string("aa\x05", 3);
  EXPECT_EQ(walk_bytes(into_nothing).outputs, (names{std::string(7, 'a')}));
  EXPECT_EQ(walk_bytes(into_nothing).end, walk_end);
  EXPECT_EQ(walk_pipe(into_nothing).end, walk_end);
}

TEST(EntryWalk, NegativePackedSizeEndsTheWalkAfterItsEntry) {
  // -32 would bring the walk back to the same header forever, -64 to the
  // previous one, and INT32_MIN would wrap a 32-bit offset.
  for (int32_t packed : {-1, -32, -64, INT32_MIN}) {
    std::string archive = pack_entry("FIRST", "1") +
                          header_bytes("LOOP", packed, 5) +
                          pack_entry("AFTER", "never read");
    walked w = walk_bytes(archive);
    EXPECT_EQ(w.names, (names{"FIRST", "LOOP"})) << packed;
    EXPECT_EQ(w.outputs[1], "");
    EXPECT_EQ(w.end, walk_end);
  }
}

TEST(EntryWalk, PipeIsSkippedForwardByReading) {
  std::string archive = header_bytes("CUT", 6, 2) + "abcdef" +
                        pack_entry("NEXT", "next") + std::string(5, 'z');
  walked w = walk_pipe(archive);
  EXPECT_EQ(w.names, (names{"CUT", "NEXT"}));
  EXPECT_EQ(w.outputs, (names{"ab", "next"}));
  EXPECT_EQ(w.end, walk_end);
}

TEST(EntryWalk, PipeIsNotWaitedOnForBytesNotNeeded) {
  // The writer holds back what follows what it sent: a read there would
  // wait, and on this socket fails after 10 ms. Sent in one read, the
  // first entry and the next header need nothing more; read a byte at a
  // time, moving past the rest of the entry to the next header needs
  // nothing more. Then the writer goes on.
  std::string archive = header_bytes("A", 6, 2) + "abcdef" + pack_entry("B", "b");
  struct held {
    std::size_t piece;
    std::size_t sent;  // the bytes sent before the writer holds back
  };
  for (held h : {held{0, 38 + 32}, held{1, 38}}) {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    timeval wait{0, 10000};
    ASSERT_EQ(setsockopt(ends[0], SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait), 0);
    ASSERT_EQ(write(ends[1], archive.data(), h.sent), static_cast<ssize_t>(h.sent));
    reader_over reader(ends[0]);
    reader_limit_reads(reader.get(), h.piece);
    entry_walk walk = walk_begin(reader.get());
    entry_header header;
    ASSERT_EQ(walk_next(&walk, &header), walk_entry);
    std::FILE* out = std::tmpfile();
    EXPECT_EQ(decode_entry(reader.get(), fileno(out), 6, 2), decode_ok) << h.piece;
    EXPECT_EQ(contents_of(out), "ab") << h.piece;
    std::fclose(out);
    EXPECT_EQ(reader_move_to(reader.get(), walk.next_offset), reader_ok) << h.piece;
    bool header_sent = h.sent >= 38 + 32;
    if (header_sent) {
      EXPECT_EQ(walk_next(&walk, &header), walk_entry) << h.piece;
    }
    std::size_t rest = archive.size() - h.sent;
    ASSERT_EQ(write(ends[1], archive.data() + h.sent, rest), static_cast<ssize_t>(rest));
    close(ends[1]);
    if (!header_sent) {
      EXPECT_EQ(walk_next(&walk, &header), walk_entry) << h.piece;
    }
    EXPECT_STREQ(header.name, "B");
    EXPECT_EQ(walk_next(&walk, &header), walk_end) << h.piece;
  }
}

TEST(EntryWalk, PipeAndFileAgreeWhenDecodingPassesTheNextHeader) {
  // The decoder takes bytes of the next header or beyond: a pipe goes back
  // to the next header, as a file does, and ends as the file does.
  std::vector<std::string> archives;
  for (const named_archive& a : archives_passing_the_next_header()) archives.push_back(a.bytes);
  // Decoding takes 2 bytes past the next header, and fewer than 32 follow.
  std::string short_tail = hex(
      "000000410000000000000000000000000500000064000000000000000000000041410042420043");
  archives.push_back(short_tail);
  // Ten bytes past the next header, which lies within 32 bytes of the end.
  std::string near_end = header_bytes("N", 13, INT32_MAX) + "A";
  for (int i = 0; i < 11; ++i) near_end += std::string("A\0", 2);
  archives.push_back(near_end);
  for (const std::string& archive : archives) {
    walked file = walk_bytes(archive);
    ASSERT_EQ(file.end, walk_end);
    for (std::size_t piece : {0u, 1u, 7u, 65536u}) {
      walked pipe = walk_pipe(archive, piece);
      EXPECT_EQ(pipe.end, walk_end) << archive.size() << " in pieces of " << piece;
      EXPECT_EQ(pipe.names, file.names);
      EXPECT_EQ(pipe.outputs, file.outputs);
    }
  }
  std::string at_piece = archives_passing_the_next_header().back().bytes;
  ASSERT_EQ(at_piece.find(header_bytes("B", 0, 0)), 65536u - 10);
  EXPECT_EQ(walk_bytes(at_piece).names, (names{"PAD", "A", "B", "C", "D"}));
  EXPECT_EQ(walk_bytes(short_tail).outputs, (names{"AABBC"}));
}

TEST(EntryWalk, PipePassedTooFarCannotGoBack) {
  // Decoding that passes the next header by more than the reader keeps:
  // a pipe cannot go back, and says so rather than ending quietly.
  std::string many = "A";
  for (int i = 0; i < 300000; ++i) many += std::string("A\0", 2);
  std::string overrun = header_bytes("OVER", 300001, 300001) + many +
                        pack_entry("LAST", "last");
  walked pipe = walk_pipe(overrun);
  EXPECT_EQ(pipe.names, (names{"OVER"}));
  EXPECT_EQ(pipe.end, walk_unreachable);
  // A file goes back, to a header (inside the pairs) whose data would run
  // past the archive's end.
  EXPECT_EQ(walk_bytes(overrun).end, walk_cut);
}

TEST(EntryWalk, PipeGoesBackAsFarAsItsLimitAndNoFurther) {
  // Decoding that ends reader_most_behind bytes past the next header goes
  // back there, one byte further does not, whatever pieces the pipe gave.
  const int64_t limit = reader_most_behind;
  std::string at_limit = archive_reading_past(limit);
  std::string beyond = archive_reading_past(limit + 1);
  walked file = walk_bytes(at_limit);
  ASSERT_EQ(file.names, (names{"A", "B", "C", "D"}));
  EXPECT_EQ(walk_bytes(beyond).end, walk_end);
  for (std::size_t piece : {0u, 300u, 4096u, 7000u, 65536u}) {
    walked back = walk_pipe(at_limit, piece);
    EXPECT_EQ(back.end, walk_end) << "pieces of " << piece;
    EXPECT_EQ(back.names, file.names) << "pieces of " << piece;
    EXPECT_TRUE(back.outputs == file.outputs) << "pieces of " << piece;
    walked too_far = walk_pipe(beyond, piece);
    EXPECT_EQ(too_far.end, walk_unreachable) << "pieces of " << piece;
    EXPECT_EQ(too_far.names, (names{"A"})) << "pieces of " << piece;
  }
  // Decoding that meets the pipe's end exactly at the limit, tokens still
  // left: the pipe goes back as the file does (to a walk cut in C).
  std::string at_end = archive_reading_past(limit + 1);
  at_end.resize(at_end.find(header_bytes("B", 0, 0)) + reader_most_behind);
  file = walk_bytes(at_end);
  ASSERT_EQ(file.names, (names{"A", "B", "C"}));
  for (std::size_t piece : {0u, 300u, 4096u}) {
    walked back = walk_pipe(at_end, piece);
    EXPECT_EQ(back.end, file.end) << "pieces of " << piece;
    EXPECT_EQ(back.names, file.names) << "pieces of " << piece;
  }
}

// Three entries, the second larger than one read.
std::string three_entries() {
  std::string literals;
  for (int i = 0; i < 400000; ++i) literals += static_cast<char>(i * 13 % 256 | 1);
  return pack_entry("A", "first") + pack_entry("B", literals) + pack_entry("C", "c");
}

const timespec long_ago[2] = {{1000000000, 0}, {1000000000, 0}};

TEST(EntryWalk, FileCutShortAfterTheStartFails) {
  // The first read finds the size changed.
  reader_over shrunk(file_holding(three_entries()));
  ASSERT_EQ(ftruncate(shrunk.fd, 300000), 0);
  walked w = walk_reader(shrunk.get());
  EXPECT_TRUE(w.names.empty());
  EXPECT_EQ(w.end, walk_read_error);
}

TEST(EntryWalk, FileRewrittenInPlaceFails) {
  // The same size, other bytes and times after the start: the next read
  // fails.
  reader_over rewritten(file_holding(three_entries()));
  ASSERT_EQ(pwrite(rewritten.fd, "Z", 1, 40), 1);
  ASSERT_EQ(futimens(rewritten.fd, long_ago), 0);
  EXPECT_EQ(walk_reader(rewritten.get()).end, walk_read_error);
  // With its modification time set back, only the change time shows it.
  // The file is older than the coarse clock's tick when that happens, so
  // that the change time moves.
  reader_over set_back(file_holding(three_entries()));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  struct stat st;
  ASSERT_EQ(fstat(set_back.fd, &st), 0);
  const timespec same_times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(pwrite(set_back.fd, "Z", 1, 40), 1);
  ASSERT_EQ(futimens(set_back.fd, same_times), 0);
  EXPECT_EQ(walk_reader(set_back.get()).end, walk_read_error);
}

TEST(EntryWalk, FileRemovedWhileReadFails) {
  // A removed file still reads to its end; only its change time shows the
  // removal (older than the clock's tick, as above).
  temp_folder own;
  std::string path = own.path + "/ARC.MDT";
  ASSERT_TRUE(write_file(path, three_entries()));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  reader_over removed(open(path.c_str(), O_RDONLY));
  ASSERT_EQ(unlink(path.c_str()), 0);
  EXPECT_EQ(walk_reader(removed.get()).end, walk_read_error);
}

TEST(EntryWalk, FileChangedAfterItsLastReadFailsAtTheEnd) {
  std::string small = pack_entry("S", "small") + pack_entry("T", "t");
  reader_over late(file_holding(small));
  entry_walk walk = walk_begin(late.get());
  entry_header header;
  ASSERT_EQ(walk_next(&walk, &header), walk_entry);
  ASSERT_EQ(futimens(late.fd, long_ago), 0);
  EXPECT_EQ(walk_next(&walk, &header), walk_entry);
  EXPECT_EQ(walk_next(&walk, &header), walk_read_error);
}

TEST(EntryWalk, ReadThatFailsIsAReadError) {
  reader_over directory(open("/", O_RDONLY));  // a directory opened as the archive
  EXPECT_EQ(walk_reader(directory.get()).end, walk_read_error);
}

TEST(EntryWalk, ArchiveCutAtEveryLength) {
  std::string archive;
  std::vector<std::size_t> data_ends;  // where each entry's packed data ends
  for (const std::string& entry : {pack_entry("A.TXT", "some text, some text"),
                                   pack_entry("RUNS", std::string(600, 'r') + "xyz"),
                                   pack_entry("Z", "")}) {
    archive += entry;
    data_ends.push_back(archive.size());
  }
  walked whole = walk_bytes(archive);
  ASSERT_EQ(whole.names.size(), 3u);
  for (std::size_t length = 0; length <= archive.size(); ++length) {
    walked w = walk_bytes(archive.substr(0, length));
    ASSERT_LE(w.names.size(), 3u);
    // Cut inside the last entry listed, or at or after its end.
    bool cut = !w.names.empty() && data_ends[w.names.size() - 1] > length;
    EXPECT_EQ(w.end, cut ? walk_cut : walk_end) << length;
    for (std::size_t i = 0; i < w.names.size(); ++i) {
      EXPECT_EQ(w.names[i], whole.names[i]) << length;
      // A cut entry's output is a prefix of the whole: nothing invented.
      EXPECT_EQ(whole.outputs[i].compare(0, w.outputs[i].size(), w.outputs[i]),
                0) << length;
    }
  }
}

}  // namespace
