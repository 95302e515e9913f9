// decode_entry against the plain byte-at-a-time reference decoder: the
// same output, the same status and the archive left at the same offset,
// for each inner loop (one test suite per loop) and for reads cut into
// short pieces, from files and pipes, on random and adversarial inputs
// whose sizes need not tell the truth.
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
  int64_t consumed;  // where the archive stands afterwards
};

outcome reference(const std::string& packed, int32_t packed_size,
                  int32_t unpacked_size) {
  std::FILE* in = stream_of(packed);
  std::FILE* out = std::tmpfile();
  outcome o{};
  o.status = reference_decode_entry(in, out, packed_size, unpacked_size,
                                    &o.consumed);
  o.output = contents_of(out);
  std::fclose(in);
  std::fclose(out);
  return o;
}

outcome decoded(decode_loop loop, int fd, std::size_t max_read,
                int32_t packed_size, int32_t unpacked_size) {
  reader_over in(fd);
  reader_limit_reads(in.get(), max_read);
  std::FILE* out = std::tmpfile();
  outcome o{};
  o.status = decode_entry_with(loop, in.get(), out, packed_size, unpacked_size);
  o.consumed = reader_offset(in.get());
  o.output = contents_of(out);
  std::fclose(out);
  return o;
}

// Whether this build and processor run `loop`, found apart from the
// decoder's own answer, so that a loop it wrongly leaves out fails.
bool machine_runs(decode_loop loop) {
  switch (loop) {
    case decode_loop_best:
    case decode_loop_exact:
    case decode_loop_portable:
      return true;
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    case decode_loop_sse2:
      return true;
    case decode_loop_avx2:
      return __builtin_cpu_supports("avx2");
    case decode_loop_avx512:
      return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
#endif
    default:
      return false;
  }
}

// `loop`, with reads of at most `max_read` bytes each, against the
// reference, from a file and, for short enough data, through a pipe.
void expect_same(decode_loop loop, const std::string& packed,
                 int32_t packed_size, int32_t unpacked_size,
                 std::size_t max_read = 0) {
  outcome slow = reference(packed, packed_size, unpacked_size);
  for (bool pipe : {false, true}) {
    if (pipe && packed.size() > 60000) continue;  // more than a pipe holds
    int fd = pipe ? pipe_holding(packed) : file_holding(packed);
    ASSERT_GE(fd, 0);
    outcome fast = decoded(loop, fd, max_read, packed_size, unpacked_size);
    ASSERT_EQ(fast.status, slow.status) << "pipe " << pipe;
    ASSERT_TRUE(fast.output == slow.output)
        << "output differs" << (pipe ? " (pipe)" : "") << ": packed "
        << packed.size() << " bytes, sizes " << packed_size << "/"
        << unpacked_size << ", reads of " << max_read << "; lengths "
        << fast.output.size() << " vs " << slow.output.size();
    ASSERT_EQ(fast.consumed, slow.consumed) << "pipe " << pipe;
  }
}

class DecodeLoop : public ::testing::TestWithParam<decode_loop> {
 protected:
  void SetUp() override {
    if (decode_loop_available(GetParam())) return;
    ASSERT_FALSE(machine_runs(GetParam())) << "a loop this machine runs is left out";
    GTEST_SKIP() << "not built for this processor, or it cannot run it";
  }
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

// Read sizes that put the end of a read at every kind of place.
const std::size_t read_sizes[] = {0, 1, 2, 7, 61, 130, 131, 4099};

// The largest data to try with reads of `max_read` bytes: each read is a
// system call, so reads of a few bytes get shorter data.
std::size_t most_for(std::size_t max_read, std::size_t most) {
  return max_read != 0 && max_read < 64 ? most / 16 : most;
}

TEST_P(DecodeLoop, TruthfulSizes) {
  std::mt19937 random(1);
  for (int round = 0; round < 200; ++round) {
    std::size_t max_read = read_sizes[round % 8];
    std::string data = random_data(&random, random() % most_for(max_read, 70000));
    std::string packed = rle_encode(data) + header_bytes("NEXT", 3, 3);
    expect_same(GetParam(), packed, static_cast<int32_t>(packed.size() - 32),
                static_cast<int32_t>(data.size()), max_read);
  }
}

TEST_P(DecodeLoop, LyingSizes) {
  std::mt19937 random(2);
  for (int round = 0; round < 1500; ++round) {
    std::size_t max_read = read_sizes[round % 8];
    std::string packed =
        rle_encode(random_data(&random, random() % most_for(max_read, 40000)));
    if (random() % 3 == 0) packed = random_data(&random, packed.size());  // any bytes
    int32_t sizes[] = {0, -1, 1, 2, 255, 256, 257,
                       static_cast<int32_t>(packed.size()),
                       static_cast<int32_t>(random() % 100000),
                       static_cast<int32_t>(random() % 5000000), INT32_MAX};
    int32_t packed_size = sizes[random() % 11];
    int32_t unpacked_size = sizes[random() % 11];
    expect_same(GetParam(), packed, packed_size, unpacked_size, max_read);
  }
}

TEST_P(DecodeLoop, CutAtEveryLength) {
  std::mt19937 random(3);
  std::string data = random_data(&random, 3000) + std::string(2000, '\xFF');
  std::string packed = rle_encode(data);
  for (std::size_t length = 0; length <= packed.size(); ++length) {
    expect_same(GetParam(), packed.substr(0, length), static_cast<int32_t>(packed.size()),
                static_cast<int32_t>(data.size()));
    expect_same(GetParam(), packed.substr(0, length), INT32_MAX, INT32_MAX);
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
    expect_same(GetParam(), packed, static_cast<int32_t>(packed.size()),
                static_cast<int32_t>(data.size()) - cut);
    expect_same(GetParam(), packed, tokens - cut, static_cast<int32_t>(data.size()));
  }
}

TEST_P(DecodeLoop, LongestRunsFillTheOutputBufferToItsEnd) {
  // Pairs of FF FF from the first byte: every 64-byte window writes 32 runs
  // of 256, the most a window can, and one starts with the output buffer
  // at its limit.
  std::string packed;
  for (int i = 0; i < 4096; ++i) packed += "\xFF\xFF";
  expect_same(GetParam(), packed, static_cast<int32_t>(packed.size()), INT32_MAX);
}

TEST_P(DecodeLoop, RunsAcrossBufferBoundaries) {
  // Pairs whose count byte falls at every offset around the input buffer's
  // end (256 KiB), and runs much longer than the output buffer.
  for (std::size_t lead = 262120; lead < 262160; ++lead) {
    std::string data;
    for (std::size_t i = 0; i < lead; ++i) data += static_cast<char>(i % 2 ? 'a' : 'b');
    data += std::string(300000, 'c') + "d" + std::string(300, '\xFF');
    std::string packed = rle_encode(data);
    expect_same(GetParam(), packed, static_cast<int32_t>(packed.size()),
                static_cast<int32_t>(data.size()));
    expect_same(GetParam(), packed, static_cast<int32_t>(packed.size()), INT32_MAX);
  }
}

std::string loop_name(const ::testing::TestParamInfo<decode_loop>& loop) {
  const char* const names[] = {"best", "exact", "portable", "sse2", "avx2", "avx512"};
  return names[loop.param];
}

INSTANTIATE_TEST_SUITE_P(Loops, DecodeLoop,
                         ::testing::Values(decode_loop_best, decode_loop_exact,
                                           decode_loop_portable, decode_loop_sse2,
                                           decode_loop_avx2, decode_loop_avx512),
                         loop_name);

}  // namespace
