// SPDX-License-Identifier: MIT
// pack ARCHIVE FILE...: writes an archive holding each FILE under its base
// name (at most 12 bytes). Used to make the sample and benchmark archives.
#include <cstdio>
#include <string>

#include "tests/support/packer.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s ARCHIVE FILE...\n", argv[0]);
    return 1;
  }
  std::FILE* archive = std::fopen(argv[1], "wb");
  if (archive == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  for (int i = 2; i < argc; ++i) {
    std::string path = argv[i];
    std::string name = path.substr(path.find_last_of("/\\") + 1);
    std::string data;
    if (name.empty() || name.size() > 12 || !read_file(path, &data) ||
        data.size() > 0x7FFFFFFF) {
      std::fprintf(stderr, "%s: cannot pack (name over 12 bytes, "
                   "unreadable or over 2 GiB)\n", argv[i]);
      return 1;
    }
    std::string entry = pack_entry(name, data);
    if (entry.size() - 32 > 0x7FFFFFFF) {
      std::fprintf(stderr, "%s: packed data over 2 GiB\n", argv[i]);
      return 1;
    }
    if (std::fwrite(entry.data(), 1, entry.size(), archive) != entry.size()) {
      std::perror(argv[1]);
      return 1;
    }
  }
  if (std::fclose(archive) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
