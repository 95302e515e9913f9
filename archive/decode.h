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

enum decode_status { decode_ok, decode_write_error };

// Decodes one entry from `archive` (standing at the entry's first packed
// byte) into `output`, one byte at a time through the streams' buffers; it
// allocates nothing and never opens, closes or repositions either stream.
// It writes at most unpacked_size bytes and decodes at most packed_size
// tokens, which may run on into the bytes after the packed data. It stops
// without writing anything further at the end of the archive (or a read
// error, left on the stream's error indicator for the caller); an
// incomplete run pair writes nothing. Returns decode_write_error as soon as
// a byte cannot be written, decode_ok otherwise. If `consumed` is not null
// it receives the number of bytes read from `archive`.
decode_status decode_entry(std::FILE* archive, std::FILE* output,
                           int32_t packed_size, int32_t unpacked_size,
                           int64_t* consumed = nullptr);

#endif
