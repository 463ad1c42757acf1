// The DXT block formats of DDS entries: each codes a 4 x 4 tile of pixels in a block of 8 bytes
// (DXT1) or 16 bytes (DXT3, DXT5), and decodes to the pixel words below. The DDS checks and the
// decoders both build on this header, and on nothing of each other; DXT5's alpha palette serves
// the ATI1 and ATI2 decoders too, whose blocks are DXT5 alpha halves.
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

// The eight alpha words a DXT5 alpha half's 3-bit indices select, shifted into the alpha byte:
// alpha0, alpha1, then ((8 - k) alpha0 + (k - 1) alpha1) / 7 for k = 2..7 when alpha0 > alpha1,
// otherwise ((6 - k) alpha0 + (k - 1) alpha1) / 5 for k = 2..5, 0 and 255. Built without a branch
// on the mode: the numerators grow by alpha1 - alpha0 from entry to entry in both; the division
// by 7 or 5 is a multiplication by 9363 or 13108 and a shift by 16, which gives the truncated
// quotient exactly for numerators up to 1785 and 1275, the largest that occur.
inline void AlphaTable3BitLinear(std::uint32_t a0, std::uint32_t a1, BgraPixel t[8]) {
  const bool eight = a0 > a1;
  const std::int32_t step = static_cast<std::int32_t>(a1) - static_cast<std::int32_t>(a0);
  const std::int32_t recip = eight ? 9363 : 13108;
  std::int32_t n = static_cast<std::int32_t>((eight ? 6 : 4) * a0 + a1);
  t[0] = a0 << 24;
  t[1] = a1 << 24;
  for (int k = 2; k <= 7; ++k, n += step) t[k] = static_cast<BgraPixel>((n * recip) >> 16) << 24;
  const BgraPixel keep = 0u - BgraPixel{eight};  // all ones in eight-alpha mode
  t[6] &= keep;                                  // six alphas: 0
  t[7] |= ~keep & 0xFF000000u;                   // six alphas: 255
}

}  // namespace pelt
