#include "dds.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "byte_reader.h"
#include "dxt_paths.h"

namespace pelt {

// ---- records -----------------------------------------------------------------------------------

Color565 SplitColor565(std::uint16_t word) {
  return Color565{static_cast<std::uint8_t>(word & 0x1F),
                  static_cast<std::uint8_t>((word >> 5) & 0x3F),
                  static_cast<std::uint8_t>(word >> 11)};
}

DXTColBlock ReadColBlock(const std::uint8_t* p) {
  DXTColBlock b;
  b.col0 = LoadU16(p);
  b.col1 = LoadU16(p + 2);
  for (int r = 0; r < 4; ++r) b.row[r] = p[4 + r];
  return b;
}

DXTAlphaBlockExplicit ReadAlphaBlockExplicit(const std::uint8_t* p) {
  DXTAlphaBlockExplicit b;
  for (int r = 0; r < 4; ++r) b.row[r] = LoadU16(p + 2 * r);
  return b;
}

DXTAlphaBlock3BitLinear ReadAlphaBlock3BitLinear(const std::uint8_t* p) {
  DXTAlphaBlock3BitLinear b;
  b.alpha0 = p[0];
  b.alpha1 = p[1];
  for (int i = 0; i < 6; ++i) b.stuff[i] = p[2 + i];
  return b;
}

DDSURFACEDESC2 ReadSurfaceDesc(std::span<const std::uint8_t, kDdsSurfaceDescSize> bytes) {
  const std::uint8_t* p = bytes.data();
  DDSURFACEDESC2 d;
  d.dwSize = LoadU32(p + 0);
  d.dwFlags = LoadU32(p + 4);
  d.dwHeight = LoadU32(p + 8);
  d.dwWidth = LoadU32(p + 12);
  d.dwLinearSize = LoadU32(p + 16);
  d.dwDepth = LoadU32(p + 20);
  d.dwMipMapCount = LoadU32(p + 24);
  d.dwAlphaBitDepth = LoadU32(p + 28);
  d.dwReserved = LoadU32(p + 32);
  d.lpSurface = LoadU32(p + 36);
  DDCOLORKEY* keys[] = {&d.ddckCKDestOverlay, &d.ddckCKDestBlt, &d.ddckCKSrcOverlay,
                        &d.ddckCKSrcBlt};
  for (int i = 0; i < 4; ++i) {
    keys[i]->dwColorSpaceLowValue = LoadU32(p + 40 + 8 * i);
    keys[i]->dwColorSpaceHighValue = LoadU32(p + 44 + 8 * i);
  }
  DDPIXELFORMAT& pf = d.ddpfPixelFormat;
  pf.dwSize = LoadU32(p + 72);
  pf.dwFlags = LoadU32(p + 76);
  pf.dwFourCC = LoadU32(p + 80);
  pf.dwRGBBitCount = LoadU32(p + 84);
  pf.dwRBitMask = LoadU32(p + 88);
  pf.dwGBitMask = LoadU32(p + 92);
  pf.dwBBitMask = LoadU32(p + 96);
  pf.dwRGBAlphaBitMask = LoadU32(p + 100);
  d.ddsCaps.dwCaps = LoadU32(p + 104);
  d.ddsCaps.dwCaps2 = LoadU32(p + 108);
  d.ddsCaps.dwCaps3 = LoadU32(p + 112);
  d.ddsCaps.dwCaps4 = LoadU32(p + 116);
  d.dwTextureStage = LoadU32(p + 120);
  return d;
}

const char* FormatName(DxtFormat f) {
  switch (f) {
    case DxtFormat::kDxt1:
      return "DXT1";
    case DxtFormat::kDxt3:
      return "DXT3";
    case DxtFormat::kDxt5:
      return "DXT5";
  }
  return "?";
}

// ---- block decoders, one block at a time -------------------------------------------------------

void GetColorBlockColors(const DXTColBlock& block, PaletteMode mode, Color8888* col_0,
                         Color8888* col_1, Color8888* col_2, Color8888* col_3) {
  // 5:6:5 expanded by shifting only: the low bits stay zero (0xFFFF gives 248, 252, 248).
  const auto expand = [](std::uint16_t word) {
    const Color565 c = SplitColor565(word);
    return Color8888{static_cast<std::uint8_t>(c.nRed << 3),
                     static_cast<std::uint8_t>(c.nGreen << 2),
                     static_cast<std::uint8_t>(c.nBlue << 3), 255};
  };
  const Color8888 c0 = expand(block.col0);
  const Color8888 c1 = expand(block.col1);
  *col_0 = c0;
  *col_1 = c1;
  // Truncating division, no bias: the sums are at most 756, the results at most 252.
  const auto third = [](int near, int far) {
    return static_cast<std::uint8_t>((2 * near + far) / 3);
  };
  const auto half = [](int x, int y) { return static_cast<std::uint8_t>((x + y) / 2); };
  if (mode == PaletteMode::kFourColour || block.col0 > block.col1) {
    *col_2 = Color8888{third(c0.r, c1.r), third(c0.g, c1.g), third(c0.b, c1.b), 255};
    *col_3 = Color8888{third(c1.r, c0.r), third(c1.g, c0.g), third(c1.b, c0.b), 255};
  } else {
    *col_2 = Color8888{half(c0.r, c1.r), half(c0.g, c1.g), half(c0.b, c1.b), 255};
    *col_3 = Color8888{0, 255, 255, 0};  // the transparent entry
  }
}

void DecodeColorBlock(BgraPixel* pImPos, const DXTColBlock& block, std::size_t stride,
                      const Color8888& col_0, const Color8888& col_1, const Color8888& col_2,
                      const Color8888& col_3) {
  static constexpr std::uint32_t kMasks[4] = {0x03, 0x0C, 0x30, 0xC0};
  static constexpr int kShift[4] = {0, 2, 4, 6};
  const BgraPixel words[4] = {PackBgra(col_0), PackBgra(col_1), PackBgra(col_2), PackBgra(col_3)};
  for (int r = 0; r < 4; ++r) {
    BgraPixel* out = pImPos + r * stride;
    for (int n = 0; n < 4; ++n) {
      const std::uint32_t bits = (block.row[r] & kMasks[n]) >> kShift[n];
      out[n] = words[bits];
    }
  }
}

void DecodeAlphaExplicit(BgraPixel* pImPos, const DXTAlphaBlockExplicit& block, std::size_t stride,
                         BgraPixel mask) {
  Color8888 col;  // an alpha-only pixel: r, g, b stay 0
  for (int row = 0; row < 4; ++row) {
    BgraPixel* out = pImPos + row * stride;
    std::uint16_t wrd = block.row[row];
    for (int pix = 0; pix < 4; ++pix) {
      out[pix] &= mask;
      const std::uint8_t nibble = wrd & 0x0F;
      col.a = static_cast<std::uint8_t>(nibble | nibble << 4);  // nibble x 17
      out[pix] |= PackBgra(col);
      wrd = static_cast<std::uint16_t>(wrd >> 4);
    }
  }
}

std::array<std::uint8_t, 8> AlphaTable3BitLinear(std::uint8_t alpha0, std::uint8_t alpha1) {
  std::array<std::uint8_t, 8> t{};
  const int a0 = alpha0, a1 = alpha1;
  t[0] = alpha0;
  t[1] = alpha1;
  if (alpha0 > alpha1) {  // eight alphas
    for (int k = 2; k <= 7; ++k)
      t[k] = static_cast<std::uint8_t>(((8 - k) * a0 + (k - 1) * a1) / 7);
  } else {  // six alphas, then fully transparent and fully opaque
    for (int k = 2; k <= 5; ++k)
      t[k] = static_cast<std::uint8_t>(((6 - k) * a0 + (k - 1) * a1) / 5);
    t[6] = 0;
    t[7] = 255;
  }
  return t;
}

void DecodeAlpha3BitLinear(BgraPixel* pImPos, const DXTAlphaBlock3BitLinear& block,
                           std::size_t stride, BgraPixel mask) {
  const std::array<std::uint8_t, 8> alphas = AlphaTable3BitLinear(block.alpha0, block.alpha1);
  // Two groups of three bytes, each a 24-bit little-endian number of eight 3-bit indices: rows 0
  // and 1, then rows 2 and 3.
  std::uint8_t bits[4][4];
  for (int group = 0; group < 2; ++group) {
    const std::uint8_t* s = &block.stuff[3 * group];
    std::uint32_t word = std::uint32_t{s[0]} | std::uint32_t{s[1]} << 8 | std::uint32_t{s[2]} << 16;
    for (int n = 0; n < 8; ++n) {
      bits[2 * group + n / 4][n % 4] = static_cast<std::uint8_t>(word & 7);
      word >>= 3;
    }
  }
  // Every alpha-only pixel is built before the first pixel of the buffer is touched.
  BgraPixel acol[4][4];
  for (int row = 0; row < 4; ++row)
    for (int pix = 0; pix < 4; ++pix)
      acol[row][pix] = PackBgra(Color8888{0, 0, 0, alphas[bits[row][pix]]});
  for (int row = 0; row < 4; ++row) {
    BgraPixel* out = pImPos + row * stride;
    for (int pix = 0; pix < 4; ++pix) out[pix] = (out[pix] & mask) | acol[row][pix];
  }
}

// ---- rows of blocks, the fast portable path ----------------------------------------------------
//
// The same arithmetic as the block decoders above, arranged for speed: each block's palette is
// built once as four ready pixel words (with the alpha already cleared for DXT3 and DXT5), the
// interpolated colour channels come from tables, and each pixel costs a shift, a mask, a load,
// for DXT3 and DXT5 an OR with its alpha, and a store.

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
constexpr BgraPixel kTransparent = PackBgra(Color8888{0, 255, 255, 0});

inline std::uint64_t LoadU64(const std::uint8_t* p) {
  return std::uint64_t{LoadU32(p)} | std::uint64_t{LoadU32(p + 4)} << 32;
}

// The palette of the colour half at `p`, as pixel words. `by_endpoints`: a DXT1 block, which
// takes three colours and the transparent entry when col0 <= col1.
inline void BuildPalette(const std::uint8_t* p, bool by_endpoints, BgraPixel pal[4]) {
  const std::uint32_t w0 = LoadU16(p), w1 = LoadU16(p + 2);
  const std::uint32_t r0 = w0 >> 11, g0 = (w0 >> 5) & 0x3F, b0 = w0 & 0x1F;
  const std::uint32_t r1 = w1 >> 11, g1 = (w1 >> 5) & 0x3F, b1 = w1 & 0x1F;
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

void RowsDxt1(const std::uint8_t* s, std::uint32_t xblocks, std::uint32_t block_rows,
              BgraPixel* out, std::size_t stride) {
  for (std::uint32_t by = 0; by < block_rows; ++by) {
    BgraPixel* row0 = out + std::size_t{by} * 4 * stride;
    for (std::uint32_t bx = 0; bx < xblocks; ++bx, s += 8) {
      BgraPixel pal[4];
      BuildPalette(s, true, pal);
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

void RowsDxt3(const std::uint8_t* s, std::uint32_t xblocks, std::uint32_t block_rows,
              BgraPixel* out, std::size_t stride) {
  for (std::uint32_t by = 0; by < block_rows; ++by) {
    BgraPixel* row0 = out + std::size_t{by} * 4 * stride;
    for (std::uint32_t bx = 0; bx < xblocks; ++bx, s += 16) {
      BgraPixel pal[4];
      BuildPalette(s + 8, false, pal);
      for (BgraPixel& c : pal) c &= alphazero;
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

// The eight alpha words of a DXT5 alpha half, as AlphaTable3BitLinear gives them but shifted
// into the alpha byte, built without a branch on the mode. The numerators (8 - k) a0 + (k - 1) a1
// (eight alphas) and (6 - k) a0 + (k - 1) a1 (six) both grow by a1 - a0 from entry to entry; the
// division by 7 or 5 is a multiplication by 9363 or 13108 and a shift by 16, which gives the
// truncated quotient exactly for numerators up to 1785 and 1275, the largest that occur.
inline void BuildAlphas(std::uint32_t a0, std::uint32_t a1, BgraPixel t[8]) {
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

void RowsDxt5(const std::uint8_t* s, std::uint32_t xblocks, std::uint32_t block_rows,
              BgraPixel* out, std::size_t stride) {
  for (std::uint32_t by = 0; by < block_rows; ++by) {
    BgraPixel* row0 = out + std::size_t{by} * 4 * stride;
    for (std::uint32_t bx = 0; bx < xblocks; ++bx, s += 16) {
      BgraPixel pal[4];
      BuildPalette(s + 8, false, pal);
      for (BgraPixel& c : pal) c &= alphazero;
      BgraPixel alphas[8];
      BuildAlphas(s[0], s[1], alphas);
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

void DecodeBlockRowsPortable(DxtFormat format, const std::uint8_t* blocks, std::uint32_t xblocks,
                             std::uint32_t block_rows, BgraPixel* out, std::size_t stride) {
  switch (format) {
    case DxtFormat::kDxt1:
      return RowsDxt1(blocks, xblocks, block_rows, out, stride);
    case DxtFormat::kDxt3:
      return RowsDxt3(blocks, xblocks, block_rows, out, stride);
    case DxtFormat::kDxt5:
      return RowsDxt5(blocks, xblocks, block_rows, out, stride);
  }
}

// ---- checks ------------------------------------------------------------------------------------

namespace {

// A FourCC as its four characters in quotes when they are all printable, otherwise in hex.
std::string FourCCText(std::uint32_t code) {
  char text[16] = {'"'};
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<unsigned char>(code >> (8 * i));
    if (c < 0x20 || c > 0x7E) {
      std::snprintf(text, sizeof text, "0x%08X", code);
      return text;
    }
    text[1 + i] = static_cast<char>(c);
  }
  text[5] = '"';
  return std::string(text, 6);
}

// ceil(pixels / 4), without the overflow of (pixels + 3) / 4.
std::uint32_t BlocksAcross(std::uint32_t pixels) { return pixels / 4 + (pixels % 4 != 0 ? 1 : 0); }

// The checks of the surface's size and its data, for a known format.
Result<DdsSurface> CheckShape(DxtFormat format, std::uint32_t width, std::uint32_t height,
                              std::uint64_t data_size) {
  if (width == 0 || height == 0 || width > kMaxSurfaceSide || height > kMaxSurfaceSide) {
    return Status::Corrupt("surface is " + std::to_string(width) + "x" + std::to_string(height) +
                           "; width and height must be 1 to " + std::to_string(kMaxSurfaceSide));
  }
  DdsSurface s;
  s.format = format;
  s.width = width;
  s.height = height;
  s.xblocks = BlocksAcross(width);
  s.yblocks = BlocksAcross(height);
  // At most 16384 x 16384 blocks of 16 bytes: no overflow in 64 bits.
  s.block_bytes = std::uint64_t{s.xblocks} * s.yblocks * BlockSize(format);
  if (data_size < s.block_bytes) {
    return Status::Corrupt("block data is " + std::to_string(data_size) + " bytes; a " +
                           std::to_string(width) + "x" + std::to_string(height) + " " +
                           FormatName(format) + " surface needs " + std::to_string(s.block_bytes));
  }
  return s;
}

}  // namespace

Result<DdsSurface> CheckSurface(const DDSURFACEDESC2& ddsd, std::uint64_t data_size) {
  const std::uint32_t fourcc = ddsd.ddpfPixelFormat.dwFourCC;
  DxtFormat format;
  switch (fourcc) {
    case kFourCCDxt1:
      format = DxtFormat::kDxt1;
      break;
    case kFourCCDxt3:
      format = DxtFormat::kDxt3;
      break;
    case kFourCCDxt5:
      format = DxtFormat::kDxt5;
      break;
    default:
      return Status::Unsupported("unsupported format " + FourCCText(fourcc));
  }
  return CheckShape(format, ddsd.dwWidth, ddsd.dwHeight, data_size);
}

Result<DdsSurface> CheckDdsEntry(std::span<const std::uint8_t> head, std::uint64_t entry_size) {
  if (entry_size < kDdsHeaderSize || head.size() < kDdsHeaderSize) {
    return Status::Corrupt(
        "DDS entry is " + std::to_string(std::min<std::uint64_t>(entry_size, head.size())) +
        " bytes, shorter than its " + std::to_string(kDdsHeaderSize) + "-byte header");
  }
  // The magic (the first 4 bytes) is never compared.
  const DDSURFACEDESC2 ddsd =
      ReadSurfaceDesc(head.subspan(kDdsMagicSize).first<kDdsSurfaceDescSize>());
  return CheckSurface(ddsd, entry_size - kDdsHeaderSize);
}

// ---- whole surfaces ----------------------------------------------------------------------------

namespace {

// Decodes the surface into width x height pixels, clipping the blocks of the right and bottom
// edges. Block rows that fit whole are decoded in place; the others go through a band buffer as
// wide as the blocks and are copied out clipped.
std::vector<BgraPixel> DecompressSurface(DxtFormat format, const DDSURFACEDESC2& ddsd,
                                         std::span<const std::uint8_t> s) {
  const Result<DdsSurface> checked = CheckShape(format, ddsd.dwWidth, ddsd.dwHeight, s.size());
  if (!checked.ok()) return {};  // not a surface this tool decodes, or too little data
  const DdsSurface& surf = *checked;
  const std::size_t width = surf.width;
  std::vector<BgraPixel> pixels(width * surf.height);
  const std::size_t row_bytes = std::size_t{surf.xblocks} * BlockSize(format);

  // Whole block rows straight into the result when no column needs clipping.
  std::uint32_t direct_rows = 0;
  if (width % 4 == 0) {
    direct_rows = surf.height / 4;
    DecodeBlockRows(format, s.data(), surf.xblocks, direct_rows, pixels.data(), width);
  }
  if (direct_rows == surf.yblocks) return pixels;

  const std::size_t stride = std::size_t{surf.xblocks} * 4;
  constexpr std::uint32_t kBandRows = 16;
  std::vector<BgraPixel> band(stride * 4 * std::min(kBandRows, surf.yblocks - direct_rows));
  for (std::uint32_t by = direct_rows; by < surf.yblocks; by += kBandRows) {
    const std::uint32_t rows = std::min(kBandRows, surf.yblocks - by);
    DecodeBlockRows(format, s.data() + by * row_bytes, surf.xblocks, rows, band.data(), stride);
    const std::size_t y0 = std::size_t{by} * 4;
    const std::size_t out_rows = std::min<std::size_t>(std::size_t{rows} * 4, surf.height - y0);
    for (std::size_t r = 0; r < out_rows; ++r)
      std::memcpy(&pixels[(y0 + r) * width], &band[r * stride], width * sizeof(BgraPixel));
  }
  return pixels;
}

}  // namespace

std::vector<BgraPixel> DecompressDXT1(const DDSURFACEDESC2& ddsd, std::span<const std::uint8_t> s) {
  return DecompressSurface(DxtFormat::kDxt1, ddsd, s);
}
std::vector<BgraPixel> DecompressDXT3(const DDSURFACEDESC2& ddsd, std::span<const std::uint8_t> s) {
  return DecompressSurface(DxtFormat::kDxt3, ddsd, s);
}
std::vector<BgraPixel> DecompressDXT5(const DDSURFACEDESC2& ddsd, std::span<const std::uint8_t> s) {
  return DecompressSurface(DxtFormat::kDxt5, ddsd, s);
}

Result<std::vector<BgraPixel>> Decompress(const DDSURFACEDESC2& ddsd,
                                          std::span<const std::uint8_t> s) {
  const Result<DdsSurface> checked = CheckSurface(ddsd, s.size());
  if (!checked.ok()) return checked.status();
  switch (checked->format) {
    case DxtFormat::kDxt1:
      return DecompressDXT1(ddsd, s);
    case DxtFormat::kDxt3:
      return DecompressDXT3(ddsd, s);
    case DxtFormat::kDxt5:
      return DecompressDXT5(ddsd, s);
  }
  return Status::Unsupported("unsupported format");
}

}  // namespace pelt
