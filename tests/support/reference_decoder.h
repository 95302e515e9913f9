// Test support: the plain byte-at-a-time decoder, one stdio call per byte,
// kept as the reference that decode_entry must match byte for byte (output
// and bytes consumed).
#ifndef TESTS_SUPPORT_REFERENCE_DECODER_H
#define TESTS_SUPPORT_REFERENCE_DECODER_H

#include <cstdint>
#include <cstdio>

#include "archive/decode.h"

decode_status reference_decode_entry(std::FILE* archive, std::FILE* output,
                                     int32_t packed_size, int32_t unpacked_size,
                                     int64_t* consumed);

#endif
