// A plain decoder of DXT1, DXT3 and DXT5 blocks, one pixel at a time, written from the formats'
// rules alone and sharing no code with pelt's decoders, the check that holds every decoding path
// to it; on it, a decoder of whole DDS entries of every format pelt reads (premultiplied DXT2 and
// DXT4, one- and two-channel ATI1 and ATI2, bit masks and Direct3D format numbers); and the TGA
// file pelt makes of a DDS entry.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "byte_reader.h"
#include "dxt.h"
#include "dxt_format.h"
#include "testutil.h"

namespace pelt::testing {

// Pixel i (row by row) of the 4 x 4 tile of the DXT5 alpha block `b`: two alphas, then sixteen
// 3-bit indices, index i at bit 3i of the six bytes after the alphas.
inline unsigned ReferenceAlpha(const std::uint8_t* b, std::size_t i) {
  std::uint64_t indices = 0;
  for (int j = 7; j >= 2; --j) indices = indices << 8 | b[j];
  const unsigned a0 = b[0], a1 = b[1], k = (indices >> 3 * i) & 7;
  return k < 2     ? b[k]
         : a0 > a1 ? ((8 - k) * a0 + (k - 1) * a1) / 7
         : k < 6   ? ((6 - k) * a0 + (k - 1) * a1) / 5
                   : (k == 6 ? 0 : 255);
}

// A width x height surface as blue, green, red, alpha bytes, top row first, from `blocks`:
// ceil(width / 4) x ceil(height / 4) blocks, rows of blocks from the top, edge blocks clipped.
inline std::vector<std::uint8_t> ReferenceDecode(DxtFormat f, const std::uint8_t* blocks,
                                                 std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> out;
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < width; ++x) {
      const std::uint8_t* b = blocks + ((y / 4) * ((width + 3) / 4) + x / 4) * BlockSize(f);
      const std::size_t px = x % 4, py = y % 4;                   // the pixel in its tile
      const std::uint8_t* c = f == DxtFormat::kDxt1 ? b : b + 8;  // the colour half
      const unsigned w0 = c[0] | c[1] << 8, w1 = c[2] | c[3] << 8, i = (c[4 + py] >> 2 * px) & 3;
      // Blue, green, red of each endpoint: the 5:6:5 fields shifted to the top of the byte.
      const unsigned e0[3] = {(w0 & 31) << 3, ((w0 >> 5) & 63) << 2, (w0 >> 11) << 3};
      const unsigned e1[3] = {(w1 & 31) << 3, ((w1 >> 5) & 63) << 2, (w1 >> 11) << 3};
      const bool four = f != DxtFormat::kDxt1 || w0 > w1;  // four colours, else three
      unsigned p[4] = {0, 0, 0, four || i != 3 ? 255u : 0u};
      for (int k = 0; k < 3; ++k) {
        const unsigned u = e0[k], v = e1[k];
        // The transparent entry of three-colour blocks: blue and green 255, red and alpha 0.
        const unsigned palette[4] = {u, v, four ? (2 * u + v) / 3 : (u + v) / 2,
                                     four ? (u + 2 * v) / 3 : (k < 2 ? 255u : 0u)};
        p[k] = palette[i];
      }
      if (f == DxtFormat::kDxt3) p[3] = ((b[2 * py + px / 2] >> 4 * (px % 2)) & 15) * 17;
      if (f == DxtFormat::kDxt5) p[3] = ReferenceAlpha(b, 4 * py + px);
      for (unsigned v : p) out.push_back(static_cast<std::uint8_t>(v));
    }
  }
  return out;
}

