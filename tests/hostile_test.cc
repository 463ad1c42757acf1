// The malformed-input suite: archives and models that are damaged, or made to hurt, run through
// the built pelt binary. Each row gives the exact exit status, the subject every stderr line
// names, and what the output directory holds afterwards; every run happens under a 1 GiB
// address-space limit, so an allocation sized by an unchecked count fails the test instead of
// passing unnoticed on a machine with memory to spare.
//
// Next to each hostile entry the archive holds a good one that the model also names: whatever
// can be extracted safely still is, unless the damage is fatal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "testutil.h"

namespace pelt::testing {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::IsSubsetOf;
using ::testing::SizeIs;
using ::testing::StartsWith;

#if defined(__SANITIZE_ADDRESS__)
#define PELT_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PELT_UNDER_ASAN 1
#endif
#endif

// AddressSanitizer reserves terabytes of address space for its shadow memory, so a limit on the
// address space cannot be set under it; there the sanitizer's own allocation checks stand in.
RunLimits MemoryLimit() {
  RunLimits limits;
#if !defined(PELT_UNDER_ASAN)
  limits.address_space_bytes = std::uint64_t{1} << 30;
#endif
  return limits;
}

constexpr char kArchive[] = "archive.mix";
constexpr char kModel[] = "model.kzm";
constexpr char kGoodData[] = "the bytes of a good tga entry";
// A name that would land in the root directory if an absolute name were ever written.
constexpr char kAbsoluteName[] = "/pelt-hostile-absolute.tga";

std::mt19937& Rng() {
  static std::mt19937 rng(6);
  return rng;
}

// An archive holding good.tga, and a model naming it, to which each case adds its damage.
MixBuilder WithGood() { return MixBuilder().Add("good.tga", kGoodData); }
ModelBuilder NamingGood() { return ModelBuilder().Texture("good.tga"); }
Bytes GoodModel() { return NamingGood().Build(); }

// good.tga, a hostile entry `name`, and fine.dds (a 5 x 3 DXT1 surface, written as fine.tga)
// after it, so a refusal is seen not to stop the entries that follow.
Bytes ArchiveAround(std::string_view name, Bytes data) {
  return WithGood()
      .Add(name, std::move(data))
      .Add("fine.dds", RandomDds(Fmt::kDxt1, 5, 3, &Rng()))
      .Build();
}
Bytes ModelNaming(std::string_view texture) {
  return NamingGood().Texture(texture).Texture("fine.tga").Build();
}

Bytes Dxt1Blocks(std::size_t blocks) { return RandomBlocks(Fmt::kDxt1, blocks, &Rng()); }

// An archive whose header, index and names are all well-formed but whose `index_offset` points
// `back` bytes before the end of the file.
Bytes IndexOffsetNearEnd(std::uint32_t back) {
  const std::size_t size = WithGood().Build().size();
  return WithGood().IndexOffset(static_cast<std::int32_t>(size - back)).Build();
}

Bytes DeeplyNested(int depth) {
  ModelBuilder m;
  for (int i = 0; i < depth; ++i) m.Begin(0x0100 + i % 7);
  m.Texture("good.tga");
  for (int i = 0; i < depth; ++i) m.End();
  return m.Build();
}

Bytes ManyChunks(int count, bool texture_names) {
  ModelBuilder m;
  for (int i = 0; i < count; ++i) {
    if (texture_names)
      m.Texture("good.tga");
    else
      m.Chunk(7 + i % 3, Bytes{static_cast<std::uint8_t>(i)});
  }
  return m.Texture("good.tga").Build();
}

struct Case {
  const char* fault;  // the test's name
  Bytes (*archive)();
  Bytes (*model)();
  int exit;
  const char* subject;               // what every stderr line names; nullptr: stderr stays empty
  bool fatal;                        // nothing written; the output directory is not even created
  std::vector<std::string> written;  // the "now writing" lines, in order: the new files
  const char* existing = nullptr;    // a file in the output directory before the run
  bool at_once = false;              // a tiny input that must fail (or pass) within a few seconds
};

// gtest prints a failing row by its fault, not as bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << c.fault; }

const std::vector<std::string> kGood = {"good.tga"};
const std::vector<std::string> kGoodAndFine = {"good.tga", "fine.tga"};

// clang-format off
const Case kCases[] = {
    // The archive's directory: fatal, nothing written, the archive named.
    {"EmptyArchive", [] { return Bytes{}; }, GoodModel, 2, kArchive, true, {}},
    {"HeaderOneByteShort", [] { return Bytes(15, 0); }, GoodModel, 2, kArchive, true, {}},
    {"IndexOffsetPastTheEnd", [] { return WithGood().IndexOffset(1 << 20).Build(); },
     GoodModel, 2, kArchive, true, {}},
    {"IndexOffsetNegative", [] { return WithGood().IndexOffset(-16).Build(); },
     GoodModel, 2, kArchive, true, {}},
    {"IndexOffsetLeavesNoRoomForItsCount", [] { return IndexOffsetNearEnd(3); },
     GoodModel, 2, kArchive, true, {}},
    {"NameTableOffsetAtInt32Max",
     [] { return WithGood().TailerOffset(std::numeric_limits<std::int32_t>::max()).Build(); },
     GoodModel, 2, kArchive, true, {}},
    {"NameTableOffsetAtInt32Min",
     [] { return WithGood().TailerOffset(std::numeric_limits<std::int32_t>::min()).Build(); },
     GoodModel, 2, kArchive, true, {}},
    {"IndexCountNegative", [] { return WithGood().IndexCount(-1).Build(); },
     GoodModel, 2, kArchive, true, {}},
    {"NameCountNegative", [] { return WithGood().NameCount(-1).Build(); },
     GoodModel, 2, kArchive, true, {}},
    {"IndexCountOneMoreThanTheFileHolds",
     [] { return WithGood().NamesBeforeIndex().IndexCount(2).Build(); },
     GoodModel, 2, kArchive, true, {}},
    {"NameTableCutShortByTheEndOfTheFile",
     [] { return WithGood().ExtraIndexRecords(1).NameCount(2).Build(); },
     GoodModel, 2, kArchive, true, {}},
    {"NameCountAboveIndexCount", [] { return WithGood().NameCount(2).Build(); },
     GoodModel, 2, kArchive, true, {}},
    {"ZeroLengthName",
     [] { return WithGood().AddRawName({}, ToBytes("x")).Build(); },
     GoodModel, 2, kArchive, true, {}},
    {"NameWithoutNul",
     [] { return WithGood().AddRawName(ToBytes("bad.tga"), ToBytes("x")).Build(); },
     GoodModel, 2, kArchive, true, {}},
    {"IndexCountInt32MaxInATinyFile",
     [] { return MixBuilder().IndexCount(0x7FFFFFFF).Build(); },
     GoodModel, 2, kArchive, true, {}, nullptr, true},
    {"IndexCountInt32MinInATinyFile",
     [] { return MixBuilder().IndexCount(std::numeric_limits<std::int32_t>::min()).Build(); },
     GoodModel, 2, kArchive, true, {}, nullptr, true},
    // 12 x 0x15555556 wraps to 8 in 32 bits: room for it only by a multiplication that overflows.
    {"IndexCountWhoseSizeWrapsIn32Bits",
     [] { return WithGood().IndexCount(0x15555556).Build(); },
     GoodModel, 2, kArchive, true, {}, nullptr, true},
    {"NameCountInt32MaxInATinyFile",
     [] { return MixBuilder().NameCount(0x7FFFFFFF).Build(); },
     GoodModel, 2, kArchive, true, {}, nullptr, true},

    // Entries outside the archive: reported under the output name, skipped; the rest written.
    {"EntryOffsetPastTheEnd",
     [] { return WithGood().Add("bad.tga", "x").EntryOffset(1, 1 << 20).Build(); },
     [] { return NamingGood().Texture("bad.tga").Build(); }, 2, "bad.tga", false, kGood},
    {"EntrySizePastTheEnd",
     [] { return WithGood().Add("bad.tga", "x").EntrySize(1, 1 << 20).Build(); },
     [] { return NamingGood().Texture("bad.tga").Build(); }, 2, "bad.tga", false, kGood},
    {"EntryOffsetNegative",
     [] { return WithGood().Add("bad.tga", "x").EntryOffset(1, -1).Build(); },
     [] { return NamingGood().Texture("bad.tga").Build(); }, 2, "bad.tga", false, kGood},
    {"EntrySizeNegative",
     [] { return WithGood().Add("bad.tga", "x").EntrySize(1, -1).Build(); },
     [] { return NamingGood().Texture("bad.tga").Build(); }, 2, "bad.tga", false, kGood},
    {"EntryOffsetPlusSizeOverflows32Bits",
     [] {
       return WithGood().Add("bad.tga", "x").EntryOffset(1, 0x7FFFFFF0).EntrySize(1, 0x7FFFFFF0)
           .Build();
     },
     [] { return NamingGood().Texture("bad.tga").Build(); }, 2, "bad.tga", false, kGood,
     nullptr, true},
    {"DdsEntryPastTheEnd",
     [] {
       return WithGood().Add("bad.dds", RandomDds(Fmt::kDxt5, 8, 8, &Rng())).EntrySize(1, 1 << 24)
           .Build();
     },
     [] { return NamingGood().Texture("bad.tga").Build(); }, 2, "bad.tga", false, kGood},

    // DDS surfaces: every check passes before the file is created, so a refusal leaves nothing.
    {"DdsDeclares65535x65535OverAFewBytes",
     [] { return ArchiveAround("bad.dds", DdsBuilder(65535, 65535).Data(Dxt1Blocks(2)).Build()); },
     [] { return ModelNaming("bad.tga"); }, 2, "bad.tga", false, kGoodAndFine, nullptr, true},
    {"DdsDeclares65535x65535OverExistingFile",
     [] {
       return ArchiveAround("bad.dds",
                            DdsBuilder(65535, 65535).Format(Fmt::kDxt5).Data(Bytes(48, 0)).Build());
     },
     [] { return ModelNaming("bad.tga"); }, 2, "bad.tga", false, kGoodAndFine, "bad.tga", true},
    {"DdsWidthAboveWhatTgaHolds",
     [] { return ArchiveAround("bad.dds", DdsBuilder(65536, 4).Data(Dxt1Blocks(16385)).Build()); },
     [] { return ModelNaming("bad.tga"); }, 2, "bad.tga", false, kGoodAndFine},
    {"DdsSidesOf2To32Minus1",
     [] { return ArchiveAround("bad.dds", DdsBuilder(0xFFFFFFFF, 0xFFFFFFFF).Build()); },
     [] { return ModelNaming("bad.tga"); }, 2, "bad.tga", false, kGoodAndFine, nullptr, true},
    {"DdsHeightZero",
     [] { return ArchiveAround("bad.dds", DdsBuilder(4, 0).Data(Dxt1Blocks(1)).Build()); },
     [] { return ModelNaming("bad.tga"); }, 2, "bad.tga", false, kGoodAndFine},
    {"DdsBlockDataOneByteShort",
     [] {
       Bytes blocks = RandomBlocks(Fmt::kDxt5, 6, &Rng());
       blocks.pop_back();
       return ArchiveAround("bad.dds", DdsBuilder(8, 9).Format(Fmt::kDxt5).Data(blocks).Build());
     },
     [] { return ModelNaming("bad.tga"); }, 2, "bad.tga", false, kGoodAndFine},
    {"DdsBlockDataCutByTheEntrySize",
     [] {
       return WithGood()
           .Add("bad.dds", RandomDds(Fmt::kDxt3, 16, 16, &Rng()))
           .EntrySize(1, 128 + 100)
           .Add("fine.dds", RandomDds(Fmt::kDxt1, 5, 3, &Rng()))
           .Build();
     },
     [] { return ModelNaming("bad.tga"); }, 2, "bad.tga", false, kGoodAndFine},
    {"DdsEntryShorterThanItsHeader",
     [] {
       Bytes dds = DdsBuilder(4, 4).Data(Dxt1Blocks(1)).Build();
       dds.resize(127);
       return ArchiveAround("bad.dds", dds);
     },
     [] { return ModelNaming("bad.tga"); }, 2, "bad.tga", false, kGoodAndFine},
    {"DdsFourCCNotConverted",
     [] {
       return ArchiveAround("bad.dds", DdsBuilder(4, 4).FourCC("DXT2").Data(Bytes(16, 0)).Build());
     },
     [] { return ModelNaming("bad.tga"); }, 2, "bad.tga", false, kGoodAndFine},

    // Names that would leave the output directory: reported, written nowhere.
    {"NameWithSlash",
     [] { return ArchiveAround("sub/evil.tga", ToBytes("x")); },
     [] { return ModelNaming("sub/evil.tga"); }, 2, "sub/evil.tga", false, kGoodAndFine},
    {"NameClimbingOneLevel",
     [] { return ArchiveAround("../evil.tga", ToBytes("x")); },
     [] { return ModelNaming("../evil.tga"); }, 2, "../evil.tga", false, kGoodAndFine},
    {"NameClimbingThreeLevels",
     [] { return ArchiveAround("../../../evil.tga", ToBytes("x")); },
     [] { return ModelNaming("../../../evil.tga"); }, 2, "../../../evil.tga", false,
     kGoodAndFine},
    {"NameWithBackslash",
     [] { return ArchiveAround("..\\evil.tga", ToBytes("x")); },
     [] { return ModelNaming("..\\evil.tga"); }, 2, "..\\evil.tga", false, kGoodAndFine},
    {"AbsoluteName",
     [] { return ArchiveAround(kAbsoluteName, ToBytes("x")); },
     [] { return ModelNaming(kAbsoluteName); }, 2, kAbsoluteName, false, kGoodAndFine},
    {"DdsNameClimbingOneLevel",
     [] { return ArchiveAround("../evil.dds", RandomDds(Fmt::kDxt1, 4, 4, &Rng())); },
     [] { return ModelNaming("../evil.tga"); }, 2, "../evil.tga", false, kGoodAndFine},
    {"NameWithANewline",
     [] { return ArchiveAround("a\nb.tga", ToBytes("x")); },
     [] { return ModelNaming("a\nb.tga"); }, 2, "a\\x0Ab.tga", false, kGoodAndFine},

    // Models: a texture name cut short is reported and the run goes on; anything else that is
    // cut short ends the walk in silence; depth and chunk count cost neither stack nor time.
    {"TextureNameChunkCutShort",
     [] { return WithGood().Build(); },
     [] { return NamingGood().Header(50, 64).Raw(ToBytes("bad.tga")).Build(); },
     2, kModel, false, kGood},
    {"TextureNameChunkDeclaring2GiB",
     [] { return WithGood().Build(); },
     [] { return NamingGood().Header(50, 0x7FFFFFFF).Raw(ToBytes("bad.tga")).Build(); },
     2, kModel, false, kGood, nullptr, true},
    {"OtherChunkDeclaring2GiB",
     [] { return WithGood().Build(); },
     [] { return NamingGood().Header(7, 0x7FFFFFFF).Texture("unseen.tga").Build(); },
     0, nullptr, false, kGood, nullptr, true},
    {"ContainerWithEverySizeBitSet",
     [] { return WithGood().Build(); },
     [] { return ModelBuilder().Header(0x0100, 0xFFFFFFFF).Texture("good.tga").Build(); },
     0, nullptr, false, kGood, nullptr, true},
    {"TailShorterThanAChunkHeader",
     [] { return WithGood().Build(); },
     [] { return NamingGood().Raw({0x32, 0, 0, 0, 9, 0, 0}).Build(); },
     0, nullptr, false, kGood},
    {"ContainersNested100000Deep",
     [] { return WithGood().Build(); }, [] { return DeeplyNested(100000); },
     0, nullptr, false, kGood},
    {"MillionTinyChunks",
     [] { return WithGood().Build(); }, [] { return ManyChunks(1000000, false); },
     0, nullptr, false, kGood},
    {"MillionTextureNameChunks",
     [] { return WithGood().Build(); }, [] { return ManyChunks(1000000, true); },
     0, nullptr, false, kGood},
};
// clang-format on

class HostileInput : public ::testing::TestWithParam<Case> {};

TEST_P(HostileInput, FailsCleanlyUnderAMemoryLimit) {
  const Case& c = GetParam();
  // The run's working directory lies three levels down, so a name climbing out of the output
  // directory lands somewhere this test looks.
  TempDir root;
  const std::string work = root / "a/b/work";
  const std::string out = work + "/out";
  std::filesystem::create_directories(work);
  WriteFile(work + "/" + kArchive, c.archive());
  WriteFile(work + "/" + kModel, c.model());
  if (c.existing != nullptr) {
    std::filesystem::create_directories(out);
    WriteFile(out + "/" + c.existing, "an existing file");
  }

  const auto start = std::chrono::steady_clock::now();
  const RunResult r = RunPelt({"-o", "out", kArchive, kModel}, work, MemoryLimit());
  const auto elapsed = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(r.signal, 0) << "killed by a signal; stderr:\n" << r.err;
  EXPECT_EQ(r.exit_code, c.exit) << r.err;
  if (c.subject == nullptr) {
    EXPECT_EQ(r.err, "");
  } else {
    const std::vector<std::string> lines = Lines(r.err);
    EXPECT_THAT(lines, ::testing::Not(IsEmpty()));
    const std::string prefix = std::string("pelt: ") + c.subject + ": ";
    for (const std::string& line : lines) {
      EXPECT_THAT(line, StartsWith(prefix));
      EXPECT_GT(line.size(), prefix.size()) << "no reason given";
    }
  }

  std::string announced;
  for (const std::string& name : c.written) announced += "now writing " + name + "\n";
  EXPECT_EQ(r.out, announced);

  if (c.fatal) {
    EXPECT_FALSE(std::filesystem::exists(out)) << "a fatal error must come before any output";
  } else {
    std::vector<std::string> files = c.written;
    if (c.existing != nullptr) files.push_back(c.existing);
    std::sort(files.begin(), files.end());
    EXPECT_THAT(root.List("a/b/work/out"), ElementsAreArray(files));
  }
  if (std::count(c.written.begin(), c.written.end(), "good.tga") != 0) {
    EXPECT_EQ(ReadFile(out + "/good.tga"), ToBytes(kGoodData));
  }
  if (std::count(c.written.begin(), c.written.end(), "fine.tga") != 0) {
    EXPECT_THAT(ReadFile(out + "/fine.tga").value_or(Bytes{}), SizeIs(18 + 4 * 5 * 3));
  }
  if (c.existing != nullptr) {
    EXPECT_EQ(ReadFile(out + "/" + c.existing), ToBytes("an existing file"));
  }

  // Nothing escaped: each level holds only what the test put there.
  EXPECT_THAT(root.List(), ElementsAreArray({"a"}));
  EXPECT_THAT(root.List("a"), ElementsAreArray({"b"}));
  EXPECT_THAT(root.List("a/b"), ElementsAreArray({"work"}));
  EXPECT_THAT(root.List("a/b/work"), IsSubsetOf({"archive.mix", "model.kzm", "out"}));
  if (std::filesystem::exists(kAbsoluteName)) {
    ADD_FAILURE() << kAbsoluteName << " was written";
    std::filesystem::remove(kAbsoluteName);
  }

  if (c.at_once) {
    EXPECT_LT(elapsed, std::chrono::seconds(5)) << "a tiny input must be dealt with at once";
  }
}

INSTANTIATE_TEST_SUITE_P(Table, HostileInput, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.fault);
                         });

}  // namespace
}  // namespace pelt::testing
