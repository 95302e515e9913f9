// SPDX-License-Identifier: MIT
// Opening an entry's output file on Windows: the name is read as Shift_JIS
// and walked one component at a time, each opened relative to the handle
// of the directory before it (NtCreateFile with a root directory), from
// the current folder's handle, opened once per run.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <winternl.h>

#include <cstring>
#include <cwchar>

#include "archive/entry_header.h"
#include "extractor/output_file.h"
#include "platform/file_io-win32.h"

namespace {

// What winternl.h leaves out of the native API.
#ifndef FILE_OPEN_FOR_BACKUP_INTENT
#define FILE_OPEN_FOR_BACKUP_INTENT 0x00004000
#endif
constexpr ULONG share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr NTSTATUS name_collision = static_cast<NTSTATUS>(0xC0000035L);
constexpr NTSTATUS name_not_found = static_cast<NTSTATUS>(0xC0000034L);

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

constexpr DWORD path_room = 1024;

// A directory of the walk, held open, and its final path once asked for:
// each is worked out once, however many names below it are checked.
struct directory {
  HANDLE handle;
  bool path_known;
  wchar_t path[path_room];
};

bool path_of(directory* dir) {
  if (!dir->path_known) dir->path_known = final_path(dir->handle, dir->path, path_room);
  return dir->path_known;
}

// True when `handle` was opened as `component` of `parent` itself, not as
// something a link there leads to: its final path, left in `path`
// (path_room characters), is the parent's plus the component. Where the
// reparse attribute does not show (Wine, which follows the host's
// symbolic links even when asked to open the link), this is what tells.
bool is_child(directory* parent, HANDLE handle, const wchar_t* component,
              wchar_t* path) {
  if (!path_of(parent) || !final_path(handle, path, path_room)) return false;
  const wchar_t* parent_path = parent->path;
  std::size_t d = std::wcslen(parent_path);
  if (d > 0 && parent_path[d - 1] == L'\\') --d;  // a drive's root, "C:\"
  return CompareStringOrdinal(path, static_cast<int>(d), parent_path,
                              static_cast<int>(d), TRUE) == CSTR_EQUAL &&
         path[d] == L'\\' &&
         CompareStringOrdinal(path + d + 1, -1, component, -1, TRUE) == CSTR_EQUAL;
}

// Any reparse point is refused as a directory part: junctions, symbolic
// links and mount points lead elsewhere, and whatever else carries the
// attribute (a cloud file's placeholder, a deduplicated file) is handled
// by a filter driver whose behaviour this program cannot check, so the
// safe side is to go no further through it.
bool is_reparse_point(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO tag;
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag,
                                    sizeof tag)) {
    return true;
  }
  return (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Opens `component` relative to the directory `root`, as NtCreateFile
// does: case-insensitively, never trimming anything. INVALID_HANDLE_VALUE
// on failure, with the status in `*status`.
HANDLE open_relative(HANDLE root, const wchar_t* component, ACCESS_MASK access,
                     ULONG attributes, ULONG share, ULONG disposition,
                     ULONG options, NTSTATUS* status) {
  UNICODE_STRING name;
  name.Length = static_cast<USHORT>(std::wcslen(component) * sizeof(wchar_t));
  name.MaximumLength = name.Length;
  name.Buffer = const_cast<wchar_t*>(component);
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &name, OBJ_CASE_INSENSITIVE, root, nullptr);
  IO_STATUS_BLOCK io;
  HANDLE handle = INVALID_HANDLE_VALUE;
  *status = NtCreateFile(&handle, access | SYNCHRONIZE, &object, &io, nullptr,
                         attributes, share, disposition,
                         options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  return *status >= 0 ? handle : INVALID_HANDLE_VALUE;
}

// Opens the directory `component` under `parent` as `child`, refusing a
// reparse point and anything a link there leads to.
bool open_directory(directory* parent, const wchar_t* component, directory* child) {
  NTSTATUS status;
  HANDLE dir = open_relative(
      parent->handle, component, FILE_TRAVERSE | FILE_READ_ATTRIBUTES, 0, share_all,
      FILE_OPEN,
      FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT,
      &status);
  if (dir == INVALID_HANDLE_VALUE) return false;
  if (is_reparse_point(dir) || !is_child(parent, dir, component, child->path)) {
    CloseHandle(dir);
    return false;
  }
  child->handle = dir;
  child->path_known = true;
  return true;
}

// Removes what stands at `leaf` in `dir` through a handle, so that what is
// checked is what is deleted: only a disk file other than the archive, at
// the name itself. A symbolic link is opened and removed itself, never its
// target. True when it is gone (or was gone already).
bool remove_existing(directory* dir, const wchar_t* leaf, const output_folder& folder) {
  NTSTATUS status;
  HANDLE handle = open_relative(dir->handle, leaf, DELETE | FILE_READ_ATTRIBUTES, 0,
                                share_all, FILE_OPEN,
                                FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT,
                                &status);
  if (handle == INVALID_HANDLE_VALUE) {
    return status == name_not_found;  // gone meanwhile
  }
  file_state there = state_of_handle(handle);
  FILE_DISPOSITION_INFO dispose{};
  dispose.DeleteFile = TRUE;
  wchar_t path[path_room];
  bool removed = there.known && may_replace(folder, there) && is_child(dir, handle, leaf, path) &&
                 SetFileInformationByHandle(handle, FileDispositionInfo,
                                            &dispose, sizeof dispose);
  CloseHandle(handle);
  return removed;
}

// Creates `leaf` in `dir` as a new file, replacing a disk file or a link
// that has the name; INVALID_HANDLE_VALUE when refused.
HANDLE create_leaf(directory* dir, const wchar_t* leaf, const output_folder& folder) {
  for (int attempt = 0; attempt < replace_tries; ++attempt) {
    NTSTATUS status;
    HANDLE handle = open_relative(dir->handle, leaf, GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                  FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ,
                                  FILE_CREATE, FILE_NON_DIRECTORY_FILE, &status);
    if (handle != INVALID_HANDLE_VALUE) return handle;
    if (status != name_collision || !remove_existing(dir, leaf, folder)) break;
  }
  return INVALID_HANDLE_VALUE;
}

// Cuts trailing dots and spaces off a component, as the Win32 API does
// with every name it is given (the native one does not).
void trim(wchar_t* component) {
  std::size_t n = std::wcslen(component);
  while (n > 0 && (component[n - 1] == L'.' || component[n - 1] == L' ')) --n;
  component[n] = L'\0';
}

}  // namespace

