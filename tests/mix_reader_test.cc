#include "mix_reader.h"

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
using ::pelt::testing::MixBuilder;
using ::pelt::testing::ToBytes;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

// Parses a copy of `bytes` held in a heap block of exactly their size, so that AddressSanitizer
// sees a read one byte past the end.
Result<MixDirectory> ParseExact(const Bytes& bytes) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size()]);
  if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
  return ParseMixDirectory(std::span<const std::uint8_t>(copy.get(), bytes.size()));
}

struct Record {
  std::int32_t offset, size;
};

TEST(MixReader, WellFormedDirectoriesLoadWhateverTheirLayout) {
  struct Case {
    const char* what;
    MixBuilder archive;
    std::vector<std::string> names;
    std::size_t index_records;
    std::vector<Record> records;  // the first records, as stored
  };
  const Case kCases[] = {
      {"name table before the index; case kept as stored",
       MixBuilder().NamesBeforeIndex().Add("Rock.TGA", "xyz").Add("b.dds", "pq"),
       {"Rock.TGA", "b.dds"},
       2,
       {{16, 3}, {19, 2}}},
      {"both counts 0", MixBuilder(), {}, 0, {}},
      {"five index records, three names: names pair with the first three",
       MixBuilder().Add("a", "1").Add("bb", "22").Add("ccc", "333").ExtraIndexRecords(2),
       {"a", "bb", "ccc"},
       5,
       {{16, 1}, {17, 2}, {19, 3}}},
      {"length byte 255 is 255 bytes",
       MixBuilder().Add(std::string(254, 'n'), "d").Add("next.tga", "e"),
       {std::string(254, 'n'), "next.tga"},
       2,
       {{16, 1}, {17, 1}}},
      {"a name ends at its first NUL; one that is only its NUL is empty",
       MixBuilder()
           .AddRawName(ToBytes(std::string("a.tga\0junk\0", 11)), ToBytes("q"))
           .AddRawName(Bytes{0}, ToBytes("r")),
       {"a.tga", ""},
       2,
       {{16, 1}, {17, 1}}},
      {"entry fields are kept even when they point nowhere",
       MixBuilder().Add("a.tga", "xyz").EntryOffset(0, -5).EntrySize(0, 0x7FFFFFFF),
       {"a.tga"},
       1,
       {{-5, 0x7FFFFFFF}}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    auto dir = ParseExact(c.archive.Build());
    ASSERT_TRUE(dir.ok()) << dir.status().message();
    EXPECT_THAT(dir->filenames, ElementsAreArray(c.names));
    ASSERT_EQ(dir->indexhead.size(), c.index_records);
    for (std::size_t i = 0; i < c.records.size(); ++i) {
      EXPECT_EQ(dir->indexhead[i].offset, c.records[i].offset) << "record " << i;
      EXPECT_EQ(dir->indexhead[i].size, c.records[i].size) << "record " << i;
    }
  }
}

TEST(MixReader, HeaderFieldsAndArchiveSizeAreKept) {
  const Bytes bytes = MixBuilder().Id(0x01020304).Zero(-7).Add("a.tga", "xyz").Build();
  auto dir = ParseExact(bytes);
  ASSERT_TRUE(dir.ok()) << dir.status().message();
  EXPECT_EQ(dir->mixhead.id, 0x01020304);
  EXPECT_EQ(dir->mixhead.zero, -7);
  // header 16 + data 3 = index at 19; count 4 + one record 12 = name table at 35
  EXPECT_EQ(dir->mixhead.index_offset, 19);
  EXPECT_EQ(dir->mixhead.tailer_offset, 35);
  // name table: count 4 + length byte 1 + "a.tga\0" 6 = 46 bytes in all
  EXPECT_EQ(dir->archive_size, 46u);
  EXPECT_EQ(bytes.size(), 46u);
}

// Damaged directories are refused with Corrupt and a reason that names what is wrong; nothing is
// allocated from a count before that count is checked against the file.
TEST(MixReader, DamagedDirectoriesAreCorrupt) {
  // One small archive to break: header | "xyz" | index at 19 | name table at 35 | end at 46.
  const MixBuilder base = MixBuilder().Add("a.tga", "xyz");
  const Bytes good = base.Build();
  auto with = [&good](std::size_t at, std::uint32_t v) {
    Bytes b = good;
    testing::Patch32(&b, at, v);
    return b;
  };
  auto first = [&good](std::size_t n) { return Bytes(good.begin(), good.begin() + n); };
  struct Case {
    const char* what;
    Bytes archive;
    const char* reason;  // a word of the reason
  };
  const Case kCases[] = {
      {"header of 15 bytes", first(15), "header"},
      {"index offset negative", with(4, 0xFFFFFFFF), "index offset"},
      {"index offset leaves 3 bytes for the count", with(4, 43), "index offset"},
      {"index offset far outside", with(4, 0x7FFFFFFF), "index offset"},
      {"name table offset negative", with(8, 0xFFFFFFF0), "name table offset"},
      {"name table offset leaves 3 bytes for the count", with(8, 43), "name table offset"},
      {"index count negative", with(19, 0xFFFFFFFF), "negative"},
      {"index count one more than the bytes hold",
       MixBuilder().NamesBeforeIndex().Add("a.tga", "xyz").IndexCount(2).Build(), "index count"},
      // 0x15555556 records of 12 bytes are 0x100000008 bytes: 8 when the product wraps in 32 bits.
      {"index count whose size wraps to 8 in 32 bits", with(19, 0x15555556), "index count"},
      {"name count negative", with(35, 0xFFFFFFFF), "negative"},
      {"name count above the index count", with(35, 2), "larger than the index count"},
      {"name count too large for the bytes that follow",
       MixBuilder().Add("a.tga", "xyz").ExtraIndexRecords(5).NameCount(4).Build(), "name count"},
      {"zero-length name after a good one",
       MixBuilder().Add("a.tga", "1").AddRawName({}, ToBytes("2")).Build(), "name 1 has length 0"},
      {"name without a NUL", MixBuilder().AddRawName(ToBytes("a.tga"), ToBytes("xyz")).Build(),
       "NUL"},
      {"length byte 255 without a NUL",
       MixBuilder().AddRawName(Bytes(255, 'n'), ToBytes("xyz")).Build(), "NUL"},
      {"name running past the end of the file", first(45), "cut short"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    auto dir = ParseExact(c.archive);
    ASSERT_FALSE(dir.ok());
    EXPECT_EQ(dir.status().code(), Code::kCorrupt);
    EXPECT_THAT(dir.status().message(), HasSubstr(c.reason));
  }
}

TEST(MixReader, EveryTruncationIsRejectedCleanly) {
  // The last byte of either layout belongs to the directory (the last NUL of the name table or
  // the last index record), so no shortened copy is a valid archive.
  const MixBuilder layouts[] = {
      MixBuilder().Add("a.dds", Bytes(40, 0x5A)).Add("Rock.TGA", "xy").Add("c", ""),
      MixBuilder().NamesBeforeIndex().Add("a.dds", Bytes(40, 0x5A)).Add("b.tga", "xy"),
  };
  for (const MixBuilder& layout : layouts) {
    const Bytes full = layout.Build();
    ASSERT_TRUE(ParseExact(full).ok());
    for (std::size_t n = 0; n < full.size(); ++n) {
      auto dir = ParseExact(Bytes(full.begin(), full.begin() + n));
      ASSERT_FALSE(dir.ok()) << "length " << n;
      EXPECT_EQ(dir.status().code(), Code::kCorrupt) << "length " << n;
    }
  }
}

}  // namespace
}  // namespace pelt
