// The walk from one entry header to the next.
//
// Each header is found by offset arithmetic alone: the first at offset 0,
// each next one at the previous header's offset + 32 + packed_size,
// computed in 64 bits so that it never wraps. How many bytes the decoder
// took never changes where the next header is read, only how the reader
// gets there.
//
// The walk ends normally (walk_end) only where the archive ends: fewer
// than 32 bytes at the next header's offset, or a negative packed_size,
// which ends it after its entry, so the walk always moves forward and
// always ends. A read that fails, a file that ends before its size, and a
// next header that cannot be reached are failures, never the end.
#ifndef ARCHIVE_ENTRY_WALK_H
#define ARCHIVE_ENTRY_WALK_H

#include <cstdint>

#include "archive/archive_reader.h"
#include "archive/entry_header.h"

enum walk_status {
  walk_entry,        // a header was read; its entry comes next
  walk_end,          // no further entry: the archive's normal end
  walk_read_error,   // the archive could not be read
  walk_unreachable,  // a pipe was read past the next header, beyond the
                     // bytes still held, and cannot go back
};

struct entry_walk {
  archive_reader* archive;
  int64_t next_offset;  // where the next header is
  bool last;            // the entry read last had a negative packed_size
};

// Starts a walk over a reader freshly opened on the archive.
entry_walk walk_begin(archive_reader* archive);

// Moves the reader to the next header, reads it into `header` and
// returns walk_entry with the reader at the entry's first packed byte,
// where decode_entry takes over; the decoder may leave the reader
// anywhere. Otherwise returns walk_end, walk_read_error (also when the
// reader failed while the entry was decoded) or walk_unreachable.
walk_status walk_next(entry_walk* walk, entry_header* header);

#endif
