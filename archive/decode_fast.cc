// SPDX-License-Identifier: MIT
// Built twice on x86-64: once for the baseline instruction set (the
// portable and the SSE2 loop), and once with AVX2 enabled and
// DECODE_FAST_AVX2 defined (the AVX2 loop only); once elsewhere.
// Everything here but the loops' entry points has internal linkage, so no
// vector code can stand in for baseline code at link time.
#include "archive/decode_fast.h"

#include <cassert>
#include <cstring>

#if defined(DECODE_FAST_AVX2)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Plain C++: eight bytes at a time in 64-bit words, p[0] in the low byte
// whatever the machine's byte order, so that bit i of a mask stands for
// p[i] everywhere.
struct portable_ops {
  static uint64_t load8(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__  // GCC and Clang tell it
    v = __builtin_bswap64(v);
#endif
    return v;
  }
  // Bit i set when p[i] == p[i - 1], for i in 0..63.
  static uint64_t equal_mask(const unsigned char* p) {
    constexpr uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    uint64_t mask = 0;
    for (int i = 0; i < 64; i += 8) {
      uint64_t diff = load8(p + i) ^ load8(p + i - 1);
      // High bit of each byte set exactly where that byte of diff is zero.
      uint64_t zero = ~(((diff & low7) + low7) | diff) & ~low7;
      // Gather the eight high bits into one byte, p[i] into bit i.
      uint64_t bits = ((zero >> 7) * 0x0102040810204080ull) >> 56;
      mask |= bits << i;
    }
    return mask;
  }
  // Copies a span of at most 64 bytes (as 64).
  static void copy64(unsigned char* out, const unsigned char* in) {
    std::memcpy(out, in, 64);
  }
  // Fills `n` (1 to 256) copies of *byte, storing up to 7 bytes more.
  static void fill(unsigned char* out, const unsigned char* byte, unsigned n) {
    uint64_t v = 0x0101010101010101ull * *byte;
    for (unsigned i = 0; i < n; i += 8) std::memcpy(out + i, &v, 8);
  }
};

