#include "archive/decode.h"

#include <cstring>
#include <initializer_list>

#include "archive/decode_fast.h"

// Packed data is looked at in the reader's buffer, and decoded bytes
// gather in an output buffer that goes out with fwrite. While plenty of
// input, tokens and output room are left, a fast loop for this processor's
// widest vectors takes the tokens (see decode_fast.h); the rest, the last
// tokens of every entry among them, go one token at a time through the
// exact step below, which never takes a token the bounds would cut.

namespace {

// Output goes to write() in pieces of at least 256 KiB (but the last of an
// entry): fewer system calls, and still well inside the caches.
constexpr std::size_t output_limit = 256 * 1024;
constexpr std::size_t output_size = output_limit + fast_output_room;
constexpr std::size_t exact_span_limit = 4096;  // literals one exact step takes

// The program decodes one entry at a time, on one thread: one buffer of
// fixed size serves every entry.
unsigned char output_bytes[output_size];

// Decoded bytes not yet handed to the output stream.
struct pending_output {
  std::FILE* stream;
  unsigned char* bytes;
  std::size_t used;
  bool failed;
};

// Hands the pending bytes to the stream. A write that fails is recorded
// whether fwrite tells it by a short count or only by the error indicator.
void flush(pending_output* out) {
  if (out->used > 0 && !out->failed &&
      (std::fwrite(out->bytes, 1, out->used, out->stream) != out->used ||
       std::ferror(out->stream))) {
    out->failed = true;
  }
  out->used = 0;
}

void emit_span(pending_output* out, const unsigned char* bytes, std::size_t n) {
  if (out->used + n > output_size) flush(out);
  std::memcpy(out->bytes + out->used, bytes, n);  // n <= exact_span_limit
  out->used += n;
}

void emit_run(pending_output* out, int byte, std::size_t copies) {
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

// The inner loop for `loop` when it is built in and this processor runs
// it, otherwise nullptr.
fast_loop_fn built_in_loop(decode_loop loop) {
  switch (loop) {
    case decode_loop_portable:
      return fast_loop_portable;
#if defined(DECODE_HAVE_X86)
    case decode_loop_sse2:
      return fast_loop_sse2;
#if defined(DECODE_HAVE_AVX2)
    case decode_loop_avx2:
      return __builtin_cpu_supports("avx2") ? fast_loop_avx2 : nullptr;
#endif
#if defined(DECODE_HAVE_AVX512)
    case decode_loop_avx512:
      return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl")
                 ? fast_loop_avx512
                 : nullptr;
#endif
#endif
    default:
      return nullptr;
  }
}

fast_loop_fn fast_loop_for(decode_loop loop) {
  if (loop != decode_loop_best) return built_in_loop(loop);
  for (decode_loop widest :
       {decode_loop_avx512, decode_loop_avx2, decode_loop_sse2, decode_loop_portable}) {
    if (fast_loop_fn fast = built_in_loop(widest)) return fast;
  }
  return nullptr;
}

}  // namespace

bool decode_loop_available(decode_loop loop) {
  return loop == decode_loop_best || loop == decode_loop_exact ||
         built_in_loop(loop) != nullptr;
}

decode_status decode_entry(archive_reader* reader, std::FILE* output,
                           int32_t packed_size, int32_t unpacked_size) {
  return decode_entry_with(decode_loop_best, reader, output,
                           packed_size, unpacked_size);
}

decode_status decode_entry_with(decode_loop loop, archive_reader* reader,
                                std::FILE* output, int32_t packed_size,
                                int32_t unpacked_size) {
  fast_loop_fn fast = fast_loop_for(loop);
  pending_output out{output, output_bytes, 0, false};
  decode_status status = decode_ok;
  int previous = 0xFF;
  int64_t remaining = unpacked_size;
  int64_t tokens_left = packed_size;

  while (tokens_left > 0 && remaining > 0 && !out.failed) {
    const unsigned char* p;
    std::size_t ahead;
    if (reader_ahead(reader, 1, &p, &ahead) == reader_failed) {
      status = decode_read_error;
      break;
    }
    if (ahead == 0) break;  // the archive's end
    if (fast != nullptr && ahead >= fast_input_ahead &&
        tokens_left >= fast_min_tokens && remaining >= fast_min_remaining) {
      if (out.used > output_limit) flush(&out);
      fast_state state{p,         0,           ahead,   out.bytes,
                       out.used,  output_limit, remaining, tokens_left,
                       previous};
      fast(&state);
      if (state.pos != 0) {
        reader_consume(reader, state.pos);
        out.used = state.used;
        remaining = state.remaining;
        tokens_left = state.tokens_left;
        previous = state.previous;
        continue;
      }
    }
    // The exact step: one token, or a span of literals within every bound.
    if (*p != previous) {
      std::size_t limit = ahead < exact_span_limit ? ahead : exact_span_limit;
      if (tokens_left < static_cast<int64_t>(limit))
        limit = static_cast<std::size_t>(tokens_left);
      if (remaining < static_cast<int64_t>(limit))
        limit = static_cast<std::size_t>(remaining);
      std::size_t n = literal_span(p, limit);
      emit_span(&out, p, n);
      previous = p[n - 1];
      reader_consume(reader, n);
      tokens_left -= static_cast<int64_t>(n);
      remaining -= static_cast<int64_t>(n);
      continue;
    }
    // A run pair: this byte, then its count.
    if (ahead < 2) {
      reader_status more = reader_ahead(reader, 2, &p, &ahead);
      if (more == reader_failed) {
        status = decode_read_error;
        break;
      }
      if (more == reader_end) {
        reader_consume(reader, ahead);  // the pair's count is missing
        break;
      }
    }
    int64_t copies = p[1] + 1;
    if (copies > remaining) copies = remaining;
    emit_run(&out, previous, static_cast<std::size_t>(copies));
    reader_consume(reader, 2);
    remaining -= copies;
    --tokens_left;
  }
  flush(&out);
  return out.failed ? decode_write_error : status;
}
