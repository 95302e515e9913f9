// SPDX-License-Identifier: MIT
// The archive as the walk and the decoder read it. One reader owns the
// descriptor, its read-ahead buffer and the position; the walk and the
// decoder use it only through the functions below: look at the bytes
// ahead (reader_ahead), then move past some of them (reader_consume).
//
// Read-ahead is the reader's: a file is read in large pieces whenever
// fewer than reader_most_ahead bytes are left ahead; a pipe is read only
// when fewer bytes are ahead than were asked for, so it is never waited on
// for bytes that decoding may not need.
//
// Going back: a file is repositioned. On a pipe the walk marks where the
// next header is (reader_keep_from), and every byte from the mark on is
// kept while it lies at most reader_most_behind bytes behind the
// position; the reader goes back to the mark when the position is at most
// that far past it, and never when it is further, whatever the pipe still
// holds, so that how far a pipe goes back is a property of the archive,
// not of how its writer's pieces fell.
//
// The archive ends where reading ends. A regular file's size at the start
// is the check for lost data, not the end: some files read on past the
// size they report (/proc files, FUSE files that report 0).
//
// The archive's state (kind, identity, size and times) is asked when the
// reader starts, and an archive whose state cannot be asked is not read.
// A regular file must not change while it is read: one that ends before
// the size it had at the start, or whose size, modification time or
// change time differ after a read from what they were, fails, as does a
// later question about its state that gets no answer. The read that sees
// a change is the last: none of its bytes are handed on.
#ifndef ARCHIVE_ARCHIVE_READER_H
#define ARCHIVE_ARCHIVE_READER_H

#include <cstddef>
#include <cstdint>

#include "platform/file_io.h"

constexpr std::size_t reader_most_behind = 256 * 1024;  // how far back a pipe goes
constexpr std::size_t reader_most_ahead = 4096;         // the most one look asks for

enum reader_status {
  reader_ok,
  reader_end,     // the archive ends before the bytes or offset asked for
  reader_behind,  // reader_move_to: a pipe, more than reader_most_behind
                  // back from the position
  reader_failed,  // a read failed, or the archive changed while read
};

// The reader's state, for the functions below alone.
struct archive_reader {
  int fd;
  bool seekable;
  file_state at_start;  // a regular file's state when the reader started
  std::size_t max_read;
  // bytes[0 .. end) hold the archive from offset base on.
  int64_t base;
  std::size_t pos;
  std::size_t end;
  int64_t keep;  // bytes from this offset on are kept (-1: none)
  bool at_end;   // the descriptor gave the end of the file at base + end
  bool failed;
  unsigned char bytes[reader_most_behind + reader_most_ahead];
};

// Starts reading the archive open on `fd`, a descriptor standing at its
// offset 0, and asks its state. False when the state cannot be asked: the
// archive must not be read then. The reader never closes `fd`.
bool reader_init(archive_reader* reader, int fd);

// What the archive was when the reader started (kind, identity, size and
// times), as reader_init asked it once.
const file_state& reader_start_state(const archive_reader* reader);

// The archive offset of the next byte.
int64_t reader_offset(const archive_reader* reader);

// Looks at the bytes ahead of the position: `*bytes` points at them and
// `*ahead` tells how many there are. Returns reader_ok with at least
// `need` (1 to reader_most_ahead) of them, reader_end when the archive
// ends sooner, or reader_failed. Only this and reader_move_to read the
// archive.
reader_status reader_ahead(archive_reader* reader, std::size_t need,
                           const unsigned char** bytes, std::size_t* ahead);

// Moves past `count` bytes, at most as many as the last look had ahead.
void reader_consume(archive_reader* reader, std::size_t count);

// Marks `offset` (not behind the position) to come back to; one at a time.
void reader_keep_from(archive_reader* reader, int64_t offset);

// Moves to the archive offset `target`: inside the buffer, by seeking,
// or, where seeking fails or cannot be done, by reading forward. Past what
// was read (and, for a regular file, past its size at the start), it reads
// the byte before `target`, in the read that then holds the bytes after it.
// Returns reader_ok, reader_end when reading ends before `target`,
// reader_behind (a pipe, more than reader_most_behind bytes back) or
// reader_failed.
reader_status reader_move_to(archive_reader* reader, int64_t target);

// True when the archive is still what it was at the start: a regular
// file's state, asked again, shows the same size and times; anything else
// (a pipe, whose times move as it is written) is taken as unchanged.
bool reader_unchanged(const archive_reader* reader);

#endif
