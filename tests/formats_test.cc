// The readers of untrusted bytes: an archive's directory, a model's texture names, a DDS entry's
// checks, and every shipped decoding path against the reference decoder, which is held to
// hand-worked blocks here.
#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "mix_reader.h"
#include "model_scan.h"
#include "reference_decoder.h"
#include "testutil.h"

namespace pelt::testing {
namespace {

// `bytes` is a heap block of their size: AddressSanitizer sees a read one byte past the end.
Result<MixDirectory> Parse(const Bytes& bytes) { return ParseMixDirectory(SpanSource(bytes)); }

// Names end at their first NUL, case kept, and pair with the first records; records as stored.
// Cut anywhere before the end of what is read of it, each is refused.
TEST(MixReader, ReadsRecordsAndNames) {
  const MixBuilder two =
      MixBuilder().AddRawName(ToBytes({"Rock.TGA\0x", 10}), ToBytes("xyz")).Add("b", "pq");
  const std::string n254(254, 'n');
  // clang-format off
  const std::tuple<Bytes, std::vector<std::string>, std::size_t> kCases[] = {
      {two.Build(), {"Rock.TGA", "b"}, 0},
      {MixBuilder(two).NamesBeforeIndex().Build(), {"Rock.TGA", "b"}, 0},
      {Patch32(two.Build(), 49, 1), {"Rock.TGA"}, 3},  // the name count, after 16 + 5 + 4 + 2 x 12
      {MixBuilder().Add(n254, "xyz").Add("b", "pq").Build(), {n254, "b"}, 0},  // length byte 255
  };
  // clang-format on
  for (const auto& [archive, names, unread] : kCases) {  // unread: bytes at the end never read
    for (std::size_t n = 0; n < archive.size() - unread; ++n)
      EXPECT_EQ(Parse(Bytes(archive.begin(), archive.begin() + n)).status().code(), Code::kCorrupt);
    auto dir = Parse(archive);
    ASSERT_TRUE(dir.ok()) << dir.status().message();
    EXPECT_EQ(dir->filenames, names);
    ASSERT_EQ(dir->indexhead.size(), 2u);
    EXPECT_EQ(std::pair(dir->indexhead[0].offset, dir->indexhead[0].size), std::pair(16, 3));
    EXPECT_EQ(std::pair(dir->indexhead[1].offset, dir->indexhead[1].size), std::pair(19, 2));
  }
}

TEST(MixReader, EveryDamageIsRefusedWithItsReason) {
  // header | "xyz" at 16 | index at 19: count, 1 record | name table at 35: count, 6 "a.tga\0"
  const Bytes good = MixBuilder().Add("a.tga", "xyz").Build();
  const Bytes three = MixBuilder().Add("a", "").Add("b", "").Add("c", "").Build();  // names at 56
  auto with = [&good](std::size_t at, std::uint32_t v) { return Patch32(good, at, v); };
  auto first = [](const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + n); };
  // clang-format off
  const std::pair<Bytes, std::string> kCases[] = {
      {first(good, 15), "header shorter than 16 bytes (file is 15 bytes)"},
      {with(4, -1), "index offset -1 lies outside the file (46 bytes)"},
      {with(4, 43), "index offset 43 lies outside the file (46 bytes)"},
      {with(8, 47), "name table offset 47 lies outside the file (46 bytes)"},
      {with(19, -1), "index count -1 is negative"},
      {with(19, 2), "index count 2 needs 24 bytes, but only 23 follow the index offset"},
      {with(19, 0x15555556),  // 12 times that is 8 in 32 bits
       "index count 357913942 needs 4294967304 bytes, but only 23 follow the index offset"},
      {with(35, -1), "name table count -1 is negative"},
      {with(35, 2), "name count 2 is larger than the index count 1"},
      {first(three, 65), "name count 3 is too large for the 5 bytes that follow the name table offset"},
      {first(three, 66), "name table is cut short by the end of the file at name 2"},
      {MixBuilder().Add("a.tga", "").AddRawName({}, {}).Build(), "name 1 has length 0"},
      {MixBuilder().AddRawName(ToBytes("a.tga"), {}).Build(), "name 0 holds no NUL in its 5 bytes"},
  };
  // clang-format on
  for (const auto& [archive, reason] : kCases) {
    auto dir = Parse(archive);
    ASSERT_FALSE(dir.ok()) << reason;
    EXPECT_EQ(dir.status().code(), Code::kCorrupt);
    EXPECT_EQ(dir.status().message(), reason);
  }
}

Result<ModelTextures> Scan(const Bytes& bytes) { return ScanTextureNames(SpanSource(bytes)); }

// Names in file order, case and repeats kept; containers entered, other payloads skipped whole.
// Cut anywhere, a model keeps the names before the cut.
TEST(ModelScan, Walk) {
  ModelBuilder deep;  // the walk is flat: 100000 containers deep cost no stack
  for (int i = 0; i < 100000; ++i) deep.Begin();
  struct Case {
    const char* what;
    Bytes model;
    std::vector<std::string> names;
    std::uint64_t cut_at = 0;  // the offset of a texture-name chunk cut short
  };
  // clang-format off
  const Case kCases[] = {
      {"nested containers", ModelBuilder().Begin().Chunk(3, Bytes(5)).Begin(50).Texture("in").End()
                                .Texture("B").End().Texture("c").Texture("B").Build(),
       {"in", "B", "c", "B"}},
      {"100000 containers deep", deep.Texture("x").Build(), {"x"}},
      {"size 0: no name", ModelBuilder().Header(50, 0).Texture("b").Build(), {"b"}},
      {"size 1: an empty name", ModelBuilder().Chunk(7, {1}).Chunk(50, {0}).Texture("b").Build(), {"", "b"}},
      {"any size word with the top bit set", ModelBuilder().Header(7, ~0u).Texture("b").Build(), {"b"}},
      {"another chunk's payload", ModelBuilder().Chunk(7, ModelOf({"no"})).Texture("b").Build(), {"b"}},
      {"a name ends at its NUL", ModelBuilder().Chunk(50, ToBytes({"a\0b", 3})).Build(), {"a"}},
      {"a name without a NUL", ModelBuilder().Chunk(50, ToBytes("ab")).Build(), {"ab"}},
      {"another chunk cut short", ModelBuilder().Texture("a").Header(7, 20).Texture("b").Build(),
       {"a"}},
      {"a texture name cut short", ModelBuilder().Texture("a").Header(50, 20).Texture("b").Build(),
       {"a"}, 10},
  };
  // clang-format on
  for (const Case& c : kCases) {
    for (std::size_t n = 0; n < c.model.size() && n < 100; ++n) {  // the deep one: its start
      auto cut = Scan(Bytes(c.model.begin(), c.model.begin() + static_cast<std::ptrdiff_t>(n)));
      ASSERT_TRUE(cut.ok() && cut->texturenames.size() <= c.names.size()) << c.what << n;
      EXPECT_TRUE(std::equal(cut->texturenames.begin(), cut->texturenames.end(), c.names.begin()));
    }
    auto scan = Scan(c.model);
    ASSERT_TRUE(scan.ok()) << c.what;
    EXPECT_EQ(scan->texturenames, c.names) << c.what;
    EXPECT_EQ(scan->name_cut_short, c.cut_at != 0) << c.what;
    EXPECT_EQ(scan->cut_short_offset, c.cut_at) << c.what;
  }
}

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
