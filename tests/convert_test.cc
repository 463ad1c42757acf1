// DDS entries: their checks, and every shipped decoding path against the reference decoder, which
// is held to hand-worked blocks here.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <tuple>

#include "reference_decoder.h"
#include "testutil.h"

namespace pelt::testing {
namespace {

constexpr DxtFormat k1 = DxtFormat::kDxt1, k3 = DxtFormat::kDxt3, k5 = DxtFormat::kDxt5;

// Random blocks (both DXT1 palette modes, equal endpoints, both DXT5 alpha modes) in rows with and
// without gaps, at unaligned addresses, from a lone block to many.
TEST(DxtPaths, EverySupportedPathDecodesAsTheReference) {
  const std::uint32_t kShapes[][4] = {
      {1, 1, 0, 0}, {2, 3, 1, 3}, {3, 2, 7, 1}, {33, 2, 5, 2}, {64, 64, 0, 1}};
  std::mt19937 rng(7);
  for (DxtFormat f : {k1, k3, k5}) {
    for (const auto& s : kShapes) {
      const Bytes blocks = RandomBlocks(f, s[0] * s[1], &rng);
      EXPECT_EQ(FirstPathUnlikeReference(f, blocks.data(), s[0], s[1], 4 * s[0] + s[2], s[3]), -1)
          << FormatName(f) << " " << s[0] << "x" << s[1] << " blocks";
    }
  }
}

// One block per rule, worked out by hand, through the reference and every supported path. Colour
// index bytes E4: pixel n of the tile takes palette entry n % 4. DXT5 index bytes 88 C6 FA 88 C6
// FA, and the DXT3 nibbles here: pixel n takes alphas[n % 8].
TEST(DxtPaths, HandWorkedBlocks) {
  // Format, alpha half and colour half as little-endian numbers (the colour half: indices, col1,
  // col0), palette entries as 0xAARRGGBB, alphas (DXT3, DXT5: ORed into the palette entries).
  // clang-format off
  const std::tuple<DxtFormat, std::uint64_t, std::uint64_t, std::array<BgraPixel, 4>,
                   std::array<std::uint8_t, 8>> kCases[] = {
      // DXT1 col0 > col1: four colours, thirds truncated; 5:6:5 widened by shifting only.
      {k1, 0, 0xE4E4E4E40000FFFF, {0xFFF8FCF8, 0xFF000000, 0xFFA5A8A5, 0xFF525452}, {}},
      // DXT1 col0 < col1: three colours, the midpoint, the transparent entry.
      {k1, 0, 0xE4E4E4E4F800001F, {0xFF0000F8, 0xFFF80000, 0xFF7C007C, 0x0000FFFF}, {}},
      // DXT1 equal endpoints: three colours.
      {k1, 0, 0xE4E4E4E412341234, {0xFF1044A0, 0xFF1044A0, 0xFF1044A0, 0x0000FFFF}, {}},
      // DXT3: four colours even when col0 < col1; alpha nibble x 17, the low nibble first.
      {k3, 0xB654F210B654F210, 0xE4E4E4E4F800001F, {0xF8, 0xF80000, 0x5200A5, 0xA50052},
       {0, 17, 34, 255, 68, 85, 102, 187}},
      // DXT5 alpha0 > alpha1: eight alphas, sevenths truncated.
      {k5, 0xFAC688FAC6880064, 0xE4E4E4E400000000, {}, {100, 0, 85, 71, 57, 42, 28, 14}},
      // DXT5 alpha0 < alpha1: six alphas, fifths truncated, then 0 and 255.
      {k5, 0xFAC688FAC688C90A, 0xE4E4E4E400000000, {}, {10, 201, 48, 86, 124, 162, 0, 255}},
  };
  // clang-format on
  for (const auto& [f, alpha_half, colour_half, palette, alphas] : kCases) {
    Bytes block, want;
    for (int n = f == k1 ? 8 : 0; n < 16; ++n)
      block.push_back(static_cast<std::uint8_t>((n < 8 ? alpha_half : colour_half) >> 8 * (n % 8)));
    for (int n = 0; n < 16; ++n) PutU32(&want, palette[n % 4] | BgraPixel{alphas[n % 8]} << 24);
    EXPECT_EQ(ReferenceDecode(f, block.data(), 4, 4), want) << std::hex << colour_half;
    EXPECT_EQ(FirstPathUnlikeReference(f, block.data(), 1, 1, 4, 0), -1);
  }
}

// One row per refusal; most entries are also broken the ways later checks refuse, which must not
// win: the header's length is checked first, then the FourCC, the sides, the block data.
TEST(CheckDdsEntry, EachRefusalSaysWhy) {
  using D = DdsBuilder;
  const std::string kSides = "; width and height must be 1 to 65535";
  const std::pair<Bytes, std::string> kCases[] = {
      {Bytes(127), "DDS entry is 127 bytes, shorter than its 128-byte header"},
      {D(0, 0).FourCC(0x7E584420).Build(), "unsupported format \" DX~\""},
      {D(4, 4).FourCC(0x7F545844).Build(), "unsupported format 0x7F545844"},
      {D(0, 16).Format(Fmt::kDxt5).Build(), "surface is 0x16" + kSides},
      {D(16, 0).Data(Bytes(64)).Build(), "surface is 16x0" + kSides},
      {D(65536, 4).Build(), "surface is 65536x4" + kSides},
      {D(4, 65536).Build(), "surface is 4x65536" + kSides},
      {D(5, 9).Data(Bytes(47)).Build(), "block data is 47 bytes; a 5x9 DXT1 surface needs 48"},
      {D(65535, 65535).Format(Fmt::kDxt3).Build(),
       "block data is 0 bytes; a 65535x65535 DXT3 surface needs 4294967296"},
  };
  for (const auto& [entry, message] : kCases) {
    const auto got = CheckDdsEntry(entry, entry.size());  // `entry` is at most 128 bytes or whole
    EXPECT_EQ(got.status().code(), message[0] == 'u' ? Code::kUnsupported : Code::kCorrupt);
    EXPECT_EQ(got.status().message(), message);
  }
}

}  // namespace
}  // namespace pelt::testing
