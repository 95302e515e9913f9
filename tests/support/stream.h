// SPDX-License-Identifier: MIT
// Test support: files, pipes and archive readers over in-memory bytes.
#ifndef TESTS_SUPPORT_STREAM_H
#define TESTS_SUPPORT_STREAM_H

#include <cstdio>
#include <memory>
#include <string>

#include "archive/archive_reader.h"

// A temporary file holding `bytes`, positioned at its start.
std::FILE* stream_of(const std::string& bytes);

// Everything `f` holds, read from its start.
std::string contents_of(std::FILE* f);

// A descriptor of a temporary file holding `bytes`, at its start.
int file_holding(const std::string& bytes);

// The read end of a pipe holding `bytes` (up to 64 KiB, or up to the
// system's largest pipe, 1 MiB by default) with the write end closed: a
// descriptor that cannot seek. -1 when they do not fit.
int pipe_holding(const std::string& bytes);

// An archive reader over a descriptor, which it closes when it goes.
struct reader_over {
  explicit reader_over(int fd);
  ~reader_over();
  reader_over(const reader_over&) = delete;
  reader_over& operator=(const reader_over&) = delete;
  archive_reader* get() { return reader.get(); }
  archive_reader* operator->() { return reader.get(); }

  int fd;
  std::unique_ptr<archive_reader> reader;
};

#endif
