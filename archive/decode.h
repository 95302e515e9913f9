// Run-length decoding of one entry's packed data.
//
// The packed data is a sequence of tokens read against a "previous byte"
// that starts at 0xFF for every entry:
//   literal   a byte B other than the previous byte: writes B, which becomes
//             the previous byte;
//   run pair  a byte equal to the previous byte, then a count byte K: writes
//             the previous byte K + 1 times (1 to 256 copies).
// Decoding ends when unpacked_size bytes are written or packed_size tokens
// are decoded, whichever comes first (a run pair counts as one token).
#ifndef ARCHIVE_DECODE_H
#define ARCHIVE_DECODE_H

#include <cstdint>
#include <cstdio>

#include "archive/archive_reader.h"

enum decode_status { decode_ok, decode_write_error, decode_read_error };

// Decodes one entry from `reader`, standing at its first packed byte, into
// `output`: at most unpacked_size bytes from at most packed_size tokens,
// which may run on past the packed data, in memory of a fixed size. Returns
// decode_ok, or decode_write_error or decode_read_error at the first
// failure, after which nothing more is written; it never writes a byte the
// tokens read do not give (a run pair cut off by the archive's end gives
// none), never opens, closes or repositions either stream, and leaves the
// reader just after the last byte it took.
decode_status decode_entry(archive_reader* reader, std::FILE* output,
                           int32_t packed_size, int32_t unpacked_size);

// The inner loops decode_entry can use; all give the same results.
// decode_loop_best is the fastest this processor runs; decode_loop_exact
// takes every token one at a time, with no fast loop.
enum decode_loop {
  decode_loop_best,
  decode_loop_exact,
  decode_loop_portable,
  decode_loop_sse2,
  decode_loop_avx2,
  decode_loop_avx512,  // AVX-512 BW and VL
};

// True when `loop` is built in and this processor can run it; always for
// decode_loop_best, decode_loop_exact and decode_loop_portable.
bool decode_loop_available(decode_loop loop);

// decode_entry with a chosen inner loop, for tests and benchmarks.
decode_status decode_entry_with(decode_loop loop, archive_reader* reader,
                                std::FILE* output, int32_t packed_size,
                                int32_t unpacked_size);

#endif
