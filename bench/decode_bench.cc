// decode_entry alone, from a temporary file (in the page cache) into
// /dev/null, in bytes of output per second, for each inner loop and the
// byte-at-a-time reference, on literal-heavy, run-heavy and mixed data and
// on real shared libraries.
#include <benchmark/benchmark.h>

#include <dirent.h>

#include <cstdio>
#include <random>
#include <string>

#include "archive/decode.h"
#include "tests/support/packer.h"
#include "tests/support/reference_decoder.h"

namespace {

constexpr std::size_t data_size = 64 << 20;

// Up to `size` bytes of the machine's shared libraries, one after another.
std::string shared_libraries(std::size_t size) {
  std::string data;
  const char* dir_name = "/usr/lib/x86_64-linux-gnu";
  DIR* dir = opendir(dir_name);
  if (dir == nullptr) return data;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name.find(".so") == std::string::npos) continue;
    std::string bytes;
    if (read_file(std::string(dir_name) + "/" + name, &bytes)) data += bytes;
    if (data.size() >= size) break;
  }
  closedir(dir);
  if (data.size() > size) data.resize(size);
  return data;
}

std::string make_data(int kind, std::size_t size) {
  if (kind == 3) return shared_libraries(size);
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

template <typename Decoder>
void run_decoder(benchmark::State& state, Decoder decoder, bool buffered_out) {
  std::string data = make_data(static_cast<int>(state.range(0)), data_size);
  if (data.empty()) {
    state.SkipWithError("no input for this case on this machine");
    return;
  }
  std::string packed = rle_encode(data);
  std::FILE* in = std::tmpfile();
  std::fwrite(packed.data(), 1, packed.size(), in);
  std::FILE* out = std::fopen("/dev/null", "wb");
  static char in_buffer[1 << 16], out_buffer[1 << 16];
  // Streams as the extractor sets them up: the decoder's output goes out
  // unbuffered, since it gathers its own; the byte-at-a-time reference
  // needs a stream buffer.
  if (buffered_out) {
    std::setvbuf(out, out_buffer, _IOFBF, sizeof out_buffer);
  } else {
    std::setvbuf(out, nullptr, _IONBF, 0);
  }
  std::rewind(in);
  std::setvbuf(in, in_buffer, _IOFBF, sizeof in_buffer);
  for (auto _ : state) {
    std::rewind(in);
    decode_status status =
        decoder(in, out, static_cast<int32_t>(packed.size()),
                static_cast<int32_t>(data.size()), nullptr);
    if (status != decode_ok) state.SkipWithError("decode failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(data.size()));
  std::fclose(in);
  std::fclose(out);
}

void decode_with(benchmark::State& state, decode_path path) {
  if (!decode_path_available(path)) {
    state.SkipWithError("this processor cannot run this path");
    return;
  }
  run_decoder(state, [path](std::FILE* in, std::FILE* out, int32_t p, int32_t u,
                            int64_t* consumed) {
    return decode_entry_with({path, 0}, in, out, p, u, consumed);
  }, false);
}

void best(benchmark::State& s) { decode_with(s, decode_path_best); }
void avx2(benchmark::State& s) { decode_with(s, decode_path_avx2); }
void sse2(benchmark::State& s) { decode_with(s, decode_path_sse2); }
void portable(benchmark::State& s) { decode_with(s, decode_path_portable); }
void exact(benchmark::State& s) { decode_with(s, decode_path_exact); }
// The plain byte-at-a-time decoder, for comparison.
void reference(benchmark::State& s) {
  run_decoder(s, reference_decode_entry, true);
}

// data 0: literal-heavy, 1: run-heavy, 2: mixed, 3: shared libraries.
#define DECODE_BENCHMARK(f) \
  BENCHMARK(f)->DenseRange(0, 3)->ArgName("data")->Unit(benchmark::kMillisecond)
DECODE_BENCHMARK(best);
DECODE_BENCHMARK(avx2);
DECODE_BENCHMARK(sse2);
DECODE_BENCHMARK(portable);
DECODE_BENCHMARK(exact);
DECODE_BENCHMARK(reference);

}  // namespace

BENCHMARK_MAIN();
