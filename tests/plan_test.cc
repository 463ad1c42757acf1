// The logic of a run that needs no files: the command line, which names may be created, the plan
// over archives in memory, and the conversion of DDS entries into a sink, as TGA and as PNG.
#include "plan.h"

#include <gtest/gtest.h>

#include <random>

#include "convert.h"
#include "dds.h"
#include "names.h"
#include "pelt.h"
#include "png_writer.h"
#include "progress.h"
#include "reference_decoder.h"
#include "testutil.h"

namespace pelt::testing {
namespace {

// What was written to `f`, a std::tmpfile(), which it closes.
std::string Drain(std::FILE* f) {
  std::rewind(f);
  std::string s;
  for (int ch = std::fgetc(f); ch != EOF; ch = std::fgetc(f)) s += static_cast<char>(ch);
  std::fclose(f);
  return s;
}

// pelt's Main in process, on arguments that make it read no file, its streams caught in files.
TEST(Main, CommandLine) {
  struct Case {
    std::vector<std::string_view> args;
    int exit;
    std::string out, err;
  };
  const std::string unknown = ": unknown option (see pelt --help)\n";
  const char* const usage =
      "pelt usage:\n"
      "pelt filename.mix filename.kzm\n"
      "pelt takes the name of a korvane mix file (*.mix, *.dat or *.pkg) and the\n"
      "name of a kzm file and extracts all textures referenced by that kzm file\n"
      "Run 'pelt --help' for the options, and 'pelt -t ARCHIVE' to see what an archive holds.\n";
  // clang-format off
  const Case kCases[] = {
      {{"-t"}, 1, usage, ""},
      {{"a"}, 1, usage, ""},  // no model
      {{"-x", "*"}, 1, usage, ""},  // no archive
      {{"-tx*", "a"}, 1, "", "pelt: -x: cannot be combined with -t (see pelt --help)\n"},
      {{"-j64", "-j", "65", "a", "m"}, 1, "", "pelt: -j: option requires a number of jobs from 1 to 64 (see pelt --help)\n"},
      {{"--version=3", "a", "m"}, 1, "", "pelt: --version=3" + unknown},  // takes no argument
      {{"--bogus", "a", "m"}, 1, "", "pelt: --bogus" + unknown},
      {{"a", "m", "-a"}, 1, "", "pelt: -a: option requires an archive (see pelt --help)\n"},
      {{"a", "m", "--output-dir"}, 1, "", "pelt: --output-dir: option requires a directory (see pelt --help)\n"},
      {{"--archive=", "a", "m"}, 1, "", "pelt: --archive=: option requires an archive (see pelt --help)\n"},
      {{"-o", "", "a", "m"}, 1, "", "pelt: -o: option requires a directory (see pelt --help)\n"},
  };
  // clang-format on
  for (const Case& c : kCases) {
    std::FILE* const out = std::tmpfile();
    std::FILE* const err = std::tmpfile();
    EXPECT_EQ(Main(c.args, out, err), c.exit) << c.err;
    EXPECT_EQ(Drain(out), c.out);
    EXPECT_EQ(Drain(err), c.err);
  }
}

// Drawn at the start, then no sooner than 100 ms after; erased around a report and at the end.
TEST(ProgressLine, RedrawnTenTimesASecondAtMostAndErased) {
  Plan plan;
  plan.writes.resize(3);
  plan.writes[0].refusal = Status::Invalid("");
  plan.write_bytes = 3 << 20;
  std::FILE* const err = std::tmpfile();
  ProgressLine line(err);
  const ProgressLine::Clock::time_point t;
  using namespace std::chrono_literals;
  line.Start(plan, t);
  line.Add(1 << 20, t + 99ms);
  line.Hide();
  line.Show();
  line.Add(1 << 19, t + 100ms);
  line.Stop();
  const std::string e = "\r                            \r";  // 28 spaces
  EXPECT_EQ(Drain(err), "\rpelt: 0/2 files, 0.0/3.0 MiB" + e + "\rpelt: 1/2 files, 1.0/3.0 MiB" +
                            "\rpelt: 2/2 files, 1.5/3.0 MiB" + e);
}

TEST(Names, PlainFileNames) {
  struct Case {
    const char* name;
    bool posix;
    const char* windows;  // why not, or nullptr
  };
  const char* const kDevice = "is a device name on Windows";
  const char* const kEnd = "ends with a dot or a space";
  const char* const kForbidden = "holds a character Windows does not allow in names";
  // clang-format off
  const Case kCases[] = {
      {"rock.tga", true, nullptr}, {"", false, "is empty"}, {"..", false, "is . or .."},
      {"a/b", false, "holds a path separator"}, {"a\\b", false, "holds a path separator"},
      {"a\x1F", false, "holds a control character"}, {"c:b.tga", true, kForbidden},
      {"<a>|\"*?", true, kForbidden}, {"b.tga ", true, kEnd}, {"AUX.tga", true, kDevice},
      {"con .x", true, kDevice}, {"ConOut$", true, kDevice}, {"b.", true, kEnd},
      {"com1.tga", true, kDevice}, {"LPT9", true, kDevice}, {"comA", true, nullptr},
  };
  // clang-format on
  for (const Case& c : kCases) {
    EXPECT_EQ(WhyNotPlainFileName(c.name, NameRules::kPosix) == nullptr, c.posix) << c.name;
    const char* const why = WhyNotPlainFileName(c.name, NameRules::kWindows);
    EXPECT_STREQ(why, c.windows) << c.name;
  }
}

TEST(Names, Patterns) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  const Case kCases[] = {
      {"*.kzm", "Units/A.KZM", true},
      {"*.kzm", "a.kzm.bak", false},
      {"a?c", "abc", true},
      {"*a*b", "aXab", true},
      {"*", "", true},
      {"[a-c]x", "Bx", true},
      {"[!a-c]x", "dx", true},
      {"[]a]", "]", true},
      {"[a", "[a", true},
      {"[a-", "[a-", true},
      {"[a-]", "-", true},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(MatchesPattern(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
}

// A 4 x 4 DXT1 entry of 136 bytes: its image is 82 bytes.
const Bytes kDds = DdsBuilder(4, 4).Data(Bytes(8)).Build();
const Bytes kShortDds(kDds.begin(), kDds.end() - 9);  // 127 bytes

// Archives read from memory, as a run holds them.
struct Archives {
  explicit Archives(const std::vector<MixBuilder>& mixes) {
    for (const MixBuilder& m : mixes) bytes.push_back(m.Build());
    for (const Bytes& b : bytes) sources.emplace_back(b);
    for (const MemorySource& source : sources)
      archives.push_back({"", &source, ParseMixDirectory(source).value()});
  }
  std::vector<Bytes> bytes;
  std::vector<MemorySource> sources;
  std::vector<Archive> archives;
};

// One entry of each kind; a name that holds ".dds" anywhere is a DDS entry, as in a run. d.kzm
// holds its names 100000 containers deep, one in a container of the texture-name type, beside a
// payload skipped and an empty texture-name chunk, which names nothing; e.KZM is read in several
// windows, a name of 70000 bytes, then another. The empty entry after it has the longest name an
// archive holds.
TEST(Plan, DescribeEntry) {
  ModelBuilder d;  // the walk is flat: containers cost no stack
  for (int i = 0; i < 100000; ++i) d.Begin();
  d.Texture("a.tga").Chunk(7, Bytes(5)).Begin(50).Texture("b.tga").End().Chunk(50, {});
  d.Texture("A.TGA");
  const Archives a(
      {MixBuilder()
           .Add("a.DDS.bak", kDds)
           .Add("b.dds", kShortDds)
           .Add("c.Tga", "tga")
           .Add("d.kzm", d.Build())
           .Add("e.KZM", ModelBuilder().Texture(std::string(70000, 'n')).Texture("x").Build())
           .Add(std::string(254, 'r'), "")
           .Add("f.dds", "")
           .Place(1 << 20, 0)});
  std::string got;
  for (std::size_t i = 0; i < 7; ++i) got += DescribeEntry(a.archives[0], i) + "\n";
  EXPECT_EQ(
      got,
      "dds DXT1 4x4\nunusable: DDS entry is 127 bytes, shorter than its 128-byte header\n"
      "tga 3 bytes\nkzm model, 2 textures\nkzm model, 2 textures\n0 bytes\n"
      "unusable: entry lies outside the archive (offset 1048576, size 0, archive 870766 bytes)\n");
}

// A later write of a texture's name replaces an earlier one on disk; a refused write replaces
// nothing. The plan's outcome for each texture says which write is left. Only archives that
// supply a texture count towards the size limit.
TEST(Plan, TheLastWriteNotRefusedIsTheOutcome) {
  const Archives a({MixBuilder()
                        .Add("rock.tga", "x")
                        .Add("rock.dds", kShortDds)
                        .Add("moss.dds", kDds)
                        .Add("Moss.tga", "y"),
                    MixBuilder().Add("unused.tga", "z").Add("Unused.TGA", "w")});
  const Plan plan = MakePlan(a.archives, std::vector<std::string>{"rock.tga", "moss.tga"});
  ASSERT_EQ(plan.writes.size(), 4u);
  EXPECT_FALSE(plan.writes[1].refusal.ok());
  EXPECT_EQ(plan.textures[0].outcome, 0u);
  EXPECT_EQ(plan.textures[1].outcome, 3u);
  EXPECT_EQ(plan.write_bytes, 84u);  // 1 + 82 + 1: a refused write counts for nothing
  EXPECT_EQ(plan.supplying, std::vector<std::size_t>{0});
  EXPECT_EQ(FindEntry(a.archives, "UNUSED.tga")->entry, 1u);  // the last entry of a name
}

// -x: the entries that match, each file once, the one a model run would leave on disk; the same
// name in a later archive, a refused entry, and --raw naming a DDS entry's file apart.
TEST(Plan, ExtractWritesEachMatchOnce) {
  const Archives a({MixBuilder()
                        .Add("Rock.dds", kDds)
                        .Add("rock.TGA", "tga")
                        .Add("Bad.dds", kShortDds)
                        .Add("Read.me", "hi"),
                    MixBuilder().Add("ROCK.tga", "").Add("b.dds", kDds)});
  struct Case {
    std::vector<std::string> patterns;
    bool raw;
    std::string writes;  // name@archive.entry, or name! when refused; then the bytes written
  };
  const Case kCases[] = {
      {{"*"}, false, "rock.tga@0.1 bad.tga! read.me@0.3 b.tga@1.1 87"},
      {{"rock.DDS"}, false, "rock.tga@0.0 82"},
      {{"*.tga"}, false, "rock.tga@0.1 3"},
      {{"ROCK.*"}, true, "rock.dds@0.0 rock.tga@0.1 139"},
      {{"b.*", "read*"}, false, "read.me@0.3 b.tga@1.1 84"},
  };
  for (const Case& c : kCases) {
    const Plan plan = MakeExtractPlan(a.archives, c.patterns, {c.raw, false});
    std::string got;
    for (const PlannedWrite& w : plan.writes) {
      got.append(w.name).append(w.refusal.ok() ? "@" : "! ");
      if (w.refusal.ok())
        got.append(std::to_string(w.archive) + "." + std::to_string(w.entry) + " ");
    }
    EXPECT_EQ(got + std::to_string(plan.write_bytes), c.writes);
  }
}

// DXT1, DXT3 and DXT5 entries at odd offsets of their archive, their edges clipped, in one band
// or many, with mipmaps after the top level, converted as the reference decodes them: to TGA, and
// to PNG as RGB when every pixel is opaque (DXT1 blocks made four-colour), RGBA otherwise.
TEST(ConvertDds, AsTheReferenceDecodes) {
  struct Case {
    Fmt format;
    std::uint32_t width, height;
    std::size_t offset;
  };
  const Case kCases[] = {
      {Fmt::kDxt5, 5, 7, 3},       // the right edge and the bottom clipped
      {Fmt::kDxt3, 65535, 9, 7},   // many bands of one row of blocks
      {Fmt::kDxt1, 10, 65535, 2},  // many bands, the last one partial; opaque
  };
  std::mt19937 rng(5);
  for (const Case& c : kCases) {
    SCOPED_TRACE(FormatName(c.format));
    Bytes blocks = RandomBlocks(c.format, BlocksFor(c.width, c.height), &rng);
    for (std::size_t at = 0; c.format == Fmt::kDxt1 && at < blocks.size(); at += 8) {
      blocks[at + 1] |= 0x80;  // colour 0 above colour 1
      blocks[at + 3] &= 0x7F;
    }
    const Bytes entry =
        DdsBuilder(c.width, c.height).Format(c.format).Data(blocks).Mipmaps().Build();
    Bytes archive(c.offset, 0xEE);
    Append(&archive, entry);
    const auto s = CheckDdsEntry(entry, entry.size());
    ASSERT_TRUE(s.ok());
    MemorySink tga;
    ASSERT_TRUE(ConvertDdsToTga(MemorySource(archive), c.offset, *s, 0x2F, &tga).ok());
    EXPECT_TRUE(tga.bytes == ReferenceTga(entry));
    MemorySink png;
    ASSERT_TRUE(ConvertDdsToPng(MemorySource(archive), c.offset, *s, &png).ok());
    EXPECT_LE(png.bytes.size(), PngSizeBound(c.width, c.height, 4));
    Bytes want;  // the TGA's pixels, blue, green, red, alpha, as RGB or RGBA
    for (std::size_t i = 18; i < tga.bytes.size(); i += 4) {
      want.insert(want.end(), {tga.bytes[i + 2], tga.bytes[i + 1], tga.bytes[i]});
      if (c.format != Fmt::kDxt1) want.push_back(tga.bytes[i + 3]);
    }
    const Png read = ReadPng(png.bytes);
    EXPECT_EQ(read.colour, c.format == Fmt::kDxt1 ? 2 : 6);
    EXPECT_TRUE(read.samples == want);
  }
}

}  // namespace
}  // namespace pelt::testing
