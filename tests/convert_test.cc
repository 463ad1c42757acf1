// End-to-end runs of the pelt binary on DDS entries: the .dds name rewritten to .tga and matched,
// DXT1/DXT3/DXT5 surfaces decoded and written as 32-bit TGA images, every refusal checked before
// anything is announced or created. Expected images are built from the tests' own blocks, whose
// decoded colours are worked out by hand in the comments.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "testutil.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_TGA
#define STBI_NO_STDIO
// A third-party header: its own warnings are not ours to fix.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace pelt::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// ---- images -------------------------------------------------------------------------------

struct Rgba {
  std::uint8_t r, g, b, a;
  friend bool operator==(const Rgba&, const Rgba&) = default;
};
using Tile = std::array<Rgba, 16>;  // one 4 x 4 block, rows from the top

// Solid 5:6:5 colours, expanded by shifting: red and blue << 3, green << 2.
constexpr Rgba kRed{248, 0, 0, 255};        // 0xF800
constexpr Rgba kGreen{0, 252, 0, 255};      // 0x07E0
constexpr Rgba kBlue{0, 0, 248, 255};       // 0x001F
constexpr Rgba kWhite{248, 252, 248, 255};  // 0xFFFF
constexpr Rgba kGrey{128, 128, 128, 255};   // 0x8410: fields 16, 32, 16
constexpr Rgba kDenim{16, 68, 160, 255};    // 0x1234: fields 2, 17, 20

Tile Fill(Rgba c) {
  Tile t;
  t.fill(c);
  return t;
}
Rgba WithAlpha(Rgba c, std::uint8_t a) { return Rgba{c.r, c.g, c.b, a}; }

struct Image {
  std::uint32_t width, height;
  std::vector<Rgba> pixels;  // row-major, top row first
};

// The image a surface of `tiles` (blocks in file order, ceil(width / 4) per row) shows: each
// pixel is the pixel of its block, blocks on the right and bottom edges clipped.
Image FromTiles(std::uint32_t width, std::uint32_t height, const std::vector<Tile>& tiles) {
  const std::uint32_t xblocks = (width + 3) / 4;
  Image img{width, height, {}};
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x)
      img.pixels.push_back(tiles.at((y / 4) * xblocks + x / 4)[(y % 4) * 4 + x % 4]);
  return img;
}

// The file pelt writes for `img`: the 18-byte header, then blue, green, red, alpha per pixel.
Bytes Tga(const Image& img) {
  const auto w = static_cast<std::uint8_t>(img.width),
             wh = static_cast<std::uint8_t>(img.width >> 8);
  const auto h = static_cast<std::uint8_t>(img.height),
             hh = static_cast<std::uint8_t>(img.height >> 8);
  Bytes out = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, w, wh, h, hh, 32, 0x2F};
  for (const Rgba& p : img.pixels) {
    out.push_back(p.b);
    out.push_back(p.g);
    out.push_back(p.r);
    out.push_back(p.a);
  }
  return out;
}

// ---- blocks -------------------------------------------------------------------------------

// A DXT1 block of one colour: col0 = c, col1 = 0, every index 0 (c > 0: four-colour mode).
Bytes SolidDxt1(std::uint16_t c) {
  return {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8), 0, 0, 0, 0, 0, 0};
}
// A DXT3 block of one colour whose sixteen 4-bit alphas are all `nibble` (alpha nibble x 17).
Bytes SolidDxt3(std::uint16_t c, std::uint8_t nibble) {
  Bytes b(8, static_cast<std::uint8_t>(nibble | nibble << 4));
  Append(&b, SolidDxt1(c));
  return b;
}
Bytes Repeat(const Bytes& block, std::size_t n) {
  Bytes out;
  for (std::size_t i = 0; i < n; ++i) Append(&out, block);
  return out;
}
Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) Append(&out, p);
  return out;
}

// Four blocks of each format, for an 8 x 8 surface (top-left, top-right, bottom-left,
// bottom-right), with the tiles they decode to.
struct Surface8 {
  Fmt format;
  Bytes blocks;
  std::vector<Tile> tiles;
};

