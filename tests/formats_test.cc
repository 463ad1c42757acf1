// The readers of untrusted bytes: each reader's refusals, and every shipped decoding path against
// the reference decoder.
#include <gtest/gtest.h>

#include <random>

#include "convert.h"
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

// Each way a surface description names a format, and ways it names none: an entry of random data
// is named and converted as the reference decodes it, or refused as the reference refuses it.
TEST(Dds, EachDescriptionAsTheReferenceReadsIt) {
  std::mt19937 rng(11);
  const auto cc = [](const char* code) {
    return LoadU32(reinterpret_cast<const std::uint8_t*>(code));
  };
  const auto random = [&](std::size_t n) {
    Bytes b(n);
    std::generate(b.begin(), b.end(), [&] { return static_cast<std::uint8_t>(rng()); });
    return b;
  };
  const auto F = [&](std::uint32_t fourcc, std::uint32_t w = 5, std::uint32_t h = 3,
                     std::size_t n = 60) {
    return DdsBuilder(w, h).FourCC(fourcc).Data(random(n)).Build();
  };
  const auto M = [&](std::uint32_t flags, std::uint32_t bits, std::uint32_t r, std::uint32_t g,
                     std::uint32_t b, std::uint32_t a) {
    return DdsBuilder(5, 3).Masks(flags, bits, r, g, b, a).Data(random(60)).Build();
  };
  constexpr std::uint32_t kRgb = 0x40, kL = 0x20000, kAp = 0x1, kA = 0x2;
  const std::string raw = " (--raw keeps the entry as stored)";
  struct Case {
    Bytes entry;
    std::string name;  // as listed, or the refusal
  };
  // clang-format off
  const Case kCases[] = {
      {Patch32(M(kRgb, 12, 1, 2, 3, 4), 84, cc("DXT1")), "DXT1"},  // whatever the flags say
      {Patch32(Patch32(F(cc("DXT2")), 20, 7), 28, 0), "DXT2"},  // a wrong pitch, no mipmap count
      {F(cc("DXT3")), "DXT3"}, {F(cc("DXT4")), "DXT4"}, {F(cc("DXT5")), "DXT5"},
      {F(cc("ATI1")), "ATI1"}, {F(cc("BC4U")), "ATI1"}, {F(cc("ATI2")), "ATI2"}, {F(cc("BC5U")), "ATI2"},
      {F(20), "R8G8B8"}, {F(21), "A8R8G8B8"}, {F(22), "X8R8G8B8"}, {F(23), "R5G6B5"}, {F(24), "X1R5G5B5"},
      {F(25), "A1R5G5B5"}, {F(26), "A4R4G4B4"}, {F(27), "R3G3B2"}, {F(28), "A8"}, {F(29), "A8R3G3B2"},
      {F(30), "X4R4G4B4"}, {F(31), "A2B10G10R10"}, {F(32), "A8B8G8R8"}, {F(33), "X8B8G8R8"},
      {F(34), "G16R16"}, {F(35), "A2R10G10B10"}, {F(50), "L8"}, {F(51), "A8L8"}, {F(52), "A4L4"}, {F(81), "L16"},
      {F(21, 65535, 9, 65535 * 36), "A8R8G8B8"},  // many bands, decoded in place
      {M(kRgb, 16, 0xF800, 0x7E0, 0x1F, 0), "R5G6B5"},
      {M(kRgb, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000), "X8R8G8B8"},  // alpha not flagged
      {M(kRgb | kAp, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000), "A8R8G8B8"},
      {M(kRgb | kAp, 16, 0xFF, 0xFF, 0xFF, 0xFF00), "A8L8"},  // overlapping: grey
      {M(kRgb | kAp, 16, 0xF, 0xF0, 0xF00, 0), "RGB16"},
      {M(kRgb | kAp, 24, 0x1, 0x7E, 0xFFFF80, 0xFF), "RGBA24"},  // 1, 6 and 17 bits
      {M(kL | kAp, 16, 0xFF00, 0, 0, 0xF0), "LA16"},
      {M(kA, 8, 0, 0, 0, 0xFF), "A8"},
      {M(kAp, 16, 0, 0, 0, 0xFF0), "A16"},
      {M(kRgb, 12, 0xF00, 0xF0, 0xF, 0), "unsupported format: flags 0x40, 12 bits, masks 0xF00 0xF0 0xF 0x0" + raw},
      {M(kRgb, 16, 0xF0F, 0xF0, 0, 0), "unsupported format: flags 0x40, 16 bits, masks 0xF0F 0xF0 0x0 0x0" + raw},
      {M(kL, 16, 0xFF0000, 0, 0, 0), "unsupported format: flags 0x20000, 16 bits, masks 0xFF0000 0x0 0x0 0x0" + raw},
      {M(kA, 8, 0xFF, 0, 0, 0), "unsupported format: flags 0x2, 8 bits, masks 0xFF 0x0 0x0 0x0" + raw},
      {F(cc("DX10")), "unsupported format \"DX10\"" + raw},
      {F(36), "unsupported format 0x00000024" + raw},
      {F(21, 5, 3, 59), "pixel data is 59 bytes; a 5x3 A8R8G8B8 surface needs 60"},
  };
  // clang-format on
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const auto s = CheckDdsEntry(c.entry, c.entry.size());
    ASSERT_EQ(s.ok(), ReferenceDecodeDds(c.entry).has_value());
    if (!s.ok()) {
      EXPECT_EQ(s.status().message(), c.name);
      continue;
    }
    EXPECT_EQ(s->name, c.name);
    MemorySink tga;
    ASSERT_TRUE(ConvertDdsToTga(MemorySource(c.entry), 0, *s, 0x2F, &tga).ok());
    EXPECT_TRUE(tga.bytes == ReferenceTga(c.entry));
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
      {kTga, T{.type = 8}.Build(), "unsupported TGA image type 8"},  // run-length, no image
      {kTga, T{.type = 1, .depth = 8, .data = {0}}.Build(), "colour-mapped TGA has no colour map"},
      {kTga, T{.depth = 15}.Build(), "unsupported 15-bit true-colour TGA"},
      {kTga, T{.type = 1, .depth = 8, .data = {0}, .map = Bytes(2), .map_depth = 16}.Build(), "unsupported 16-bit TGA colour map"},
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
