// End-to-end runs of the built pelt, one table per outcome. Each row runs in a fresh working
// directory holding its inputs and checks the exit status, both streams and every file there
// afterwards; nothing may appear outside that directory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <csignal>
#include <filesystem>
#include <map>

#include "reference_decoder.h"
#include "testutil.h"

namespace pelt::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::StartsWith;
using Files = std::map<std::string, Bytes>;  // path in the working directory -> contents
const Bytes kDir = ToBytes("(a directory)"), kFifo = ToBytes("(a FIFO)");
#ifdef _WIN32
const std::string kF = "NUL";  // no FIFOs on Windows: a device, which is as little a file
#else
const std::string kF = "f";
#endif

Files With(Files base, const Files& more) {
  for (const auto& [name, bytes] : more) base[name] = bytes;
  return base;
}
Files Under(const std::string& dir, const Files& files) {
  Files out = {{dir, kDir}};
  for (const auto& [name, bytes] : files) out[dir + "/" + name] = bytes;
  return out;
}
Files Inputs(const MixBuilder& archive, std::initializer_list<std::string_view> textures) {
  return {{"a.mix", archive.Build()}, {"m.kzm", ModelOf(textures)}};
}

// The image pelt makes of a DDS entry: type 2, the sides, 32 bits, the descriptor, then the
// reference decoder's pixels (blue, green, red, alpha each), the top row first.
Bytes Image(const Bytes& dds, std::uint8_t descriptor = 0x2F) {
  const std::uint32_t h = LoadU32(&dds[12]), w = LoadU32(&dds[16]);
  const auto f = static_cast<Fmt>((dds[87] - '1') / 2);  // the FourCC's last character: 1, 3, 5
  Bytes b = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, descriptor};
  return Append(&b, ReferenceDecode(f, &dds[128], w, h)), Patch32(b, 12, h << 16 | w);
}
// A DXT1 block: endpoints red 0xF800 and blue 0x001F (four colours), indices 0 1 2 3 / 3 2 1 0.
const Bytes kDds = DdsBuilder(4, 4).Data({0x00, 0xF8, 0x1F, 0x00, 0xE4, 0x1B, 0x00, 0xFF}).Build();
const Bytes kImage = Image(kDds);
std::mt19937 rng;
const Bytes kTga = RandomBlocks(Fmt::kDxt1, 12501, &rng);  // any bytes: copied as they are
const Bytes kDxt5 =
    DdsBuilder(5, 7).Format(Fmt::kDxt5).Data(RandomBlocks(Fmt::kDxt5, 4, &rng)).Mipmaps().Build();
const Bytes kDxt3 = RandomDds(Fmt::kDxt3, 8, 4, &rng);
const Bytes kWide = RandomDds(Fmt::kDxt1, 65535, 9, &rng),
            kHigh = RandomDds(Fmt::kDxt1, 10, 65535, &rng);
const Bytes kBig = DdsBuilder(8192, 8192).Data(Bytes(1 << 25)).Build();
const Bytes kShortDds(kDds.begin(), kDds.end() - 9);  // 127 bytes
const Bytes kDxt2 = DdsBuilder(4, 4).FourCC(0x32545844).Data(Bytes(16)).Build();
const MixBuilder kArchive =
    MixBuilder().Add("Moss.DDS", kDds).Add("Rock.TGA", kTga).Add("x.tga", "");
const Bytes kModel = ModelOf({"rock.tga", "MOSS.tga"});
const Files kIn = {{"a.mix", kArchive.Build()}, {"m.kzm", kModel}};
const Files kMade = {{"moss.tga", kImage}, {"rock.tga", kTga}};
const std::string kWrote = "now writing moss.tga\nnow writing rock.tga\n";
// Rock.TGA in a.mix; in b.mix (its name table first), another rock.tga (a.mix is searched first)
// and Moss.DDS.
const Files kTwo = {
    {"a.mix", MixBuilder().Add("Rock.TGA", kTga).Build()},
    {"b.mix", MixBuilder().NamesBeforeIndex().Add("rock.tga", "no").Add("Moss.DDS", kDds).Build()},
    {"m.kzm", kModel}};
const std::string kRock = "rock.tga\tRock.TGA\ttga " + std::to_string(kTga.size()) + " bytes\n";
const std::string kNot = "not a plain file name; not written\n";
const std::string kShort = "DDS entry is 127 bytes, shorter than its 128-byte header";
// The usage text, printed for fewer than two file names.
const char kUsage[] =
    "pelt usage:\n"
    "pelt filename.mix filename.kzm\n"
    "pelt takes the name of a korvane mix file (*.mix, *.dat or *.pkg) and the\n"
    "name of a kzm file and extracts all textures referenced by that kzm file";