Surface8 Dxt1Surface() {
  // Four colours (0xF800 > 0x001F): red, blue, 2/3 red + 1/3 blue, 1/3 red + 2/3 blue.
  const Rgba p2{165, 0, 82, 255}, p3{82, 0, 165, 255};
  // Three colours (0x001F <= 0xF800): blue, red, midpoint, and the transparent entry.
  const Rgba mid{124, 0, 124, 255}, clear{0, 255, 255, 0};
  return {Fmt::kDxt1,
          Concat({{0x00, 0xF8, 0x1F, 0x00, 0xE4, 0x1B, 0x00, 0xFF},  // rows 0123 3210 0000 3333
                  SolidDxt1(0x07E0),
                  {0x1F, 0x00, 0x00, 0xF8, 0xFF, 0xAA, 0x55, 0x00},  // rows 3333 2222 1111 0000
                  SolidDxt1(0x8410)}),
          {Tile{kRed, kBlue, p2, p3, p3, p2, kBlue, kRed, kRed, kRed, kRed, kRed, p3, p3, p3, p3},
           Fill(kGreen),
           Tile{clear, clear, clear, clear, mid, mid, mid, mid, kRed, kRed, kRed, kRed, kBlue,
                kBlue, kBlue, kBlue},
           Fill(kGrey)}};
}

Surface8 Dxt3Surface() {
  // Row bytes A5 F0 give alphas 85 170 0 255; 34 12 give 68 51 34 17.
  const Rgba r85 = WithAlpha(kRed, 85), r170 = WithAlpha(kRed, 170), r0 = WithAlpha(kRed, 0),
             r68 = WithAlpha(kRed, 68), r51 = WithAlpha(kRed, 51), r34 = WithAlpha(kRed, 34),
             r17 = WithAlpha(kRed, 17);
  return {Fmt::kDxt3,
          Concat({{0xA5, 0xF0, 0x34, 0x12, 0x00, 0x00, 0xFF, 0xFF},
                  SolidDxt1(0xF800),
                  // col0 0x001F < col1 0xF800 still takes four colours: index 2 is
                  // (2 x blue + red) / 3 = 82, 0, 165; index 3 is 165, 0, 82. Alphas 8 -> 136.
                  Bytes(8, 0x88),
                  {0x1F, 0x00, 0x00, 0xF8, 0xAA, 0xAA, 0xAA, 0xAA},
                  Bytes(8, 0xFF),
                  {0x1F, 0x00, 0x00, 0xF8, 0xFF, 0xFF, 0xFF, 0xFF},
                  SolidDxt3(0xFFFF, 0)}),
          {Tile{r85, r170, r0, kRed, r68, r51, r34, r17, r0, r0, r0, r0, kRed, kRed, kRed, kRed},
           Fill(Rgba{82, 0, 165, 136}), Fill(Rgba{165, 0, 82, 255}), Fill(WithAlpha(kWhite, 0))}};
}

Surface8 Dxt5Surface() {
  // Alphas 100, 0 (eight-alpha mode): table 100 0 85 71 57 42 28 14. Indices 88 C6 FA: 0 1 2 3 in
  // rows 0 and 2, 4 5 6 7 in rows 1 and 3. Colours 0xFFFF, 0x0000: white, black, 165 168 165,
  // 82 84 82; rows E4 1B 00 FF.
  const Rgba w = kWhite, k{0, 0, 0, 255}, l{165, 168, 165, 255}, d{82, 84, 82, 255};
  auto a = [](Rgba c, std::uint8_t alpha) { return WithAlpha(c, alpha); };
  return {Fmt::kDxt5,
          Concat({{100, 0, 0x88, 0xC6, 0xFA, 0x88, 0xC6, 0xFA, 0xFF, 0xFF, 0x00, 0x00, 0xE4, 0x1B,
                   0x00, 0xFF},
                  // Alphas 0, 255 (six-alpha mode): index 7 is 255 in rows 0-1, index 0 is 0 after.
                  {0, 255, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00},
                  SolidDxt1(0xF800),
                  // Alphas 128, 128 (six-alpha mode, equal): index 6 everywhere is 0.
                  {128, 128, 0xB6, 0x6D, 0xDB, 0xB6, 0x6D, 0xDB},
                  SolidDxt1(0x001F),
                  // Alphas 255, 0: index 2 everywhere is 6 x 255 / 7 = 218.
                  {255, 0, 0x92, 0x24, 0x49, 0x92, 0x24, 0x49},
                  SolidDxt1(0x07E0)}),
          {Tile{a(w, 100), a(k, 0), a(l, 85), a(d, 71), a(d, 57), a(l, 42), a(k, 28), a(w, 14),
                a(w, 100), a(w, 0), a(w, 85), a(w, 71), a(d, 57), a(d, 42), a(d, 28), a(d, 14)},
           Tile{kRed, kRed, kRed, kRed, kRed, kRed, kRed, kRed, a(kRed, 0), a(kRed, 0), a(kRed, 0),
                a(kRed, 0), a(kRed, 0), a(kRed, 0), a(kRed, 0), a(kRed, 0)},
           Fill(a(kBlue, 0)), Fill(a(kGreen, 218))}};
}

