// End-to-end tests of the command-line options: the built pelt in a temporary directory that
// holds an archive and a model.
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dxt_encoder.h"
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
// model refers to and one it does not, which a run writes as disc.tga and grass.tga.
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

  RunResult Run(const std::vector<std::string>& args, const RunLimits& limits = {}) const {
    return RunPelt(args, dir_.path(), limits);
  }
  std::vector<std::string> Files(std::string_view sub = "") const { return dir_.List(sub); }
  std::string operator/(std::string_view name) const { return dir_ / name; }

 private:
  TempDir dir_;
};

const std::vector<std::string> kInputsOnly = {"a.mix", "m.kzm"};
const char kWritesBoth[] = "now writing disc.tga\nnow writing grass.tga\n";

// The scene holds `inputs` and either the two textures (`dir` "."), or `dir`'s first component
// with exactly the two textures in `dir`: no temporaries, no other directory.
void ExpectWritten(const Scene& scene, std::vector<std::string> inputs, const std::string& dir) {
  if (dir == ".") {
    inputs.insert(inputs.end(), {"disc.tga", "grass.tga"});
  } else {
    inputs.push_back(dir.substr(0, dir.find('/')));
    EXPECT_THAT(scene.Files(dir), ElementsAre("disc.tga", "grass.tga"));
  }
  std::sort(inputs.begin(), inputs.end());
  EXPECT_EQ(scene.Files(), inputs);
  EXPECT_EQ(ReadFile(scene / (dir + "/disc.tga")), Scene::Disc());
}

// Help, version, a bad option or fewer than two file names: the text, the exit status, nothing
// written. What follows a help or version request is not looked at; the help lists the options
// (which the manual page test checks).
TEST(CommandLine, RequestsAndMistakesWriteNothing) {
  const std::string unknown = ": unknown option (see pelt --help)\n";
  const std::string no_dir = ": option requires a directory (see pelt --help)\n";
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    ::testing::Matcher<const std::string&> out;
    std::string err;
  };
  const Case kCases[] = {
      {{"-h", "-x"}, 0, AllOf(StartsWith(kUsage), HasSubstr("--strict-tga")), ""},
      {{"-l", "-o", "out", "--help", "a.mix", "m.kzm"}, 0, StartsWith(kUsage), ""},
      {{"--version", "a.mix", "m.kzm"}, 0, "pelt " PELT_VERSION "\n", ""},
      {{"-x", "a.mix", "m.kzm"}, 1, "", "pelt: -x" + unknown},
      {{"-l", "--list=yes", "a.mix", "m.kzm"}, 1, "", "pelt: --list=yes" + unknown},
      {{"-lx", "a.mix", "m.kzm"}, 1, "", "pelt: -lx" + unknown},
      {{"-o", "out", "--output-dirx", "a.mix", "m.kzm"}, 1, "", "pelt: --output-dirx" + unknown},
      {{"--output-dir=", "a.mix", "m.kzm"}, 1, "", "pelt: --output-dir=" + no_dir},
      {{"-o"}, 1, "", "pelt: -o" + no_dir},
      {{"-l", "a.mix"}, 1, kUsage, ""},  // -l is the option here, not a file name
      {{"-o", "out", "a.mix"}, 1, kUsage, ""},
      {{"--", "a.mix"}, 1, kUsage, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    Scene scene;
    const RunResult r = scene.Run(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_THAT(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(scene.Files(), kInputsOnly);
  }

  // A standard output that cannot take the text is a failure.
#ifdef _WIN32
  GTEST_SKIP() << "no file size limit to fail a write with on Windows";
#else
  RunLimits limits;
  limits.file_size_bytes = 4;  // writes past the fourth byte fail (EFBIG)
  const RunResult r = Scene().Run({"--help"}, limits);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out.size(), 4u);
#endif
}

// Every spelling of the output directory, missing parents created, the last one counting;
// options only before the first file name or "--", what follows the two file names ignored,
// "-" alone a file name.
TEST(CommandLine, TexturesLandWhereTheOptionsSay) {
  struct Case {
    std::vector<std::string> args;
    std::string dir;
    const char* archive = "a.mix";  // the names a.mix and m.kzm are given first
    const char* model = "m.kzm";
  };
  const Case kCases[] = {
      {{"--output-dir", "x", "-oout/a/b/", "a.mix", "m.kzm"}, "out/a/b"},
      {{"-o", "y", "--output-dir=out/a/b", "a.mix", "m.kzm"}, "out/a/b"},
      {{"-o", ".", "a.mix", "m.kzm"}, "."},
      {{"a.mix", "m.kzm", "--list", "-o", "out", "-x"}, "."},
      {{"--", "--list", "-l"}, ".", "--list", "-l"},
      {{"-o", "out", "--", "--list", "-l"}, "out", "--list", "-l"},
      {{"-", "m.kzm"}, ".", "-"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    Scene scene;
    ASSERT_EQ(::rename((scene / "a.mix").c_str(), (scene / c.archive).c_str()), 0);
    ASSERT_EQ(::rename((scene / "m.kzm").c_str(), (scene / c.model).c_str()), 0);
    const std::vector<std::string> inputs = scene.Files();
    const RunResult r = scene.Run(c.args);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, kWritesBoth);
    EXPECT_EQ(r.err, "");
    ExpectWritten(scene, inputs, c.dir);
  }

  // An absolute directory works from anywhere.
  TempDir elsewhere;
  const RunResult r = Scene().Run({"-o", elsewhere / "x", "a.mix", "m.kzm"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, kWritesBoth);
  EXPECT_THAT(elsewhere.List("x"), ElementsAre("disc.tga", "grass.tga"));
}

#ifdef _WIN32
// Windows passes the command line and paths as UTF-16: non-ASCII paths reach their files.
TEST(CommandLine, NonAsciiPathsOnWindows) {
  Scene scene;
  WriteFile(scene / "ärchiv.mix", Scene::DefaultArchive());
  const RunResult r = scene.Run({"-o", "dïr/ünter", "ärchiv.mix", "m.kzm"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, kWritesBoth);
  EXPECT_EQ(ReadFile(scene / "dïr/ünter/disc.tga"), Scene::Disc());
}
#endif

// --list prints one line per distinct texture: model order, first spelling, names folded
// ignoring case; the entry a normal run would leave on disk, or "missing". Nothing is written.
TEST(List, FoundMissingAndDuplicateNames) {
  const Bytes disc = Scene::Disc();
  const Bytes archive =
      MixBuilder()
          .Add("Disc.TGA", disc)
          .Add("rock.tga", "old rock")  // overwritten by rock.dds in a normal run
          .Add("rock.dds", EncodeDds(Fmt::kDxt5, Picture(12, 8), /*mipmaps=*/true))
          .Add("leaf.dds", EncodeDds(Fmt::kDxt1, Picture(4, 4)))
          .Add("moss.dds", EncodeDds(Fmt::kDxt3, Picture(10, 6)))  // its conversion stays...
          .Add("moss.tga", "short")  // ...since this one lies outside the archive
          .Add("bark.dds", DdsBuilder(4, 4).FourCC("ATI2").Data(Bytes(16, 0)).Build())
          .Add("unused.tga", "not referred to")
          .EntrySize(5, 1 << 30)
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
                          .Texture("leaf.tga")
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
                            "moss.tga\tmoss.dds\tdds DXT3 10x6",
                            AllOf(StartsWith("bark.tga\tbark.dds\tunusable: "), HasSubstr("ATI2")),
                            "leaf.tga\tleaf.dds\tdds DXT1 4x4"));
    EXPECT_EQ(scene.Files(), kInputsOnly);  // not even the output directory
  }
}