const std::vector<std::string> kRun = {"a.mix", "m.kzm"}, kRunOut = {"-o", "out", "a.mix", "m.kzm"};

struct Row {
  const char* what;
  std::vector<std::string> args;
  int exit;
  ::testing::Matcher<const std::string&> out, err;
  Files made = {};         // what the working directory holds afterwards besides the inputs
  Files in = kIn;          // written into the working directory first
  bool interrupt = false;  // send SIGINT once a temporary file has bytes in it
};

void Check(const Row& r) {
  SCOPED_TRACE(r.what);
  TempDir root;
  const std::string work = root / "work";
  fs::create_directory(work);
  for (const auto& [name, bytes] : r.in) {
    if (bytes == kDir) fs::create_directory(Path(work + "/" + name));
#ifndef _WIN32
    if (bytes == kFifo) ::mkfifo((work + "/" + name).c_str(), 0600);
#endif
    if (bytes != kDir && bytes != kFifo) WriteFile(work + "/" + name, bytes);
  }
  const auto temporary_file = [&work] {
    std::error_code gone;  // a temporary file with bytes in it: its line is printed
    for (const auto& e : fs::directory_iterator(work))
      if (e.path().filename().string().starts_with(".pelt-") && e.file_size(gone) > 0 && !gone)
        return true;
    return false;
  };
  const RunResult got =
      RunPelt(r.args, work, r.interrupt ? temporary_file : std::function<bool()>());
  EXPECT_EQ(got.exit_code, r.exit);
  EXPECT_THAT(got.out, r.out);
  EXPECT_THAT(got.err, r.err);
  Files tree, want;  // a failing row prints the first bytes of each file
  for (const auto& e : fs::recursive_directory_iterator(Path(root.path)))
    tree[Utf8(e.path().lexically_relative(Path(root.path)))] =
        e.is_regular_file() ? ReadFile(Utf8(e.path())).value()
        : e.is_directory()  ? kDir
                            : kFifo;
  for (const auto& [name, bytes] : Under("work", With(r.in, r.made)))
    if (bytes != kFifo || kF == "f") want[name] = bytes;
  EXPECT_TRUE(tree == want) << ::testing::PrintToString(tree);
}

// clang-format off
TEST(Run, CommandLine) {
  const std::string unknown = ": unknown option (see pelt --help)\n";
  const Row kRows[] = {
      {"one file name: the usage text", {"a.mix"}, 1, kUsage, ""},
      {"an unknown option", {"-x", "a.mix", "m.kzm"}, 1, "", "pelt: -x" + unknown},
      {"an unknown long option", {"--bogus", "a.mix", "m.kzm"}, 1, "", "pelt: --bogus" + unknown},
      {"an option without its argument", {"a.mix", "m.kzm", "-a"}, 1, "",
       "pelt: -a: option requires an archive (see pelt --help)\n"},
      {"an empty directory", {"-lo", "", "a.mix", "m.kzm"}, 1, "",
       "pelt: -lo: option requires a directory (see pelt --help)\n"},
      {"an empty archive name", {"--archive=", "a.mix", "m.kzm"}, 1, "",
       "pelt: --archive=: option requires an archive (see pelt --help)\n"},
      {"--help", {"--help", "-x"}, 0, StartsWith(kUsage), ""},
      {"--version", {"--version", "a.mix", "m.kzm"}, 0, "pelt " PELT_VERSION "\n", ""},
  };
  for (const Row& r : kRows) Check(r);
}

