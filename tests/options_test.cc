// End-to-end tests of the command-line options: the built pelt in a temporary directory that
// holds an archive and a model.
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dxt_encoder.h"
#include "sample_data.h"
#include "testutil.h"

namespace pelt::testing {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

Image Picture(std::uint32_t w, std::uint32_t h) {
  Image img(w, h);
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x)
      img.at(x, y) = Rgba{static_cast<std::uint8_t>(x * 30), static_cast<std::uint8_t>(y * 30),
                          200, static_cast<std::uint8_t>(x < w / 2 ? 255 : 0)};
  return img;
}

// A working directory holding a.mix and m.kzm: by default an archive with two TGA entries the
// model refers to and one it does not, which a run writes as disc.tga and grass.tga. (DDS entries
// appear only where a test is about them.)
class Scene {
 public:
  Scene() : Scene(DefaultArchive(), ModelBuilder().Texture("disc.tga").Texture("grass.tga").Build()) {}
  Scene(const Bytes& archive, const Bytes& model) {
    WriteFile(dir_ / "a.mix", archive);
    WriteFile(dir_ / "m.kzm", model);
  }
  static Bytes Disc() { return EncodeTga(Picture(3, 2)); }
  static Bytes DefaultArchive() {
    return MixBuilder()
        .Add("disc.tga", Disc())
        .Add("Grass.TGA", EncodeTga(Picture(6, 5)))
        .Add("other.tga", "not referred to")
        .Build();
  }

  RunResult Run(const std::vector<std::string>& args) const { return RunPelt(args, dir_.path()); }
  std::vector<std::string> Files(std::string_view sub = "") const { return dir_.List(sub); }
  std::string operator/(std::string_view name) const { return dir_ / name; }
  const std::string& path() const { return dir_.path(); }

 private:
  TempDir dir_;
};

const std::vector<std::string> kInputsOnly = {"a.mix", "m.kzm"};
const std::vector<std::string> kInputsAndOutputs = {"a.mix", "disc.tga", "grass.tga", "m.kzm"};

