#include "sample_data.h"

#include <cmath>
#include <cstring>

#include "dxt_encoder.h"

namespace pelt::testing {

namespace {

std::uint8_t Scale(std::uint32_t v, std::uint32_t max) {
  return static_cast<std::uint8_t>(max == 0 ? 0 : v * 255 / max);
}

Image Gradient(std::uint32_t w, std::uint32_t h) {
  Image img(w, h);
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x)
      img.at(x, y) = Rgba{Scale(x, w - 1), Scale(y, h - 1), 96, 255};
  return img;
}

Image Checker(std::uint32_t w, std::uint32_t h, std::uint32_t square) {
  Image img(w, h);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const std::uint32_t sx = x / square, sy = y / square;
      if ((sx + sy) % 2 != 0)
        img.at(x, y) = Rgba{0, 0, 0, 0};
      else
        img.at(x, y) = (sy % 4 < 2) ? Rgba{230, 60, 40, 255} : Rgba{40, 90, 220, 255};
    }
  }
  return img;
}

// Lines of "words": dark bars three pixels tall with ragged lengths, on a paper-coloured ground,
// opaque at the left and fading to a quarter at the right.
Image Stripes(std::uint32_t w, std::uint32_t h) {
  Image img(w, h);
  std::uint32_t seed = 7;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      img.at(x, y) = Rgba{240, 232, 210, static_cast<std::uint8_t>(255 - x * 192 / (w - 1))};
    }
  }
  for (std::uint32_t line = 2; line + 3 <= h; line += 6) {
    std::uint32_t x = 2;
    while (x < w - 2) {
      const std::uint32_t word = 3 + next() % 8;
      for (std::uint32_t i = x; i < std::min(w - 2, x + word); ++i)
        for (std::uint32_t y = line; y < line + 3; ++y) {
          Rgba& p = img.at(i, y);
          p.r = 30, p.g = 30, p.b = 50;
        }
      x += word + 2;
    }
  }
  return img;
}

// Alternating red and yellow rings inside a circle, transparent outside it.
Image Disc(std::uint32_t side) {
  Image img(side, side);
  const double c = (side - 1) / 2.0, radius = side / 2.0 - 1;
  for (std::uint32_t y = 0; y < side; ++y) {
    for (std::uint32_t x = 0; x < side; ++x) {
      const double d = std::hypot(x - c, y - c);
      if (d > radius) {
        img.at(x, y) = Rgba{0, 0, 0, 0};
        continue;
      }
      const bool red = static_cast<int>(d / 3) % 2 == 0;
      img.at(x, y) = red ? Rgba{200, 30, 30, 255} : Rgba{250, 210, 40, 255};
    }
  }
  return img;
}

Image Solid(std::uint32_t w, std::uint32_t h, Rgba colour) {
  Image img(w, h);
  for (Rgba& p : img.pixels) p = colour;
  return img;
}

Bytes Floats(std::initializer_list<float> values) {
  Bytes out;
  for (float f : values) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    PutU32(&out, bits);
  }
  return out;
}

Bytes Shorts(std::initializer_list<std::uint16_t> values) {
  Bytes out;
  for (std::uint16_t v : values) PutU16(&out, v);
  return out;
}

Bytes Text(std::string_view s) {
  Bytes out = ToBytes(s);
  out.push_back(0);
  return out;
}

// Chunk types of the sample model besides the texture name: what a model's outline might hold.
constexpr std::int32_t kModel = 0x0100, kModelInfo = 0x0101, kMesh = 0x0200,
                       kMeshName = 0x0201, kVertices = 0x0202, kFaces = 0x0203,
                       kMaterial = 0x0300, kMaterialName = 0x0301;

}  // namespace

Sample MakeSample() {
  Sample s;
  s.archive =
      MixBuilder()
          .Add("readme.txt",
               "Sample archive for pelt: three DDS pictures (DXT1, DXT5, DXT3), one TGA picture,\n"
               "and two entries the sample model does not use.\n")
          .Add("Gradient.dds", EncodeDds(Fmt::kDxt1, Gradient(64, 64), /*mipmaps=*/true))
          .Add("checker.dds", EncodeDds(Fmt::kDxt5, Checker(64, 64, 8), /*mipmaps=*/true))
          .Add("stripes.dds", EncodeDds(Fmt::kDxt3, Stripes(50, 30)))
          .Add("disc.tga", EncodeTga(Disc(32)))
          .Add("unused.dds", EncodeDds(Fmt::kDxt1, Solid(16, 16, Rgba{128, 128, 128, 255})))
          .Add("spare.tga", EncodeTga(Solid(8, 8, Rgba{0, 160, 80, 255})))
          .Build();

  // A cube: eight corners, twelve triangles.
  const Bytes corners = Floats({-1, -1, -1, 1, -1, -1, 1, 1, -1, -1, 1, -1,  //
                                -1, -1, 1,  1, -1, 1,  1, 1, 1,  -1, 1, 1});
  const Bytes faces = Shorts({0, 1, 2, 0, 2, 3, 4, 6, 5, 4, 7, 6, 0, 4, 5, 0, 5, 1,
                              1, 5, 6, 1, 6, 2, 2, 6, 7, 2, 7, 3, 3, 7, 4, 3, 4, 0});
  // A flag: one quad.
  const Bytes quad = Floats({0, 0, 0, 2, 0, 0, 2, 1, 0, 0, 1, 0});
  const Bytes quad_faces = Shorts({0, 1, 2, 0, 2, 3});

  s.model = ModelBuilder()
                .Begin(kModel)
                .Chunk(kModelInfo, Text("sample"))
                .Begin(kMesh)
                .Chunk(kMeshName, Text("crate"))
                .Chunk(kVertices, corners)
                .Chunk(kFaces, faces)
                .Begin(kMaterial)
                .Chunk(kMaterialName, Text("painted wood"))
                .Texture("Gradient.tga")
                .End()
                .End()
                .Begin(kMesh)
                .Chunk(kMeshName, Text("flag"))
                .Chunk(kVertices, quad)
                .Chunk(kFaces, quad_faces)
                .Begin(kMaterial)
                .Chunk(kMaterialName, Text("cloth"))
                .Texture("checker.tga")
                .Texture("stripes.tga")
                .End()
                .Begin(kMaterial)
                .Chunk(kMaterialName, Text("emblem"))
                .Texture("disc.tga")
                .End()
                .End()
                .Begin(kMaterial)
                .Chunk(kMaterialName, Text("weathered"))
                .Texture("GRADIENT.TGA")
                .Texture("rust.tga")
                .End()
                .End()
                .Build();
  return s;
}

}  // namespace pelt::testing
