// PNG files read back by the tests' own reader: the writer's bands and bound, and TGA entries of
// every kind against pixels worked out by hand.
#include <gtest/gtest.h>

#include <random>

#include "convert.h"
#include "png_writer.h"
#include "testutil.h"

namespace pelt::testing {
namespace {

// Random bytes do not compress: every band is stored, which makes the bound. The rows of a band
// are filtered against the last row of the band before. Rows that compress are compressed.
TEST(PngWriter, StoredBandsMakeTheBoundWhateverTheThreads) {
  std::mt19937 rng(3);
  Bytes rows(700 * 3 * 1000);  // 2101 bytes a row with its filter byte: 3 bands
  for (std::uint8_t& b : rows) b = static_cast<std::uint8_t>(rng());
  Bytes files[2];
  for (unsigned threads : {1u, 3u}) {
    MemorySink sink;
    PngWriter png(&sink, 700, 1000, PngColour::kRgb, threads);
    ASSERT_TRUE(png.AddRows(rows.data(), 1000).ok());
    ASSERT_TRUE(png.Finish().ok());
    EXPECT_EQ(sink.bytes.size(), PngSizeBound(700, 1000, 3));
    EXPECT_TRUE(ReadPng(sink.bytes).samples == rows);
    files[threads / 2] = sink.bytes;
  }
  EXPECT_TRUE(files[0] == files[1]);
  MemorySink zeros;
  PngWriter flat(&zeros, 700, 998, PngColour::kRgb, 2);  // two bands, the last one full
  ASSERT_TRUE(flat.AddRows(Bytes(rows.size()).data(), 998).ok());
  ASSERT_TRUE(flat.Finish().ok());
  EXPECT_LT(zeros.bytes.size(), rows.size() / 100);  // and rows that compress are compressed
}

// 1000 x 1000 grey pixels stored bottom row first, in four bands of the reader: as they are, or
// in repeat packets of 60 and raw packets of 77 across rows, so that bands start inside packets
// of both kinds. Its rows top first go to `png`.
TgaEntry Tall(bool rle, Bytes* png) {
  Bytes pixels, data;
  for (std::size_t k = 0; pixels.size() < 1000000; ++k) {
    const std::size_t n = std::min<std::size_t>(k % 2 ? 77 : 60, 1000000 - pixels.size());
    data.push_back(static_cast<std::uint8_t>(k % 2 ? n - 1 : 0x80 | (n - 1)));
    for (std::size_t i = 0; i < n; ++i)
      pixels.push_back(static_cast<std::uint8_t>(k % 2 ? pixels.size() : k));
    data.insert(data.end(), pixels.end() - static_cast<int>(k % 2 ? n : 1), pixels.end());
  }
  for (std::size_t y = 1000; y-- > 0;)
    png->insert(png->end(), &pixels[y * 1000], &pixels[y * 1000] + 1000);
  return {.type = std::uint8_t(rle ? 11 : 3),
          .depth = 8,
          .descriptor = 0,
          .width = 1000,
          .height = 1000,
          .data = rle ? data : pixels};
}

Result<TgaImage> Check(const Bytes& entry) {  // `entry` is a heap block of its size
  return CheckTgaEntry(MemorySource(entry), 0, entry.size());
}

// Every kind, top row first, worked out by hand: 24-, 32- and 16-bit pixels (with an attribute
// bit), grey, 24- and 32-bit maps (one from index 255, whose entries past 255 are never read),
// packets across rows, an image ID, a true-colour image's map, a footer; rows top first and bottom
// first, in one band and in many. Each small entry cut anywhere before its footer is refused.
TEST(TgaToPng, EveryKindAsWorkedOut) {
  struct Case {
    TgaEntry tga;
    PngColour colour;
    Bytes want;
  };
  Bytes tall, tall_rle;
  const TgaEntry tall_tga = Tall(false, &tall), tall_rle_tga = Tall(true, &tall_rle);
  using C = PngColour;
  // clang-format off
  const Case kCases[] = {
      {{.width = 2, .data = {1, 2, 3, 4, 5, 6}}, C::kRgb, {3, 2, 1, 6, 5, 4}},
      {{.depth = 32, .descriptor = 0x28, .data = {1, 2, 3, 4}}, C::kRgba, {3, 2, 1, 4}},
      {{.depth = 16, .descriptor = 0x21, .width = 2, .data = {0x3F, 0xC0, 0x3F, 0x40}}, C::kRgba, {132, 8, 255, 255, 132, 8, 255, 0}},
      {{.depth = 16, .data = {0x3F, 0x40}}, C::kRgb, {132, 8, 255}},
      {{.type = 1, .depth = 8, .width = 2, .data = {3, 2}, .map = {10, 11, 12, 20, 21, 22}, .map_depth = 24, .map_first = 2}, C::kRgb, {22, 21, 20, 12, 11, 10}},
      {{.type = 9, .depth = 8, .width = 3, .data = {0x81, 1, 0x00, 0}, .map = {1, 2, 3, 4, 5, 6, 7, 8}, .map_depth = 32}, C::kRgba, {7, 6, 5, 8, 7, 6, 5, 8, 3, 2, 1, 4}},
      {{.type = 11, .depth = 8, .descriptor = 0, .width = 2, .height = 2, .data = {0x02, 1, 2, 3, 0x80, 9}}, C::kGrey, {3, 9, 1, 2}},
      {{.data = {1, 2, 3}, .map = {7, 7}, .map_depth = 16, .id_length = 5, .footer = {1, 2}}, C::kRgb, {3, 2, 1}},
      {{.type = 1, .depth = 8, .data = {255}, .map = Bytes(30, 9), .map_depth = 24, .map_first = 255}, C::kRgb, {9, 9, 9}},
      {tall_tga, C::kGrey, tall},
      {tall_rle_tga, C::kGrey, tall_rle},
  };
  // clang-format on
  for (const Case& c : kCases) {
    SCOPED_TRACE(&c - kCases);
    const Bytes entry = c.tga.Build();
    for (std::size_t n = 0; n + c.tga.footer.size() < entry.size() && entry.size() < 99; ++n) {
      const std::string cut = Check(Bytes(entry.begin(), entry.begin() + n)).status().message();
      EXPECT_EQ(cut, n < 18 ? "TGA entry is " + std::to_string(n) +
                                  " bytes, shorter than its 18-byte header"
                            : "TGA data is cut short");
    }
    const auto t = Check(entry);
    ASSERT_TRUE(t.ok()) << t.status().message();
    EXPECT_EQ(t->channels, Channels(c.colour));
    MemorySink sink;
    ASSERT_TRUE(ConvertTgaToPng(MemorySource(entry), 0, entry.size(), *t, &sink).ok());
    EXPECT_LE(sink.bytes.size(), PngSizeBound(t->width, t->height, t->channels));
    const Png png = ReadPng(sink.bytes);
    EXPECT_EQ(png.colour, static_cast<std::uint8_t>(c.colour));
    EXPECT_TRUE(png.samples == c.want);
  }
}

}  // namespace
}  // namespace pelt::testing
