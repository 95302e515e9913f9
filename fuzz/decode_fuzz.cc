// SPDX-License-Identifier: MIT
// libFuzzer target, differential: arbitrary packed bytes and sizes through
// decode_block (with a chosen inner loop, input pieces and output buffer)
// and through the byte-at-a-time reference decoder. Output and bytes taken
// must agree, and no call may take or write more than it was given.
//
// Input: bytes 0-3 packed_size, 4-7 unpacked_size (little-endian), byte 8
// chooses the inner loop and whether the sizes are taken whole or kept
// near the data's length, byte 9 the input pieces, byte 10 the output
// buffer's size above the least; the rest is the packed data.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/decode.h"
#include "archive/testing.h"
#include "tests/support/decode_in_pieces.h"
#include "tests/support/reference_decoder.h"

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
  }
}

int32_t le32(const uint8_t* p) {
  return static_cast<int32_t>(
      static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
      static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 11) return 0;
  int32_t packed_size = le32(data);
  int32_t unpacked_size = le32(data + 4);
  uint8_t mode = data[8];
  std::size_t piece = data[9] < 128 ? data[9] : 0;
  std::size_t room = decode_min_room + data[10] * std::size_t{37};
  std::string packed(reinterpret_cast<const char*>(data + 11), size - 11);
  if (mode & 0x10) {
    // Sizes near the data's length, where the bounds fall inside it.
    int64_t span = static_cast<int64_t>(packed.size()) * 3 + 300;
    packed_size =
        static_cast<int32_t>(static_cast<uint32_t>(packed_size) % span) - 8;
    unpacked_size = static_cast<int32_t>(static_cast<uint32_t>(unpacked_size) %
                                         (span * 4)) -
                    8;
  }
  // One of the decoder's loops that this processor runs.
  static const std::vector<decode_loop> loops = [] {
    std::vector<decode_loop> runnable;
    for (const decode_loop_entry& entry : decode_loops) {
      if (decode_loop_available(entry.id)) runnable.push_back(entry.id);
    }
    return runnable;
  }();
  decode_loop loop = loops[(mode & 0x0F) % loops.size()];

  int64_t consumed = 0;
  std::string slow = reference_decode(packed, packed_size, unpacked_size, &consumed);
  fed_outcome fast = decode_in_pieces(loop, packed, packed_size, unpacked_size, piece, room);
  check(!fast.overran, "within what each call was given");
  check(fast.output == slow, "same output");
  check(fast.consumed == consumed, "same bytes taken");
  return 0;
}
