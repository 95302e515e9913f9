// SPDX-License-Identifier: MIT
#include "archive/decode.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "archive/testing.h"
#include "tests/support/packer.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/stream.h"

namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

struct decoded {
  std::string output;
  std::size_t taken;
};

// One call of decode_block over all of `packed`, with room for all of the
// output.
decoded decode_once(const std::string& packed, int32_t packed_size, int32_t unpacked_size) {
  decode_state state = decode_start(packed_size, unpacked_size);
  std::vector<unsigned char> out(decode_min_room + 70000);
  std::size_t written = 0;
  std::size_t taken =
      decode_block(&state, reinterpret_cast<const unsigned char*>(packed.data()), packed.size(),
                   out.data(), out.size(), &written);
  return decoded{std::string(reinterpret_cast<const char*>(out.data()), written), taken};
}

// Decodes `packed` with packed_size its own length.
std::string decode_all(const std::string& packed, int32_t unpacked_size) {
  return decode_once(packed, static_cast<int32_t>(packed.size()), unpacked_size).output;
}

TEST(DecodeBlock, CodingRules) {
  EXPECT_EQ(decode_all(bytes({0x41, 0x41, 0x00}), 2), "AA");
  EXPECT_EQ(decode_all(bytes({0x41, 0x41, 0xFF}), 257), std::string(257, 'A'));
  EXPECT_EQ(decode_all(bytes({0x41, 0x41, 0xFF, 0x41, 0x05}), 263),
            std::string(263, 'A'));
  EXPECT_EQ(decode_all(bytes({0x41, 0x42, 0x42, 0x03}), 6), "ABBBBB");
  // The previous byte starts at FF, so a leading FF opens a run pair.
  EXPECT_EQ(decode_all(bytes({0xFF, 0x00, 0x41}), 2), bytes({0xFF, 0x41}));
  EXPECT_EQ(decode_all(bytes({0xFF, 0x41}), 66), std::string(66, '\xFF'));
  // A byte after a run pair is compared with the run's byte.
  EXPECT_EQ(decode_all(bytes({0x41, 0x41, 0x01, 0x42, 0x41}), 5), "AAABA");
}

TEST(DecodeBlock, NonPositiveSizesTakeAndWriteNothing) {
  std::string packed = bytes({0x41, 0x42});
  for (int32_t size : {0, -1, INT32_MIN}) {
    for (decoded d : {decode_once(packed, size, 2), decode_once(packed, 2, size)}) {
      EXPECT_EQ(d.output, "") << size;
      EXPECT_EQ(d.taken, 0u) << size;
    }
  }
}

TEST(DecodeBlock, OutputBoundCutsARunAndStopsTaking) {
  decoded d = decode_once(bytes({0x41, 0x41, 0xFF, 0x42}), 4, 3);
  EXPECT_EQ(d.output, "AAA");
  EXPECT_EQ(d.taken, 3u);  // the byte after the cut run is never read
  d = decode_once(bytes({0x41, 0x42, 0x43}), 3, 2);
  EXPECT_EQ(d.output, "AB");
  EXPECT_EQ(d.taken, 2u);
}

TEST(DecodeBlock, StopsWhereTheInputOrTheRoomEnds) {
  // A run pair's first byte at the end of the input is left for the next
  // call, which has its count.
  decode_state state = decode_start(10, 10);
  unsigned char out[decode_min_room];
  const unsigned char in[] = {'A', 'A', 3};
  std::size_t written = 0;
  EXPECT_EQ(decode_block(&state, in, 2, out, sizeof out, &written), 1u);
  EXPECT_EQ(written, 1u);
  EXPECT_EQ(decode_block(&state, in + 1, 1, out, sizeof out, &written), 0u);
  EXPECT_EQ(written, 0u);
  // Less room than a step may write: nothing is taken.
  EXPECT_EQ(decode_block(&state, in + 1, 2, out, sizeof out - 1, &written), 0u);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(decode_block(&state, in + 1, 2, out, sizeof out, &written), 2u);
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(state.remaining, 5);
  EXPECT_EQ(state.tokens_left, 8);
  EXPECT_EQ(state.previous, 'A');
}

struct entry_outcome {
  decode_status status;
  std::string output;
  int64_t consumed;
};

// decode_entry from the reader over `fd`, reads of at most `piece` bytes
// (0: as they come), into a temporary file.
entry_outcome decode_from(int fd, int32_t packed_size, int32_t unpacked_size,
                          std::size_t piece = 0) {
  reader_over in(fd);
  reader_limit_reads(in.get(), piece);
  std::FILE* out = std::tmpfile();
  entry_outcome e{};
  e.status = decode_entry(in.get(), fileno(out), packed_size, unpacked_size);
  e.consumed = reader_offset(in.get());
  e.output = contents_of(out);
  std::fclose(out);
  return e;
}

TEST(DecodeEntry, TokenBoundReadsIntoTheNextHeader) {
  // Three tokens in four bytes; the fourth token is the next header's
  // first byte, then the token bound stops the loop.
  std::string packed = bytes({0x41, 0x41, 0x03, 0x42});
  std::string next = header_bytes("NEXT", 0, 0);
  entry_outcome e = decode_from(file_holding(packed + next), 4, 20);
  EXPECT_EQ(e.status, decode_ok);
  EXPECT_EQ(e.output, bytes({0x41, 0x41, 0x41, 0x41, 0x41, 0x42, 0x00}));
  EXPECT_EQ(e.consumed, 5);
}

