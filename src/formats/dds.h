// DDS entries: the checks that stand in front of decoding, and which format an entry holds.
//
// A DDS entry is a 4-byte magic (never compared), a 124-byte surface description and the data of
// the top-level surface: rows of blocks from the top, blocks left to right, each block a 4 x 4
// tile (blocks on the right and bottom edges are clipped to the surface) or one pixel
// (dds_format.h). Anything after the top-level surface (smaller mipmap levels) is ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "dds_format.h"
#include "status.h"

namespace pelt {

// The magic and the surface description: 128 bytes.
inline constexpr std::size_t kDdsHeaderSize = 128;

// A surface that passed every check, with what decoding it needs.
struct DdsSurface {
  DdsFormat format = DdsFormat::kDxt1;
  PixelMasks masks;  // kMasks: the pixel's layout
  std::string name;  // the format as listings and messages show it: "DXT1", "A8R8G8B8", "RGBA16"
  std::uint32_t width = 0, height = 0;
  std::uint32_t block_side = 4;            // RowOf(format).block_side
  std::uint32_t block_size = 8;            // bytes per block: RowOf(format), or masks.bytes
  std::uint32_t xblocks = 0, yblocks = 0;  // ceil(width / block_side), ceil(height / block_side)
  std::uint64_t block_bytes = 0;           // xblocks x yblocks x block_size
};

// Checks a DDS entry of `entry_size` bytes from its first bytes `head` (at least the first 128,
// or the whole entry when it is shorter), in this order: shorter than 128 bytes is Corrupt; a
// format pelt does not decode is Unsupported, saying what the entry holds; width or height
// outside 1 to 65535 (a TGA header holds each side in 16 bits), or fewer than block_bytes bytes
// of data after the header, is Corrupt. The message says which and why.
//
// The format: FourCC DXT1 to DXT5, ATI1 or BC4U, ATI2 or BC5U whatever the flags say; a FourCC
// that is a Direct3D format number of a pixel format (kMasks); FourCC 0, a pixel format of up to
// 32 bits its flags, bit count and masks describe: RGB, luminance or alpha alone, with alpha
// when the flags say so.
Result<DdsSurface> CheckDdsEntry(std::span<const std::uint8_t> head, std::uint64_t entry_size);

}  // namespace pelt
