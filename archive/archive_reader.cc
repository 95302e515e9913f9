#include "archive/archive_reader.h"

#include <cstring>

#include "archive/file_io.h"

namespace {

// The archive offset the descriptor stands at: just after the buffer's
// last byte.
int64_t descriptor_offset(const archive_reader* r) {
  return r->base + static_cast<int64_t>(r->end);
}

// Empties the buffer, which then starts at `offset`.
void empty_at(archive_reader* r, int64_t offset) {
  r->base = offset - 1;
  r->pos = r->end = 1;
}

// One read into the buffer's free room. False at the end of the file or
// on a failure, with at_end or failed set.
bool read_once(archive_reader* r) {
  std::size_t want = reader_capacity + 1 - r->end;
  if (r->max_read != 0 && want > r->max_read) want = r->max_read;
  int64_t n = read_some(r->fd, r->bytes + r->end, want);
  if (n < 0) {
    r->failed = true;
    return false;
  }
  if (n == 0) {
    // A regular file that ends before the size it had when opened has lost
    // data under us (truncated, removed, a damaged file system): a failure,
    // never the archive's end.
    if (r->size >= 0 && descriptor_offset(r) < r->size) {
      r->failed = true;
    } else {
      r->at_end = true;
    }
    return false;
  }
  r->end += static_cast<std::size_t>(n);
  return true;
}

}  // namespace

void reader_open(archive_reader* r, int fd) {
  r->fd = fd;
  r->seekable = can_seek(fd);
  r->size = regular_file_size(fd);
  r->max_read = 0;
  r->at_end = false;
  r->failed = false;
  r->bytes[0] = 0;
  empty_at(r, 0);
}

bool reader_fill(archive_reader* r, std::size_t need) {
  if (need > reader_capacity) need = reader_capacity;
  if (r->end - r->pos >= need) return true;
  if (r->at_end || r->failed) return false;
  if (r->pos > 1) {
    std::size_t shift = r->pos - 1;
    std::memmove(r->bytes + 1, r->bytes + r->pos, r->end - r->pos);
    r->base += static_cast<int64_t>(shift);
    r->pos = 1;
    r->end -= shift;
  }
  while (r->end - r->pos < need) {
    if (!read_once(r)) return false;
  }
  return true;
}

std::size_t reader_read(archive_reader* r, unsigned char* bytes,
                        std::size_t count) {
  reader_fill(r, count);
  std::size_t ahead = r->end - r->pos;
  if (count > ahead) count = ahead;
  std::memcpy(bytes, r->bytes + r->pos, count);
  r->pos += count;
  return count;
}

reader_move reader_move_to(archive_reader* r, int64_t target, int64_t slack) {
  if (r->failed) return move_failed;
  int64_t first = r->base + 1;
  int64_t last = descriptor_offset(r);
  if (target >= first && target <= last) {
    r->pos = static_cast<std::size_t>(target - r->base);
    return move_done;
  }
  if (r->seekable && seek_to(r->fd, target)) {
    r->at_end = false;
    empty_at(r, target);
    return move_done;
  }
  if (target < first) {
    // Behind what the buffer holds, and no way back. When the end of the
    // archive is known to lie within `slack` bytes of the offset, nothing
    // that could be read there is lost.
    if (r->at_end && last - target < slack) return move_past_end;
    return r->seekable ? move_failed : move_unreachable;
  }
  // Ahead, on a stream that cannot seek or whose seek failed: read forward,
  // keeping only the piece that holds the offset.
  while (descriptor_offset(r) < target) {
    empty_at(r, descriptor_offset(r));
    if (!read_once(r)) break;
  }
  if (r->failed) return move_failed;
  int64_t reached = descriptor_offset(r);
  r->pos = static_cast<std::size_t>((target < reached ? target : reached) - r->base);
  return move_done;
}
