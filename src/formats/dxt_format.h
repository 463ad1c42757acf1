// The DXT block formats of DDS entries: each codes a 4 x 4 tile of pixels in a block of 8 bytes
// (DXT1) or 16 bytes (DXT3, DXT5), and decodes to the pixel words below. The DDS checks and the
// decoders both build on this header, and on nothing of each other.
#pragma once

#include <cstdint>

namespace pelt {

enum class DxtFormat : std::uint8_t { kDxt1, kDxt3, kDxt5 };

// Bytes per 4 x 4 block: 8 for DXT1, 16 for DXT3 and DXT5.
constexpr std::uint32_t BlockSize(DxtFormat f) { return f == DxtFormat::kDxt1 ? 8 : 16; }

// "DXT1", "DXT3", "DXT5": how messages and listings spell a format.
constexpr const char* FormatName(DxtFormat f) {
  return f == DxtFormat::kDxt1 ? "DXT1" : f == DxtFormat::kDxt3 ? "DXT3" : "DXT5";
}

// A pixel as the decoders store it: a 32-bit word whose bytes in memory are blue, green, red,
// alpha (the TGA's order), that is a << 24 | r << 16 | g << 8 | b on a little-endian host.
using BgraPixel = std::uint32_t;

}  // namespace pelt
