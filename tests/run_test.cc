// End-to-end runs of the pelt binary on archives and models built in a temporary directory:
// the command line, messages and exit status, matching, and the TGA extraction with its output
// rules.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "testutil.h"

namespace pelt::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// Inputs in root/in, the run's working directory root/work: whatever lands outside work (or
// anywhere but in/ and work/ under root) was written where it must not be.
class Scene {
 public:
  Scene() {
    ::mkdir(in().c_str(), 0755);
    ::mkdir(work().c_str(), 0755);
  }
  std::string in() const { return root_ / "in"; }
  std::string work() const { return root_ / "work"; }
  std::string root() const { return root_.path(); }
  std::string archive() const { return in() + "/a.mix"; }
  std::string model() const { return in() + "/m.kzm"; }

  RunResult Run(const Bytes& archive, const Bytes& model, const RunLimits& limits = {}) const {
    WriteFile(this->archive(), archive);
    WriteFile(this->model(), model);
    return RunPelt({this->archive(), this->model()}, work(), limits);
  }
  // The files in the working directory.
  std::vector<std::string> Written() const { return root_.List("work"); }
  std::vector<std::string> Everything() const { return root_.List(); }
  std::optional<Bytes> Out(const std::string& name) const { return ReadFile(work() + "/" + name); }

 private:
  TempDir root_;
};

RunLimits ObeyingPermissions() {
  RunLimits l;
  l.obey_permissions = true;
  return l;
}

RunLimits FileSizeLimit(std::uint64_t bytes) {
  RunLimits l;
  l.file_size_bytes = bytes;
  return l;
}

// The names in a directory, sorted.
std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// One report line about `subject`, and nothing else on stderr.
void ExpectOneReport(const RunResult& r, const std::string& subject) {
  EXPECT_THAT(r.err, StartsWith("pelt: " + subject + ": ")) << r.err;
  EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
  EXPECT_TRUE(!r.err.empty() && r.err.back() == '\n') << r.err;
}

Bytes Model(std::initializer_list<std::string_view> names) {
  ModelBuilder m;
  for (std::string_view n : names) m.Texture(n);
  return m.Build();
}

TEST(Run, TooFewArgumentsPrintTheUsageTextExactly) {
  Scene s;
  WriteFile(s.archive(), MixBuilder().Add("a.tga", "x").Build());
  const std::vector<std::string> kCases[] = {{}, {"a.mix"}, {s.archive()}};
  for (const auto& args : kCases) {
    SCOPED_TRACE(args.size());
    const RunResult r = RunPelt(args, s.work());
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "");
    EXPECT_THAT(s.Written(), IsEmpty());
  }
}