// ---- runs ---------------------------------------------------------------------------------

// Inputs in root/in, the run's working directory root/work.
class Scene {
 public:
  Scene() {
    ::mkdir(in().c_str(), 0755);
    ::mkdir(work().c_str(), 0755);
  }
  std::string in() const { return root_ / "in"; }
  std::string work() const { return root_ / "work"; }
  std::string archive() const { return in() + "/a.mix"; }
  std::string model() const { return in() + "/m.kzm"; }
  RunResult Run(const Bytes& archive, const Bytes& model, const RunLimits& limits = {}) const {
    WriteFile(this->archive(), archive);
    WriteFile(this->model(), model);
    return RunPelt({this->archive(), this->model()}, work(), limits);
  }
  std::vector<std::string> Written() const { return root_.List("work"); }
  std::vector<std::string> Everything() const { return root_.List(); }
  std::optional<Bytes> Out(const std::string& name) const { return ReadFile(work() + "/" + name); }

 private:
  TempDir root_;
};

Bytes Model(std::initializer_list<std::string_view> names) {
  ModelBuilder m;
  for (std::string_view n : names) m.Texture(n);
  return m.Build();
}

// Compares whole files without printing megabytes when they differ.
void ExpectFile(const Scene& s, const std::string& name, const Bytes& want) {
  const std::optional<Bytes> got = s.Out(name);
  ASSERT_TRUE(got.has_value()) << name << " was not written";
  ASSERT_EQ(got->size(), want.size()) << name;
  std::size_t at = 0;
  while (at < want.size() && (*got)[at] == want[at]) ++at;
  EXPECT_EQ(at, want.size()) << name << " first differs at byte " << at;
}

// ---- tests --------------------------------------------------------------------------------

const Bytes kRed4x4 = DdsBuilder(4, 4).Format(Fmt::kDxt1).Data(SolidDxt1(0xF800)).Build();
const Bytes kRed4x4Tga = Tga(FromTiles(4, 4, {Fill(kRed)}));

// A DDS entry's lower-cased name has its last three characters rewritten to "tga", whatever they
// are, and is then matched against the model's names like any other.
TEST(Convert, DdsNameIsRewrittenToTgaAndMatched) {
  struct Case {
    const char* entry;
    const char* model;
    const char* written;  // nullptr: nothing written
  };
  const Case kCases[] = {
      {"grass.dds", "grass.tga", "grass.tga"},
      {"GRASS.DDS", "Grass.tga", "grass.tga"},
      {"grass.dds", "GRASS.TGA", "grass.tga"},
      {"grass.dds", "grass.dds", nullptr},
      {"a.dds.bak", "a.dds.tga", "a.dds.tga"},
      {"a.dds.bak", "a.dds.bak", nullptr},
      {"a.dds.bak", "a.tga.bak", nullptr},
      {"x.ddsq", "x.dtga", "x.dtga"},
      {".DDS", ".tga", ".tga"},
      {"grass.dd", "grass.tga", nullptr},
      {"grassdds", "grasstga", nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.entry) + " named as " + c.model);
    Scene s;
    const RunResult r = s.Run(MixBuilder().Add(c.entry, kRed4x4).Build(), Model({c.model}));
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    if (c.written == nullptr) {
      EXPECT_EQ(r.out, "");
      EXPECT_THAT(s.Written(), IsEmpty());
    } else {
      EXPECT_EQ(r.out, std::string("now writing ") + c.written + "\n");
      EXPECT_THAT(s.Written(), ElementsAre(c.written));
      ExpectFile(s, c.written, kRed4x4Tga);
    }
  }
}

