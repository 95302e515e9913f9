#include "archive/decode.h"

#include <cstring>

#include "archive/file_io.h"

// The decoder moves bytes in spans rather than one stdio call per byte:
// packed data is taken from the archive stream with fread into a buffer of
// its own, spans of literals are written with one fwrite, and consecutive
// run pairs of one byte are written as blocks. It never reads a byte that
// the byte-at-a-time rules would not read: each fread asks only for bytes
// that the remaining tokens are certain to consume (every token consumes
// at least one byte and writes at most 256), so the stream is left exactly
// where decoding stopped, which a walk over a pipe depends on.

namespace {

constexpr std::size_t input_size = 16384;
constexpr std::size_t block_size = 4096;
// Below this many bytes a loop of unlocked byte calls beats one fwrite.
constexpr std::size_t short_span = 32;

bool write_bytes(std::FILE* stream, const unsigned char* bytes, std::size_t n) {
  if (n >= short_span) return std::fwrite(bytes, 1, n, stream) == n;
  for (std::size_t i = 0; i < n; ++i) {
    if (put_byte(bytes[i], stream) == EOF) return false;
  }
  return true;
}

struct input {
  std::FILE* stream;
  unsigned char bytes[input_size];
  std::size_t pos;
  std::size_t end;
  bool at_end;  // the stream gave fewer bytes than asked: end or error
};

// Reads up to `want` (at least 1) bytes into an exhausted buffer; false
// when none came.
bool refill(input* in, int64_t want) {
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

struct run_writer {
  std::FILE* stream;
  unsigned char block[block_size];
  int block_byte;       // the byte the start of `block` is filled with
  std::size_t filled;   // how many bytes of `block` hold block_byte
};

bool write_run(run_writer* w, int byte, int64_t copies) {
  if (copies <= 0) return true;
  if (copies < static_cast<int64_t>(short_span)) {
    for (; copies > 0; --copies) {
      if (put_byte(byte, w->stream) == EOF) return false;
    }
    return true;
  }
  if (w->block_byte != byte) {
    w->block_byte = byte;
    w->filled = 0;
  }
  std::size_t want = copies < static_cast<int64_t>(block_size)
                         ? static_cast<std::size_t>(copies)
                         : block_size;
  if (w->filled < want) {
    std::memset(w->block + w->filled, byte, want - w->filled);
    w->filled = want;
  }
  while (copies > 0) {
    std::size_t n = copies < static_cast<int64_t>(block_size)
                        ? static_cast<std::size_t>(copies)
                        : block_size;
    if (std::fwrite(w->block, 1, n, w->stream) != n) return false;
    copies -= static_cast<int64_t>(n);
  }
  return true;
}

}  // namespace

decode_status decode_entry(std::FILE* archive, std::FILE* output,
                           int32_t packed_size, int32_t unpacked_size,
                           int64_t* consumed) {
  input in;
  in.stream = archive;
  in.pos = in.end = 0;
  in.at_end = false;
  run_writer runs;
  runs.stream = output;
  runs.block_byte = -1;
  runs.filled = 0;

  int previous = 0xFF;
  int64_t remaining = unpacked_size;
  int64_t tokens_left = packed_size;
  int64_t read_before = 0;  // bytes of earlier fills
  int64_t pending = 0;      // run copies of `previous` not yet written
  bool failed = false;

  while (tokens_left > 0 && remaining > 0) {
    if (in.pos == in.end) {
      read_before += static_cast<int64_t>(in.end);
      int64_t sure = (remaining + 255) / 256;
      if (!refill(&in, sure < tokens_left ? sure : tokens_left)) break;
    }
    unsigned char c = in.bytes[in.pos];
    if (c != previous) {
      // A span of literals: each byte differs from the one before it.
      if (!write_run(&runs, previous, pending)) {
        failed = true;
        break;
      }
      pending = 0;
      int64_t limit = static_cast<int64_t>(in.end - in.pos);
      if (tokens_left < limit) limit = tokens_left;
      if (remaining < limit) limit = remaining;
      std::size_t n = 1;
      while (static_cast<int64_t>(n) < limit &&
             in.bytes[in.pos + n] != in.bytes[in.pos + n - 1]) {
        ++n;
      }
      if (!write_bytes(output, in.bytes + in.pos, n)) {
        failed = true;
        break;
      }
      previous = in.bytes[in.pos + n - 1];
      in.pos += n;
      tokens_left -= static_cast<int64_t>(n);
      remaining -= static_cast<int64_t>(n);
      continue;
    }
    // A run pair: this byte, then its count.
    ++in.pos;
    if (in.pos == in.end) {
      read_before += static_cast<int64_t>(in.end);
      if (!refill(&in, 1)) break;
    }
    int64_t copies = in.bytes[in.pos++] + 1;
    if (copies > remaining) copies = remaining;
    pending += copies;
    remaining -= copies;
    --tokens_left;
  }
  if (!failed && !write_run(&runs, previous, pending)) failed = true;
  if (!failed && std::ferror(output)) failed = true;
  if (consumed != nullptr) {
    *consumed = read_before + static_cast<int64_t>(in.pos);
  }
  return failed ? decode_write_error : decode_ok;
}
