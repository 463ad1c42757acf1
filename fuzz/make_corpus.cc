// Writes the seed corpora of the fuzz targets, made with the test-support builders:
//
//   make_corpus DIR
//
// writes DIR/<target>/<seed> for every target: valid archives in their layouts, models with
// nested containers and stray bytes, DDS entries of all three formats at odd sizes, and whole
// runs (run_input.h) whose model refers to TGA and DDS entries of the archive. A few seeds are
// damaged on purpose, next to their valid twins, so the fuzzer starts on both sides of a check.
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <utility>

#include "run_input.h"
#include "testutil.h"

namespace {

namespace fs = std::filesystem;
using pelt::testing::Bytes;
using pelt::testing::DdsBuilder;
using pelt::testing::Fmt;
using pelt::testing::MixBuilder;
using pelt::testing::ModelBuilder;
using pelt::testing::ToBytes;

class Corpus {
 public:
  explicit Corpus(fs::path root) : root_(std::move(root)) {}
  void Put(const std::string& target, const std::string& name, const Bytes& bytes) {
    fs::create_directories(root_ / target);
    pelt::testing::WriteFile((root_ / target / name).string(), bytes);
    ++count_;
  }
  int count() const { return count_; }

 private:
  fs::path root_;
  int count_ = 0;
};

const char* FmtName(Fmt f) { return f == Fmt::kDxt1 ? "dxt1" : f == Fmt::kDxt3 ? "dxt3" : "dxt5"; }

void Archives(Corpus* c, std::mt19937* rng) {
  c->Put("mix_directory", "empty", MixBuilder().Build());
  c->Put("mix_directory", "two-entries",
         MixBuilder()
             .Add("a.tga", "xy")
             .Add("b.dds", pelt::testing::RandomDds(Fmt::kDxt1, 4, 4, rng))
             .Build());
  c->Put("mix_directory", "names-before-index",
         MixBuilder().Add("grass.dds", "g").Add("Rock.TGA", "r").NamesBeforeIndex().Build());
  c->Put("mix_directory", "fewer-names-than-records",
         MixBuilder().Add("a.tga", "1").ExtraIndexRecords(3).Build());
  c->Put("mix_directory", "longest-name", MixBuilder().Add(std::string(254, 'n'), "z").Build());
  c->Put("mix_directory", "name-bytes-after-nul",
         MixBuilder().AddRawName(ToBytes(std::string("ab.tga\0junk", 11)), ToBytes("q")).Build());
  MixBuilder many;
  for (int i = 0; i < 24; ++i) {
    std::string name = std::to_string(i);  // built up in place: GCC 12 misreports "t" + ... + ".tga"
    name.insert(0, 1, 't');
    name += ".tga";
    many.Add(name, std::string(i, 'x'));
  }
  c->Put("mix_directory", "many-entries", many.Build());
  c->Put("mix_directory", "name-count-above-index-count",
         MixBuilder().Add("a.tga", "1").NameCount(2).Build());
  c->Put("mix_directory", "short-header", Bytes(11, 0));
}

void Models(Corpus* c) {
  c->Put("model_scan", "empty", {});
  c->Put("model_scan", "one-texture", ModelBuilder().Texture("grass.tga").Build());
  c->Put("model_scan", "nested",
         ModelBuilder()
             .Begin(0x0100)
             .Chunk(7, ToBytes("mesh"))
             .Begin(0x0200)
             .Texture("Rock.TGA")
             .End()
             .Texture("bark.tga")
             .End()
             .Texture("leaf.tga")
             .Build());
  c->Put("model_scan", "stray-tail", ModelBuilder().Texture("a.tga").Raw({1, 2, 3}).Build());
  c->Put("model_scan", "name-without-nul",
         ModelBuilder().Chunk(50, ToBytes("nonul.tga")).Texture("b.tga").Build());
  c->Put("model_scan", "name-cut-short",
         ModelBuilder().Texture("a.tga").Header(50, 100).Raw(ToBytes("cut")).Build());
  c->Put("model_scan", "other-chunk-cut-short",
         ModelBuilder().Texture("a.tga").Header(9, 1000).Raw(ToBytes("cut")).Build());
  c->Put("model_scan", "empty-chunks",
         ModelBuilder().Header(1, 0).Header(50, 0).Texture("").Texture("x.tga").Build());
}

void DdsEntries(Corpus* c, std::mt19937* rng) {
  struct Size {
    std::uint32_t w, h;
  };
  const Size kSizes[] = {{1, 1}, {4, 4}, {4, 1}, {5, 9}, {6, 6}, {8, 8}, {16, 4}, {13, 7}, {3, 17}};
  for (Fmt f : {Fmt::kDxt1, Fmt::kDxt3, Fmt::kDxt5}) {
    for (const Size& s : kSizes) {
      c->Put("dds_entry",
             std::string(FmtName(f)) + "-" + std::to_string(s.w) + "x" + std::to_string(s.h),
             pelt::testing::RandomDds(f, s.w, s.h, rng));
    }
    c->Put(
        "dds_entry", std::string(FmtName(f)) + "-mipmaps",
        DdsBuilder(8, 8).Format(f).Data(pelt::testing::RandomBlocks(f, 4, rng)).Mipmaps().Build());
    // One byte short of the surface's blocks.
    Bytes blocks = pelt::testing::RandomBlocks(f, 4, rng);
    blocks.pop_back();
    c->Put("dds_entry", std::string(FmtName(f)) + "-one-byte-short",
           DdsBuilder(8, 8).Format(f).Data(blocks).Build());
  }
  c->Put("dds_entry", "fourcc-dxt2",
         DdsBuilder(4, 4)
             .FourCC("DXT2")
             .Data(pelt::testing::RandomBlocks(Fmt::kDxt3, 1, rng))
             .Build());
  c->Put("dds_entry", "largest-side-few-bytes",
         DdsBuilder(65535, 65535).Data(Bytes(16, 0)).Build());
  c->Put("dds_entry", "header-only", DdsBuilder(4, 4).Build());
  Bytes short_entry = DdsBuilder(4, 4).Build();
  short_entry.resize(100);
  c->Put("dds_entry", "shorter-than-header", short_entry);
}

void Runs(Corpus* c, std::mt19937* rng) {
  using pelt::fuzz::JoinRunInput;
  const Bytes archive = MixBuilder()
                            .Add("grass.dds", pelt::testing::RandomDds(Fmt::kDxt1, 8, 8, rng))
                            .Add("Water.DDS", pelt::testing::RandomDds(Fmt::kDxt3, 5, 3, rng))
                            .Add("fire.dds", pelt::testing::RandomDds(Fmt::kDxt5, 6, 6, rng))
                            .Add("rock.tga", "a tga entry, copied as it is")
                            .Add("skip.tga", "not referred to")
                            .Build();
  const Bytes model = ModelBuilder()
                          .Begin()
                          .Texture("grass.tga")
                          .Texture("water.tga")
                          .End()
                          .Texture("FIRE.tga")
                          .Texture("rock.tga")
                          .Texture("missing.tga")
                          .Build();
  c->Put("run", "three-formats-and-tga", JoinRunInput(0, archive, model));
  c->Put("run", "list", JoinRunInput(pelt::fuzz::kRunList, archive, model));
  c->Put("run", "strict-tga", JoinRunInput(pelt::fuzz::kRunStrictTga, archive, model));

  // The later of two entries with one output name wins; a.dds.bak is written as a.dds.tga.
  c->Put("run", "later-wins-and-rewritten-suffix",
         JoinRunInput(0,
                      MixBuilder()
                          .Add("rock.tga", "first")
                          .Add("rock.dds", pelt::testing::RandomDds(Fmt::kDxt1, 4, 4, rng))
                          .Add("a.dds.bak", pelt::testing::RandomDds(Fmt::kDxt5, 4, 4, rng))
                          .Build(),
                      ModelBuilder().Texture("rock.tga").Texture("a.dds.tga").Build()));
  // Refusals next to a good entry: outside the archive, not a plain name, a surface too large for
  // its data, a model whose last name is cut short.
  c->Put("run", "refusals",
         JoinRunInput(0,
                      MixBuilder()
                          .Add("out.tga", "x")
                          .Add("../up.tga", "y")
                          .Add("big.dds", DdsBuilder(65535, 65535).Data(Bytes(16, 0)).Build())
                          .Add("good.tga", "z")
                          .EntryOffset(0, 1 << 20)
                          .Build(),
                      ModelBuilder()
                          .Texture("out.tga")
                          .Texture("../up.tga")
                          .Texture("big.tga")
                          .Texture("good.tga")
                          .Header(50, 64)
                          .Build()));
  // Every format at sizes whose sides are not multiples of 4, so the clipping of the right and
  // bottom blocks is written to files from the first run on.
  MixBuilder odd;
  ModelBuilder odd_model;
  const std::pair<std::uint32_t, std::uint32_t> kOddSizes[] = {{1, 1}, {2, 7}, {3, 5}, {7, 3},
                                                               {5, 9}, {9, 2}, {13, 6}};
  for (Fmt f : {Fmt::kDxt1, Fmt::kDxt3, Fmt::kDxt5}) {
    for (const auto& [w, h] : kOddSizes) {
      const std::string stem =
          std::string(FmtName(f)) + "-" + std::to_string(w) + "x" + std::to_string(h);
      odd.Add(stem + ".dds", pelt::testing::RandomDds(f, w, h, rng));
      odd_model.Texture(stem + ".tga");
    }
  }
  c->Put("run", "odd-sizes", JoinRunInput(0, odd.Build(), odd_model.Build()));
  // Entries at the edges of what fits: the last byte, an empty entry at the very end, and
  // offsets and sizes at the top of the signed 32-bit range.
  MixBuilder edges;
  edges.Add("last.tga", "L").Add("end.tga", "").Add("far.tga", "F").Add("huge.tga", "H");
  const Bytes edges_once = edges.Build();
  const auto end = static_cast<std::int32_t>(edges_once.size());
  edges.EntryOffset(0, end - 1).EntryOffset(1, end).EntryOffset(2, 0x7FFFFFFF);
  edges.EntrySize(3, 0x7FFFFFFF);
  c->Put("run", "entries-at-the-edges",
         JoinRunInput(0, edges.Build(),
                      ModelBuilder()
                          .Texture("last.tga")
                          .Texture("end.tga")
                          .Texture("far.tga")
                          .Texture("huge.tga")
                          .Build()));
  c->Put("run", "damaged-archive",
         JoinRunInput(0, MixBuilder().Add("a.tga", "1").NameCount(5).Build(),
                      ModelBuilder().Texture("a.tga").Build()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_corpus DIR\n");
    return 1;
  }
  std::mt19937 rng(20240601);
  Corpus corpus(argv[1]);
  Archives(&corpus, &rng);
  Models(&corpus);
  DdsEntries(&corpus, &rng);
  Runs(&corpus, &rng);
  std::printf("make_corpus: %d seeds in %s\n", corpus.count(), argv[1]);
  return 0;
}
