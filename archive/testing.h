// SPDX-License-Identifier: MIT
// What only tests, fuzzers and benchmarks ask of the format's code: which
// inner loop decode_block runs, and how much the reader reads at a time.
#ifndef ARCHIVE_TESTING_H
#define ARCHIVE_TESTING_H

#include <cstddef>

#include "archive/archive_reader.h"

// The inner loops decode_block can use, all with the same results:
// decode_loop_fastest, the program's (decode.h); decode_loop_exact, one
// run pair or span of literals (up to 4096) at a time, with no vectors.
enum decode_loop {
  decode_loop_fastest,
  decode_loop_exact,
  decode_loop_portable,
  decode_loop_sse2,
  decode_loop_avx2,
};

// True when `loop` is built in and this processor can run it; always for
// decode_loop_fastest, decode_loop_exact and decode_loop_portable.
bool decode_loop_available(decode_loop loop);

// decode_block uses `loop`, which must be available, from now on.
void decode_use_loop(decode_loop loop);

// No read of `reader` takes more than `most` bytes (0: as many as fit).
void reader_limit_reads(archive_reader* reader, std::size_t most);

#endif
