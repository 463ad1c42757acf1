// The inputs of bench/png_vs_magick.sh.
//
//   png_bench make DIR [SIDE]     writes SIDE x SIDE (4096) DDS files into DIR: random_dxt1.dds
//                                 and random_dxt5.dds of random blocks, texture_dxt1.dds and
//                                 texture_dxt5.dds of a texture (gradients and noise at several
//                                 scales, alpha too in DXT5) encoded by a simple block encoder;
//                                 beside each, NAME.mix holding it as its one entry and NAME.kzm,
//                                 a model naming NAME.tga, for pelt
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "convert.h"
#include "platform.h"
#include "testutil.h"

namespace {

using pelt::testing::Bytes;
using pelt::testing::Fmt;

// Smooth noise in [-1, 1]: random values on a lattice of `cell` pixels, blended with smoothstep.
class Noise {
 public:
  Noise(std::uint32_t side, std::uint32_t cell, std::mt19937* rng)
      : cell_(cell), n_(side / cell + 2), lattice_(std::size_t{n_} * n_) {
    std::uniform_real_distribution<float> d(-1, 1);
    for (float& v : lattice_) v = d(*rng);
  }
  float At(std::uint32_t x, std::uint32_t y) const {
    const std::uint32_t i = x / cell_, j = y / cell_;
    const float fx = Smooth(float(x % cell_) / cell_), fy = Smooth(float(y % cell_) / cell_);
    const float* r0 = &lattice_[std::size_t{j} * n_ + i];
    const float* r1 = r0 + n_;
    return (r0[0] * (1 - fx) + r0[1] * fx) * (1 - fy) + (r1[0] * (1 - fx) + r1[1] * fx) * fy;
  }

