// SPDX-License-Identifier: MIT
// The few things the program asks of its platform's files, over
// descriptors: open the archive for reading, read, reposition, write an
// entry's file, close, and what a file is (kind, identity, size and
// times). POSIX calls in file_io-posix.cc; the C runtime's and Win32's in
// file_io-win32.cc; what only one platform's code asks, in
// file_io-posix.h and file_io-win32.h.
#ifndef PLATFORM_FILE_IO_H
#define PLATFORM_FILE_IO_H

#include <cstddef>
#include <cstdint>

struct file_time {
  int64_t seconds;
  int32_t nanoseconds;  // 0 where the file system shows whole seconds only
};

enum file_kind { file_other, file_regular, file_link };

// What stands behind a descriptor or a name.
struct file_state {
  bool known;             // false when it could not be asked for
  file_kind kind;
  uint64_t device;        // st_dev, or the volume serial number on Windows
  uint64_t index;         // st_ino, or the file index on Windows
  int64_t size;           // bytes
  file_time modified;     // the last change of the contents
  file_time change_time;  // the last change of the contents or attributes
};

// Opens `path` for reading, not inherited by child processes; -1 when it
// cannot be opened.
int open_for_reading(const char* path);

// Closes `fd`; false when the close reports a failure (such as a write
// that the file system had put off and could not make).
bool close_file(int fd);

// Reads up to `count` bytes into `bytes`, retrying when interrupted:
// how many were read, 0 at the end of the file, -1 on an error.
int64_t read_some(int fd, unsigned char* bytes, std::size_t count);

// Writes all `count` bytes to `fd` (on Windows, through its handle),
// going on after a write that takes fewer or is interrupted; false at the
// first write that fails or takes none.
bool write_all(int fd, const unsigned char* bytes, std::size_t count);

// Repositions `fd` to the absolute offset `offset`; false when it cannot.
bool seek_to(int fd, int64_t offset);

// True for a descriptor that can be repositioned (a disk file, not a pipe).
bool can_seek(int fd);

// What `fd` is; `known` false when it cannot be told.
file_state state_of(int fd);

#endif
