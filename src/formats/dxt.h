// Decoding rows of DXT1, DXT3 and DXT5 blocks into pixels, through the fastest code path the
// processor supports: portable C++, SSSE3 or AVX2 (dxt_simd.h). Every path writes the same bytes.
//
// Decoded pixels are written straight in the TGA's byte order, blue, green, red, alpha, so the
// writer needs no second pass: see BgraPixel. Colour values follow the formats' arithmetic in
// this tool exactly: 5:6:5 expanded by shifting (no bit replication), interpolation with
// truncating division and no rounding bias.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dxt_format.h"

namespace pelt {

enum class DecodePath : std::uint8_t { kPortable, kSsse3, kAvx2 };

// Whether the running processor can execute `path`.
bool PathSupported(DecodePath path);

// Decodes `block_rows` rows of `xblocks` blocks each from `blocks` into `out`: 4 x block_rows
// pixel rows of `stride` pixels (stride >= 4 x xblocks), the whole of every block, no clipping.
// Pixels of `out` beside and below the blocks' are not touched. `path` must be supported.
void DecodeBlockRowsWith(DecodePath path, DxtFormat format, const std::uint8_t* blocks,
                         std::uint32_t xblocks, std::uint32_t block_rows, BgraPixel* out,
                         std::size_t stride);
// As DecodeBlockRowsWith, through the fastest supported path (chosen once).
void DecodeBlockRows(DxtFormat format, const std::uint8_t* blocks, std::uint32_t xblocks,
                     std::uint32_t block_rows, BgraPixel* out, std::size_t stride);

}  // namespace pelt
