#include "archive/entry_walk.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "archive/decode.h"
#include "tests/support/packer.h"
#include "tests/support/stream.h"

namespace {

struct walked {
  std::vector<std::string> names;
  std::vector<std::string> outputs;
  walk_status end;
};

// Walks the archive as the extractor does, decoding every entry. Gives up
// after 100 entries so that a walk that does not end fails the test.
walked walk_reader(archive_reader* archive) {
  walked w{};
  entry_walk walk = walk_begin(archive);
  entry_header header;
  while ((w.end = walk_next(&walk, &header)) == walk_entry &&
         w.names.size() < 100) {
    std::FILE* out = std::tmpfile();
    decode_entry(archive, out, header.packed_size, header.unpacked_size);
    w.names.push_back(header.name);
    w.outputs.push_back(contents_of(out));
    std::fclose(out);
  }
  return w;
}

walked walk_bytes(const std::string& bytes) {
  reader_over archive(file_holding(bytes));
  return walk_reader(archive.get());
}

walked walk_pipe(const std::string& bytes) {
  reader_over archive(pipe_holding(bytes));
  EXPECT_GE(archive.fd, 0);
  return walk_reader(archive.get());
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

TEST(EntryWalk, LastEntryCutShortEndsTheWalk) {
  std::string archive = pack_entry("A", "abcdefgh");
  walked w = walk_bytes(archive.substr(0, archive.size() - 3));
  EXPECT_EQ(w.names, (names{"A"}));
  EXPECT_EQ(w.outputs, (names{"abcde"}));
  EXPECT_EQ(w.end, walk_end);
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
  // A gap larger than the reader's buffer, from a file whose seeks fail
  // (a pipe taken for a file): read forward, not taken for the end.
  std::string far = header_bytes("FAR", 300000, 1) + std::string(300000, 'f') +
                    pack_entry("NEXT", "next");
  reader_over failing(pipe_holding(far));
  failing->seekable = true;
  w = walk_reader(failing.get());
  EXPECT_EQ(w.names, (names{"FAR", "NEXT"}));
  EXPECT_EQ(w.end, walk_end);
}

TEST(EntryWalk, PipeAndFileAgreeWhenDecodingPassesTheNextHeader) {
  // The decoder takes bytes of the next header, or one byte past the
  // archive's end: a pipe goes back within what it holds, as a file does.
  std::string into_next = header_bytes("ONE", 4, 20) +
                          std::string("\x41\x41\x03\x42", 4) +
                          pack_entry("TWO", "two");
  std::string past_end = header_bytes("END", 2, 100) + "aa" + std::string(1, '\0');
  for (const std::string& archive : {into_next, past_end}) {
    walked file = walk_bytes(archive);
    walked pipe = walk_pipe(archive);
    EXPECT_EQ(file.end, walk_end);
    EXPECT_EQ(pipe.end, walk_end);
    EXPECT_EQ(pipe.names, file.names);
    EXPECT_EQ(pipe.outputs, file.outputs);
  }
  // Decoding that passes the next header by more than the buffer holds:
  // a pipe cannot go back, and says so rather than ending quietly.
  std::string pairs = "A";
  for (int i = 0; i < 300000; ++i) pairs += std::string("A\0", 2);
  std::string overrun = header_bytes("OVER", 300001, 300001) + pairs +
                        pack_entry("LAST", "last");
  walked pipe = walk_pipe(overrun);
  EXPECT_EQ(pipe.names, (names{"OVER"}));
  EXPECT_EQ(pipe.end, walk_unreachable);
  EXPECT_EQ(walk_bytes(overrun).end, walk_end);
}

TEST(EntryWalk, FileEndingBeforeItsSizeIsAFailure) {
  // The file is cut short after the reader was opened on it, as when it is
  // truncated or removed under a FUSE reader during the run.
  std::string literals;
  for (int i = 0; i < 400000; ++i) literals += static_cast<char>(i * 13 % 256 | 1);
  std::string archive = pack_entry("A", "first") + pack_entry("B", literals) +
                        pack_entry("C", "c");
  reader_over shrunk(file_holding(archive));
  ASSERT_EQ(ftruncate(shrunk.fd, 300000), 0);
  walked w = walk_reader(shrunk.get());
  EXPECT_EQ(w.names, (names{"A", "B"}));
  EXPECT_EQ(w.end, walk_read_error);
  // A read that fails (a directory opened as the archive).
  reader_over directory(open("/", O_RDONLY));
  EXPECT_EQ(walk_reader(directory.get()).end, walk_read_error);
}

TEST(EntryWalk, ArchiveCutAtEveryLength) {
  std::string archive = pack_entry("A.TXT", "some text, some text") +
                        pack_entry("RUNS", std::string(600, 'r') + "xyz") +
                        pack_entry("Z", "");
  walked whole = walk_bytes(archive);
  ASSERT_EQ(whole.names.size(), 3u);
  for (std::size_t length = 0; length <= archive.size(); ++length) {
    walked w = walk_bytes(archive.substr(0, length));
    EXPECT_EQ(w.end, walk_end) << length;
    ASSERT_LE(w.names.size(), 3u);
    for (std::size_t i = 0; i < w.names.size(); ++i) {
      EXPECT_EQ(w.names[i], whole.names[i]) << length;
      // A cut entry's output is a prefix of the whole: nothing invented.
      EXPECT_EQ(whole.outputs[i].compare(0, w.outputs[i].size(), w.outputs[i]),
                0) << length;
    }
  }
}

}  // namespace
