// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_io-posix.h"

// Offsets past 2 GiB need a 64-bit off_t: the build defines
// _FILE_OFFSET_BITS=64, which 32-bit systems need for it.
static_assert(sizeof(off_t) >= 8,
              "off_t must be 64-bit: build with large-file support");

int open_for_reading(const char* path) {
  return open(path, O_RDONLY | O_NOCTTY | O_CLOEXEC);
}

bool close_file(int fd) { return close(fd) == 0; }

int64_t read_some(int fd, unsigned char* bytes, std::size_t count) {
  for (;;) {
    ssize_t n = read(fd, bytes, count);
    if (n >= 0 || errno != EINTR) return static_cast<int64_t>(n);
  }
}

bool write_all(int fd, const unsigned char* bytes, std::size_t count) {
  while (count > 0) {
    ssize_t n = write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool seek_to(int fd, int64_t offset) {
  return lseek(fd, static_cast<off_t>(offset), SEEK_SET) ==
         static_cast<off_t>(offset);
}

bool can_seek(int fd) { return lseek(fd, 0, SEEK_CUR) >= 0; }

namespace {

file_state state_of_stat(const struct stat& st) {
  file_state state;
  state.known = true;
  state.kind = S_ISREG(st.st_mode)   ? file_regular
               : S_ISLNK(st.st_mode) ? file_link
                                     : file_other;
  state.device = static_cast<uint64_t>(st.st_dev);
  state.index = static_cast<uint64_t>(st.st_ino);
  state.size = static_cast<int64_t>(st.st_size);
  state.modified = {static_cast<int64_t>(st.st_mtim.tv_sec),
                    static_cast<int32_t>(st.st_mtim.tv_nsec)};
  state.change_time = {static_cast<int64_t>(st.st_ctim.tv_sec),
                   static_cast<int32_t>(st.st_ctim.tv_nsec)};
  return state;
}

}  // namespace

file_state state_of(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return file_state{};
  return state_of_stat(st);
}

file_state state_at(int directory, const char* name) {
  struct stat st;
  if (fstatat(directory, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return file_state{};
  return state_of_stat(st);
}