// Decodes `blocks` (xblocks x yblocks) through every supported path into rows of `stride` pixels
// that start `lead` pixels into a buffer of marked pixels. Returns the first path whose rows are
// not what the reference decodes, or that marks a pixel outside them, as a number; -1 when none.
inline int FirstPathUnlikeReference(DxtFormat f, const std::uint8_t* blocks, std::uint32_t xblocks,
                                    std::uint32_t yblocks, std::size_t stride, std::size_t lead) {
  const std::vector<std::uint8_t> ref = ReferenceDecode(f, blocks, 4 * xblocks, 4 * yblocks);
  std::vector<std::uint8_t> want((lead + 4 * yblocks * stride + 8) * 4, 0x5A);
  for (std::size_t y = 0; y < 4 * yblocks; ++y)
    std::copy_n(&ref[y * 16 * xblocks], 16 * xblocks, &want[(lead + y * stride) * 4]);
  for (DecodePath path : {DecodePath::kPortable, DecodePath::kSsse3, DecodePath::kAvx2}) {
    if (!PathSupported(path)) continue;
    std::vector<BgraPixel> got(want.size() / 4, 0x5A5A5A5A);
    DecodeBlockRowsWith(path, f, blocks, xblocks, yblocks, got.data() + lead, stride);
    if (!std::equal(want.begin(), want.end(), reinterpret_cast<const std::uint8_t*>(got.data())))
      return static_cast<int>(path);
  }
  return -1;
}

}  // namespace pelt::testing

