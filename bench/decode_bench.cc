// SPDX-License-Identifier: MIT
// decode_entry alone, from a temporary file (in the page cache) into
// /dev/null, in bytes of output per second, for each inner loop, and the
// byte-at-a-time reference on memory, on literal-heavy, run-heavy, mixed
// and generated binary-like data, and on this machine's shared libraries
// and C headers.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <random>
#include <string>

#include "archive/decode.h"
#include "archive/testing.h"
#include "bench/generate.h"
#include "tests/support/packer.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/stream.h"

namespace {

constexpr std::size_t data_size = 64 << 20;

// Up to `size` bytes of the machine's files under `dir_name` whose names
// hold `part`, one after another, descending into folders.
void gather(const std::string& dir_name, const char* part, std::size_t size,
            std::string* data) {
  DIR* dir = opendir(dir_name.c_str());
  if (dir == nullptr) return;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == ".." || data->size() >= size) continue;
    std::string path = dir_name + "/" + name;
    if (e->d_type == DT_DIR) {
      gather(path, part, size, data);
    } else if (e->d_type == DT_REG && name.find(part) != std::string::npos) {
      std::string bytes;
      if (read_file(path, &bytes)) *data += bytes;
    }
  }
  closedir(dir);
}

std::string machine_files(const char* dir, const char* part, std::size_t size) {
  std::string data;
  gather(dir, part, size, &data);
  if (data.size() > size) data.resize(size);
  return data;
}

std::string make_data(int kind, std::size_t size) {
  if (kind == 3) return binary_like(7, size);
  if (kind == 4) return machine_files("/usr/lib/x86_64-linux-gnu", ".so", size);
  if (kind == 5) return machine_files("/usr/include", ".h", size);
  std::mt19937 random(7);
  std::string data;
  data.reserve(size);
  while (data.size() < size) {
    if (kind == 0) {  // text-like literals, few repeats
      char c = static_cast<char>('a' + random() % 26);
      if (data.empty() || data.back() != c) data += c;
    } else if (kind == 1) {  // long runs
      data.append(random() % 5000 + 1, static_cast<char>(random() % 4));
    } else {  // mixed: short runs between literal spans
      if (random() % 4 == 0) data.append(random() % 40 + 2, static_cast<char>(random()));
      else data += static_cast<char>(random());
    }
  }
  data.resize(size);
  return data;
}

// The packed bytes of `state`'s data in a temporary file (in the page
// cache), and /dev/null to write to.
struct bench_files {
  std::string data;
  std::string packed;
  int fd = -1;
  int out = -1;
};

bool make_files(benchmark::State& state, bench_files* files) {
  files->data = make_data(static_cast<int>(state.range(0)), data_size);
  if (files->data.empty()) {
    state.SkipWithError("no input for this case on this machine");
    return false;
  }
  files->packed = rle_encode(files->data);
  files->fd = file_holding(files->packed);
  files->out = open("/dev/null", O_WRONLY);
  return files->fd >= 0 && files->out >= 0;
}

void finish(benchmark::State& state, bench_files* files) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(files->data.size()));
  close(files->fd);
  close(files->out);
}

void decode_with(benchmark::State& state, decode_loop loop) {
  if (!decode_loop_available(loop)) {
    state.SkipWithError("this processor cannot run this loop");
    return;
  }
  bench_files files;
  if (!make_files(state, &files)) return;
  static archive_reader reader;
  for (auto _ : state) {
    lseek(files.fd, 0, SEEK_SET);
    reader_init(&reader, files.fd);
    decode_loop before = decode_use_loop(loop);
    decode_status status = decode_entry(&reader, files.out,
                                        static_cast<int32_t>(files.packed.size()),
                                        static_cast<int32_t>(files.data.size()));
    decode_use_loop(before);
    if (status != decode_ok) state.SkipWithError("decode failed");
  }
  finish(state, &files);
}

// The plain byte-at-a-time decoder on memory, for comparison.
void reference(benchmark::State& state) {
  bench_files files;
  if (!make_files(state, &files)) return;
  for (auto _ : state) {
    int64_t consumed = 0;
    std::string output = reference_decode(files.packed, static_cast<int32_t>(files.packed.size()),
                                          static_cast<int32_t>(files.data.size()), &consumed);
    benchmark::DoNotOptimize(output.data());
  }
  finish(state, &files);
}

}  // namespace

// data 0: literal-heavy, 1: run-heavy, 2: mixed, 3: binary-like (generated);
// this machine's own, so not comparable between machines: 4: shared
// libraries, 5: C headers (text and code). One benchmark for each of the
// decoder's loops, named as the loop, and the reference.
int main(int argc, char** argv) {
  for (const decode_loop_entry& loop : decode_loops) {
    benchmark::RegisterBenchmark(loop.name, decode_with, loop.id)
        ->DenseRange(0, 5)->ArgName("data")->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("reference", reference)
      ->DenseRange(0, 5)->ArgName("data")->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
