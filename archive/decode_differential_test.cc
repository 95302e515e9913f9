// decode_entry against the plain byte-at-a-time reference decoder: the
// same output, the same status, the same number of bytes consumed and the
// same stream position, for every inner loop and for reads cut into short
// pieces, on random and adversarial inputs whose sizes need not tell the
// truth.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

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
outcome run(Decoder decoder, std::FILE* in, int32_t packed_size,
            int32_t unpacked_size) {
  std::FILE* out = std::tmpfile();
  outcome o{};
  o.status = decoder(in, out, packed_size, unpacked_size, &o.consumed);
  o.position = std::ftell(in);
  o.output = contents_of(out);
  std::fclose(in);
  std::fclose(out);
  return o;
}

std::vector<decode_path> available_paths() {
  std::vector<decode_path> paths;
  for (decode_path p : {decode_path_exact, decode_path_portable,
                        decode_path_sse2, decode_path_avx2}) {
    if (decode_path_available(p)) paths.push_back(p);
  }
  return paths;
}

// Every inner loop, reading at most `max_read` bytes at a time, against the
// reference. Short enough data also goes through a pipe, which must be left
// holding exactly the bytes decoding did not use.
void expect_same(const std::string& packed, int32_t packed_size,
                 int32_t unpacked_size, std::size_t max_read = 0) {
  outcome slow = run(reference_decode_entry, stream_of(packed), packed_size,
                     unpacked_size);
  for (decode_path path : available_paths()) {
    auto fast_decoder = [&](std::FILE* in, std::FILE* out, int32_t p,
                            int32_t u, int64_t* consumed) {
      return decode_entry_with({path, max_read}, in, out, p, u, consumed);
    };
    outcome fast = run(fast_decoder, stream_of(packed), packed_size, unpacked_size);
    ASSERT_EQ(fast.status, slow.status) << "path " << path;
    ASSERT_TRUE(fast.output == slow.output)
        << "output differs on path " << path << ": packed " << packed.size()
        << " bytes, sizes " << packed_size << "/" << unpacked_size
        << ", reads of " << max_read << "; lengths " << fast.output.size()
        << " vs " << slow.output.size();
    ASSERT_EQ(fast.consumed, slow.consumed) << "path " << path;
    ASSERT_EQ(fast.position, slow.position) << "path " << path;
    ASSERT_EQ(fast.position, fast.consumed) << "path " << path;
    if (packed.size() > 60000) continue;  // more than a pipe holds
    std::FILE* pipe = pipe_of(packed);
    ASSERT_NE(pipe, nullptr);
    std::FILE* out = std::tmpfile();
    int64_t consumed = 0;
    decode_entry_with({path, max_read}, pipe, out, packed_size, unpacked_size,
                      &consumed);
    ASSERT_TRUE(contents_of(out) == slow.output) << "pipe, path " << path;
    ASSERT_EQ(consumed, slow.consumed) << "pipe, path " << path;
    std::string left;
    for (int c; (c = std::getc(pipe)) != EOF;) left += static_cast<char>(c);
    ASSERT_TRUE(left == packed.substr(static_cast<std::size_t>(consumed)))
        << "pipe read too far, path " << path;
    std::fclose(pipe);
    std::fclose(out);
  }
}

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

// Read sizes that put the end of a read at every kind of place.
const std::size_t read_sizes[] = {0, 1, 2, 7, 61, 130, 131, 4099};

TEST(DecodeEntryDifferential, TruthfulSizes) {
  std::mt19937 random(1);
  for (int round = 0; round < 200; ++round) {
    std::string data = random_data(&random, random() % 70000);
    std::string packed = rle_encode(data) + header_bytes("NEXT", 3, 3);
    expect_same(packed, static_cast<int32_t>(packed.size() - 32),
                static_cast<int32_t>(data.size()), read_sizes[round % 8]);
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
    expect_same(packed, packed_size, unpacked_size, read_sizes[round % 8]);
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

TEST(DecodeEntryDifferential, BoundsInsideTheFastLoopsMargins) {
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
    expect_same(packed, static_cast<int32_t>(packed.size()),
                static_cast<int32_t>(data.size()) - cut);
    expect_same(packed, tokens - cut, static_cast<int32_t>(data.size()));
  }
}

TEST(DecodeEntryDifferential, RunsAcrossBufferBoundaries) {
  // Pairs whose count byte falls at every offset around the input buffer's
  // end (256 KiB), and runs much longer than the output buffer.
  for (std::size_t lead = 262120; lead < 262160; ++lead) {
    std::string data;
    for (std::size_t i = 0; i < lead; ++i) data += static_cast<char>(i % 2 ? 'a' : 'b');
    data += std::string(300000, 'c') + "d" + std::string(300, '\xFF');
    std::string packed = rle_encode(data);
    expect_same(packed, static_cast<int32_t>(packed.size()),
                static_cast<int32_t>(data.size()));
    expect_same(packed, static_cast<int32_t>(packed.size()), INT32_MAX);
  }
}

}  // namespace
