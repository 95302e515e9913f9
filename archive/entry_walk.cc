// SPDX-License-Identifier: MIT
#include "archive/entry_walk.h"

namespace {

// The archive has ended: normally, unless it changed meanwhile.
walk_status walk_ended(const entry_walk* walk) {
  return reader_unchanged(walk->reader) ? walk_end : walk_read_error;
}

}  // namespace

entry_walk walk_begin(archive_reader* reader) {
  return entry_walk{reader, 0, false};
}

walk_status walk_next(entry_walk* walk, entry_header* header) {
  archive_reader* reader = walk->reader;
  if (walk->stop_after_entry) return walk_ended(walk);
  switch (reader_move_to(reader, walk->next_offset)) {
    case reader_ok:
      break;
    case reader_end:
      return walk_cut;
    case reader_behind:
      return walk_unreachable;
    default:
      return walk_read_error;
  }
  const unsigned char* bytes;
  std::size_t ahead;
  switch (reader_ahead(reader, header_size, &bytes, &ahead)) {
    case reader_ok:
      break;
    case reader_end:
      return walk_ended(walk);  // fewer than 32 bytes: the archive's end
    default:
      return walk_read_error;
  }
  *header = parse_entry_header(bytes);
  reader_consume(reader, header_size);
  if (header->packed_size < 0) {
    walk->stop_after_entry = true;
  } else {
    walk->next_offset += static_cast<int64_t>(header_size) + header->packed_size;
    reader_keep_from(reader, walk->next_offset);
  }
  return walk_entry;
}
