#include "decode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

#include "byte_reader.h"
#include "dxt.h"

namespace pelt {

namespace {

constexpr BgraPixel kOpaque = 0xFF000000u;

// ---- DXT2 and DXT4 ------------------------------------------------------------------------------

// A table of a byte for each pair of bytes, 64 KiB, made on first use.
using PairTable = std::array<std::uint8_t, 256 * 256>;

// Un-premultiplies `count` pixels: each colour channel c of a pixel whose alpha a is not 0
// becomes min(255, (255 c + a / 2) / a), rounded to nearest; at 255 that is c again. At 0 the
// colour stays as decoded.
void Unpremultiply(BgraPixel* p, std::size_t count) {
  static const PairTable divided = [] {  // [a << 8 | c]
    PairTable t;
    for (std::uint32_t a = 0; a < 256; ++a) {
      for (std::uint32_t c = 0; c < 256; ++c)
        t[a << 8 | c] =
            static_cast<std::uint8_t>(a == 0 ? c : std::min(255u, (c * 255 + a / 2) / a));
    }
    return t;
  }();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t a = p[i] >> 24;
    const std::uint8_t* row = &divided[a << 8];
    p[i] = a << 24 | BgraPixel{row[p[i] >> 16 & 0xFF]} << 16 |
           BgraPixel{row[p[i] >> 8 & 0xFF]} << 8 | row[p[i] & 0xFF];
  }
}

// ---- ATI1 and ATI2 ------------------------------------------------------------------------------

// The sixteen values of the alpha block at `block`, pixel rows from the top, left to right: the
// six index bytes are one 48-bit little-endian number, pixel n's index in bits 3n to 3n + 2.
void AlphaBlock(const std::uint8_t* block, std::uint8_t values[16]) {
  BgraPixel pal[8];  // the values in the alpha byte
  AlphaTable3BitLinear(block[0], block[1], pal);
  std::uint64_t bits = std::uint64_t{LoadU16(block + 2)} | std::uint64_t{LoadU32(block + 4)} << 16;
  for (int n = 0; n < 16; ++n, bits >>= 3)
    values[n] = static_cast<std::uint8_t>(pal[bits & 7] >> 24);
}

// The blue of an ATI2 pixel: the Z of the unit normal whose X and Y red and green hold, as
// 2 v - 255, rebuilt in integers and brought back to 0 to 255.
std::uint32_t NormalZ(std::uint32_t red, std::uint32_t green) {
  static const PairTable blue = [] {  // [red << 8 | green]
    PairTable t;
    for (std::int32_t i = 0; i < 256 * 256; ++i) {
      const std::int32_t x = 2 * (i >> 8) - 255, y = 2 * (i & 0xFF) - 255;
      // The square root of an integer below 2^16, rounded down: a double's is within far less
      // than the distance from any such root to the next integer.
      const auto z = static_cast<std::int32_t>(std::sqrt(std::max(0, 65025 - x * x - y * y)));
      t[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((z + 256) >> 1);
    }
    return t;
  }();
  return blue[red << 8 | green];
}

// ATI1 (`two` false): a grey tile a block. ATI2: red from the first block, green from the second.
void DecodeAti(bool two, const std::uint8_t* s, std::uint32_t xblocks, std::uint32_t block_rows,
               BgraPixel* out, std::size_t stride) {
  for (std::uint32_t by = 0; by < block_rows; ++by) {
    for (std::uint32_t bx = 0; bx < xblocks; ++bx, s += two ? 16 : 8) {
      std::uint8_t red[16], green[16];
      AlphaBlock(s, red);
      if (two) AlphaBlock(s + 8, green);
      for (int n = 0; n < 16; ++n) {
        const std::uint32_t r = red[n], g = two ? green[n] : r, b = two ? NormalZ(r, g) : r;
        out[(std::size_t{by} * 4 + n / 4) * stride + std::size_t{bx} * 4 + n % 4] =
            kOpaque | r << 16 | g << 8 | b;
      }
    }
  }
}

// ---- 1 x 1 formats ------------------------------------------------------------------------------

// How a channel comes from a pixel's number v: ((v >> shift) & mask) x mul >> down. A field of
// n bits: n >= 8 gives its top 8 bits; n < 8 its bits repeated from the top (5 bits abcde give
// abcdeabc, 1 bit 0 or 255), which is the field times 1 + 2^n + 2^2n..., shifted down to 8 bits.
// A mask of 0 gives 0.
struct Field {
  std::uint32_t shift = 0, mask = 0, mul = 0, down = 0;
};

Field FieldOf(std::uint32_t mask) {
  if (mask == 0) return {};
  const auto low = static_cast<std::uint32_t>(std::countr_zero(mask));
  const auto n = static_cast<std::uint32_t>(std::popcount(mask));
  if (n >= 8) return {low + n - 8, 0xFF, 1, 0};
  Field f = {low, (1u << n) - 1, 0, 0};
  std::uint32_t width = 0;
  for (; width < 8; width += n) f.mul |= 1u << width;
  f.down = width - 8;
  return f;
}

template <int kBytes>
std::uint32_t LoadPixel(const std::uint8_t* p) {
  if constexpr (kBytes == 1) return p[0];
  if constexpr (kBytes == 2) return LoadU16(p);
  if constexpr (kBytes == 3) return LoadU16(p) | std::uint32_t{p[2]} << 16;
  if constexpr (kBytes == 4) return LoadU32(p);
}

// The pixel of number v; fields in the order blue, green, red, alpha. Without kScale (every
// field 8 bits or more, or none) it needs no multiplication, which SSE2 lacks for 32-bit lanes,
// so the loops below vectorise better.
template <bool kScale>
BgraPixel PixelOf(std::uint32_t v, const Field (&f)[4], BgraPixel fill) {
  BgraPixel p = fill;
  for (int c = 0; c < 4; ++c) {
    const std::uint32_t field = v >> f[c].shift & f[c].mask;
    p |= (kScale ? field * f[c].mul >> f[c].down : field) << 8 * c;
  }
  return p;
}

// One row of `count` pixels of kBytes bytes each from `in`; with `in` null, pixels of 4 bytes
// that already lie in `out`, decoded where they lie.
template <int kBytes, bool kScale>
void DecodeMaskedRow(const std::uint8_t* in, std::size_t count, const Field (&f)[4], BgraPixel fill,
                     BgraPixel* out) {
  if constexpr (kBytes == 4) {
    if (in == nullptr) {
      for (std::size_t i = 0; i < count; ++i) out[i] = PixelOf<kScale>(out[i], f, fill);
      return;
    }
  }
  for (std::size_t i = 0; i < count; ++i)
    out[i] = PixelOf<kScale>(LoadPixel<kBytes>(in + i * kBytes), f, fill);
}

template <int kBytes>
void DecodeMaskedRow(const std::uint8_t* in, std::size_t count, const Field (&f)[4], BgraPixel fill,
                     BgraPixel* out) {
  if (std::all_of(f, f + 4, [](const Field& c) { return c.mul <= 1; }))
    return DecodeMaskedRow<kBytes, false>(in, count, f, fill, out);
  DecodeMaskedRow<kBytes, true>(in, count, f, fill, out);
}

// A8R8G8B8: the pixel's bytes are blue, green, red, alpha already.
constexpr PixelMasks kBgra = {4, 0xFF0000, 0xFF00, 0xFF, 0xFF000000};

void DecodeMasked(const PixelMasks& m, const std::uint8_t* in, std::uint32_t width,
                  std::uint32_t rows, BgraPixel* out, std::size_t stride) {
  const bool in_place = in == reinterpret_cast<const std::uint8_t*>(out);
  if (in_place && m == kBgra) return;
  const Field f[4] = {FieldOf(m.blue), FieldOf(m.green), FieldOf(m.red), FieldOf(m.alpha)};
  const BgraPixel fill = m.alpha == 0 ? kOpaque : 0;
  const std::size_t row_bytes = std::size_t{width} * m.bytes;
  for (std::uint32_t y = 0; y < rows; ++y, in += row_bytes, out += stride) {
    switch (m.bytes) {
      case 1:
        DecodeMaskedRow<1>(in, width, f, fill, out);
        break;
      case 2:
        DecodeMaskedRow<2>(in, width, f, fill, out);
        break;
      case 3:
        DecodeMaskedRow<3>(in, width, f, fill, out);
        break;
      default:
        DecodeMaskedRow<4>(in_place ? nullptr : in, width, f, fill, out);
        break;
    }
  }
}

// Un-premultiplies the whole of the blocks' pixels.
void UnpremultiplyRows(BgraPixel* out, std::uint32_t xblocks, std::uint32_t rows,
                       std::size_t stride) {
  for (std::size_t y = 0; y < std::size_t{rows} * 4; ++y)
    Unpremultiply(out + y * stride, std::size_t{xblocks} * 4);
}

}  // namespace

void DecodeRows(const DdsSurface& s, const std::uint8_t* data, std::uint32_t rows, BgraPixel* out,
                std::size_t stride) {
  switch (s.format) {
    case DdsFormat::kDxt1:
      return DecodeBlockRows(DxtFormat::kDxt1, data, s.xblocks, rows, out, stride);
    case DdsFormat::kDxt2:
      DecodeBlockRows(DxtFormat::kDxt3, data, s.xblocks, rows, out, stride);
      return UnpremultiplyRows(out, s.xblocks, rows, stride);
    case DdsFormat::kDxt3:
      return DecodeBlockRows(DxtFormat::kDxt3, data, s.xblocks, rows, out, stride);
    case DdsFormat::kDxt4:
      DecodeBlockRows(DxtFormat::kDxt5, data, s.xblocks, rows, out, stride);
      return UnpremultiplyRows(out, s.xblocks, rows, stride);
    case DdsFormat::kDxt5:
      return DecodeBlockRows(DxtFormat::kDxt5, data, s.xblocks, rows, out, stride);
    case DdsFormat::kAti1:
      return DecodeAti(false, data, s.xblocks, rows, out, stride);
    case DdsFormat::kAti2:
      return DecodeAti(true, data, s.xblocks, rows, out, stride);
    case DdsFormat::kMasks:
      return DecodeMasked(s.masks, data, s.xblocks, rows, out, stride);
  }
}

}  // namespace pelt
