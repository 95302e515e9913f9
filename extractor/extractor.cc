// SPDX-License-Identifier: MIT
#include "extractor/extractor.h"

#include <csignal>
#include <cstdio>

#include "archive/archive_reader.h"
#include "archive/decode.h"
#include "archive/entry_walk.h"
#include "extractor/output_file.h"
#include "platform/file_io.h"

namespace {

// The archive's reader, static for the size of its buffer.
archive_reader run_reader;

// Failing writes come back as errors rather than signals that stop the
// process: a file size limit (SIGXFSZ) is a write failure, and a listing
// nobody reads any more (extractor A.MDT | head -1, SIGPIPE) does not stop
// the extraction. Neither signal exists on Windows.
void keep_signals_from_stopping_writes() {
#if defined(SIGXFSZ)
  std::signal(SIGXFSZ, SIG_IGN);
#endif
#if defined(SIGPIPE)
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

// Lists and extracts every entry of the open archive; returns how the run
// ends.
run_end extract_all(archive_reader* reader, output_folder* folder) {
  entry_walk walk = walk_begin(reader);
  entry_header header;
  walk_status step;
  while ((step = walk_next(&walk, &header)) == walk_entry) {
    char line[listing_line_room];
    listing_line(header, line);
    std::fputs(line, stdout);
    int output = open_output_file(folder, header.name);
    if (output < 0) return run_refused;
    decode_status status = decode_entry(reader, output, header.packed_size,
                                        header.unpacked_size);
    bool closed = close_file(output);
    if (status == decode_write_error || !closed) return run_write_failed;
    if (status == decode_read_error) return run_unreadable;
  }
  return step == walk_end ? run_extracted : run_unreadable;
}

// Gives the run's message, after the listing, and returns its exit status:
// the one place where an ending becomes both.
int end_run(run_end end, const char* program) {
  std::fflush(stdout);  // keep the listing line ahead of the message
  switch (end) {
    case run_extracted:
      return 0;
    case run_no_archive:
      std::fprintf(stderr, usage_format, program);
      return 1;
    case run_unreadable:
    case run_refused:
      std::fputs(open_failure_message, stderr);
      return 1;
    case run_write_failed:
      std::fputs(write_failure_message, stderr);
      return 2;
  }
  return 1;  // not reached: -Werror=switch holds every ending above
}

}  // namespace

std::size_t listing_line(const entry_header& header, char* line) {
  char shown[sizeof header.name];
  std::size_t i = 0;
  for (; header.name[i] != '\0'; ++i) {
    unsigned char c = static_cast<unsigned char>(header.name[i]);
    shown[i] = (c < 0x20 || c == 0x7F) ? '?' : header.name[i];
  }
  shown[i] = '\0';
  int length = std::snprintf(line, listing_line_room, "%-12s %8d %8d \n",
                             shown, static_cast<int>(header.packed_size),
                             static_cast<int>(header.unpacked_size));
  return static_cast<std::size_t>(length);
}

int run_extractor(int argc, char** argv) {
  const char* program = argc > 0 && argv[0] ? argv[0] : "";
  if (argc < 2) return end_run(run_no_archive, program);
  keep_signals_from_stopping_writes();
  int fd = open_for_reading(argv[1]);
  if (fd < 0) return end_run(run_unreadable, program);
  if (!reader_init(&run_reader, fd)) {
    // Without its state the archive could be neither told from the
    // entries' files nor seen to change.
    close_file(fd);
    return end_run(run_unreadable, program);
  }
  output_folder folder = output_folder_for(&run_reader);
  run_end end = extract_all(&run_reader, &folder);
  close_output_folder(&folder);
  close_file(fd);
  return end_run(end, program);
}