void close_output_folder(output_folder* folder) {
  if (folder->handle != -1) CloseHandle(reinterpret_cast<HANDLE>(folder->handle));
  folder->handle = -1;
}

int open_output_file(output_folder* folder, const char* name) {
  wchar_t wide[name_field_size + 1];  // a byte gives at most one character
  if (!wide_name(name, wide, name_field_size + 1) || windows_name_is_refused(wide)) {
    return -1;
  }
  if (folder->handle == -1) {
    // The current folder itself may be reached through a link.
    HANDLE here = CreateFileW(L".", FILE_TRAVERSE | FILE_READ_ATTRIBUTES, share_all,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                              nullptr);
    if (here == INVALID_HANDLE_VALUE) return -1;
    folder->handle = reinterpret_cast<intptr_t>(here);
  }
  HANDLE root = reinterpret_cast<HANDLE>(folder->handle);
  directory walked[2];  // the directory reached, and the next one
  directory* dir = &walked[0];
  dir->handle = root;
  dir->path_known = false;
  wchar_t* part = wide;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (;;) {
    wchar_t* end = part + windows_part_length(part);
    bool last = *end == L'\0';
    *end = L'\0';
    trim(part);
    if (last) {
      // "" ("DIR/") is not a file name.
      if (*part != L'\0') file = create_leaf(dir, part, *folder);
      break;
    }
    if (*part != L'\0') {  // "SUB//A.TXT" and "./A.TXT" ("." trims to "")
      directory* next = dir == &walked[0] ? &walked[1] : &walked[0];
      bool opened = open_directory(dir, part, next);
      if (dir->handle != root) CloseHandle(dir->handle);
      if (!opened) return -1;
      dir = next;
    }
    part = end + 1;
  }
  if (dir->handle != root) CloseHandle(dir->handle);
  if (file == INVALID_HANDLE_VALUE) return -1;
  int fd = -1;
  if (GetFileType(file) == FILE_TYPE_DISK) {
    fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
  }
  if (fd < 0) CloseHandle(file);
  return fd;
}
