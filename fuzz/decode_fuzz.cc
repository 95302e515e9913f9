// libFuzzer target, differential: arbitrary packed bytes and sizes through
// decode_entry (with a chosen inner loop and read size, from a stream or a
// pipe) and through the byte-at-a-time reference decoder. Output, status
// and where the archive stands afterwards must agree.
//
// Input: bytes 0-3 packed_size, 4-7 unpacked_size (little-endian), byte 8
// chooses the inner loop, whether the sizes are taken whole or kept near
// the data's length, and whether the data comes through a pipe; byte 9 the
// largest read; the rest is the packed data.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/decode.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/stream.h"

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
  int64_t consumed;  // where the archive stands afterwards
};

// The packed bytes as a descriptor: a file in memory, or a pipe.
int source(const std::string& packed, bool pipe_it) {
  int fd = pipe_it ? pipe_holding(packed) : memfd_create("packed", MFD_CLOEXEC);
  check(fd >= 0, "source");
  if (!pipe_it) {
    check(write(fd, packed.data(), packed.size()) ==
                  static_cast<ssize_t>(packed.size()) &&
              lseek(fd, 0, SEEK_SET) == 0,
          "fill memfd");
  }
  return fd;
}

// The output stream in memory, and what it holds once closed.
struct memory_output {
  char* memory = nullptr;
  std::size_t length = 0;
  std::FILE* stream = open_memstream(&memory, &length);
  std::string close() {
    std::fclose(stream);
    std::string bytes(memory, length);
    std::free(memory);
    return bytes;
  }
};

outcome reference(const std::string& packed, int32_t packed_size,
                  int32_t unpacked_size) {
  outcome o{};
  std::FILE* in = fmemopen(const_cast<char*>(packed.data()), packed.size(), "rb");
  memory_output out;
  check(in != nullptr && out.stream != nullptr, "streams");
  o.status = reference_decode_entry(in, out.stream, packed_size, unpacked_size,
                                    &o.consumed);
  std::fclose(in);
  o.output = out.close();
  return o;
}

outcome decoded(decode_loop loop, const std::string& packed, bool pipe_it,
                std::size_t max_read, int32_t packed_size,
                int32_t unpacked_size) {
  outcome o{};
  reader_over in(source(packed, pipe_it));
  reader_limit_reads(in.get(), max_read);
  memory_output out;
  check(out.stream != nullptr, "output stream");
  o.status = decode_entry_with(loop, in.get(), out.stream, packed_size,
                               unpacked_size);
  o.consumed = reader_offset(in.get());
  o.output = out.close();
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
  const decode_loop loops[] = {decode_loop_best, decode_loop_exact,
                               decode_loop_portable, decode_loop_sse2,
                               decode_loop_avx2, decode_loop_avx512};
  decode_loop loop = loops[(mode & 0x0F) % (sizeof loops / sizeof loops[0])];
  if (!decode_loop_available(loop)) loop = decode_loop_portable;
  bool pipe_it = (mode & 0x20) != 0 && packed.size() < 60000;

  outcome slow = reference(packed, packed_size, unpacked_size);
  outcome fast =
      decoded(loop, packed, pipe_it, max_read, packed_size, unpacked_size);
  check(fast.status == slow.status, "same status");
  check(fast.output == slow.output, "same output");
  check(fast.consumed == slow.consumed, "archive left at the same offset");
  return 0;
}
