// SPDX-License-Identifier: MIT
// make_seed_corpus DIR: writes seed archives for the fuzzer into DIR, one
// for each kind of entry the extractor has to handle.
#include <cstdint>
#include <cstdio>
#include <string>

#include "tests/support/packer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 1;
  }
  std::string dir = argv[1];
  std::string runs = std::string(700, 'r') + "xyz" + std::string(3, '\xFF');
  std::string noise;
  for (int i = 0; i < 600; ++i) noise += static_cast<char>(i * 7919 % 256);
  struct seed {
    const char* name;
    std::string bytes;
  } seeds[] = {
      {"empty", ""},
      {"short", header_bytes("A", 0, 0).substr(0, 20)},
      {"text", pack_entry("A.TXT", "hello, hello, world\r\n")},
      {"runs", pack_entry("RUNS.BIN", runs)},
      {"noise", pack_entry("NOISE", noise)},
      {"several", pack_entry("A", "aa") + pack_entry("B", "") +
                      pack_entry("A", "again") + std::string(7, 't')},
      {"zero_size", pack_entry("Z", "") + pack_entry("Y", "y")},
      {"negative", pack_entry("F", "f") + header_bytes("LOOP", -32, 4) +
                       pack_entry("G", "g")},
      {"token_bound", header_bytes("ONE", 4, 20) + "\x41\x41\x03\x42" +
                          pack_entry("TWO", "two")},
      {"truncated", pack_entry("CUT", runs).substr(0, 40)},
      {"long_name", header_bytes("THIRTEEN.BYTE", 1, 1) + "x"},
      {"unsafe", pack_entry("../UP", "u") + pack_entry("/tmp/ABS", "a")},
      {"subdir", pack_entry("SUB/A", "s") + pack_entry("..", "d")},
      {"planted_links", pack_entry("L", "through the link") +
                            pack_entry("D/X", "into the folder")},
      {"filler", header_bytes("F", 2, 2, 0xEE) + "ab"},
      {"huge_sizes", header_bytes("H", INT32_MAX, INT32_MAX) + "hh"},
  };
  for (const seed& s : seeds) {
    if (!write_file(dir + "/" + s.name, s.bytes)) {
      std::perror(s.name);
      return 1;
    }
  }
  return 0;
}
