// Creating an entry's output file, safely, in a folder that may already
// hold anything: links, files and special files planted by someone else,
// the archive itself. The rules, the same on every platform unless they
// say otherwise:
//
//  1. Names that could reach outside the current folder are refused: an
//     absolute name (a root directory, or on Windows a drive or root name)
//     and any name with a ".." component.
//  2. A directory part of the name must be a real directory: one that is,
//     or passes through, a symbolic link is refused, wherever it points.
//     No directory is ever created. Directories are only searched, never
//     read, so a folder that may be written but not listed works.
//  3. The output is always a new file, created exclusively: owned by the
//     user running the program, with the mode a new file gets (0666 less
//     the umask), and never a file someone else prepared. What already has
//     the name is replaced, as tar does, when it is a symbolic link (the
//     link is removed; its target is never opened, truncated or created)
//     or a regular file (it is removed; other hard links to it keep their
//     old contents).
//  4. A name that exists as anything else (a FIFO, a device, a socket, a
//     directory) is refused, without blocking and without a byte written.
//  5. The archive being read is never replaced: a name that is the
//     archive, whatever path leads to it, is refused before anything is
//     removed (see is_archive: same device and index, or same size and
//     times where the file system does not keep one of them stable).
//  6. When something takes the name again between its removal and the
//     new file's creation, the replacement is tried again, a few times,
//     and then refused.
//
// On POSIX every step is made relative to the current folder's descriptor,
// opened once per run, and to descriptors of the directories under it,
// with O_NOFOLLOW, so that a folder changed while the program runs cannot
// redirect a write. The check of what stands at a name and its removal are
// two system calls in a row: someone who may rename names in the folder can
// swap another object in between, and that one name is then removed (never
// contents reachable by another name). On Windows a file is replaced by
// deleting it through a handle (which fails for a read-only file or one open elsewhere without
// delete sharing: the name is then refused) and creating the new one with
// CREATE_NEW; the handle must lead to the name itself, not to a file
// elsewhere (Wine follows the host's symbolic links, so there a link at
// the name is refused rather than replaced). Names there are read as Shift_JIS (code page 932) and opened
// through the wide API, so a Japanese name comes out the same whatever the
// system's code page and a 0x5C trail byte is part of its character, not a
// separator (a name that is not valid Shift_JIS is read in the system's
// code page, as a narrow open would); reserved device names (CON, PRN,
// AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, with any extension, trailing
// dots or spaces), names holding ':' (alternate data streams) and
// components made only of dots and spaces are refused, and the file must
// be a disk file.
#ifndef EXTRACTOR_OUTPUT_FILE_H
#define EXTRACTOR_OUTPUT_FILE_H

#include <cstdint>
#include <cstdio>

// Which file an open file or a name is, for telling whether a name is the
// archive.
struct file_identity {
  bool known;
  uint64_t device;   // st_dev, or the volume serial number on Windows
  uint64_t index;    // st_ino, or the file index on Windows
  int64_t size;      // bytes
  int64_t modified;  // last modification, in nanoseconds (100 ns on Windows)
  int64_t changed;   // last status change (creation on Windows), likewise
};

// True when `file` is the archive: the same device and index; or, where
// a file system gives each spelling of a name its own index (FAT and
// exFAT through FUSE) or a file its own device in each view (an overlay
// mount), the same size and times, to the nanosecond, with the same
// device or the same index. A false match only refuses an entry.
bool is_archive(const file_identity& archive, const file_identity& file);

// Where the entries' files go: the current folder, for the whole run.
struct output_folder {
  file_identity archive;  // the archive, never to be replaced
  int descriptor;         // POSIX: the current folder, once opened; else -1
};

// The current folder, for a run over the archive open on `archive_fd`;
// opens nothing yet.
output_folder output_folder_for(int archive_fd);

// Closes what `folder` holds open.
void close_output_folder(output_folder* folder);

// Creates the entry `name` in `folder` for binary writing under the rules
// above, empty and ready to be written, or returns nullptr when the name is
// refused or the file cannot be created. When it returns nullptr, nothing
// that existed has been written, and a symbolic link or a regular file
// (never the archive) of that name may have been removed.
std::FILE* open_output_file(output_folder* folder, const char* name);

// Rule 1 on a name as POSIX reads it ('/' separates).
bool name_is_unsafe(const char* name);

// Rule 1 and the Windows name rules above on a name as Windows reads it
// ('/' and '\' separate). Checked on every platform so that it can be
// tested anywhere.
bool windows_name_is_refused(const wchar_t* name);

#endif
