// SPDX-License-Identifier: MIT
#include "tests/support/packer.h"

#include <cstdio>

std::string rle_encode(const std::string& data) {
  std::string packed;
  unsigned char previous = 0xFF;
  std::size_t i = 0;
  while (i < data.size()) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c != previous) {
      packed += static_cast<char>(c);
      previous = c;
      ++i;
      continue;
    }
    std::size_t run = 1;
    while (run < 256 && i + run < data.size() &&
           static_cast<unsigned char>(data[i + run]) == c) {
      ++run;
    }
    packed += static_cast<char>(c);
    packed += static_cast<char>(run - 1);
    i += run;
  }
  return packed;
}

namespace {

void put_le32(std::string* out, std::size_t offset, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) {
    (*out)[offset + static_cast<std::size_t>(i)] =
        static_cast<char>((v >> (8 * i)) & 0xFF);
  }
}

}  // namespace

std::string header_bytes(const std::string& name, int32_t packed_size,
                         int32_t unpacked_size, unsigned char filler) {
  std::string header(32, static_cast<char>(filler));
  std::string field = name.substr(0, 13);
  field.resize(13, '\0');
  header.replace(3, 13, field);
  put_le32(&header, 16, packed_size);
  put_le32(&header, 20, unpacked_size);
  return header;
}

std::string pack_entry(const std::string& name, const std::string& data) {
  std::string packed = rle_encode(data);
  return header_bytes(name, static_cast<int32_t>(packed.size()),
                      static_cast<int32_t>(data.size())) +
         packed;
}

std::string alternating(std::size_t size) {
  std::string bytes;
  while (bytes.size() < size) bytes += bytes.size() % 2 ? "x" : "y";
  return bytes;
}

std::string archive_reading_past(int64_t past) {
  std::string literals = alternating(static_cast<std::size_t>(past));
  std::string rest = header_bytes("B", 0, 0) + pack_entry("C", literals) + pack_entry("D", "d");
  // The tokens that A's decoding takes from `rest` to end `past` bytes
  // in, read against A's last byte; past C's header each is one byte.
  int64_t tokens = 0;
  char previous = 'A';
  for (int64_t at = 0; at < past; ++tokens) {
    char c = rest[static_cast<std::size_t>(at)];
    at += c == previous ? 2 : 1;
    previous = c;
  }
  // A's data: one literal, then `tokens` run pairs of one copy, each two
  // bytes and one token, so that `tokens` of its packed_size are left.
  std::string data = "A";
  for (int64_t i = 0; i < tokens; ++i) data += std::string("A\0", 2);
  return header_bytes("A", static_cast<int32_t>(data.size()), INT32_MAX) + data + rest;
}

std::vector<named_archive> archives_passing_the_next_header() {
  // 41, nineteen pairs 41 00, 41: the last pair's count is the next
  // header's first byte, and decoding runs on through that header.
  std::string pairs = "A";
  for (int i = 0; i < 19; ++i) pairs += std::string("A\0", 2);
  std::string through = header_bytes("A", 40, 1000) + pairs + "A" + header_bytes("B", 0, 0);
  std::string literals = alternating(65454 - 32);
  return {{header_bytes("ONE", 4, 20) + std::string("\x41\x41\x03\x42", 4) +
               pack_entry("TWO", "two"), {"ONE", "TWO"}},
          {header_bytes("END", 2, 100) + std::string("aa\0", 3), {"END"}},
          {through, {"A", "B"}},
          {pack_entry("PAD", literals) + through + pack_entry("C", "cc") + pack_entry("D", "dd"),
           {"PAD", "A", "B", "C", "D"}}};
}

bool read_file(const std::string& path, std::string* bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  bytes->clear();
  char buffer[1 << 16];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    bytes->append(buffer, got);
  }
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool write_file(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}