TEST(Run, Writes) {
  const Row kRows[] = {
      {"a TGA entry copied, a DXT1 entry converted, lower-case names", kRun, 0, kWrote, "", kMade},
      {"-o DIR, DIR and its parents made", {"-o", "o/p", "a.mix", "m.kzm"}, 0, kWrote, "",
       With(Under("o/p", kMade), {{"o", kDir}})},
      {"options after the file names; --strict-tga", {"a.mix", "m.kzm", "--strict-tga",
       "--output-dir=out"}, 0, kWrote, "", Under("out", With(kMade, {{"moss.tga", Image(kDds, 0x28)}}))},
      {"DXT1, DXT3, DXT5 at odd offsets; edges clipped, many bands, mipmaps ignored; 3.dds.bak "
       "written as 3.dds.tga", kRun, 0,
       "now writing 5.tga\nnow writing 3.dds.tga\nnow writing w.tga\nnow writing h.tga\n", "",
       {{"5.tga", Image(kDxt5)}, {"3.dds.tga", Image(kDxt3)}, {"w.tga", Image(kWide)},
        {"h.tga", Image(kHigh)}},
       Inputs(MixBuilder().Add("x", "odd").Add("5.dds", kDxt5).Add("3.dds.bak", kDxt3)
                  .Add("w.dds", kWide).Add("h.dds", kHigh), {"5.tga", "3.dds.tga", "w.tga", "h.tga"})},
      {"rock.tga, then rock.dds: both written, the later stays", kRun, 0,
       "now writing rock.tga\nnow writing rock.tga\n", "", {{"rock.tga", kImage}},
       Inputs(MixBuilder().Add("rock.tga", kTga).Add("rock.dds", kDds), {"rock.tga"})},
      {"several models, a name in two spellings written once", {"a.mix", "r.kzm", "s.kzm"}, 0,
       kWrote, "", kMade,
       With(kIn, {{"r.kzm", ModelOf({"rock.tga"})}, {"s.kzm", ModelOf({"ROCK.tga", "moss.tga"})}})},
      {"a model read from an entry, its name in any case; a model file wins over an entry",
       {"a.mix", "m.kzm", "inner.kzm"}, 0, kWrote, "", kMade, With(kIn, {{"a.mix",
       MixBuilder(kArchive).Add("Inner.KZM", kModel).Add("m.kzm", ModelOf({"x.tga"})).Build()}})},
      {"a non-ASCII archive and output directory", {"-o", "d\xC3\xAFr", "\xC3\xA4.mix", "m.kzm"}, 0,
       kWrote, "", Under("d\xC3\xAFr", kMade), With(kIn, {{"\xC3\xA4.mix", kIn.at("a.mix")}})},
      {"-a: a texture comes from the first archive with an entry for it",
       {"-a", "b.mix", "a.mix", "m.kzm"}, 0, "now writing rock.tga\nnow writing moss.tga\n", "",
       kMade, kTwo},
  };
  for (const Row& r : kRows) Check(r);
}

TEST(Run, Reports) {
  const std::string refusals =
      "pelt: ../x.tga: " + kNot +
      "pelt: far.tga: entry lies outside the archive (offset 1048576, size 1, archive 100415 bytes)\n"
      "pelt: dxt2.tga: unsupported format \"DXT2\"\npelt: short.tga: " + kShort +
      "\npelt: Gone.tga: not found in a.mix\n";
  const Row kRows[] = {
      {"entries refused, each before any of it is made, an old file of its name kept; a texture "
       "no archive holds reported last, first spelling, once", kRun, 2,
       "now writing rock.tga\n", refusals, {{"rock.tga", kTga}},
       With(Inputs(MixBuilder().Add("../x.tga", "x").Add("far.tga", "x").EntryOffset(1, 1 << 20)
                        .Add("dxt2.dds", kDxt2).Add("short.dds", kShortDds).Add("rock.tga", kTga),
                   {"../x.tga", "far.tga", "dxt2.tga", "short.tga", "Gone.tga", "rock.tga", "gone.TGA"}),
            {{"short.tga", ToBytes("kept")}})},
      {"the first archive with an entry supplies it, usable or not; one no archive holds",
       {"-a", "b.mix", "a.mix", "m.kzm"}, 2, "now writing moss.tga\n", "pelt: rock.tga: " + kShort +
       "\npelt: gone.tga: not found in any of the 2 archives\n", {{"moss.tga", kImage}},
       With(kTwo, {{"a.mix", MixBuilder().Add("rock.dds", kShortDds).Build()},
                   {"m.kzm", ModelOf({"rock.tga", "moss.tga", "gone.tga"})}})},
#ifdef _WIN32  // names Windows would alter, or take for a stream or a device
      {"names Windows cannot hold", kRun, 2, "now writing rock.tga\n", "pelt: c:b.tga: " + kNot +
       "pelt: b.tga.: " + kNot + "pelt: aux.tga: " + kNot + "pelt: com1.tga: " + kNot,
       {{"rock.tga", kTga}}, Inputs(MixBuilder().Add("c:b.tga", "x").Add("b.tga.", "x")
       .Add("AUX.tga", "x").Add("COM1.TGA", "x").Add("rock.tga", kTga),
       {"c:b.tga", "b.tga.", "aux.tga", "com1.tga", "rock.tga"})},
#endif
      {"a texture name cut short by the end of a model; a model that names no textures",
       {"a.mix", "m.kzm", "e.kzm"}, 2, "now writing rock.tga\n",
       "pelt: m.kzm: texture-name chunk at offset 17 is cut short by the end of the file; its "
       "name is dropped\npelt: e.kzm: names no textures\n", {{"rock.tga", kTga}},
       With(kIn, {{"m.kzm", ModelBuilder().Texture("rock.tga").Header(50, 9).Build()}, {"e.kzm", {}}})},
  };
  for (const Row& r : kRows) Check(r);
}

