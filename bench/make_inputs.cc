// SPDX-License-Identifier: MIT
// Writes the benchmark's input files, the same bytes on every machine:
//   make_inputs DIR
// DIR/files: binary-like files of 192 KiB to 8 MiB, about 305 MB;
// DIR/smallfiles: 2,877 text-like files of 256 B to 64 KiB;
// DIR/synth/RUNS.BIN: 256 MiB, zeros then repeating short-run patterns.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "bench/generate.h"
#include "tests/support/packer.h"

namespace {

std::string numbered(const std::string& dir, char letter, unsigned i) {
  char name[32];
  std::snprintf(name, sizeof name, "/%c%05u.BIN", letter, i);
  return dir + name;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 1;
  }
  std::string dir = argv[1];
  for (const char* sub : {"/files", "/smallfiles", "/synth"}) {
    mkdir((dir + sub).c_str(), 0777);
  }
  bench_random sizes{1};
  // Most files small, a few large, as in a folder of libraries.
  std::size_t total = 0;
  for (unsigned i = 1; total < 305000000; ++i) {
    std::size_t size = log_uniform(&sizes, 192 << 10, 8 << 20);
    for (int draw = 0; draw < 3; ++draw) {
      std::size_t other = log_uniform(&sizes, 192 << 10, 8 << 20);
      if (other < size) size = other;
    }
    total += size;
    if (!write_file(numbered(dir + "/files", 'F', i), binary_like(1000 + i, size))) return 1;
  }
  for (unsigned i = 1; i <= 2877; ++i) {
    std::size_t size = log_uniform(&sizes, 256, 64 << 10);
    if (!write_file(numbered(dir + "/smallfiles", 'S', i), text_like(5000 + i, size))) {
      return 1;
    }
  }
  std::string runs(128 << 20, '\0');
  std::string pattern;
  for (unsigned i = 0; i < 1000; ++i) pattern.append(i % 300 + 1, static_cast<char>(i % 256));
  while (runs.size() < (256u << 20)) runs += pattern;
  runs.resize(256u << 20);
  return write_file(dir + "/synth/RUNS.BIN", runs) ? 0 : 1;
}
