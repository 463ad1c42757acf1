// PNG files read back by the tests' own reader: DDS surfaces against the reference decoder, the
// writer's bands and bound, TGA entries of every kind against pixels worked out by hand, and
// every refusal of the TGA check.
#include "png.h"

#include <gtest/gtest.h>

#include <random>

#include "convert.h"
#include "reference_decoder.h"
#include "testutil.h"
#include "tga_reader.h"

namespace pelt::testing {
namespace {

// The reference's pixels, clipped, in the fewest channels: RGB when all are opaque. Surfaces of
// many bands of either kind.
TEST(DdsToPng, PixelsOfTheReference) {
  struct Case {
    Fmt format;
    std::uint32_t width, height;
    bool four_colour;  // DXT1 blocks in four-colour mode only: opaque
  };
  const Case kCases[] = {{Fmt::kDxt1, 13, 10, false},
                         {Fmt::kDxt1, 1027, 1030, true},
                         {Fmt::kDxt3, 7, 9, false},
                         {Fmt::kDxt5, 1030, 1027, false}};
  std::mt19937 rng(5);
  for (const Case& c : kCases) {
    Bytes blocks = RandomBlocks(c.format, BlocksFor(c.width, c.height), &rng);
    for (std::size_t at = 0; c.four_colour && at < blocks.size(); at += 8) {
      blocks[at + 1] |= 0x80;  // colour 0 above colour 1
      blocks[at + 3] &= 0x7F;
    }
    const Bytes entry = DdsBuilder(c.width, c.height).Format(c.format).Data(blocks).Build();
    const auto s = CheckDdsEntry(entry, entry.size());
    MemorySink sink;
    ASSERT_TRUE(ConvertDdsToPng(SpanSource(entry), 0, *s, &sink).ok());
    EXPECT_LE(sink.bytes.size(), PngSizeBound(c.width, c.height, 4));
    const Png png = ReadPng(sink.bytes);
    const Bytes want = ReferenceDecode(c.format, blocks.data(), c.width, c.height);
    bool opaque = true;
    for (std::size_t i = 3; i < want.size(); i += 4) opaque = opaque && want[i] == 255;
    EXPECT_EQ(png.colour, opaque ? 2 : 6);
    EXPECT_EQ(opaque, c.four_colour);
    const std::size_t channels = opaque ? 3 : 4;
    ASSERT_EQ(png.samples.size(), want.size() / 4 * channels);
    for (std::size_t i = 0; i < want.size() / 4; ++i) {
      const std::uint8_t* p = &png.samples[i * channels];
      const Bytes rgba = {p[0], p[1], p[2], opaque ? std::uint8_t{255} : p[3]};
      ASSERT_EQ(rgba, Bytes({want[4 * i + 2], want[4 * i + 1], want[4 * i], want[4 * i + 3]}))
          << FormatName(c.format) << " pixel " << i;
    }
  }
}

// Random bytes do not compress: every band of rows is stored, which is the bound. Rows in the
// bands after the first are filtered against the last row of the band before.
TEST(PngWriter, StoredBandsMakeTheBoundWhateverTheThreads) {
  std::mt19937 rng(3);
  Bytes rows(700 * 3 * 1000);  // 2101 bytes a row with its filter byte: 3 bands
  for (std::uint8_t& b : rows) b = static_cast<std::uint8_t>(rng());
  Bytes files[2];
  for (unsigned threads : {1u, 3u}) {
    MemorySink sink;
    PngWriter png(&sink, 700, 1000, PngColour::kRgb, threads);
    ASSERT_TRUE(png.AddRows(rows.data(), 1).ok());
    ASSERT_TRUE(png.AddRows(rows.data() + 2100, 999).ok());
    ASSERT_TRUE(png.Finish().ok());
    EXPECT_EQ(sink.bytes.size(), PngSizeBound(700, 1000, 3));
    EXPECT_EQ(ReadPng(sink.bytes).samples, rows);
    files[threads / 2] = sink.bytes;
  }
  EXPECT_EQ(files[0], files[1]);
}

Result<TgaImage> Check(const Bytes& entry) {  // the entry in a heap block of its size
  return CheckTgaEntry(SpanSource(entry), 0, entry.size());
}

// A tall grey image of 1000 x 1000 pixels in four bands, its rows stored bottom first: as it is,
// or run-length encoded in repeat packets of 60 and raw packets of 77 that cross rows, so that
// the bands start inside packets of both kinds. Its PNG rows, top first, in `png`.
Bytes TallTga(bool rle, Bytes* png) {
  Bytes pixels, data;
  for (std::size_t k = 0; pixels.size() < 1000000; ++k) {
    const std::size_t n = std::min<std::size_t>(k % 2 ? 77 : 60, 1000000 - pixels.size());
    data.push_back(static_cast<std::uint8_t>(k % 2 ? n - 1 : 0x80 | (n - 1)));
    for (std::size_t i = 0; i < n; ++i) pixels.push_back(static_cast<std::uint8_t>(k % 2 ? i : k));
    data.insert(data.end(), pixels.end() - (k % 2 ? n : 1), pixels.end());
  }
  png->clear();
  for (std::size_t y = 1000; y-- > 0;)
    png->insert(png->end(), &pixels[y * 1000], &pixels[y * 1000 + 1000]);
  return TgaEntry{.type = std::uint8_t(rle ? 11 : 3),
                  .depth = 8,
                  .descriptor = 0,
                  .width = 1000,
                  .height = 1000,
                  .data = rle ? data : pixels}
      .Build();
}

// Every kind pelt reads, worked out by hand, top row first; the small entries cut anywhere before
// their footer are refused.
TEST(TgaToPng, EveryKindAsWorkedOut) {
  struct Case {
    const char* what;
    Bytes entry;
    PngColour colour;
    Bytes want;
    std::size_t footer = 0;  // bytes at the end that are never read
  };
  Bytes tall, tall_rle;
  const Bytes tall_entry = TallTga(false, &tall), tall_rle_entry = TallTga(true, &tall_rle);
  const Bytes map24 = {10, 11, 12, 20, 21, 22};
  using C = PngColour;
  // clang-format off
  const Case kCases[] = {
      {"24-bit, top row first", TgaEntry{.width = 2, .data = {1, 2, 3, 4, 5, 6}}.Build(), C::kRgb, {3, 2, 1, 6, 5, 4}},
      {"24-bit, bottom row first", TgaEntry{.descriptor = 0, .height = 2, .data = {1, 2, 3, 4, 5, 6}}.Build(), C::kRgb, {6, 5, 4, 3, 2, 1}},
      {"32-bit: alpha as stored", TgaEntry{.depth = 32, .descriptor = 0x28, .data = {1, 2, 3, 4}}.Build(), C::kRgba, {3, 2, 1, 4}},
      {"16-bit: 5 bits widened, top bit ignored", TgaEntry{.depth = 16, .data = {0x3F, 0xC0}}.Build(), C::kRgb, {132, 8, 255}},
      {"16-bit, one attribute bit: alpha", TgaEntry{.depth = 16, .descriptor = 0x21, .width = 2, .data = {0x3F, 0xC0, 0x3F, 0x40}}.Build(), C::kRgba, {132, 8, 255, 255, 132, 8, 255, 0}},
      {"grey, bottom row first", TgaEntry{.type = 3, .depth = 8, .descriptor = 0, .width = 2, .height = 2, .data = {1, 2, 3, 4}}.Build(), C::kGrey, {3, 4, 1, 2}},
      {"24-bit map from index 2", TgaEntry{.type = 1, .depth = 8, .width = 2, .data = {3, 2}, .map = map24, .map_depth = 24, .map_first = 2}.Build(), C::kRgb, {22, 21, 20, 12, 11, 10}},
      {"32-bit map", TgaEntry{.type = 1, .depth = 8, .data = {0}, .map = {1, 2, 3, 4}, .map_depth = 32}.Build(), C::kRgba, {3, 2, 1, 4}},
      {"RLE: a repeat packet across rows", TgaEntry{.type = 10, .width = 2, .height = 2, .data = {0x82, 1, 2, 3, 0x00, 4, 5, 6}}.Build(), C::kRgb, {3, 2, 1, 3, 2, 1, 3, 2, 1, 6, 5, 4}},
      {"RLE grey: a raw packet across rows, bottom row first", TgaEntry{.type = 11, .depth = 8, .descriptor = 0, .width = 2, .height = 2, .data = {0x02, 1, 2, 3, 0x80, 9}}.Build(), C::kGrey, {3, 9, 1, 2}},
      {"RLE colour-mapped", TgaEntry{.type = 9, .depth = 8, .width = 3, .data = {0x81, 1, 0x00, 0}, .map = {1, 2, 3, 4, 5, 6}, .map_depth = 24}.Build(), C::kRgb, {6, 5, 4, 6, 5, 4, 3, 2, 1}},
      {"image ID, a true-colour image's map and the footer skipped", TgaEntry{.data = {1, 2, 3}, .map = {7, 7}, .map_depth = 16, .id_length = 5, .footer = {1, 2, 3, 4}}.Build(), C::kRgb, {3, 2, 1}, 4},
      {"tall, bottom row first", tall_entry, C::kGrey, tall},
      {"tall, RLE, bottom row first", tall_rle_entry, C::kGrey, tall_rle},
  };
  // clang-format on
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    for (std::size_t n = 0; n + c.footer < c.entry.size() && c.entry.size() < 100; ++n) {
      const auto cut = Check(Bytes(c.entry.begin(), c.entry.begin() + n));
      EXPECT_EQ(cut.status().message(), n < 18 ? "TGA entry is " + std::to_string(n) +
                                                     " bytes, shorter than its 18-byte header"
                                               : "TGA data is cut short");
    }
    const auto t = Check(c.entry);
    ASSERT_TRUE(t.ok()) << t.status().message();
    EXPECT_EQ(t->colour, c.colour);
    MemorySink sink;
    ASSERT_TRUE(ConvertTgaToPng(SpanSource(c.entry), 0, c.entry.size(), *t, &sink).ok());
    EXPECT_LE(sink.bytes.size(), PngSizeBound(t->width, t->height, Channels(c.colour)));
    const Png png = ReadPng(sink.bytes);
    EXPECT_EQ(png.colour, static_cast<std::uint8_t>(c.colour));
    EXPECT_EQ(png.samples, c.want);
  }
}

TEST(TgaToPng, EachRefusalSaysWhy) {
  Bytes map_type_2 = TgaEntry{}.Build();
  map_type_2[1] = 2;
  // clang-format off
  const std::pair<Bytes, std::string> kCases[] = {
      {Bytes(17), "TGA entry is 17 bytes, shorter than its 18-byte header"},
      {TgaEntry{.type = 4}.Build(), "unsupported TGA image type 4"},
      {map_type_2, "unsupported TGA colour-map type 2"},
      {TgaEntry{.type = 1, .depth = 8, .data = {0}}.Build(), "colour-mapped TGA has no colour map"},
      {TgaEntry{.type = 9, .depth = 16, .map = {1, 2, 3}, .map_depth = 24}.Build(), "unsupported 16-bit colour-mapped TGA"},
      {TgaEntry{.type = 1, .depth = 8, .map = {1, 2}, .map_depth = 16}.Build(), "unsupported 16-bit TGA colour map"},
      {TgaEntry{.depth = 15}.Build(), "unsupported 15-bit true-colour TGA"},
      {TgaEntry{.type = 11, .depth = 16}.Build(), "unsupported 16-bit grey TGA"},
      {TgaEntry{.descriptor = 0x30}.Build(), "unsupported right-to-left TGA"},
      {TgaEntry{.width = 0}.Build(), "TGA image is 0x1; width and height must be at least 1"},
      {TgaEntry{.type = 1, .depth = 8, .data = {9}, .map = Bytes(12), .map_depth = 24}.Build(), "colour-map index 9 is outside the 4-entry map"},
      {TgaEntry{.type = 9, .depth = 8, .width = 3, .data = {0x01, 2, 5, 0x80, 6}, .map = Bytes(16), .map_depth = 32, .map_first = 2}.Build(), "colour-map index 6 is outside the 4-entry map from index 2"},
  };
  // clang-format on
  for (const auto& [entry, message] : kCases) {
    const auto got = Check(entry);
    EXPECT_EQ(got.status().code(), message[0] == 'u' ? Code::kUnsupported : Code::kCorrupt);
    EXPECT_EQ(got.status().message(), message);
  }
}

}  // namespace
}  // namespace pelt::testing
