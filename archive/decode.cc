// SPDX-License-Identifier: MIT
#include "archive/decode.h"

#include <cstring>

#include "archive/decode_fast.h"
#include "archive/decode_feed.h"
#include "archive/testing.h"

// While plenty of input, tokens and output room are left, a vector loop
// takes the tokens 64 input bytes at a time (see decode_fast.h); the rest,
// the last tokens of every entry among them, go through the exact step
// below, which never takes a token the bounds would cut.

static_assert(decode_min_room >= fast_output_room, "a fast window writes at most this");

namespace {

constexpr std::size_t exact_span_limit = 4096;  // literals one exact step takes
static_assert(decode_min_room >= exact_span_limit && decode_min_room >= 256,
              "an exact step writes at most this");

// Length of the literal span at `p`: how many of its first `limit` bytes
// (limit >= 1) follow each other without a byte equal to the one before.
std::size_t literal_span(const unsigned char* p, std::size_t limit) {
  std::size_t n = 1;
  while (n < limit && p[n] != p[n - 1]) ++n;
  return n;
}

using fast_loop_fn = void (*)(fast_state*);

bool always() { return true; }
#if defined(__x86_64__)
bool has_avx2() { return __builtin_cpu_supports("avx2"); }
#else
bool never() { return false; }
bool has_avx2() { return false; }
#endif

}  // namespace

constexpr decode_loop_entry decode_loops[decode_loop_count] = {
    {decode_loop_fastest, "fastest", nullptr, true, always},
    {decode_loop_exact, "exact", nullptr, true, always},
    {decode_loop_portable, "portable", fast_loop_portable, true, always},
#if defined(__x86_64__)  // every x86-64 has SSE2
    {decode_loop_sse2, "sse2", fast_loop_sse2, true, always},
#else
    {decode_loop_sse2, "sse2", nullptr, false, never},
#endif
#if defined(DECODE_HAVE_AVX2)
    {decode_loop_avx2, "avx2", fast_loop_avx2, true, has_avx2},
#else
    {decode_loop_avx2, "avx2", nullptr, false, has_avx2},
#endif
};

namespace {

constexpr bool in_order(int i = 0) {
  return i == decode_loop_count || (decode_loops[i].id == i && in_order(i + 1));
}
static_assert(in_order(), "decode_loops[id] must be the entry of id");

// The program's loop, the fastest here as measured: the widest that is
// built in and runs (AVX2, SSE2, portable), but SSE2 on the first Zen
// cores, which split each 256-bit operation in two.
decode_loop fastest_loop() {
#if defined(DECODE_HAVE_AVX2)
  if (__builtin_cpu_is("znver1")) return decode_loop_sse2;
#endif
  decode_loop fastest = decode_loop_exact;
  for (const decode_loop_entry& loop : decode_loops) {
    if (loop.windows != nullptr && decode_loop_available(loop.id)) fastest = loop.id;
  }
  return fastest;
}

// The loop decode_block uses, and the one whose windows it ran last.
decode_loop chosen_loop = decode_loop_fastest;
decode_loop loop_that_ran = decode_loop_exact;

// Output goes to the file in pieces of at least 256 KiB (but the last of
// an entry): fewer system calls, and still well inside the caches.
constexpr std::size_t output_piece = 256 * 1024;

// One entry's output, gathered here until a piece is full; static, so
// that its size asks nothing of the stack, and aligned (decode_feed.h).
alignas(feed_page) unsigned char entry_output[output_piece + decode_min_room];

}  // namespace

decode_state decode_start(int32_t packed_size, int32_t unpacked_size) {
  return decode_state{0xFF, unpacked_size, packed_size};
}

bool decode_finished(const decode_state& state) {
  return state.remaining <= 0 || state.tokens_left <= 0;
}

bool decode_loop_available(decode_loop loop) {
  return decode_loops[loop].built && decode_loops[loop].processor_has();
}

decode_loop decode_use_loop(decode_loop loop) {
  decode_loop before = chosen_loop;
  chosen_loop = loop;
  return before;
}

decode_loop decode_loop_that_ran() { return loop_that_ran; }

std::size_t decode_block(decode_state* state, const unsigned char* in, std::size_t in_size,
                         unsigned char* out, std::size_t out_size, std::size_t* written) {
  const decode_loop_entry& loop =
      decode_loops[chosen_loop == decode_loop_fastest ? fastest_loop() : chosen_loop];
  fast_loop_fn fast = loop.windows;
  loop_that_ran = decode_loop_exact;
  int previous = state->previous;
  int64_t remaining = state->remaining;
  int64_t tokens_left = state->tokens_left;
  std::size_t pos = 0;
  std::size_t used = 0;
  while (tokens_left > 0 && remaining > 0 && pos < in_size &&
         out_size - used >= decode_min_room) {
    const unsigned char* p = in + pos;
    std::size_t ahead = in_size - pos;
    if (fast != nullptr && ahead >= fast_input_ahead && tokens_left >= fast_min_tokens &&
        remaining >= fast_min_remaining) {
      fast_state s{in,   pos,       in_size,     out,     used, out_size - fast_output_room,
                   remaining, tokens_left, previous};
      fast(&s);
      if (s.pos != pos) {
        loop_that_ran = loop.id;
        pos = s.pos;
        used = s.used;
        remaining = s.remaining;
        tokens_left = s.tokens_left;
        previous = s.previous;
        continue;
      }
    }
    // The exact step: a span of literals within every bound, or one run
    // pair.
    if (*p != previous) {
      std::size_t limit = ahead < exact_span_limit ? ahead : exact_span_limit;
      if (tokens_left < static_cast<int64_t>(limit)) limit = static_cast<std::size_t>(tokens_left);
      if (remaining < static_cast<int64_t>(limit)) limit = static_cast<std::size_t>(remaining);
      std::size_t n = literal_span(p, limit);
      std::memcpy(out + used, p, n);
      used += n;
      previous = p[n - 1];
      pos += n;
      tokens_left -= static_cast<int64_t>(n);
      remaining -= static_cast<int64_t>(n);
      continue;
    }
    if (ahead < 2) break;  // the pair's count is not in the input
    int64_t copies = p[1] + 1;
    if (copies > remaining) copies = remaining;
    std::memset(out + used, previous, static_cast<std::size_t>(copies));
    used += static_cast<std::size_t>(copies);
    pos += 2;
    remaining -= copies;
    --tokens_left;
  }
  state->previous = previous;
  state->remaining = remaining;
  state->tokens_left = tokens_left;
  *written = used;
  return pos;
}

decode_status decode_entry(archive_reader* reader, int output, int32_t packed_size,
                           int32_t unpacked_size) {
  return decode_feed(reader, output, entry_output, sizeof entry_output, packed_size,
                     unpacked_size);
}
