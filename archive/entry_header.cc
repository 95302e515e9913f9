// SPDX-License-Identifier: MIT
#include "archive/entry_header.h"

uint32_t read_le32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) |
         static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 |
         static_cast<uint32_t>(bytes[3]) << 24;
}

entry_header parse_entry_header(const unsigned char* bytes) {
  entry_header header{};
  std::size_t length = 0;
  while (length < name_field_size && bytes[name_offset + length] != 0) {
    header.name[length] = static_cast<char>(bytes[name_offset + length]);
    ++length;
  }
  header.name[length] = '\0';
  header.packed_size =
      static_cast<int32_t>(read_le32(bytes + packed_size_offset));
  header.unpacked_size =
      static_cast<int32_t>(read_le32(bytes + unpacked_size_offset));
  return header;
}
