#include "archive/entry_walk.h"

#include "archive/file_io.h"

entry_walk walk_begin(std::FILE* archive) {
  entry_walk walk{};
  walk.archive = archive;
  walk.seekable = tell_of(archive) >= 0;
  walk.header_offset = 0;
  walk.position = 0;
  return walk;
}

walk_status walk_read_header(entry_walk* walk, entry_header* header) {
  unsigned char bytes[header_size];
  std::size_t got = std::fread(bytes, 1, header_size, walk->archive);
  walk->position += static_cast<int64_t>(got);
  if (got < header_size) {
    return std::ferror(walk->archive) ? walk_read_error : walk_end;
  }
  *header = parse_entry_header(bytes);
  return walk_entry;
}

walk_status walk_to_next(entry_walk* walk, const entry_header& header,
                         int64_t consumed) {
  if (header.packed_size < 0) return walk_end;
  walk->position += consumed;
  int64_t next = walk->header_offset + static_cast<int64_t>(header_size) +
                 header.packed_size;
  walk->header_offset = next;
  if (walk->position == next) return walk_entry;
  if (walk->seekable) {
    if (seek_to(walk->archive, next) != 0) return walk_end;
    walk->position = next;
    return walk_entry;
  }
  if (walk->position > next) return walk_unreachable;
  while (walk->position < next) {
    if (get_byte(walk->archive) == EOF) {
      return std::ferror(walk->archive) ? walk_read_error : walk_end;
    }
    ++walk->position;
  }
  return walk_entry;
}
