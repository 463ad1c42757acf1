// A deliberately plain decoder of DXT1, DXT3 and DXT5 surfaces, one pixel at a time, written from
// the format's arithmetic rules and nothing else. It shares no code with pelt's decoders, so tests
// can hold every decoding path to it.
#pragma once

#include <cstdint>
#include <span>

#include "testutil.h"

namespace pelt::testing {

struct Rgba {
  std::uint8_t r = 0, g = 0, b = 0, a = 0;
  friend bool operator==(const Rgba&, const Rgba&) = default;
};

// Pixel (x, y), both 0..3, of the tile that `block` encodes (8 bytes for DXT1, 16 otherwise).
Rgba ReferenceBlockPixel(Fmt format, const std::uint8_t* block, int x, int y);

// A width x height surface as red, green, blue, alpha bytes, row-major, top row first.
// `blocks` holds ceil(width / 4) x ceil(height / 4) blocks, rows of blocks from the top; edge
// blocks are clipped. Throws std::invalid_argument when `blocks` is too short.
Bytes ReferenceDecode(Fmt format, std::span<const std::uint8_t> blocks, std::uint32_t width,
                      std::uint32_t height);

}  // namespace pelt::testing
