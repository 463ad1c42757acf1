// The readers of untrusted bytes: an archive's directory and its entries' places, a model's
// texture names, a DDS entry's checks, and every shipped decoding path against the reference
// decoder, which is held to hand-worked blocks here.
#include <gtest/gtest.h>

#include <random>

#include "dds.h"
#include "mix_reader.h"
#include "model_scan.h"
#include "reference_decoder.h"
#include "testutil.h"

namespace pelt::testing {
namespace {

Bytes First(const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + n); }

// `bytes` is a heap block of their size: AddressSanitizer sees a read one byte past the end.
Result<MixDirectory> Parse(const Bytes& bytes) { return ParseMixDirectory(MemorySource(bytes)); }

// Names end at their first NUL, case kept, and pair with the first records; records as stored.
// Cut anywhere before the end of what is read of it, each is refused.
TEST(MixReader, ReadsRecordsAndNames) {
  const MixBuilder two =
      MixBuilder().AddRawName(ToBytes({"Rock.TGA\0x", 10}), ToBytes("xyz")).Add("b", "pq");
  struct Case {
    Bytes archive;
    std::vector<std::string> names;
    std::size_t unread;  // bytes at the end that are never read
  };
  const Case kCases[] = {
      {two.Build(), {"Rock.TGA", "b"}, 0},
      {two.Build(true), {"Rock.TGA", "b"}, 0},
      // The name count made 1, at 16 + 5 + 4 + 2 x 12: the second name is never read.
      {Patch32(two.Build(), 49, 1), {"Rock.TGA"}, 3},
      // A name of 254 characters and its NUL: the largest length byte.
      {MixBuilder().Add(std::string(254, 'n'), "xyz").Add("b", "pq").Build(),
       {std::string(254, 'n'), "b"},
       0},
  };
  for (const Case& c : kCases) {
    for (std::size_t n = 0; n < c.archive.size() - c.unread; ++n)
      EXPECT_EQ(Parse(First(c.archive, n)).status().code(), Code::kCorrupt);
    auto dir = Parse(c.archive);
    ASSERT_TRUE(dir.ok()) << dir.status().message();
    EXPECT_EQ(dir->filenames, c.names);
    ASSERT_EQ(dir->indexhead.size(), 2u);
    EXPECT_EQ(dir->indexhead[0].offset, 16);
    EXPECT_EQ(dir->indexhead[0].size, 3);
    EXPECT_EQ(dir->indexhead[1].offset, 19);
    EXPECT_EQ(dir->indexhead[1].size, 2);
  }
}

TEST(MixReader, EveryDamageIsRefusedWithItsReason) {
  // header | "xyz" at 16 | index at 19: count, 1 record | name table at 35: count, 6 "a.tga\0"
  const Bytes good = MixBuilder().Add("a.tga", "xyz").Build();
  const Bytes three = MixBuilder().Add("a", "").Add("b", "").Add("c", "").Build();  // names at 56
  struct Case {
    Bytes archive;
    std::string reason;
  };
  // clang-format off
  const Case kCases[] = {
      {First(good, 4), "header shorter than 16 bytes (file is 4 bytes)"},  // the identifier only
      {First(good, 15), "header shorter than 16 bytes (file is 15 bytes)"},
      {Patch32(good, 4, 0),  // the count read is the identifier's
       "index count 1296652337 needs 15559828044 bytes, but only 42 follow the index offset"},
      {Patch32(good, 4, 43), "index offset 43 lies outside the file (46 bytes)"},
      {Patch32(good, 19, -1), "index count -1 is negative"},
      {Patch32(good, 19, 0x15555556),  // 12 times that is 8 in 32 bits
       "index count 357913942 needs 4294967304 bytes, but only 23 follow the index offset"},
      {Patch32(good, 35, 2), "name count 2 is larger than the index count 1"},
      {First(three, 65), "name count 3 is too large for the 5 bytes that follow the name table offset"},
      {First(three, 66), "name table is cut short by the end of the file at name 2"},
      {MixBuilder().Add("a.tga", "").AddRawName({}, {}).Build(), "name 1 has length 0"},
      {MixBuilder().AddRawName(ToBytes("a.tga"), {}).Build(), "name 0 holds no NUL in its 5 bytes"},
  };
  // clang-format on
  for (const Case& c : kCases) {
    auto dir = Parse(c.archive);
    ASSERT_FALSE(dir.ok()) << c.reason;
    EXPECT_EQ(dir.status().code(), Code::kCorrupt);
    EXPECT_EQ(dir.status().message(), c.reason);
  }
}

Result<ModelTextures> Scan(const Bytes& bytes) { return ScanTextureNames(MemorySource(bytes)); }

// Names in file order, case and repeats kept; containers entered, other payloads skipped whole.
TEST(ModelScan, Walk) {
  ModelBuilder deep;  // the walk is flat: 100000 containers deep cost no stack
  for (int i = 0; i < 100000; ++i) deep.Begin();
  using M = ModelBuilder;
  struct Case {
    const char* what;
    Bytes model;
    std::vector<std::string> names;
    std::uint64_t cut_at = 0;  // the offset of a texture-name chunk cut short
  };
  // clang-format off
  const Case kCases[] = {
      {"nested containers",
       M().Begin().Chunk(3, Bytes(5)).Begin(50).Texture("in").End().Texture("B").End().Texture("c")
           .Texture("B").Build(),
       {"in", "B", "c", "B"}},
      {"100000 containers deep", deep.Texture("x").Build(), {"x"}},
      {"size 0: no name", M().Header(50, 0).Texture("b").Build(), {"b"}},
      {"size 1: an empty name", M().Chunk(7, {1}).Chunk(50, {0}).Texture("b").Build(), {"", "b"}},
      {"a name without a NUL", M().Chunk(50, ToBytes("ab")).Build(), {"ab"}},
      {"a texture name cut short", M().Texture("a").Header(50, 20).Texture("b").Build(), {"a"}, 10},
  };
  // clang-format on
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    auto scan = Scan(c.model);
    ASSERT_TRUE(scan.ok());
    EXPECT_EQ(scan->texturenames, c.names);
    EXPECT_EQ(scan->name_cut_short, c.cut_at != 0);
    EXPECT_EQ(scan->cut_short_offset, c.cut_at);
  }
}

