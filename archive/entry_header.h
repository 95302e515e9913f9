// SPDX-License-Identifier: MIT
// An archive is a flat run of entries with no archive header, directory,
// trailer or checksum. Each entry is a 32-byte header followed directly by
// its packed (run-length coded) data; the first header is at offset 0 and
// each later one at the previous header's offset + 32 + packed size.
//
// The 32-byte entry header, all integers little-endian:
//
//   offset  size  field
//        0     3  not interpreted
//        3    13  name: up to 12 name bytes ended by a zero byte in the field
//       16     4  packed_size: bytes of packed data after the header (signed)
//       20     4  unpacked_size: bytes the data decodes to (signed)
//       24     8  not interpreted
//
// A name field with no zero byte gives a name of all 13 bytes; nothing
// outside the header is ever read for the name. Sizes are stored as
// unsigned 32-bit values and used as signed ones, so 2^31 and above act as
// negative numbers everywhere.
#ifndef ARCHIVE_ENTRY_HEADER_H
#define ARCHIVE_ENTRY_HEADER_H

#include <cstddef>
#include <cstdint>

constexpr std::size_t header_size = 32;
constexpr std::size_t name_offset = 3;
constexpr std::size_t name_field_size = 13;
constexpr std::size_t packed_size_offset = 16;
constexpr std::size_t unpacked_size_offset = 20;

struct entry_header {
  // The name's bytes, zero-terminated (at most name_field_size of them).
  char name[name_field_size + 1];
  int32_t packed_size;
  int32_t unpacked_size;
};

// Returns the 32-bit little-endian value held in bytes[0..3].
uint32_t read_le32(const unsigned char* bytes);

// Parses a 32-byte header. Reads bytes[0..31] only.
entry_header parse_entry_header(const unsigned char* bytes);

#endif
