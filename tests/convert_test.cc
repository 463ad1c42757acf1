// End-to-end runs of the pelt binary on DDS entries: the .dds name rewritten to .tga and matched,
// DXT1/DXT3/DXT5 surfaces decoded and written as 32-bit TGA images, every refusal checked before
// anything is announced or created. Expected pixels come from the plain reference decoder, which
// the decoder tests hold to hand-computed blocks; one image is spelled out byte for byte.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "reference_decoder.h"
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

// A solid red 4 x 4 DXT1 surface (col0 0xF800, every index 0) and the file pelt writes for it:
// image type 2, sides 4 and 4, 32 bits, descriptor 0x2F (top-left origin, 8 alpha bits), then
// red as blue, green, red, alpha sixteen times.
const Bytes kRed4x4 =
    DdsBuilder(4, 4).Format(Fmt::kDxt1).Data({0x00, 0xF8, 0, 0, 0, 0, 0, 0}).Build();
const Bytes kRed4x4Tga = [] {
  Bytes want = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 4, 0, 0x20, 0x2F};
  for (int i = 0; i < 16; ++i) Append(&want, {0x00, 0x00, 0xF8, 0xFF});
  return want;
}();

// The file pelt writes for a width x height image of red, green, blue, alpha pixels: the header
// with the sides little-endian, then blue, green, red, alpha per pixel, top row first.
Bytes Tga(std::uint32_t width, std::uint32_t height, const Bytes& rgba) {
  Bytes out = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  PutU16(&out, static_cast<std::uint16_t>(width));
  PutU16(&out, static_cast<std::uint16_t>(height));
  Append(&out, {32, 0x2F});
  for (std::size_t i = 0; i + 3 < rgba.size(); i += 4)
    Append(&out, {rgba[i + 2], rgba[i + 1], rgba[i], rgba[i + 3]});
  return out;
}

// Random blocks (both palette modes, both alpha modes) for a width x height surface.
Bytes Blocks(Fmt f, std::uint32_t width, std::uint32_t height) {
  static std::mt19937 rng(11);
  return RandomBlocks(f, BlocksFor(width, height), &rng);
}

// Compares whole files without printing megabytes when they differ.
void ExpectFile(const RunScene& s, const std::string& name, const Bytes& want) {
  const std::optional<Bytes> got = s.Out(name);
  ASSERT_TRUE(got.has_value()) << name << " was not written";
  ASSERT_EQ(got->size(), want.size()) << name;
  const auto at = std::mismatch(want.begin(), want.end(), got->begin()).first - want.begin();
  EXPECT_EQ(static_cast<std::size_t>(at), want.size()) << name << " first differs at byte " << at;
}

// Each format decodes its blocks into place: sides that are not multiples of 4 take
// ceil(side / 4) blocks with the right and bottom edges clipped, the smaller mipmap levels after
// the top level are ignored, sides up to 65535 are written, and a large surface is decoded and
// written in several bands.
TEST(Convert, SurfacesAreWrittenPixelForPixel) {
  struct Case {
    Fmt format;
    std::uint32_t width, height;
    bool mipmaps;
  };
  const Case kCases[] = {
      {Fmt::kDxt1, 8, 8, true},      {Fmt::kDxt3, 8, 8, true},       {Fmt::kDxt5, 8, 8, true},
      {Fmt::kDxt1, 5, 3, false},     {Fmt::kDxt5, 1, 1, false},      {Fmt::kDxt3, 6, 9, true},
      {Fmt::kDxt1, 2, 7, false},     {Fmt::kDxt1, 300, 1, false},    {Fmt::kDxt1, 65535, 4, false},
      {Fmt::kDxt5, 4, 65535, false}, {Fmt::kDxt1, 1030, 701, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.format)) + ", " + std::to_string(c.width) + "x" +
                 std::to_string(c.height));
    const Bytes blocks = Blocks(c.format, c.width, c.height);
    DdsBuilder dds(c.width, c.height);
    dds.Format(c.format).Data(blocks);
    if (c.mipmaps) dds.Mipmaps();
    RunScene s;
    const RunResult r = s.Run(MixBuilder().Add("s.dds", dds.Build()).Build(), ModelOf({"s.tga"}));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "now writing s.tga\n");
    ExpectFile(s, "s.tga",
               Tga(c.width, c.height, ReferenceDecode(c.format, blocks, c.width, c.height)));
  }
}

