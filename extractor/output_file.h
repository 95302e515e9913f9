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
// The rules on names are shared and tested on every platform
// (output_file.cc); each platform's half opens the file
// (output_file-posix.cc, output_file-win32.cc).
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
  void* handle;           // Windows: the current folder, once opened; else null
};

// How often a name that keeps coming back is removed before it is refused.
constexpr int replace_tries = 4;

// The current folder, for a run over the archive open on `archive_fd`;
// opens nothing yet.
output_folder output_folder_for(int archive_fd);

// Closes what `folder` holds open.
void close_output_folder(output_folder* folder);

// Creates the entry `name` in `folder` for binary writing under the rules, empty and ready to be written, or returns nullptr when the name is
// refused or the file cannot be created. When it returns nullptr, nothing
// that existed has been written, and a symbolic link or a regular file
// (never the archive) of that name may have been removed.
std::FILE* open_output_file(output_folder* folder, const char* name);

// True for a name that could reach outside the folder, as POSIX reads it
// ('/' separates): an absolute name or one with a ".." component.
bool name_is_unsafe(const char* name);

// True for a name Windows must refuse ('/' and '\' separate): absolute,
// drive or root names, ".." components and components that Windows would
// trim to nothing or to "..", names holding ':' (alternate data streams),
// and device names (CON, PRN, AUX, NUL, COM0-9 and LPT0-9, with the
// superscript digits 1-3 too, CONIN$, CONOUT$; any case, extension,
// trailing dots or spaces) in any component.
bool windows_name_is_refused(const wchar_t* name);

#endif
