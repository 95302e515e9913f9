// SPDX-License-Identifier: MIT
// decode_block against the plain byte-at-a-time reference decoder, on
// memory: the same output and the same bytes taken, for each inner loop
// (one test suite per loop), with the input handed over in pieces that end
// anywhere and output buffers whose ends fall anywhere, on random and
// adversarial inputs whose sizes need not tell the truth.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "archive/decode.h"
#include "archive/testing.h"
#include "tests/support/decode_in_pieces.h"
#include "tests/support/packer.h"
#include "tests/support/reference_decoder.h"

// A loop's case shows its name.
void PrintTo(const decode_loop_entry& loop, std::ostream* out) { *out << loop.name; }

namespace {

// Input pieces and output buffers that put their ends at every kind of
// place.
const std::size_t pieces[] = {0, 1, 2, 7, 61, 130, 131, 4099};
const std::size_t rooms[] = {decode_min_room, decode_min_room + 1, decode_min_room + 255,
                             264 * 1024};

// `loop` against the reference, with the input in pieces of `piece` bytes
// and output buffers of `room`.
void expect_same(decode_loop loop, const std::string& packed, int32_t packed_size,
                 int32_t unpacked_size, std::size_t piece = 0,
                 std::size_t room = 264 * 1024) {
  int64_t consumed = 0;
  std::string slow = reference_decode(packed, packed_size, unpacked_size, &consumed);
  fed_outcome fast = decode_in_pieces(loop, packed, packed_size, unpacked_size, piece, room);
  ASSERT_FALSE(fast.overran) << "pieces of " << piece << ", room " << room;
  ASSERT_TRUE(fast.output == slow)
      << "output differs: packed " << packed.size() << " bytes, sizes " << packed_size << "/"
      << unpacked_size << ", pieces of " << piece << ", room " << room << "; lengths "
      << fast.output.size() << " vs " << slow.size();
  ASSERT_EQ(fast.consumed, consumed) << "pieces of " << piece << ", room " << room;
}

// One case for each loop in the decoder's table. A loop the processor has
// the instructions for must be built in: one left out fails.
class DecodeLoop : public ::testing::TestWithParam<decode_loop_entry> {
 protected:
  void SetUp() override {
    if (decode_loop_available(loop())) return;
    ASSERT_FALSE(GetParam().processor_has()) << "a loop this processor runs is left out";
    GTEST_SKIP() << "not built for this processor, or it cannot run it";
  }
  decode_loop loop() const { return GetParam().id; }
};

std::string random_data(std::mt19937* random, std::size_t size) {
  std::string data;
  while (data.size() < size) {
    unsigned kind = static_cast<unsigned>((*random)() % 5);
    std::size_t length = (*random)() % 1200 + 1;
    char c = static_cast<char>((*random)());
    for (std::size_t i = 0; i < length && data.size() < size; ++i) {
      if (kind == 0) data += static_cast<char>((*random)());
      else if (kind == 1) data += c;
      else if (kind == 2) data += static_cast<char>((*random)() % 2 ? c : '\xFF');
      else if (kind == 3) data += static_cast<char>(i / 2);
      else data.append((*random)() % 4 ? 1 : (*random)() % 5 + 1,  // short runs
                       static_cast<char>((*random)()));  // between literals
    }
  }
  return data;
}

TEST_P(DecodeLoop, TruthfulSizes) {
  std::mt19937 random(1);
  for (int round = 0; round < 200; ++round) {
    std::string data = random_data(&random, random() % 70000);
    std::string packed = rle_encode(data) + header_bytes("NEXT", 3, 3);
    expect_same(loop(), packed, static_cast<int32_t>(packed.size() - 32),
                static_cast<int32_t>(data.size()), pieces[round % 8], rooms[round % 4]);
  }
}

TEST_P(DecodeLoop, LyingSizes) {
  std::mt19937 random(2);
  for (int round = 0; round < 1500; ++round) {
    std::string packed = rle_encode(random_data(&random, random() % 40000));
    if (random() % 3 == 0) packed = random_data(&random, packed.size());  // any bytes
    int32_t sizes[] = {0, -1, 1, 2, 255, 256, 257,
                       static_cast<int32_t>(packed.size()),
                       static_cast<int32_t>(random() % 100000),
                       static_cast<int32_t>(random() % 5000000), INT32_MAX};
    int32_t packed_size = sizes[random() % 11];
    int32_t unpacked_size = sizes[random() % 11];
    expect_same(loop(), packed, packed_size, unpacked_size, pieces[round % 8],
                rooms[round % 4]);
  }
}

TEST_P(DecodeLoop, CutAtEveryLength) {
  std::mt19937 random(3);
  std::string data = random_data(&random, 3000) + std::string(2000, '\xFF');
  std::string packed = rle_encode(data);
  for (std::size_t length = 0; length <= packed.size(); ++length) {
    expect_same(loop(), packed.substr(0, length), static_cast<int32_t>(packed.size()),
                static_cast<int32_t>(data.size()));
    expect_same(loop(), packed.substr(0, length), INT32_MAX, INT32_MAX);
  }
}

TEST_P(DecodeLoop, BoundsInsideTheFastLoopsMargins) {
  // The output or token bound falls at every place within the last windows
  // of fast decoding, where the exact step must take over.
  std::mt19937 random(4);
  std::string data = random_data(&random, 2500);
  std::string packed = rle_encode(data);
  int32_t tokens = 0;
  char previous = '\xFF';
  for (std::size_t i = 0; i < packed.size(); ++tokens) {
    if (packed[i] == previous) {
      i += 2;
    } else {
      previous = packed[i++];
    }
  }
  for (int32_t cut = 0; cut < 300; ++cut) {
    expect_same(loop(), packed, static_cast<int32_t>(packed.size()),
                static_cast<int32_t>(data.size()) - cut);
    expect_same(loop(), packed, tokens - cut, static_cast<int32_t>(data.size()));
  }
}

TEST_P(DecodeLoop, OutputBufferFilledToItsEnd) {
  // Pairs of FF FF from the first byte: every 64-byte window writes 32 runs
  // of 256, the most a window can, into buffers with just room for it; and
  // runs and literals, long and short, into buffers that end anywhere.
  std::string pairs;
  for (int i = 0; i < 4096; ++i) pairs += "\xFF\xFF";
  // A window whose last pair starts one byte after 31 runs of 256, and
  // whose fill of 250 reaches a whole vector past what it means: the
  // furthest any window stores.
  std::string furthest;
  for (int i = 0; i < 31; ++i) furthest += "\xFF\xFF";
  furthest += "AA\xF9" + pairs;
  std::mt19937 random(5);
  std::string mixed = rle_encode(random_data(&random, 300000));
  for (std::size_t room : rooms) {
    expect_same(loop(), pairs, static_cast<int32_t>(pairs.size()), INT32_MAX, 0, room);
    expect_same(loop(), furthest, INT32_MAX, INT32_MAX, 0, room);
    for (std::size_t extra = 0; extra < 64; extra += 7) {
      expect_same(loop(), mixed, INT32_MAX, INT32_MAX, 4099, room + extra);
    }
  }
}

TEST_P(DecodeLoop, WindowsStopShortOfTheOutputLimit) {
  // Windows of every kind: 64-byte literal spans; 32 runs of 256; and,
  // after one window of those, 31 runs, a literal and a run of 250, the
  // furthest a window stores. Calls with room for 8192 bytes more or less
  // than two windows put the last window's start at every place around
  // the limit; the guard bytes past the buffer must stay as they were.
  std::string literals = alternating(40000);
  std::string runs;
  for (int i = 0; i < 300; ++i) runs += "\xFF\xFF";
  std::string furthest = runs.substr(0, 64 + 62) + "AA\xF9";
  for (int i = 0; i < 200; ++i) furthest += "A\xFF";
  constexpr std::size_t guard = 64;
  decode_loop before = decode_use_loop(loop());
  for (const std::string& packed : {literals, runs, furthest}) {
    int64_t consumed;
    std::string whole = reference_decode(packed, INT32_MAX, INT32_MAX, &consumed);
    for (std::size_t room = decode_min_room + 8192 - 130; room < decode_min_room + 8192 + 70;
         ++room) {
      std::vector<unsigned char> out(room + guard, 0xA5);
      decode_state state = decode_start(INT32_MAX, INT32_MAX);
      std::size_t written = 0;
      decode_block(&state, reinterpret_cast<const unsigned char*>(packed.data()),
                   packed.size(), out.data(), room, &written);
      ASSERT_EQ(std::count(out.begin() + static_cast<std::ptrdiff_t>(room), out.end(), 0xA5),
                static_cast<std::ptrdiff_t>(guard)) << "stored past a room of " << room;
      ASSERT_LE(written, room);
      ASSERT_EQ(whole.compare(0, written, reinterpret_cast<const char*>(out.data()), written), 0)
          << "room " << room;
    }
  }
  decode_use_loop(before);
}

TEST_P(DecodeLoop, IsTheLoopThatDecodes) {
  // Each loop takes the windows itself, but the program's, which hands
  // them to the fastest loop with windows rather than the exact step alone.
  // Then input too short for a window: the exact step alone ran.
  std::string literals = alternating(4000);
  decode_loop before = decode_use_loop(loop());
  std::vector<unsigned char> out(decode_min_room + literals.size());
  decode_state state = decode_start(INT32_MAX, INT32_MAX);
  std::size_t written = 0;
  decode_block(&state, reinterpret_cast<const unsigned char*>(literals.data()), literals.size(),
               out.data(), out.size(), &written);
  decode_loop ran = decode_loop_that_ran();
  ASSERT_EQ(written, literals.size());
  decode_block(&state, reinterpret_cast<const unsigned char*>(literals.data()), 10, out.data(),
               out.size(), &written);
  decode_loop short_ran = decode_loop_that_ran();  // the exact step, which has no windows
  decode_use_loop(before);
  EXPECT_EQ(decode_loops[short_ran].windows, nullptr) << decode_loops[short_ran].name << " ran";
  if (std::string(GetParam().name) == "fastest") {
    EXPECT_NE(decode_loops[ran].windows, nullptr) << decode_loops[ran].name << " ran";
  } else {
    EXPECT_EQ(ran, loop()) << decode_loops[ran].name << " ran";
  }
}

TEST_P(DecodeLoop, RunsAcrossInputPieces) {
  // Pairs whose count byte falls at every offset around the end of an
  // input piece, and runs much longer than an output buffer.
  const std::size_t piece = 4099;
  for (std::size_t lead = piece - 20; lead < piece + 20; ++lead) {
    std::string data;
    for (std::size_t i = 0; i < lead; ++i) data += static_cast<char>(i % 2 ? 'a' : 'b');
    data += std::string(300000, 'c') + "d" + std::string(300, '\xFF');
    std::string packed = rle_encode(data);
    expect_same(loop(), packed, static_cast<int32_t>(packed.size()),
                static_cast<int32_t>(data.size()), piece);
    expect_same(loop(), packed, static_cast<int32_t>(packed.size()), INT32_MAX, piece);
  }
}

INSTANTIATE_TEST_SUITE_P(Loops, DecodeLoop, ::testing::ValuesIn(decode_loops),
                         [](const ::testing::TestParamInfo<decode_loop_entry>& loop) {
                           return std::string(loop.param.name);
                         });

}  // namespace
