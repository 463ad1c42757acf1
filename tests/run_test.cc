// End-to-end runs of the built pelt, one table per outcome. Each row runs in a fresh working
// directory holding its inputs and checks the exit status, both streams and every file there
// afterwards; nothing may appear outside that directory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#ifndef _WIN32
#include <sys/stat.h>
#endif
#include <filesystem>
#include <map>

#include "convert.h"
#include "reference_decoder.h"
#include "testutil.h"
#include "tga_reader.h"

namespace pelt::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::StartsWith;
using Files = std::map<std::string, Bytes>;  // path in the working directory -> contents
const Bytes kDir = ToBytes("(a directory)");

Files With(Files base, const Files& more) {
  for (const auto& [name, bytes] : more) base[name] = bytes;
  return base;
}

Files Under(const std::string& dir, const Files& files) {
  Files out = {{dir, kDir}};
  for (const auto& [name, bytes] : files) out[dir + "/" + name] = bytes;
  return out;
}

// The PNG file of a whole DDS or TGA entry, made by the library's conversion, which the PNG tests
// check: these rows check what the run does with it.
Bytes PngOf(const Bytes& e) {
  const MemorySource source(e);
  MemorySink sink;
  if (e[0] == 'D') {
    EXPECT_TRUE(ConvertDdsToPng(source, 0, *CheckDdsEntry(e, e.size()), &sink).ok());
  } else {
    EXPECT_TRUE(
        ConvertTgaToPng(source, 0, e.size(), *CheckTgaEntry(source, 0, e.size()), &sink).ok());
  }
  return sink.bytes;
}

// a.mix and a model m.kzm naming `textures`.
Files Inputs(const MixBuilder& archive, std::initializer_list<std::string_view> textures) {
  return {{"a.mix", archive.Build()}, {"m.kzm", ModelOf(textures)}};
}

// A DXT1 block: endpoints red 0xF800 and blue 0x001F (four colours), indices 0 1 2 3 / 3 2 1 0.
const Bytes kDds = DdsBuilder(4, 4).Data({0x00, 0xF8, 0x1F, 0x00, 0xE4, 0x1B, 0x00, 0xFF}).Build();
const Bytes kTga = ToBytes(std::string(50001, 'T'));  // any bytes: copied as they are
const Bytes kShortDds(kDds.begin(), kDds.end() - 9);  // 127 bytes
const MixBuilder kArchive =
    MixBuilder().Add("Moss.DDS", kDds).Add("Rock.TGA", kTga).Add("x.tga", "");
const Bytes kModel = ModelOf({"rock.tga", "MOSS.tga"});
const Files kIn = {{"a.mix", kArchive.Build()}, {"m.kzm", kModel}};
const Files kMade = {{"moss.tga", ReferenceTga(kDds)}, {"rock.tga", kTga}};
const std::string kWrote = "now writing moss.tga\nnow writing rock.tga\n";
// Rock.TGA in a.mix; in b.mix (its name table first), another rock.tga, stored with a byte after
// its NUL (a.mix is searched first), and Moss.DDS.
const Files kTwo = {{"a.mix", MixBuilder().Add("Rock.TGA", kTga).Build()},
                    {"b.mix", MixBuilder()
                                  .AddRawName(ToBytes({"rock.tga\0x", 10}), ToBytes("no"))
                                  .Add("Moss.DDS", kDds)
                                  .Build(true)},
                    {"m.kzm", kModel}};
const std::string kShort = "DDS entry is 127 bytes, shorter than its 128-byte header";
const std::vector<std::string> kRun = {"a.mix", "m.kzm"};

struct Case {
  const char* what;
  std::vector<std::string> args;
  int exit;
  ::testing::Matcher<const std::string&> out, err;
  Files made = {};               // what the working directory holds afterwards besides the inputs
  Files in = kIn;                // written into the working directory first
  bool interrupt = false;        // send SIGINT once a temporary file has bytes in it
  std::uint64_t file_limit = 0;  // no file may grow past this many bytes (0: no limit)
};

void MakeInputs(const std::string& work, const Files& in) {
  for (const auto& [name, bytes] : in) {
    if (bytes == kDir) {
      fs::create_directory(Path(work + "/" + name));
    } else {
      WriteFile(work + "/" + name, bytes);
    }
  }
}

// Whether `dir` holds a temporary file with bytes in it: its "now writing" line is printed.
bool HasTemporaryFile(const std::string& dir) {
  std::error_code gone;
  for (const auto& e : fs::directory_iterator(Path(dir))) {
    const bool temporary = e.path().filename().string().starts_with(".pelt-");
    if (temporary && e.file_size(gone) > 0 && !gone) return true;
  }
  return false;
}

