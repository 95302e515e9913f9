// SPDX-License-Identifier: MIT
/* The floor: what one thread must spend to extract the files of an
 * uncompressed tar archive with no decoding at all. It reads the archive
 * with read() in 256 KiB pieces and writes each regular file with
 * openat(O_CREAT|O_EXCL), write() straight from the read buffer, close().
 *   floor ARCHIVE.tar   (into the current folder, by each name's last part) */
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { piece = 256 << 10 };
static char buffer[piece];
static size_t have, at;

/* The next `n` bytes (at most what is held; refills when empty). */
static size_t next(size_t n) {
  if (at == have) {
    ssize_t got = read(0, buffer, piece);
    have = got > 0 ? (size_t)got : 0;
    at = 0;
  }
  return n < have - at ? n : have - at;
}

int main(int argc, char** argv) {
  if (argc != 2 || close(0) != 0 || open(argv[1], O_RDONLY) != 0) return 1;
  for (;;) {
    char header[512];
    for (size_t got = 0, n; got < 512; got += n, at += n) {
      if ((n = next(512 - got)) == 0) return 1;
      memcpy(header + got, buffer + at, n);
    }
    if (header[0] == '\0') return 0;  /* the end-of-archive block */
    long long size = strtoll(header + 124, NULL, 8), padded = (size + 511) / 512 * 512;
    int fd = -1;
    if (header[156] == '0' || header[156] == '\0') {
      const char* name = strrchr(header, '/') ? strrchr(header, '/') + 1 : header;
      fd = openat(AT_FDCWD, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0) return 1;
    }
    for (long long left = padded, n; left > 0; left -= n, at += (size_t)n, size -= n) {
      if ((n = (long long)next((size_t)left)) == 0) return 1;
      long long data = size < n ? (size > 0 ? size : 0) : n;
      if (fd >= 0 && data > 0 && write(fd, buffer + at, (size_t)data) != data) return 1;
    }
    if (fd >= 0 && close(fd) != 0) return 1;
  }
}
