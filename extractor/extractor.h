// SPDX-License-Identifier: MIT
// The extractor program: lists every entry of an archive on standard output
// and writes each entry's decoded bytes to a file named by the entry.
#ifndef EXTRACTOR_EXTRACTOR_H
#define EXTRACTOR_EXTRACTOR_H

#include <cstddef>

#include "archive/entry_header.h"

// How a run ends; end_run (extractor.cc) gives each ending its message and
// exit status, in one switch. run_unreadable: the archive cannot be opened,
// asked its state or read, was cut inside an entry or changed, or a pipe
// cannot go back; run_refused: an entry's file is refused or not created.
enum run_end { run_extracted, run_no_archive, run_unreadable, run_refused, run_write_failed };

// Messages on standard error. The last two are Shift_JIS bytes:
// "the file cannot be opened." and "writing failed."; the usage message
// takes the program's name.
constexpr const char usage_format[] = "Usage: %s [Archive .MDT/.PAR file]\n";
constexpr const char open_failure_message[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x83\x49\x81\x5B\x83\x76\x83\x93"
    "\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1.\n";
constexpr const char write_failure_message[] =
    "\x8F\x91\x82\xAB\x8D\x9E\x82\xDD\x82\xC9\x8E\xB8\x94\x73\x82\xB5\x82\xDC"
    "\x82\xB5\x82\xBD.\n";

// Runs the whole program on its command line; returns the exit status.
int run_extractor(int argc, char** argv);

// Writes the entry's listing line, "%-12s %8d %8d \n" of name, packed_size
// and unpacked_size, with name bytes below 0x20 and 0x7F shown as '?', into
// `line` (listing_line_room bytes) with a zero after it; returns its length.
constexpr std::size_t listing_line_room = 64;
std::size_t listing_line(const entry_header& header, char* line);

#endif