TEST(Convert, HeaderIsThe18BytesOfAnUncompressed32BitImage) {
  Scene s;
  const RunResult r = s.Run(MixBuilder().Add("red.dds", kRed4x4).Build(), Model({"red.tga"}));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  // 4 x 4: 18 + 64 bytes. Image type 2, 32 bits, descriptor 0x2F (top-left origin).
  Bytes want = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 4, 0, 0x20, 0x2F};
  for (int i = 0; i < 16; ++i) Append(&want, {0x00, 0x00, 0xF8, 0xFF});  // red as B, G, R, A
  EXPECT_EQ(s.Out("red.tga"), want);
  EXPECT_EQ(want.size(), 82u);
}

TEST(Convert, SidesAreWrittenLittleEndianUpTo65535) {
  struct Case {
    std::uint32_t width, height;
    std::array<std::uint8_t, 4> sides;  // header bytes 12-15
  };
  const Case kCases[] = {
      {256, 128, {0x00, 0x01, 0x80, 0x00}},
      {65535, 4, {0xFF, 0xFF, 0x04, 0x00}},
      {4, 65535, {0x04, 0x00, 0xFF, 0xFF}},
      {300, 1, {0x2C, 0x01, 0x01, 0x00}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    Scene s;
    const Bytes dds = DdsBuilder(c.width, c.height)
                          .Format(Fmt::kDxt1)
                          .Data(Repeat(SolidDxt1(0x001F), BlocksFor(c.width, c.height)))
                          .Build();
    const RunResult r = s.Run(MixBuilder().Add("s.dds", dds).Build(), Model({"s.tga"}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::optional<Bytes> got = s.Out("s.tga");
    ASSERT_TRUE(got.has_value());
    ASSERT_EQ(got->size(), 18u + 4u * c.width * c.height);
    EXPECT_EQ(Bytes(got->begin() + 12, got->begin() + 16), Bytes(c.sides.begin(), c.sides.end()));
    ExpectFile(s, "s.tga",
               Tga(FromTiles(c.width, c.height,
                             std::vector<Tile>(BlocksFor(c.width, c.height), Fill(kBlue)))));
  }
}

// Each format decodes its blocks into place; the smaller mipmap levels after the top level are
// ignored.
TEST(Convert, EachFormatWithMipmapsGivesItsBlocksPixels) {
  for (const Surface8& f : {Dxt1Surface(), Dxt3Surface(), Dxt5Surface()}) {
    SCOPED_TRACE(static_cast<int>(f.format));
    Scene s;
    const Bytes with_mips = DdsBuilder(8, 8).Format(f.format).Data(f.blocks).Mipmaps().Build();
    const Bytes without = DdsBuilder(8, 8).Format(f.format).Data(f.blocks).Build();
    ASSERT_GT(with_mips.size(), without.size());
    const RunResult r =
        s.Run(MixBuilder().Add("mip.dds", with_mips).Add("top.dds", without).Build(),
              Model({"mip.tga", "top.tga"}));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "now writing mip.tga\nnow writing top.tga\n");
    const Bytes want = Tga(FromTiles(8, 8, f.tiles));
    ExpectFile(s, "mip.tga", want);
    ExpectFile(s, "top.tga", want);
  }
}

// Surfaces whose sides are not multiples of 4 take ceil(side / 4) blocks a side; the blocks of
// the right and bottom edges are clipped.
TEST(Convert, EdgeBlocksAreClipped) {
  const Surface8 dxt1 = Dxt1Surface(), dxt5 = Dxt5Surface();
  // Green 0x07E0 over black 0x0000, four colours: index 2 is (2 x 252 + 0) / 3 = 168 green,
  // index 3 is 252 / 3 = 84. Rows E4 1B 00 FF.
  const Bytes green_block = {0xE0, 0x07, 0x00, 0x00, 0xE4, 0x1B, 0x00, 0xFF};
  struct Case {
    const char* what;
    Fmt format;
    std::uint32_t width, height;
    Bytes blocks;
    Image want;
  };
  const Case kCases[] = {
      {"5 x 3: the second block shows its first column, three rows", Fmt::kDxt1, 5, 3,
       Concat({Bytes(dxt1.blocks.begin(), dxt1.blocks.begin() + 8), green_block}),
       Image{5,
             3,
             {kRed,
              kBlue,
              {165, 0, 82, 255},
              {82, 0, 165, 255},
              kGreen,
              {82, 0, 165, 255},
              {165, 0, 82, 255},
              kBlue,
              kRed,
              {0, 84, 0, 255},
              kRed,
              kRed,
              kRed,
              kRed,
              kGreen}}},
      {"1 x 1: the top-left pixel of one block", Fmt::kDxt5, 1, 1,
       Bytes(dxt5.blocks.begin(), dxt5.blocks.begin() + 16), Image{1, 1, {{248, 252, 248, 100}}}},
      {"6 x 9: 2 x 3 blocks", Fmt::kDxt3, 6, 9,
       Concat({SolidDxt3(0xF800, 15), SolidDxt3(0x07E0, 8), SolidDxt3(0x001F, 0),
               SolidDxt3(0xFFFF, 1), SolidDxt3(0x8410, 4), SolidDxt3(0x1234, 10)}),
       FromTiles(6, 9,
                 {Fill(kRed), Fill(WithAlpha(kGreen, 136)), Fill(WithAlpha(kBlue, 0)),
                  Fill(WithAlpha(kWhite, 17)), Fill(WithAlpha(kGrey, 68)),
                  Fill(WithAlpha(kDenim, 170))})},
      {"2 x 7: one column of blocks, the second cut to 3 rows", Fmt::kDxt1, 2, 7,
       Concat({green_block, SolidDxt1(0x1234)}),
       Image{2,
             7,
             {kGreen,
              {0, 0, 0, 255},
              {0, 84, 0, 255},
              {0, 168, 0, 255},
              kGreen,
              kGreen,
              {0, 84, 0, 255},
              {0, 84, 0, 255},
              kDenim,
              kDenim,
              kDenim,
              kDenim,
              kDenim,
              kDenim}}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Scene s;
    const RunResult r = s.Run(
        MixBuilder()
            .Add("odd.dds", DdsBuilder(c.width, c.height).Format(c.format).Data(c.blocks).Build())
            .Build(),
        Model({"odd.tga"}));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "now writing odd.tga\n");
    ExpectFile(s, "odd.tga", Tga(c.want));
  }
}

// A surface large enough to be decoded and written in several bands, with a clipped right edge
// and bottom edge; every block has its own place in a pattern that does not repeat from one band
// to the next.
TEST(Convert, LargeSurfaceIsWrittenWhole) {
  constexpr std::uint32_t kWidth = 1030, kHeight = 701;  // 258 x 176 blocks
  const std::uint16_t words[] = {0xF800, 0x07E0, 0x001F, 0xFFFF, 0x8410, 0x1234};
  const Rgba colours[] = {kRed, kGreen, kBlue, kWhite, kGrey, kDenim};
  Bytes blocks;
  std::vector<Tile> tiles;
  for (std::uint32_t by = 0; by < (kHeight + 3) / 4; ++by) {
    for (std::uint32_t bx = 0; bx < (kWidth + 3) / 4; ++bx) {
      const std::size_t k = (bx * 7 + by * 13) % 6;
      Append(&blocks, SolidDxt1(words[k]));
      tiles.push_back(Fill(colours[k]));
    }
  }
  Scene s;
  const RunResult r =
      s.Run(MixBuilder()
                .Add("big.dds", DdsBuilder(kWidth, kHeight).Format(Fmt::kDxt1).Data(blocks).Build())
                .Build(),
            Model({"big.tga"}));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "now writing big.tga\n");
  ExpectFile(s, "big.tga", Tga(FromTiles(kWidth, kHeight, tiles)));
}

TEST(Convert, LaterEntryOfOneOutputNameWins) {
  const Bytes tga_bytes = ToBytes("stored as tga");
  struct Case {
    const char* what;
    MixBuilder archive;
    Bytes want;
  };
  const Case kCases[] = {
      {"tga, then dds: the decoded image",
       MixBuilder().Add("rock.tga", tga_bytes).Add("rock.dds", kRed4x4), kRed4x4Tga},
      {"dds, then tga: the stored bytes",
       MixBuilder().Add("rock.dds", kRed4x4).Add("Rock.TGA", tga_bytes), tga_bytes},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Scene s;
    const RunResult r = s.Run(c.archive.Build(), Model({"rock.tga"}));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "now writing rock.tga\nnow writing rock.tga\n");
    EXPECT_THAT(s.Written(), ElementsAre("rock.tga"));
    ExpectFile(s, "rock.tga", c.want);
  }
}

