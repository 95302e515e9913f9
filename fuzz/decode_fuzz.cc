// libFuzzer target, differential: arbitrary packed bytes and sizes through
// decode_entry (with a chosen inner loop and read size, from a stream or a
// pipe) and through the byte-at-a-time reference decoder. Output, status,
// bytes consumed and where the stream stands afterwards must agree.
//
// Input: bytes 0-3 packed_size, 4-7 unpacked_size (little-endian), byte 8
// chooses the inner loop, whether the sizes are taken whole or kept near
// the data's length, and whether the data comes through a pipe; byte 9 the
// largest read; the rest is the packed data.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/decode.h"
#include "tests/support/reference_decoder.h"

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
  }
}

struct outcome {
  decode_status status;
  std::string output;
  int64_t consumed;
  std::string left;  // what the stream still holds afterwards
};

std::string rest_of(std::FILE* f) {
  std::string bytes;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    bytes.append(buffer, got);
  return bytes;
}

// The packed bytes as a stream: in memory (seekable), or a pipe.
std::FILE* source(const std::string& packed, bool pipe_it) {
  if (!pipe_it) {
    return fmemopen(const_cast<char*>(packed.data()), packed.size(), "rb");
  }
  int fds[2];
  check(pipe(fds) == 0, "pipe");
  check(write(fds[1], packed.data(), packed.size()) ==
            static_cast<ssize_t>(packed.size()),
        "fill pipe");
  close(fds[1]);
  return fdopen(fds[0], "rb");
}

template <typename Decoder>
outcome run(Decoder decoder, const std::string& packed, bool pipe_it,
            int32_t packed_size, int32_t unpacked_size) {
  outcome o{};
  std::FILE* in = source(packed, pipe_it);
  char* memory = nullptr;
  std::size_t length = 0;
  std::FILE* out = open_memstream(&memory, &length);
  check(in != nullptr && out != nullptr, "streams");
  o.status = decoder(in, out, packed_size, unpacked_size, &o.consumed);
  o.left = rest_of(in);
  std::fclose(in);
  std::fclose(out);
  o.output.assign(memory, length);
  std::free(memory);
  return o;
}

int32_t le32(const uint8_t* p) {
  return static_cast<int32_t>(
      static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
      static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 11) return 0;  // fmemopen takes no empty buffer
  int32_t packed_size = le32(data);
  int32_t unpacked_size = le32(data + 4);
  uint8_t mode = data[8];
  std::size_t max_read = data[9] < 128 ? data[9] : 0;
  std::string packed(reinterpret_cast<const char*>(data + 10), size - 10);
  if (mode & 0x10) {
    // Sizes near the data's length, where the bounds fall inside it.
    int64_t span = static_cast<int64_t>(packed.size()) * 3 + 300;
    packed_size =
        static_cast<int32_t>(static_cast<uint32_t>(packed_size) % span) - 8;
    unpacked_size = static_cast<int32_t>(static_cast<uint32_t>(unpacked_size) %
                                         (span * 4)) -
                    8;
  }
  const decode_path paths[] = {decode_path_best, decode_path_exact,
                               decode_path_portable, decode_path_sse2,
                               decode_path_avx2};
  decode_path path = paths[(mode & 0x0F) % 5];
  if (!decode_path_available(path)) path = decode_path_portable;
  bool pipe_it = (mode & 0x20) != 0 && packed.size() < 60000;

  outcome slow =
      run(reference_decode_entry, packed, pipe_it, packed_size, unpacked_size);
  outcome fast = run(
      [&](std::FILE* in, std::FILE* out, int32_t p, int32_t u,
          int64_t* consumed) {
        return decode_entry_with({path, max_read}, in, out, p, u, consumed);
      },
      packed, pipe_it, packed_size, unpacked_size);
  check(fast.status == slow.status, "same status");
  check(fast.output == slow.output, "same output");
  check(fast.consumed == slow.consumed, "same bytes consumed");
  check(fast.left == slow.left, "stream left at the same place");
  return 0;
}
