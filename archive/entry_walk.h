// The walk from one entry header to the next.
//
// Each header is found by offset arithmetic alone: the first at offset 0,
// each next one at the previous header's offset + 32 + packed_size,
// computed in 64 bits so that it never wraps. How many bytes the decoder
// consumed never changes where the next header is read, only how the
// stream gets there.
#ifndef ARCHIVE_ENTRY_WALK_H
#define ARCHIVE_ENTRY_WALK_H

#include <cstdint>
#include <cstdio>

#include "archive/entry_header.h"

enum walk_status {
  walk_entry,        // a header was read; its entry comes next
  walk_end,          // no further entry: the archive's normal end
  walk_read_error,   // the archive could not be read
  walk_unreachable,  // a stream that cannot seek back is past the next header
};

struct entry_walk {
  std::FILE* archive;
  bool seekable;
  int64_t header_offset;  // offset of the current (or next) header
  int64_t position;       // offset the stream stands at
};

// Starts a walk over a stream freshly opened for binary reading.
entry_walk walk_begin(std::FILE* archive);

// Reads the 32-byte header at the stream's position into `header`. Returns
// walk_entry with the stream at the entry's first packed byte, walk_end if
// fewer than 32 bytes remain, or walk_read_error. Reads 32 bytes at most.
walk_status walk_read_header(entry_walk* walk, entry_header* header);

// Moves the stream to the next header once the caller is done with the
// entry `header`, from which it read `consumed` bytes of packed data.
// Returns walk_entry when the next header's offset has been reached,
// walk_end when there is none (a negative packed_size ends the walk, so it
// always moves forward), walk_read_error, or walk_unreachable when the
// stream cannot seek and `consumed` went past the next header. A stream
// that cannot seek is moved forward by reading and discarding bytes.
walk_status walk_to_next(entry_walk* walk, const entry_header& header,
                         int64_t consumed);

#endif
