// make_sample DIR: writes the sample that scripts/sample.sh runs pelt on into DIR (made when
// missing). sample.mix holds a gradient (DXT1), a checkerboard with transparent squares (DXT5), a
// ringed disc (TGA), a soft glow whose alpha must stay exact (uncompressed A8R8G8B8), a height map
// (L8), the model as the entry model-in-archive.kzm and an entry nothing uses;
// second.mix holds text-like stripes fading out to the right (DXT3, 50 x 30); sample.kzm is the
// model as a file. The model names each picture, the gradient a second time in capitals, and
// rust.tga, which neither archive holds.
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "testutil.h"

namespace {

using namespace pelt::testing;
using Picture = std::function<std::array<int, 4>(int x, int y)>;  // red, green, blue, alpha

// The blocks of a picture whose 4 x 4 blocks are each one colour, that of the block's pixel
// (1, 1), with both endpoints that colour. DXT3 keeps every pixel's alpha, DXT5 one a block.
Bytes Blocks(Fmt f, int width, int height, const Picture& at) {
  Bytes blocks;
  for (int by = 0; by < height; by += 4) {
    for (int bx = 0; bx < width; bx += 4) {
      const auto c = at(std::min(bx + 1, width - 1), std::min(by + 1, height - 1));
      for (int y = 0; f == Fmt::kDxt3 && y < 4; ++y) {
        int nibbles = 0;
        for (int x = 0; x < 4; ++x)
          nibbles |= at(std::min(bx + x, width - 1), std::min(by + y, height - 1))[3] >> 4 << 4 * x;
        PutU16(&blocks, static_cast<std::uint16_t>(nibbles));
      }
      if (f == Fmt::kDxt5) PutU32(&blocks, c[3] * 0x101), PutU32(&blocks, 0);  // alpha0 = alpha1
      const auto colour = static_cast<std::uint16_t>(c[0] >> 3 << 11 | c[1] >> 2 << 5 | c[2] >> 3);
      PutU32(&blocks, colour * 0x10001u);
      PutU32(&blocks, 0);  // every pixel index 0
    }
  }
  return blocks;
}

// A DDS entry of the picture; with `mipmaps`, every smaller level after it, each half the size
// of the one before, down to 1 x 1, and their count in the header.
Bytes Dds(Fmt f, int width, int height, const Picture& at, bool mipmaps = false) {
  Bytes data = Blocks(f, width, height, at);
  int levels = 1;
  for (int w = width, h = height; mipmaps && (w > 1 || h > 1); ++levels) {
    const int scale = width / (w = std::max(1, w / 2));
    h = std::max(1, h / 2);
    Append(&data, Blocks(f, w, h, [&](int x, int y) { return at(x * scale, y * scale); }));
  }
  return Patch32(DdsBuilder(width, height).Format(f).Data(data).Build(), 28,
                 static_cast<std::uint32_t>(levels));
}

// An uncompressed DDS entry as writers store one, by its masks: 32-bit A8R8G8B8 pixels, or with
// `grey` 8-bit L8 pixels of the picture's red.
Bytes PixelDds(bool grey, int side, const Picture& at) {
  Bytes data;
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const auto c = at(x, y);
      if (grey) {
        data.push_back(static_cast<std::uint8_t>(c[0]));
        continue;
      }
      for (int i : {2, 1, 0, 3}) data.push_back(static_cast<std::uint8_t>(c[i]));
    }
  }
  DdsBuilder dds(side, side);
  if (grey) {
    dds.Masks(0x20000, 8, 0xFF, 0, 0, 0);  // luminance
  } else {
    dds.Masks(0x41, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);  // RGB with alpha
  }
  return dds.Data(data).Build();
}

// An uncompressed 32-bit TGA file, the top row first (descriptor 0x28).
Bytes Tga(int side, const Picture& at) {
  Bytes out = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (int v : {side, side, 0x2820}) PutU16(&out, static_cast<std::uint16_t>(v));
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x)
      for (int i : {2, 1, 0, 3}) out.push_back(static_cast<std::uint8_t>(at(x, y)[i]));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return std::fprintf(stderr, "usage: make_sample DIR\n"), 1;
  const Bytes model = ModelBuilder()
                          .Begin(0x100)
                          .Chunk(0x201, ToBytes("crate"))  // a mesh name: not a texture
                          .Texture("Gradient.tga")
                          .Texture("checker.tga")
                          .Begin(0x300)
                          .Texture("stripes.tga")
                          .Texture("disc.tga")
                          .End()
                          .Texture("glow.tga")
                          .Texture("height.tga")
                          .Texture("GRADIENT.TGA")
                          .Texture("rust.tga")
                          .End()
                          .Build();
  const Bytes gradient = Dds(
      Fmt::kDxt1, 64, 64,
      [](int x, int y) {
        return std::array{x * 255 / 63, y * 255 / 63, 96, 255};
      },
      true);
  const Bytes checker = Dds(
      Fmt::kDxt5, 64, 64,
      [](int x, int y) {
        if ((x / 8 + y / 8) % 2 != 0) return std::array{0, 0, 0, 0};
        return y / 8 % 4 < 2 ? std::array{230, 60, 40, 255} : std::array{40, 90, 220, 255};
      },
      true);
  const Bytes stripes = Dds(Fmt::kDxt3, 50, 30, [](int x, int y) {  // lines of "words"
    const bool ink = y % 8 >= 2 && y % 8 < 6 && x >= 4 && x < 46 && (x / 4 * 7 + y / 8 * 3) % 5;
    const int alpha = 255 - x * 192 / 49;
    return ink ? std::array{30, 30, 50, alpha} : std::array{240, 232, 210, alpha};
  });
  const Bytes disc = Tga(32, [](int x, int y) {  // red and yellow rings, transparent outside
    const double d = std::hypot(x - 15.5, y - 15.5);
    if (d > 15) return std::array{0, 0, 0, 0};
    return static_cast<int>(d / 3) % 2 == 0 ? std::array{200, 30, 30, 255}
                                            : std::array{250, 210, 40, 255};
  });
  const Bytes glow = PixelDds(false, 48, [](int x, int y) {  // pale blue, fading out smoothly
    const double d = std::hypot(x - 23.5, y - 23.5);
    return std::array{150, 200, 255, std::max(0, 255 - static_cast<int>(d * 255 / 24))};
  });
  const Bytes height = PixelDds(true, 64, [](int x, int y) {  // rolling hills
    const int v = 128 + static_cast<int>(100 * std::sin(x / 6.0) * std::cos(y / 9.0));
    return std::array{v, v, v, 255};
  });
  const std::string dir = argv[1];
  std::filesystem::create_directories(dir);
  for (const auto& [name, bytes] :
       {std::pair{"sample.mix", MixBuilder()
                                    .Add("readme.txt", "The sample archive of pelt.\n")
                                    .Add("Gradient.dds", gradient)
                                    .Add("checker.dds", checker)
                                    .Add("disc.tga", disc)
                                    .Add("glow.dds", glow)
                                    .Add("height.dds", height)
                                    .Add("model-in-archive.kzm", model)
                                    .Add("unused.dds", Dds(Fmt::kDxt1, 8, 8,
                                                           [](int, int) {
                                                             return std::array{128, 128, 128, 255};
                                                           }))
                                    .Build()},
        std::pair{"second.mix", MixBuilder().Add("stripes.dds", stripes).Build()},
        std::pair{"sample.kzm", model}}) {
    WriteFile(dir + "/" + name, bytes);
    std::printf("wrote %s/%s (%zu bytes)\n", dir.c_str(), name, bytes.size());
  }
  return 0;
}
