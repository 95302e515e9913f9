// SPDX-License-Identifier: MIT
// Test support: builds archives in memory, the inverse of the extractor.
// Byte strings are held in std::string.
#ifndef TESTS_SUPPORT_PACKER_H
#define TESTS_SUPPORT_PACKER_H

#include <cstdint>
#include <string>
#include <vector>

// Run-length codes `data` as the decoder expects: a byte equal to the one
// before it (0xFF before the first) opens a run pair of up to 256 copies.
std::string rle_encode(const std::string& data);

// A 32-byte entry header. `name` of up to 13 bytes is stored at offset 3
// (13 bytes leave no zero terminator in the field); `filler` goes into the
// bytes the extractor ignores.
std::string header_bytes(const std::string& name, int32_t packed_size,
                         int32_t unpacked_size, unsigned char filler = 0);

// `size` bytes of 'y' and 'x' in turn: literals, never a run.
std::string alternating(std::size_t size);

// One whole entry: header plus coded data, with matching sizes.
std::string pack_entry(const std::string& name, const std::string& data);

// An archive of four entries, A, B (empty), C and D (text), where A's
// unpacked_size claims more than its data holds, so that its decoding,
// ended by its token count, reads on through B's header and C's to end
// exactly `past` bytes (at least 100) past B's header.
std::string archive_reading_past(int64_t past);

// Whole archives whose first entry claims more output than its data
// holds, so that its decoding, ended by its token count, reads past the
// next header's offset: into the next header, past the archive's end,
// through the next header, and that again with the next header 10 bytes
// before 64 KiB, where a pipe's read ends; each with its entries' names.
struct named_archive {
  std::string bytes;
  std::vector<std::string> names;
};
std::vector<named_archive> archives_passing_the_next_header();

// Reads a whole file into `bytes`, or writes `bytes` as a whole file.
// Both return false on failure.
bool read_file(const std::string& path, std::string* bytes);
bool write_file(const std::string& path, const std::string& bytes);

#endif
