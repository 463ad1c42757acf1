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

// The walk: containers are entered, size 0 and any size word with the top bit set consume
// nothing, other payloads are skipped whole, a texture name ends at its first NUL or its payload.
// Any other chunk cut short by the end of the file ends the walk silently.
TEST(ModelScan, WalkRules) {
  struct Case {
    const char* what;
    Bytes model;
    std::vector<std::string> names;
  };
  const Case kCases[] = {
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
      {"duplicates and case kept, in file order",
       ModelBuilder().Texture("a.tga").Texture("b.tga").Texture("a.tga").Texture("A.TGA").Build(),
       {"a.tga", "b.tga", "a.tga", "A.TGA"}},
      {"type 50 with size 0 is no name; the next chunk follows its header",
       ModelBuilder().Header(50, 0).Texture("b.tga").Build(),
       {"b.tga"}},
      {"type 50 with the top bit set is a container",
       ModelBuilder().Begin(50).Texture("in.tga").End().Build(),
       {"in.tga"}},
      {"any negative size word is a container, never a huge payload",
       ModelBuilder().Header(7, 0xFFFFFFFFu).Texture("x.tga").Build(),
       {"x.tga"}},
      {"a non-texture chunk's payload is skipped, texture-like bytes and all",
       ModelBuilder()
           .Chunk(7, ModelBuilder().Texture("hidden.tga").Build())
           .Texture("seen.tga")
           .Build(),
       {"seen.tga"}},
      {"a name without a NUL is the whole payload",
       ModelBuilder().Chunk(50, ToBytes("abc.tga")).Build(),
       {"abc.tga"}},
      {"a name ends at its first NUL",
       ModelBuilder().Chunk(50, ToBytes(std::string("a.tga\0junk", 10))).Build(),
       {"a.tga"}},
      {"other chunk cut short ends the walk silently",
       ModelBuilder()
           .Texture("a.tga")
           .Header(7, 100)
           .Raw(ModelBuilder().Texture("b.tga").Build())
           .Build(),
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

// A texture-name chunk cut short by the end of the file is dropped and flagged with the offset of
// its header (inside a container or after other names); the names before it stay.
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

}  // namespace
}  // namespace pelt
