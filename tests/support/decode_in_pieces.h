// SPDX-License-Identifier: MIT
// Test support: decode_feed, the decoder's own feeding loop, run on bytes
// in memory, with the input and output cut where a test or a fuzzer says.
#ifndef TESTS_SUPPORT_DECODE_IN_PIECES_H
#define TESTS_SUPPORT_DECODE_IN_PIECES_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/testing.h"

struct fed_outcome {
  std::string output;
  int64_t consumed;  // bytes taken
  bool overran;      // the loop took more than a look had ahead, or
                     // wrote or claimed to write past its output buffer
};

// Decodes `packed` with `loop` through decode_feed: the input in pieces of
// at most `piece` bytes (0: all of it; one byte more where a run pair's
// count lies beyond), each copied into a buffer of its own size, so that
// a read past it is a read past an allocation; the output into a buffer
// of `room` bytes (at least decode_min_room), followed by guard bytes that
// must stay as they were.
fed_outcome decode_in_pieces(decode_loop loop, const std::string& packed, int32_t packed_size,
                             int32_t unpacked_size, std::size_t piece, std::size_t room);

#endif