constexpr DxtFormat k1 = DxtFormat::kDxt1, k3 = DxtFormat::kDxt3, k5 = DxtFormat::kDxt5;

// Random blocks (both DXT1 palette modes, equal endpoints, both DXT5 alpha modes) in rows with and
// without gaps, at unaligned addresses, from a lone block to many.
TEST(DxtPaths, EverySupportedPathDecodesAsTheReference) {
  struct Shape {
    std::uint32_t xblocks, yblocks;
    std::size_t gap, lead;  // pixels after each row's blocks, and before the first
  };
  const Shape kShapes[] = {{1, 1, 0, 0}, {2, 3, 1, 3}, {3, 2, 7, 1}, {33, 2, 5, 2}, {64, 64, 0, 1}};
  std::mt19937 rng(7);
  for (DxtFormat f : {k1, k3, k5}) {
    for (const Shape& s : kShapes) {
      const Bytes blocks = RandomBlocks(f, s.xblocks * s.yblocks, &rng);
      const std::size_t stride = 4 * s.xblocks + s.gap;
      EXPECT_EQ(FirstPathUnlikeReference(f, blocks.data(), s.xblocks, s.yblocks, stride, s.lead),
                -1)
          << FormatName(f) << " " << s.xblocks << "x" << s.yblocks << " blocks";
    }
  }
}

// One block per rule, worked out by hand, through the reference and every supported path. Colour
// index bytes E4: pixel n of the tile takes palette entry n % 4. DXT5 index bytes 88 C6 FA 88 C6
// FA, and the DXT3 nibbles here: pixel n takes alphas[n % 8].
TEST(DxtPaths, HandWorkedBlocks) {
  struct Case {
    DxtFormat format;
    std::uint64_t alpha_half, colour_half;  // little-endian; the colour half: indices, col1, col0
    std::array<BgraPixel, 4> palette;       // as 0xAARRGGBB
    std::array<std::uint8_t, 8> alphas;     // DXT3, DXT5: ORed into the palette entries
  };
  // clang-format off
  const Case kCases[] = {
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
  for (const Case& c : kCases) {
    Bytes block;
    Bytes want;
    for (int n = c.format == k1 ? 8 : 0; n < 16; ++n) {
      const std::uint64_t half = n < 8 ? c.alpha_half : c.colour_half;
      block.push_back(static_cast<std::uint8_t>(half >> 8 * (n % 8)));
    }
    for (int n = 0; n < 16; ++n) PutU32(&want, c.palette[n % 4] | BgraPixel{c.alphas[n % 8]} << 24);
    EXPECT_EQ(ReferenceDecode(c.format, block.data(), 4, 4), want) << std::hex << c.colour_half;
    EXPECT_EQ(FirstPathUnlikeReference(c.format, block.data(), 1, 1, 4, 0), -1);
  }
}

// One row per refusal; most entries are also broken the ways later checks refuse, which must not
// win: the header's length is checked first, then the FourCC, the sides, the block data.
TEST(CheckDdsEntry, EachRefusalSaysWhy) {
  using D = DdsBuilder;
  const std::string kSides = "; width and height must be 1 to 65535";
  struct Case {
    Bytes entry;  // at most 128 bytes or whole
    std::string reason;
  };
  const Case kCases[] = {
      {Bytes(127), "DDS entry is 127 bytes, shorter than its 128-byte header"},
      {D(0, 0).FourCC(0x7E584420).Build(), "unsupported format \" DX~\""},
      {D(4, 4).FourCC(0x7F545844).Build(), "unsupported format 0x7F545844"},
      {D(65536, 4).Build(), "surface is 65536x4" + kSides},
      {D(5, 9).Data(Bytes(47)).Build(), "block data is 47 bytes; a 5x9 DXT1 surface needs 48"},
      {D(65535, 65535).Format(k3).Build(),
       "block data is 0 bytes; a 65535x65535 DXT3 surface needs 4294967296"},
  };
  for (const Case& c : kCases) {
    const auto got = CheckDdsEntry(c.entry, c.entry.size());
    EXPECT_EQ(got.status().code(), c.reason[0] == 'u' ? Code::kUnsupported : Code::kCorrupt);
    EXPECT_EQ(got.status().message(), c.reason);
  }
}

}  // namespace
}  // namespace pelt::testing
