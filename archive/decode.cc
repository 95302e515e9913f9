#include "archive/decode.h"

#include <cstring>
#include <initializer_list>

#include "archive/decode_fast.h"
#include "archive/file_io.h"

// Packed data comes from the archive stream with fread into an input
// buffer, and decoded bytes gather in an output buffer that goes out with
// fwrite. While plenty of input, tokens and output room are left, a fast
// loop for this processor's widest vectors takes the tokens (see
// decode_fast.h); the rest, the last tokens of every entry among them, go
// one token at a time through the exact step below, which never takes a
// token the bounds would cut.
//
// Reading ahead stops at the entry's end (packed_size bytes from its
// start) while that lies ahead: an entry whose sizes are true decodes to
// exactly there, so the stream is left at the next header with nothing to
// undo. Past the end (sizes that claim more than the data holds) reads go
// no further than tokens_left bytes, since every token takes at least one.
// When decoding stops short of what was read, a stream that can seek is
// moved back to where decoding stopped; on one that cannot, reads go no
// further than the tokens certain to be decoded (each writes at most 256
// bytes), so nothing is ever read past that point, which a walk over a
// pipe depends on.

namespace {

constexpr std::size_t input_size = 256 * 1024;
constexpr std::size_t output_size = 128 * 1024;
constexpr std::size_t output_limit = output_size - fast_output_room;
constexpr std::size_t exact_span_limit = 4096;  // literals one exact step takes

// One decoder at a time per thread, so buffers of fixed size serve them all.
struct buffers {
  unsigned char in[input_size];
  unsigned char out[output_size];
};
thread_local buffers decode_buffers;

struct input {
  std::FILE* stream;
  unsigned char* bytes;  // bytes[pos - 1] is always the byte before pos
  std::size_t pos;       // next byte to decode
  std::size_t end;       // bytes read so far into the buffer
  int64_t base;          // offset of bytes[0] from the entry's first byte
  int64_t packed_end;    // offset of the entry's end from its first byte
  std::size_t max_read;  // most bytes one fread may take
  bool seekable;
  bool at_end;  // the stream gave fewer bytes than asked: end or error
};

// Tries to have at least `need` bytes ahead (or, while reading is allowed,
// enough for the fast loop), reading no further than allowed.
void top_up(input* in, int64_t tokens_left, int64_t remaining,
            std::size_t need) {
  if (in->at_end) return;
  std::size_t ahead = in->end - in->pos;
  int64_t allowed = tokens_left;
  int64_t to_end = in->packed_end - (in->base + static_cast<int64_t>(in->pos));
  if (to_end > 0 && to_end < allowed) allowed = to_end;
  if (!in->seekable) {
    int64_t sure = (remaining + 255) / 256;
    if (sure < allowed) allowed = sure;
  }
  if (allowed < static_cast<int64_t>(need))
    allowed = static_cast<int64_t>(need);
  if (allowed > static_cast<int64_t>(input_size - 1)) allowed = input_size - 1;
  std::size_t goal = need > fast_input_ahead ? need : fast_input_ahead;
  if (goal > static_cast<std::size_t>(allowed))
    goal = static_cast<std::size_t>(allowed);
  if (ahead >= goal) return;
  // Keep the bytes ahead, and the one before them, at the buffer's start.
  std::size_t shift = in->pos - 1;
  std::memmove(in->bytes, in->bytes + shift, ahead + 1);
  in->base += static_cast<int64_t>(shift);
  in->pos = 1;
  in->end = ahead + 1;
  while (ahead < goal) {
    std::size_t want = static_cast<std::size_t>(allowed) - ahead;
    if (in->max_read != 0 && want > in->max_read) want = in->max_read;
    std::size_t got = std::fread(in->bytes + in->end, 1, want, in->stream);
    in->end += got;
    ahead += got;
    if (got < want) {
      in->at_end = true;
      return;
    }
  }
}

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
#endif
    default:
      return nullptr;
  }
}

fast_loop_fn fast_loop_for(decode_path path) {
  if (path != decode_path_best) return built_in_loop(path);
  for (decode_path widest :
       {decode_path_avx2, decode_path_sse2, decode_path_portable}) {
    if (fast_loop_fn loop = built_in_loop(widest)) return loop;
  }
  return nullptr;
}

}  // namespace

