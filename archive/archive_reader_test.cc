#include "archive/archive_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/stream.h"

namespace {

std::string counting(std::size_t n) {
  std::string bytes;
  for (std::size_t i = 0; i < n; ++i) bytes += static_cast<char>(i % 251);
  return bytes;
}

TEST(ReaderAhead, PipeReadOnlyForWhatIsNeededInPiecesAsLimited) {
  std::string bytes = counting(1000);
  reader_over pipe(pipe_holding(bytes));
  const unsigned char* p;
  std::size_t ahead;
  reader_limit_reads(pipe.get(), 7);
  ASSERT_EQ(reader_ahead(pipe.get(), 1, &p, &ahead), reader_ok);
  EXPECT_EQ(ahead, 7u);  // one read, of at most 7 bytes
  ASSERT_EQ(reader_ahead(pipe.get(), 20, &p, &ahead), reader_ok);
  EXPECT_EQ(ahead, 21u);  // three reads
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), ahead), bytes.substr(0, 21));
  reader_limit_reads(pipe.get(), 0);
  reader_consume(pipe.get(), 21);
  ASSERT_EQ(reader_ahead(pipe.get(), 1, &p, &ahead), reader_ok);
  EXPECT_EQ(ahead, 979u);  // what the pipe holds, in one read
  EXPECT_EQ(reader_offset(pipe.get()), 21);
  reader_consume(pipe.get(), ahead);
  EXPECT_EQ(reader_ahead(pipe.get(), 1, &p, &ahead), reader_end);
  EXPECT_EQ(ahead, 0u);
}

TEST(ReaderMoveTo, PipeGoesBackToWhatItHoldsAndNoFurther) {
  // Read 1000 bytes, then 3000 more: without a mark, only the bytes from
  // the position on are kept when the buffer is refilled.
  std::string bytes = counting(4000);
  reader_over pipe(pipe_holding(bytes));
  const unsigned char* p;
  std::size_t ahead;
  reader_limit_reads(pipe.get(), 1000);
  ASSERT_EQ(reader_ahead(pipe.get(), 1, &p, &ahead), reader_ok);
  reader_consume(pipe.get(), 600);
  ASSERT_EQ(reader_ahead(pipe.get(), 401, &p, &ahead), reader_ok);  // refills from 600
  EXPECT_EQ(reader_move_to(pipe.get(), 599), reader_behind);
  ASSERT_EQ(reader_move_to(pipe.get(), 600), reader_ok);
  ASSERT_EQ(reader_ahead(pipe.get(), 1, &p, &ahead), reader_ok);
  EXPECT_EQ(*p, static_cast<unsigned char>(bytes[600]));
  // With a mark, the bytes from it on are kept across refills.
  reader_keep_from(pipe.get(), 700);
  reader_consume(pipe.get(), ahead);
  ASSERT_EQ(reader_ahead(pipe.get(), 1000, &p, &ahead), reader_ok);
  ASSERT_EQ(reader_move_to(pipe.get(), 700), reader_ok);
  ASSERT_EQ(reader_ahead(pipe.get(), 1, &p, &ahead), reader_ok);
  EXPECT_EQ(*p, static_cast<unsigned char>(bytes[700]));
}

}  // namespace
