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

// Runs `program` with the argument vector `argv` (argv[0] included; it may
// be empty) in the directory `dir`, standard input from `input` (a path,
// or /dev/null when empty). A `file_size_limit` of 0 or more limits the
// size of every file the program writes (RLIMIT_FSIZE; SIGXFSZ is left
// as the system has it, as a shell leaves it). A `time_limit` of 1 or more
// seconds kills a program still running then (status 128 + SIGALRM).
run_result run_program(const std::string& program,
                       const std::vector<std::string>& argv,
                       const std::string& dir, const std::string& input = "",
                       long long file_size_limit = -1, unsigned time_limit = 0);

// A new empty directory under the system's temporary directory.
std::string make_temp_dir();

// Removes a directory tree made by make_temp_dir.
void remove_tree(const std::string& dir);

#endif
