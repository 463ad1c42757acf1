// End-to-end runs of the pelt binary on archives and models built in a temporary directory:
// the command line, messages and exit status, matching, and the output rules. Damaged inputs are
// the malformed-input suite's; here are the rules of a run in the working directory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "testutil.h"

namespace pelt::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// One report line about `subject`, and nothing else on stderr.
void ExpectOneReport(const RunResult& r, const std::string& subject) {
  EXPECT_THAT(r.err, StartsWith("pelt: " + subject + ": ")) << r.err;
  EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
  EXPECT_TRUE(!r.err.empty() && r.err.back() == '\n') << r.err;
}

TEST(Run, TooFewArgumentsPrintTheUsageTextExactly) {
  RunScene s;
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
  RunScene s;
  WriteFile(s.archive(), MixBuilder().Add("a.tga", "x").Build());
  WriteFile(s.in() + "/empty.mix", Bytes{});
  const std::string none_mix = s.in() + "/none.mix", none_kzm = s.in() + "/none.kzm";
#ifdef _WIN32
  const std::string fifo = "NUL";  // a device
#else
  const std::string fifo = s.in() + "/fifo.mix";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
#endif
  struct Case {
    const char* what;
    std::string archive, model;
    const char* reason;  // nullptr: the reader's own words
  };
  const Case kCases[] = {
      {"archive and model missing: the archive is reported", none_mix, none_kzm,
       "No such file or directory"},
      {"archive is a directory", s.in(), none_kzm, "Is a directory"},
      {"archive is a FIFO: refused, not waited on", fifo, none_kzm, "not a regular file"},
      {"model missing", s.archive(), none_kzm, "No such file or directory"},
      {"archive empty: the model is not opened", s.in() + "/empty.mix", none_kzm, nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const RunResult r = RunPelt({c.archive, c.model}, s.work());
    const std::string& subject = c.archive == s.archive() ? c.model : c.archive;
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    if (c.reason != nullptr)
      EXPECT_EQ(r.err, "pelt: " + subject + ": " + c.reason + "\n");
    else
      ExpectOneReport(r, subject);
    EXPECT_THAT(s.Written(), IsEmpty());
  }
}

// An entry is extracted when its name holds ".tga" anywhere; it matches a model name that is the
// whole name up to ASCII case, and is written (once) under its lower-cased name.
TEST(Run, MatchingIsWholeNameIgnoringAsciiCase) {
  const std::string long_name = std::string(250, 'x') + ".tga";  // length byte 255 when stored
  struct Case {
    const char* what;
    std::string stored;
    Bytes model;
    std::string written;  // "": nothing written
  };
  const Case kCases[] = {
      {"case of entry and model differ", "Rock.TGA", ModelOf({"ROCK.tga"}), "rock.tga"},
      {".tga in the middle, cases differ", "A.TGA.BAK", ModelOf({"a.Tga.bak"}), "a.tga.bak"},
      {"the name is only .tga", ".TGA", ModelOf({".tga"}), ".tga"},
      {"bytes above 127 are not case-folded", "\xC4.TGA", ModelOf({"\xC4.tga"}), "\xC4.tga"},
      {"named several times, written once", "Rock.tga",
       ModelOf({"ROCK.TGA", "rock.tga", "Rock.Tga"}), "rock.tga"},
      {"254-character name", std::string(250, 'X') + ".TGA", ModelOf({long_name}), long_name},
      {"model name is a prefix", "rock.tga", ModelOf({"rock"}), ""},
      {"model name is longer", "rock.tga", ModelOf({"rock.tga "}), ""},
      {"no path processing", "rock.tga", ModelOf({"textures\\rock.tga"}), ""},
      {"no .tga in the name", "rock.tg", ModelOf({"rock.tg"}), ""},
      {"tga without the dot", "rocktga", ModelOf({"rocktga"}), ""},
      {"non-ASCII letters differ in case only in Latin-1", "\xC4.tga", ModelOf({"\xE4.tga"}), ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    RunScene s;
    const RunResult r = s.Run(MixBuilder().Add(c.stored, "pixels").Build(), c.model);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    if (c.written.empty()) {
      EXPECT_EQ(r.out, "");
      EXPECT_THAT(s.Written(), IsEmpty());
    } else {
      EXPECT_EQ(r.out, "now writing " + c.written + "\n");
      EXPECT_THAT(s.Written(), ElementsAre(c.written));
      EXPECT_EQ(s.Out(c.written), ToBytes("pixels"));
    }
  }
}

// An entry's offset and size must lie inside the archive; reading past its end is a fault, not
// padding. Such an entry is reported under its output name and skipped, an existing file of that
// name left as it was, and the others are still written.
TEST(Run, EntriesOutsideTheArchiveAreReportedAndSkipped) {
  auto archive = [](std::int32_t offset, std::int32_t size) {
    return MixBuilder()
        .Add("first.tga", "FIRST")
        .Add("Bad.TGA", "BAD!")
        .Add("last.tga", "LAST")
        .EntryOffset(1, offset)
        .EntrySize(1, size)
        .Build();
  };
  const Bytes plain = archive(21, 4);
  const auto end = static_cast<std::int32_t>(plain.size());
  struct Case {
    const char* what;
    std::int32_t offset, size;
    bool fits;
    Bytes want;  // when it fits
  };
  const Case kCases[] = {
      {"offset negative", -1, 4, false, {}},
      {"one byte past the end", end - 3, 4, false, {}},
      {"ends exactly at the end", end - 4, 4, true, Bytes(plain.end() - 4, plain.end())},
      {"empty, at the very end", end, 0, true, {}},
      {"overlaps another entry", 16, 7, true, ToBytes("FIRSTBA")},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    RunScene s;
    WriteFile(s.work() + "/bad.tga", "precious");
    const RunResult r =
        s.Run(archive(c.offset, c.size), ModelOf({"first.tga", "bad.tga", "last.tga"}));
    EXPECT_EQ(s.Out("first.tga"), ToBytes("FIRST"));
    EXPECT_EQ(s.Out("last.tga"), ToBytes("LAST"));
    EXPECT_THAT(s.Written(), ElementsAre("bad.tga", "first.tga", "last.tga"));
    if (c.fits) {
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.out, "now writing first.tga\nnow writing bad.tga\nnow writing last.tga\n");
      EXPECT_EQ(s.Out("bad.tga"), c.want);
    } else {
      EXPECT_EQ(r.exit_code, 2);
      ExpectOneReport(r, "bad.tga");
      EXPECT_EQ(r.out, "now writing first.tga\nnow writing last.tga\n");
      EXPECT_EQ(s.Out("bad.tga"), ToBytes("precious"));
    }
  }
}

// Only a plain file name is written: anything that could land outside the working directory is
// reported and skipped, even where the directory it names exists.
TEST(Run, NamesThatLeaveTheDirectoryAreNotWritten) {
  const Bytes dds = DdsBuilder(4, 4).Format(Fmt::kDxt1).Data(Bytes(8, 0)).Build();
  struct Case {
    std::string entry, wanted;
    Bytes data;
  };
  const Case kCases[] = {
      {"../x.tga", "../x.tga", ToBytes("evil")},
      {"a/b.tga", "a/b.tga", ToBytes("evil")},
      {"a\\b.tga", "a\\b.tga", ToBytes("evil")},
      {"a/B.DDS", "a/b.tga", dds},
#ifdef _WIN32  // names Windows would alter, or take for a stream or a device
      {"c:b.tga", "c:b.tga", ToBytes("evil")},
      {"b.tga.", "b.tga.", ToBytes("evil")},
      {"AUX.tga", "aux.tga", ToBytes("evil")},
      {"com1 .TGA.bak", "com1 .tga.bak", ToBytes("evil")},
#endif
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.entry);
    RunScene s;
    std::filesystem::create_directory(s.work() + "/a");  // so that a/b.tga could be created
    const RunResult r = s.Run(MixBuilder().Add(c.entry, c.data).Add("good.tga", "good").Build(),
                              ModelOf({c.wanted, "good.tga"}));
    EXPECT_EQ(r.exit_code, 2);
    ExpectOneReport(r, c.wanted);
    EXPECT_EQ(r.out, "now writing good.tga\n");
    EXPECT_THAT(s.Written(), ElementsAre("a", "good.tga"));
    EXPECT_THAT(s.Written("a"), IsEmpty());
    EXPECT_THAT(s.Everything(), ElementsAre("in", "work"));
  }
}

