#include "dds.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <random>

#include "testutil.h"

namespace pelt {
namespace {

using pelt::testing::Append;
using pelt::testing::Bytes;
using pelt::testing::DdsBuilder;
using pelt::testing::Fmt;
using pelt::testing::PutU16;

// Pixels are compared as red, green, blue, alpha, whatever the order they are stored in.
using Rgba = std::array<int, 4>;
Rgba ToRgba(Color8888 c) { return {c.r, c.g, c.b, c.a}; }
Rgba ToRgba(BgraPixel p) { return ToRgba(UnpackBgra(p)); }

std::array<Rgba, 4> Palette(std::uint16_t c0, std::uint16_t c1, PaletteMode mode) {
  DXTColBlock block;
  block.col0 = c0;
  block.col1 = c1;
  Color8888 col[4];
  GetColorBlockColors(block, mode, &col[0], &col[1], &col[2], &col[3]);
  return {ToRgba(col[0]), ToRgba(col[1]), ToRgba(col[2]), ToRgba(col[3])};
}

// A colour half: two endpoint words and four index rows.
Bytes ColourHalf(std::uint16_t c0, std::uint16_t c1, std::array<std::uint8_t, 4> rows) {
  Bytes b;
  PutU16(&b, c0);
  PutU16(&b, c1);
  b.insert(b.end(), rows.begin(), rows.end());
  return b;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// One block through the row decoder, as red, green, blue, alpha.
std::vector<Rgba> DecodeOneBlock(DxtFormat f, const Bytes& block) {
  BgraPixel tile[16];
  DecodeBlockRowsPortable(f, block.data(), 1, 1, tile, 4);
  std::vector<Rgba> out;
  for (BgraPixel p : tile) out.push_back(ToRgba(p));
  return out;
}

// Checks and decodes a whole DDS entry the way the run does.
Result<std::vector<Rgba>> DecodeEntry(const Bytes& entry) {
  const std::span<const std::uint8_t> all(entry);
  auto checked = CheckDdsEntry(all.first(std::min(entry.size(), kDdsHeaderSize)), entry.size());
  if (!checked.ok()) return checked.status();
  const DDSURFACEDESC2 ddsd =
      ReadSurfaceDesc(all.subspan(kDdsMagicSize).first<kDdsSurfaceDescSize>());
  auto pixels = Decompress(ddsd, all.subspan(kDdsHeaderSize));
  if (!pixels.ok()) return pixels.status();
  std::vector<Rgba> out;
  for (BgraPixel p : *pixels) out.push_back(ToRgba(p));
  return out;
}

// ---- colour halves -----------------------------------------------------------------------------

TEST(ColourPalette, ExpandsByShiftAndInterpolatesWithTruncation) {
  constexpr auto kByEnds = PaletteMode::kByEndpoints;
  constexpr auto kFour = PaletteMode::kFourColour;
  constexpr Rgba kClear = {0, 255, 255, 0};
  struct Case {
    const char* what;
    std::uint16_t c0, c1;
    PaletteMode mode;
    std::array<Rgba, 4> want;
  };
  const Case kCases[] = {
      {"red over blue: four colours",
       0xF800,
       0x001F,
       kByEnds,
       {{{248, 0, 0, 255}, {0, 0, 248, 255}, {165, 0, 82, 255}, {82, 0, 165, 255}}}},
      {"blue under red: three colours and the transparent entry",
       0x001F,
       0xF800,
       kByEnds,
       {{{0, 0, 248, 255}, {248, 0, 0, 255}, {124, 0, 124, 255}, kClear}}},
      {"blue under red, colour half of DXT3/DXT5: still four colours",
       0x001F,
       0xF800,
       kFour,
       {{{0, 0, 248, 255}, {248, 0, 0, 255}, {82, 0, 165, 255}, {165, 0, 82, 255}}}},
      {"equal endpoints select three colours",
       0x1234,
       0x1234,
       kByEnds,
       {{{16, 68, 160, 255}, {16, 68, 160, 255}, {16, 68, 160, 255}, kClear}}},
      {"equal endpoints, four-colour request: four equal entries",
       0x1234,
       0x1234,
       kFour,
       {{{16, 68, 160, 255}, {16, 68, 160, 255}, {16, 68, 160, 255}, {16, 68, 160, 255}}}},
      {"0xFFFF expands to 248, 252, 248 (no bit replication)",
       0xFFFF,
       0x0000,
       kByEnds,
       {{{248, 252, 248, 255}, {0, 0, 0, 255}, {165, 168, 165, 255}, {82, 84, 82, 255}}}},
      {"midpoint floors",
       0x0000,
       0xFFFF,
       kByEnds,
       {{{0, 0, 0, 255}, {248, 252, 248, 255}, {124, 126, 124, 255}, kClear}}},
      {"every fraction is dropped, no bias",
       0x8410,
       0x7BEF,
       kByEnds,
       {{{128, 128, 128, 255}, {120, 124, 120, 255}, {125, 126, 125, 255}, {122, 125, 122, 255}}}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Palette(c.c0, c.c1, c.mode), c.want);
    // The row decoder gives the same palette: rows E4 put indices 0, 1, 2, 3 in every row. The
    // four-colour request is made by the colour half of a DXT3 block (alpha half all 15s).
    const Bytes colour = ColourHalf(c.c0, c.c1, {0xE4, 0xE4, 0xE4, 0xE4});
    const std::vector<Rgba> pixels =
        c.mode == kByEnds ? DecodeOneBlock(DxtFormat::kDxt1, colour)
                          : DecodeOneBlock(DxtFormat::kDxt3, Concat(Bytes(8, 0xFF), colour));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(pixels[i], c.want[i % 4]) << "pixel " << i;
  }
}

// Each block decoder writes its 4 x 4 tile and nothing else: not the pixels beside it, nor
// those between its rows in a wider buffer.
TEST(BlockDecoders, TouchOnlyTheirTile) {
  constexpr std::size_t kStride = 8, kRows = 6, kLeft = 2, kTop = 1;
  constexpr BgraPixel kUntouched = 0x5A5A5A5A;
  const std::uint8_t block[8] = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0x1B, 0x00, 0xFF};
  struct Case {
    const char* what;
    std::function<void(BgraPixel*)> decode;
  };
  const Case kCases[] = {
      {"colour",
       [&](BgraPixel* p) {
         DecodeColorBlock(p, ReadColBlock(block), kStride, {1, 2, 3, 4}, {5, 6, 7, 8}, {}, {});
       }},
      {"explicit alpha",
       [&](BgraPixel* p) {
         DecodeAlphaExplicit(p, ReadAlphaBlockExplicit(block), kStride, alphazero);
       }},
      {"3-bit alpha",
       [&](BgraPixel* p) {
         DecodeAlpha3BitLinear(p, ReadAlphaBlock3BitLinear(block), kStride, alphazero);
       }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::vector<BgraPixel> buf(kStride * kRows, kUntouched);
    c.decode(&buf[kTop * kStride + kLeft]);
    for (std::size_t y = 0; y < kRows; ++y) {
      for (std::size_t x = 0; x < kStride; ++x) {
        const bool inside = x >= kLeft && x < kLeft + 4 && y >= kTop && y < kTop + 4;
        if (!inside) {
          EXPECT_EQ(buf[y * kStride + x], kUntouched) << x << "," << y;
        }
      }
    }
  }
}

TEST(ColourBlock, TwoBitIndicesLeftmostPixelInLowBits) {
  // Rows E4, 1B, 00, FF: indices 0 1 2 3 / 3 2 1 0 / 0 0 0 0 / 3 3 3 3.
  const Color8888 pal[4] = {{10, 0, 0, 255}, {11, 0, 0, 255}, {12, 0, 0, 255}, {13, 0, 0, 255}};
  const std::uint8_t block[8] = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0x1B, 0x00, 0xFF};
  BgraPixel tile[16];
  DecodeColorBlock(tile, ReadColBlock(block), 4, pal[0], pal[1], pal[2], pal[3]);
  const int want[16] = {10, 11, 12, 13, 13, 12, 11, 10, 10, 10, 10, 10, 13, 13, 13, 13};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(UnpackBgra(tile[i]).r, want[i]) << "pixel " << i;
}

// ---- alpha halves ------------------------------------------------------------------------------

// The alpha decoders replace the alpha byte only, whatever alpha the colour left (0 from the
// transparent entry, or 255), and keep red, green and blue.
std::vector<Rgba> DecodeAlphaOver(const std::function<void(BgraPixel*)>& decode) {
  BgraPixel tile[16];
  for (int i = 0; i < 16; ++i)
    tile[i] = PackBgra({0x12, 0x34, 0x56, std::uint8_t(i % 2 ? 0 : 255)});
  decode(tile);
  std::vector<Rgba> out;
  for (BgraPixel p : tile) out.push_back(ToRgba(p));
  return out;
}

std::vector<Rgba> WithAlphas(std::array<int, 16> alphas) {
  std::vector<Rgba> out;
  for (int a : alphas) out.push_back({0x12, 0x34, 0x56, a});
  return out;
}

TEST(ExplicitAlpha, NibbleTimes17LowNibbleFirst) {
  struct Case {
    const char* what;
    Bytes half;
    std::array<int, 16> want;
  };
  const Case kCases[] = {
      {"A5 F0 gives 85, 170, 0, 255; 34 12 gives 68, 51, 34, 17",
       {0xA5, 0xF0, 0x34, 0x12, 0x00, 0x00, 0xFF, 0xFF},
       {85, 170, 0, 255, 68, 51, 34, 17, 0, 0, 0, 0, 255, 255, 255, 255}},
      {"all zero: alpha 0, colour kept", Bytes(8, 0), {}},
      {"8 gives 136",
       Bytes(8, 0x88),
       {136, 136, 136, 136, 136, 136, 136, 136, 136, 136, 136, 136, 136, 136, 136, 136}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DecodeAlphaOver([&](BgraPixel* p) {
                DecodeAlphaExplicit(p, ReadAlphaBlockExplicit(c.half.data()), 4, alphazero);
              }),
              WithAlphas(c.want));
  }
}

TEST(ThreeBitAlpha, TableModesAndTruncation) {
  struct Case {
    const char* what;
    std::uint8_t a0, a1;
    std::array<int, 8> want;
  };
  const Case kCases[] = {
      {"eight alphas", 255, 0, {255, 0, 218, 182, 145, 109, 72, 36}},
      {"eight alphas, (6 x 100) / 7 is 85 not 86", 100, 0, {100, 0, 85, 71, 57, 42, 28, 14}},
      {"six alphas then 0 and 255", 0, 255, {0, 255, 51, 102, 153, 204, 0, 255}},
      {"equal endpoints: six alphas", 128, 128, {128, 128, 128, 128, 128, 128, 0, 255}},
      {"both zero", 0, 0, {0, 0, 0, 0, 0, 0, 0, 255}},
      {"alpha0 one below alpha1", 200, 201, {200, 201, 200, 200, 200, 200, 0, 255}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const auto table = AlphaTable3BitLinear(c.a0, c.a1);
    EXPECT_EQ(std::vector<int>(table.begin(), table.end()),
              std::vector<int>(c.want.begin(), c.want.end()));
    // Through the row decoder: indices 0-3 in rows 0 and 2, 4-7 in rows 1 and 3.
    const std::vector<Rgba> pixels =
        DecodeOneBlock(DxtFormat::kDxt5, Concat({c.a0, c.a1, 0x88, 0xC6, 0xFA, 0x88, 0xC6, 0xFA},
                                                ColourHalf(0x1234, 0x1234, {0, 0, 0, 0})));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(pixels[i], (Rgba{16, 68, 160, c.want[i % 8]})) << i;
  }
}

TEST(ThreeBitAlpha, IndexLayoutTwoGroupsOf24Bits) {
  // alpha0 255, alpha1 0: table 255, 0, 218, 182, 145, 109, 72, 36, every entry distinct.
  struct Case {
    const char* what;
    Bytes half;
    std::array<int, 16> want;
  };
  const Case kCases[] = {
      {"88 C6 FA twice: 0-3 in rows 0 and 2, 4-7 in rows 1 and 3",
       {255, 0, 0x88, 0xC6, 0xFA, 0x88, 0xC6, 0xFA},
       {255, 0, 218, 182, 145, 109, 72, 36, 255, 0, 218, 182, 145, 109, 72, 36}},
      {"FF FF FF 00 00 00: 7 in rows 0 and 1, 0 in rows 2 and 3",
       {255, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0},
       {36, 36, 36, 36, 36, 36, 36, 36, 255, 255, 255, 255, 255, 255, 255, 255}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DecodeAlphaOver([&](BgraPixel* p) {
                DecodeAlpha3BitLinear(p, ReadAlphaBlock3BitLinear(c.half.data()), 4, alphazero);
              }),
              WithAlphas(c.want));
  }
}

// ---- surfaces ----------------------------------------------------------------------------------

// A surface whose every block can be told apart: block (bx, by) has col0 with red 8 (bx + 1)
// and green 4 (by + 1), col1 black, and index 1 (black) on its diagonal only. DXT3 alpha halves
// give pixel (px, py) of a block the nibble px + 4 py; DXT5 alpha halves (255, 0) the index
// px + 4 (py mod 2).
Bytes MarkedBlocks(Fmt f, std::uint32_t width, std::uint32_t height) {
  Bytes data;
  for (std::uint32_t by = 0; by < (height + 3) / 4; ++by) {
    for (std::uint32_t bx = 0; bx < (width + 3) / 4; ++bx) {
      if (f == Fmt::kDxt3) Append(&data, {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE});
      if (f == Fmt::kDxt5) Append(&data, {255, 0, 0x88, 0xC6, 0xFA, 0x88, 0xC6, 0xFA});
      const auto c0 = static_cast<std::uint16_t>((bx + 1) << 11 | (by + 1) << 5);
      Append(&data, ColourHalf(c0, 0x0000, {0x01, 0x04, 0x10, 0x40}));
    }
  }
  return data;
}

Rgba MarkedPixel(Fmt f, std::uint32_t x, std::uint32_t y) {
  static constexpr int kDxt5Alphas[8] = {255, 0, 218, 182, 145, 109, 72, 36};
  const std::uint32_t px = x % 4, py = y % 4;
  const int alpha = f == Fmt::kDxt1   ? 255
                    : f == Fmt::kDxt3 ? static_cast<int>(17 * (px + 4 * py))
                                      : kDxt5Alphas[px + 4 * (py % 2)];
  if (px == py) return {0, 0, 0, alpha};
  return {static_cast<int>(8 * (x / 4 + 1)), static_cast<int>(4 * (y / 4 + 1)), 0, alpha};
}

TEST(DxtSurface, BlocksLandInPlaceAndEdgeBlocksAreClipped) {
  struct Case {
    std::uint32_t width, height;
  };
  const Case kCases[] = {
      {8, 8},   // 2 x 2 blocks
      {16, 4},  // one row of four blocks, row stride 16
      {4, 4},   // one block
      {6, 6},   // right and bottom blocks half outside
      {5, 9},   // one column and one row of the last blocks inside
      {1, 1},   // one block, one pixel of it
      {4, 1},   // one block, its top row
      {3, 12},  // narrower than a block
  };
  for (Fmt f : {Fmt::kDxt1, Fmt::kDxt3, Fmt::kDxt5}) {
    for (const Case& c : kCases) {
      SCOPED_TRACE(::testing::Message()
                   << "format " << static_cast<int>(f) << ", " << c.width << "x" << c.height);
      auto pixels = DecodeEntry(
          DdsBuilder(c.width, c.height).Format(f).Data(MarkedBlocks(f, c.width, c.height)).Build());
      ASSERT_TRUE(pixels.ok()) << pixels.status().message();
      ASSERT_EQ(pixels->size(), std::size_t{c.width} * c.height);
      for (std::uint32_t y = 0; y < c.height; ++y)
        for (std::uint32_t x = 0; x < c.width; ++x)
          ASSERT_EQ((*pixels)[y * c.width + x], MarkedPixel(f, x, y)) << x << "," << y;
    }
  }
}

TEST(DxtSurface, DataAfterTheTopLevelIsIgnored) {
  std::mt19937 rng(7);
  for (Fmt f : {Fmt::kDxt1, Fmt::kDxt3, Fmt::kDxt5}) {
    const Bytes blocks = pelt::testing::RandomBlocks(f, pelt::testing::BlocksFor(10, 7), &rng);
    auto exact = DecodeEntry(DdsBuilder(10, 7).Format(f).Data(blocks).Build());
    auto mipmapped = DecodeEntry(DdsBuilder(10, 7).Format(f).Data(blocks).Mipmaps(0x5A).Build());
    ASSERT_TRUE(exact.ok() && mipmapped.ok());
    EXPECT_EQ(*exact, *mipmapped);
  }
}

// The fast row decoder against the block decoders, one block at a time: random blocks, every
// pair of 5- and 6-bit endpoint fields (every entry of the interpolation tables) and every pair
// of DXT5 alpha endpoints.
std::vector<BgraPixel> DecodeByBlocks(DxtFormat f, const Bytes& data, std::uint32_t xblocks) {
  const std::size_t size = BlockSize(f), stride = std::size_t{xblocks} * 4;
  const std::size_t count = data.size() / size;
  std::vector<BgraPixel> out(count * 16);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* b = &data[i * size];
    BgraPixel* at = &out[(i / xblocks) * 4 * stride + (i % xblocks) * 4];
    const DXTColBlock colour = ReadColBlock(f == DxtFormat::kDxt1 ? b : b + 8);
    Color8888 c[4];
    GetColorBlockColors(
        colour, f == DxtFormat::kDxt1 ? PaletteMode::kByEndpoints : PaletteMode::kFourColour, &c[0],
        &c[1], &c[2], &c[3]);
    DecodeColorBlock(at, colour, stride, c[0], c[1], c[2], c[3]);
    if (f == DxtFormat::kDxt3)
      DecodeAlphaExplicit(at, ReadAlphaBlockExplicit(b), stride, alphazero);
    if (f == DxtFormat::kDxt5)
      DecodeAlpha3BitLinear(at, ReadAlphaBlock3BitLinear(b), stride, alphazero);
  }
  return out;
}

TEST(DxtSurface, RowDecoderWritesTheBytesOfTheBlockDecoders) {
  std::mt19937 rng(11);
  const std::pair<DxtFormat, Fmt> kFormats[] = {{DxtFormat::kDxt1, Fmt::kDxt1},
                                                {DxtFormat::kDxt3, Fmt::kDxt3},
                                                {DxtFormat::kDxt5, Fmt::kDxt5}};
  for (const auto& [f, fmt] : kFormats) {
    SCOPED_TRACE(FormatName(f));
    const std::size_t extra = f == DxtFormat::kDxt5 ? 65536 : 4096;
    Bytes data = pelt::testing::RandomBlocks(fmt, 4096 + extra, &rng);
    const std::size_t size = BlockSize(f), colour_at = f == DxtFormat::kDxt1 ? 0 : 8;
    for (std::uint32_t i = 0; i < 4096; ++i) {  // every (g0, g1), (r0, r1) and (b0, b1) pair
      const std::uint32_t g0 = i >> 6, g1 = i & 63;
      const auto w0 = static_cast<std::uint16_t>((g0 & 31) << 11 | g0 << 5 | (g1 & 31));
      const auto w1 = static_cast<std::uint16_t>((g1 & 31) << 11 | g1 << 5 | (g0 & 31));
      data[i * size + colour_at] = static_cast<std::uint8_t>(w0);
      data[i * size + colour_at + 1] = static_cast<std::uint8_t>(w0 >> 8);
      data[i * size + colour_at + 2] = static_cast<std::uint8_t>(w1);
      data[i * size + colour_at + 3] = static_cast<std::uint8_t>(w1 >> 8);
    }
    if (f == DxtFormat::kDxt5) {
      for (std::uint32_t i = 0; i < 65536; ++i) {  // every (alpha0, alpha1) pair
        data[(4096 + i) * size] = static_cast<std::uint8_t>(i >> 8);
        data[(4096 + i) * size + 1] = static_cast<std::uint8_t>(i);
      }
    }
    constexpr std::uint32_t kXBlocks = 64;
    const std::uint32_t rows = static_cast<std::uint32_t>(data.size() / size / kXBlocks);
    std::vector<BgraPixel> fast(std::size_t{kXBlocks} * 16 * rows);
    DecodeBlockRowsPortable(f, data.data(), kXBlocks, rows, fast.data(), std::size_t{kXBlocks} * 4);
    const std::vector<BgraPixel> slow = DecodeByBlocks(f, data, kXBlocks);
    ASSERT_EQ(fast.size(), slow.size());
    const auto diff = std::mismatch(fast.begin(), fast.end(), slow.begin());
    EXPECT_TRUE(diff.first == fast.end())
        << "first difference at pixel " << (diff.first - fast.begin());
  }
}

// ---- checks of the entry -----------------------------------------------------------------------

TEST(DdsChecks, EachFailureSaysWhy) {
  const auto dxt = [](std::uint32_t w, std::uint32_t h) { return DdsBuilder(w, h); };
  struct Case {
    const char* what;
    Bytes entry;
    Code code;
    const char* message;
  };
  const Case kCases[] = {
      {"empty entry", {}, Code::kCorrupt, "DDS entry is 0 bytes, shorter than its 128-byte header"},
      {"short entry", Bytes(100, 0), Code::kCorrupt,
       "DDS entry is 100 bytes, shorter than its 128-byte header"},
      {"one byte short of a header, FourCC bad too", Bytes(127, 0), Code::kCorrupt,
       "DDS entry is 127 bytes, shorter than its 128-byte header"},
      {"DXT2", dxt(4, 4).FourCC("DXT2").Build(), Code::kUnsupported, "unsupported format \"DXT2\""},
      {"DXT4", dxt(4, 4).FourCC("DXT4").Data(Bytes(16)).Build(), Code::kUnsupported,
       "unsupported format \"DXT4\""},
      {"lower case", dxt(4, 4).FourCC("dxt1").Data(Bytes(8)).Build(), Code::kUnsupported,
       "unsupported format \"dxt1\""},
      {"no FourCC (uncompressed), size bad too", dxt(0, 0).FourCC(0).Build(), Code::kUnsupported,
       "unsupported format 0x00000000"},
      {"unprintable FourCC in hex", dxt(4, 4).FourCC(0x15).Build(), Code::kUnsupported,
       "unsupported format 0x00000015"},
      {"a byte above ASCII in hex", dxt(4, 4).FourCC(0xB1545844).Build(), Code::kUnsupported,
       "unsupported format 0xB1545844"},
      {"zero height", dxt(16, 0).Data(Bytes(64)).Build(), Code::kCorrupt,
       "surface is 16x0; width and height must be 1 to 65535"},
      {"zero width, no data", dxt(0, 16).Format(Fmt::kDxt5).Build(), Code::kCorrupt,
       "surface is 0x16; width and height must be 1 to 65535"},
      {"width beyond a TGA", dxt(65536, 4).Build(), Code::kCorrupt,
       "surface is 65536x4; width and height must be 1 to 65535"},
      {"sides that overflow 32 bits", dxt(0xFFFFFFFF, 0xFFFFFFFF).Build(), Code::kCorrupt,
       "surface is 4294967295x4294967295; width and height must be 1 to 65535"},
      {"short block data", dxt(16, 16).Format(Fmt::kDxt5).Data(Bytes(40)).Build(), Code::kCorrupt,
       "block data is 40 bytes; a 16x16 DXT5 surface needs 256"},
      {"edge blocks count", dxt(5, 9).Data(Bytes(47)).Build(), Code::kCorrupt,
       "block data is 47 bytes; a 5x9 DXT1 surface needs 48"},
      {"a need beyond 32 bits", dxt(65535, 65535).Format(Fmt::kDxt3).Build(), Code::kCorrupt,
       "block data is 0 bytes; a 65535x65535 DXT3 surface needs 4294967296"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    auto result = DecodeEntry(c.entry);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.status().code(), c.code);
    EXPECT_EQ(result.status().message(), c.message);
  }
}

TEST(DdsChecks, AcceptsAnyMagicAndExactData) {
  for (Fmt f : {Fmt::kDxt1, Fmt::kDxt3, Fmt::kDxt5}) {
    const Bytes entry = DdsBuilder(5, 9).Format(f).Magic(0).Data(MarkedBlocks(f, 5, 9)).Build();
    auto surface = CheckDdsEntry(std::span(entry).first(kDdsHeaderSize), entry.size());
    ASSERT_TRUE(surface.ok()) << surface.status().message();
    EXPECT_EQ(surface->width, 5u);
    EXPECT_EQ(surface->height, 9u);
    EXPECT_EQ(surface->xblocks, 2u);
    EXPECT_EQ(surface->yblocks, 3u);
    EXPECT_EQ(surface->block_bytes, entry.size() - kDdsHeaderSize);
  }
}

TEST(DdsChecks, SurfaceDecodersReadNothingBeyondShortData) {
  DDSURFACEDESC2 ddsd;
  ddsd.dwWidth = 8;
  ddsd.dwHeight = 8;
  const Bytes short_data(63);
  EXPECT_TRUE(DecompressDXT5(ddsd, short_data).empty());
  EXPECT_TRUE(DecompressDXT3(ddsd, short_data).empty());
  EXPECT_EQ(DecompressDXT1(ddsd, short_data).size(), 64u);
}

TEST(SurfaceDesc, EveryFieldAtItsOffset) {
  Bytes bytes;
  for (std::uint32_t at = 0; at < kDdsSurfaceDescSize; at += 4)
    pelt::testing::PutU32(&bytes, 0xD0000000 | at);
  const DDSURFACEDESC2 d = ReadSurfaceDesc(std::span(bytes).first<kDdsSurfaceDescSize>());
  const std::uint32_t got[] = {d.dwSize,
                               d.dwFlags,
                               d.dwHeight,
                               d.dwWidth,
                               d.dwLinearSize,
                               d.dwDepth,
                               d.dwMipMapCount,
                               d.dwAlphaBitDepth,
                               d.dwReserved,
                               d.lpSurface,
                               d.ddckCKDestOverlay.dwColorSpaceLowValue,
                               d.ddckCKDestOverlay.dwColorSpaceHighValue,
                               d.ddckCKDestBlt.dwColorSpaceLowValue,
                               d.ddckCKDestBlt.dwColorSpaceHighValue,
                               d.ddckCKSrcOverlay.dwColorSpaceLowValue,
                               d.ddckCKSrcOverlay.dwColorSpaceHighValue,
                               d.ddckCKSrcBlt.dwColorSpaceLowValue,
                               d.ddckCKSrcBlt.dwColorSpaceHighValue,
                               d.ddpfPixelFormat.dwSize,
                               d.ddpfPixelFormat.dwFlags,
                               d.ddpfPixelFormat.dwFourCC,
                               d.ddpfPixelFormat.dwRGBBitCount,
                               d.ddpfPixelFormat.dwRBitMask,
                               d.ddpfPixelFormat.dwGBitMask,
                               d.ddpfPixelFormat.dwBBitMask,
                               d.ddpfPixelFormat.dwRGBAlphaBitMask,
                               d.ddsCaps.dwCaps,
                               d.ddsCaps.dwCaps2,
                               d.ddsCaps.dwCaps3,
                               d.ddsCaps.dwCaps4,
                               d.dwTextureStage};
  static_assert(std::size(got) * 4 == kDdsSurfaceDescSize);
  for (std::uint32_t i = 0; i < std::size(got); ++i)
    EXPECT_EQ(got[i], 0xD0000000 | (4 * i)) << "offset " << 4 * i;
  EXPECT_EQ(d.dwHeight, 0xD0000008u);
  EXPECT_EQ(d.dwWidth, 0xD000000Cu);
  EXPECT_EQ(d.ddpfPixelFormat.dwFourCC, 0xD0000050u);
}

}  // namespace
}  // namespace pelt
