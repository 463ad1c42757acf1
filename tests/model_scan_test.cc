#include "model_scan.h"

#include <gtest/gtest.h>

#include "testutil.h"

namespace pelt::testing {
namespace {

Result<ModelTextures> Scan(const Bytes& bytes) { return ScanTextureNames(SpanSource(bytes)); }

// Names in file order, case and repeats kept; containers entered, other payloads skipped whole.
// Cut anywhere, a model keeps the names before the cut.
TEST(ModelScan, Walk) {
  ModelBuilder deep;  // the walk is flat: 100000 containers deep cost no stack
  for (int i = 0; i < 100000; ++i) deep.Begin();
  struct Case {
    const char* what;
    Bytes model;
    std::vector<std::string> names;
    std::uint64_t cut_at = 0;  // the offset of a texture-name chunk cut short
  };
  // clang-format off
  const Case kCases[] = {
      {"nested containers", ModelBuilder().Begin().Chunk(3, Bytes(5)).Begin(50).Texture("in").End()
                                .Texture("B").End().Texture("c").Texture("B").Build(),
       {"in", "B", "c", "B"}},
      {"100000 containers deep", deep.Texture("x").Build(), {"x"}},
      {"size 0: no name", ModelBuilder().Header(50, 0).Texture("b").Build(), {"b"}},
      {"any size word with the top bit set", ModelBuilder().Header(7, ~0u).Texture("b").Build(), {"b"}},
      {"another chunk's payload", ModelBuilder().Chunk(7, ModelOf({"no"})).Texture("b").Build(), {"b"}},
      {"a name ends at its NUL", ModelBuilder().Chunk(50, ToBytes({"a\0b", 3})).Build(), {"a"}},
      {"a name without a NUL", ModelBuilder().Chunk(50, ToBytes("ab")).Build(), {"ab"}},
      {"another chunk cut short", ModelBuilder().Texture("a").Header(7, 20).Texture("b").Build(),
       {"a"}},
      {"a texture name cut short", ModelBuilder().Texture("a").Header(50, 20).Texture("b").Build(),
       {"a"}, 10},
  };
  // clang-format on
  for (const Case& c : kCases) {
    for (std::size_t n = 0; n < c.model.size() && n < 100; ++n) {  // the deep one: its start
      auto cut = Scan(Bytes(c.model.begin(), c.model.begin() + static_cast<std::ptrdiff_t>(n)));
      ASSERT_TRUE(cut.ok() && cut->texturenames.size() <= c.names.size()) << c.what << n;
      EXPECT_TRUE(std::equal(cut->texturenames.begin(), cut->texturenames.end(), c.names.begin()));
    }
    auto scan = Scan(c.model);
    ASSERT_TRUE(scan.ok()) << c.what;
    EXPECT_EQ(scan->texturenames, c.names) << c.what;
    EXPECT_EQ(scan->name_cut_short, c.cut_at != 0) << c.what;
    EXPECT_EQ(scan->cut_short_offset, c.cut_at) << c.what;
  }
}

}  // namespace
}  // namespace pelt::testing
