// SPDX-License-Identifier: MIT
// Creating an entry's output file safely, in a folder that may already
// hold anything (links, special files, the archive itself). The contract:
// nothing is ever written outside the current folder or into a file that
// already exists; no directory part is followed through a link or other
// reparse point; what stands at the name is replaced only when it is a
// symbolic link or a regular file other than the archive; and a refused
// name leaves everything as it was, but for a name that was removed. The
// full rules, and the one window they leave, are in the man page
// (doc/extractor.1.in, SECURITY).
//
// The rules themselves (which names each platform refuses, what is the
// archive) are plain functions in output_file.cc, built on every platform
// so that both platforms' rules are tested everywhere; each platform's
// half (output_file-posix.cc, output_file-win32.cc) opens the files.
#ifndef EXTRACTOR_OUTPUT_FILE_H
#define EXTRACTOR_OUTPUT_FILE_H

#include <cstddef>
#include <cstdint>

#include "archive/archive_reader.h"
#include "platform/file_io.h"

// True when `file` is the archive: the same device and index; or, when
// both are regular files, the same size and modification time (to the
// nanosecond where both show it), whatever their device and index, which
// some mounts number apart for one file (FAT and exFAT through FUSE, union
// and overlay mounts). A false match only refuses an entry.
bool is_archive(const file_state& archive, const file_state& file);

// Where the entries' files go: the current folder, for the whole run.
struct output_folder {
  const archive_reader* reader;  // the archive, never to be replaced
  intptr_t handle;  // the current folder once opened (a descriptor, or a
                    // Windows HANDLE), -1 until then
};

// How often a name that keeps coming back is removed before it is refused.
constexpr int replace_tries = 4;

// The current folder, for a run over the archive `reader` reads; opens
// nothing yet.
output_folder output_folder_for(const archive_reader* reader);

// True when `there`, what stands at an entry's name, may be removed to
// make way for the entry: a symbolic link; or a regular file when the
// archive, asked again, has not changed since the run began and `there`
// is no name of it (is_archive).
bool may_replace(const output_folder& folder, const file_state& there);

// Closes what `folder` holds open.
void close_output_folder(output_folder* folder);

// Creates the entry `name` in `folder` under the rules, empty and open for
// writing: returns its descriptor, for write_all and close_file
// (platform/file_io.h). Returns -1 when the name is refused or the file
// cannot be created; nothing that existed has then been written, though a
// symbolic link or a regular file (never the archive) of that name may
// have been removed.
int open_output_file(output_folder* folder, const char* name);

// True for a name the POSIX half refuses ('/' separates): an absolute name
// or one with a ".." component.
bool posix_name_is_refused(const char* name);

// True for a name the Windows half refuses ('/' and '\' separate):
// absolute, drive or root names, ".." components and components that
// Windows would trim to nothing or to "..", names holding ':' (alternate
// data streams), and device names (CON, PRN, AUX, NUL, COM0-9 and LPT0-9,
// with the superscript digits 1-3 too, CONIN$, CONOUT$; any case,
// extension, trailing dots or spaces) in any component.
bool windows_name_is_refused(const wchar_t* name);

// The length of the Windows name component at `part`: up to the next '/'
// or '\', or the name's end.
std::size_t windows_part_length(const wchar_t* part);

#endif
