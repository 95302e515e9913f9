// SPDX-License-Identifier: MIT
// Test support: runs a program in a directory and captures what it does.
#ifndef TESTS_SUPPORT_RUN_H
#define TESTS_SUPPORT_RUN_H

#include <string>
#include <vector>

struct run_result {
  int status;       // exit status, or 128 + signal number
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error, byte for byte
};

// Limits a run starts under (setrlimit before exec); -1 or 0: none.
struct run_limits {
  long long file_size = -1;  // bytes of every file written (RLIMIT_FSIZE;
                             // SIGXFSZ left as the system has it, as a
                             // shell leaves it)
  long long stack = -1;      // bytes of stack (RLIMIT_STACK)
  unsigned seconds = 0;      // a program still running then is killed
                             // (status 128 + SIGALRM)
};

// Runs `program` with the argument vector `argv` (argv[0] included; it may
// be empty) in the directory `dir`, standard input from `input` (a path,
// or /dev/null when empty), under `limits`.
run_result run_program(const std::string& program,
                       const std::vector<std::string>& argv,
                       const std::string& dir, const std::string& input = "",
                       const run_limits& limits = run_limits{});

// A new empty directory under the system's temporary directory.
std::string make_temp_dir();

// Removes a directory tree made by make_temp_dir.
void remove_tree(const std::string& dir);

// A folder made by make_temp_dir, removed with all it holds at the end of
// its scope, whatever a test's assertions did meanwhile.
struct temp_folder {
  std::string path = make_temp_dir();
  ~temp_folder() { remove_tree(path); }
};

#endif
