#include "tests/support/block_feeder.h"

#include <algorithm>
#include <vector>

fed_outcome decode_in_pieces(decode_loop loop, const std::string& packed, int32_t packed_size,
                             int32_t unpacked_size, std::size_t piece, std::size_t room) {
  constexpr std::size_t guard = 64;
  constexpr unsigned char unwritten = 0xA5;
  fed_outcome o{"", 0, false};
  std::vector<unsigned char> out(room + guard, unwritten);
  std::size_t used = 0;
  std::size_t need = 1;  // 2 where a run pair's count is still to come
  std::size_t pos = 0;
  decode_state state = decode_start(packed_size, unpacked_size);
  while (!decode_finished(state)) {
    std::size_t size = packed.size() - pos;
    if (piece != 0 && size > std::max(piece, need)) size = std::max(piece, need);
    if (size < need) {
      pos += size;  // a run pair without its count: taken, and nothing written
      break;
    }
    if (room - used < decode_min_room) {
      o.output.append(reinterpret_cast<const char*>(out.data()), used);
      used = 0;
    }
    std::vector<unsigned char> in(packed.begin() + static_cast<std::ptrdiff_t>(pos),
                                  packed.begin() + static_cast<std::ptrdiff_t>(pos + size));
    std::size_t written = 0;
    std::size_t taken =
        decode_block(&state, in.data(), size, out.data() + used, room - used, &written, loop);
    if (taken > size || written > room - used) {
      o.overran = true;
      break;
    }
    pos += taken;
    used += written;
    need = taken == 0 ? 2 : 1;
  }
  o.output.append(reinterpret_cast<const char*>(out.data()), std::min(used, room));
  o.consumed = static_cast<int64_t>(pos);
  for (std::size_t i = room; i < out.size(); ++i) o.overran = o.overran || out[i] != unwritten;
  return o;
}