TEST(Convert, HeaderIsThe18BytesOfAnUncompressed32BitImage) {
  RunScene s;
  const RunResult r = s.Run(MixBuilder().Add("red.dds", kRed4x4).Build(), ModelOf({"red.tga"}));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(s.Out("red.tga"), kRed4x4Tga);
  EXPECT_EQ(kRed4x4Tga.size(), 82u);
}

// Every check passes before the output file is created and announced: a refused entry prints no
// "now writing" line, leaves no file and an existing file of its name as it was, and is reported
// under its output name; the entries after it still convert.
TEST(Convert, RefusedEntriesWriteNothing) {
  const Bytes red = Bytes(kRed4x4.begin() + 128, kRed4x4.end());
  struct Case {
    const char* what;
    Bytes entry;
    std::optional<std::int32_t> size;  // index override
  };
  const Case kCases[] = {
      {"empty entry", {}, {}},
      {"127 bytes: one short of the header", Bytes(kRed4x4.begin(), kRed4x4.begin() + 127), {}},
      {"FourCC DXT2", DdsBuilder(4, 4).FourCC("DXT2").Data(Bytes(16, 0)).Build(), {}},
      {"height 65536",
       DdsBuilder(4, 65536).Format(Fmt::kDxt1).Data(Bytes(16384 * 8, 0)).Build(),
       {}},
      {"size field cuts the block data", kRed4x4, 128 + 7},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    MixBuilder archive;
    archive.Add("bad.dds", c.entry).Add("good.dds", kRed4x4);
    if (c.size) archive.EntrySize(0, *c.size);
    for (const bool existing : {false, true}) {
      SCOPED_TRACE(existing ? "over an existing file" : "no file before");
      RunScene s;
      if (existing) WriteFile(s.work() + "/bad.tga", "precious");
      const RunResult r = s.Run(archive.Build(), ModelOf({"bad.tga", "good.tga"}));
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

// An independent TGA reader sees the image pelt meant: its size, the top row first, and the
// alpha of every pixel.
TEST(Convert, ImageReaderSeesSizeOrientationAndAlpha) {
  struct Case {
    Fmt format;
    std::uint32_t width, height;
  };
  for (const Case& c : {Case{Fmt::kDxt5, 8, 8}, Case{Fmt::kDxt1, 6, 5}}) {
    SCOPED_TRACE(static_cast<int>(c.format));
    const Bytes blocks = Blocks(c.format, c.width, c.height);
    RunScene s;
    const RunResult r =
        s.Run(MixBuilder()
                  .Add("t.dds", DdsBuilder(c.width, c.height).Format(c.format).Data(blocks).Build())
                  .Build(),
              ModelOf({"t.tga"}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::optional<Bytes> file = s.Out("t.tga");
    ASSERT_TRUE(file.has_value());
    int width = 0, height = 0, channels = 0;
    stbi_uc* rgba = stbi_load_from_memory(file->data(), static_cast<int>(file->size()), &width,
                                          &height, &channels, 4);
    ASSERT_NE(rgba, nullptr) << stbi_failure_reason();
    const Bytes got(rgba, rgba + 4 * width * height);
    stbi_image_free(rgba);
    EXPECT_EQ(width, static_cast<int>(c.width));
    EXPECT_EQ(height, static_cast<int>(c.height));
    EXPECT_EQ(channels, 4);
    EXPECT_EQ(got, ReferenceDecode(c.format, blocks, c.width, c.height));
  }
}

}  // namespace
}  // namespace pelt::testing
