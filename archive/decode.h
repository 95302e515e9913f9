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

#include <cstddef>
#include <cstdint>
#include <cstdio>

enum decode_status { decode_ok, decode_write_error };

// Decodes one entry from `archive` (standing at the entry's first packed
// byte) into `output`; it never opens or closes either stream, and its
// buffers are fixed in size whatever the entry's. It writes at most
// unpacked_size bytes and decodes at most packed_size tokens, which may run
// on into the bytes after the packed data. It stops without writing
// anything further at the end of the archive (or a read error, left on the
// stream's error indicator for the caller); an incomplete run pair writes
// nothing. Afterwards `archive` stands exactly after the last byte decoding
// used: a stream that can seek may be read ahead and is then moved back,
// one that cannot is never read further. Returns decode_write_error when a
// byte cannot be written, decode_ok otherwise. If `consumed` is not null it
// receives the number of bytes decoding used from `archive`.
decode_status decode_entry(std::FILE* archive, std::FILE* output,
                           int32_t packed_size, int32_t unpacked_size,
                           int64_t* consumed = nullptr);

// The inner loops decode_entry can use; all give the same results.
// decode_path_best is the fastest this processor runs; decode_path_exact
// takes every token one at a time, with no fast loop.
enum decode_path {
  decode_path_best,
  decode_path_exact,
  decode_path_portable,
  decode_path_sse2,
  decode_path_avx2,
};

// Where the archive stream stands, for decode_options::offset: ask the
// stream (the kernel) for it.
constexpr int64_t decode_offset_unknown = -2;

// decode_entry with a chosen inner loop (for tests and benchmarks), reads
// of at most `max_read` bytes each (0: no limit beyond the buffer's), and
// the archive stream's offset when the caller knows it (-1 for a stream
// that cannot seek), which saves asking the kernel for it.
struct decode_options {
  decode_path path;
  std::size_t max_read;
  int64_t offset = decode_offset_unknown;
};

// True when `path` is built in and this processor can run it.
bool decode_path_available(decode_path path);

decode_status decode_entry_with(const decode_options& options,
                                std::FILE* archive, std::FILE* output,
                                int32_t packed_size, int32_t unpacked_size,
                                int64_t* consumed = nullptr);

#endif
