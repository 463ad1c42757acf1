// The test encoder must make pictures that decode to what was drawn, or the sample data and the
// tests built on it show something else than they claim. The cases are what the sample draws:
// DXT1 colours (opaque blocks beside punch-through ones), DXT3 alpha ramps, DXT5 hard alpha
// edges, and mipmaps.
#include "dxt_encoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "dxt.h"

namespace pelt::testing {
namespace {

// Colours along one line through RGB space (the encoder's endpoints are the block's per-channel
// minimum and maximum, so a line of colours is what it can reproduce well), brightening to the
// right and downwards; the alpha is transparent from column 6 on (an edge inside a block) for
// `hard_alpha`, else a ramp across the columns.
Image Drawn(std::uint32_t w, std::uint32_t h, bool hard_alpha) {
  Image img(w, h);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const std::uint32_t t = x * 4 + y * 16;  // 60 across a block
      const auto a = static_cast<std::uint8_t>(hard_alpha ? (x < 6 ? 255 : 0) : x * 255 / (w - 1));
      img.at(x, y) = Rgba{static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(t / 2 + 64),
                          static_cast<std::uint8_t>(t / 4 + 128), a};
    }
  }
  return img;
}

TEST(DxtEncoder, PicturesDecodeCloseToWhatWasDrawn) {
  struct Case {
    const char* what;
    Fmt fmt;
    DxtFormat format;
    bool hard_alpha;
    int alpha_tolerance;  // -1: alpha is exact (0 or 255)
  };
  const Case kCases[] = {
      {"DXT1 punch-through: transparent pixels on index 3", Fmt::kDxt1, DxtFormat::kDxt1, true, -1},
      {"DXT3 explicit 4-bit alphas", Fmt::kDxt3, DxtFormat::kDxt3, false, 17},
      {"DXT5 hard alpha edge", Fmt::kDxt5, DxtFormat::kDxt5, true, 0},
  };
  constexpr std::uint32_t kW = 16, kH = 12;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const Image drawn = Drawn(kW, kH, c.hard_alpha);
    const Bytes blocks = EncodeSurface(c.fmt, drawn);
    ASSERT_EQ(blocks.size(), BlocksFor(kW, kH) * BlockBytes(c.fmt));
    std::vector<BgraPixel> decoded(kW * kH);
    DecodeBlockRows(c.format, blocks.data(), kW / 4, kH / 4, decoded.data(), kW);
    for (std::uint32_t y = 0; y < kH; ++y) {
      for (std::uint32_t x = 0; x < kW; ++x) {
        const Rgba& want = drawn.at(x, y);
        const BgraPixel p = decoded[y * kW + x];
        const Rgba got{std::uint8_t(p >> 16), std::uint8_t(p >> 8), std::uint8_t(p),
                       std::uint8_t(p >> 24)};
        SCOPED_TRACE(::testing::Message() << "pixel " << x << "," << y);
        if (c.alpha_tolerance < 0) {
          ASSERT_EQ(got.a, want.a);
          if (want.a == 0) continue;  // a transparent pixel's colour is not drawn
        } else {
          ASSERT_LE(std::abs(got.a - want.a), c.alpha_tolerance);
        }
        // Half a palette step (60 / 3 / 2) plus what 5:6:5 and the truncating interpolation
        // lose; a fault in the index or endpoint layout is off by most of the 60.
        ASSERT_LE(std::abs(got.r - want.r), 20);
        ASSERT_LE(std::abs(got.g - want.g), 20);
        ASSERT_LE(std::abs(got.b - want.b), 20);
      }
    }
  }
}

TEST(DxtEncoder, MipmapsFollowTheTopLevelAndTheCountIsSet) {
  const Bytes dds = EncodeDds(Fmt::kDxt1, Drawn(16, 12, false), /*mipmaps=*/true);
  // 16x12, 8x6, 4x3, 2x1, 1x1: 12 + 4 + 1 + 1 + 1 blocks of 8 bytes after the 128-byte header.
  EXPECT_EQ(dds.size(), 128u + (12 + 4 + 1 + 1 + 1) * 8);
  EXPECT_EQ(dds[28], 5);  // dwMipMapCount
}

}  // namespace
}  // namespace pelt::testing
