// Built twice: once for the baseline instruction set (the portable and, on
// x86-64, the SSE2 loop) and once with AVX2 enabled and DECODE_FAST_AVX2
// defined (the AVX2 loop only). Everything here but the loops' entry
// points has internal linkage, so no AVX2 code can stand in for baseline
// code at link time.
#include "archive/decode_fast.h"

#include <cstring>

#if defined(DECODE_FAST_AVX2)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Plain C++: eight bytes at a time in 64-bit words.
struct portable_ops {
  static uint64_t load8(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
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
      // Gather the eight high bits into one byte (little-endian order).
      uint64_t bits = ((zero >> 7) * 0x0102040810204080ull) >> 56;
      mask |= bits << i;
    }
    return mask;
  }
  // Copies a span of at most 64 bytes (as 64).
  static void copy64(unsigned char* out, const unsigned char* in) {
    std::memcpy(out, in, 64);
  }
  static void fill(unsigned char* out, int byte, unsigned n) {
    uint64_t v = 0x0101010101010101ull * static_cast<unsigned char>(byte);
    for (unsigned i = 0; i < n; i += 8) std::memcpy(out + i, &v, 8);
  }
};

#if defined(DECODE_FAST_AVX2)
struct avx2_ops {
  static uint64_t equal_mask(const unsigned char* p) {
    auto at = [p](int i) {
      return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    };
    uint32_t low = static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(at(0), at(-1))));
    uint32_t high = static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(at(32), at(31))));
    return static_cast<uint64_t>(high) << 32 | low;
  }
  static void copy64(unsigned char* out, const unsigned char* in) {
    for (int i = 0; i < 64; i += 32) {
      _mm256_storeu_si256(
          reinterpret_cast<__m256i*>(out + i),
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i)));
    }
  }
  static void fill(unsigned char* out, int byte, unsigned n) {
    __m256i v = _mm256_set1_epi8(static_cast<char>(byte));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), v);
    for (unsigned i = 64; i < n; i += 32) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), v);
    }
  }
};
#elif defined(__SSE2__)
struct sse2_ops {
  static uint64_t equal_mask(const unsigned char* p) {
    uint64_t mask = 0;
    for (int i = 0; i < 64; i += 16) {
      __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      __m128i before =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i - 1));
      uint64_t bits = static_cast<uint32_t>(
          _mm_movemask_epi8(_mm_cmpeq_epi8(here, before)));
      mask |= bits << i;
    }
    return mask;
  }
  static void copy64(unsigned char* out, const unsigned char* in) {
    for (int i = 0; i < 64; i += 16) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)));
    }
  }
  static void fill(unsigned char* out, int byte, unsigned n) {
    __m128i v = _mm_set1_epi8(static_cast<char>(byte));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), v);
    for (unsigned i = 32; i < n; i += 16) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
    }
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
template <typename ops>
inline void fast_loop(fast_state* s) {
  const unsigned char* in = s->in;
  std::size_t p = s->pos;
  const std::size_t end = s->end;
  unsigned char* out = s->out + s->used;
  unsigned char* const out_stop = s->out + s->out_limit;
  int64_t remaining = s->remaining;
  int64_t tokens = s->tokens_left;
  unsigned previous = static_cast<unsigned>(s->previous);

  std::size_t w = p;
  auto window_fits = [&] {
    return end - w >= fast_input_ahead && tokens >= fast_min_tokens &&
           remaining >= fast_min_remaining && out <= out_stop;
  };
  if (window_fits()) {
    // `rest` is the window's mask shifted so that bit 0 stands for p.
    uint64_t rest = ops::equal_mask(in + w);
    uint64_t next = ops::equal_mask(in + w + fast_window);
    for (;;) {
      if (in[p] != previous) {
        // A literal span, up to the next repeat.
        uint64_t after = rest & ~uint64_t{1};
        if (after == 0) {
          // None in this window: the span goes on in the next one.
          std::size_t n = fast_window - (p - w);
          ops::copy64(out, in + p);
          out += n;
          p += n;
          previous = in[p - 1];
          remaining -= static_cast<int64_t>(n);
          tokens -= static_cast<int64_t>(n);
          goto next_window;
        }
        std::size_t n = static_cast<std::size_t>(__builtin_ctzll(after));
        ops::copy64(out, in + p);
        out += n;
        p += n;
        previous = in[p - 1];
        remaining -= static_cast<int64_t>(n);
        tokens -= static_cast<int64_t>(n);
        rest >>= n;
        // A repeat ends a span: a run pair comes next.
      }
      {
        // A run pair: the count byte is in[p + 1], inside the input ahead.
        unsigned copies = static_cast<unsigned>(in[p + 1]) + 1;
        if (static_cast<int64_t>(copies) > remaining - fast_min_remaining) break;
        ops::fill(out, static_cast<int>(previous), copies);
        out += copies;
        remaining -= copies;
        tokens -= 1;
        p += 2;
        rest >>= 2;
      }
      if (p - w < fast_window) continue;
    next_window:
      w += fast_window;  // a token ends at most 2 bytes into the next window
      if (!window_fits()) break;
      rest = next >> (p - w);
      next = ops::equal_mask(in + w + fast_window);
    }
  }
  s->pos = p;
  s->used = static_cast<std::size_t>(out - s->out);
  s->remaining = remaining;
  s->tokens_left = tokens;
  s->previous = static_cast<int>(previous);
}

}  // namespace

#if defined(DECODE_FAST_AVX2)
void fast_loop_avx2(fast_state* state) { fast_loop<avx2_ops>(state); }
#else
void fast_loop_portable(fast_state* state) { fast_loop<portable_ops>(state); }
#if defined(__SSE2__)
void fast_loop_sse2(fast_state* state) { fast_loop<sse2_ops>(state); }
#endif
#endif
