// SPDX-License-Identifier: MIT
#include "archive/archive_reader.h"

#include <cassert>
#include <cstring>

#include "archive/testing.h"

namespace {

constexpr std::size_t buffer_size = sizeof(archive_reader::bytes);

bool is_regular(const archive_reader* reader) {
  return reader->at_start.kind == file_regular;
}

bool same_time(file_time a, file_time b) {
  return a.seconds == b.seconds && a.nanoseconds == b.nanoseconds;
}

// The archive offset the descriptor stands at: just after the last byte
// held.
int64_t descriptor_offset(const archive_reader* reader) {
  return reader->base + static_cast<int64_t>(reader->end);
}

// Empties the buffer, which then starts at `offset`.
void empty_at(archive_reader* reader, int64_t offset) {
  reader->base = offset;
  reader->pos = reader->end = 0;
}

// One read into the buffer's free room. False at the end of the file or
// on a failure, with at_end or failed set.
bool read_once(archive_reader* reader) {
  std::size_t room = buffer_size - reader->end;
  if (reader->max_read != 0 && room > reader->max_read) room = reader->max_read;
  int64_t n = read_some(reader->fd, reader->bytes + reader->end, room);
  if (n > 0) {
    reader->end += static_cast<std::size_t>(n);
    if (!reader_unchanged(reader)) {
      reader->failed = true;
      return false;
    }
    return true;
  }
  // A regular file that ends before the size it had at the start has lost
  // data under the reader (truncated, removed, a damaged file system): a
  // failure, never the archive's end.
  if (n < 0 || (is_regular(reader) && descriptor_offset(reader) < reader->at_start.size)) {
    reader->failed = true;
  } else {
    reader->at_end = true;
  }
  return false;
}

// Moves the bytes still wanted to the buffer's start: those ahead, and on
// a pipe those from the mark on while it lies at most reader_most_behind
// behind the position. A file goes back by seeking instead.
void make_room(archive_reader* reader) {
  std::size_t from = reader->pos;
  if (reader->keep >= 0 && !reader->seekable) {
    int64_t mark = reader->keep - reader->base;
    if (mark < static_cast<int64_t>(reader->pos)) {
      if (reader->pos - static_cast<std::size_t>(mark) <= reader_most_behind) {
        from = static_cast<std::size_t>(mark);
      } else {
        reader->keep = -1;  // too far behind: the pipe can no longer go back there
      }
    }
  }
  if (from == 0) return;
  std::memmove(reader->bytes, reader->bytes + from, reader->end - from);
  reader->base += static_cast<int64_t>(from);
  reader->pos -= from;
  reader->end -= from;
}

}  // namespace

bool reader_init(archive_reader* reader, int fd) {
  reader->fd = fd;
  reader->seekable = can_seek(fd);
  reader->at_start = state_of(fd);
  reader->max_read = 0;
  reader->keep = -1;
  reader->at_end = false;
  reader->failed = false;
  empty_at(reader, 0);
  return reader->at_start.known;
}

void reader_limit_reads(archive_reader* reader, std::size_t most) { reader->max_read = most; }

const file_state& reader_start_state(const archive_reader* reader) {
  return reader->at_start;
}

int64_t reader_offset(const archive_reader* reader) {
  return reader->base + static_cast<int64_t>(reader->pos);
}

reader_status reader_ahead(archive_reader* reader, std::size_t need,
                           const unsigned char** bytes, std::size_t* ahead) {
  assert(need >= 1 && need <= reader_most_ahead);
  // A file is read ahead in large pieces; a pipe only for what is needed.
  std::size_t low = reader->seekable ? reader_most_ahead : need;
  if (reader->end - reader->pos < low && !reader->at_end && !reader->failed) {
    make_room(reader);
    while (read_once(reader) && reader->end - reader->pos < need) {
    }
  }
  *bytes = reader->bytes + reader->pos;
  *ahead = reader->end - reader->pos;
  if (reader->failed) return reader_failed;
  return *ahead >= need ? reader_ok : reader_end;
}

void reader_consume(archive_reader* reader, std::size_t count) {
  assert(count <= reader->end - reader->pos);
  reader->pos += count;
}

void reader_keep_from(archive_reader* reader, int64_t offset) {
  assert(offset >= reader_offset(reader));
  reader->keep = offset;
}

reader_status reader_move_to(archive_reader* reader, int64_t target) {
  reader->keep = -1;
  if (reader->failed) return reader_failed;
  // However much of it a pipe still holds, it goes back no further than
  // the limit, which the archive alone then decides.
  if (!reader->seekable &&
      target < reader_offset(reader) - static_cast<int64_t>(reader_most_behind)) {
    return reader_behind;
  }
  int64_t first = reader->base;
  int64_t last = descriptor_offset(reader);
  if (reader->at_end && target > last) return reader_end;  // reading ended before it
  if (target >= first && target <= last) {
    reader->pos = static_cast<std::size_t>(target - reader->base);
    return reader_ok;
  }
  // A regular file's size at the start vouches for the bytes before it, and
  // bytes already read for themselves; elsewhere only reading the byte
  // before `target` shows that the archive reaches it (some files read on
  // past the size they report).
  bool vouched = target < first || (is_regular(reader) && target <= reader->at_start.size);
  int64_t at = vouched ? target : target - 1;
  if (reader->seekable && seek_to(reader->fd, at)) {
    reader->at_end = false;
    empty_at(reader, at);
    if (at == target) return reader_ok;
    if (!read_once(reader)) return reader->failed ? reader_failed : reader_end;
    reader->pos = 1;
    return reader_ok;
  }
  if (target < first) return reader->seekable ? reader_failed : reader_behind;
  // Ahead, on a pipe or where seeking failed: read forward, keeping only
  // the piece that holds the offset.
  while (descriptor_offset(reader) < target) {
    empty_at(reader, descriptor_offset(reader));
    if (!read_once(reader)) break;
  }
  if (reader->failed) return reader_failed;
  int64_t reached = descriptor_offset(reader);
  reader->pos = static_cast<std::size_t>((target < reached ? target : reached) - reader->base);
  return reached < target ? reader_end : reader_ok;
}

bool reader_unchanged(const archive_reader* reader) {
  if (!is_regular(reader)) return true;
  const file_state& start = reader->at_start;
  file_state now = state_of(reader->fd);
  return now.known && now.size == start.size && same_time(now.modified, start.modified) &&
         same_time(now.change_time, start.change_time);
}
