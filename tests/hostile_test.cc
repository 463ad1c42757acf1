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
#include <functional>
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
using ::testing::UnorderedElementsAreArray;

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
Bytes GoodArchive() { return WithGood().Build(); }
Bytes GoodModel() { return NamingGood().Build(); }

// good.tga, a hostile entry `name` (its index record's offset or size replaced where not 0), and
// fine.dds (a 5 x 3 DXT1 surface, written as fine.tga) after it, so a refusal is seen not to stop
// the entries that follow.
Bytes ArchiveAround(std::string_view name, Bytes data, std::int32_t offset = 0,
                    std::int32_t size = 0) {
  MixBuilder b = WithGood().Add(name, std::move(data));
  if (offset != 0) b.EntryOffset(1, offset);
  if (size != 0) b.EntrySize(1, size);
  return b.Add("fine.dds", RandomDds(Fmt::kDxt1, 5, 3, &Rng())).Build();
}

Bytes Dxt1Blocks(std::size_t blocks) { return RandomBlocks(Fmt::kDxt1, blocks, &Rng()); }

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
  std::string fault;  // the test's name
  std::function<Bytes()> archive, model;
  int exit;
  std::string subject;               // what every stderr line names; "": stderr stays empty
  bool fatal;                        // nothing written; the output directory is not even created
  std::vector<std::string> written;  // the "now writing" lines, in order: the new files
  bool at_once = false;              // a tiny input that must fail (or pass) within a few seconds
};

// gtest prints a failing row by its fault, not as bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << c.fault; }

const std::vector<std::string> kGood = {"good.tga"};
const std::vector<std::string> kGoodAndFine = {"good.tga", "fine.tga"};

// A damaged archive directory: fatal, nothing written, the archive named.
Case Fatal(const char* fault, std::function<Bytes()> archive, bool at_once = false) {
  return {fault, std::move(archive), GoodModel, 2, kArchive, true, {}, at_once};
}
// A bad entry the model names as `named`: reported under that name (or `subject`), skipped, the
// others written.
Case Skipped(const char* fault, std::function<Bytes()> archive, bool at_once = false,
             const std::string& named = "bad.tga", std::string subject = "") {
  auto model = [=] { return NamingGood().Texture(named).Texture("fine.tga").Build(); };
  if (subject.empty()) subject = named;
  return {fault, std::move(archive), model, 2, subject, false, kGoodAndFine, at_once};
}
Case Escaping(const char* fault, const std::string& name, std::string subject = "") {
  return Skipped(
      fault, [=] { return ArchiveAround(name, ToBytes("x")); }, false, name, subject);
}
// A model run against the good archive.
Case Model(const char* fault, std::function<Bytes()> model, bool reported, bool at_once = false) {
  const char* subject = reported ? kModel : "";
  return {fault, GoodArchive, std::move(model), reported ? 2 : 0, subject, false, kGood, at_once};
}
Bytes EntryOutside(std::int32_t offset, std::int32_t size) {
  return ArchiveAround("bad.tga", ToBytes("x"), offset, size);
}
Bytes BadDds(const Bytes& dds) { return ArchiveAround("bad.dds", dds); }

