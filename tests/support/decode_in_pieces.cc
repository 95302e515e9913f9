// SPDX-License-Identifier: MIT
#include "tests/support/decode_in_pieces.h"

#include <algorithm>
#include <vector>

#include "archive/decode_feed.h"

namespace {

// Bytes in memory, answering as the archive's reader does.
struct piece_source {
  const std::string* packed;
  std::size_t piece;
  std::size_t pos;
  std::vector<unsigned char> ahead;  // the last look's bytes, in their own allocation
  bool overran;
};

reader_status reader_ahead(piece_source* in, std::size_t need, const unsigned char** bytes,
                           std::size_t* ahead) {
  std::size_t size = in->packed->size() - in->pos;
  if (in->piece != 0) size = std::min(size, std::max(in->piece, need));
  in->ahead.assign(in->packed->begin() + static_cast<std::ptrdiff_t>(in->pos),
                   in->packed->begin() + static_cast<std::ptrdiff_t>(in->pos + size));
  in->ahead.shrink_to_fit();
  *bytes = in->ahead.data();
  *ahead = size;
  return size >= need ? reader_ok : reader_end;
}

void reader_consume(piece_source* in, std::size_t count) {
  in->overran = in->overran || count > in->ahead.size();
  in->pos += std::min(count, in->ahead.size());
}

// The output, as decode_feed hands it out: never more than the buffer
// holds, or decode_block claimed to write past it.
struct string_sink {
  std::string* bytes;
  std::size_t room;
  bool overran;
};

bool write_all(string_sink* out, const unsigned char* bytes, std::size_t count) {
  out->overran = out->overran || count > out->room;
  out->bytes->append(reinterpret_cast<const char*>(bytes), std::min(count, out->room));
  return true;
}

}  // namespace

fed_outcome decode_in_pieces(decode_loop loop, const std::string& packed, int32_t packed_size,
                             int32_t unpacked_size, std::size_t piece, std::size_t room) {
  constexpr std::size_t guard = 64;
  constexpr unsigned char unwritten = 0xA5;
  fed_outcome o{"", 0, false};
  std::vector<unsigned char> out(room + guard, unwritten);
  piece_source in{&packed, piece, 0, {}, false};
  decode_loop before = decode_use_loop(loop);
  string_sink sink{&o.output, room, false};
  decode_feed(&in, &sink, out.data(), room, packed_size, unpacked_size);
  decode_use_loop(before);
  o.consumed = static_cast<int64_t>(in.pos);
  o.overran = in.overran || sink.overran;
  for (std::size_t i = room; i < out.size(); ++i) o.overran = o.overran || out[i] != unwritten;
  return o;
}
