// SPDX-License-Identifier: MIT
// libFuzzer target: runs the whole program (walk, decoder, driver) on
// arbitrary archive bytes in a scratch directory and checks that
//   - the run ends (libFuzzer's -timeout catches one that does not),
//   - nothing is created outside the scratch directory, and nothing
//     outside is changed through the links planted in it before each
//     input (L to a sentinel file, D to a folder, both outside),
//   - the archive's bytes are unchanged,
//   - no file holds more bytes than the largest unpacked_size of the
//     entries that bear its name.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "extractor/extractor.h"
#include "tests/support/packer.h"

namespace fs = std::filesystem;

namespace {

fs::path base_dir;     // holds ARCHIVE, scratch/, SENTINEL and outside/
fs::path sentinel;     // a file that link L in scratch/ points to
fs::path outside_dir;  // a folder that link D in scratch/ points to
const char sentinel_bytes[] = "sentinel";
fs::path scratch_dir;  // the working directory while the program runs
fs::path start_dir;    // the working directory otherwise (for artifacts)

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
  }
}

int32_t le32_at(const std::string& bytes, int64_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) {
    v = v << 8 | static_cast<unsigned char>(bytes[static_cast<size_t>(at + i)]);
  }
  return static_cast<int32_t>(v);
}

// The largest unpacked_size per name, found by walking the headers with
// code of its own, so that a fault in the program's parsing shows.
std::map<std::string, int64_t> size_limits(const std::string& archive) {
  std::map<std::string, int64_t> limits;
  int64_t offset = 0;
  while (offset + 32 <= static_cast<int64_t>(archive.size())) {
    std::string name = archive.substr(static_cast<size_t>(offset) + 3, 13);
    name = name.substr(0, name.find('\0'));
    int32_t packed = le32_at(archive, offset + 16);
    int32_t unpacked = le32_at(archive, offset + 20);
    // "./X" and ".//X" create X.
    int64_t& limit = limits[fs::path(name).lexically_normal().string()];
    if (unpacked > limit) limit = unpacked;
    if (packed < 0) break;
    offset += 32 + int64_t{packed};
  }
  return limits;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/extractor-fuzz-XXXXXX";
  check(mkdtemp(pattern) != nullptr, "mkdtemp");
  base_dir = pattern;
  start_dir = fs::current_path();
  scratch_dir = base_dir / "scratch";
  fs::create_directory(scratch_dir);
  sentinel = base_dir / "SENTINEL";
  outside_dir = base_dir / "outside";
  fs::create_directory(outside_dir);
  check(write_file(sentinel.string(), sentinel_bytes), "write sentinel");
  check(std::freopen("/dev/null", "w", stdout) != nullptr, "stdout");
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(base_dir, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string archive(reinterpret_cast<const char*>(data), size);
  std::string archive_path = (base_dir / "ARCHIVE").string();
  check(write_file(archive_path, archive), "write archive");
  fs::create_symlink(sentinel, scratch_dir / "L");
  fs::create_directory_symlink(outside_dir, scratch_dir / "D");
  fs::current_path(scratch_dir);

  std::string arg0 = "extractor";
  char* argv[] = {arg0.data(), archive_path.data(), nullptr};
  int status = run_extractor(2, argv);
  fs::current_path(start_dir);
  check(status >= 0 && status <= 2, "exit status");

  std::string after;
  check(read_file(archive_path, &after) && after == archive,
        "archive unchanged");
  int entries = 0;
  for (const auto& e : fs::directory_iterator(base_dir)) {
    check(e.path() == archive_path || e.path() == scratch_dir ||
              e.path() == sentinel || e.path() == outside_dir,
          "nothing outside the scratch directory");
    ++entries;
  }
  check(entries == 4, "scratch directory still there");
  std::string kept;
  check(read_file(sentinel.string(), &kept) && kept == sentinel_bytes,
        "sentinel unchanged through link L");
  check(fs::is_empty(outside_dir), "nothing written through link D");

  std::map<std::string, int64_t> limits = size_limits(archive);
  for (const auto& e : fs::directory_iterator(scratch_dir)) {
    std::string name = e.path().filename().string();
    if (e.is_symlink() && (name == "L" || name == "D")) continue;  // planted
    check(e.is_regular_file() && !e.is_symlink(), "only plain files");
    auto limit = limits.find(name);
    check(limit != limits.end(), "file named by an entry");
    check(static_cast<int64_t>(e.file_size()) <= limit->second,
          "file within unpacked_size");
  }
  std::error_code ignored;
  for (const auto& e : fs::directory_iterator(scratch_dir)) {
    fs::remove_all(e.path(), ignored);
  }
  return 0;
}
