// The readers of untrusted bytes: each reader's refusals, and every shipped decoding path against
// the reference decoder.
#include <gtest/gtest.h>

#include <random>

#include "dds.h"
#include "mix_reader.h"
#include "reference_decoder.h"
#include "testutil.h"
#include "tga_reader.h"

namespace pelt::testing {
namespace {

// Random blocks (both DXT1 palette modes, equal endpoints, both DXT5 alpha modes) in rows with and
// without gaps, at unaligned addresses, from a lone block to many.
TEST(DxtPaths, EverySupportedPathDecodesAsTheReference) {
  struct Shape {
    std::uint32_t xblocks, yblocks;
    std::size_t gap, lead;  // pixels after each row's blocks, and before the first
  };
  const Shape kShapes[] = {{1, 1, 0, 0}, {2, 3, 1, 3}, {33, 2, 5, 2}, {64, 64, 0, 1}};
  EXPECT_TRUE(PathSupported(DecodePath::kPortable));  // else the loop below skips it
  std::mt19937 rng(7);
  for (Fmt f : {Fmt::kDxt1, Fmt::kDxt3, Fmt::kDxt5}) {
    for (const Shape& s : kShapes) {
      const Bytes blocks = RandomBlocks(f, s.xblocks * s.yblocks, &rng);
      const std::size_t stride = 4 * s.xblocks + s.gap;
      EXPECT_EQ(FirstPathUnlikeReference(f, blocks.data(), s.xblocks, s.yblocks, stride, s.lead),
                -1)
          << FormatName(f) << " " << s.xblocks << "x" << s.yblocks << " blocks";
    }
  }
}

// One row per refusal of each reader; most DDS entries are also broken the ways later checks
// refuse, which must not win: the header's length first, then the FourCC, the sides, the blocks.
TEST(Readers, EachRefusalSaysWhy) {
  enum Reader { kMix, kDds, kTga };
  // header | "xyz" at 16 | index at 19: count, 1 record | name table at 35: count, 6 "a.tga\0"
  const Bytes good = MixBuilder().Add("a.tga", "xyz").Build();
  const Bytes three = MixBuilder().Add("a", "").Add("b", "").Add("c", "").Build();  // names at 56
  using D = DdsBuilder;
  using T = TgaEntry;
  struct Case {
    Reader reader;
    Bytes bytes;
    std::string reason;
  };
  // clang-format off
  const Case kCases[] = {
      {kMix, Bytes(good.begin(), good.begin() + 4), "header shorter than 16 bytes (file is 4 bytes)"},  // the identifier only
      {kMix, Bytes(15), "not a mix archive (no \"1XIM\" identifier; archive and model swapped?): header shorter than 16 bytes (file is 15 bytes)"},
      {kMix, Patch32(good, 4, 0),  // the count read is the identifier's
       "index count 1296652337 needs 15559828044 bytes, but only 42 follow the index offset"},
      {kMix, Patch32(Bytes(good.begin(), good.begin() + 16), 4, 13), "index offset 13 lies outside the file (16 bytes)"},
      {kMix, Patch32(good, 19, 0x15555556),  // 12 times that is 8 in 32 bits
       "index count 357913942 needs 4294967304 bytes, but only 23 follow the index offset"},
      {kMix, Patch32(good, 35, 2), "name count 2 is larger than the index count 1"},
      {kMix, Bytes(three.begin(), three.begin() + 65), "name count 3 is too large for the 5 bytes that follow the name table offset"},
      {kMix, MixBuilder().AddRawName(ToBytes("a.tga"), {}).Build(), "name 0 holds no NUL in its 5 bytes"},
      {kDds, Bytes(127), "DDS entry is 127 bytes, shorter than its 128-byte header"},
      {kDds, Patch32(D(0, 0).Build(), 84, 0x7E584420), "unsupported format \" DX~\" (--raw keeps the entry as stored)"},
      {kDds, D(65536, 4).Build(), "surface is 65536x4; width and height must be 1 to 65535"},
      {kDds, D(0, 4).Build(), "surface is 0x4; width and height must be 1 to 65535"},
      {kDds, D(5, 9).Data(Bytes(47)).Build(), "block data is 47 bytes; a 5x9 DXT1 surface needs 48"},
      {kDds, D(65535, 65535).Format(Fmt::kDxt3).Build(), "block data is 0 bytes; a 65535x65535 DXT3 surface needs 4294967296"},
      {kTga, T{.type = 4}.Build(), "unsupported TGA image type 4"},
      {kTga, T{.type = 1, .depth = 8, .data = {0}}.Build(), "colour-mapped TGA has no colour map"},
      {kTga, T{.depth = 15}.Build(), "unsupported 15-bit true-colour TGA"},
      {kTga, T{.width = 0}.Build(), "TGA image is 0x1; width and height must be at least 1"},
      {kTga, T{.descriptor = 0x30}.Build(), "unsupported right-to-left TGA"},
      {kTga, T{.type = 9, .depth = 8, .width = 3, .data = {0x01, 2, 5, 0x80, 6}, .map = Bytes(16), .map_depth = 32, .map_first = 2}.Build(), "colour-map index 6 is outside the 4-entry map from index 2"},
  };
  // clang-format on
  for (const Case& c : kCases) {
    const MemorySource source(c.bytes);  // a heap block of their size: ASan sees an over-read
    const Status got = c.reader == kMix   ? ParseMixDirectory(source).status()
                       : c.reader == kDds ? CheckDdsEntry(c.bytes, c.bytes.size()).status()
                                          : CheckTgaEntry(source, 0, c.bytes.size()).status();
    EXPECT_EQ(got.code(), c.reason[0] == 'u' ? Code::kUnsupported : Code::kCorrupt) << c.reason;
    EXPECT_EQ(got.message(), c.reason);
  }
  const Bytes empty = MixBuilder().Build();  // counts of 0: an archive of no entries
  EXPECT_TRUE(ParseMixDirectory(MemorySource(empty)).ok());
}

}  // namespace
}  // namespace pelt::testing
