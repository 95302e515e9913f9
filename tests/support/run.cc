// SPDX-License-Identifier: MIT
#include "tests/support/run.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "tests/support/packer.h"

run_result run_program(const std::string& program,
                       const std::vector<std::string>& argv,
                       const std::string& dir, const std::string& input,
                       const run_limits& limits) {
  run_result result{-1, "", ""};
  std::string out_path = make_temp_dir();
  std::string stdout_file = out_path + "/stdout";
  std::string stderr_file = out_path + "/stderr";
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(input.empty() ? "/dev/null" : input.c_str(), O_RDONLY);
    int out = open(stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(stderr_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || chdir(dir.c_str()) != 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    // As a user's shell starts it: SIGXFSZ as the system has it, so that
    // only the program's own handling keeps it from being killed.
    signal(SIGXFSZ, SIG_DFL);
    for (auto [resource, bytes] : {std::pair{RLIMIT_FSIZE, limits.file_size},
                                   std::pair{RLIMIT_STACK, limits.stack}}) {
      if (bytes < 0) continue;
      rlimit limit{};
      limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(bytes);
      if (setrlimit(resource, &limit) != 0) _exit(127);
    }
    if (limits.seconds > 0) alarm(limits.seconds);
    execv(program.c_str(), args.data());
    _exit(127);
  }
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid) {
    result.status = WIFEXITED(status) ? WEXITSTATUS(status)
                                      : 128 + WTERMSIG(status);
  }
  read_file(stdout_file, &result.out);
  read_file(stderr_file, &result.err);
  remove_tree(out_path);
  return result;
}

std::string make_temp_dir() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "extractor-test-XXXXXX")
          .string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

void remove_tree(const std::string& dir) {
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}