// Every file and directory under `root`, by path relative to it. On Linux every file, pelt's as
// the inputs, has the mode a new file gets: 0666 less the umask.
Files Tree(const std::string& root) {
  Files tree;
  for (const auto& e : fs::recursive_directory_iterator(Path(root))) {
    const std::string path = Utf8(e.path().lexically_relative(Path(root)));
#ifndef _WIN32
    const mode_t umask = ::umask(0);
    ::umask(umask);
    const auto mode = static_cast<fs::perms>(0666 & ~umask);
    EXPECT_TRUE(e.is_directory() || e.status().permissions() == mode) << path;
#endif
    tree[path] = e.is_directory() ? kDir : ReadFile(Utf8(e.path())).value();
  }
  return tree;
}

// Runs the case with one job and with four: everything a user sees is the same.
void Check(const Case& c) {
#ifdef __SANITIZE_THREAD__
  // ThreadSanitizer holds a signal back until its own safe points: an interrupted run may finish.
  if (c.interrupt) return;
#endif
  for (const char* jobs : {"-j1", "-j4"}) {
    SCOPED_TRACE(std::string(c.what) + " " + jobs);
    TempDir root;
    const std::string work = root / "work";
    fs::create_directory(Path(work));
    MakeInputs(work, c.in);
    std::function<bool()> interrupt_when;
    if (c.interrupt) interrupt_when = [&work] { return HasTemporaryFile(work); };
    std::vector<std::string> args = {jobs};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult got = RunPelt(args, work, interrupt_when, c.file_limit);
    EXPECT_EQ(got.exit_code, c.exit);
    EXPECT_THAT(got.out, c.out);
    EXPECT_THAT(got.err, c.err);
    const Files tree = Tree(root.path);
    EXPECT_TRUE(tree == Under("work", With(c.in, c.made)))
        << ::testing::PrintToString(tree);  // the first bytes of each file
  }
}

TEST(Run, Writes) {
  const Files strict = With(kMade, {{"moss.tga", ReferenceTga(kDds, 0x28)}});
  const Files patterns = {
      {"a.mix", MixBuilder(kArchive)
                    .Add("IN.kzm", ModelOf({"x.tga"}))
                    .Add("In.kzm", ModelOf({"rock.tga"}))
                    .Build()},
      {"b.mix", MixBuilder().Add("in.KZM", ModelOf({"x.tga"})).Add("two.kzm", kModel).Build()},
      {"m.kzm", ModelOf({"x.tga"})}};
  const Bytes tga = TgaEntry{.width = 2, .height = 2, .data = Bytes(12, 7)}.Build();
  const Files png =
      Inputs(MixBuilder().Add("Moss.DDS", kDds).Add("Rock.TGA", tga), {"rock.tga", "MOSS.tga"});
  const Files raw =
      Inputs(MixBuilder(kArchive).Add("Bad.DDS", kShortDds), {"rock.tga", "MOSS.tga", "bad.tga"});
  // clang-format off
  const Case kCases[] = {
      {"options last, -o DIR/SUB, non-ASCII",
       {"\xC3\xA4.mix", "m.kzm", "--strict-tga", "--output-dir=d\xC3\xAFr/p"}, 0, kWrote, "",
       With(Under("d\xC3\xAFr/p", strict), {{"d\xC3\xAFr", kDir}}),
       With(kIn, {{"\xC3\xA4.mix", kIn.at("a.mix")}})},
      {"a pattern, not the disk's files", {"-a", "b.mix", "a.mix", "*.KZ?"}, 0, kWrote, "",
       kMade, patterns},
      {"--png: DDS and TGA entries", {"--png", "a.mix", "m.kzm"}, 0,
       "now writing moss.png\nnow writing rock.png\n", "",
       {{"moss.png", PngOf(kDds)}, {"rock.png", PngOf(tga)}}, png},
      {"--raw -q",
       {"--raw", "-q", "a.mix", "m.kzm"}, 0, "", "",
       {{"moss.dds", kDds}, {"rock.tga", kTga}, {"bad.dds", kShortDds}}, raw},
  };
  // clang-format on
  for (const Case& c : kCases) Check(c);
}

