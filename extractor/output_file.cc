// SPDX-License-Identifier: MIT
// The rules on names for each platform, the archive's identity rule, and
// what both halves share.
#include "extractor/output_file.h"

#include <cstring>
#include <cwchar>
#include <initializer_list>

namespace {

// True when a[0 .. length) spells `upper` (capitals, digits and '$'), its
// letters in either case.
bool same_ignoring_case(const wchar_t* a, std::size_t length, const char* upper) {
  if (std::strlen(upper) != length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    wchar_t c = a[i];
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    if (c != static_cast<wchar_t>(upper[i])) return false;
  }
  return true;
}

// A digit that makes COMn and LPTn a device: 0-9, and the superscripts
// one, two and three, which Windows reserves as well.
bool is_port_digit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || c == 0x00B9 || c == 0x00B2 || c == 0x00B3;
}

// A Windows device name: the part before the first dot, less trailing
// spaces, is CON, PRN, AUX, NUL, COMn, LPTn, CONIN$ or CONOUT$.
bool is_device_name(const wchar_t* part, std::size_t length) {
  std::size_t base = 0;
  while (base < length && part[base] != L'.') ++base;
  while (base > 0 && part[base - 1] == L' ') --base;
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (same_ignoring_case(part, base, device)) return true;
  }
  if (base == 4 && is_port_digit(part[3])) {
    return same_ignoring_case(part, 3, "COM") || same_ignoring_case(part, 3, "LPT");
  }
  return false;
}

}  // namespace

bool is_archive(const file_state& archive, const file_state& file) {
  if (!archive.known || !file.known) return false;
  if (archive.device == file.device && archive.index == file.index) return true;
  if (archive.kind != file_regular || file.kind != file_regular) return false;
  const file_time& a = archive.modified;
  const file_time& b = file.modified;
  bool same_time = a.seconds == b.seconds &&
                   (a.nanoseconds == b.nanoseconds || a.nanoseconds == 0 ||
                    b.nanoseconds == 0);
  return archive.size == file.size && same_time;
}

output_folder output_folder_for(const archive_reader* reader) {
  return output_folder{reader, -1};
}

bool may_replace(const output_folder& folder, const file_state& there) {
  if (there.kind == file_link) return true;
  if (there.kind != file_regular) return false;
  // The archive's times may have moved since the start (a touch), and on
  // mounts where only size and time tell a name of it from another file,
  // the archive at the name would then no longer match its state at the
  // start: a changed archive replaces nothing. An unchanged one is what it
  // was at the start, in every field is_archive compares.
  return reader_unchanged(folder.reader) && !is_archive(reader_start_state(folder.reader), there);
}

bool posix_name_is_refused(const char* name) {
  if (name[0] == '/') return true;
  for (const char* part = name; *part != '\0';) {
    std::size_t length = std::strcspn(part, "/");
    if (length == 2 && part[0] == '.' && part[1] == '.') return true;
    part += length;
    if (*part == '/') ++part;
  }
  return false;
}

std::size_t windows_part_length(const wchar_t* part) {
  std::size_t length = 0;
  while (part[length] != L'\0' && part[length] != L'/' && part[length] != L'\\') ++length;
  return length;
}

bool windows_name_is_refused(const wchar_t* name) {
  if (windows_part_length(name) == 0 && name[0] != L'\0') return true;  // a root name
  if (std::wcschr(name, L':') != nullptr) return true;
  for (const wchar_t* part = name; *part != L'\0';) {
    std::size_t length = windows_part_length(part);
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