// The archive is opened and checked first, the model only after it; either failing ends the run
// with one line on stderr, exit status 2 and nothing written.
TEST(Run, UnusableInputsAreFatal) {
  Scene s;
  const Bytes good_archive = MixBuilder().Add("a.tga", "x").Build();
  const Bytes good_model = Model({"a.tga"});
  WriteFile(s.archive(), good_archive);
  WriteFile(s.model(), good_model);
  WriteFile(s.in() + "/short.mix", Bytes(15, 0));
  WriteFile(s.in() + "/names.mix", MixBuilder().Add("a.tga", "x").IndexCount(0).Build());
  WriteFile(s.in() + "/locked.mix", good_archive);
  WriteFile(s.in() + "/locked.kzm", good_model);
  ::chmod((s.in() + "/locked.mix").c_str(), 0);
  ::chmod((s.in() + "/locked.kzm").c_str(), 0);
  const std::string missing_model = s.in() + "/none.kzm";
  struct Case {
    const char* what;
    std::string archive, model;
    std::string subject;
    const char* reason;  // nullptr: the reader's own words
  };
  const Case kCases[] = {
      {"archive missing", s.in() + "/none.mix", s.model(), s.in() + "/none.mix",
       "No such file or directory"},
      {"archive missing, model missing too: the archive is reported", s.in() + "/none.mix",
       missing_model, s.in() + "/none.mix", "No such file or directory"},
      {"archive is a directory", s.in(), s.model(), s.in(), "Is a directory"},
      {"archive unreadable", s.in() + "/locked.mix", s.model(), s.in() + "/locked.mix",
       "Permission denied"},
      {"model missing", s.archive(), missing_model, missing_model, "No such file or directory"},
      {"model unreadable", s.archive(), s.in() + "/locked.kzm", s.in() + "/locked.kzm",
       "Permission denied"},
      {"archive header short", s.in() + "/short.mix", s.model(), s.in() + "/short.mix", nullptr},
      {"archive damaged: the model is not opened", s.in() + "/short.mix", missing_model,
       s.in() + "/short.mix", nullptr},
      {"name count above index count", s.in() + "/names.mix", s.model(), s.in() + "/names.mix",
       nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const RunResult r = RunPelt({c.archive, c.model}, s.work(), ObeyingPermissions());
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    if (c.reason != nullptr)
      EXPECT_EQ(r.err, "pelt: " + c.subject + ": " + c.reason + "\n");
    else
      ExpectOneReport(r, c.subject);
    EXPECT_THAT(s.Written(), IsEmpty());
  }
}

TEST(Run, MatchingIsWholeNameIgnoringAsciiCase) {
  struct Case {
    const char* what;
    Bytes stored_name;  // as it lies in the name table
    Bytes model;
    const char* written;  // nullptr: nothing written
  };
  auto name = [](std::string_view n) {
    Bytes b = ToBytes(n);
    b.push_back(0);
    return b;
  };
  const Case kCases[] = {
      {"case of entry and model differ", name("Rock.TGA"), Model({"ROCK.tga"}), "rock.tga"},
      {"same case", name("rock.tga"), Model({"rock.tga"}), "rock.tga"},
      {".tga in the middle", name("a.tga.bak"), Model({"a.tga.bak"}), "a.tga.bak"},
      {".tga in the middle, cases differ", name("A.TGA.BAK"), Model({"a.Tga.bak"}), "a.tga.bak"},
      {".tga glued to more letters", name("x.TGAx"), Model({"x.tgaX"}), "x.tgax"},
      {"the name is only .tga", name(".TGA"), Model({".tga"}), ".tga"},
      {"bytes above 127 are not case-folded", name("\xC4.TGA"), Model({"\xC4.tga"}), "\xC4.tga"},
      {"archive name ends at its first NUL", ToBytes(std::string("rock.tga\0junk\0", 14)),
       Model({"rock.tga"}), "rock.tga"},
      {"model name without NUL", name("rock.tga"),
       ModelBuilder().Chunk(50, ToBytes("ROCK.TGA")).Build(), "rock.tga"},
      {"model name ends at its first NUL", name("rock.tga"),
       ModelBuilder().Chunk(50, ToBytes(std::string("rock.tga\0x.tga", 14))).Build(), "rock.tga"},
      {"model name is a prefix", name("rock.tga"), Model({"rock"}), nullptr},
      {"model name is longer", name("rock.tga"), Model({"rock.tga "}), nullptr},
      {"no path processing", name("rock.tga"), Model({"textures\\rock.tga"}), nullptr},
      {"no extension processing", name("rock.tga"), Model({"rock.TGA.tga"}), nullptr},
      {"no .tga in the name", name("rock.tg"), Model({"rock.tg"}), nullptr},
      {"tga without the dot", name("rocktga"), Model({"rocktga"}), nullptr},
      {"non-ASCII letters differ in case only in Latin-1", name("\xC4.tga"), Model({"\xE4.tga"}),
       nullptr},
      {"texture not in the archive", name("rock.tga"), Model({"grass.tga"}), nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Scene s;
    const RunResult r =
        s.Run(MixBuilder().AddRawName(c.stored_name, ToBytes("pixels")).Build(), c.model);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    if (c.written == nullptr) {
      EXPECT_EQ(r.out, "");
      EXPECT_THAT(s.Written(), IsEmpty());
    } else {
      EXPECT_EQ(r.out, std::string("now writing ") + c.written + "\n");
      EXPECT_THAT(s.Written(), ElementsAre(c.written));
      EXPECT_EQ(s.Out(c.written), ToBytes("pixels"));
    }
  }
}

TEST(Run, TextureNamedSeveralTimesIsWrittenOnce) {
  Scene s;
  const Bytes model = ModelBuilder()
                          .Texture("ROCK.TGA")
                          .Begin()
                          .Texture("rock.tga")
                          .Texture("Rock.Tga")
                          .End()
                          .Texture("rock.tga")
                          .Build();
  const RunResult r = s.Run(MixBuilder().Add("Rock.tga", "abc").Build(), model);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "now writing rock.tga\n");
  EXPECT_EQ(s.Out("rock.tga"), ToBytes("abc"));
}

TEST(Run, EmptyEntryGivesEmptyFileAndItsLine) {
  Scene s;
  WriteFile(s.work() + "/e.tga", "old contents");
  const RunResult r =
      s.Run(MixBuilder().Add("e.tga", "").Add("f.tga", "").Build(), Model({"e.tga", "f.tga"}));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "now writing e.tga\nnow writing f.tga\n");
  EXPECT_EQ(s.Out("e.tga"), Bytes{});
  EXPECT_EQ(s.Out("f.tga"), Bytes{});
  EXPECT_THAT(s.Written(), ElementsAre("e.tga", "f.tga"));
}

