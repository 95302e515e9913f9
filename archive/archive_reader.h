// The archive as the walk and the decoder read it: one reader owns the
// file descriptor, its read-ahead buffer and the position, so there is one
// answer to "where does the archive stand".
//
// Reads are large (up to the buffer's size) and made only when the bytes
// ahead run short. Moving to an offset stays inside the buffer when it
// can, backwards too, which is all a pipe can do; otherwise it seeks, and
// where seeking fails or cannot be done it reads forward.
//
// The archive ends only where the file ends. A regular file that gives
// end of file before the size it had when the reader was opened did not
// end: that, like a failed read, sets `failed`.
#ifndef ARCHIVE_ARCHIVE_READER_H
#define ARCHIVE_ARCHIVE_READER_H

#include <cstddef>
#include <cstdint>

constexpr std::size_t reader_capacity = 256 * 1024;

struct archive_reader {
  int fd;
  bool seekable;         // the descriptor can be repositioned (not a pipe)
  int64_t size;          // a regular file's size when opened, else -1
  std::size_t max_read;  // most bytes one read may take (0: the buffer's room)
  // bytes[1 .. end) hold the archive from offset base + 1 on; bytes[0] is
  // always readable, so the byte before `pos` is too.
  std::size_t pos;  // the next byte
  std::size_t end;
  int64_t base;  // the archive offset of bytes[0]; the descriptor stands
                 // at base + end
  bool at_end;   // the descriptor gave end of file there
  bool failed;          // a read failed, or the file ended before `size`
  unsigned char bytes[reader_capacity + 1];
};

// Starts reading the archive open on `fd` (at its offset 0, freshly
// opened). The reader never closes `fd`.
void reader_open(archive_reader* reader, int fd);

// The archive offset of the next byte.
inline int64_t reader_offset(const archive_reader* reader) {
  return reader->base + static_cast<int64_t>(reader->pos);
}

// Tries to have at least `need` bytes (at most reader_capacity) ahead of
// `pos`, reading as much as the buffer holds; keeps every byte ahead, and
// moves them to the buffer's start first. True when they are there; false
// at the end of the archive or on a failure (then `failed` is set).
bool reader_fill(archive_reader* reader, std::size_t need);

// Copies up to `count` bytes (at most reader_capacity) from the position
// into `bytes` and moves past them; returns how many, fewer only at the
// end of the archive or on a failure.
std::size_t reader_read(archive_reader* reader, unsigned char* bytes,
                        std::size_t count);

enum reader_move {
  move_done,         // the reader stands at the offset (which may lie past
                     // the end of the file; reading there gives nothing)
  move_past_end,     // the offset lies behind the buffer, but fewer than
                     // `slack` bytes lay from it to the end of the archive
  move_unreachable,  // the offset lies behind the buffer and the reader
                     // cannot go back
  move_failed,       // reading failed
};

// Moves the reader to the archive offset `target`: inside the buffer, by
// seeking, or, when seeking fails or cannot be done, by reading forward.
reader_move reader_move_to(archive_reader* reader, int64_t target,
                           int64_t slack);

#endif
