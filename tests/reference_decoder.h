// A plain decoder of DXT1, DXT3 and DXT5 blocks, one pixel at a time, written from the formats'
// rules alone and sharing no code with pelt's decoders, the check that holds every decoding path
// to it, and the TGA file pelt makes of a DDS entry.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "byte_reader.h"
#include "dxt.h"
#include "dxt_format.h"
#include "testutil.h"

namespace pelt::testing {

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
      if (f == DxtFormat::kDxt5) {
        // Index n of the sixteen 3-bit indices lies at bit 3n of the six bytes after the alphas.
        const unsigned a0 = b[0], a1 = b[1], n = 3 * (4 * py + px);
        const unsigned k = ((b[2 + n / 8] | b[3 + n / 8] << 8) >> n % 8) & 7;
        p[3] = k < 2     ? b[k]
               : a0 > a1 ? ((8 - k) * a0 + (k - 1) * a1) / 7
               : k < 6   ? ((6 - k) * a0 + (k - 1) * a1) / 5
                         : (k == 6 ? 0 : 255);
      }
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

// The TGA file pelt makes of a whole DDS entry `dds`: type 2, the sides, 32 bits, `descriptor`,
// then the reference decoder's pixels, the top row first.
inline Bytes ReferenceTga(const Bytes& dds, std::uint8_t descriptor = 0x2F) {
  const std::uint32_t h = LoadU32(&dds[12]);
  const std::uint32_t w = LoadU32(&dds[16]);
  const auto f = static_cast<DxtFormat>((dds[87] - '1') / 2);  // the FourCC's last character
  return TgaEntry{.depth = 32,
                  .descriptor = descriptor,
                  .width = static_cast<std::uint16_t>(w),
                  .height = static_cast<std::uint16_t>(h),
                  .data = ReferenceDecode(f, &dds[128], w, h)}
      .Build();
}

}  // namespace pelt::testing
