// make_seeds DIR: writes each fuzz target's seeds, made small by the builders, as DIR/TARGET/N.
#include <filesystem>

#include "testutil.h"

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
  // The run target's input (see run_fuzz.cc): the flags, then each part after its length; one
  // seed for each option.
  const std::filesystem::path dir = std::filesystem::path(argv[1]) / "run";
  std::filesystem::create_directories(dir);
  for (std::uint8_t flags : {0, 1, 2, 8, 16, 34}) {
    Bytes seed = {flags};
    for (const Bytes* part : {&a, &model, &b}) {
      PutU32(&seed, static_cast<std::uint32_t>(part->size()));
      Append(&seed, *part);
    }
    WriteFile((dir / std::to_string(flags)).string(), seed);
  }
  return 0;
}
