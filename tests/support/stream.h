// Test support: stdio streams over in-memory bytes.
#ifndef TESTS_SUPPORT_STREAM_H
#define TESTS_SUPPORT_STREAM_H

#include <cstdio>
#include <string>

// A temporary file holding `bytes`, positioned at its start.
std::FILE* stream_of(const std::string& bytes);

// Everything `f` holds, read from its start.
std::string contents_of(std::FILE* f);

// The read end of a pipe holding `bytes` (which must fit the pipe's buffer)
// with the write end closed: a stream that cannot seek.
std::FILE* pipe_of(const std::string& bytes);

#endif