using std::numeric_limits;
// clang-format off
const Case kCases[] = {
    Fatal("HeaderOneByteShort", [] { return Bytes(15, 0); }),
    Fatal("IndexOffsetPastTheEnd", [] { return WithGood().IndexOffset(1 << 20).Build(); }),
    Fatal("IndexOffsetNegative", [] { return WithGood().IndexOffset(-16).Build(); }),
    Fatal("NameTableOffsetAtInt32Max",
          [] { return WithGood().TailerOffset(numeric_limits<std::int32_t>::max()).Build(); }),
    Fatal("NameCountNegative", [] { return WithGood().NameCount(-1).Build(); }),
    Fatal("IndexCountOneMoreThanTheFileHolds",
          [] { return WithGood().NamesBeforeIndex().IndexCount(2).Build(); }),
    Fatal("NameTableCutShortByTheEndOfTheFile",
          [] { return WithGood().ExtraIndexRecords(1).NameCount(2).Build(); }),
    Fatal("NameCountAboveIndexCount", [] { return WithGood().NameCount(2).Build(); }),
    Fatal("ZeroLengthName", [] { return WithGood().AddRawName({}, ToBytes("x")).Build(); }),
    Fatal("NameWithoutNul",
          [] { return WithGood().AddRawName(ToBytes("bad.tga"), ToBytes("x")).Build(); }),
    Fatal("IndexCountInt32MaxInATinyFile",
          [] { return MixBuilder().IndexCount(0x7FFFFFFF).Build(); }, true),
    Fatal("IndexCountInt32MinInATinyFile",
          [] { return MixBuilder().IndexCount(numeric_limits<std::int32_t>::min()).Build(); }, true),
    // 12 x 0x15555556 wraps to 8 in 32 bits: room for it only by a multiplication that overflows.
    Fatal("IndexCountWhoseSizeWrapsIn32Bits",
          [] { return WithGood().IndexCount(0x15555556).Build(); }, true),
    Fatal("NameCountInt32MaxInATinyFile",
          [] { return MixBuilder().NameCount(0x7FFFFFFF).Build(); }, true),

    // Entries outside the archive: reported under the output name, skipped; the rest written.
    Skipped("EntryOffsetPastTheEnd", [] { return EntryOutside(1 << 20, 0); }),
    Skipped("EntrySizeNegative", [] { return EntryOutside(0, -1); }),
    Skipped("EntryOffsetPlusSizeOverflows32Bits",
            [] { return EntryOutside(0x7FFFFFF0, 0x7FFFFFF0); }, true),

    // DDS surfaces: every check passes before the file is created, so a refusal leaves nothing.
    Skipped("DdsDeclares65535x65535OverAFewBytes",
            [] { return BadDds(DdsBuilder(65535, 65535).Data(Dxt1Blocks(2)).Build()); }, true),
    Skipped("DdsSidesOf2To32Minus1",
            [] { return BadDds(DdsBuilder(0xFFFFFFFF, 0xFFFFFFFF).Build()); }, true),
    Skipped("DdsBlockDataOneByteShort",
            [] {
              Bytes blocks = RandomBlocks(Fmt::kDxt5, 6, &Rng());
              blocks.pop_back();
              return BadDds(DdsBuilder(8, 9).Format(Fmt::kDxt5).Data(blocks).Build());
            }),

    // Names that would leave the output directory: reported, written nowhere.
    Escaping("NameWithSlash", "sub/evil.tga"),
    Escaping("NameClimbingOneLevel", "../evil.tga"),
    Escaping("NameWithBackslash", "..\\evil.tga"),
    Escaping("AbsoluteName", kAbsoluteName),
    Escaping("NameWithANewline", "a\nb.tga", "a\\x0Ab.tga"),

    // Models: a texture name cut short is reported and the run goes on; anything else that is
    // cut short ends the walk in silence; depth and chunk count cost neither stack nor time.
    Model("TextureNameChunkCutShort",
          [] { return NamingGood().Header(50, 64).Raw(ToBytes("bad.tga")).Build(); }, true),
    Model("TextureNameChunkDeclaring2GiB",
          [] { return NamingGood().Header(50, 0x7FFFFFFF).Raw(ToBytes("bad.tga")).Build(); },
          true, true),
    Model("OtherChunkDeclaring2GiB",
          [] { return NamingGood().Header(7, 0x7FFFFFFF).Texture("unseen.tga").Build(); },
          false, true),
    Model("ContainersNested100000Deep", [] { return DeeplyNested(100000); }, false),
    Model("MillionTinyChunks", [] { return ManyChunks(1000000, false); }, false),
    Model("MillionTextureNameChunks", [] { return ManyChunks(1000000, true); }, false),
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

  const auto start = std::chrono::steady_clock::now();
  const RunResult r = RunPelt({"-o", "out", kArchive, kModel}, work, MemoryLimit());
  const auto elapsed = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(r.signal, 0) << "killed by a signal; stderr:\n" << r.err;
  EXPECT_EQ(r.exit_code, c.exit) << r.err;
  if (c.subject.empty()) {
    EXPECT_EQ(r.err, "");
  } else {
    const std::vector<std::string> lines = Lines(r.err);
    EXPECT_THAT(lines, ::testing::Not(IsEmpty()));
    const std::string prefix = "pelt: " + c.subject + ": ";
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
    EXPECT_THAT(root.List("a/b/work/out"), UnorderedElementsAreArray(c.written));
  }
  if (std::count(c.written.begin(), c.written.end(), "good.tga") != 0) {
    EXPECT_EQ(ReadFile(out + "/good.tga"), ToBytes(kGoodData));
  }
  if (std::count(c.written.begin(), c.written.end(), "fine.tga") != 0) {
    EXPECT_THAT(ReadFile(out + "/fine.tga").value_or(Bytes{}), SizeIs(18 + 4 * 5 * 3));
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
                           return info.param.fault;
                         });

}  // namespace
}  // namespace pelt::testing