TEST(Run, Reports) {
  const Bytes cut = ModelBuilder().Texture("rock.tga").Header(50, 9).Build();
  const MixBuilder refused =
      MixBuilder().Add("../x.tga", "x").Add("short.dds", kShortDds).Add("rock.tga", kTga);
  // clang-format off
  const Case kCases[] = {
      {"refusals; an old file kept",
       kRun, 2, "now writing rock.tga\n",
       "pelt: ../x.tga: holds a path separator; not written\npelt: short.tga: " + kShort + "\n",
       {{"rock.tga", kTga}},
       With(Inputs(refused, {"../x.tga", "short.tga", "rock.tga"}), {{"short.tga", ToBytes("kept")}})},
      {"not found: last, once",
       {"-a", "b.mix", "a.mix", "m.kzm"}, 2, "now writing rock.tga\n",
       "pelt: Gone.tga: not found in any of the 2 archives\n", {{"rock.tga", kTga}},
       With(kTwo, {{"m.kzm", ModelOf({"Gone.tga", "rock.tga", "gone.TGA"})}})},
      {"-x: everything, an unusable entry among good ones",
       {"-x", "*", "-o", "o", "a.mix"}, 2,
       "now writing moss.tga\nnow writing rock.tga\nnow writing x.tga\nnow writing m.kzm\n",
       "pelt: bad.tga: " + kShort + "\n",
       Under("o", With(kMade, {{"x.tga", {}}, {"m.kzm", kModel}})),
       Inputs(MixBuilder(kArchive).Add("bad.dds", kShortDds).Add("M.kzm", kModel), {})},
      {"a name cut short; no names",
       {"a.mix", "m.kzm", "e.kzm"}, 2, "now writing rock.tga\n",
       "pelt: m.kzm: texture-name chunk at offset 17 is cut short by the end of the file; its "
       "name is dropped\npelt: e.kzm: names no textures\n",
       {{"rock.tga", kTga}}, With(kIn, {{"m.kzm", cut}, {"e.kzm", {}}})},
  };
  // clang-format on
  for (const Case& c : kCases) Check(c);
}

TEST(Run, FatalErrorsWriteNothing) {
#ifndef _WIN32
  const Bytes big = DdsBuilder(8192, 8192).Data(Bytes(1 << 25)).Build();
  const auto n = static_cast<std::int32_t>(big.size());  // three records of its bytes
#endif
  // clang-format off
  const Case kCases[] = {
      {"archive a directory", {"-o", "o", "d", "m.kzm"}, 2, "", StartsWith("pelt: d: "), {},
       With(kIn, {{"d", kDir}})},
      {"a pattern matching nothing", {"-o", "o", "a.mix", "*.kzm"}, 2, "",
       "pelt: *.kzm: matches no entry of a.mix\n"},
      {"-x: a pattern matching nothing", {"-x", "*.dds", "-x", "none", "a.mix"}, 2, "",
       "pelt: none: matches no entry of a.mix\n"},
      {"model a directory", {"-o", "o", "a.mix", "d"}, 2, "", "pelt: d: Is a directory\n", {},
       With(kIn, {{"d", kDir}})},
      {"model missing", {"-o", "o", "a.mix", "none"}, 2, "",
       "pelt: none: no such file, nor an entry of a.mix\n"},
      {"output directory under a file", {"-o", "a.mix/o", "a.mix", "m.kzm"}, 2, "",
       "pelt: a.mix/o: Not a directory\n"},
#ifndef _WIN32  // Wine gives a program without a console no Ctrl-C to catch
      {"an output directory that takes no file: once", {"-o", "/proc", "a.mix", "m.kzm"}, 2, "",
       "pelt: /proc: cannot create files in it: No such file or directory\n"},
      {"SIGINT: every temporary file removed", {"--no-size-limit", "a.mix", "m.kzm"},
       128 + SIGINT, StartsWith("now writing big.tga\n"), "", {},
       Inputs(MixBuilder().Add("big.dds", big).Add("b.dds", "").Place(16, n).Add("c.dds", "").Place(16, n), {"big.tga", "b.tga", "c.tga"}), true},
      {"files larger than the system allows, written and copied: removed", kRun, 2,
       "now writing big.tga\nnow writing rock.tga\n",
       "pelt: big.tga: File too large\npelt: rock.tga: File too large\n", {},
       Inputs(MixBuilder().Add("big.dds", DdsBuilder(64, 64).Data(Bytes(2048)).Build()).Add("rock.tga", kTga), {"big.tga", "rock.tga"}), false, 10000},
#endif
  };
  // clang-format on
  for (const Case& c : kCases) Check(c);
}

