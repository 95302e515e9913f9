// SPDX-License-Identifier: MIT
// Seeded generators for the benchmark inputs, so that the numbers are
// comparable from machine to machine: the same seed gives the same bytes
// everywhere (no host files, no library's random distributions).
#ifndef BENCH_GENERATE_H
#define BENCH_GENERATE_H

#include <cstdint>
#include <string>

// A small deterministic generator (splitmix64).
struct bench_random {
  uint64_t state;
};
uint64_t next_random(bench_random* random);
// A number in [low, high], spread evenly over the logarithm of the range.
uint64_t log_uniform(bench_random* random, uint64_t low, uint64_t high);

// Text-like bytes: indented lines of words in lower-case letters and
// punctuation, with the rare doubled letter a run-length coder sees in text.
std::string text_like(uint64_t seed, std::size_t size);

// Binary-like bytes, shaped like executables and libraries: machine-code
// stretches drawn from a skewed byte distribution, zero padding, tables of
// small little-endian integers, and embedded strings.
std::string binary_like(uint64_t seed, std::size_t size);

#endif
