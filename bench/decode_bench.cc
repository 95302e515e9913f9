// decode_entry alone on literal-heavy, run-heavy and mixed data, from a
// temporary file into /dev/null, in bytes of output per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>

#include "archive/decode.h"
#include "tests/support/packer.h"
#include "tests/support/reference_decoder.h"

namespace {

std::string make_data(int kind, std::size_t size) {
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
void run_decoder(benchmark::State& state, Decoder decoder) {
  std::string data = make_data(static_cast<int>(state.range(0)), 64 << 20);
  std::string packed = rle_encode(data);
  std::FILE* in = std::tmpfile();
  std::fwrite(packed.data(), 1, packed.size(), in);
  std::FILE* out = std::fopen("/dev/null", "wb");
  static char in_buffer[1 << 16], out_buffer[1 << 16];
  std::setvbuf(out, out_buffer, _IOFBF, sizeof out_buffer);
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

void decode_bench(benchmark::State& state) { run_decoder(state, decode_entry); }
// The plain byte-at-a-time decoder, for comparison.
void reference_bench(benchmark::State& state) {
  run_decoder(state, reference_decode_entry);
}

// 0: literal-heavy, 1: run-heavy, 2: mixed.
BENCHMARK(decode_bench)->DenseRange(0, 2)->ArgName("data")->Unit(benchmark::kMillisecond);
BENCHMARK(reference_bench)->DenseRange(0, 2)->ArgName("data")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
