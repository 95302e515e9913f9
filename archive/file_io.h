// Small portability layer over file descriptors, for reading the archive:
// open for reading, read, reposition to an absolute 64-bit offset, and
// what kind of file it is. POSIX calls, or the C runtime's on Windows.
#ifndef ARCHIVE_FILE_IO_H
#define ARCHIVE_FILE_IO_H

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#endif

#if defined(_WIN32)

inline int open_for_reading(const char* path) {
  return _open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}
inline void close_file(int fd) { _close(fd); }
// Bytes read (0 at the end of the file), or -1 on an error.
inline int64_t read_some(int fd, unsigned char* bytes, std::size_t count) {
  if (count > (1u << 30)) count = 1u << 30;
  return _read(fd, bytes, static_cast<unsigned>(count));
}
inline bool seek_to(int fd, int64_t offset) {
  return _lseeki64(fd, offset, SEEK_SET) == offset;
}
// Only a disk file can be repositioned: the runtime's lseek on a pipe
// does not fail reliably.
inline bool can_seek(int fd) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  return GetFileType(handle) == FILE_TYPE_DISK && _lseeki64(fd, 0, SEEK_CUR) >= 0;
}
// A regular file's size, or -1 for anything else.
inline int64_t regular_file_size(int fd) {
  struct _stati64 st;
  if (_fstati64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return -1;
  return static_cast<int64_t>(st.st_size);
}

#else

// Offsets past 2 GiB need a 64-bit off_t: the build defines
// _FILE_OFFSET_BITS=64, which 32-bit systems need for it.
static_assert(sizeof(off_t) >= 8,
              "off_t must be 64-bit: build with large-file support");

inline int open_for_reading(const char* path) {
  return open(path, O_RDONLY | O_NOCTTY | O_CLOEXEC);
}
inline void close_file(int fd) { close(fd); }
inline int64_t read_some(int fd, unsigned char* bytes, std::size_t count) {
  for (;;) {
    ssize_t n = read(fd, bytes, count);
    if (n >= 0 || errno != EINTR) return static_cast<int64_t>(n);
  }
}
inline bool seek_to(int fd, int64_t offset) {
  return lseek(fd, static_cast<off_t>(offset), SEEK_SET) ==
         static_cast<off_t>(offset);
}
inline bool can_seek(int fd) { return lseek(fd, 0, SEEK_CUR) >= 0; }
inline int64_t regular_file_size(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

#endif

#endif
