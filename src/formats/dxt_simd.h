// The x86-64 vector paths behind dxt.h. Each function is compiled for its instruction set
// with a function attribute, so the library itself is built with default flags and runs on any
// x86-64; call a path only when PathSupported says the processor has it. Elsewhere none exist.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dxt_format.h"

namespace pelt::simd {

#if defined(__x86_64__)

// As DecodeBlockRowsWith (dxt.h) through the SSSE3 and AVX2 paths.
void DecodeBlockRowsSsse3(DxtFormat format, const std::uint8_t* blocks, std::uint32_t xblocks,
                          std::uint32_t block_rows, BgraPixel* out, std::size_t stride);
void DecodeBlockRowsAvx2(DxtFormat format, const std::uint8_t* blocks, std::uint32_t xblocks,
                         std::uint32_t block_rows, BgraPixel* out, std::size_t stride);

#endif

}  // namespace pelt::simd
