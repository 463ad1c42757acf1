// make_seeds DIR: writes each fuzz target's seeds, made small by the builders, as DIR/TARGET/N.
#include <filesystem>

#include "testutil.h"

using namespace pelt::testing;

// A whole-run input (see run_fuzz.cc): the flags, then each part after its length.
Bytes Run(std::uint8_t flags, std::initializer_list<Bytes> parts) {
  Bytes out = {flags};
  for (const Bytes& p : parts) {
    PutU32(&out, static_cast<std::uint32_t>(p.size()));
    Append(&out, p);
  }
  return out;
}

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
  const std::pair<std::string, Bytes> kSeeds[] = {
      {"run/run", Run(0, {a, model})},      {"run/list", Run(1, {a, model, b})},
      {"run/raw", Run(2, {a, model, b})},   {"run/contents", Run(8, {a, {}, b})},
      {"run/pattern", Run(16, {a, {}, b})}, {"run/png", Run(34, {a, model})},
  };
  for (const auto& [name, bytes] : kSeeds) {
    const std::filesystem::path path = std::filesystem::path(argv[1]) / name;
    std::filesystem::create_directories(path.parent_path());
    WriteFile(path.string(), bytes);
  }
  return 0;
}