TEST(OutputDir, AnUnusableDirectoryIsReportedAndNothingWritten) {
  for (const char* dir : {"a.mix/sub", "a.mix"}) {  // under a regular file; one itself
    SCOPED_TRACE(dir);
    Scene scene;
    const RunResult r = scene.Run({"-o", dir, "a.mix", "m.kzm"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "pelt: " + std::string(dir) + ": Not a directory\n");
    EXPECT_EQ(scene.Files(), kInputsOnly);
    EXPECT_EQ(ReadFile(scene / "a.mix"), Scene::DefaultArchive());
  }

  // A directory that exists but cannot be written: one report per file.
#ifdef _WIN32
  GTEST_SKIP() << "no permission bits to make a directory unwritable with on Windows";
#else
  Scene scene;
  ASSERT_EQ(::mkdir((scene / "locked").c_str(), 0555), 0);
  RunLimits limits;
  limits.obey_permissions = true;  // even for root
  const RunResult r = scene.Run({"-o", "locked", "a.mix", "m.kzm"}, limits);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_THAT(r.err, AllOf(HasSubstr("pelt: disc.tga: "), HasSubstr("pelt: grass.tga: ")));
  EXPECT_THAT(scene.Files("locked"), ::testing::IsEmpty());
#endif
}

// --strict-tga changes the descriptor byte of converted images and nothing else; a TGA entry is
// copied as it is, whatever its descriptor says.
TEST(StrictTga, OnlyTheDescriptorOfConvertedImagesChanges) {
  constexpr std::size_t kDescriptor = 17;
  const Bytes archive = MixBuilder()
                            .Add("disc.tga", Scene::Disc())
                            .Add("Grass.dds", EncodeDds(Fmt::kDxt5, Picture(6, 5), true))
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
  EXPECT_EQ(ReadFile(scene / "strict/disc.tga"), Scene::Disc());
}

}  // namespace
}  // namespace pelt::testing
