#include "archive/decode.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <random>
#include <string>

#include "tests/support/packer.h"
#include "tests/support/stream.h"

namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

struct decoded {
  decode_status status;
  std::string output;
  int64_t consumed;
};

decoded decode(const std::string& packed, int32_t packed_size,
               int32_t unpacked_size) {
  reader_over in(file_holding(packed));
  std::FILE* out = std::tmpfile();
  decoded d{};
  d.status = decode_entry(in.get(), out, packed_size, unpacked_size);
  d.consumed = reader_offset(in.get());
  d.output = contents_of(out);
  std::fclose(out);
  return d;
}

// Decodes `packed` with packed_size its own length.
std::string decode_all(const std::string& packed, int32_t unpacked_size) {
  return decode(packed, static_cast<int32_t>(packed.size()), unpacked_size)
      .output;
}

TEST(DecodeEntry, CodingRules) {
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

TEST(DecodeEntry, NonPositiveSizesReadAndWriteNothing) {
  std::string packed = bytes({0x41, 0x42});
  for (int32_t size : {0, -1, INT32_MIN}) {
    decoded a = decode(packed, size, 2);
    EXPECT_EQ(a.output, "");
    EXPECT_EQ(a.consumed, 0);
    decoded b = decode(packed, 2, size);
    EXPECT_EQ(b.output, "");
    EXPECT_EQ(b.consumed, 0);
    EXPECT_EQ(a.status, decode_ok);
    EXPECT_EQ(b.status, decode_ok);
  }
}

TEST(DecodeEntry, OutputLimitCutsARunAndStopsReading) {
  decoded d = decode(bytes({0x41, 0x41, 0xFF, 0x42}), 4, 3);
  EXPECT_EQ(d.output, "AAA");
  EXPECT_EQ(d.consumed, 3);  // the byte after the cut run is never read
  d = decode(bytes({0x41, 0x42, 0x43}), 3, 2);
  EXPECT_EQ(d.output, "AB");
  EXPECT_EQ(d.consumed, 2);
}

TEST(DecodeEntry, TokenBoundReadsIntoTheNextHeader) {
  // Three tokens in four bytes; the fourth token is the next header's
  // first byte, then the token bound stops the loop.
  std::string packed = bytes({0x41, 0x41, 0x03, 0x42});
  std::string next = header_bytes("NEXT", 0, 0);
  decoded d = decode(packed + next, 4, 20);
  EXPECT_EQ(d.output, bytes({0x41, 0x41, 0x41, 0x41, 0x41, 0x42, 0x00}));
  EXPECT_EQ(d.consumed, 5);
}

TEST(DecodeEntry, EndOfDataWritesNothingMore) {
  // Broken off after a literal: no byte is invented for the missing data.
  decoded d = decode(bytes({0x41, 0x42}), 10, 10);
  EXPECT_EQ(d.status, decode_ok);
  EXPECT_EQ(d.output, "AB");
  EXPECT_EQ(d.consumed, 2);
  // Broken off inside a run pair: the pair without its count writes nothing.
  d = decode(bytes({0x41, 0x41}), 3, 10);
  EXPECT_EQ(d.output, "A");
  EXPECT_EQ(d.consumed, 2);
  d = decode("", 5, 5);
  EXPECT_EQ(d.output, "");
  EXPECT_EQ(d.consumed, 0);
}

// An output stream whose every write fails, adding up the bytes it was
// asked to write.
std::FILE* failing_output(std::size_t* asked) {
  cookie_io_functions_t io{};
  io.write = [](void* cookie, const char*, std::size_t size) -> ssize_t {
    *static_cast<std::size_t*>(cookie) += size;
    return -1;
  };
  std::FILE* f = fopencookie(asked, "wb", io);
  if (f != nullptr) std::setvbuf(f, nullptr, _IONBF, 0);  // as the program has it
  return f;
}

TEST(DecodeEntry, FailuresStopDecodingAtOnce) {
  // Several output pieces' worth of literals, and of runs: after the
  // first write that fails, no more is tried.
  std::string literals;
  for (int i = 0; i < 1000000; ++i) literals += static_cast<char>(i % 2 ? 'a' : 'b');
  for (const std::string& packed : {literals, rle_encode(std::string(1 << 20, 'z'))}) {
    std::size_t asked = 0;
    std::FILE* out = failing_output(&asked);
    ASSERT_NE(out, nullptr);
    reader_over in(file_holding(packed));
    EXPECT_EQ(decode_entry(in.get(), out, INT32_MAX, 1 << 20), decode_write_error);
    EXPECT_GT(asked, 0u);
    EXPECT_LT(asked, std::size_t{1} << 19) << "went on writing after a failure";
    std::fclose(out);
  }
  // A read that fails (a directory opened as the archive).
  reader_over directory(open("/", O_RDONLY));
  std::FILE* out = std::tmpfile();
  EXPECT_EQ(decode_entry(directory.get(), out, 10, 10), decode_read_error);
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
  reader_over in(ends[0]);
  std::FILE* out = std::tmpfile();
  EXPECT_EQ(decode_entry(in.get(), out, 10, 10), decode_read_error);
  EXPECT_EQ(contents_of(out), "A");
  std::fclose(out);
  close(ends[1]);
}

TEST(DecodeEntry, RoundTripOfVariedData) {
  std::mt19937 random(12345);
  std::string data;
  while (data.size() < 400000) {
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
  decoded d = decode(packed, static_cast<int32_t>(packed.size()),
                     static_cast<int32_t>(data.size()));
  EXPECT_EQ(d.status, decode_ok);
  EXPECT_TRUE(d.output == data);
  EXPECT_EQ(d.consumed, static_cast<int64_t>(packed.size()));
}

}  // namespace
