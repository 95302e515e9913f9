// SPDX-License-Identifier: MIT
// Run-length decoding of one entry's packed data.
//
// The packed data is a sequence of tokens read against a "previous byte"
// that starts at 0xFF for every entry:
//   literal   a byte B other than the previous byte: writes B, which becomes
//             the previous byte;
//   run pair  a byte equal to the previous byte, then a count byte K: writes
//             the previous byte K + 1 times (1 to 256 copies).
// Decoding ends when unpacked_size bytes are written or packed_size tokens
// are decoded, whichever comes first (a run pair counts as one token); a
// run pair is cut at the first bound.
//
// decode_block is the decoder itself, from bytes in memory to bytes in
// memory; decode_entry feeds it from the archive's reader and hands what
// it decodes to the entry's file.
#ifndef ARCHIVE_DECODE_H
#define ARCHIVE_DECODE_H

#include <cstddef>
#include <cstdint>

#include "archive/archive_reader.h"

// Where one entry's decoding stands.
struct decode_state {
  int previous;         // the previous byte
  int64_t remaining;    // bytes still to write
  int64_t tokens_left;  // tokens still to decode
};

// The state at the start of an entry with these sizes.
decode_state decode_start(int32_t packed_size, int32_t unpacked_size);

// True once the entry is whole: no byte left to write or no token to decode.
bool decode_finished(const decode_state& state);

// decode_block takes no token while fewer than this many bytes of output
// room are left: the furthest one step of it stores, 32 runs of 256 bytes
// and one vector more.
constexpr std::size_t decode_min_room = 32 * 256 + 64;

// Decodes whole tokens of one entry from in[0 .. in_size) into
// out[0 .. out_size), going on from `*state` and leaving it where it
// stopped. Returns how many input bytes it took, and sets `*written` to how
// many bytes it wrote. It never reads outside in[0 .. in_size) nor writes
// outside out[0 .. out_size), and never takes a token the state's bounds
// would cut, but for a last run pair cut at the output bound. It stops at
// the entry's end (decode_finished), where the input ends before a whole
// token (a run pair's first byte without its count), or where fewer than
// decode_min_room bytes of output room are left.
std::size_t decode_block(decode_state* state, const unsigned char* in, std::size_t in_size,
                         unsigned char* out, std::size_t out_size, std::size_t* written);

enum decode_status { decode_ok, decode_write_error, decode_read_error };

// Decodes one entry from `reader`, standing at its first packed byte, into
// the file open for writing on the descriptor `output`: at most
// unpacked_size bytes from at most packed_size tokens, which may run on
// past the packed data, through one static buffer (decode_feed in
// decode_feed.h). Returns decode_ok, or decode_write_error or
// decode_read_error at the first failure; after a read failure what was
// decoded before it is still written. It writes no byte the tokens read do
// not give (a run pair cut off by the archive's end gives none), writes in
// pieces of at least 256 KiB but for an entry's last, never opens, closes
// or repositions either file, and leaves the reader just after the last
// byte it took.
decode_status decode_entry(archive_reader* reader, int output, int32_t packed_size,
                           int32_t unpacked_size);

#endif
