#include "tests/support/stream.h"

#include <unistd.h>

std::FILE* stream_of(const std::string& bytes) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) return nullptr;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
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

std::FILE* pipe_of(const std::string& bytes) {
  int fds[2];
  if (pipe(fds) != 0) return nullptr;
  ssize_t written = write(fds[1], bytes.data(), bytes.size());
  close(fds[1]);
  if (written != static_cast<ssize_t>(bytes.size())) {
    close(fds[0]);
    return nullptr;
  }
  return fdopen(fds[0], "rb");
}