 private:
  static float Smooth(float t) { return t * t * (3 - 2 * t); }
  std::uint32_t cell_, n_;
  std::vector<float> lattice_;
};

// RGBA pixels of a texture: a shared pattern of four octaves, a slow tint per channel and a
// little per-pixel noise, as in photographed surfaces.
std::vector<std::uint8_t> Texture(std::uint32_t side, std::mt19937* rng) {
  const std::uint32_t cells[] = {512, 128, 32, 8};
  const float amplitude[] = {70, 30, 14, 7};
  std::vector<Noise> shared, tint;
  for (std::uint32_t c : cells) shared.emplace_back(side, std::min(c, side), rng);
  for (int c = 0; c < 4; ++c) tint.emplace_back(side, std::min(256u, side), rng);
  std::normal_distribution<float> grain(0, 3);
  const float base[] = {120, 100, 80, 160};
  std::vector<std::uint8_t> rgba(std::size_t{side} * side * 4);
  for (std::uint32_t y = 0; y < side; ++y) {
    for (std::uint32_t x = 0; x < side; ++x) {
      float pattern = 0;
      for (std::size_t o = 0; o < shared.size(); ++o) pattern += amplitude[o] * shared[o].At(x, y);
      for (int c = 0; c < 4; ++c) {
        const float v =
            base[c] + pattern * (c == 3 ? 0.5f : 1) + 25 * tint[c].At(x, y) + grain(*rng);
        rgba[(std::size_t{y} * side + x) * 4 + c] =
            static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
      }
    }
  }
  return rgba;
}

// Encodes RGBA pixels as blocks: colour endpoints the block's per-channel maximum and minimum
// (four-colour mode, so DXT1 is opaque), alpha endpoints its maximum and minimum (eight-alpha
// mode), every pixel the nearest palette entry.
Bytes Encode(const std::vector<std::uint8_t>& rgba, std::uint32_t side, Fmt f) {
  Bytes out;
  for (std::uint32_t by = 0; by < side / 4; ++by) {
    for (std::uint32_t bx = 0; bx < side / 4; ++bx) {
      const std::uint8_t* px[16];
      int lo[4] = {255, 255, 255, 255}, hi[4] = {0, 0, 0, 0};
      for (int p = 0; p < 16; ++p) {
        px[p] = &rgba[((std::size_t{by} * 4 + p / 4) * side + bx * 4 + p % 4) * 4];
        for (int c = 0; c < 4; ++c) {
          lo[c] = std::min<int>(lo[c], px[p][c]);
          hi[c] = std::max<int>(hi[c], px[p][c]);
        }
      }
      if (f == Fmt::kDxt5) {
        const int a0 = hi[3], a1 = lo[3];
        std::uint64_t bits = 0;
        for (int p = 0; p < 16; ++p) {
          int best = 0;
          for (int k = 1; k < 8 && a0 != a1; ++k) {
            auto value = [&](int i) {
              return i < 2 ? (i ? a1 : a0) : ((8 - i) * a0 + (i - 1) * a1) / 7;
            };
            if (std::abs(value(k) - px[p][3]) < std::abs(value(best) - px[p][3])) best = k;
          }
          bits |= std::uint64_t(best) << (3 * p);
        }
        out.push_back(static_cast<std::uint8_t>(a0));
        out.push_back(static_cast<std::uint8_t>(a1));
        for (int i = 0; i < 6; ++i) out.push_back(static_cast<std::uint8_t>(bits >> 8 * i));
      }
      auto to565 = [](const int* c) { return (c[0] >> 3) << 11 | (c[1] >> 2) << 5 | c[2] >> 3; };
      const int c0 = to565(hi), c1 = to565(lo);
      const int e0[3] = {(c0 >> 11) << 3, (c0 >> 5 & 63) << 2, (c0 & 31) << 3};
      const int e1[3] = {(c1 >> 11) << 3, (c1 >> 5 & 63) << 2, (c1 & 31) << 3};
      std::uint32_t indices = 0;
      for (int p = 0; p < 16 && c0 != c1; ++p) {
        int best = 0, best_error = 1 << 30;
        for (int k = 0; k < 4; ++k) {
          int error = 0;
          for (int c = 0; c < 3; ++c) {
            const int w0 = k == 0 ? 3 : k == 1 ? 0 : k == 2 ? 2 : 1;  // thirds of e0
            const int d = px[p][c] - (w0 * e0[c] + (3 - w0) * e1[c]) / 3;
            error += d * d;
          }
          if (error < best_error) {
            best = k;
            best_error = error;
          }
        }
        indices |= std::uint32_t(best) << (2 * p);
      }
      pelt::testing::PutU16(&out, static_cast<std::uint16_t>(c0));
      pelt::testing::PutU16(&out, static_cast<std::uint16_t>(c1));
      pelt::testing::PutU32(&out, indices);
    }
  }
  return out;
}

int Make(const std::string& dir, std::uint32_t side) {
  std::mt19937 rng(2024);
  const std::vector<std::uint8_t> texture = Texture(side, &rng);
  auto write = [&dir](const std::string& name, const Bytes& dds) {
    pelt::testing::WriteFile(dir + "/" + name + ".dds", dds);
    pelt::testing::WriteFile(dir + "/" + name + ".mix",
                             pelt::testing::MixBuilder().Add(name + ".dds", dds).Build());
    pelt::testing::WriteFile(dir + "/" + name + ".kzm", pelt::testing::ModelOf({name + ".tga"}));
  };
  for (Fmt f : {Fmt::kDxt1, Fmt::kDxt5}) {
    const std::string suffix = f == Fmt::kDxt1 ? "_dxt1" : "_dxt5";
    write("random" + suffix, pelt::testing::RandomDds(f, side, side, &rng));
    const Bytes blocks = Encode(texture, side, f);
    write("texture" + suffix, pelt::testing::DdsBuilder(side, side).Format(f).Data(blocks).Build());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 2 && args.size() <= 3 && args[0] == "make")
    return Make(args[1], args.size() == 3 ? std::stoul(args[2]) : 4096);
  std::fprintf(stderr, "usage: png_bench make DIR [SIDE]\n");
  return 2;
}
