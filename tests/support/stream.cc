// SPDX-License-Identifier: MIT
#include "tests/support/stream.h"

#include <fcntl.h>
#include <unistd.h>

std::FILE* stream_of(const std::string& bytes) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) return nullptr;
  if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
      std::fflush(f) != 0) {
    std::fclose(f);
    return nullptr;
  }
  std::rewind(f);
  return f;
}

std::string contents_of(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string bytes;
  int c;
  while ((c = std::getc(f)) != EOF) bytes += static_cast<char>(c);
  return bytes;
}

int file_holding(const std::string& bytes) {
  std::FILE* f = stream_of(bytes);
  if (f == nullptr) return -1;
  int fd = dup(fileno(f));  // shares the offset: the file's start
  std::fclose(f);
  return fd;
}

int pipe_holding(const std::string& bytes) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
#if defined(F_SETPIPE_SZ)
  if (bytes.size() > 65536) fcntl(fds[1], F_SETPIPE_SZ, static_cast<int>(bytes.size()));
#endif
  ssize_t written = write(fds[1], bytes.data(), bytes.size());
  close(fds[1]);
  if (written != static_cast<ssize_t>(bytes.size())) {
    close(fds[0]);
    return -1;
  }
  return fds[0];
}

reader_over::reader_over(int fd_) : fd(fd_), reader(new archive_reader) {
  reader_init(reader.get(), fd);
}

reader_over::~reader_over() {
  if (fd >= 0) close(fd);
}