// Every check passes before the output file is created and announced: a refused entry prints no
// "now writing" line, leaves no file and an existing file of its name as it was, and is reported
// under its output name; the entries after it still convert.
TEST(Convert, RefusedEntriesWriteNothing) {
  const Bytes red = SolidDxt1(0xF800);
  auto first = [](const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + n); };
  auto dds = [](std::uint32_t w, std::uint32_t h) { return DdsBuilder(w, h).Format(Fmt::kDxt1); };
  struct Case {
    const char* what;
    Bytes entry;
    std::optional<std::int32_t> offset, size;  // index overrides
  };
  const Case kCases[] = {
      {"empty entry", {}, {}, {}},
      {"only the magic", first(kRed4x4, 4), {}, {}},
      {"127 bytes: one short of the header", first(kRed4x4, 127), {}, {}},
      {"size field 127 over a whole entry", kRed4x4, {}, 127},
      {"FourCC DXT2", DdsBuilder(4, 4).FourCC("DXT2").Data(Bytes(16, 0)).Build(), {}, {}},
      {"FourCC DXT4", DdsBuilder(4, 4).FourCC("DXT4").Data(Bytes(16, 0)).Build(), {}, {}},
      {"FourCC in lower case", DdsBuilder(4, 4).FourCC("dxt1").Data(red).Build(), {}, {}},
      {"FourCC 0", DdsBuilder(4, 4).FourCC(0u).Data(red).Build(), {}, {}},
      {"width 0", dds(0, 4).Data(red).Build(), {}, {}},
      {"height 0", dds(4, 0).Data(red).Build(), {}, {}},
      {"width 65536", dds(65536, 4).Data(Repeat(red, 16384)).Build(), {}, {}},
      {"height 65536", dds(4, 65536).Data(Repeat(red, 16384)).Build(), {}, {}},
      {"width 2^31", dds(0x80000000u, 4).Data(red).Build(), {}, {}},
      {"width and height 2^32 - 1", dds(0xFFFFFFFFu, 0xFFFFFFFFu).Data(red).Build(), {}, {}},
      {"no block data", dds(4, 4).Build(), {}, {}},
      {"block data one byte short", first(kRed4x4, 128 + 7), {}, {}},
      {"5 x 3 needs two blocks", dds(5, 3).Data(Bytes(15, 0)).Build(), {}, {}},
      {"DXT5 8 x 8 one byte short",
       DdsBuilder(8, 8).Format(Fmt::kDxt5).Data(Bytes(63, 0)).Build(),
       {},
       {}},
      {"size field cuts the block data", kRed4x4, {}, 128 + 7},
      {"offset negative", kRed4x4, -1, {}},
      {"size past the end of the archive", kRed4x4, {}, 0x7FFFFFFF},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    MixBuilder archive;
    archive.Add("bad.dds", c.entry).Add("good.dds", kRed4x4);
    if (c.offset) archive.EntryOffset(0, *c.offset);
    if (c.size) archive.EntrySize(0, *c.size);
    for (const bool existing : {false, true}) {
      SCOPED_TRACE(existing ? "over an existing file" : "no file before");
      Scene s;
      if (existing) WriteFile(s.work() + "/bad.tga", "precious");
      const RunResult r = s.Run(archive.Build(), Model({"bad.tga", "good.tga"}));
      EXPECT_EQ(r.exit_code, 2);
      EXPECT_THAT(r.err, StartsWith("pelt: bad.tga: "));
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      EXPECT_EQ(r.out, "now writing good.tga\n");
      ExpectFile(s, "good.tga", kRed4x4Tga);
      if (existing) {
        EXPECT_THAT(s.Written(), ElementsAre("bad.tga", "good.tga"));
        EXPECT_EQ(s.Out("bad.tga"), ToBytes("precious"));
      } else {
        EXPECT_THAT(s.Written(), ElementsAre("good.tga"));
      }
    }
  }
}

