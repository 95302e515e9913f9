// SPDX-License-Identifier: MIT
#include "tests/support/reference_decoder.h"

std::string reference_decode(const std::string& packed, int32_t packed_size,
                             int32_t unpacked_size, int64_t* consumed) {
  std::string output;
  std::size_t read = 0;
  // One byte of the archive, or -1 past its end.
  auto get_byte = [&]() -> int {
    return read < packed.size() ? static_cast<unsigned char>(packed[read++]) : -1;
  };
  int previous = 0xFF;
  int32_t remaining = unpacked_size;
  int32_t tokens = 0;
  while (tokens < packed_size && remaining > 0) {
    int c = get_byte();
    if (c < 0) break;
    if (c == previous) {
      int count = get_byte();
      if (count < 0) break;
      int32_t copies = count + 1;
      if (copies > remaining) copies = remaining;
      remaining -= copies;
      for (; copies > 0; --copies) output += static_cast<char>(previous);
    } else {
      output += static_cast<char>(c);
      previous = c;
      --remaining;
    }
    ++tokens;
  }
  *consumed = static_cast<int64_t>(read);
  return output;
}
