// SPDX-License-Identifier: MIT
// The walk from one entry header to the next.
//
// Each header is found by offset arithmetic alone: the first at offset 0,
// each next one at the previous header's offset + 32 + packed_size,
// computed in 64 bits so that it never wraps. How many bytes the decoder
// took never changes where the next header is read, only how the reader
// gets there.
//
// walk_next reports the archive's normal end (walk_end) in three places
// only, and then only when the archive is unchanged since the walk began:
// where the archive ends at the next header's offset, where fewer than 32
// bytes stand there, and after an entry whose packed_size is negative (so
// the walk always moves forward and ends). An archive that ends before the
// next header's offset was cut inside the entry before it (walk_cut); a
// cut exactly at an entry's end, or within 31 bytes after it, cannot be
// told from an end. Read failures, changes and unreachable headers fail.
#ifndef ARCHIVE_ENTRY_WALK_H
#define ARCHIVE_ENTRY_WALK_H

#include <cstdint>

#include "archive/archive_reader.h"
#include "archive/entry_header.h"

enum walk_status {
  walk_entry,        // a header was read; its entry comes next
  walk_end,          // no further entry: the archive's normal end
  walk_read_error,   // the archive could not be read, or it changed
  walk_cut,          // the archive ends inside the entry before, short of
                     // the next header's offset
  walk_unreachable,  // a pipe was read past the next header by more than
                     // the reader keeps, and cannot go back
};

struct entry_walk {
  archive_reader* reader;
  int64_t next_offset;  // where the next header is
  bool stop_after_entry;  // the entry read last had a negative packed_size
};

// Starts a walk over a reader freshly started on the archive.
entry_walk walk_begin(archive_reader* reader);

// Moves the reader to the next header and reads it into `header`.
// Returns walk_entry with the reader at the entry's first packed byte,
// where decode_entry takes over (and may leave the reader anywhere), or
// walk_end, walk_read_error, walk_cut or walk_unreachable.
walk_status walk_next(entry_walk* walk, entry_header* header);

#endif