TEST(Run, List) {
  const Files bad =
      Inputs(MixBuilder(kArchive).Add("bad.dds", kShortDds), {"rock.tga", "gone.tga", "bad.tga"});
  // clang-format off
  const Case kCases[] = {
      {"all found", {"-l", "a.mix", "m.kzm"}, 0,
       "rock.tga\tRock.TGA\ttga 50001 bytes\nMOSS.tga\tMoss.DDS\tdds DXT1 4x4\n", ""},
      {"missing and unusable", {"-l", "a.mix", "m.kzm"}, 2,
       "rock.tga\tRock.TGA\ttga 50001 bytes\ngone.tga\tmissing\nbad.tga\tbad.dds\tunusable: " + kShort + "\n", "", {}, bad},
      {"--png: a TGA entry that cannot be converted", {"-l", "--png", "a.mix", "m.kzm"}, 2,
       "rock.tga\tRock.TGA\tunusable: unsupported TGA image type 84\nMOSS.tga\tMoss.DDS\tdds DXT1 4x4\n",
       ""},
      {"-t, two archives and one unreadable", {"-t", "a.mix", "none", "-a", "b.mix"}, 2,
       "a.mix\tRock.TGA\ttga 50001 bytes\nb.mix\trock.tga\ttga 2 bytes\nb.mix\tMoss.DDS\tdds DXT1 4x4\n",
       StartsWith("pelt: none: "), {}, kTwo},
      {"-t, one archive", {"-t", "a.mix"}, 0, "Moss.DDS\tdds DXT1 4x4\nRock.TGA\ttga 50001 bytes\nx.tga\ttga 0 bytes\n", ""},
      {"-l -x", {"-l", "-x", "*.tga", "a.mix", "-a", "b.mix"}, 0,
       "rock.tga\ta.mix\tRock.TGA\ttga 50001 bytes\n", "", {}, kTwo},
  };
  // clang-format on
  for (const Case& c : kCases) Check(c);
}

// Many entries, small and large (a PNG file of several bands), one refused: the same lines, files
// and exit status whatever the jobs.
TEST(Run, ManyEntriesTheSameWhateverTheJobs) {
  MixBuilder mix;
  std::mt19937 rng(3);
  for (std::uint32_t i = 0; i < 20; ++i)
    mix.Add(std::to_string(i) + ".dds", RandomDds(Fmt::kDxt5, 4 << i % 9, 1 + i * 50, &rng));
  const Files in = {{"a.mix", mix.Add("bad.dds", kShortDds).Build()}};
  for (const char* png : {"--png", "--strict-tga"}) {
    std::optional<std::pair<std::string, Files>> first;
    for (const char* jobs : {"-j1", "-j2", "-j8"}) {
      TempDir root;
      MakeInputs(root.path, in);
      const RunResult got = RunPelt({jobs, png, "-x", "*", "a.mix"}, root.path);
      const auto seen =
          std::pair(std::to_string(got.exit_code) + got.out + got.err, Tree(root.path));
      if (!first) first = seen;
      EXPECT_EQ(seen.first, first->first) << jobs;
      EXPECT_TRUE(seen.second == first->second) << png << " " << jobs;
    }
  }
}

#ifdef __linux__
// An archive on another file system than the output (a memory one, where there is one): the
// kernel copies nothing between the two, so pelt reads and writes the bytes itself.
TEST(Run, CopiesAcrossFileSystems) {
  if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm";
  TempDir root;
  const std::string shm = "/dev/shm/" + Path(root.path).filename().string();
  fs::create_directory(shm);
  WriteFile(shm + "/a.mix", kArchive.Build());
  const RunResult got = RunPelt({"-x", "*", shm + "/a.mix"}, root.path);
  fs::remove_all(shm);
  EXPECT_EQ(got.exit_code, 0) << got.err;
  EXPECT_EQ(ReadFile(root.path + "/rock.tga"), kTga);
}
#endif

// Two records of one 64 x 64 DXT1 entry of 2,176 bytes would make two images of 16,402 bytes.
TEST(Run, ArchiveBombIsRefused) {
  const Bytes dds = DdsBuilder(64, 64).Data(Bytes(2048)).Build();
  const Files in =
      Inputs(MixBuilder().Add("a.dds", dds).Add("b.dds", "").Place(16, 2176), {"a.tga", "b.tga"});
  const Files made = {{"a.tga", ReferenceTga(dds)}, {"b.tga", ReferenceTga(dds)}};
  // clang-format off
  const Case kCases[] = {
      {"refused", {"-o", "out", "a.mix", "m.kzm"}, 2, "",
       "pelt: a.mix: the run would write 32804 bytes, more than 9 times the archive's size; its "
       "entries share bytes (an archive bomb?); nothing written (--no-size-limit writes anyway)\n",
       {}, in},
      {"--no-size-limit", {"--no-size-limit", "-o", "out", "a.mix", "m.kzm"}, 0,
       "now writing a.tga\nnow writing b.tga\n", "", Under("out", made), in},
  };
  // clang-format on
  for (const Case& c : kCases) Check(c);
}

}  // namespace
}  // namespace pelt::testing
