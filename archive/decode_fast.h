// SPDX-License-Identifier: MIT
// The decoder's fast inner loop, used by decode_block while plenty of
// input, tokens and output room are left: it takes tokens 64 input bytes
// at a time, from a mask of "byte equals the byte before it" for the whole
// window, and writes with fixed-size stores that may run past the bytes
// they mean (the output buffer has room for that). One version per
// instruction set: the portable one, and on x86-64 SSE2 and AVX2, which
// decode_block picks at run time.
#ifndef ARCHIVE_DECODE_FAST_H
#define ARCHIVE_DECODE_FAST_H

#include <cstddef>
#include <cstdint>

#if !defined(__GNUC__)  // Clang defines it too
#error "the fast loops use GCC and Clang builtins: build with GCC or Clang (MinGW-w64 on Windows)"
#endif

struct fast_state {
  const unsigned char* in;  // input buffer
  std::size_t pos;          // next token
  std::size_t end;          // bytes of `in` that hold input; none before
                            // in + pos is read
  unsigned char* out;       // output buffer, out_limit + fast_output_room bytes
  std::size_t used;         // bytes of `out` already written
  std::size_t out_limit;    // a window starts only while used <= out_limit
  int64_t remaining;        // bytes still to write
  int64_t tokens_left;      // tokens still to decode
  int previous;             // the previous byte
};

// The loop takes a window while enough input, tokens and output room are
// left for all of it (checked before each 64-byte window), and a run pair
// only while it leaves fast_min_remaining bytes to write and stays within
// the buffer (checked at each pair); decode_block calls it only with at
// least fast_min_remaining bytes to write. It stops, with the state
// standing at a token, as soon as a check fails, and never takes a token
// that the bounds would cut. The margin: the tokens that start in a window
// write at most 32 runs of 256 bytes (a run pair takes two bytes), and a
// store, at most 64 bytes wide, reaches at most 64 bytes past the bytes
// it means (a run of 250 after 31 runs of 256 and a literal ends one byte
// short of the 32 runs' end, and its last vector one byte beyond); a
// window starts while used <= out_limit, so fast_output_room bytes past
// out_limit are always enough. Debug builds assert it at every store.
constexpr std::size_t fast_window = 64;
constexpr std::size_t fast_input_ahead = 2 * fast_window + 2;
constexpr int64_t fast_min_tokens = 64;
constexpr int64_t fast_min_remaining = 64;
constexpr std::size_t fast_output_room = fast_window / 2 * 256 + 64;

// Each decodes tokens from `state` and leaves it at the first token it did
// not take (possibly the first one). The same results from every version.
void fast_loop_portable(fast_state* state);
#if defined(__x86_64__)
#define DECODE_HAVE_X86 1
void fast_loop_sse2(fast_state* state);
void fast_loop_avx2(fast_state* state);
#endif

#endif