TEST(Convert, WriteFailureLeavesExistingFileUntouched) {
  // 1024 x 1024 pixels are 4 MiB of output: the run may write 1 MiB per file.
  const Bytes big =
      DdsBuilder(1024, 1024).Format(Fmt::kDxt1).Data(Repeat(SolidDxt1(0x07E0), 65536)).Build();
  Scene s;
  WriteFile(s.work() + "/big.tga", "precious");
  RunLimits limits;
  limits.file_size_bytes = 1 << 20;
  const RunResult r = s.Run(MixBuilder().Add("big.dds", big).Add("red.dds", kRed4x4).Build(),
                            Model({"big.tga", "red.tga"}), limits);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, "now writing big.tga\nnow writing red.tga\n");
  EXPECT_EQ(r.err, "pelt: big.tga: File too large\n");
  EXPECT_EQ(s.Out("big.tga"), ToBytes("precious"));
  ExpectFile(s, "red.tga", kRed4x4Tga);
  EXPECT_THAT(s.Written(), ElementsAre("big.tga", "red.tga"));
}

TEST(Convert, RewrittenNamesThatLeaveTheDirectoryAreNotWritten) {
  for (const char* bad : {"../up.dds", "sub/in.dds", "sub\\in.dds"}) {
    SCOPED_TRACE(bad);
    std::string wanted = bad;
    wanted.replace(wanted.size() - 3, 3, "tga");
    Scene s;
    ::mkdir((s.work() + "/sub").c_str(), 0755);
    const RunResult r = s.Run(MixBuilder().Add(bad, kRed4x4).Add("good.dds", kRed4x4).Build(),
                              Model({wanted, "good.tga"}));
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_THAT(r.err, StartsWith("pelt: " + wanted + ": "));
    EXPECT_EQ(r.out, "now writing good.tga\n");
    EXPECT_THAT(s.Written(), ElementsAre("good.tga", "sub"));
    EXPECT_THAT(s.Everything(), ElementsAre("in", "work"));
    EXPECT_EQ(ReadFile(s.work() + "/sub/in.tga"), std::nullopt);
  }
}

