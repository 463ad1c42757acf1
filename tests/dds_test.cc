#include "dds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "reference_decoder.h"
#include "testutil.h"

// The palette and alpha arithmetic, index layouts and tile bounds of every decoder are checked in
// dxt_paths_test.cc; here, whole entries: their checks and the placement of their blocks.

namespace pelt {
namespace {

using pelt::testing::Bytes;
using pelt::testing::DdsBuilder;
using pelt::testing::Fmt;

// Checks and decodes a whole DDS entry the way the run does, into red, green, blue, alpha bytes.
Result<Bytes> DecodeEntry(const Bytes& entry) {
  const std::span<const std::uint8_t> all(entry);
  auto checked = CheckDdsEntry(all.first(std::min(entry.size(), kDdsHeaderSize)), entry.size());
  if (!checked.ok()) return checked.status();
  auto pixels = Decompress(ReadSurfaceDesc(all.subspan(kDdsMagicSize).first<kDdsSurfaceDescSize>()),
                           all.subspan(kDdsHeaderSize));
  if (!pixels.ok()) return pixels.status();
  Bytes rgba;
  for (BgraPixel p : *pixels) {
    const Color8888 c = UnpackBgra(p);
    rgba.insert(rgba.end(), {c.r, c.g, c.b, c.a});
  }
  return rgba;
}

// Random blocks, each its own, land in place with the right and bottom edge blocks clipped, as
// the plain decoder places them; any magic is accepted, and the smaller mipmap levels after the
// top level are ignored.
TEST(DxtSurface, BlocksLandInPlaceClippedAndMipmapsAreIgnored) {
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
      {6, 70},  // clipped rows in more than one band
  };
  std::mt19937 rng(7);
  for (Fmt f : {Fmt::kDxt1, Fmt::kDxt3, Fmt::kDxt5}) {
    for (const Case& c : kCases) {
      const Bytes blocks =
          pelt::testing::RandomBlocks(f, pelt::testing::BlocksFor(c.width, c.height), &rng);
      const Bytes want = pelt::testing::ReferenceDecode(f, blocks, c.width, c.height);
      for (const bool mipmaps : {false, true}) {
        SCOPED_TRACE(::testing::Message() << "format " << static_cast<int>(f) << ", " << c.width
                                          << "x" << c.height << (mipmaps ? ", mipmaps" : ""));
        DdsBuilder builder = DdsBuilder(c.width, c.height).Format(f).Magic(0).Data(blocks);
        if (mipmaps) builder.Mipmaps(0x5A);
        const Bytes entry = builder.Build();
        auto surface = CheckDdsEntry(std::span(entry).first(kDdsHeaderSize), entry.size());
        ASSERT_TRUE(surface.ok()) << surface.status().message();
        EXPECT_EQ(surface->width, c.width);
        EXPECT_EQ(surface->height, c.height);
        EXPECT_EQ(surface->xblocks, (c.width + 3) / 4);
        EXPECT_EQ(surface->yblocks, (c.height + 3) / 4);
        EXPECT_EQ(surface->block_bytes, blocks.size());
        auto pixels = DecodeEntry(entry);
        ASSERT_TRUE(pixels.ok()) << pixels.status().message();
        EXPECT_EQ(*pixels, want);
      }
    }
  }
}

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

TEST(DdsChecks, SurfaceDecodersReadNothingBeyondShortData) {
  DDSURFACEDESC2 ddsd;
  ddsd.dwWidth = 8;
  ddsd.dwHeight = 8;
  const Bytes short_data(63);
  EXPECT_TRUE(DecompressDXT5(ddsd, short_data).empty());
  EXPECT_TRUE(DecompressDXT3(ddsd, short_data).empty());
  EXPECT_EQ(DecompressDXT1(ddsd, short_data).size(), 64u);
}

}  // namespace
}  // namespace pelt
