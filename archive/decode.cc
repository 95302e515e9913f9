#include "archive/decode.h"

#include <cstring>

// The decoder moves bytes in spans rather than one stdio call per byte:
// packed data is taken from the archive stream with fread into a buffer of
// its own, and decoded bytes are gathered in an output buffer of its own
// (literal spans copied, runs filled) that goes out with one fwrite when
// full and once more at the end. It never reads a byte that
// the byte-at-a-time rules would not read: each fread asks only for bytes
// that the remaining tokens are certain to consume (every token consumes
// at least one byte and writes at most 256), so the stream is left exactly
// where decoding stopped, which a walk over a pipe depends on.

namespace {

constexpr std::size_t input_size = 16384;
constexpr std::size_t output_size = 16384;

struct input {
  std::FILE* stream;
  unsigned char bytes[input_size];
  std::size_t pos;
  std::size_t end;
  int64_t taken;  // bytes of earlier fills, all consumed
  bool at_end;    // the stream gave fewer bytes than asked: end or error
};

// Reads up to `want` (at least 1) bytes into an exhausted buffer; false
// when none came.
bool refill(input* in, int64_t want) {
  in->taken += static_cast<int64_t>(in->end);
  in->pos = in->end = 0;
  if (in->at_end) return false;
  std::size_t n = want < static_cast<int64_t>(input_size)
                      ? static_cast<std::size_t>(want)
                      : input_size;
  std::size_t got = std::fread(in->bytes, 1, n, in->stream);
  if (got < n) in->at_end = true;
  in->end = got;
  return got > 0;
}

// Decoded bytes gather here and go to the output stream a buffer at a time.
struct output {
  std::FILE* stream;
  unsigned char bytes[output_size];
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
  if (n >= output_size) {
    if (!out->failed && std::fwrite(bytes, 1, n, out->stream) != n) {
      out->failed = true;
    }
    return;
  }
  std::memcpy(out->bytes + out->used, bytes, n);
  out->used += n;
}

void emit_run(output* out, int byte, int64_t copies) {
  while (copies > 0) {
    if (out->used == output_size) flush(out);
    std::size_t room = output_size - out->used;
    std::size_t n = copies < static_cast<int64_t>(room)
                        ? static_cast<std::size_t>(copies)
                        : room;
    std::memset(out->bytes + out->used, byte, n);
    out->used += n;
    copies -= static_cast<int64_t>(n);
  }
}

// Length of the literal span at `p`: how many of its first `limit` bytes
// (limit >= 1) follow each other without a byte equal to the one before.
std::size_t literal_span(const unsigned char* p, std::size_t limit) {
  std::size_t n = 1;
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // Eight bytes at a time: a zero byte in (bytes ^ bytes shifted by one)
  // marks a repeat; the lowest flagged byte is the first one.
  constexpr uint64_t ones = 0x0101010101010101u;
  constexpr uint64_t highs = 0x8080808080808080u;
  while (n + 8 <= limit) {
    uint64_t here, before;
    std::memcpy(&here, p + n, 8);
    std::memcpy(&before, p + n - 1, 8);
    uint64_t diff = here ^ before;
    uint64_t zero = (diff - ones) & ~diff & highs;
    if (zero != 0) {
      return n + static_cast<std::size_t>(__builtin_ctzll(zero)) / 8;
    }
    n += 8;
  }
#endif
  while (n < limit && p[n] != p[n - 1]) ++n;
  return n;
}

}  // namespace

decode_status decode_entry(std::FILE* archive, std::FILE* output_stream,
                           int32_t packed_size, int32_t unpacked_size,
                           int64_t* consumed) {
  input in;
  in.stream = archive;
  in.pos = in.end = 0;
  in.taken = 0;
  in.at_end = false;
  output out;
  out.stream = output_stream;
  out.used = 0;
  out.failed = false;

  int previous = 0xFF;
  int64_t remaining = unpacked_size;
  int64_t tokens_left = packed_size;

  while (tokens_left > 0 && remaining > 0 && !out.failed) {
    if (in.pos == in.end) {
      int64_t sure = (remaining + 255) / 256;
      if (!refill(&in, sure < tokens_left ? sure : tokens_left)) break;
    }
    unsigned char c = in.bytes[in.pos];
    if (c != previous) {
      // A span of literals: each byte differs from the one before it.
      int64_t limit = static_cast<int64_t>(in.end - in.pos);
      if (tokens_left < limit) limit = tokens_left;
      if (remaining < limit) limit = remaining;
      std::size_t n = literal_span(in.bytes + in.pos,
                                   static_cast<std::size_t>(limit));
      emit_span(&out, in.bytes + in.pos, n);
      previous = in.bytes[in.pos + n - 1];
      in.pos += n;
      tokens_left -= static_cast<int64_t>(n);
      remaining -= static_cast<int64_t>(n);
      continue;
    }
    // A run pair: this byte, then its count.
    ++in.pos;
    if (in.pos == in.end && !refill(&in, 1)) break;
    int64_t copies = in.bytes[in.pos++] + 1;
    if (copies > remaining) copies = remaining;
    emit_run(&out, previous, copies);
    remaining -= copies;
    --tokens_left;
  }
  flush(&out);
  if (consumed != nullptr) {
    *consumed = in.taken + static_cast<int64_t>(in.pos);
  }
  if (out.failed || std::ferror(output_stream)) return decode_write_error;
  return decode_ok;
}
