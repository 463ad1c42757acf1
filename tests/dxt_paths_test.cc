#include "dxt_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "reference_decoder.h"
#include "testutil.h"

namespace pelt {
namespace {

using testing::Bytes;
using testing::Fmt;
using testing::Rgba;

DxtFormat ToFormat(Fmt f) {
  switch (f) {
    case Fmt::kDxt1:
      return DxtFormat::kDxt1;
    case Fmt::kDxt3:
      return DxtFormat::kDxt3;
    case Fmt::kDxt5:
      return DxtFormat::kDxt5;
  }
  return DxtFormat::kDxt1;
}

const char* Name(Fmt f) { return FormatName(ToFormat(f)); }

// What every pixel of the buffer holds before decoding.
constexpr BgraPixel kUntouched = 0x5A5A5A5A;

// The output of one decode: block_rows x 4 rows of `stride` pixels starting `lead` pixels into
// `buffer`, with `kGuard` pixels after them.
struct Decoded {
  static constexpr std::size_t kGuard = 64;
  std::vector<BgraPixel> buffer;
  std::size_t lead = 0, stride = 0, width = 0, height = 0;  // width, height: whole blocks

  // Pixel (x, y) read from its bytes in memory: blue, green, red, alpha.
  Rgba At(std::size_t x, std::size_t y) const {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&buffer[lead + y * stride + x]);
    return Rgba{p[2], p[1], p[0], p[3]};
  }
  bool Inside(std::size_t i) const {
    if (i < lead) return false;
    const std::size_t rel = i - lead;
    return rel / stride < height && rel % stride < width;
  }
};

// The block decoders of dds.h, one block at a time, arranged as a row decoder.
void DecodeByBlocks(DxtFormat f, const std::uint8_t* b, std::uint32_t xblocks,
                    std::uint32_t yblocks, BgraPixel* out, std::size_t stride) {
  for (std::uint32_t by = 0; by < yblocks; ++by) {
    for (std::uint32_t bx = 0; bx < xblocks; ++bx, b += BlockSize(f)) {
      BgraPixel* at = out + by * 4 * stride + bx * 4;
      const DXTColBlock colour = ReadColBlock(f == DxtFormat::kDxt1 ? b : b + 8);
      Color8888 c[4];
      GetColorBlockColors(
          colour, f == DxtFormat::kDxt1 ? PaletteMode::kByEndpoints : PaletteMode::kFourColour,
          &c[0], &c[1], &c[2], &c[3]);
      DecodeColorBlock(at, colour, stride, c[0], c[1], c[2], c[3]);
      if (f == DxtFormat::kDxt3)
        DecodeAlphaExplicit(at, ReadAlphaBlockExplicit(b), stride, alphazero);
      if (f == DxtFormat::kDxt5)
        DecodeAlpha3BitLinear(at, ReadAlphaBlock3BitLinear(b), stride, alphazero);
    }
  }
}

// Every decoder under test: each supported row decoding path, and the block decoders.
struct Decoder {
  std::string name;
  std::function<void(DxtFormat, const std::uint8_t*, std::uint32_t, std::uint32_t, BgraPixel*,
                     std::size_t)>
      decode;
};

std::vector<Decoder> Decoders() {
  std::vector<Decoder> all;
  for (DecodePath path : SupportedPaths()) {
    all.push_back({PathName(path), [path](DxtFormat f, const std::uint8_t* b, std::uint32_t x,
                                          std::uint32_t y, BgraPixel* o, std::size_t s) {
                     DecodeBlockRowsWith(path, f, b, x, y, o, s);
                   }});
  }
  all.push_back({"block decoders", DecodeByBlocks});
  return all;
}

// Decodes into rows that start `misalign` pixels past a 32-byte boundary.
Decoded DecodeThrough(const Decoder& decoder, Fmt f, const Bytes& blocks, std::uint32_t xblocks,
                      std::uint32_t yblocks, std::size_t stride, std::size_t misalign) {
  Decoded d;
  d.stride = stride;
  d.width = std::size_t{xblocks} * 4;
  d.height = std::size_t{yblocks} * 4;
  d.buffer.assign(8 + misalign + d.height * stride + Decoded::kGuard, kUntouched);
  const auto address = reinterpret_cast<std::uintptr_t>(d.buffer.data());
  d.lead = (32 - address % 32) % 32 / sizeof(BgraPixel) + misalign;
  decoder.decode(ToFormat(f), blocks.data(), xblocks, yblocks, d.buffer.data() + d.lead, stride);
  return d;
}

std::string Show(Rgba p) {
  char text[40];
  std::snprintf(text, sizeof text, "r%d g%d b%d a%d", p.r, p.g, p.b, p.a);
  return text;
}

// Every pixel of the blocks equals `want` (red, green, blue, alpha bytes of the whole blocks), and
// nothing else was written.
::testing::AssertionResult Matches(const Decoded& d, const Bytes& want) {
  for (std::size_t y = 0; y < d.height; ++y) {
    for (std::size_t x = 0; x < d.width; ++x) {
      const std::uint8_t* w = &want[(y * d.width + x) * 4];
      const Rgba expected{w[0], w[1], w[2], w[3]};
      if (d.At(x, y) != expected) {
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is "
                                             << Show(d.At(x, y)) << ", want " << Show(expected);
      }
    }
  }
  for (std::size_t i = 0; i < d.buffer.size(); ++i) {
    if (!d.Inside(i) && d.buffer[i] != kUntouched) {
      return ::testing::AssertionFailure()
             << "pixel word " << i << " outside the blocks' rows ("
             << "lead " << d.lead << ", stride " << d.stride << ") was written";
    }
  }
  return ::testing::AssertionSuccess();
}

// As Matches, with what the plain decoder makes of `blocks`.
::testing::AssertionResult MatchesReference(const Decoded& d, Fmt f, const Bytes& blocks) {
  return Matches(d, testing::ReferenceDecode(f, blocks, static_cast<std::uint32_t>(d.width),
                                             static_cast<std::uint32_t>(d.height)));
}

TEST(DxtPaths, BestPathIsSupportedAndPortableAlwaysIs) {
  const std::vector<DecodePath> paths = SupportedPaths();
  ASSERT_FALSE(paths.empty());
  EXPECT_EQ(paths.front(), DecodePath::kPortable);
  EXPECT_TRUE(PathSupported(BestPath()));
  EXPECT_EQ(BestPath(), paths.back());
#if !defined(__x86_64__)
  EXPECT_EQ(paths.size(), 1u);
#endif
}

// Random blocks (both DXT1 palette modes, both DXT5 alpha modes) of surfaces whose block counts
// exercise a lone last block and pairs, in rows with gaps and at unaligned addresses.
TEST(DxtPaths, EveryDecoderMatchesThePlainDecoderOnRandomSurfaces) {
  struct Size {
    std::uint32_t width, height;
  };
  // 1 to 33 blocks across: a lone block, pairs, fours, and every remainder after them.
  const Size kSizes[] = {{1, 1},  {4, 4},  {5, 9},   {8, 8},   {13, 7},
                         {22, 6}, {28, 4}, {36, 20}, {67, 33}, {130, 9}};
  struct Layout {
    std::size_t extra_stride, misalign;
  };
  const Layout kLayouts[] = {{0, 0}, {1, 0}, {7, 3}, {8, 8}, {0, 1}};
  std::mt19937 rng(20240611);
  for (const Decoder& decoder : Decoders()) {
    for (Fmt f : {Fmt::kDxt1, Fmt::kDxt3, Fmt::kDxt5}) {
      for (const Size& s : kSizes) {
        const std::uint32_t xblocks = (s.width + 3) / 4, yblocks = (s.height + 3) / 4;
        const Bytes blocks = testing::RandomBlocks(f, std::size_t{xblocks} * yblocks, &rng);
        for (const Layout& l : kLayouts) {
          SCOPED_TRACE(decoder.name + " " + Name(f) + " " + std::to_string(s.width) + "x" +
                       std::to_string(s.height) + " stride +" + std::to_string(l.extra_stride) +
                       " misaligned by " + std::to_string(l.misalign));
          const Decoded d = DecodeThrough(decoder, f, blocks, xblocks, yblocks,
                                          std::size_t{xblocks} * 4 + l.extra_stride, l.misalign);
          EXPECT_TRUE(MatchesReference(d, f, blocks));
        }
      }
    }
  }
}

// Blocks whose colours and alphas were worked out by hand, through the plain decoder and every
// decoder, in an 8-pixel-wide buffer whose pixels beside the tile stay untouched. Every colour
// half has the index rows E4 1B 00 FF: indices 0 1 2 3, then 3 2 1 0, then four 0, then four 3.
TEST(DxtPaths, HandComputedBlocks) {
  struct Case {
    const char* what;
    Fmt format;
    std::array<std::uint8_t, 8> alpha_half;  // DXT3, DXT5
    std::uint16_t col0, col1;
    std::array<Rgba, 4> palette;
    std::array<std::uint8_t, 16> alphas;  // DXT3, DXT5, by pixel in rows
  };
  const Rgba kClear{0, 255, 255, 0}, k1234{16, 68, 160, 255};
  const std::array<std::uint8_t, 16> kOpaque{};
  const std::array<std::uint8_t, 8> kNoAlpha{}, k88C6FA{0, 0, 0x88, 0xC6, 0xFA, 0x88, 0xC6, 0xFA};
  const auto dxt5 = [&](std::uint8_t a0, std::uint8_t a1) {
    std::array<std::uint8_t, 8> half = k88C6FA;  // indices 0-3 in rows 0 and 2, 4-7 in 1 and 3
    half[0] = a0;
    half[1] = a1;
    return half;
  };
  const auto twice = [](std::array<std::uint8_t, 8> t) {
    std::array<std::uint8_t, 16> out;
    for (int i = 0; i < 16; ++i) out[i] = t[i % 8];
    return out;
  };
  // clang-format off
  const Case kCases[] = {
      {"DXT1 col0 > col1: four colours, truncating thirds", Fmt::kDxt1, kNoAlpha, 0xF800, 0x001F,
       {{{248, 0, 0, 255}, {0, 0, 248, 255}, {165, 0, 82, 255}, {82, 0, 165, 255}}}, kOpaque},
      {"DXT1 col0 < col1: three colours and transparent", Fmt::kDxt1, kNoAlpha, 0x001F, 0xF800,
       {{{0, 0, 248, 255}, {248, 0, 0, 255}, {124, 0, 124, 255}, kClear}}, kOpaque},
      {"DXT1 equal endpoints: three colours", Fmt::kDxt1, kNoAlpha, 0x1234, 0x1234,
       {{k1234, k1234, k1234, kClear}}, kOpaque},
      {"DXT1 0xFFFF expands by shift to 248 252 248", Fmt::kDxt1, kNoAlpha, 0xFFFF, 0x0000,
       {{{248, 252, 248, 255}, {0, 0, 0, 255}, {165, 168, 165, 255}, {82, 84, 82, 255}}}, kOpaque},
      {"DXT1 midpoint truncates", Fmt::kDxt1, kNoAlpha, 0x0000, 0xFFFF,
       {{{0, 0, 0, 255}, {248, 252, 248, 255}, {124, 126, 124, 255}, kClear}}, kOpaque},
      {"DXT1 every fraction dropped", Fmt::kDxt1, kNoAlpha, 0x8410, 0x7BEF,
       {{{128, 128, 128, 255}, {120, 124, 120, 255}, {125, 126, 125, 255}, {122, 125, 122, 255}}},
       kOpaque},
      {"DXT3 col0 < col1 still four colours; alpha nibble x 17, low nibble first", Fmt::kDxt3,
       {0xA5, 0xF0, 0x34, 0x12, 0x00, 0x00, 0xFF, 0xFF}, 0x001F, 0xF800,
       {{{0, 0, 248, 255}, {248, 0, 0, 255}, {82, 0, 165, 255}, {165, 0, 82, 255}}},
       {85, 170, 0, 255, 68, 51, 34, 17, 0, 0, 0, 0, 255, 255, 255, 255}},
      {"DXT5 alpha0 > alpha1: eight alphas by sevenths", Fmt::kDxt5, dxt5(255, 0), 0x1234, 0x1234,
       {{k1234, k1234, k1234, k1234}}, twice({255, 0, 218, 182, 145, 109, 72, 36})},
      {"DXT5 sevenths truncate: (6 x 100) / 7 is 85", Fmt::kDxt5, dxt5(100, 0), 0x0000, 0xFFFF,
       {{{0, 0, 0, 255}, {248, 252, 248, 255}, {82, 84, 82, 255}, {165, 168, 165, 255}}},
       twice({100, 0, 85, 71, 57, 42, 28, 14})},
      {"DXT5 alpha0 < alpha1: six alphas, 0 and 255", Fmt::kDxt5, dxt5(0, 255), 0x1234, 0x1234,
       {{k1234, k1234, k1234, k1234}}, twice({0, 255, 51, 102, 153, 204, 0, 255})},
      {"DXT5 fifths truncate", Fmt::kDxt5, dxt5(200, 201), 0x1234, 0x1234,
       {{k1234, k1234, k1234, k1234}}, twice({200, 201, 200, 200, 200, 200, 0, 255})},
      {"DXT5 equal alphas: six-alpha mode; index bits in order", Fmt::kDxt5,
       {128, 128, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00}, 0x1234, 0x1234,
       {{k1234, k1234, k1234, k1234}},
       {255, 255, 255, 255, 255, 255, 255, 255, 128, 128, 128, 128, 128, 128, 128, 128}},
  };
  // clang-format on
  constexpr std::array<std::uint8_t, 4> kRows{0xE4, 0x1B, 0x00, 0xFF};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Bytes block;
    if (c.format != Fmt::kDxt1) block.assign(c.alpha_half.begin(), c.alpha_half.end());
    testing::PutU16(&block, c.col0);
    testing::PutU16(&block, c.col1);
    block.insert(block.end(), kRows.begin(), kRows.end());
    Bytes want;  // red, green, blue, alpha bytes of the 16 pixels
    for (int i = 0; i < 16; ++i) {
      const Rgba p = c.palette[(kRows[i / 4] >> (2 * (i % 4))) & 3];
      want.insert(want.end(), {p.r, p.g, p.b, c.format == Fmt::kDxt1 ? p.a : c.alphas[i]});
    }
    EXPECT_EQ(testing::ReferenceDecode(c.format, block, 4, 4), want) << "plain decoder";
    for (const Decoder& decoder : Decoders())
      EXPECT_TRUE(Matches(DecodeThrough(decoder, c.format, block, 1, 1, 8, 0), want))
          << decoder.name;
  }
}

