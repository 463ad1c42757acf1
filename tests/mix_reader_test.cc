#include "mix_reader.h"

#include <gtest/gtest.h>

#include "testutil.h"

namespace pelt::testing {
namespace {

// `bytes` is a heap block of their size: AddressSanitizer sees a read one byte past the end.
Result<MixDirectory> Parse(const Bytes& bytes) { return ParseMixDirectory(SpanSource(bytes)); }

// Names end at their first NUL, case kept, and pair with the first records; records as stored.
// Cut anywhere before the end of what is read of it, each is refused.
TEST(MixReader, ReadsRecordsAndNames) {
  const MixBuilder two =
      MixBuilder().AddRawName(ToBytes({"Rock.TGA\0x", 10}), ToBytes("xyz")).Add("b", "pq");
  const std::string n254(254, 'n');
  // clang-format off
  const std::tuple<Bytes, std::vector<std::string>, std::size_t> kCases[] = {
      {two.Build(), {"Rock.TGA", "b"}, 0},
      {MixBuilder(two).NamesBeforeIndex().Build(), {"Rock.TGA", "b"}, 0},
      {Patch32(two.Build(), 49, 1), {"Rock.TGA"}, 3},  // the name count, after 16 + 5 + 4 + 2 x 12
      {MixBuilder().Add(n254, "xyz").Add("b", "pq").Build(), {n254, "b"}, 0},  // length byte 255
  };
  // clang-format on
  for (const auto& [archive, names, unread] : kCases) {  // unread: bytes at the end never read
    for (std::size_t n = 0; n < archive.size() - unread; ++n)
      EXPECT_EQ(Parse(Bytes(archive.begin(), archive.begin() + n)).status().code(), Code::kCorrupt);
    auto dir = Parse(archive);
    ASSERT_TRUE(dir.ok()) << dir.status().message();
    EXPECT_EQ(dir->filenames, names);
    ASSERT_EQ(dir->indexhead.size(), 2u);
    EXPECT_EQ(std::pair(dir->indexhead[0].offset, dir->indexhead[0].size), std::pair(16, 3));
    EXPECT_EQ(std::pair(dir->indexhead[1].offset, dir->indexhead[1].size), std::pair(19, 2));
  }
}

TEST(MixReader, EveryDamageIsRefusedWithItsReason) {
  // header | "xyz" at 16 | index at 19: count, 1 record | name table at 35: count, 6 "a.tga\0"
  const Bytes good = MixBuilder().Add("a.tga", "xyz").Build();
  const Bytes three = MixBuilder().Add("a", "").Add("b", "").Add("c", "").Build();  // names at 56
  auto with = [&good](std::size_t at, std::uint32_t v) { return Patch32(good, at, v); };
  auto first = [](const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + n); };
  // clang-format off
  const std::pair<Bytes, std::string> kCases[] = {
      {first(good, 15), "header shorter than 16 bytes (file is 15 bytes)"},
      {with(4, -1), "index offset -1 lies outside the file (46 bytes)"},
      {with(4, 43), "index offset 43 lies outside the file (46 bytes)"},
      {with(8, 47), "name table offset 47 lies outside the file (46 bytes)"},
      {with(19, -1), "index count -1 is negative"},
      {with(19, 2), "index count 2 needs 24 bytes, but only 23 follow the index offset"},
      {with(19, 0x15555556),  // 12 times that is 8 in 32 bits
       "index count 357913942 needs 4294967304 bytes, but only 23 follow the index offset"},
      {with(35, -1), "name table count -1 is negative"},
      {with(35, 2), "name count 2 is larger than the index count 1"},
      {first(three, 65), "name count 3 is too large for the 5 bytes that follow the name table offset"},
      {first(three, 66), "name table is cut short by the end of the file at name 2"},
      {MixBuilder().Add("a.tga", "").AddRawName({}, {}).Build(), "name 1 has length 0"},
      {MixBuilder().AddRawName(ToBytes("a.tga"), {}).Build(), "name 0 holds no NUL in its 5 bytes"},
  };
  // clang-format on
  for (const auto& [archive, reason] : kCases) {
    auto dir = Parse(archive);
    ASSERT_FALSE(dir.ok()) << reason;
    EXPECT_EQ(dir.status().code(), Code::kCorrupt);
    EXPECT_EQ(dir.status().message(), reason);
  }
}

}  // namespace
}  // namespace pelt::testing
