// Opening an entry's output file, safely, in a folder that may already
// hold anything: links planted by someone else, FIFOs, device nodes, the
// archive itself. The rules, the same on every platform unless they say
// otherwise:
//
//  1. Names that could reach outside the current folder are refused: an
//     absolute name (a root directory, or on Windows a drive or root name)
//     and any name with a ".." component.
//  2. A directory part of the name must be a real directory: one that is,
//     or passes through, a symbolic link is refused, wherever it points.
//     No directory is ever created.
//  3. When the name itself is a symbolic link, the link is removed and a
//     new plain file created in its place; the link's target is never
//     opened, truncated or created.
//  4. A name that exists as anything but a regular file (a FIFO, a device,
//     a socket, a directory) is refused without blocking and without a byte
//     written to it.
//  5. An existing regular file is overwritten in place: the same file, its
//     mode and owner kept (a file with other hard links is truncated for
//     all of them). It is truncated only after the checks above and the
//     next one have passed.
//  6. The archive being read is never the output: the opened file is
//     compared by identity (device and inode, or volume and file index on
//     Windows) with the archive stream, whatever path leads to it.
//
// On POSIX every step is made relative to open directory descriptors, with
// O_NOFOLLOW, so that a folder changed while the program runs cannot
// redirect a write. On Windows, in addition, names are read as Shift_JIS
// (code page 932) and opened through the wide API, so a Japanese name comes
// out the same whatever the system's code page and a 0x5C trail byte is
// part of its character, not a separator (a name that is not valid
// Shift_JIS is read in the system's code page, as a narrow open would);
// reserved device names (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$,
// CONOUT$, with any extension, trailing dots or spaces), names holding ':'
// (alternate data streams) and components made only of dots and spaces are
// refused, and the opened file must be a disk file.
#ifndef EXTRACTOR_OUTPUT_FILE_H
#define EXTRACTOR_OUTPUT_FILE_H

#include <cstdint>
#include <cstdio>

// Which file an open stream is, for comparing two open files.
struct file_identity {
  bool known;
  uint64_t device;  // st_dev, or the volume serial number on Windows
  uint64_t index;   // st_ino, or the file index on Windows
};

// The identity of the file behind `stream`; `known` is false when it
// cannot be had.
file_identity stream_identity(std::FILE* stream);

// Opens the entry `name` for binary writing under the rules above,
// truncated and ready to be written, or returns nullptr when the name is
// refused or the file cannot be created. Nothing that existed is truncated
// or written when it returns nullptr; a symbolic link named `name` may have
// been removed, and a file it had just created may stay behind, empty.
std::FILE* open_output_file(const char* name, const file_identity& archive);

// Rule 1 on a name as POSIX reads it ('/' separates).
bool name_is_unsafe(const char* name);

// Rule 1 and the Windows name rules above on a name as Windows reads it
// ('/' and '\' separate). Checked on every platform so that it can be
// tested anywhere.
bool windows_name_is_refused(const wchar_t* name);

#endif
