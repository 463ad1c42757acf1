// DDS entries compressed with DXT1, DXT3 or DXT5: the checks that stand in front of decoding.
//
// A DDS entry is a 4-byte magic (never compared), a 124-byte surface description and block data.
// A surface has ceil(width / 4) x ceil(height / 4) blocks, rows of blocks from the top, blocks
// left to right; blocks on the right and bottom edges are clipped to the surface. Anything after
// the top-level surface's blocks (smaller mipmap levels) is ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "dxt_format.h"
#include "status.h"

namespace pelt {

// The magic and the surface description: 128 bytes.
inline constexpr std::size_t kDdsHeaderSize = 128;

// A surface that passed every check, with what decoding it needs.
struct DdsSurface {
  DxtFormat format = DxtFormat::kDxt1;
  std::uint32_t width = 0, height = 0;
  std::uint32_t xblocks = 0, yblocks = 0;  // ceil(width / 4), ceil(height / 4)
  std::uint64_t block_bytes = 0;           // xblocks x yblocks x BlockSize(format)
};

// Checks a DDS entry of `entry_size` bytes from its first bytes `head` (at least the first 128,
// or the whole entry when it is shorter), in this order: shorter than 128 bytes is Corrupt; a
// FourCC other than DXT1, DXT3 or DXT5 is Unsupported, naming it; width or height outside 1 to
// 65535 (a TGA header holds each side in 16 bits), or fewer than xblocks x yblocks x block size
// bytes of block data after the header, is Corrupt. The message says which and why.
Result<DdsSurface> CheckDdsEntry(std::span<const std::uint8_t> head, std::uint64_t entry_size);

}  // namespace pelt
