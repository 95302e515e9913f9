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

enum decode_status { decode_ok, decode_write_error };

// Decodes one entry from `archive`, standing at the entry's first packed
// byte, into `output`, which it never opens or closes; its buffers are
// fixed in size whatever the entry's. It writes at most unpacked_size
// bytes and decodes at most packed_size tokens, which may run on into the
// bytes after the packed data. It never moves the reader but by reading:
// afterwards the reader stands right after the last byte decoding used.
// At the end of the archive, or when reading fails (archive->failed, for
// the walk to report), it stops without writing anything further; an
// incomplete run pair writes nothing. Returns decode_write_error when a
// byte cannot be written, decode_ok otherwise.
decode_status decode_entry(archive_reader* archive, std::FILE* output,
                           int32_t packed_size, int32_t unpacked_size);

// The inner loops decode_entry can use; all give the same results.
// decode_path_best is the fastest this processor runs; decode_path_exact
// takes every token one at a time, with no fast loop.
enum decode_path {
  decode_path_best,
  decode_path_exact,
  decode_path_portable,
  decode_path_sse2,
  decode_path_avx2,
  decode_path_avx512,  // AVX-512 BW and VL
};

// True when `path` is built in and this processor can run it.
bool decode_path_available(decode_path path);

// decode_entry with a chosen inner loop, for tests and benchmarks.
decode_status decode_entry_with(decode_path path, archive_reader* archive,
                                std::FILE* output, int32_t packed_size,
                                int32_t unpacked_size);

#endif