namespace pelt::testing {

// The field of `px` under a mask of one run of n 1 bits as 8 bits: its bits from the top,
// repeated while n < 8 (abcde gives abcdeabc), the top 8 when n > 8.
inline std::uint8_t Field(std::uint32_t px, std::uint32_t mask) {
  const int n = std::popcount(mask);
  const std::uint32_t v = (px & mask) >> std::countr_zero(mask);
  unsigned e = 0;
  for (int k = 0; k < 8; ++k) e = e << 1 | ((v >> (n - 1 - k % n)) & 1);
  return static_cast<std::uint8_t>(e);
}

// A whole DDS entry's width x height pixels as blue, green, red, alpha bytes, top row first;
// nothing when pelt refuses the entry (unsupported, or corrupt).
inline std::optional<Bytes> ReferenceDecodeDds(const Bytes& dds) {
  if (dds.size() < 128) return std::nullopt;
  const std::uint32_t h = LoadU32(&dds[12]);
  const std::uint32_t w = LoadU32(&dds[16]);
  const std::string cc(dds.begin() + 84, dds.begin() + 88);
  const std::uint8_t* data = dds.data() + 128;
  const std::uint64_t have = dds.size() - 128;
  const std::uint64_t tiles = BlocksFor(w, h);
  if (w < 1 || w > 65535 || h < 1 || h > 65535) return std::nullopt;
  Bytes out;
  if (cc.starts_with("DXT") && cc[3] >= '1' && cc[3] <= '5') {
    const int n = cc[3] - '1';  // DXT2 and DXT4 as DXT3 and DXT5, then un-premultiplied
    const auto f = static_cast<DxtFormat>((n + 1) / 2);
    if (have < tiles * BlockSize(f)) return std::nullopt;
    out = ReferenceDecode(f, data, w, h);
    for (std::size_t i = 0; n % 2 == 1 && i < out.size(); i += 4) {
      const unsigned a = out[i + 3];
      for (std::size_t k = i; a > 0 && k < i + 3; ++k)
        out[k] = static_cast<std::uint8_t>(std::min(255u, (out[k] * 255u + a / 2) / a));
    }
    return out;
  }
  const bool two = cc == "ATI2" || cc == "BC5U";  // red and green of a normal, blue its Z
  if (two || cc == "ATI1" || cc == "BC4U") {
    if (have < tiles * (two ? 16 : 8)) return std::nullopt;
    for (std::size_t y = 0; y < h; ++y) {
      for (std::size_t x = 0; x < w; ++x) {
        const std::uint8_t* b = data + ((y / 4) * ((w + 3) / 4) + x / 4) * (two ? 16 : 8);
        const int r = ReferenceAlpha(b, 4 * (y % 4) + x % 4);
        const int g = two ? ReferenceAlpha(b + 8, 4 * (y % 4) + x % 4) : r;
        const int dx = 2 * r - 255, dy = 2 * g - 255;
        int z = 0;  // the integer square root of 65025 - dx^2 - dy^2, 0 when that is negative
        while ((z + 1) * (z + 1) <= 65025 - dx * dx - dy * dy) ++z;
        for (int v : {two ? (z + 256) >> 1 : r, g, r, 255})
          out.push_back(static_cast<std::uint8_t>(v));
      }
    }
    return out;
  }
  // The Direct3D format numbers: bit count, masks red (luminance from 50), green, blue, alpha.
  constexpr std::uint32_t kD3d[][6] = {{20, 24, 0xFF0000, 0xFF00, 0xFF},
                                       {21, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000},
                                       {22, 32, 0xFF0000, 0xFF00, 0xFF},
                                       {23, 16, 0xF800, 0x7E0, 0x1F},
                                       {24, 16, 0x7C00, 0x3E0, 0x1F},
                                       {25, 16, 0x7C00, 0x3E0, 0x1F, 0x8000},
                                       {26, 16, 0xF00, 0xF0, 0xF, 0xF000},
                                       {27, 8, 0xE0, 0x1C, 0x3},
                                       {28, 8, 0, 0, 0, 0xFF},
                                       {29, 16, 0xE0, 0x1C, 0x3, 0xFF00},
                                       {30, 16, 0xF00, 0xF0, 0xF},
                                       {31, 32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000},
                                       {32, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000},
                                       {33, 32, 0xFF, 0xFF00, 0xFF0000},
                                       {34, 32, 0xFFFF, 0xFFFF0000},
                                       {35, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000},
                                       {50, 8, 0xFF},
                                       {51, 16, 0xFF, 0, 0, 0xFF00},
                                       {52, 8, 0xF, 0, 0, 0xF0},
                                       {81, 16, 0xFFFF}};
  std::uint32_t p[7];  // flags, FourCC, bit count, masks red, green, blue, alpha
  for (int i = 0; i < 7; ++i) p[i] = LoadU32(&dds[80 + 4 * i]);
  if (p[1] != 0) {
    const auto* row = std::ranges::find(kD3d, p[1], [](const auto& r) { return r[0]; });
    if (row == std::end(kD3d)) return std::nullopt;
    p[0] = p[1] == 28 ? 1 : p[1] >= 50 ? 0x20001 : 0x41;  // A, or L or RGB; with alpha pixels
    std::copy_n(*row, 6, &p[1]);
  }
  // The masks read for blue, green, red and alpha: with RGB (0x40) the three colours, otherwise
  // with luminance (0x20000) red thrice; alpha with alpha (0x2) or alpha pixels (0x1); 0 for none.
  const bool rgb = p[0] & 0x40;
  const std::uint32_t l = rgb || (p[0] & 0x20000) ? p[3] : 0;
  const std::uint32_t m[4] = {rgb ? p[5] : l, rgb ? p[4] : l, l, p[0] & 3 ? p[6] : 0};
  bool ok = p[2] % 8 == 0 && p[2] >= 8 && p[2] <= 32 && (m[0] | m[1] | m[2] | m[3]) != 0;
  for (std::uint32_t mask : m) {  // one run of 1 bits (or none) inside the bit count
    const std::uint32_t run = mask >> std::countr_zero(mask | 0x80000000u);
    ok = ok && (run & (run + 1)) == 0 && std::uint64_t{mask} >> p[2] == 0;
  }
  const std::size_t size = p[2] / 8;
  if (!ok || have < std::uint64_t{w} * h * size) return std::nullopt;
  for (std::size_t i = 0; i < std::size_t{w} * h; ++i) {
    std::uint32_t px = 0;  // little-endian, rows unpadded
    for (std::size_t k = 0; k < size; ++k) px |= std::uint32_t{data[i * size + k]} << 8 * k;
    for (int c = 0; c < 4; ++c) out.push_back(m[c] ? Field(px, m[c]) : c == 3 ? 255 : 0);
  }
  return out;
}

// The TGA file pelt makes of a whole DDS entry `dds` that it accepts: type 2, the sides, 32 bits,
// `descriptor`, then the reference decoder's pixels, the top row first.
inline Bytes ReferenceTga(const Bytes& dds, std::uint8_t descriptor = 0x2F) {
  return TgaEntry{.depth = 32,
                  .descriptor = descriptor,
                  .width = static_cast<std::uint16_t>(LoadU32(&dds[16])),
                  .height = static_cast<std::uint16_t>(LoadU32(&dds[12])),
                  .data = ReferenceDecodeDds(dds).value()}
      .Build();
}

}  // namespace pelt::testing