TEST(Run, FatalErrorsWriteNothing) {
  const Row kRows[] = {
      {"archive missing", {"-o", "o", "none", "m.kzm"}, 2, "",
       "pelt: none: No such file or directory\n"},
      {"archive a directory", {"-o", "o", "d", "m.kzm"}, 2, "", "pelt: d: Is a directory\n", {},
       With(kIn, {{"d", kDir}})},
      {"archive a FIFO: refused, not waited on", {"-o", "o", kF, "m.kzm"}, 2, "",
       StartsWith("pelt: " + kF + ": "), {}, With(kIn, {{kF, kFifo}})},
      {"archive and model swapped", {"-o", "o", "m.kzm", "a.mix"}, 2, "",
       "pelt: m.kzm: not a mix archive (no \"1XIM\" identifier; archive and model swapped?): index "
       "count 778789743 needs 9345476916 bytes, but only 21 follow the index offset\n"},
      {"a damaged archive with the identifier", kRunOut, 2, "",
       "pelt: a.mix: name table is cut short by the end of the file at name 2\n", {},
       With(kIn, {{"a.mix", Bytes(kIn.at("a.mix").begin(), kIn.at("a.mix").end() - 1)}})},
      {"model missing", {"-o", "o", "a.mix", "none"}, 2, "",
       "pelt: none: no such file, nor an entry of a.mix\n"},
      {"model missing, two archives", {"-o", "o", "-a", "a.mix", "a.mix", "none"}, 2, "",
       "pelt: none: no such file, nor an entry of any of the 2 archives\n"},
      {"output directory under a file", {"-o", "a.mix/o", "a.mix", "m.kzm"}, 2, "",
       "pelt: a.mix/o: Not a directory\n"},
#ifndef _WIN32  // Wine gives a program without a console no Ctrl-C to catch
      {"SIGINT while a 8192 x 8192 image is written: its temporary file removed", kRun, 128 + SIGINT,
       "now writing big.tga\n", "", {}, Inputs(MixBuilder().Add("big.dds", kBig), {"big.tga"}), true},
#endif
  };
  for (const Row& r : kRows) Check(r);
}

TEST(Run, List) {
  const std::string moss = "MOSS.tga\tMoss.DDS\tdds DXT1 4x4\n";
  const Row kRows[] = {
      {"-lo DIR after the file names lists, makes nothing", {"a.mix", "m.kzm", "-lo", "out"}, 0,
       kRock + moss, ""},
      {"missing and unusable textures: exit 2", {"-l", "a.mix", "m.kzm"}, 2,
       kRock + "gone.tga\tmissing\nbad.tga\tbad.dds\tunusable: unsupported format \"DXT2\"\n", "",
       {}, Inputs(MixBuilder(kArchive).Add("bad.dds", kDxt2), {"rock.tga", "gone.tga", "bad.tga"})},
      {"two archives: the archive column", {"-l", "-a", "b.mix", "a.mix", "m.kzm"}, 0,
       "rock.tga\ta.mix" + kRock.substr(8) + "MOSS.tga\tb.mix" + moss.substr(8), "", {}, kTwo},
  };
  for (const Row& r : kRows) Check(r);
}

// 40 records of one 64 x 64 DXT1 entry of 2,176 bytes would make 40 images of 16,402 bytes.
TEST(Run, ArchiveBombIsRefused) {
  const Bytes dds = DdsBuilder(64, 64).Data(Bytes(2048)).Build();
  MixBuilder bomb, plain;
  ModelBuilder model;
  Files made;
  std::string wrote;
  for (int i = 0; i < 40; ++i) {
    const std::string name = std::to_string(i);
    bomb.Add(name + ".dds", i == 0 ? dds : Bytes{}).EntryOffset(i, 16).EntrySize(i, 2176);
    plain.Add(name + ".dds", dds);
    model.Texture(name + ".tga");
    made[name + ".tga"] = Image(dds);
    wrote += "now writing " + name + ".tga\n";
  }
  const Files in = {{"a.mix", bomb.Build()}, {"m.kzm", model.Build()}};
  const std::string refused =
      "pelt: a.mix: the run would write 656080 bytes, more than 9 times the archive's size; its "
      "entries share bytes (an archive bomb?); nothing written (--no-size-limit writes anyway)\n";
  // clang-format off
  const Row kRows[] = {
      {"refused", kRunOut, 2, "", refused, {}, in},
      {"refused, an archive that supplies nothing adding nothing to the limit",
       {"-a", "b.mix", "a.mix", "m.kzm"}, 2, "", refused, {}, With(in, {{"b.mix", plain.Build()}})},
      {"--no-size-limit", {"--no-size-limit", "-o", "out", "a.mix", "m.kzm"}, 0, wrote, "",
       Under("out", made), in},
      {"40 entries of their own", kRunOut, 0, wrote, "", Under("out", made),
       With(in, {{"a.mix", plain.Build()}})},
  };
  // clang-format on
  for (const Row& r : kRows) Check(r);
}

}  // namespace
}  // namespace pelt::testing
