// SPDX-License-Identifier: MIT
// What only tests, fuzzers and benchmarks ask of the format's code: which
// inner loop decode_block runs, which one it ran, and how much the reader
// reads at a time.
#ifndef ARCHIVE_TESTING_H
#define ARCHIVE_TESTING_H

#include <cstddef>

#include "archive/archive_reader.h"
#include "archive/decode_fast.h"

// The inner loops decode_block can use, all with the same results, in the
// order of decode_loops.
enum decode_loop {
  decode_loop_fastest,  // the program's: the fastest of the others here
  decode_loop_exact,    // one run pair or literal span (to 4096) at a time
  decode_loop_portable,
  decode_loop_sse2,
  decode_loop_avx2,
  decode_loop_count,
};

struct decode_loop_entry {
  decode_loop id;
  const char* name;
  void (*windows)(fast_state*);  // nullptr for exact, fastest, and not built
  bool built;                    // built in for this target
  bool (*processor_has)();       // what it needs, built in or not
};

// Every loop, one entry each: the program picks the fastest from here, and
// the tests, fuzzers and benchmarks take their loops from here alone.
extern const decode_loop_entry decode_loops[decode_loop_count];

// True when `loop` is built in and this processor can run it; always for
// decode_loop_fastest, decode_loop_exact and decode_loop_portable.
bool decode_loop_available(decode_loop loop);

// decode_block uses `loop` (available) from now on; returns the one before.
decode_loop decode_use_loop(decode_loop loop);

// The loop whose windows the last decode_block call took tokens with, or
// decode_loop_exact when it took none with windows.
decode_loop decode_loop_that_ran();

// No read of `reader` takes more than `most` bytes (0: as many as fit).
void reader_limit_reads(archive_reader* reader, std::size_t most);

#endif