// An entry's offset and size must lie inside the archive; reading past its end is a fault, not
// padding. Such an entry is reported under its output name and skipped, and the others are still
// written.
TEST(Run, EntriesOutsideTheArchiveAreReportedAndSkipped) {
  auto archive = [](std::optional<std::int32_t> offset, std::optional<std::int32_t> size) {
    MixBuilder b;
    b.Add("first.tga", "FIRST").Add("Bad.TGA", "BAD!").Add("last.tga", "LAST");
    if (offset) b.EntryOffset(1, *offset);
    if (size) b.EntrySize(1, *size);
    return b.Build();
  };
  const Bytes plain = archive(std::nullopt, std::nullopt);
  const auto end = static_cast<std::int32_t>(plain.size());
  struct Case {
    const char* what;
    std::int32_t offset, size;
    bool fits;
    Bytes want;  // when it fits
  };
  const Case kCases[] = {
      {"offset negative", -1, 4, false, {}},
      {"offset most negative", INT32_MIN, 4, false, {}},
      {"size negative", 16, -1, false, {}},
      {"offset past the end", end + 1, 0, false, {}},
      {"one byte past the end", end - 3, 4, false, {}},
      {"offset + size wraps to negative in 32 bits", 16, INT32_MAX, false, {}},
      {"offset and size both near 2^31", INT32_MAX, INT32_MAX, false, {}},
      {"ends exactly at the end", end - 4, 4, true, Bytes(plain.end() - 4, plain.end())},
      {"empty, at the very end", end, 0, true, {}},
      {"overlaps another entry", 16, 7, true, ToBytes("FIRSTBA")},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Scene s;
    const RunResult r =
        s.Run(archive(c.offset, c.size), Model({"first.tga", "bad.tga", "last.tga"}));
    EXPECT_EQ(s.Out("first.tga"), ToBytes("FIRST"));
    EXPECT_EQ(s.Out("last.tga"), ToBytes("LAST"));
    if (c.fits) {
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.out, "now writing first.tga\nnow writing bad.tga\nnow writing last.tga\n");
      EXPECT_EQ(s.Out("bad.tga"), c.want);
    } else {
      EXPECT_EQ(r.exit_code, 2);
      ExpectOneReport(r, "bad.tga");
      EXPECT_EQ(r.out, "now writing first.tga\nnow writing last.tga\n");
      EXPECT_THAT(s.Written(), ElementsAre("first.tga", "last.tga"));
    }
  }
}

// Only a plain file name is written: anything that could land outside the working directory is
// reported and skipped.
TEST(Run, NamesThatLeaveTheDirectoryAreNotWritten) {
  // Output names are lower-cased, so an absolute name must point into a lower-case directory.
  const std::string outside = "/tmp/pelt-outside-" + std::to_string(::getpid());
  ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
  const std::string kNames[] = {"../x.tga",   "..\\x.tga", "a/b.tga",          "a\\b.tga",
                                "a/../x.tga", "./x.tga",   outside + "/x.tga", "/x.tga/"};
  for (const std::string& bad : kNames) {
    SCOPED_TRACE(bad);
    Scene s;
    ::mkdir((s.work() + "/a").c_str(), 0755);  // so that a/b.tga could be created
    const RunResult r = s.Run(MixBuilder().Add(bad, "evil").Add("good.tga", "good").Build(),
                              Model({bad, "good.tga"}));
    EXPECT_EQ(r.exit_code, 2);
    ExpectOneReport(r, bad);
    EXPECT_EQ(r.out, "now writing good.tga\n");
    EXPECT_THAT(s.Written(), ElementsAre("a", "good.tga"));
    EXPECT_THAT(s.Everything(), ElementsAre("in", "work"));
    EXPECT_THAT(ListDir(s.work() + "/a"), IsEmpty());
    EXPECT_THAT(ListDir(outside), IsEmpty());
  }
  ::rmdir(outside.c_str());
}

