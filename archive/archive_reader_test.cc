// SPDX-License-Identifier: MIT
#include "archive/archive_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "archive/testing.h"
#include "tests/support/stream.h"

namespace {

std::string counting(std::size_t size) {
  std::string bytes;
  for (std::size_t i = 0; i < size; ++i) bytes += static_cast<char>(i % 251);
  return bytes;
}

// A reader over a pipe holding `size` counting bytes, read in pieces of
// at most `piece`, and what its last look saw.
struct piped {
  piped(std::size_t size, std::size_t piece) : bytes(counting(size)), reader(pipe_holding(bytes)) {
    reader_limit_reads(reader.get(), piece);
  }
  reader_status look(std::size_t need) { return reader_ahead(reader.get(), need, &at, &ahead); }
  unsigned char byte(std::size_t offset) const { return static_cast<unsigned char>(bytes[offset]); }

  std::string bytes;
  reader_over reader;
  const unsigned char* at = nullptr;
  std::size_t ahead = 0;
};

TEST(ReaderAhead, PipeReadOnlyForWhatIsNeededInPiecesAsLimited) {
  piped pipe(1000, 7);
  ASSERT_EQ(pipe.look(1), reader_ok);
  EXPECT_EQ(pipe.ahead, 7u);  // one read, of at most 7 bytes
  ASSERT_EQ(pipe.look(20), reader_ok);
  EXPECT_EQ(pipe.ahead, 21u);  // three reads
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(pipe.at), pipe.ahead),
            pipe.bytes.substr(0, 21));
  reader_limit_reads(pipe.reader.get(), 0);
  reader_consume(pipe.reader.get(), 21);
  ASSERT_EQ(pipe.look(1), reader_ok);
  EXPECT_EQ(pipe.ahead, 979u);  // what the pipe holds, in one read
  EXPECT_EQ(reader_offset(pipe.reader.get()), 21);
  reader_consume(pipe.reader.get(), pipe.ahead);
  EXPECT_EQ(pipe.look(1), reader_end);
  EXPECT_EQ(pipe.ahead, 0u);
}

TEST(ReaderAhead, ReadThatSeesAChangeIsTheLast) {
  // The file's times change after the reader started: the first read
  // sees it and fails, and no read follows, though a header's 32 bytes
  // were asked for in reads of one byte.
  reader_over file(file_holding(counting(100)));
  reader_limit_reads(file.get(), 1);
  const timespec long_ago[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(futimens(file.fd, long_ago), 0);
  const unsigned char* at;
  std::size_t ahead;
  EXPECT_EQ(reader_ahead(file.get(), 32, &at, &ahead), reader_failed);
  EXPECT_EQ(lseek(file.fd, 0, SEEK_CUR), 1);
}

TEST(ReaderMoveTo, PipeGoesBackToWhatItHoldsAndNoFurther) {
  // Read 1000 bytes, then more: without a mark, only the bytes from the
  // position on are kept when the buffer is refilled.
  piped pipe(4000, 1000);
  archive_reader* reader = pipe.reader.get();
  ASSERT_EQ(pipe.look(1), reader_ok);
  reader_consume(reader, 600);
  ASSERT_EQ(pipe.look(401), reader_ok);  // refills from 600 on
  EXPECT_EQ(reader_move_to(reader, 599), reader_behind);
  ASSERT_EQ(reader_move_to(reader, 600), reader_ok);
  ASSERT_EQ(pipe.look(1), reader_ok);
  EXPECT_EQ(*pipe.at, pipe.byte(600));
  // With a mark, the bytes from it on are kept across refills.
  reader_keep_from(reader, 700);
  reader_consume(reader, pipe.ahead);
  ASSERT_EQ(pipe.look(1000), reader_ok);
  ASSERT_EQ(reader_move_to(reader, 700), reader_ok);
  ASSERT_EQ(pipe.look(1), reader_ok);
  EXPECT_EQ(*pipe.at, pipe.byte(700));
}

}  // namespace
