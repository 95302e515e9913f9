// SPDX-License-Identifier: MIT
// Test support: the plain byte-at-a-time decoder, kept as the reference
// that the decoder must match byte for byte (output and bytes taken).
#ifndef TESTS_SUPPORT_REFERENCE_DECODER_H
#define TESTS_SUPPORT_REFERENCE_DECODER_H

#include <cstdint>
#include <string>

// Decodes `packed`, the bytes from an entry's first packed byte to the
// archive's end, one byte at a time; `*consumed` tells how many it took.
std::string reference_decode(const std::string& packed, int32_t packed_size,
                             int32_t unpacked_size, int64_t* consumed);

#endif
