// The x86-64 vector paths behind dxt_paths.h. Each function is compiled for its instruction set
// with a function attribute, so the library itself is built with default flags and runs on any
// x86-64; call a path only when PathSupported says the processor has it. Elsewhere none exist.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dds.h"

namespace pelt::simd {

#if defined(__x86_64__)

// As DecodeBlockRowsPortable. With `stream` set, pixels are written with non-temporal stores,
// which bypass the cache: faster for outputs much larger than the cache, slower for outputs that
// are read again soon. Streaming needs aligned rows (16 bytes for SSSE3, 32 for AVX2: `out` and
// stride x 4 bytes both multiples of it); otherwise ordinary stores are used.
void DecodeBlockRowsSsse3(DxtFormat format, const std::uint8_t* blocks, std::uint32_t xblocks,
                          std::uint32_t block_rows, BgraPixel* out, std::size_t stride,
                          bool stream);
void DecodeBlockRowsAvx2(DxtFormat format, const std::uint8_t* blocks, std::uint32_t xblocks,
                         std::uint32_t block_rows, BgraPixel* out, std::size_t stride, bool stream);

#endif

}  // namespace pelt::simd
