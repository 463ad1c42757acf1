// A small DXT1/DXT3/DXT5 encoder and a TGA file maker, for sample data and tests that want
// recognisable pictures rather than random blocks. The encoder is deliberately simple: each
// block's colour endpoints are its per-channel minimum and maximum, every pixel takes the nearest
// palette entry, and the alpha halves follow the same idea. It makes pictures a person can
// recognise, not good compression.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "testutil.h"

namespace pelt::testing {

struct Rgba {
  std::uint8_t r = 0, g = 0, b = 0, a = 255;
  friend bool operator==(const Rgba&, const Rgba&) = default;
};

// width x height pixels, row-major, top row first.
struct Image {
  Image(std::uint32_t w, std::uint32_t h) : width(w), height(h), pixels(std::size_t{w} * h) {}
  Rgba& at(std::uint32_t x, std::uint32_t y) { return pixels[std::size_t{y} * width + x]; }
  const Rgba& at(std::uint32_t x, std::uint32_t y) const {
    return pixels[std::size_t{y} * width + x];
  }
  std::uint32_t width, height;
  std::vector<Rgba> pixels;
};

// One 4 x 4 tile, row-major, top row first.
using Tile = std::array<Rgba, 16>;

// One block of the format (8 bytes for DXT1, 16 for DXT3 and DXT5). A DXT1 block holding any
// pixel with alpha below 128 takes the three-colour palette and writes those pixels as its
// transparent entry; otherwise DXT1 ignores alpha.
Bytes EncodeBlock(Fmt f, const Tile& tile);

// The blocks of a whole surface, rows of blocks from the top. Blocks over the right or bottom
// edge repeat the edge pixels.
Bytes EncodeSurface(Fmt f, const Image& image);

// Half the size in each direction (never below 1), each pixel the average of up to four.
Image Downscale(const Image& image);

// A whole DDS entry for `image`; with `mipmaps`, followed by every smaller level down to 1 x 1
// (each encoded from a downscaled picture) and dwMipMapCount set.
Bytes EncodeDds(Fmt f, const Image& image, bool mipmaps = false);

// An uncompressed 32-bit TGA file: the 18-byte header (image type 2, depth 32, descriptor 0x28:
// top-left origin, 8 alpha bits), then blue, green, red, alpha per pixel, top row first.
Bytes EncodeTga(const Image& image);

}  // namespace pelt::testing
