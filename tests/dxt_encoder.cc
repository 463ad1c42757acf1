#include "dxt_encoder.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace pelt::testing {

namespace {

std::uint16_t To565(const Rgba& c) {
  return static_cast<std::uint16_t>((c.r >> 3) << 11 | (c.g >> 2) << 5 | (c.b >> 3));
}

// Expanded by shifting, as pelt's decoder does.
Rgba From565(std::uint16_t w) {
  return Rgba{static_cast<std::uint8_t>((w >> 11 & 0x1F) << 3),
              static_cast<std::uint8_t>((w >> 5 & 0x3F) << 2),
              static_cast<std::uint8_t>((w & 0x1F) << 3), 255};
}

Rgba Mix(const Rgba& a, int wa, const Rgba& b, int wb) {
  const int d = wa + wb;
  return Rgba{static_cast<std::uint8_t>((wa * a.r + wb * b.r) / d),
              static_cast<std::uint8_t>((wa * a.g + wb * b.g) / d),
              static_cast<std::uint8_t>((wa * a.b + wb * b.b) / d), 255};
}

int ColourDistance(const Rgba& a, const Rgba& b) {
  const int dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
  return dr * dr + dg * dg + db * db;
}

// The colour half: endpoints, palette by mode, nearest index per pixel. `punch_through` selects
// the three-colour palette and sends pixels with alpha below 128 to index 3.
void PutColourHalf(Bytes* out, const Tile& tile, bool four_colour, bool punch_through) {
  Rgba lo{255, 255, 255, 255}, hi{0, 0, 0, 255};
  for (const Rgba& p : tile) {
    if (punch_through && p.a < 128) continue;
    lo = Rgba{std::min(lo.r, p.r), std::min(lo.g, p.g), std::min(lo.b, p.b), 255};
    hi = Rgba{std::max(hi.r, p.r), std::max(hi.g, p.g), std::max(hi.b, p.b), 255};
  }
  if (lo.r > hi.r) lo = hi = Rgba{0, 0, 0, 255};  // every pixel transparent
  std::uint16_t c0 = To565(hi), c1 = To565(lo);
  // The decoder picks the palette from the endpoint order: c0 > c1 gives four colours.
  if (punch_through) std::swap(c0, c1);
  const Rgba e0 = From565(c0), e1 = From565(c1);
  std::array<Rgba, 4> palette{e0, e1, Mix(e0, 2, e1, 1), Mix(e0, 1, e1, 2)};
  int usable = 4;
  if (!four_colour && c0 <= c1) {
    palette[2] = Mix(e0, 1, e1, 1);
    usable = 3;  // index 3 is the transparent entry
  }
  PutU16(out, c0);
  PutU16(out, c1);
  for (int row = 0; row < 4; ++row) {
    std::uint8_t bits = 0;
    for (int col = 0; col < 4; ++col) {
      const Rgba& p = tile[row * 4 + col];
      int best = 0;
      if (punch_through && p.a < 128) {
        best = 3;
      } else {
        int best_distance = std::numeric_limits<int>::max();
        for (int i = 0; i < usable; ++i) {
          const int d = ColourDistance(p, palette[i]);
          if (d < best_distance) best = i, best_distance = d;
        }
      }
      bits = static_cast<std::uint8_t>(bits | best << (2 * col));
    }
    out->push_back(bits);
  }
}

// DXT3: sixteen 4-bit alphas, one little-endian 16-bit word per row, pixel n in bits 4n.
void PutExplicitAlpha(Bytes* out, const Tile& tile) {
  for (int row = 0; row < 4; ++row) {
    std::uint16_t word = 0;
    for (int col = 0; col < 4; ++col)
      word = static_cast<std::uint16_t>(word | (tile[row * 4 + col].a >> 4) << (4 * col));
    PutU16(out, word);
  }
}

// DXT5: alpha0 the maximum, alpha1 the minimum (so the eight-alpha table), 3-bit indices packed
// little-endian into 48 bits, pixel n in bits 3n.
void PutInterpolatedAlpha(Bytes* out, const Tile& tile) {
  std::uint8_t a0 = 0, a1 = 255;
  for (const Rgba& p : tile) a0 = std::max(a0, p.a), a1 = std::min(a1, p.a);
  std::array<int, 8> table{a0, a1};
  for (int i = 2; i < 8; ++i) table[i] = ((8 - i) * a0 + (i - 1) * a1) / 7;
  std::uint64_t bits = 0;
  if (a0 != a1) {
    for (int n = 0; n < 16; ++n) {
      int best = 0, best_distance = 256;
      for (int i = 0; i < 8; ++i) {
        const int d = std::abs(tile[n].a - table[i]);
        if (d < best_distance) best = i, best_distance = d;
      }
      bits |= std::uint64_t(best) << (3 * n);
    }
  }
  out->push_back(a0);
  out->push_back(a1);
  for (int i = 0; i < 6; ++i) out->push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
}

}  // namespace

