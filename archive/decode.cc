#include "archive/decode.h"

#include <cstring>
#include <initializer_list>

#include "archive/decode_fast.h"

// Packed data comes from the archive reader's buffer, and decoded bytes
// gather in an output buffer that goes out with fwrite. While plenty of
// input, tokens and output room are left, a fast loop for this processor's
// widest vectors takes the tokens (see decode_fast.h); the rest, the last
// tokens of every entry among them, go one token at a time through the
// exact step below, which never takes a token the bounds would cut.
//
// The reader is asked for more only when fewer bytes are ahead than the
// fast loop wants; from a pipe, only when none are left, so that decoding
// never waits for bytes it may not need.

namespace {

// Output goes to write() in pieces of at least 256 KiB (but the last of an
// entry): fewer system calls, and still well inside the caches.
constexpr std::size_t output_limit = 256 * 1024;
constexpr std::size_t output_size = output_limit + fast_output_room;
constexpr std::size_t exact_span_limit = 4096;  // literals one exact step takes

// One decoder at a time per thread, so one buffer of fixed size serves them
// all.
thread_local unsigned char output_buffer[output_size];

struct output {
  std::FILE* stream;
  unsigned char* bytes;
  std::size_t used;
  bool failed;
};

void flush(output* out) {
  if (out->used > 0 && !out->failed &&
      std::fwrite(out->bytes, 1, out->used, out->stream) != out->used) {
    out->failed = true;
  }
  out->used = 0;
}

void emit_span(output* out, const unsigned char* bytes, std::size_t n) {
  if (out->used + n > output_size) flush(out);
  std::memcpy(out->bytes + out->used, bytes, n);  // n <= exact_span_limit
  out->used += n;
}

void emit_run(output* out, int byte, std::size_t copies) {
  if (out->used + copies > output_size) flush(out);
  std::memset(out->bytes + out->used, byte, copies);  // copies <= 256
  out->used += copies;
}

// Length of the literal span at `p`: how many of its first `limit` bytes
// (limit >= 1) follow each other without a byte equal to the one before.
std::size_t literal_span(const unsigned char* p, std::size_t limit) {
  std::size_t n = 1;
  while (n < limit && p[n] != p[n - 1]) ++n;
  return n;
}

using fast_loop_fn = void (*)(fast_state*);

// The inner loop for `path` when it is built in and this processor runs
// it, otherwise nullptr.
fast_loop_fn built_in_loop(decode_path path) {
  switch (path) {
    case decode_path_portable:
      return fast_loop_portable;
#if defined(DECODE_HAVE_X86)
    case decode_path_sse2:
      return fast_loop_sse2;
#if defined(DECODE_HAVE_AVX2)
    case decode_path_avx2:
      return __builtin_cpu_supports("avx2") ? fast_loop_avx2 : nullptr;
#endif
#if defined(DECODE_HAVE_AVX512)
    case decode_path_avx512:
      return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl")
                 ? fast_loop_avx512
                 : nullptr;
#endif
#endif
    default:
      return nullptr;
  }
}

fast_loop_fn fast_loop_for(decode_path path) {
  if (path != decode_path_best) return built_in_loop(path);
  for (decode_path widest :
       {decode_path_avx512, decode_path_avx2, decode_path_sse2, decode_path_portable}) {
    if (fast_loop_fn loop = built_in_loop(widest)) return loop;
  }
  return nullptr;
}

}  // namespace

bool decode_path_available(decode_path path) {
  return path == decode_path_best || path == decode_path_exact ||
         built_in_loop(path) != nullptr;
}

decode_status decode_entry(archive_reader* archive, std::FILE* output_stream,
                           int32_t packed_size, int32_t unpacked_size) {
  return decode_entry_with(decode_path_best, archive, output_stream,
                           packed_size, unpacked_size);
}

decode_status decode_entry_with(decode_path path, archive_reader* in,
                                std::FILE* output_stream, int32_t packed_size,
                                int32_t unpacked_size) {
  fast_loop_fn fast = fast_loop_for(path);
  output out;
  out.stream = output_stream;
  out.bytes = output_buffer;
  out.used = 0;
  out.failed = false;

  int previous = 0xFF;
  int64_t remaining = unpacked_size;
  int64_t tokens_left = packed_size;

  while (tokens_left > 0 && remaining > 0 && !out.failed) {
    std::size_t ahead = in->end - in->pos;
    if (ahead < fast_input_ahead && (in->seekable || ahead == 0)) {
      reader_fill(in, in->seekable ? fast_input_ahead : 1);
      ahead = in->end - in->pos;
    }
    if (ahead == 0) break;
    if (fast != nullptr && ahead >= fast_input_ahead &&
        tokens_left >= fast_min_tokens && remaining >= fast_min_remaining) {
      if (out.used > output_limit) flush(&out);
      fast_state state{in->bytes, in->pos,     in->end,
                       out.bytes, out.used,    output_limit,
                       remaining, tokens_left, previous};
      fast(&state);
      if (state.pos != in->pos) {
        in->pos = state.pos;
        out.used = state.used;
        remaining = state.remaining;
        tokens_left = state.tokens_left;
        previous = state.previous;
        continue;
      }
    }
    // The exact step: one token, or a span of literals within every bound.
    const unsigned char* p = in->bytes + in->pos;
    if (*p != previous) {
      std::size_t limit = ahead < exact_span_limit ? ahead : exact_span_limit;
      if (tokens_left < static_cast<int64_t>(limit))
        limit = static_cast<std::size_t>(tokens_left);
      if (remaining < static_cast<int64_t>(limit))
        limit = static_cast<std::size_t>(remaining);
      std::size_t n = literal_span(p, limit);
      emit_span(&out, p, n);
      previous = p[n - 1];
      in->pos += n;
      tokens_left -= static_cast<int64_t>(n);
      remaining -= static_cast<int64_t>(n);
      continue;
    }
    // A run pair: this byte, then its count.
    if (ahead < 2 && !reader_fill(in, 2)) {
      in->pos = in->end;  // the pair's first byte was read; its count is missing
      break;
    }
    p = in->bytes + in->pos;
    int64_t copies = p[1] + 1;
    if (copies > remaining) copies = remaining;
    emit_run(&out, previous, static_cast<std::size_t>(copies));
    in->pos += 2;
    remaining -= copies;
    --tokens_left;
  }
  flush(&out);
  if (out.failed || std::ferror(output_stream)) return decode_write_error;
  return decode_ok;
}