#if defined(DECODE_FAST_AVX2) || defined(__SSE2__)
// One vector of AVX2 or SSE2; their intrinsics differ only in prefix and
// suffix.
#define DECODE_LANE(type, mm, si, bytes)                                      \
  struct lane {                                                               \
    using vector = type;                                                      \
    static constexpr int width = bytes;                                       \
    static vector load(const unsigned char* p) {                              \
      return mm##_loadu_##si(reinterpret_cast<const type*>(p));               \
    }                                                                         \
    static void store(unsigned char* p, vector v) {                           \
      mm##_storeu_##si(reinterpret_cast<type*>(p), v);                        \
    }                                                                         \
    static vector set1(unsigned char b) { return mm##_set1_epi8(static_cast<char>(b)); } \
    static uint32_t equal_bits(vector a, vector b) {                          \
      return static_cast<uint32_t>(mm##_movemask_epi8(mm##_cmpeq_epi8(a, b))); \
    }                                                                         \
  }
#if defined(DECODE_FAST_AVX2)
DECODE_LANE(__m256i, _mm256, si256, 32);
#else
DECODE_LANE(__m128i, _mm, si128, 16);
#endif
// A window as 64 / lane::width vectors.
struct vector_ops {
  static constexpr int width = lane::width;
  static uint64_t equal_mask(const unsigned char* p) {
    uint64_t mask = 0;
    for (int i = 0; i < 64; i += width) {
      mask |= uint64_t{lane::equal_bits(lane::load(p + i), lane::load(p + i - 1))} << i;
    }
    return mask;
  }
  static void copy64(unsigned char* out, const unsigned char* in) {
    for (int i = 0; i < 64; i += width) lane::store(out + i, lane::load(in + i));
  }
  // Two vectors at once; longer runs are rare outside long runs of one
  // byte, and keeping them out of line keeps the loop short.
  static void fill(unsigned char* out, const unsigned char* byte, unsigned n) {
    lane::vector v = lane::set1(*byte);
    lane::store(out, v);
    lane::store(out + width, v);
    if (__builtin_expect(n > 2 * width, 0)) fill_long(out, v, n);
  }
  __attribute__((noinline)) static void fill_long(unsigned char* out, lane::vector v,
                                                  unsigned n) {
    for (unsigned i = 2 * width; i < n; i += width) lane::store(out + i, v);
  }
};
#endif

// Tokens come from 64-byte windows of the input. Inside a literal span every
// byte is compared with the byte before it, so the span ends at the next
// "equals the byte before" bit of the window's mask, and several tokens
// come out of one mask by shifting it and counting trailing zeros. After a
// run pair the next byte is compared with the run's byte (previous), not
// with the count byte, so each token's first byte is checked against
// previous directly. The next window's mask is computed one window ahead.
//
// The loop keeps only what it must in registers: the token pointer q, the
// output pointer, the window's end and its shifted mask, previous, and a
// count of run pairs; bytes still to write and tokens still to decode are
// worked out from those where they are checked.
template <typename ops>
inline void fast_loop(fast_state* s) {
  const unsigned char* const in = s->in;
  const std::size_t end = s->end;
  const std::size_t start = s->pos;
  unsigned char* const out_start = s->out + s->used;
  unsigned char* out = out_start;
  unsigned char* const out_stop = s->out + s->out_limit;
  const unsigned char* const out_end = out_stop + fast_output_room;
  (void)out_end;  // for the assertions
  // A run pair may be taken only while it leaves fast_min_remaining bytes
  // to write, for the literals that may follow it in the same window, and
  // only within the buffer (which also keeps the sum from wrapping where
  // addresses are 32-bit). Compared as addresses: out + copies may point
  // past the buffer.
  const int64_t remaining = s->remaining;
  int64_t span =
      remaining > fast_min_remaining ? remaining - fast_min_remaining : 0;
  const int64_t room =
      static_cast<int64_t>(s->out_limit + fast_output_room - s->used);
  if (span > room) span = room;
  auto address = [](const unsigned char* p) {
    return reinterpret_cast<uintptr_t>(p);
  };
  const uintptr_t out_last = address(out) + static_cast<uintptr_t>(span);
  const int64_t tokens = s->tokens_left;
  int64_t runs = 0;  // tokens taken = bytes taken - run pairs taken
  unsigned previous = static_cast<unsigned>(s->previous);

  const unsigned char* q = in + start;
  const unsigned char* w = q;  // the window's start
  const unsigned char* w_end = w + fast_window;
  auto window_fits = [&] {
    int64_t tokens_left = tokens - ((q - (in + start)) - runs);
    return static_cast<std::size_t>(in + end - w) >= fast_input_ahead &&
           tokens_left >= fast_min_tokens && address(out) <= out_last && out <= out_stop;
  };
  if (window_fits()) {
    // `rest` is the window's mask shifted so that bit 0 stands for q. The
    // first window's bit 0 (q against the byte before it, which need not
    // be readable) is never looked at: q is checked against previous.
    uint64_t rest = ops::equal_mask(w + 1) << 1;
    uint64_t next = ops::equal_mask(w + fast_window);
    for (;;) {
      if (__builtin_expect(*q != previous, 1)) {
        // A literal span, up to the next repeat.
        uint64_t after = rest & ~uint64_t{1};
        if (__builtin_expect(after == 0, 0)) {
          // None in this window: the span goes on in the next one.
          std::size_t n = static_cast<std::size_t>(w_end - q);
          assert(out + fast_window <= out_end);
          ops::copy64(out, q);
          out += n;
          q += n;
          previous = q[-1];
          goto next_window;
        }
        std::size_t n = static_cast<unsigned>(__builtin_ctzll(after));
        assert(out + fast_window <= out_end);
        ops::copy64(out, q);
        out += n;
        q += n;
        previous = q[-1];
        rest >>= n;
        // A repeat ends a span: a run pair comes next.
      }
      {
        // A run pair: the count byte q[1] is inside the input ahead.
        unsigned copies = static_cast<unsigned>(q[1]) + 1;
        if (__builtin_expect(address(out) + copies > out_last, 0)) break;
        assert(out + (copies + 63) / 64 * 64 <= out_end);  // fills store whole vectors
        ops::fill(out, q, copies);
        out += copies;
        q += 2;
        runs += 1;
        rest >>= 2;
      }
      if (__builtin_expect(q < w_end, 1)) continue;
    next_window:
      w = w_end;  // a token ends at most 2 bytes into the next window
      w_end += fast_window;
      if (!window_fits()) break;
      rest = next >> (q - w);
      next = ops::equal_mask(w + fast_window);
    }
  }
  s->pos = static_cast<std::size_t>(q - in);
  s->used = static_cast<std::size_t>(out - s->out);
  s->remaining = remaining - (out - out_start);
  s->tokens_left = tokens - ((q - (in + start)) - runs);
  s->previous = static_cast<int>(previous);
}

}  // namespace

#if defined(DECODE_FAST_AVX2)
void fast_loop_avx2(fast_state* state) { fast_loop<vector_ops>(state); }
#else
void fast_loop_portable(fast_state* state) { fast_loop<portable_ops>(state); }
#if defined(__SSE2__)
void fast_loop_sse2(fast_state* state) { fast_loop<vector_ops>(state); }
#endif
#endif
