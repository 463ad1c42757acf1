#include "reference_decoder.h"

#include <stdexcept>

namespace pelt::testing {
namespace {

unsigned Word16(const std::uint8_t* p) { return p[0] | unsigned{p[1]} << 8; }

// A 5:6:5 word expanded by shifting each field to the top of its byte.
Rgba Expand565(unsigned word) {
  Rgba c;
  c.r = static_cast<std::uint8_t>(((word >> 11) & 31) << 3);
  c.g = static_cast<std::uint8_t>(((word >> 5) & 63) << 2);
  c.b = static_cast<std::uint8_t>((word & 31) << 3);
  c.a = 255;
  return c;
}

std::uint8_t Mix(unsigned c0, unsigned w0, unsigned c1, unsigned w1, unsigned d) {
  return static_cast<std::uint8_t>((w0 * c0 + w1 * c1) / d);
}

Rgba ColourPixel(const std::uint8_t* half, bool dxt1, int x, int y) {
  const unsigned col0 = Word16(half), col1 = Word16(half + 2);
  const Rgba c0 = Expand565(col0), c1 = Expand565(col1);
  const unsigned index = (half[4 + y] >> (2 * x)) & 3;
  const bool four_colours = !dxt1 || col0 > col1;
  switch (index) {
    case 0:
      return c0;
    case 1:
      return c1;
    case 2:
      if (four_colours) {
        return {Mix(c0.r, 2, c1.r, 1, 3), Mix(c0.g, 2, c1.g, 1, 3), Mix(c0.b, 2, c1.b, 1, 3), 255};
      }
      return {Mix(c0.r, 1, c1.r, 1, 2), Mix(c0.g, 1, c1.g, 1, 2), Mix(c0.b, 1, c1.b, 1, 2), 255};
    default:
      if (four_colours) {
        return {Mix(c0.r, 1, c1.r, 2, 3), Mix(c0.g, 1, c1.g, 2, 3), Mix(c0.b, 1, c1.b, 2, 3), 255};
      }
      return {0, 255, 255, 0};
  }
}

std::uint8_t ExplicitAlpha(const std::uint8_t* half, int x, int y) {
  const unsigned nibble = (Word16(half + 2 * y) >> (4 * x)) & 15;
  return static_cast<std::uint8_t>(nibble * 17);
}

std::uint8_t InterpolatedAlpha(const std::uint8_t* half, int x, int y) {
  const unsigned a0 = half[0], a1 = half[1];
  std::uint64_t bits = 0;
  for (int i = 5; i >= 0; --i) bits = bits << 8 | half[2 + i];
  const unsigned k = static_cast<unsigned>(bits >> (3 * (4 * y + x))) & 7;
  if (k == 0) return static_cast<std::uint8_t>(a0);
  if (k == 1) return static_cast<std::uint8_t>(a1);
  if (a0 > a1) return Mix(a0, 8 - k, a1, k - 1, 7);
  if (k == 6) return 0;
  if (k == 7) return 255;
  return Mix(a0, 6 - k, a1, k - 1, 5);
}

}  // namespace

Rgba ReferenceBlockPixel(Fmt format, const std::uint8_t* block, int x, int y) {
  if (format == Fmt::kDxt1) return ColourPixel(block, true, x, y);
  Rgba p = ColourPixel(block + 8, false, x, y);
  p.a = format == Fmt::kDxt3 ? ExplicitAlpha(block, x, y) : InterpolatedAlpha(block, x, y);
  return p;
}

Bytes ReferenceDecode(Fmt format, std::span<const std::uint8_t> blocks, std::uint32_t width,
                      std::uint32_t height) {
  const std::size_t xblocks = (std::size_t{width} + 3) / 4, yblocks = (std::size_t{height} + 3) / 4;
  const std::size_t block_bytes = BlockBytes(format);
  if (blocks.size() / block_bytes / xblocks < yblocks && xblocks != 0) {
    throw std::invalid_argument("ReferenceDecode: too few blocks for the surface");
  }
  Bytes rgba(std::size_t{width} * height * 4);
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < width; ++x) {
      const std::uint8_t* block = blocks.data() + ((y / 4) * xblocks + x / 4) * block_bytes;
      const Rgba p =
          ReferenceBlockPixel(format, block, static_cast<int>(x % 4), static_cast<int>(y % 4));
      std::uint8_t* dst = &rgba[(y * width + x) * 4];
      dst[0] = p.r;
      dst[1] = p.g;
      dst[2] = p.b;
      dst[3] = p.a;
    }
  }
  return rgba;
}

}  // namespace pelt::testing
