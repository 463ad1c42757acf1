// The texture formats pelt decodes from DDS entries: one row each, saying how big a block of the
// format is and what listings call it. The DDS checks (dds.h) find an entry's row; the decoders
// (decode.h) decode any row. Every choice over formats is a switch without a default, so that a
// format added here is flagged wherever it is still missing.
#pragma once

#include <cstdint>

namespace pelt {

enum class DdsFormat : std::uint8_t {
  kDxt1,
  kDxt2,  // DXT3 blocks of premultiplied colour
  kDxt3,
  kDxt4,  // DXT5 blocks of premultiplied colour
  kDxt5,
  kAti1,   // one DXT5 alpha block a tile: grey
  kAti2,   // two DXT5 alpha blocks a tile: a normal's X and Y
  kMasks,  // 1 x 1 pixels of 1 to 4 bytes whose fields the PixelMasks give
};

struct FormatRow {
  std::uint32_t block_side;   // a block is block_side x block_side pixels: 4, or 1 for pixels
  std::uint32_t block_bytes;  // bytes per block; 0 for kMasks, whose PixelMasks::bytes say
  const char* name;           // as listings show it; nullptr for kMasks (named by its masks)
};

constexpr FormatRow RowOf(DdsFormat f) {
  switch (f) {
    case DdsFormat::kDxt1:
      return {4, 8, "DXT1"};
    case DdsFormat::kDxt2:
      return {4, 16, "DXT2"};
    case DdsFormat::kDxt3:
      return {4, 16, "DXT3"};
    case DdsFormat::kDxt4:
      return {4, 16, "DXT4"};
    case DdsFormat::kDxt5:
      return {4, 16, "DXT5"};
    case DdsFormat::kAti1:
      return {4, 8, "ATI1"};
    case DdsFormat::kAti2:
      return {4, 16, "ATI2"};
    case DdsFormat::kMasks:
      return {1, 0, nullptr};
  }
  return {};
}

// The layout of a 1 x 1 format's pixel: a little-endian number of `bytes` bytes, each channel
// the field its mask selects (one run of 1 bits), scaled to 8 bits. A mask of 0 gives 0, and
// alpha 255. Luminance formats give red, green and blue one mask; alpha-only formats none.
struct PixelMasks {
  std::uint32_t bytes = 4;
  std::uint32_t red = 0, green = 0, blue = 0, alpha = 0;
  friend bool operator==(const PixelMasks&, const PixelMasks&) = default;
};

}  // namespace pelt