bool decode_path_available(decode_path path) {
  return path == decode_path_best || path == decode_path_exact ||
         built_in_loop(path) != nullptr;
}

decode_status decode_entry(std::FILE* archive, std::FILE* output_stream,
                           int32_t packed_size, int32_t unpacked_size,
                           int64_t* consumed) {
  return decode_entry_with({decode_path_best, 0}, archive, output_stream,
                           packed_size, unpacked_size, consumed);
}

decode_status decode_entry_with(const decode_options& options,
                                std::FILE* archive, std::FILE* output_stream,
                                int32_t packed_size, int32_t unpacked_size,
                                int64_t* consumed) {
  fast_loop_fn fast = fast_loop_for(options.path);
  int64_t start = -1;
  if (packed_size > 0 && unpacked_size > 0) {
    start = options.offset == decode_offset_unknown ? tell_of(archive)
                                                    : options.offset;
  }
  input in;
  in.stream = archive;
  in.bytes = decode_buffers.in;
  in.pos = in.end = 1;
  in.base = -1;
  in.packed_end = packed_size;
  in.max_read = options.max_read;
  in.seekable = start >= 0;
  in.at_end = false;
  output out;
  out.stream = output_stream;
  out.bytes = decode_buffers.out;
  out.used = 0;
  out.failed = false;

  int previous = 0xFF;
  int64_t remaining = unpacked_size;
  int64_t tokens_left = packed_size;

  while (tokens_left > 0 && remaining > 0 && !out.failed) {
    if (in.end - in.pos < fast_input_ahead) {
      top_up(&in, tokens_left, remaining, 1);
    }
    std::size_t ahead = in.end - in.pos;
    if (ahead == 0) break;
    if (fast != nullptr && ahead >= fast_input_ahead &&
        tokens_left >= fast_min_tokens && remaining >= fast_min_remaining) {
      if (out.used > output_limit) flush(&out);
      fast_state state{in.bytes,  in.pos,      in.end,
                       out.bytes, out.used,    output_limit,
                       remaining, tokens_left, previous};
      fast(&state);
      if (state.pos != in.pos) {
        in.pos = state.pos;
        out.used = state.used;
        remaining = state.remaining;
        tokens_left = state.tokens_left;
        previous = state.previous;
        continue;
      }
    }
    // The exact step: one token, or a span of literals within every bound.
    unsigned char c = in.bytes[in.pos];
    if (c != previous) {
      std::size_t limit = ahead < exact_span_limit ? ahead : exact_span_limit;
      if (tokens_left < static_cast<int64_t>(limit))
        limit = static_cast<std::size_t>(tokens_left);
      if (remaining < static_cast<int64_t>(limit))
        limit = static_cast<std::size_t>(remaining);
      std::size_t n = literal_span(in.bytes + in.pos, limit);
      emit_span(&out, in.bytes + in.pos, n);
      previous = in.bytes[in.pos + n - 1];
      in.pos += n;
      tokens_left -= static_cast<int64_t>(n);
      remaining -= static_cast<int64_t>(n);
      continue;
    }
    // A run pair: this byte, then its count.
    if (ahead < 2) {
      top_up(&in, tokens_left, remaining, 2);
      if (in.end - in.pos < 2) {
        ++in.pos;  // the pair's first byte was read; its count is missing
        break;
      }
    }
    int64_t copies = in.bytes[in.pos + 1] + 1;
    if (copies > remaining) copies = remaining;
    emit_run(&out, previous, static_cast<std::size_t>(copies));
    in.pos += 2;
    remaining -= copies;
    --tokens_left;
  }
  flush(&out);
  int64_t used = in.base + static_cast<int64_t>(in.pos);
  int64_t read = in.base + static_cast<int64_t>(in.end);
  if (read > used && in.seekable) seek_to(archive, start + used);
  if (consumed != nullptr) *consumed = used;
  if (out.failed || std::ferror(output_stream)) return decode_write_error;
  return decode_ok;
}
