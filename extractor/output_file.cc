#include "extractor/output_file.h"

#include <cstring>
#include <cwchar>
#include <initializer_list>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

bool is_separator(wchar_t c) { return c == L'/' || c == L'\\'; }

bool same_letters(const wchar_t* a, std::size_t length, const char* upper) {
  if (std::strlen(upper) != length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    wchar_t c = a[i];
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    if (c != static_cast<wchar_t>(upper[i])) return false;
  }
  return true;
}

// A Windows device name: the part before the first dot, less trailing
// spaces, is CON, PRN, AUX, NUL, COMn, LPTn, CONIN$ or CONOUT$.
bool is_device_name(const wchar_t* part, std::size_t length) {
  std::size_t base = 0;
  while (base < length && part[base] != L'.') ++base;
  while (base > 0 && part[base - 1] == L' ') --base;
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (same_letters(part, base, device)) return true;
  }
  if (base == 4 && part[3] >= L'0' && part[3] <= L'9') {
    return same_letters(part, 3, "COM") || same_letters(part, 3, "LPT");
  }
  return false;
}

// How often a name that keeps coming back is removed before it is refused.
constexpr int replace_tries = 4;

// The identity of the file open on `fd` (each platform's half); `known`
// is false when it cannot be had.
file_identity identity_of_descriptor(int fd);

}  // namespace

bool is_archive(const file_identity& archive, const file_identity& file) {
  if (!archive.known || !file.known) return false;
  bool same_device = archive.device == file.device;
  bool same_index = archive.index == file.index;
  if (same_device && same_index) return true;
  bool same_state = archive.size == file.size &&
                    archive.modified == file.modified &&
                    archive.changed == file.changed;
  return same_state && (same_device || same_index);
}

bool name_is_unsafe(const char* name) {
  if (name[0] == '/') return true;
  for (const char* part = name; *part != '\0';) {
    std::size_t length = std::strcspn(part, "/");
    if (length == 2 && part[0] == '.' && part[1] == '.') return true;
    part += length;
    if (*part == '/') ++part;
  }
  return false;
}

bool windows_name_is_refused(const wchar_t* name) {
  if (is_separator(name[0]) || std::wcschr(name, L':') != nullptr) return true;
  for (const wchar_t* part = name; *part != L'\0';) {
    std::size_t length = 0;
    while (part[length] != L'\0' && !is_separator(part[length])) ++length;
    // "..", and names Windows would trim to nothing or to ".." ("...",
    // ". ."); "." alone is the folder itself.
    bool dots_and_spaces = length > 0;
    for (std::size_t i = 0; i < length; ++i) {
      if (part[i] != L'.' && part[i] != L' ') dots_and_spaces = false;
    }
    bool single_dot = length == 1 && part[0] == L'.';
    if ((dots_and_spaces && !single_dot) || is_device_name(part, length)) {
      return true;
    }
    part += length;
    if (*part != L'\0') ++part;
  }
  return false;
}

#if defined(_WIN32)

namespace {

int64_t ticks(const FILETIME& time) {
  return static_cast<int64_t>(static_cast<uint64_t>(time.dwHighDateTime) << 32 |
                              time.dwLowDateTime);
}

bool identity_of_handle(HANDLE handle, file_identity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE ||
      !GetFileInformationByHandle(handle, &info)) {
    return false;
  }
  identity->known = true;
  identity->device = info.dwVolumeSerialNumber;
  identity->index =
      static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  identity->size = static_cast<int64_t>(
      static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow);
  identity->modified = ticks(info.ftLastWriteTime);
  identity->changed = ticks(info.ftCreationTime);
  return true;
}

// The name as UTF-16: Shift_JIS when it is valid Shift_JIS, otherwise the
// system's code page, as the narrow file API would read it.
bool wide_name(const char* name, wchar_t* wide, int room) {
  int length = static_cast<int>(std::strlen(name));
  if (length == 0) return false;
  int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, name, length, wide,
                              room - 1);
  if (n == 0) n = MultiByteToWideChar(CP_ACP, 0, name, length, wide, room - 1);
  if (n == 0) return false;
  wide[n] = L'\0';
  return true;
}

// The full path of the file behind `handle`, without a "\\?\" prefix.
bool final_path(HANDLE handle, wchar_t* path, DWORD room) {
  DWORD n = GetFinalPathNameByHandleW(handle, path, room, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= room) return false;
  if (std::wcsncmp(path, L"\\\\?\\", 4) == 0) {
    std::wmemmove(path, path + 4, n - 4 + 1);
  }
  return true;
}

