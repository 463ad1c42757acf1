// make_seeds DIR: writes each fuzz target's seeds, made small by the builders, as DIR/TARGET/N:
// archives, models, DDS and TGA entries, and whole runs.
#include <filesystem>

#include "testutil.h"

namespace fs = std::filesystem;
using namespace pelt::testing;

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  std::mt19937 rng(1);
  const Bytes model = ModelBuilder()
                          .Begin()
                          .Texture("Rock.tga")
                          .Chunk(7, {1})
                          .Texture("moss.TGA")
                          .End()
                          .Texture("gone.tga")
                          .Header(50, 9)
                          .Build();
  const Bytes dds[] = {RandomDds(Fmt::kDxt1, 5, 3, &rng), RandomDds(Fmt::kDxt3, 8, 8, &rng),
                       RandomDds(Fmt::kDxt5, 1, 9, &rng)};
  const Bytes tga = TgaEntry{.type = 9,
                             .depth = 8,
                             .descriptor = 0,
                             .width = 3,
                             .height = 2,
                             .data = {0x81, 1, 0x02, 0, 1, 0, 0x80, 1},
                             .map = Bytes(6),
                             .map_depth = 24}
                        .Build();
  const Bytes a =
      MixBuilder().Add("rock.tga", tga).Add("Moss.dds", dds[2]).Add("m.kzm", model).Build();
  const Bytes b =
      MixBuilder().Add("gone.dds", dds[1]).Add("rock.tga", "b").Add("moss.dds", dds[0]).Build(true);
  int n = 0;
  const auto put = [&](const char* target, std::initializer_list<Bytes> seeds) {
    const fs::path dir = fs::path(argv[1]) / target;
    fs::create_directories(dir);
    for (const Bytes& seed : seeds) WriteFile((dir / std::to_string(n++)).string(), seed);
  };
  put("mix", {a, b});
  put("model", {model});
  put("dds", {dds[0], dds[1], dds[2]});
  // A seed of every other format: DXT2, DXT4, ATI1, ATI2, each Direct3D number, masks.
  for (std::uint32_t f :
       {0x32545844u, 0x34545844u, 0x31495441u, 0x32495441u, 20u, 21u, 22u, 23u, 24u,
        25u,         26u,         27u,         28u,         29u, 30u, 31u, 32u, 33u,
        34u,         35u,         50u,         51u,         52u, 81u, 0u}) {
    put("dds", {DdsBuilder(5, 3)
                    .Masks(0x41, 16, 0xF00, 0xF0, 0xF, 0xF000)
                    .FourCC(f)
                    .Data(RandomBlocks(Fmt::kDxt5, 4, &rng))
                    .Build()});
  }
  put("tga",
      {tga, TgaEntry{.type = 10, .depth = 16, .descriptor = 0, .width = 2, .data = {0x81, 1, 0x80}}
                .Build()});
  // The run target's input (see run_fuzz.cc): the flags, then each part after its length; one
  // seed for each option.
  for (std::uint8_t flags : {0, 1, 2, 8, 16, 34}) {
    Bytes seed = {flags};
    for (const Bytes* part : {&a, &model, &b}) {
      PutU32(&seed, static_cast<std::uint32_t>(part->size()));
      Append(&seed, *part);
    }
    put("run", {seed});
  }
  return 0;
}
