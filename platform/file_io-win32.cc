// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "platform/file_io-win32.h"

namespace {

// A FILETIME or LARGE_INTEGER time, in 100 ns ticks.
file_time time_of(int64_t ticks) {
  return {ticks / 10000000, static_cast<int32_t>(ticks % 10000000) * 100};
}

}  // namespace

int open_for_reading(const char* path) {
  return _open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

bool close_file(int fd) { return _close(fd) == 0; }

int64_t read_some(int fd, unsigned char* bytes, std::size_t count) {
  if (count > (1u << 30)) count = 1u << 30;
  return _read(fd, bytes, static_cast<unsigned>(count));
}

bool write_all(int fd, const unsigned char* bytes, std::size_t count) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  while (count > 0) {
    DWORD piece = count > (1u << 30) ? 1u << 30 : static_cast<DWORD>(count);
    DWORD done = 0;
    if (!WriteFile(handle, bytes, piece, &done, nullptr) || done == 0) return false;
    bytes += done;
    count -= done;
  }
  return true;
}

bool seek_to(int fd, int64_t offset) {
  return _lseeki64(fd, offset, SEEK_SET) == offset;
}

// Only a disk file can be repositioned: the runtime's lseek on a pipe
// does not fail reliably.
bool can_seek(int fd) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  return GetFileType(handle) == FILE_TYPE_DISK && _lseeki64(fd, 0, SEEK_CUR) >= 0;
}

file_state state_of_handle(HANDLE handle) {
  file_state state{};
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO times;
  if (handle == INVALID_HANDLE_VALUE ||
      !GetFileInformationByHandle(handle, &info) ||
      !GetFileInformationByHandleEx(handle, FileBasicInfo, &times, sizeof times)) {
    return state;
  }
  state.known = true;
  bool disk = GetFileType(handle) == FILE_TYPE_DISK;
  state.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? file_link
               : disk && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0
                   ? file_regular
                   : file_other;
  state.device = info.dwVolumeSerialNumber;
  state.index = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  state.size = static_cast<int64_t>(
      static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow);
  state.modified = time_of(times.LastWriteTime.QuadPart);
  state.change_time = time_of(times.ChangeTime.QuadPart);
  return state;
}

file_state state_of(int fd) {
  return state_of_handle(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
}
