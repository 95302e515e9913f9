#include "archive/entry_walk.h"

entry_walk walk_begin(archive_reader* archive) {
  return entry_walk{archive, 0, false};
}

walk_status walk_next(entry_walk* walk, entry_header* header) {
  archive_reader* archive = walk->archive;
  if (archive->failed) return walk_read_error;
  if (walk->last) return walk_end;
  switch (reader_move_to(archive, walk->next_offset,
                         static_cast<int64_t>(header_size))) {
    case move_done:
      break;
    case move_past_end:
      return walk_end;
    case move_unreachable:
      return walk_unreachable;
    case move_failed:
      return walk_read_error;
  }
  unsigned char bytes[header_size];
  std::size_t got = reader_read(archive, bytes, header_size);
  if (archive->failed) return walk_read_error;
  if (got < header_size) return walk_end;
  *header = parse_entry_header(bytes);
  if (header->packed_size < 0) {
    walk->last = true;
  } else {
    walk->next_offset += static_cast<int64_t>(header_size) + header->packed_size;
  }
  return walk_entry;
}
