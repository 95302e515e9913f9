#include "archive/entry_walk.h"

#include <gtest/gtest.h>

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

// Walks `archive` as the extractor does, decoding every entry. Gives up
// after 100 entries so that a walk that does not end fails the test.
walked walk_stream(std::FILE* archive) {
  walked w{};
  entry_walk walk = walk_begin(archive);
  entry_header header;
  walk_status step = walk_read_header(&walk, &header);
  while (step == walk_entry && w.names.size() < 100) {
    std::FILE* out = std::tmpfile();
    int64_t consumed = 0;
    decode_entry(archive, out, header.packed_size, header.unpacked_size,
                 &consumed);
    w.names.push_back(header.name);
    w.outputs.push_back(contents_of(out));
    std::fclose(out);
    step = walk_to_next(&walk, header, consumed);
    if (step == walk_entry) step = walk_read_header(&walk, &header);
  }
  w.end = step;
  return w;
}

walked walk_bytes(const std::string& bytes) {
  std::FILE* f = stream_of(bytes);
  walked w = walk_stream(f);
  std::fclose(f);
  return w;
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
  std::FILE* pipe = pipe_of(archive);
  ASSERT_NE(pipe, nullptr);
  walked w = walk_stream(pipe);
  std::fclose(pipe);
  EXPECT_EQ(w.names, (names{"CUT", "NEXT"}));
  EXPECT_EQ(w.outputs, (names{"ab", "next"}));
  EXPECT_EQ(w.end, walk_end);
}

TEST(EntryWalk, PipeReadPastTheNextHeaderIsUnreachable) {
  std::string archive = header_bytes("ONE", 4, 20) +
                        std::string("\x41\x41\x03\x42", 4) +
                        pack_entry("TWO", "two");
  std::FILE* pipe = pipe_of(archive);
  ASSERT_NE(pipe, nullptr);
  walked w = walk_stream(pipe);
  std::fclose(pipe);
  EXPECT_EQ(w.names, (names{"ONE"}));
  EXPECT_EQ(w.end, walk_unreachable);
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
