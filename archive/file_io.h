// Small portability layer over stdio: byte reads that skip the stream lock
// (the program is single-threaded) and 64-bit file positioning. tell_of
// gives -1 for a stream that cannot seek.
#ifndef ARCHIVE_FILE_IO_H
#define ARCHIVE_FILE_IO_H

#include <cstdint>
#include <cstdio>

#if !defined(_WIN32)
#include <sys/types.h>
#endif

#if defined(_WIN32)
inline int get_byte(std::FILE* f) { return _getc_nolock(f); }
inline int seek_to(std::FILE* f, int64_t offset) {
  return _fseeki64(f, offset, SEEK_SET);
}
inline int64_t tell_of(std::FILE* f) { return _ftelli64(f); }
#else
// Offsets past 2 GiB need a 64-bit off_t: the build defines
// _FILE_OFFSET_BITS=64, which 32-bit systems need for it.
static_assert(sizeof(off_t) >= 8,
              "off_t must be 64-bit: build with large-file support");
inline int get_byte(std::FILE* f) { return getc_unlocked(f); }
inline int seek_to(std::FILE* f, int64_t offset) {
  return fseeko(f, static_cast<off_t>(offset), SEEK_SET);
}
inline int64_t tell_of(std::FILE* f) { return static_cast<int64_t>(ftello(f)); }
#endif

#endif