// A write that fails half way, for a copied and for a converted entry, leaves an existing file
// of its name as it was and no temporary file behind.
TEST(Run, FailedWriteLeavesExistingFileUntouched) {
#ifdef _WIN32
  GTEST_SKIP() << "no file size limit to fail a write with on Windows";
#endif
  std::mt19937 rng(7);
  Bytes big(256 * 1024);
  for (auto& b : big) b = static_cast<std::uint8_t>(rng());
  const Bytes big_dds =  // 1 MiB of pixels
      DdsBuilder(512, 512).Format(Fmt::kDxt1).Data(Bytes(BlocksFor(512, 512) * 8, 0)).Build();
  for (const auto& [entry, data] : {std::pair{"keep.tga", big}, std::pair{"KEEP.dds", big_dds}}) {
    SCOPED_TRACE(entry);
    RunScene s;
    WriteFile(s.work() + "/keep.tga", "precious");
    RunLimits limits;
    limits.file_size_bytes = 64 * 1024;
    const RunResult r = s.Run(MixBuilder().Add(entry, data).Add("small.tga", "s").Build(),
                              ModelOf({"keep.tga", "small.tga"}), limits);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, "pelt: keep.tga: File too large\n");
    EXPECT_EQ(r.out, "now writing keep.tga\nnow writing small.tga\n");
    EXPECT_EQ(s.Out("keep.tga"), ToBytes("precious"));
    EXPECT_EQ(s.Out("small.tga"), ToBytes("s"));
    EXPECT_THAT(s.Written(), ElementsAre("keep.tga", "small.tga"));
  }
}

