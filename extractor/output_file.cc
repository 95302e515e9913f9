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

// True when the file (device, index) is the archive.
bool is_archive(const file_identity& archive, uint64_t device, uint64_t index) {
  return archive.known && archive.device == device && archive.index == index;
}

}  // namespace

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

}  // namespace

file_identity stream_identity(std::FILE* stream) {
  file_identity identity{};
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  identity_of_handle(handle, &identity);  // leaves `known` false on failure
  return identity;
}

std::FILE* open_output_file(const char* name, const file_identity& archive) {
  wchar_t wide[64];
  if (!wide_name(name, wide, 64) || windows_name_is_refused(wide)) {
    return nullptr;
  }
  // OPEN_ALWAYS creates or opens without truncating: the checks come first.
  HANDLE handle =
      CreateFileW(wide, GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  file_identity identity{};
  bool usable = GetFileType(handle) == FILE_TYPE_DISK &&
                identity_of_handle(handle, &identity) &&
                !is_archive(archive, identity.device, identity.index) &&
                SetEndOfFile(handle);
  if (!usable) {
    CloseHandle(handle);
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                           _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* stream = _fdopen(fd, "wb");
  if (stream == nullptr) _close(fd);
  return stream;
}

#else

namespace {

constexpr int directory_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int file_flags =
    O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr mode_t new_file_mode = 0666;  // less the umask, as fopen gives
constexpr int link_retries = 4;

// Opens the last component `leaf` in `dir` for writing, replacing a
// symbolic link by a new file; -1 when refused.
int open_leaf(int dir, const char* leaf) {
  for (int attempt = 0; attempt < link_retries; ++attempt) {
    int fd = openat(dir, leaf, file_flags, new_file_mode);
    if (fd >= 0 || errno != ELOOP) return fd;
    // A symbolic link: remove the link itself, then create a file where it
    // was, failing if anything has taken its place meanwhile.
    if (unlinkat(dir, leaf, 0) != 0 && errno != ENOENT) return -1;
    fd = openat(dir, leaf, file_flags | O_EXCL, new_file_mode);
    if (fd >= 0 || (errno != EEXIST && errno != ELOOP)) return fd;
  }
  return -1;
}

// Walks the directory part of `name` from the current folder without
// following any symbolic link; returns the last directory's descriptor and
// sets `*leaf` to the last component, or returns -1.
int open_parent(const char* name, char* leaf, std::size_t leaf_room) {
  int dir = open(".", directory_flags);
  const char* part = name;
  while (dir >= 0) {
    std::size_t length = std::strcspn(part, "/");
    if (part[length] == '\0') {
      if (length == 0 || length >= leaf_room) break;  // "" or "DIR/"
      std::memcpy(leaf, part, length + 1);
      return dir;
    }
    char component[64];
    if (length >= sizeof component) break;
    std::memcpy(component, part, length);
    component[length] = '\0';
    part += length + 1;
    if (length == 0 || std::strcmp(component, ".") == 0) continue;
    int next = openat(dir, component, directory_flags);
    close(dir);
    dir = next;
  }
  if (dir >= 0) close(dir);
  return -1;
}

}  // namespace

file_identity stream_identity(std::FILE* stream) {
  file_identity identity{};
  struct stat st;
  if (fstat(fileno(stream), &st) == 0) {
    identity.known = true;
    identity.device = static_cast<uint64_t>(st.st_dev);
    identity.index = static_cast<uint64_t>(st.st_ino);
  }
  return identity;
}

std::FILE* open_output_file(const char* name, const file_identity& archive) {
  if (name_is_unsafe(name)) return nullptr;
  char leaf[64];
  int dir = open_parent(name, leaf, sizeof leaf);
  if (dir < 0) return nullptr;
  int fd = open_leaf(dir, leaf);
  close(dir);
  if (fd < 0) return nullptr;
  struct stat st;
  bool usable = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                !is_archive(archive, static_cast<uint64_t>(st.st_dev),
                            static_cast<uint64_t>(st.st_ino)) &&
                fcntl(fd, F_SETFL, 0) == 0 &&  // drop O_NONBLOCK
                ftruncate(fd, 0) == 0;
  std::FILE* stream = usable ? fdopen(fd, "wb") : nullptr;
  if (stream == nullptr) close(fd);
  return stream;
}

#endif
