#include "tests/support/reference_decoder.h"

namespace {

// One byte from or to a stream, without taking its lock.
int get_byte(std::FILE* f) { return getc_unlocked(f); }
int put_byte(int c, std::FILE* f) { return putc_unlocked(c, f); }

}  // namespace

decode_status reference_decode_entry(std::FILE* archive, std::FILE* output,
                                     int32_t packed_size, int32_t unpacked_size,
                                     int64_t* consumed) {
  int previous = 0xFF;
  int32_t remaining = unpacked_size;
  int32_t tokens = 0;
  int64_t read = 0;
  decode_status status = decode_ok;
  while (tokens < packed_size && remaining > 0) {
    int c = get_byte(archive);
    if (c == EOF) break;
    ++read;
    if (c == previous) {
      int count = get_byte(archive);
      if (count == EOF) break;
      ++read;
      int32_t copies = count + 1;
      if (copies > remaining) copies = remaining;
      remaining -= copies;
      for (; copies > 0; --copies) {
        if (put_byte(previous, output) == EOF) {
          status = decode_write_error;
          break;
        }
      }
      if (status != decode_ok) break;
    } else {
      if (put_byte(c, output) == EOF) {
        status = decode_write_error;
        break;
      }
      previous = c;
      --remaining;
    }
    ++tokens;
  }
  if (status == decode_ok && std::ferror(output)) status = decode_write_error;
  if (consumed != nullptr) *consumed = read;
  return status;
}