TEST(DecodeEntry, EndOfDataWritesNothingMore) {
  // Broken off after a literal: no byte is invented for the missing data.
  entry_outcome e = decode_from(file_holding(bytes({0x41, 0x42})), 10, 10);
  EXPECT_EQ(e.status, decode_ok);
  EXPECT_EQ(e.output, "AB");
  EXPECT_EQ(e.consumed, 2);
  // Broken off inside a run pair: the pair without its count writes nothing.
  e = decode_from(file_holding(bytes({0x41, 0x41})), 3, 10);
  EXPECT_EQ(e.output, "A");
  EXPECT_EQ(e.consumed, 2);
  e = decode_from(file_holding(""), 5, 5);
  EXPECT_EQ(e.output, "");
  EXPECT_EQ(e.consumed, 0);
}

TEST(DecodeEntry, ReadsCutAnywhereGiveTheSameResult) {
  // From a pipe in reads of a few bytes, so that run pairs are split
  // between reads everywhere, and from a file larger than the reader's
  // buffer; each against the reference.
  std::mt19937 random(12345);
  std::string data;
  while (data.size() < 700000) {
    int kind = static_cast<int>(random() % 4);
    std::size_t length = random() % 700;
    unsigned char c = static_cast<unsigned char>(random());
    for (std::size_t i = 0; i < length; ++i) {
      if (kind == 0) data += static_cast<char>(random());        // noise
      else if (kind == 1) data += static_cast<char>(c);          // run
      else if (kind == 2) data += static_cast<char>(i % 3 ? c : 0xFF);
      else data += static_cast<char>(i / 2);                     // pairs
    }
  }
  data += std::string(1000, '\xFF');  // ends on a run of the start byte
  std::string packed = rle_encode(data);
  std::string small = packed.substr(0, 20000);
  int64_t consumed = 0;
  std::string expected = reference_decode(small, INT32_MAX, INT32_MAX, &consumed);
  for (std::size_t piece : {1u, 2u, 3u, 7u, 4099u}) {
    entry_outcome e = decode_from(pipe_holding(small), INT32_MAX, INT32_MAX, piece);
    EXPECT_EQ(e.status, decode_ok);
    EXPECT_TRUE(e.output == expected) << "pieces of " << piece;
    EXPECT_EQ(e.consumed, consumed) << "pieces of " << piece;
  }
  entry_outcome e = decode_from(file_holding(packed), static_cast<int32_t>(packed.size()),
                                static_cast<int32_t>(data.size()));
  EXPECT_EQ(e.status, decode_ok);
  EXPECT_TRUE(e.output == data);
  EXPECT_EQ(e.consumed, static_cast<int64_t>(packed.size()));
}

TEST(DecodeEntry, FailuresStopDecodingAtOnce) {
  // Several output pieces' worth of literals, and of runs, into a file
  // every write of which fails: decoding stops at the first, long before
  // the packed data's end.
  std::string literals;
  for (int i = 0; i < 1000000; ++i) literals += static_cast<char>(i % 2 ? 'a' : 'b');
  for (const std::string& packed : {literals, rle_encode(std::string(1 << 20, 'z'))}) {
    reader_over in(file_holding(packed));
    int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    EXPECT_EQ(decode_entry(in.get(), full, INT32_MAX, 1 << 20), decode_write_error);
    EXPECT_LT(reader_offset(in.get()), static_cast<int64_t>(packed.size() / 2))
        << "went on decoding after a failure";
    close(full);
  }
  // A read that fails (a directory opened as the archive).
  entry_outcome e = decode_from(open("/", O_RDONLY), 10, 10);
  EXPECT_EQ(e.status, decode_read_error);
}

TEST(DecodeEntry, NothingOfAReadThatSeesAChangeIsWritten) {
  // The archive's times change after the reader started: decoding fails
  // at its first read, and none of that read's bytes reach the file.
  reader_over in(file_holding("abcdefgh"));
  const timespec long_ago[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(futimens(in.fd, long_ago), 0);
  std::FILE* out = std::tmpfile();
  EXPECT_EQ(decode_entry(in.get(), fileno(out), 8, 8), decode_read_error);
  EXPECT_EQ(contents_of(out), "");
  std::fclose(out);
}

TEST(DecodeEntry, ReadFailingAtACountByteIsReported) {
  // A socket whose reads give up after 10 ms: "AA" arrives, then the
  // pair's count byte never does, and that read fails.
  int ends[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
  timeval wait{0, 10000};
  ASSERT_EQ(setsockopt(ends[0], SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait), 0);
  ASSERT_EQ(write(ends[1], "AA", 2), 2);
  entry_outcome e = decode_from(ends[0], 10, 10);
  EXPECT_EQ(e.status, decode_read_error);
  EXPECT_EQ(e.output, "A");
  close(ends[1]);
}

}  // namespace
