#include "dxt.h"

#include <array>

#include "byte_reader.h"
#include "dxt_simd.h"

namespace pelt {

// ---- the portable path -------------------------------------------------------------------------
//
// Each block's palette is built once as four ready pixel words (with the alpha already cleared
// for DXT3 and DXT5), the interpolated colour channels come from tables, and each pixel costs a
// shift, a mask, a load, for DXT3 and DXT5 an OR with its alpha, and a store.

namespace {

// kThird5[a << 5 | b] = (2 x (a << 3) + (b << 3)) / 3: the channel one third of the way from a to
// b, for 5-bit fields expanded by shifting. kThird6 likewise for the 6-bit green field.
template <int kBits>
constexpr std::array<std::uint8_t, (1 << (2 * kBits))> MakeThirds() {
  std::array<std::uint8_t, (1 << (2 * kBits))> t{};
  constexpr int kShift = 8 - kBits;
  for (int a = 0; a < (1 << kBits); ++a)
    for (int b = 0; b < (1 << kBits); ++b)
      t[a << kBits | b] = static_cast<std::uint8_t>((2 * (a << kShift) + (b << kShift)) / 3);
  return t;
}
alignas(64) constexpr std::array<std::uint8_t, 1024> kThird5 = MakeThirds<5>();
alignas(64) constexpr std::array<std::uint8_t, 4096> kThird6 = MakeThirds<6>();

// The alpha word of each DXT3 nibble: nibble x 17 in the alpha byte.
constexpr std::array<BgraPixel, 16> MakeNibbleAlphas() {
  std::array<BgraPixel, 16> t{};
  for (std::uint32_t n = 0; n < 16; ++n) t[n] = (n * 17) << 24;
  return t;
}
alignas(64) constexpr std::array<BgraPixel, 16> kNibbleAlpha = MakeNibbleAlphas();

constexpr BgraPixel kOpaque = 0xFF000000u;
// DXT1's transparent entry: red 0, green 255, blue 255, alpha 0.
constexpr BgraPixel kTransparent = 0x0000FFFFu;
// ANDed with a pixel word, clears its alpha and keeps red, green and blue.
constexpr BgraPixel kColourBits = 0x00FFFFFFu;

inline std::uint64_t LoadU64(const std::uint8_t* p) {
  return std::uint64_t{LoadU32(p)} | std::uint64_t{LoadU32(p + 4)} << 32;
}

// The palette of the colour half at `p` (two 5:6:5 endpoint words, col0 and col1), as pixel
// words. `by_endpoints`: a DXT1 block, which takes three colours and the transparent entry when
// col0 <= col1; otherwise four colours, the two between the endpoints at one and two thirds.
inline void GetColorBlockColors(const std::uint8_t* p, bool by_endpoints, BgraPixel pal[4]) {
  const std::uint32_t w0 = LoadU16(p), w1 = LoadU16(p + 2);
  const std::uint32_t r0 = w0 >> 11, g0 = (w0 >> 5) & 0x3F, b0 = w0 & 0x1F;
  const std::uint32_t r1 = w1 >> 11, g1 = (w1 >> 5) & 0x3F, b1 = w1 & 0x1F;
  // Expanded by shifting only: the low bits stay zero (0xFFFF gives 248, 252, 248).
  pal[0] = kOpaque | r0 << 19 | g0 << 10 | b0 << 3;
  pal[1] = kOpaque | r1 << 19 | g1 << 10 | b1 << 3;
  const BgraPixel two_thirds0 = kOpaque | BgraPixel{kThird5[r0 << 5 | r1]} << 16 |
                                BgraPixel{kThird6[g0 << 6 | g1]} << 8 | kThird5[b0 << 5 | b1];
  const BgraPixel two_thirds1 = kOpaque | BgraPixel{kThird5[r1 << 5 | r0]} << 16 |
                                BgraPixel{kThird6[g1 << 6 | g0]} << 8 | kThird5[b1 << 5 | b0];
  // ((r0 << 3) + (r1 << 3)) / 2 is exactly (r0 + r1) << 2, and green's (g0 + g1) << 1.
  const BgraPixel midpoint = kOpaque | (r0 + r1) << 18 | (g0 + g1) << 9 | (b0 + b1) << 2;
  // Chosen by mask rather than by branch: the mode of the next block is anyone's guess.
  const BgraPixel three = 0u - BgraPixel{by_endpoints && w0 <= w1};
  pal[2] = (midpoint & three) | (two_thirds0 & ~three);
  pal[3] = (kTransparent & three) | (two_thirds1 & ~three);
}

// The row decoders of each format, as DecodeBlockRowsWith. A DXT1 block is its colour half: the
// endpoints, then sixteen 2-bit indices, a byte per pixel row from the top, the leftmost pixel in
// bits 0-1. DXT3 and DXT5 blocks put an alpha half before a colour half that always takes four
// colours.
void DecompressDXT1(const std::uint8_t* s, std::uint32_t xblocks, std::uint32_t block_rows,
                    BgraPixel* out, std::size_t stride) {
  for (std::uint32_t by = 0; by < block_rows; ++by) {
    BgraPixel* row0 = out + std::size_t{by} * 4 * stride;
    for (std::uint32_t bx = 0; bx < xblocks; ++bx, s += 8) {
      BgraPixel pal[4];
      GetColorBlockColors(s, true, pal);
      std::uint32_t idx = LoadU32(s + 4);
      for (int r = 0; r < 4; ++r, idx >>= 8) {
        BgraPixel* o = row0 + r * stride + std::size_t{bx} * 4;
        o[0] = pal[idx & 3];
        o[1] = pal[(idx >> 2) & 3];
        o[2] = pal[(idx >> 4) & 3];
        o[3] = pal[(idx >> 6) & 3];
      }
    }
  }
}

// DXT3's alpha half: sixteen 4-bit alphas, pixel row r in the little-endian word at byte 2r,
// pixel n of the row in bits 4n..4n+3; an alpha is the nibble times 17.
void DecompressDXT3(const std::uint8_t* s, std::uint32_t xblocks, std::uint32_t block_rows,
                    BgraPixel* out, std::size_t stride) {
  for (std::uint32_t by = 0; by < block_rows; ++by) {
    BgraPixel* row0 = out + std::size_t{by} * 4 * stride;
    for (std::uint32_t bx = 0; bx < xblocks; ++bx, s += 16) {
      BgraPixel pal[4];
      GetColorBlockColors(s + 8, false, pal);
      for (BgraPixel& c : pal) c &= kColourBits;
      std::uint64_t alpha = LoadU64(s);
      std::uint32_t idx = LoadU32(s + 12);
      for (int r = 0; r < 4; ++r, idx >>= 8, alpha >>= 16) {
        BgraPixel* o = row0 + r * stride + std::size_t{bx} * 4;
        o[0] = pal[idx & 3] | kNibbleAlpha[alpha & 15];
        o[1] = pal[(idx >> 2) & 3] | kNibbleAlpha[(alpha >> 4) & 15];
        o[2] = pal[(idx >> 4) & 3] | kNibbleAlpha[(alpha >> 8) & 15];
        o[3] = pal[(idx >> 6) & 3] | kNibbleAlpha[(alpha >> 12) & 15];
      }
    }
  }
}

// DXT5's alpha half: alpha0, alpha1, then sixteen 3-bit indices into AlphaTable3BitLinear.
void DecompressDXT5(const std::uint8_t* s, std::uint32_t xblocks, std::uint32_t block_rows,
                    BgraPixel* out, std::size_t stride) {
  for (std::uint32_t by = 0; by < block_rows; ++by) {
    BgraPixel* row0 = out + std::size_t{by} * 4 * stride;
    for (std::uint32_t bx = 0; bx < xblocks; ++bx, s += 16) {
      BgraPixel pal[4];
      GetColorBlockColors(s + 8, false, pal);
      for (BgraPixel& c : pal) c &= kColourBits;
      BgraPixel alphas[8];
      AlphaTable3BitLinear(s[0], s[1], alphas);
      // The six index bytes as one 48-bit number: pixel (row, pix) in bits 3 x (4 row + pix).
      std::uint64_t bits = LoadU64(s) >> 16;
      std::uint32_t idx = LoadU32(s + 12);
      for (int r = 0; r < 4; ++r, idx >>= 8, bits >>= 12) {
        BgraPixel* o = row0 + r * stride + std::size_t{bx} * 4;
        o[0] = pal[idx & 3] | alphas[bits & 7];
        o[1] = pal[(idx >> 2) & 3] | alphas[(bits >> 3) & 7];
        o[2] = pal[(idx >> 4) & 3] | alphas[(bits >> 6) & 7];
        o[3] = pal[(idx >> 6) & 3] | alphas[(bits >> 9) & 7];
      }
    }
  }
}

}  // namespace

// ---- the choice among paths --------------------------------------------------------------------

bool PathSupported(DecodePath path) {
  switch (path) {
    case DecodePath::kPortable:
      return true;
#if defined(__x86_64__)
    // Both also check that the operating system saves the vector registers.
    case DecodePath::kSsse3:
      __builtin_cpu_init();
      return __builtin_cpu_supports("ssse3");
    case DecodePath::kAvx2:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2");
#else
    case DecodePath::kSsse3:
    case DecodePath::kAvx2:
      return false;
#endif
  }
  return false;
}

void DecodeBlockRowsWith(DecodePath path, DxtFormat format, const std::uint8_t* blocks,
                         std::uint32_t xblocks, std::uint32_t block_rows, BgraPixel* out,
                         std::size_t stride) {
#if defined(__x86_64__)
  switch (path) {
    case DecodePath::kPortable:
      break;
    case DecodePath::kSsse3:
      return simd::DecodeBlockRowsSsse3(format, blocks, xblocks, block_rows, out, stride);
    case DecodePath::kAvx2:
      return simd::DecodeBlockRowsAvx2(format, blocks, xblocks, block_rows, out, stride);
  }
#else
  (void)path;
#endif
  switch (format) {
    case DxtFormat::kDxt1:
      return DecompressDXT1(blocks, xblocks, block_rows, out, stride);
    case DxtFormat::kDxt3:
      return DecompressDXT3(blocks, xblocks, block_rows, out, stride);
    case DxtFormat::kDxt5:
      return DecompressDXT5(blocks, xblocks, block_rows, out, stride);
  }
}

void DecodeBlockRows(DxtFormat format, const std::uint8_t* blocks, std::uint32_t xblocks,
                     std::uint32_t block_rows, BgraPixel* out, std::size_t stride) {
  static const DecodePath best = PathSupported(DecodePath::kAvx2)    ? DecodePath::kAvx2
                                 : PathSupported(DecodePath::kSsse3) ? DecodePath::kSsse3
                                                                     : DecodePath::kPortable;
  DecodeBlockRowsWith(best, format, blocks, xblocks, block_rows, out, stride);
}

}  // namespace pelt