// The vector paths divide by 3, 5 and 7 by multiplying, the row decoders look interpolations up
// in tables; every pair of endpoint values, and so every sum that is divided, goes through every
// decoder here.
TEST(DxtPaths, DivisionsAreExactForEveryPairOfEndpoints) {
  // Colour: all 64 x 64 pairs of green values, and with them all 32 x 32 pairs of red (g / 2)
  // and of blue (g % 32); each block shows its four palette entries.
  for (Fmt f : {Fmt::kDxt1, Fmt::kDxt3, Fmt::kDxt5}) {
    Bytes blocks;
    for (unsigned g0 = 0; g0 < 64; ++g0) {
      for (unsigned g1 = 0; g1 < 64; ++g1) {
        if (f != Fmt::kDxt1) blocks.insert(blocks.end(), {255, 0, 0, 0, 0, 0, 0, 0});
        testing::PutU16(&blocks, static_cast<std::uint16_t>((g0 / 2) << 11 | g0 << 5 | g0 % 32));
        testing::PutU16(&blocks, static_cast<std::uint16_t>((g1 / 2) << 11 | g1 << 5 | g1 % 32));
        blocks.insert(blocks.end(), {0xE4, 0xE4, 0xE4, 0xE4});
      }
    }
    for (const Decoder& decoder : Decoders()) {
      SCOPED_TRACE(decoder.name + " " + Name(f));
      EXPECT_TRUE(MatchesReference(DecodeThrough(decoder, f, blocks, 64, 64, 256, 0), f, blocks));
    }
  }
  // DXT5 alpha: all 256 x 256 pairs; pixel p has index p % 8, so each table entry shows twice.
  Bytes blocks;
  for (unsigned a1 = 0; a1 < 256; ++a1) {
    for (unsigned a0 = 0; a0 < 256; ++a0) {
      blocks.insert(blocks.end(), {static_cast<std::uint8_t>(a0), static_cast<std::uint8_t>(a1),
                                   0x88, 0xC6, 0xFA, 0x88, 0xC6, 0xFA, 0, 0, 0, 0, 0, 0, 0, 0});
    }
  }
  for (const Decoder& decoder : Decoders()) {
    SCOPED_TRACE(decoder.name + " DXT5 alphas");
    EXPECT_TRUE(MatchesReference(DecodeThrough(decoder, Fmt::kDxt5, blocks, 256, 256, 1024, 0),
                                 Fmt::kDxt5, blocks));
  }
}

}  // namespace
}  // namespace pelt