TEST(HelpAndVersion, PrintOnStdoutExitZeroAndWriteNothing) {
  struct Case {
    std::vector<std::string> args;
  };
  const Case kCases[] = {
      {{"-h"}},
      {{"--help"}},
      {{"--help", "a.mix", "m.kzm"}},  // with the file names it still only helps
      {{"-l", "-o", "out", "-h", "a.mix", "m.kzm"}},
      {{"-h", "-x"}},  // what follows the help request is not looked at
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    Scene scene;
    const RunResult r = scene.Run(c.args);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_THAT(r.out, StartsWith(kUsage));
    for (const char* option : {"-o,", "--output-dir", "-l,", "--list", "--strict-tga", "-h,",
                               "--help", "--version", "--"})
      EXPECT_THAT(r.out, HasSubstr(option));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(scene.Files(), kInputsOnly);
  }

  Scene scene;
  const RunResult r = scene.Run({"--version", "a.mix", "m.kzm"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "pelt " PELT_VERSION "\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(scene.Files(), kInputsOnly);
}

TEST(HelpAndVersion, AnUnwritableStandardOutputIsAFailure) {
  for (const char* option : {"--help", "--version"}) {
    SCOPED_TRACE(option);
    Scene scene;
    RunLimits limits;
    limits.file_size_bytes = 4;  // writes past the fourth byte fail (EFBIG)
    const RunResult r = RunPelt({option}, scene.path(), limits);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out.size(), 4u);
  }
}

TEST(BadOption, OneStderrLineNamingItExitOneNothingWritten) {
  struct Case {
    std::vector<std::string> args;
    const char* err;
  };
  const Case kCases[] = {
      {{"-x", "a.mix", "m.kzm"}, "pelt: -x: unknown option (see pelt --help)\n"},
      {{"--frobnicate", "a.mix", "m.kzm"}, "pelt: --frobnicate: unknown option (see pelt --help)\n"},
      {{"-l", "--list=yes", "a.mix", "m.kzm"},
       "pelt: --list=yes: unknown option (see pelt --help)\n"},
      {{"-lx", "a.mix", "m.kzm"}, "pelt: -lx: unknown option (see pelt --help)\n"},
      {{"--output-dir=", "a.mix", "m.kzm"},
       "pelt: --output-dir=: option requires a directory (see pelt --help)\n"},
      {{"-o"}, "pelt: -o: option requires a directory (see pelt --help)\n"},
      {{"-o", "out", "--output-dirx", "a.mix", "m.kzm"},
       "pelt: --output-dirx: unknown option (see pelt --help)\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.err);
    Scene scene;
    const RunResult r = scene.Run(c.args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(scene.Files(), kInputsOnly);
  }
}

TEST(Positionals, OptionsAreReadOnlyBeforeTheFirstFileName) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int exit_code;
    std::vector<std::string> files;
  };
  const Case kCases[] = {
      {"an unknown option after the file names is ignored", {"a.mix", "m.kzm", "-x"}, 0,
       kInputsAndOutputs},
      {"--list after the file names does not stop the writing", {"a.mix", "m.kzm", "--list"}, 0,
       kInputsAndOutputs},
      {"-o after the file names leaves the output here", {"a.mix", "m.kzm", "-o", "out"}, 0,
       kInputsAndOutputs},
      {"-- before the file names", {"--", "a.mix", "m.kzm"}, 0, kInputsAndOutputs},
      {"options and one file name give the usage text", {"-o", "out", "a.mix"}, 1, kInputsOnly},
      {"an option alone gives the usage text", {"--strict-tga"}, 1, kInputsOnly},
      {"-- and one file name give the usage text", {"--", "a.mix"}, 1, kInputsOnly},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Scene scene;
    const RunResult r = scene.Run(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(r.out, c.exit_code == 0 ? "now writing disc.tga\nnow writing grass.tga\n" : kUsage);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(scene.Files(), c.files);
  }
}

TEST(Positionals, DoubleDashLetsFilesBeNamedLikeOptions) {
  Scene scene;
  ASSERT_EQ(::rename((scene / "a.mix").c_str(), (scene / "--list").c_str()), 0);
  ASSERT_EQ(::rename((scene / "m.kzm").c_str(), (scene / "-l").c_str()), 0);

  RunResult r = scene.Run({"--", "--list", "-l"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "now writing disc.tga\nnow writing grass.tga\n");
  EXPECT_EQ(r.err, "");
  EXPECT_THAT(scene.Files(), ElementsAre("--list", "-l", "disc.tga", "grass.tga"));

  // Options before the "--" still count.
  r = scene.Run({"-o", "out", "--", "--list", "-l"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_THAT(scene.Files("out"), ElementsAre("disc.tga", "grass.tga"));

  // Without "--", "-l" is the option and one file name is left: the usage text.
  TempDir other;
  WriteFile(other / "-l", ModelBuilder().Texture("disc.tga").Build());
  WriteFile(other / "a.mix", Scene::DefaultArchive());
  r = RunPelt({"-l", "a.mix"}, other.path());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, kUsage);
}

// --list prints one line per distinct texture: model order, first spelling, names folded
// ignoring case; the entry a normal run would leave on disk, or "missing". Nothing is written.
TEST(List, FoundMissingAndDuplicateNames) {
  const Bytes disc = Scene::Disc();
  const Bytes dxt5 = EncodeDds(Fmt::kDxt5, Picture(12, 8), /*mipmaps=*/true);
  const Bytes archive =
      MixBuilder()
          .Add("Disc.TGA", disc)
          .Add("rock.tga", "old rock")           // overwritten by rock.dds in a normal run
          .Add("rock.dds", dxt5)
          .Add("moss.dds", dxt5)                 // its conversion stays on disk...
          .Add("moss.tga", "short")              // ...since this one lies outside the archive
          .Add("bark.dds", DdsBuilder(4, 4).FourCC("ATI2").Data(Bytes(16, 0)).Build())
          .Add("unused.tga", "not referred to")
          .EntrySize(4, 1 << 30)
          .Build();
  const Bytes model = ModelBuilder()
                          .Begin()
                          .Texture("ROCK.tga")
                          .Texture("disc.tga")
                          .Begin()
                          .Texture("Rock.TGA")  // a second spelling of the first: folded
                          .Texture("gone.tga")
                          .End()
                          .Texture("moss.tga")
                          .Texture("bark.tga")
                          .Texture("DISC.TGA")
                          .End()
                          .Build();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--list", "a.mix", "m.kzm"},
        std::vector<std::string>{"-l", "-o", "out/deeper", "--strict-tga", "a.mix", "m.kzm"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    Scene scene(archive, model);
    const RunResult r = scene.Run(args);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_THAT(Lines(r.out),
                ElementsAre("ROCK.tga\trock.dds\tdds DXT5 12x8",
                            "disc.tga\tDisc.TGA\ttga " + std::to_string(disc.size()) + " bytes",
                            "gone.tga\tmissing",  //
                            "moss.tga\tmoss.dds\tdds DXT5 12x8",
                            AllOf(StartsWith("bark.tga\tbark.dds\tunusable: "), HasSubstr("ATI2"))));
    EXPECT_EQ(scene.Files(), kInputsOnly);  // not even the output directory
  }
}

TEST(List, TheSampleShowsEveryState) {
  const Sample sample = MakeSample();
  Scene scene(sample.archive, sample.model);
  const RunResult r = scene.Run({"--list", "a.mix", "m.kzm"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "Gradient.tga\tGradient.dds\tdds DXT1 64x64\n"
            "checker.tga\tchecker.dds\tdds DXT5 64x64\n"
            "stripes.tga\tstripes.dds\tdds DXT3 50x30\n"
            "disc.tga\tdisc.tga\ttga 4114 bytes\n"
            "rust.tga\tmissing\n");

  // And a normal run writes every texture it lists.
  const RunResult run = scene.Run({"a.mix", "m.kzm"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "now writing gradient.tga\nnow writing checker.tga\nnow writing stripes.tga\n"
            "now writing disc.tga\n");
}

TEST(OutputDir, EverySpellingCreatesMissingParentsAndAnnouncesBareNames) {
  struct Case {
    std::vector<std::string> args;
    const char* dir;  // relative to the scene
  };
  const Case kCases[] = {
      {{"-o", "out/a/b", "a.mix", "m.kzm"}, "out/a/b"},
      {{"-oout/a/b", "a.mix", "m.kzm"}, "out/a/b"},
      {{"--output-dir", "out/a/b", "a.mix", "m.kzm"}, "out/a/b"},
      {{"--output-dir=out/a/b", "a.mix", "m.kzm"}, "out/a/b"},
      {{"-o", "out/a/b/", "a.mix", "m.kzm"}, "out/a/b"},
      {{"-o", "out", "-o", "later", "a.mix", "m.kzm"}, "later"},  // the last one counts
      {{"-o", ".", "a.mix", "m.kzm"}, "."},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    Scene scene;
    const RunResult r = scene.Run(c.args);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "now writing disc.tga\nnow writing grass.tga\n");
    EXPECT_EQ(r.err, "");
    EXPECT_THAT(scene.Files(c.dir), ::testing::IsSupersetOf({"disc.tga", "grass.tga"}));
    if (std::string_view(c.dir) != ".") {
      EXPECT_THAT(scene.Files(c.dir), ElementsAre("disc.tga", "grass.tga"));  // no temporaries
    }
    EXPECT_EQ(ReadFile(scene / (std::string(c.dir) + "/disc.tga")), Scene::Disc());
  }

  // An absolute directory works from anywhere.
  Scene scene;
  TempDir elsewhere;
  const RunResult r = scene.Run({"-o", elsewhere / "x", "a.mix", "m.kzm"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "now writing disc.tga\nnow writing grass.tga\n");
  EXPECT_THAT(elsewhere.List("x"), ElementsAre("disc.tga", "grass.tga"));
}

TEST(OutputDir, ADirectoryThatCannotBeMadeIsReportedAndNothingWritten) {
  struct Case {
    const char* dir;
    const char* err;
  };
  const Case kCases[] = {
      {"a.mix/sub", "pelt: a.mix/sub: Not a directory\n"},        // under a regular file
      {"a.mix", "pelt: a.mix: Not a directory\n"},                // a regular file itself
      {"m.kzm/x/y", "pelt: m.kzm/x/y: Not a directory\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.dir);
    Scene scene;
    const RunResult r = scene.Run({"-o", c.dir, "a.mix", "m.kzm"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(scene.Files(), kInputsOnly);
    EXPECT_EQ(ReadFile(scene / "a.mix"), Scene::DefaultArchive());
  }
}

TEST(OutputDir, AnUnwritableDirectoryIsReportedPerFile) {
  Scene scene;
  ASSERT_EQ(::mkdir((scene / "locked").c_str(), 0555), 0);
  RunLimits limits;
  limits.obey_permissions = true;  // even for root
  const RunResult r = RunPelt({"-o", "locked", "a.mix", "m.kzm"}, scene.path(), limits);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_THAT(r.err, HasSubstr("pelt: disc.tga: "));
  EXPECT_THAT(r.err, HasSubstr("pelt: grass.tga: "));
  EXPECT_THAT(scene.Files("locked"), ::testing::IsEmpty());
}

TEST(OutputDir, UnsafeNamesStayUnwrittenThere) {
  const Bytes archive = MixBuilder()
                            .Add("../up.tga", "escapes")
                            .Add("sub/in.tga", "nested")
                            .Add("disc.tga", Scene::Disc())
                            .Build();
  const Bytes model =
      ModelBuilder().Texture("../up.tga").Texture("sub/in.tga").Texture("disc.tga").Build();
  Scene scene(archive, model);
  ASSERT_EQ(::mkdir((scene / "out").c_str(), 0755), 0);
  const RunResult r = scene.Run({"-o", "out/deep", "a.mix", "m.kzm"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, "now writing disc.tga\n");
  EXPECT_THAT(r.err, HasSubstr("pelt: ../up.tga: "));
  EXPECT_THAT(r.err, HasSubstr("pelt: sub/in.tga: "));
  EXPECT_THAT(scene.Files("out"), ElementsAre("deep"));
  EXPECT_THAT(scene.Files("out/deep"), ElementsAre("disc.tga"));
  EXPECT_THAT(scene.Files(), ElementsAre("a.mix", "m.kzm", "out"));
}

// --strict-tga changes the descriptor byte of converted images and nothing else.
TEST(StrictTga, OnlyTheDescriptorOfConvertedImagesChanges) {
  constexpr std::size_t kDescriptor = 17;
  for (Fmt f : {Fmt::kDxt1, Fmt::kDxt3, Fmt::kDxt5}) {
    SCOPED_TRACE(static_cast<int>(f));
    const Bytes archive = MixBuilder()
                              .Add("disc.tga", Scene::Disc())
                              .Add("Grass.dds", EncodeDds(f, Picture(6, 5), /*mipmaps=*/true))
                              .Build();
    Scene scene(archive, ModelBuilder().Texture("disc.tga").Texture("grass.tga").Build());
    const RunResult plain = scene.Run({"-o", "plain", "a.mix", "m.kzm"});
    const RunResult strict = scene.Run({"--strict-tga", "-o", "strict", "a.mix", "m.kzm"});
    ASSERT_EQ(plain.exit_code, 0) << plain.err;
    ASSERT_EQ(strict.exit_code, 0) << strict.err;
    EXPECT_EQ(strict.out, plain.out);

    const auto plain_tga = ReadFile(scene / "plain/grass.tga");
    auto strict_tga = ReadFile(scene / "strict/grass.tga");
    ASSERT_TRUE(plain_tga && strict_tga);
    ASSERT_EQ(plain_tga->size(), 18u + 6 * 5 * 4);
    ASSERT_EQ(strict_tga->size(), plain_tga->size());
    EXPECT_EQ((*plain_tga)[kDescriptor], 0x2F);
    EXPECT_EQ((*strict_tga)[kDescriptor], 0x28);
    (*strict_tga)[kDescriptor] = 0x2F;
    EXPECT_EQ(*strict_tga, *plain_tga);
    // A TGA entry is copied as it is, whatever its descriptor says.
    EXPECT_EQ(ReadFile(scene / "strict/disc.tga"), Scene::Disc());
  }
}

}  // namespace
}  // namespace pelt::testing
