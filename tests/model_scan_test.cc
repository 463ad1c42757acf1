#include "model_scan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "testutil.h"

namespace pelt {
namespace {

using ::pelt::testing::Bytes;
using ::pelt::testing::ModelBuilder;
using ::pelt::testing::ToBytes;
using ::testing::ElementsAreArray;

// Scans a copy of `bytes` held in a heap block of exactly their size, so that AddressSanitizer
// sees a read one byte past the end.
Result<ModelTextures> ScanExact(const Bytes& bytes) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size()]);
  if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
  return ScanTextureNames(SpanSource(std::span<const std::uint8_t>(copy.get(), bytes.size())));
}

TEST(ModelScan, FindsEveryTextureNameAtAnyDepth) {
  struct Case {
    const char* what;
    Bytes model;
    std::vector<std::string> names;
  };
  const Case kCases[] = {
      {"empty model", {}, {}},
      {"one empty container", ModelBuilder().Begin().End().Build(), {}},
      {"texture as the last chunk",
       ModelBuilder().Chunk(7, Bytes(10, 0x32)).Texture("a.tga").Build(),
       {"a.tga"}},
      {"a tail of 1 stray byte", ModelBuilder().Texture("a.tga").Raw({0x32}).Build(), {"a.tga"}},
      {"a tail of 7 stray bytes",
       ModelBuilder().Texture("a.tga").Raw({0x32, 0, 0, 0, 9, 0, 0}).Build(),
       {"a.tga"}},
      {"three containers deep",
       ModelBuilder()
           .Begin()
           .Chunk(3, Bytes(5, 1))
           .Begin(0x200)
           .Begin(0x300)
           .Texture("deep.tga")
           .End()
           .End()
           .Texture("mid.tga")
           .End()
           .Texture("top.tga")
           .Build(),
       {"deep.tga", "mid.tga", "top.tga"}},
      {"duplicates kept, in file order",
       ModelBuilder().Texture("a.tga").Texture("b.tga").Texture("a.tga").Texture("A.TGA").Build(),
       {"a.tga", "b.tga", "a.tga", "A.TGA"}},
      {"type 50 with size 0 is no name; the next chunk follows its header",
       ModelBuilder().Header(50, 0).Texture("b.tga").Build(),
       {"b.tga"}},
      {"type 50 with the top bit set is a container",
       ModelBuilder().Begin(50).Texture("in.tga").End().Build(),
       {"in.tga"}},
      {"type 50 with size word 0x80000000 is an empty container",
       ModelBuilder().Header(50, 0x80000000u).Texture("b.tga").Build(),
       {"b.tga"}},
      {"any negative size word is a container, never a huge payload",
       ModelBuilder().Header(7, 0xFFFFFFFFu).Texture("x.tga").Build(),
       {"x.tga"}},
      {"a non-texture chunk's payload is skipped, texture-like bytes and all",
       ModelBuilder()
           .Chunk(7, ModelBuilder().Texture("hidden.tga").Build())
           .Texture("seen.tga")
           .Build(),
       {"seen.tga"}},
      {"a large non-texture payload is skipped",
       ModelBuilder()
           .Chunk(9,
                  [] {
                    Bytes big;
                    for (int i = 0; i < 8192; ++i)  // about 112 KiB
                      testing::Append(&big, ModelBuilder().Texture("hidden.tga").Build());
                    return big;
                  }())
           .Texture("seen.tga")
           .Build(),
       {"seen.tga"}},
      {"case kept as stored", ModelBuilder().Texture("MiXeD.TgA").Build(), {"MiXeD.TgA"}},
      {"a name without a NUL is the whole payload",
       ModelBuilder().Chunk(50, ToBytes("abc.tga")).Build(),
       {"abc.tga"}},
      {"a name ends at its first NUL",
       ModelBuilder().Chunk(50, ToBytes(std::string("a.tga\0junk", 10))).Build(),
       {"a.tga"}},
      {"a payload that is only a NUL is an empty name",
       ModelBuilder().Chunk(50, Bytes{0}).Build(),
       {""}},
      {"other chunk cut short ends the walk silently",
       ModelBuilder()
           .Texture("a.tga")
           .Header(7, 100)
           .Raw(ModelBuilder().Texture("b.tga").Build())
           .Build(),
       {"a.tga"}},
      {"other chunk of size 0x7FFFFFFF ends the walk silently",
       ModelBuilder().Texture("a.tga").Header(7, 0x7FFFFFFF).Texture("b.tga").Build(),
       {"a.tga"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    auto scan = ScanExact(c.model);
    ASSERT_TRUE(scan.ok()) << scan.status().message();
    EXPECT_THAT(scan->texturenames, ElementsAreArray(c.names));
    EXPECT_FALSE(scan->name_cut_short);
  }
}

// A texture-name chunk that the end of the file cuts short is dropped and flagged with the offset
// of its header, so that the run can report it; the names before it stay.
TEST(ModelScan, TextureNameCutShortIsDroppedAndFlagged) {
  struct Case {
    const char* what;
    Bytes model;
    std::vector<std::string> names;
    std::uint64_t offset;
  };
  const Case kCases[] = {
      {"the only chunk, one byte short",
       ModelBuilder().Header(50, 6).Raw(ToBytes("a.tga")).Build(),
       {},
       0},
      {"header and no payload", ModelBuilder().Header(50, 1).Build(), {}, 0},
      // "a.tga\0" is 6 bytes: the second header starts at 8 + 6 = 14.
      {"after a good name",
       ModelBuilder().Texture("a.tga").Header(50, 30).Raw(ToBytes("b.tg")).Build(),
       {"a.tga"},
       14},
      // container header 8, chunk 7 with 3 bytes: 11 more, so the texture header is at 19.
      {"inside a container",
       ModelBuilder()
           .Begin()
           .Chunk(7, Bytes(3, 0))
           .Header(50, 9)
           .Raw(ToBytes("x.tga"))
           .End()
           .Build(),
       {},
       19},
      {"size 0x7FFFFFFF: flagged, never allocated",
       ModelBuilder().Texture("a.tga").Header(50, 0x7FFFFFFF).Raw(ToBytes("b.tga")).Build(),
       {"a.tga"},
       14},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    auto scan = ScanExact(c.model);
    ASSERT_TRUE(scan.ok()) << scan.status().message();
    EXPECT_THAT(scan->texturenames, ElementsAreArray(c.names));
    EXPECT_TRUE(scan->name_cut_short);
    EXPECT_EQ(scan->cut_short_offset, c.offset);
  }
}

TEST(ModelScan, EveryTruncationKeepsTheNamesBeforeIt) {
  // container(8) [ tex "a.tga"(8+6) other(8+5) ] tex "bb.tga"(8+7) other(8+0) tex "c"(8+2)
  // Texture headers at 8, 35 and 58; their payloads end at 22, 50 and 68.
  const Bytes full = ModelBuilder()
                         .Begin()
                         .Texture("a.tga")
                         .Chunk(7, Bytes(5, 0x32))
                         .End()
                         .Texture("bb.tga")
                         .Chunk(8, {})
                         .Texture("c")
                         .Build();
  ASSERT_EQ(full.size(), 68u);
  struct Texture {
    const char* name;
    std::size_t header, end;
  };
  const Texture kTextures[] = {{"a.tga", 8, 22}, {"bb.tga", 35, 50}, {"c", 58, 68}};
  for (std::size_t n = 0; n <= full.size(); ++n) {
    SCOPED_TRACE("length " + std::to_string(n));
    auto scan = ScanExact(Bytes(full.begin(), full.begin() + n));
    ASSERT_TRUE(scan.ok());
    std::vector<std::string> want;
    bool cut = false;
    std::uint64_t cut_at = 0;
    for (const Texture& t : kTextures) {
      if (n >= t.end) want.push_back(t.name);
      if (n >= t.header + 8 && n < t.end) cut = true, cut_at = t.header;
    }
    EXPECT_THAT(scan->texturenames, ElementsAreArray(want));
    EXPECT_EQ(scan->name_cut_short, cut);
    if (cut) {
      EXPECT_EQ(scan->cut_short_offset, cut_at);
    }
  }
}

TEST(ModelScan, CollectReportsTheSystemsReason) {
  testing::TempDir dir;
  auto missing = CollectTextureNames(dir / "none.kzm");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.status().code(), Code::kIoError);
  EXPECT_EQ(missing.status().message(), "No such file or directory");

  testing::WriteFile(dir / "m.kzm", ModelBuilder().Begin().Texture("Rock.tga").End().Build());
  auto names = CollectTextureNames(dir / "m.kzm");
  ASSERT_TRUE(names.ok()) << names.status().message();
  EXPECT_THAT(names->texturenames, ElementsAreArray({"Rock.tga"}));
}

}  // namespace
}  // namespace pelt
