// SPDX-License-Identifier: MIT
// The one loop that feeds decode_block, from a source that answers as the
// reader does (reader_ahead, reader_consume) into a buffer handed to a
// sink (write_all) when fewer than decode_min_room bytes are left, in
// whole pages (all of it if less): from a page-aligned buffer each lands
// on a page of the file, which the system copies fastest. Run by
// decode_entry over the reader and a file, by the tests over bytes in
// memory.
#ifndef ARCHIVE_DECODE_FEED_H
#define ARCHIVE_DECODE_FEED_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "archive/archive_reader.h"
#include "archive/decode.h"
#include "platform/file_io.h"

constexpr std::size_t feed_page = 4096;  // a memory page, on most systems

// Decodes one entry from `in` through buffer[0 .. size) (at least
// decode_min_room, nothing outside it touched) into `out`, as decode_entry.
template <typename source, typename sink>
decode_status decode_feed(source* in, sink out, unsigned char* buffer, std::size_t size,
                          int32_t packed_size, int32_t unpacked_size) {
  std::size_t used = 0;
  decode_state state = decode_start(packed_size, unpacked_size);
  decode_status status = decode_ok;
  std::size_t need = 1;  // 2 where a run pair's count is still to come
  while (!decode_finished(state)) {
    const unsigned char* bytes;
    std::size_t ahead;
    reader_status read = reader_ahead(in, need, &bytes, &ahead);
    if (read == reader_failed) {
      status = decode_read_error;
      break;
    }
    if (read == reader_end) {
      reader_consume(in, ahead);  // a run pair without its count gives nothing
      break;
    }
    if (size - used < decode_min_room) {
      std::size_t whole = used >= feed_page ? used / feed_page * feed_page : used;
      if (!write_all(out, buffer, whole)) return decode_write_error;
      std::memmove(buffer, buffer + whole, used - whole);
      used -= whole;
    }
    std::size_t written;
    std::size_t taken = decode_block(&state, bytes, ahead, buffer + used, size - used, &written);
    reader_consume(in, taken);
    used += written;
    // Given room, decode_block takes nothing only from a lone run pair's first byte.
    need = taken == 0 && ahead < 2 ? 2 : 1;
  }
  if (used > 0 && !write_all(out, buffer, used)) return decode_write_error;
  return status;
}

#endif
