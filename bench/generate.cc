// SPDX-License-Identifier: MIT
#include "bench/generate.h"

uint64_t next_random(bench_random* random) {
  uint64_t z = (random->state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint64_t log_uniform(bench_random* random, uint64_t low, uint64_t high) {
  // Doubling steps, then an even pick within the step.
  uint64_t top = low;
  uint64_t steps = 0;
  while (top < high) top *= 2, ++steps;
  uint64_t start = low << (next_random(random) % (steps + 1));
  if (start > high) start = high;
  uint64_t end = start * 2 > high ? high : start * 2;
  return start + next_random(random) % (end - start + 1);
}

namespace {

const char letters[] = "etaoinshrdlucmfwypvbgkjqxz";

void append_words(bench_random* random, std::string* out, std::size_t size) {
  std::size_t line = 0;
  while (out->size() < size) {
    std::size_t length = next_random(random) % 9 + 1;
    for (std::size_t i = 0; i < length; ++i) {
      // Lower letters are more frequent, as in prose.
      uint64_t r = next_random(random);
      out->push_back(letters[(r % 26) * ((r >> 8) % 26) / 26]);
    }
    line += length + 1;
    uint64_t r = next_random(random) % 32;
    if (line > 60 + r) {
      // A new line, often indented, as in source text and configuration.
      out->push_back('\n');
      line = next_random(random) % 2 ? 0 : next_random(random) % 16 + 2;
      out->append(line, ' ');
    } else {
      out->push_back(r == 0 ? ',' : r == 1 ? '.' : r == 2 ? '=' : ' ');
    }
  }
  out->resize(size);
}

}  // namespace

std::string text_like(uint64_t seed, std::size_t size) {
  bench_random random{seed};
  std::string out;
  out.reserve(size);
  append_words(&random, &out, size);
  return out;
}

std::string binary_like(uint64_t seed, std::size_t size) {
  bench_random random{seed};
  // Bytes machine code uses most, each standing for a share of draws.
  static const unsigned char common[] = {0x00, 0x48, 0x89, 0x8b, 0xff, 0x0f, 0x24,
                                         0x44, 0x45, 0xe8, 0x83, 0x01, 0x85, 0x74,
                                         0xc7, 0x4c, 0x31, 0xc0, 0x08, 0x10};
  std::string out;
  out.reserve(size + 4096);
  while (out.size() < size) {
    uint64_t kind = next_random(&random) % 100;
    std::size_t length = log_uniform(&random, 16, 4096);
    if (kind < 60) {  // code
      for (std::size_t i = 0; i < length; ++i) {
        uint64_t r = next_random(&random);
        out.push_back(static_cast<char>(r % 3 == 0 ? common[(r >> 8) % sizeof common]
                                                   : (r >> 16) & 0xff));
      }
    } else if (kind < 72) {  // padding
      out.append(length, '\0');
    } else if (kind < 88) {  // tables of small 32- and 64-bit integers
      std::size_t width = next_random(&random) % 2 ? 4 : 8;
      uint64_t value = next_random(&random) % 65536;
      for (std::size_t i = 0; i < length / width; ++i) {
        value += next_random(&random) % 64;
        for (std::size_t b = 0; b < width; ++b) {
          out.push_back(static_cast<char>((value >> (8 * b)) & 0xff));
        }
      }
    } else {  // strings
      std::size_t end = out.size() + length;
      while (out.size() < end) {
        std::string word;
        append_words(&random, &word, next_random(&random) % 24 + 2);
        out += word;
        out.push_back('\0');
      }
    }
  }
  out.resize(size);
  return out;
}