// An independent TGA reader sees the image pelt meant: its size, the top row first, and the
// alpha of every pixel.
TEST(Convert, ImageReaderSeesSizeOrientationAndAlpha) {
  struct Case {
    const char* what;
    Bytes dds;
    Image want;
  };
  const Surface8 dxt5 = Dxt5Surface(), dxt1 = Dxt1Surface();
  const Case kCases[] = {
      {"DXT5 8 x 8", DdsBuilder(8, 8).Format(Fmt::kDxt5).Data(dxt5.blocks).Build(),
       FromTiles(8, 8, dxt5.tiles)},
      {"DXT1 8 x 8 with transparent pixels",
       DdsBuilder(8, 8).Format(Fmt::kDxt1).Data(dxt1.blocks).Build(), FromTiles(8, 8, dxt1.tiles)},
      {"DXT1 6 x 5", DdsBuilder(6, 5).Format(Fmt::kDxt1).Data(dxt1.blocks).Build(),
       FromTiles(6, 5, dxt1.tiles)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Scene s;
    const RunResult r = s.Run(MixBuilder().Add("t.dds", c.dds).Build(), Model({"t.tga"}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::optional<Bytes> file = s.Out("t.tga");
    ASSERT_TRUE(file.has_value());
    int width = 0, height = 0, channels = 0;
    stbi_uc* rgba = stbi_load_from_memory(file->data(), static_cast<int>(file->size()), &width,
                                          &height, &channels, 4);
    ASSERT_NE(rgba, nullptr) << stbi_failure_reason();
    EXPECT_EQ(width, static_cast<int>(c.want.width));
    EXPECT_EQ(height, static_cast<int>(c.want.height));
    EXPECT_EQ(channels, 4);
    std::vector<Rgba> got;
    for (int i = 0; i < width * height; ++i)
      got.push_back(Rgba{rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2], rgba[4 * i + 3]});
    stbi_image_free(rgba);
    ASSERT_EQ(got.size(), c.want.pixels.size());
    // The top-left pixel comes from the first block's top-left pixel; the bottom-left from the
    // block of the bottom row.
    EXPECT_EQ(got.front(), c.want.pixels.front());
    EXPECT_EQ(got[(height - 1) * width], c.want.pixels[(height - 1) * width]);
    EXPECT_TRUE(got == c.want.pixels);
  }
}

}  // namespace
}  // namespace pelt::testing
