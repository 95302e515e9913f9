// SPDX-License-Identifier: MIT
// Opening an entry's output file on POSIX systems: every step relative to
// a directory descriptor, none following a symbolic link.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "archive/entry_header.h"
#include "extractor/output_file.h"
#include "platform/file_io-posix.h"

namespace {

// Directories are only searched: O_PATH where there is one, so a folder
// that may be written but not read works.
#if defined(O_PATH)
constexpr int search_flag = O_PATH;
#elif defined(O_SEARCH)
constexpr int search_flag = O_SEARCH;
#else
constexpr int search_flag = O_RDONLY;
#endif
constexpr int directory_flags =
    search_flag | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int file_flags =
    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
constexpr mode_t new_file_mode = 0666;  // less the umask, as fopen gives

// Creates `leaf` in `dir` as a new file, removing a symbolic link or a
// regular file (not the archive) that has the name; -1 when refused.
//
// Nothing but the comparisons runs between the check of what stands at
// the name and its removal, but no system call removes a name only if it
// still leads to what was checked: someone who may rename names in the
// folder can exchange the name for another object (a FIFO, another name
// of the archive) in that instant, and that one name is then removed.
// Contents reachable by another name are never touched, and nothing is
// written anywhere but into the new file.
int create_leaf(int dir, const char* leaf, const output_folder& folder) {
  for (int attempt = 0; attempt < replace_tries; ++attempt) {
    int fd = openat(dir, leaf, file_flags, new_file_mode);
    if (fd >= 0 || errno != EEXIST) return fd;
    file_state there = state_at(dir, leaf);
    if (!there.known) {
      if (errno == ENOENT) continue;  // gone meanwhile
      return -1;
    }
    if (!may_replace(folder, there)) return -1;
    if (unlinkat(dir, leaf, 0) != 0 && errno != ENOENT) return -1;
  }
  return -1;
}

// Walks the directory part of `name` from `folder` without following any
// symbolic link. Returns the last directory's descriptor (`folder` itself
// for a name without one, to be left open) and sets `*leaf` to the last
// component, or returns -1.
int open_parent(int folder, const char* name, const char** leaf) {
  int dir = folder;
  const char* part = name;
  while (dir >= 0) {
    std::size_t length = std::strcspn(part, "/");
    if (part[length] == '\0') {
      if (length == 0) break;  // "" or "DIR/"
      *leaf = part;
      return dir;
    }
    char component[name_field_size + 1];
    if (length >= sizeof component) break;
    std::memcpy(component, part, length);
    component[length] = '\0';
    part += length + 1;
    if (length == 0 || std::strcmp(component, ".") == 0) continue;
    int next = openat(dir, component, directory_flags);
    if (dir != folder) close(dir);
    dir = next;
  }
  if (dir >= 0 && dir != folder) close(dir);
  return -1;
}

}  // namespace

void close_output_folder(output_folder* folder) {
  if (folder->handle >= 0) close(static_cast<int>(folder->handle));
  folder->handle = -1;
}

int open_output_file(output_folder* folder, const char* name) {
  if (posix_name_is_refused(name)) return -1;
  if (folder->handle < 0) {
    folder->handle = open(".", directory_flags);
    if (folder->handle < 0) return -1;
  }
  int here = static_cast<int>(folder->handle);
  const char* leaf = nullptr;
  int dir = open_parent(here, name, &leaf);
  if (dir < 0) return -1;
  int fd = create_leaf(dir, leaf, *folder);
  if (dir != here) close(dir);
  return fd;
}