// True when the file behind `handle` is at `name` itself: in the folder
// the name says, under its last component. A link at the name that was
// followed to a file elsewhere fails this (Wine follows the host's
// symbolic links even when asked to open the link itself).
bool is_at_name(HANDLE handle, const wchar_t* name) {
  const wchar_t* leaf = name;
  for (const wchar_t* p = name; *p != L'\0'; ++p) {
    if (is_separator(*p)) leaf = p + 1;
  }
  wchar_t folder[64] = L".";
  if (leaf != name) {
    std::size_t length = static_cast<std::size_t>(leaf - name);
    std::wmemcpy(folder, name, length);
    folder[length] = L'\0';
  }
  HANDLE dir =
      CreateFileW(folder, FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (dir == INVALID_HANDLE_VALUE) return false;
  wchar_t dir_path[1024], file_path[1024];
  bool known =
      final_path(dir, dir_path, 1024) && final_path(handle, file_path, 1024);
  CloseHandle(dir);
  if (!known) return false;
  std::size_t d = std::wcslen(dir_path);
  if (d > 0 && dir_path[d - 1] == L'\\') --d;  // a drive's root, "C:\"
  return _wcsnicmp(file_path, dir_path, d) == 0 && file_path[d] == L'\\' &&
         _wcsicmp(file_path + d + 1, leaf) == 0;
}

// Removes the existing file `name` through a handle, so that what is
// checked is what is deleted: only a disk file other than the archive,
// standing at the name itself. A symbolic link is opened and removed
// itself, never its target. True when it is gone (or was gone already).
bool remove_existing(const wchar_t* name, const file_identity& archive) {
  HANDLE handle = CreateFileW(
      name, DELETE | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  file_identity identity{};
  FILE_DISPOSITION_INFO dispose{};
  dispose.DeleteFile = TRUE;
  bool removed = GetFileType(handle) == FILE_TYPE_DISK &&
                 identity_of_handle(handle, &identity) &&
                 !is_archive(archive, identity) &&
                 is_at_name(handle, name) &&
                 SetFileInformationByHandle(handle, FileDispositionInfo,
                                            &dispose, sizeof dispose);
  CloseHandle(handle);
  return removed;
}

file_identity identity_of_descriptor(int fd) {
  file_identity identity{};
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  identity_of_handle(handle, &identity);  // leaves `known` false on failure
  return identity;
}

}  // namespace

void close_output_folder(output_folder*) {}

std::FILE* open_output_file(output_folder* folder, const char* name) {
  wchar_t wide[64];
  if (!wide_name(name, wide, 64) || windows_name_is_refused(wide)) {
    return nullptr;
  }
  for (int attempt = 0; attempt < replace_tries; ++attempt) {
    HANDLE handle = CreateFileW(wide, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (GetLastError() != ERROR_FILE_EXISTS ||
          !remove_existing(wide, folder->archive)) {
        return nullptr;
      }
      continue;
    }
    int fd = -1;
    if (GetFileType(handle) == FILE_TYPE_DISK) {
      fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                           _O_WRONLY | _O_BINARY);
    }
    if (fd < 0) {
      CloseHandle(handle);
      return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "wb");
    if (stream == nullptr) _close(fd);
    return stream;
  }
  return nullptr;
}

#else

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

file_identity identity_of(const struct stat& st) {
  file_identity identity;
  identity.known = true;
  identity.device = static_cast<uint64_t>(st.st_dev);
  identity.index = static_cast<uint64_t>(st.st_ino);
  identity.size = static_cast<int64_t>(st.st_size);
  identity.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                      st.st_mtim.tv_nsec;
  identity.changed = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 +
                     st.st_ctim.tv_nsec;
  return identity;
}

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
int create_leaf(int dir, const char* leaf, const file_identity& archive) {
  for (int attempt = 0; attempt < replace_tries; ++attempt) {
    int fd = openat(dir, leaf, file_flags, new_file_mode);
    if (fd >= 0 || errno != EEXIST) return fd;
    struct stat st;
    if (fstatat(dir, leaf, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // gone meanwhile
      return -1;
    }
    bool replaceable =
        S_ISLNK(st.st_mode) ||
        (S_ISREG(st.st_mode) && !is_archive(archive, identity_of(st)));
    if (!replaceable) return -1;
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
    char component[64];
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

file_identity identity_of_descriptor(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return file_identity{};
  return identity_of(st);
}

}  // namespace

void close_output_folder(output_folder* folder) {
  if (folder->descriptor >= 0) close(folder->descriptor);
  folder->descriptor = -1;
}

std::FILE* open_output_file(output_folder* folder, const char* name) {
  if (name_is_unsafe(name)) return nullptr;
  if (folder->descriptor < 0) {
    folder->descriptor = open(".", directory_flags);
    if (folder->descriptor < 0) return nullptr;
  }
  const char* leaf = nullptr;
  int dir = open_parent(folder->descriptor, name, &leaf);
  if (dir < 0) return nullptr;
  int fd = create_leaf(dir, leaf, folder->archive);
  if (dir != folder->descriptor) close(dir);
  if (fd < 0) return nullptr;
  std::FILE* stream = fdopen(fd, "wb");
  if (stream == nullptr) close(fd);
  return stream;
}

#endif

output_folder output_folder_for(int archive_fd) {
  return output_folder{identity_of_descriptor(archive_fd), -1};
}