// A failing entry leaves an existing file of its name as it was, and no temporary file behind.
TEST(Run, FailedEntryLeavesExistingFileUntouched) {
  struct Case {
    const char* what;
    MixBuilder archive;
    RunLimits limits;
    bool announced;  // the failure came after the file was opened
    const char* reason;
  };
  std::mt19937 rng(7);
  Bytes big(256 * 1024);
  for (auto& b : big) b = static_cast<std::uint8_t>(rng());
  const Case kCases[] = {
      {"entry outside the archive",
       MixBuilder().Add("keep.tga", "new").EntrySize(0, 1 << 20).Add("small.tga", "s"),
       {},
       false,
       nullptr},
      {"write fails half way", MixBuilder().Add("keep.tga", big).Add("small.tga", "s"),
       FileSizeLimit(64 * 1024), true, "File too large"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Scene s;
    WriteFile(s.work() + "/keep.tga", "precious");
    const RunResult r = s.Run(c.archive.Build(), Model({"keep.tga", "small.tga"}), c.limits);
    EXPECT_EQ(r.exit_code, 2);
    if (c.reason != nullptr)
      EXPECT_EQ(r.err, std::string("pelt: keep.tga: ") + c.reason + "\n");
    else
      ExpectOneReport(r, "keep.tga");
    EXPECT_EQ(r.out,
              std::string(c.announced ? "now writing keep.tga\n" : "") + "now writing small.tga\n");
    EXPECT_EQ(s.Out("keep.tga"), ToBytes("precious"));
    EXPECT_EQ(s.Out("small.tga"), ToBytes("s"));
    EXPECT_THAT(s.Written(), ElementsAre("keep.tga", "small.tga"));
  }
}

TEST(Run, SymlinkOfTheOutputNameIsReplacedNotFollowed) {
  Scene s;
  const std::string target = s.root() + "/target";
  WriteFile(target, "target contents");
  ASSERT_EQ(::symlink(target.c_str(), (s.work() + "/rock.tga").c_str()), 0);
  const std::string dangling = s.root() + "/nowhere";
  ASSERT_EQ(::symlink(dangling.c_str(), (s.work() + "/dust.tga").c_str()), 0);

  const RunResult r = s.Run(MixBuilder().Add("rock.tga", "rock").Add("dust.tga", "dust").Build(),
                            Model({"rock.tga", "dust.tga"}));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  for (const char* name : {"rock.tga", "dust.tga"}) {
    struct stat st;
    ASSERT_EQ(::lstat((s.work() + "/" + name).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
  }
  EXPECT_EQ(s.Out("rock.tga"), ToBytes("rock"));
  EXPECT_EQ(s.Out("dust.tga"), ToBytes("dust"));
  EXPECT_EQ(ReadFile(target), ToBytes("target contents"));
  EXPECT_EQ(ReadFile(dangling), std::nullopt);
}

TEST(Run, OutputModeIsPlainCreateLessUmask) {
  struct Case {
    mode_t umask, want;
  };
  const Case kCases[] = {{022, 0644}, {077, 0600}, {0, 0666}, {027, 0640}, {002, 0664}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.umask);
    Scene s;
    const mode_t saved = ::umask(c.umask);  // the child inherits it
    const RunResult r = s.Run(MixBuilder().Add("rock.tga", "r").Build(), Model({"rock.tga"}));
    ::umask(saved);
    EXPECT_EQ(r.exit_code, 0);
    struct stat st;
    ASSERT_EQ(::stat((s.work() + "/rock.tga").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.want);
  }
}

TEST(Run, OutputNameOf254CharactersIsWritten) {
  Scene s;
  const std::string stored = std::string(250, 'X') + ".TGA";  // length byte 255
  const std::string name = std::string(250, 'x') + ".tga";
  const RunResult r = s.Run(MixBuilder().Add(stored, "long").Build(), Model({name}));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "now writing " + name + "\n");
  EXPECT_EQ(s.Out(name), ToBytes("long"));
  EXPECT_THAT(s.Written(), ElementsAre(name));
}

TEST(Run, UnwritableOutputDirectoryIsReported) {
  Scene s;
  WriteFile(s.archive(), MixBuilder().Add("a.tga", "a").Add("b.tga", "b").Build());
  WriteFile(s.model(), Model({"a.tga", "b.tga"}));
  ASSERT_EQ(::chmod(s.work().c_str(), 0555), 0);
  const RunResult r = RunPelt({s.archive(), s.model()}, s.work(), ObeyingPermissions());
  ::chmod(s.work().c_str(), 0755);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "pelt: a.tga: Permission denied\npelt: b.tga: Permission denied\n");
  EXPECT_THAT(s.Written(), IsEmpty());
}

TEST(Run, LaterEntryOfOneOutputNameWins) {
  Scene s;
  const RunResult r = s.Run(
      MixBuilder().Add("ROCK.TGA", "first").Add("other.tga", "o").Add("rock.tga", "second").Build(),
      Model({"rock.tga", "other.tga"}));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "now writing rock.tga\nnow writing other.tga\nnow writing rock.tga\n");
  EXPECT_EQ(s.Out("rock.tga"), ToBytes("second"));
  EXPECT_THAT(s.Written(), ElementsAre("other.tga", "rock.tga"));
}

