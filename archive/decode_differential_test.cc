// decode_entry against the plain byte-at-a-time reference decoder: the
// same output, the same status and the same number of bytes consumed, on
// random and adversarial inputs whose sizes need not tell the truth.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "archive/decode.h"
#include "tests/support/packer.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/stream.h"

namespace {

struct outcome {
  decode_status status;
  std::string output;
  int64_t consumed;
  long position;  // where the archive stream stands afterwards
};

template <typename Decoder>
outcome run(Decoder decoder, const std::string& packed, int32_t packed_size,
            int32_t unpacked_size) {
  std::FILE* in = stream_of(packed);
  std::FILE* out = std::tmpfile();
  outcome o{};
  o.status = decoder(in, out, packed_size, unpacked_size, &o.consumed);
  o.position = std::ftell(in);
  o.output = contents_of(out);
  std::fclose(in);
  std::fclose(out);
  return o;
}

void expect_same(const std::string& packed, int32_t packed_size,
                 int32_t unpacked_size) {
  outcome fast = run(decode_entry, packed, packed_size, unpacked_size);
  outcome slow = run(reference_decode_entry, packed, packed_size, unpacked_size);
  ASSERT_EQ(fast.status, slow.status);
  ASSERT_TRUE(fast.output == slow.output)
      << "output differs: packed " << packed.size() << " bytes, sizes "
      << packed_size << "/" << unpacked_size << "; lengths "
      << fast.output.size() << " vs " << slow.output.size();
  ASSERT_EQ(fast.consumed, slow.consumed);
  ASSERT_EQ(fast.position, slow.position);
  ASSERT_EQ(fast.position, fast.consumed);
}

std::string random_data(std::mt19937* random, std::size_t size) {
  std::string data;
  while (data.size() < size) {
    unsigned kind = (*random)() % 4;
    std::size_t length = (*random)() % 1200 + 1;
    char c = static_cast<char>((*random)());
    for (std::size_t i = 0; i < length && data.size() < size; ++i) {
      if (kind == 0) data += static_cast<char>((*random)());
      else if (kind == 1) data += c;
      else if (kind == 2) data += static_cast<char>((*random)() % 2 ? c : '\xFF');
      else data += static_cast<char>(i / 2);
    }
  }
  return data;
}

TEST(DecodeEntryDifferential, TruthfulSizes) {
  std::mt19937 random(1);
  for (int round = 0; round < 200; ++round) {
    std::string data = random_data(&random, random() % 70000);
    std::string packed = rle_encode(data) + header_bytes("NEXT", 3, 3);
    expect_same(packed, static_cast<int32_t>(packed.size() - 32),
                static_cast<int32_t>(data.size()));
  }
}

TEST(DecodeEntryDifferential, LyingSizes) {
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
    expect_same(packed, packed_size, unpacked_size);
  }
}

TEST(DecodeEntryDifferential, CutAtEveryLength) {
  std::mt19937 random(3);
  std::string data = random_data(&random, 3000) + std::string(2000, '\xFF');
  std::string packed = rle_encode(data);
  for (std::size_t length = 0; length <= packed.size(); ++length) {
    expect_same(packed.substr(0, length), static_cast<int32_t>(packed.size()),
                static_cast<int32_t>(data.size()));
    expect_same(packed.substr(0, length), INT32_MAX, INT32_MAX);
  }
}

TEST(DecodeEntryDifferential, RunsAcrossBufferBoundaries) {
  // Pairs whose count byte falls at every offset around the input buffer's
  // size, and runs much longer than one output block.
  for (std::size_t lead = 16370; lead < 16400; ++lead) {
    std::string data;
    for (std::size_t i = 0; i < lead; ++i) data += static_cast<char>(i % 2 ? 'a' : 'b');
    data += std::string(100000, 'c') + "d" + std::string(300, '\xFF');
    std::string packed = rle_encode(data);
    expect_same(packed, static_cast<int32_t>(packed.size()),
                static_cast<int32_t>(data.size()));
    expect_same(packed, static_cast<int32_t>(packed.size()), INT32_MAX);
  }
}

}  // namespace
