// Decoding the data of a DDS surface of any format pelt knows (dds_format.h) into pixels: DXT1,
// DXT3 and DXT5 through dxt.h's fastest path, DXT2 and DXT4 as DXT3 and DXT5 with their colour
// un-premultiplied, ATI1 and ATI2 from DXT5 alpha blocks, and 1 x 1 formats by their masks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dds.h"
#include "dxt_format.h"

namespace pelt {

// Decodes `rows` rows of blocks of the surface `s` from `data` (rows x s.xblocks x s.block_size
// bytes) into `out`: s.block_side x rows pixel rows of `stride` pixels (stride >=
// s.block_side x s.xblocks), the whole of every block, no clipping. Pixels of `out` beside and
// below the blocks' are not touched. Pixels of 4 bytes may be decoded where they lie: `data` is
// then `out`, and `stride` the surface's width.
void DecodeRows(const DdsSurface& s, const std::uint8_t* data, std::uint32_t rows, BgraPixel* out,
                std::size_t stride);

}  // namespace pelt