TEST(Run, TextureNameCutShortIsReportedAndTheRunGoesOn) {
  Scene s;
  // "a.tga\0" ends at 14; the next texture-name chunk declares 30 bytes and has 4.
  const Bytes model = ModelBuilder().Texture("a.tga").Header(50, 30).Raw(ToBytes("b.tg")).Build();
  const RunResult r = s.Run(MixBuilder().Add("a.tga", "A").Add("b.tg", "B").Build(), model);
  EXPECT_EQ(r.exit_code, 2);
  ExpectOneReport(r, s.model());
  EXPECT_EQ(r.out, "now writing a.tga\n");
  EXPECT_EQ(s.Out("a.tga"), ToBytes("A"));
  EXPECT_THAT(s.Written(), ElementsAre("a.tga"));
}

TEST(Run, NothingToExtractIsASilentSuccess) {
  struct Case {
    const char* what;
    Bytes archive, model;
  };
  const Case kCases[] = {
      {"empty model", MixBuilder().Add("a.tga", "a").Build(), {}},
      {"model without texture names", MixBuilder().Add("a.tga", "a").Build(),
       ModelBuilder().Begin().Chunk(7, ToBytes("a.tga")).Header(50, 0).End().Build()},
      {"archive without entries", MixBuilder().Build(), Model({"a.tga"})},
      {"archive whose index records have no names", MixBuilder().ExtraIndexRecords(3).Build(),
       Model({"a.tga"})},
      {"no entry referred to", MixBuilder().Add("a.tga", "a").Add("b.dds", "b").Build(),
       Model({"c.tga", "b.dds"})},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Scene s;
    const RunResult r = s.Run(c.archive, c.model);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_THAT(s.Written(), IsEmpty());
  }
}

TEST(Run, TgaEntriesAreCopiedByteForByte) {
  std::mt19937 rng(2024);
  auto random_bytes = [&rng](std::size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
  };
  const Bytes big = random_bytes(3 * 1024 * 1024 + 17);  // several MiB, odd length
  const Bytes small = random_bytes(1001);
  Bytes zeros_and_ff(70000, 0);
  std::fill(zeros_and_ff.begin() + 30000, zeros_and_ff.end(), 0xFF);
  MixBuilder layout = MixBuilder()
                          .NamesBeforeIndex()
                          .Add("odd.tga", Bytes{0x01})  // puts every later entry at an odd offset
                          .Add("Big.tga", big)
                          .Add("skipped.dat", random_bytes(4096))
                          .Add("small.TGA", small)
                          .Add("edges.tga", zeros_and_ff)
                          .Add("alias.tga", Bytes{})
                          .ExtraIndexRecords(2);
  layout.Build();
  layout.EntryOffset(5, static_cast<std::int32_t>(layout.entry_offset(3)))
      .EntrySize(5, static_cast<std::int32_t>(small.size()));  // alias.tga shares small's bytes
  Scene s;
  const RunResult r =
      s.Run(layout.Build(), Model({"big.tga", "small.tga", "edges.tga", "odd.tga", "alias.tga"}));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "now writing odd.tga\nnow writing big.tga\nnow writing small.tga\n"
            "now writing edges.tga\nnow writing alias.tga\n");
  EXPECT_EQ(s.Out("odd.tga"), Bytes{0x01});
  EXPECT_TRUE(s.Out("big.tga") == big) << "big.tga differs";
  EXPECT_EQ(s.Out("small.tga"), small);
  EXPECT_TRUE(s.Out("edges.tga") == zeros_and_ff) << "edges.tga differs";
  EXPECT_EQ(s.Out("alias.tga"), small);
  EXPECT_THAT(s.Written(),
              ElementsAre("alias.tga", "big.tga", "edges.tga", "odd.tga", "small.tga"));
}

}  // namespace
}  // namespace pelt::testing