TEST(Run, SymlinkOfTheOutputNameIsReplacedNotFollowed) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need a privilege on Windows";
#else
  RunScene s;
  const std::string target = s.root() + "/target", dangling = s.root() + "/nowhere";
  WriteFile(target, "target contents");
  ASSERT_EQ(::symlink(target.c_str(), (s.work() + "/rock.tga").c_str()), 0);
  ASSERT_EQ(::symlink(dangling.c_str(), (s.work() + "/dust.tga").c_str()), 0);
  const RunResult r = s.Run(MixBuilder().Add("rock.tga", "rock").Add("dust.tga", "dust").Build(),
                            ModelOf({"rock.tga", "dust.tga"}));
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
#endif
}

TEST(Run, OutputModeIsPlainCreateLessUmask) {
#ifdef _WIN32
  GTEST_SKIP() << "no umask or permission bits on Windows";
#else
  const std::pair<mode_t, mode_t> kCases[] = {{022, 0644}, {077, 0600}, {0, 0666}, {027, 0640}};
  for (const auto& [mask, want] : kCases) {
    SCOPED_TRACE(mask);
    RunScene s;
    const mode_t saved = ::umask(mask);  // the child inherits it
    const RunResult r = s.Run(MixBuilder().Add("rock.tga", "r").Build(), ModelOf({"rock.tga"}));
    ::umask(saved);
    EXPECT_EQ(r.exit_code, 0);
    struct stat st;
    ASSERT_EQ(::stat((s.work() + "/rock.tga").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, want);
  }
#endif
}

TEST(Run, NothingToExtractIsASilentSuccess) {
  const Bytes archive = MixBuilder().Add("a.tga", "a").Add("b.dds", "b").Build();
  for (const Bytes& model : {Bytes{}, ModelOf({"c.tga", "b.dds"})}) {
    RunScene s;
    const RunResult r = s.Run(archive, model);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_THAT(s.Written(), IsEmpty());
  }
}

// TGA entries are copied as they are, whatever their size or offset; an entry of size 0 gives
// an empty file (replacing one of its name) and its line.
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
                          .Add("empty.tga", Bytes{})
                          .Add("skipped.dat", random_bytes(4096))
                          .Add("small.TGA", small)
                          .Add("edges.tga", zeros_and_ff)
                          .Add("alias.tga", Bytes{})
                          .ExtraIndexRecords(2);
  layout.Build();
  layout.EntryOffset(6, static_cast<std::int32_t>(layout.entry_offset(4)))
      .EntrySize(6, static_cast<std::int32_t>(small.size()));  // alias.tga shares small's bytes
  RunScene s;
  WriteFile(s.work() + "/empty.tga", "old contents");
  const RunResult r =
      s.Run(layout.Build(),
            ModelOf({"big.tga", "small.tga", "edges.tga", "odd.tga", "alias.tga", "empty.tga"}));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "now writing odd.tga\nnow writing big.tga\nnow writing empty.tga\n"
            "now writing small.tga\nnow writing edges.tga\nnow writing alias.tga\n");
  EXPECT_EQ(s.Out("odd.tga"), Bytes{0x01});
  EXPECT_TRUE(s.Out("big.tga") == big) << "big.tga differs";
  EXPECT_EQ(s.Out("empty.tga"), Bytes{});
  EXPECT_EQ(s.Out("small.tga"), small);
  EXPECT_TRUE(s.Out("edges.tga") == zeros_and_ff) << "edges.tga differs";
  EXPECT_EQ(s.Out("alias.tga"), small);
  EXPECT_THAT(s.Written(), ElementsAre("alias.tga", "big.tga", "edges.tga", "empty.tga", "odd.tga",
                                       "small.tga"));
}

}  // namespace
}  // namespace pelt::testing