Bytes EncodeBlock(Fmt f, const Tile& tile) {
  Bytes out;
  switch (f) {
    case Fmt::kDxt1: {
      const bool punch_through =
          std::any_of(tile.begin(), tile.end(), [](const Rgba& p) { return p.a < 128; });
      PutColourHalf(&out, tile, /*four_colour=*/false, punch_through);
      break;
    }
    case Fmt::kDxt3:
      PutExplicitAlpha(&out, tile);
      PutColourHalf(&out, tile, /*four_colour=*/true, false);
      break;
    case Fmt::kDxt5:
      PutInterpolatedAlpha(&out, tile);
      PutColourHalf(&out, tile, /*four_colour=*/true, false);
      break;
  }
  return out;
}

Bytes EncodeSurface(Fmt f, const Image& image) {
  Bytes out;
  for (std::uint32_t by = 0; by < image.height; by += 4) {
    for (std::uint32_t bx = 0; bx < image.width; bx += 4) {
      Tile tile;
      for (std::uint32_t y = 0; y < 4; ++y)
        for (std::uint32_t x = 0; x < 4; ++x)
          tile[y * 4 + x] =
              image.at(std::min(bx + x, image.width - 1), std::min(by + y, image.height - 1));
      Append(&out, EncodeBlock(f, tile));
    }
  }
  return out;
}

Image Downscale(const Image& image) {
  Image out(std::max(1u, image.width / 2), std::max(1u, image.height / 2));
  for (std::uint32_t y = 0; y < out.height; ++y) {
    for (std::uint32_t x = 0; x < out.width; ++x) {
      int r = 0, g = 0, b = 0, a = 0, n = 0;
      for (std::uint32_t dy = 0; dy < 2; ++dy) {
        for (std::uint32_t dx = 0; dx < 2; ++dx) {
          const std::uint32_t sx = 2 * x + dx, sy = 2 * y + dy;
          if (sx >= image.width || sy >= image.height) continue;
          const Rgba& p = image.at(sx, sy);
          r += p.r, g += p.g, b += p.b, a += p.a, ++n;
        }
      }
      out.at(x, y) = Rgba{static_cast<std::uint8_t>(r / n), static_cast<std::uint8_t>(g / n),
                          static_cast<std::uint8_t>(b / n), static_cast<std::uint8_t>(a / n)};
    }
  }
  return out;
}

Bytes EncodeDds(Fmt f, const Image& image, bool mipmaps) {
  Bytes blocks = EncodeSurface(f, image);
  std::uint32_t levels = 1;
  if (mipmaps) {
    Image level = image;
    while (level.width > 1 || level.height > 1) {
      level = Downscale(level);
      Append(&blocks, EncodeSurface(f, level));
      ++levels;
    }
  }
  Bytes dds = DdsBuilder(image.width, image.height).Format(f).Data(std::move(blocks)).Build();
  if (mipmaps) {
    Patch32(&dds, 4 + 24, levels);                          // dwMipMapCount
    Patch32(&dds, 4 + 104, 0x1000u | 0x8u | 0x400000u);   // ddsCaps: texture, complex, mipmap
  }
  return dds;
}

Bytes EncodeTga(const Image& image) {
  Bytes out = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // no ID, no colour map, true-colour, x, y 0
  PutU16(&out, static_cast<std::uint16_t>(image.width));
  PutU16(&out, static_cast<std::uint16_t>(image.height));
  out.push_back(32);    // bits per pixel
  out.push_back(0x28);  // top-left origin, 8 alpha bits
  for (const Rgba& p : image.pixels) {
    out.push_back(p.b);
    out.push_back(p.g);
    out.push_back(p.r);
    out.push_back(p.a);
  }
  return out;
}

}  // namespace pelt::testing
